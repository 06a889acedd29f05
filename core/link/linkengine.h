#pragma once

#include "app/consolestate.h"
#include "link/registerwrite.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

namespace qeln {

class Transport;
class TcpExchange;

// The decoders of the history, event-log and IP-settings responses. They run inside the
// dispatch, read ResponseText and update the console state before the dispatcher goes on
// (the dispatcher reads RecordTotal right after DecodeHistoryCount, for instance).
class ResponseDecoders {
public:
    virtual ~ResponseDecoders() = default;
    virtual void DecodeHistoryCount(ConsoleState &state) = 0;
    virtual void AdvanceHistoryRecord(ConsoleState &state) = 0;
    virtual void DecodeIpSettings(ConsoleState &state) = 0;
    // True when the decoder runs the history download itself: it checks each count and
    // record answer, sends the next request and repeats lost ones; the dispatcher then only
    // hands the answers over.
    virtual bool sequencesHistory() const { return false; }
};

// Why a complete serial frame was dropped before dispatch.
enum class FrameFault {
    BadLrc,         // its LRC does not match its pairs
    NotHexadecimal, // a pair is not two hexadecimal digits
};

enum class MessageKind {
    Information, // information icon and an OK button
    Plain,
    Warning, // something failed or was refused: warning icon and an OK button
};

// The link engine: request framing, reception and dispatch, the poll scheduler and the write
// queue, over a serial transport (Modbus ASCII) and a TCP transport (Modbus TCP). It keeps
// the console state and talks to the outside only through the transports and its signals.
class LinkEngine : public QObject {
    Q_OBJECT
public:
    explicit LinkEngine(ConsoleState &state, QObject *parent = nullptr);
    ~LinkEngine() override;

    ConsoleState &state() { return s_; }
    const ConsoleState &state() const { return s_; }

    // Transports are not owned. The TCP one is driven through a request/response exchange.
    void setSerialTransport(Transport *transport);
    void setTcpTransport(Transport *transport);
    Transport *serialTransport() const;
    Transport *tcpTransport() const;
    TcpExchange *tcpExchange() const { return exchange_; }
    void setDecoders(ResponseDecoders *decoders) { decoders_ = decoders; }
    ResponseDecoders *decoders() const { return decoders_; }

    QTimer *pollTimer() { return &timer1_; }     // Timer1: 1000 ms, disabled at start
    QTimer *reminderTimer() { return &timer6_; } // Timer6: 100 ms

    // A TCP request is on the wire or waits for its turn.
    bool tcpBusy() const;
    // Drops the TCP request in flight and those waiting (disconnect, link change).
    void abandonTcpRequests();

    // Request framing. SendFrame returns false when it refuses: a body that is not
    // hexadecimal, or on TCP a RequestState without a layout; nothing is sent then.
    bool SendFrame(const QByteArray &body);
    void SendCommand(const QByteArray &code);
    void SendReadRequest(const QByteArray &start, const QByteArray &count);
    void SendWriteRequest(int address, int value);
    void SendHistoryRequest(const QByteArray &unit, const QByteArray &code, int record);

    // Reception and dispatch.
    void ComPort11RxChar(const QByteArray &waiting);
    void ComPort11AfterRead(const QByteArray &bytes);
    bool CheckFrame();
    void DispatchSerialResponse();
    void AssembleTcpFrame(const QByteArray &bytes);
    void DispatchTcpResponse();
    void StatusDecode();

    // Poll scheduler and write queue.
    void Timer1Timer();
    void StartWriteSequence();
    void Timer6Timer();

