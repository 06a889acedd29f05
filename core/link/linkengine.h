#pragma once

#include "app/consolestate.h"
#include "link/answer.h"
#include "link/registerwrite.h"
#include "link/request.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace qeln {

class Transport;
class TcpExchange;

enum class MessageKind {
    Information, // information icon and an OK button
    Plain,
    Warning, // something failed or was refused: warning icon and an OK button
};

// The link engine of one controller: it polls the status block, runs the requests of the
// dialogs, downloads and the command line, and reports every answer and failure as a typed
// signal. It talks Modbus ASCII over a serial transport and Modbus TCP over a TCP transport
// (which one is in use follows the console state's LinkIsTcp), and keeps no state outside
// itself and the console state it was given: engines in one process share nothing.
//
// Polling: while the poll timer runs, a status read goes out every third tick (200 ms ticks
// on serial, 300 ms on TCP) unless polling is held. A dialog or a download holds it for as
// long as it needs the link and resumes it when it closes. On TCP never two requests are on
// the connection at once: the others wait in order.
class LinkEngine : public QObject {
    Q_OBJECT
public:
    explicit LinkEngine(ConsoleState &state, QObject *parent = nullptr);
    ~LinkEngine() override;

    ConsoleState &state() { return s_; }
    const ConsoleState &state() const { return s_; }
    LinkKind link() const { return s_.LinkIsTcp == 0 ? LinkKind::Serial : LinkKind::Tcp; }

    // ---- Links (not owned) ----
    void setSerialTransport(Transport *transport);
    void setTcpTransport(Transport *transport);
    Transport *serialTransport() const;
    Transport *tcpTransport() const;
    TcpExchange *tcpExchange() const { return exchange_; }
    // A TCP request is on the wire or waits for its turn.
    bool tcpBusy() const;
    // Drops the TCP request in flight and those waiting (disconnect, link change); a write
    // sequence in flight on TCP ends as failed.
    void abandonTcpRequests();
    // Closes and re-opens the TCP link (a fresh connection after its settings changed), once
    // a request still on its way has gone out and been answered (at most 3 s). The poll
    // timer stands still meanwhile and runs again afterwards if it ran before. Nothing on
    // serial.
    void relink();

    // ---- Polling ----
    // Starts the poll timer; a positive interval is the first tick's (the ticks then follow
    // the link's rhythm). The next tick polls.
    void startPolling(int firstTickMs = 0);
    void stopPolling();
    bool pollingRunning() const { return pollTimer_.isActive(); }
    // The poll timer's tick now (a status poll every third).
    int pollTickMs() const { return pollTimer_.interval(); }
    // No status poll goes out until resumePolling(); the requests below still do.
    void holdPolling();
    // Status polls again, the first on the next tick.
    void resumePolling();
    bool pollingHeld() const { return mode_ == PollMode::Held; }
    // The request that is due (a status poll, or the IP-block read asked for) goes out now
    // instead of on the next tick, unless polling is held or the TCP link is busy.
    void pollNow();

    // ---- Requests ----
    // Commits `writes` and starts the sequence: the last entry goes first, each
    // acknowledgement sends the one before it, " Setting Sucess!!" follows the last. Returns
    // false and sends nothing when the list is empty, longer than the queue, names a register
    // or value outside 0..65535, or a sequence is still running.
    // `source` names who asks (a dialog, a command) for whoever records the writes made.
    bool startWrites(const QList<RegisterWrite> &writes, const QString &source = {});
    bool writeSequenceRunning() const { return writeSequence_.running; }
    // Who started the running (or last) write sequence.
    const QString &writeSource() const { return writeSource_; }
    // The count, or one record, of a log: sent at once (serial) or in turn (TCP).
    void requestHistoryCount(LogKind log);
    void requestHistoryRecord(LogKind log, int record);
    // Erases a log. Holds polling; the acknowledgement is shown as a message.
    void initialiseHistory(LogKind log);
    // The IP-settings block is read on the next tick, then polling goes on.
    void requestIpBlock();
    // Sends a settings block. On TCP polling is held until resumed (the connection is
    // renewed with relink()); the write is never sent twice. False and nothing sent for an
    // empty block or one over MaxIpSettingsPayload bytes.
    bool writeIpBlock(const QByteArray &block);