    // Commits `writes` to the write queue in this order and starts the sequence: the last
    // entry goes first, each acknowledgement sends the one before it, " Setting Sucess!!"
    // follows the last. Returns false and sends nothing when the list is empty, longer than
    // the queue, names a register or value outside 0..65535, or a sequence is still running.
    bool startWrites(const QList<RegisterWrite> &writes);
    bool writeSequenceRunning() const { return writeSequence_.running; }
    // How long a serial write waits for its acknowledgement before the sequence fails.
    static constexpr int SerialAckTimeoutMs = 3000;

Q_SIGNALS:
    // A diagnostic console line (without the line break).
    void consoleLine(const QByteArray &line);
    // A message for the operator; the UI shows it without blocking the caller.
    void messageRequested(qeln::MessageKind kind, const QString &text);
    // A status response was accepted for decoding (menus come alive even if it stops early).
    void statusDecodeStarted();
    // All registers of a status response are in StatusRegisters.
    void statusDecoded();
    // The conversion stopped at a register that could not be read.
    void statusDecodeStopped(int registersConverted);
    // The bytes of a request as they were handed to a transport.
    void requestSent(const QByteArray &frame, bool tcp);
    // A TCP request got no (complete) answer: refused connection, read time-out, hang-up.
    void tcpRequestFailed(const QString &reason);
    // A complete serial frame was dropped: `length` is its size from ':' up to the LRC (what
    // ResponseText would have held), so a listener can tell which answer it spoilt.
    void serialFrameSpoilt(qeln::FrameFault fault, int length);
    // The controller answered the TCP request in flight with a Modbus exception (function |
    // 0x80) that no other handler takes (a write's refusal ends its sequence instead): a
    // status poll or a history count or record request. exceptionCode is -1 when the answer
    // carries none.
    void requestRefused(int function, int exceptionCode);
    // TCP link lamp: a request found the link up (lime) or down (grey).
    void tcpLinkUp();
    void tcpLinkDown();
    // The alarm-test reminder label is to be shown or hidden.
    void alarmTestReminderChanged(bool visible);
    // A write sequence ended: every write acknowledged (ok, message " Setting Sucess!!"), or
    // stopped by a refusal, a failed link or a missing acknowledgement (the message says
    // which register and why; it is also shown through messageRequested).
    void writeSequenceEnded(bool ok, const QString &message);
    // The controller acknowledged one write of a running sequence.
    void writeConfirmed(qeln::RegisterWrite write);

private:
    struct PendingTcp {
        QByteArray frame; // transaction bytes filled in when it goes out
        int function = 0;
        int responseLength = 0;
    };
    void enqueueTcp(const PendingTcp &request);
    // The TCP request in flight failed, or its answer was not its answer.
    void tcpRequestFailedInFlight(const QString &reason);
    void onSerialAckTimeout();
    // A Modbus exception answer (function | 0x80) to the write in flight ends its sequence.
    void writeRefused(int function, int exceptionCode);

    void onSerialBytes(const QByteArray &bytes);
    void onTcpCompleted(const QByteArray &response);
    void onTcpFailed(const QString &reason);
    void startNextTcp();
    void advanceTransaction();
    void writeAcknowledged(bool tcp);
    bool echoesOutstandingWrite(int address, int value);
    void show(MessageKind kind, const QString &text);
    void line(const QByteArray &text);

    ConsoleState &s_;
    QPointer<Transport> serial_;
    TcpExchange *exchange_;
    ResponseDecoders *decoders_ = nullptr;
    QQueue<PendingTcp> tcpQueue_;
    bool tcpInFlight_ = false;
    quint64 tcpSerial_ = 0; // counts the TCP requests handed to the exchange
    int tcpInFlightFunction_ = 0;
    bool *tcpAnswerTaken_ = nullptr; // set while a TCP answer is dispatched
    // The write request last sent and not yet acknowledged.
    struct {
        int address = 0;
        int value = 0;
        bool pending = false;
    } outstandingWrite_;
    bool ackMatched_ = false; // the acknowledgement being handled echoed the write in flight
    QTimer serialAckTimer_;
    // The write sequence the queue is running: started by StartWriteSequence, ended by the
    // last acknowledgement or a failure. Only a running sequence sends on acknowledgements.
    struct {
        bool running = false;
        int total = 0;
    } writeSequence_;
    void endWriteSequence(bool ok, const QString &message);
    QTimer timer1_;
    QTimer timer6_;
};

} // namespace qeln