    // How long a serial write waits for its acknowledgement before the sequence fails.
    static constexpr int SerialAckTimeoutMs = 3000;

Q_SIGNALS:
    // A diagnostic console line (without the line break).
    void consoleLine(const QByteArray &line);
    // A message for the operator; the UI shows it without blocking the caller.
    void messageRequested(qeln::MessageKind kind, const QString &text);
    // The bytes of a request as they were handed to a transport.
    void requestSent(const QByteArray &frame, bool tcp);
    // TCP link lamp: a request found the link up (lime) or down (grey).
    void tcpLinkUp();
    void tcpLinkDown();

    // A status answer of the expected size: the registers are in the state's StatusRegisters.
    void statusReceived();
    // The payload of a count or record answer (the bytes after the function code); the
    // receiver checks its size.
    void historyCountReceived(qeln::LogKind log, const QByteArray &payload);
    void historyRecordReceived(qeln::LogKind log, const QByteArray &payload);
    // The IP-settings block as read.
    void ipBlockReceived(const QByteArray &block);
    // The controller echoed one write of a running sequence.
    void writeAcknowledged(qeln::RegisterWrite write);
    // The controller refused the write in flight (the sequence ends).
    void writeRefused(qeln::RegisterWrite write, int exceptionCode);
    // A write sequence ended: every write acknowledged (ok, message " Setting Sucess!!"), or
    // stopped by a refusal, a failed link or a missing acknowledgement (the message says
    // which register and why; it is also shown through messageRequested).
    void writeSequenceEnded(bool ok, const QString &message);
    // A request got no usable answer: a spoilt serial frame, a TCP request that failed or
    // was answered by another, or an exception answer to anything but a write.
    void requestFailed(const qeln::RequestFailure &failure);

private:
    enum class PollMode {
        Polling,    // a status read every third tick
        IpReadNext, // the next due tick reads the IP block, then polling goes on
        Held,       // nothing from the scheduler
    };
    struct PendingTcp {
        Request request;
        quint64 serial = 0;
    };

    void send(const Request &request);
    void sendSerial(const Request &request);
    void enqueueTcp(const Request &request);
    void startNextTcp();
    void onTcpCompleted(const QByteArray &response);
    void onTcpFailed(const QString &reason);
    void failTcpInFlight(RequestFailure failure);
    quint16 nextTransaction();

    void onSerialBytes(const QByteArray &bytes);
    void assembleSerial(const QByteArray &bytes);
    void dispatch(const Answer &answer);
    void dispatchStatus(const Answer &answer);
    bool dispatchWriteAnswer(const Answer &answer);
    void fail(const RequestFailure &failure);

    void sendRegisterWrite(const RegisterWrite &write);
    void ackWrite(int address, int value);
    void refuseWrite(int exceptionCode);
    void onSerialAckTimeout();
    void endWriteSequence(bool ok, const QString &message);

    void onPollTick();
    void show(MessageKind kind, const QString &text);
    void line(const QByteArray &text);

    ConsoleState &s_;
    QPointer<Transport> serial_;
    TcpExchange *exchange_;

    // Scheduler
    PollMode mode_ = PollMode::Polling;
    bool pollDue_ = true;         // the next tick sends
    std::uint8_t countdown_ = 0;  // ticks until the next poll is due (wraps like a byte)
    QTimer pollTimer_;
    int lastHistoryRecord_ = 0;   // a TCP count request carries its low byte

    // Serial reception: ':' .. CR LF, the rest of that read dropped.
    enum class RxState { Idle, InFrame, AfterCr, AfterLf };
    RxState rxState_ = RxState::Idle;
    QByteArray rxFrame_;

    // TCP requests: one in flight, the others in order.
    QQueue<Request> tcpQueue_;
    bool tcpInFlight_ = false;
    Request tcpRequest_;          // the one in flight
    quint16 transaction_ = 0;     // advanced by every request on either link
    quint64 tcpSerial_ = 0;       // counts the TCP requests handed to the exchange
    bool relinking_ = false;

    // The write queue: entries sent from the last to the first, each on the
    // acknowledgement of the one before.
    QList<RegisterWrite> writes_;
    QString writeSource_;
    int writeCount_ = 0;          // entries not yet sent, +1 while filling
    struct {
        RegisterWrite write;
        bool pending = false;
    } outstandingWrite_;          // the write request last sent and not yet acknowledged
    struct {
        bool running = false;
        int total = 0;
    } writeSequence_;
    QTimer serialAckTimer_;
};

} // namespace qeln
