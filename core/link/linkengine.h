#pragma once

#include "answer.h"
#include "registerwrite.h"
#include "request.h"
#include "statusblock.h"
#include "transport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>

namespace qeln {

class Transport;
class TcpExchange;

enum class MessageKind {
    Information, // information icon and an OK button
    Plain,
    Warning, // something failed or was refused: warning icon and an OK button
};

// A request submitted to the engine: its answer or failure comes back under this number.
// 0 is no request.
using Ticket = quint64;

// Why polling is held. Each is a state of the scheduler, which the console line
// "RectMode >> " shows on the first tick of the hold (schedulerState()).
enum class HoldReason : std::uint8_t {
    Dialog,                // a configuration dialog is open
    ClockDialog,           // the clock dialog: the poll timer stops as well
    IpSettings,            // the IP settings write on TCP
    HistoryDownload,       // a log is being downloaded
    HistoryInitialisation, // a log is being erased
};
int schedulerState(HoldReason reason);

// The link engine of one controller: it polls the status block, runs the requests of the
// dialogs, downloads and the command line, and reports every answer and failure as a typed
// signal. It talks Modbus ASCII over a serial transport and Modbus TCP over a TCP transport
// (which one is in use is the engine's link, set with setLink()), and keeps no state outside
// itself and the status block it was given: engines in one process share nothing.
//
// Polling: while the poll timer runs, a status read goes out every third tick (200 ms ticks
// on serial, 300 ms on TCP) unless polling is held. Holds are counted: a dialog or a download
// takes one for as long as it needs the link (PollHold), and polling goes on when the last
// one ends. On TCP never two requests are on the connection at once: the others wait in
// order.
//
// Requests: submit() sends a request and returns its ticket; exactly one of answered() and
// failed() follows for it (the time-out, a closed link and a spoilt or refused answer
// included), on serial as on TCP. On serial, where answers carry no number, the engine
// matches them to requests in order; a request given up keeps its place until its late
// answer came or as long again as its time-out, so that answer never reaches a later request
// (another request for the same kind of answer waits meanwhile; the same request asked again
// takes the first answer that comes).
class LinkEngine : public QObject {
    Q_OBJECT
public:
    explicit LinkEngine(StatusBlock &block, QObject *parent = nullptr);
    ~LinkEngine() override;

    StatusBlock &statusBlock() { return s_; }
    const StatusBlock &statusBlock() const { return s_; }

    // ---- Links (transports not owned) ----
    // The link the requests go to. A change drops what is in flight on the link left.
    void setLink(LinkKind kind);
    LinkKind link() const { return link_; }
    void setSerialTransport(Transport *transport);
    void setTcpTransport(Transport *transport);
    Transport *serialTransport() const;
    Transport *tcpTransport() const;
    // The serial port is in use from its opened() until releaseSerial(), a failed open or its
    // loss. Released, the port stays open until the next character arrives, which closes it.
    bool serialInUse() const { return serialInUse_ && serial_ && serial_->isOpen(); }
    void releaseSerial();
    // How long a TCP request waits for its whole answer, and a submitted request whose
    // time-out is not positive on either link (default 1000 ms).
    void setReadTimeout(int ms);
    int readTimeout() const { return readTimeoutMs_; }
    // A TCP request is on the wire or waits for its turn.
    bool tcpBusy() const;
    // Drops the TCP request in flight and those waiting (disconnect, link change): their
    // tickets fail as LinkLost; a write sequence in flight on TCP ends as failed.
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
    // A counted hold: no status poll goes out while one is held; submitted requests still
    // do. When the last hold is released the next tick polls. Prefer PollHold.
    void hold(HoldReason reason = HoldReason::Dialog);
    // Ends one hold taken for `reason` (in any order).
    void release(HoldReason reason = HoldReason::Dialog);
    int holdCount() const { return int(holds_.size()); }
    bool pollingHeld() const { return !holds_.isEmpty(); }
    // The request that is due (a status poll, or the IP-block read asked for) goes out now
    // instead of on the next tick, unless polling is held or the TCP link is busy.
    void pollNow();

    // ---- Requests ----
    // Sends `request` on the engine's link (on TCP in turn) and returns its ticket; its
    // answer or failure arrives as answered() or failed(), never before submit() returns.
    // The time-out counts from when the request goes out; 0 or less takes readTimeout().
    // A status read answered whole also fills the status block (statusReceived()).
    Ticket submit(const Request &request, int timeoutMs = 0);
    // Forgets a ticket: no signal comes for it any more (its answer, if any, is dropped).
    void cancel(Ticket ticket);
    // Commits `writes` and starts the sequence: the last entry goes first, each
    // acknowledgement sends the one before it, " Setting Sucess!!" follows the last. Returns
    // false and sends nothing when the list is empty, longer than the queue, names a register
    // or value outside 0..65535, or a sequence is still running.
    // `source` names who asks (a dialog, a command) for whoever records the writes made.
    bool startWrites(const QList<RegisterWrite> &writes, const QString &source = {});
    bool writeSequenceRunning() const { return writeSequence_.running; }
    // Who started the running (or last) write sequence.
    const QString &writeSource() const { return writeSource_; }
    // The count, or one record, of a log: tickets as for submit().
    Ticket requestHistoryCount(LogKind log, int timeoutMs = 0);
    Ticket requestHistoryRecord(LogKind log, int record, int timeoutMs = 0);
    // Erases a log. Holds polling (released with the answer or the failure); the
    // acknowledgement is shown as a message.
    Ticket initialiseHistory(LogKind log, int timeoutMs = 0);
    // The IP-settings block is read on the next due tick (held or not), then polling goes on;
    // the ticket's time-out counts from then. A read asked for again before it went out keeps
    // its ticket. It ends the hold of a settings write (the read that checks the write).
    Ticket requestIpBlock(int timeoutMs = 0);
    // The same read in the place of a status poll: it goes on the next poll that is due and
    // not held, so it never meets a dialog's hold, a write or another answer on the line; it
    // touches neither the receiver nor a settings write's hold. A read asked for with
    // requestIpBlock() before it went out takes it over (same ticket, sent at once).
    Ticket requestIpBlockInPollSlot(int timeoutMs = 0);
    // Sends a settings block. On TCP polling is held (HoldReason::IpSettings) until
    // releaseIpWriteHold() (the connection is renewed with relink()); the write is never sent
    // twice. No ticket (0) and nothing sent for an empty block or one over
    // MaxIpSettingsPayload bytes. Its answer is not interpreted: on TCP the ticket is
    // answered by the bare header, on serial it fails as timed out when nothing comes.
    Ticket writeIpBlock(const QByteArray &block, int timeoutMs = 0);
    void releaseIpWriteHold();

    // How long a serial write waits for its acknowledgement before the sequence fails.
    static constexpr int SerialAckTimeoutMs = 3000;
    static constexpr int DefaultReadTimeoutMs = 1000;

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

    // A status answer of the expected size: the registers are in the status block.
    void statusReceived();
    // The answer to a submitted request, already checked against it.
    void answered(qeln::Ticket ticket, const qeln::Answer &answer);
    // A submitted request got no usable answer: a time-out, a lost link, a refusal, a spoilt
    // answer.
    void failed(qeln::Ticket ticket, const qeln::RequestFailure &failure);
    // The controller echoed one write of a running sequence.
    void writeAcknowledged(qeln::RegisterWrite write);
    // The controller refused the write in flight (the sequence ends).
    void writeRefused(qeln::RegisterWrite write, int exceptionCode);
    // A write sequence ended: every write acknowledged (ok, message " Setting Sucess!!"), or
    // stopped by a refusal, a failed link or a missing acknowledgement (the message says
    // which register and why; it is also shown through messageRequested).
    void writeSequenceEnded(bool ok, const QString &message);
    // On serial: the late answer (usable or not) of a request given up came after all. When
    // the same request was asked again, the first answer went to that one and was this one's,
    // `roundTripMs` after it went out: the controller's time, for whoever learns waits from it.
    void answeredLate(qeln::Ticket ticket, qint64 roundTripMs);
    // Any request (the polls included) got no usable answer, or a spoilt frame came that no
    // request claims: for the diagnostics of the command line and the fleet's counts.
    void requestFailed(const qeln::RequestFailure &failure);

private:
    enum class PollMode {
        Polling,    // a status read every third tick
        IpReadNext, // the next due tick reads the IP block, then polling goes on
    };
    // What a request on the wire is for: the scheduler, the write queue, or a ticket.
    struct Outgoing {
        Request request;
        Ticket ticket = 0;
        int timeoutMs = 0;
    };
    // A serial request waiting for its answer, or given up and waiting for its late answer.
    struct SerialPending {
        Outgoing out;
        Function answer;       // the function code its answer carries
        QDeadlineTimer deadline;
        bool givenUp = false;  // failed as timed out; kept only to catch its late answer
        QElapsedTimer sent;
        qint64 twinAnsweredMs = -1; // when the same request asked again took an answer
    };
    SerialPending pending(const Outgoing &out) const;

    void sendNow(const Outgoing &out);
    void send(const Outgoing &out);
    void sendSerial(const Outgoing &out);
    // Writes the frame and, for a ticket, waits for its answer (or reports why not).
    void writeSerial(const Outgoing &out);
    void enqueueTcp(const Outgoing &out);
    void startNextTcp();
    void onTcpCompleted(const QByteArray &response);
    void onTcpFailed(const QString &reason);
    void failTcpInFlight(RequestFailure failure);
    quint16 nextTransaction();
    int effectiveTimeout(int timeoutMs) const;

    void onSerialBytes(const QByteArray &bytes);
    void assembleSerial(const QByteArray &bytes);
    void takeSerialAnswer(const Answer &answer);
    void takeSpoiltSerialFrame(const RequestFailure &failure);
    // Removes and returns the request that takes an answer found for entry `first` (nothing
    // when a request given up absorbs it as its late answer).
    std::optional<SerialPending> claimSerialAnswer(qsizetype first);
    bool serialMustWait(const Outgoing &out) const;
    void pumpSerialQueue();
    void onSerialDeadline();
    void armSerialDeadline();
    void failAllSerial(const QString &reason);
    void dispatch(const Answer &answer, const Outgoing *to);
    bool dispatchStatus(const Answer &answer, bool asked);
    bool dispatchWriteAnswer(const Answer &answer);
    void fail(const RequestFailure &failure, Ticket ticket = 0);
    void finishTicket(Ticket ticket, const Answer &answer);
    void failTicket(Ticket ticket, RequestFailure failure);
    void releaseHoldOf(Ticket ticket);

    void sendRegisterWrite(const RegisterWrite &write);
    void ackWrite(int address, int value);
    void refuseWrite(int exceptionCode);
    void onSerialAckTimeout();
    void endWriteSequence(bool ok, const QString &message);

    void onPollTick();
    void show(MessageKind kind, const QString &text);
    void line(const QByteArray &text);

    StatusBlock &s_;
    LinkKind link_ = LinkKind::Serial;
    bool serialInUse_ = false;
    int readTimeoutMs_ = DefaultReadTimeoutMs;
    QPointer<Transport> serial_;
    TcpExchange *exchange_;

    // Scheduler
    PollMode mode_ = PollMode::Polling;
    QList<HoldReason> holds_;     // in the order taken
    bool timerStoppedByHold_ = false; // the clock dialog's hold stopped a running poll timer
    bool pollDue_ = true;         // the next tick sends (or, held, writes its line)
    std::uint8_t countdown_ = 0;  // ticks until the next poll is due (wraps like a byte)
    QTimer pollTimer_;
    int lastHistoryRecord_ = 0;   // a TCP count request carries its low byte
    Ticket ipReadTicket_ = 0;     // the IP-block read the next due tick sends
    bool ipReadInPollSlot_ = false; // ... only in a poll's place: not while polling is held
    int ipReadTimeoutMs_ = 0;
    bool ipWriteHeld_ = false;    // a TCP IP-settings write holds polling
    QList<Ticket> initialisationHolds_; // initialisations holding polling until they end

    // Tickets
    Ticket lastTicket_ = 0;
    int submitting_ = 0;          // inside sendNow(): outcomes wait for the event loop

    // Serial reception: ':' .. CR LF, the rest of that read dropped.
    enum class RxState { Idle, InFrame, AfterCr, AfterLf };
    RxState rxState_ = RxState::Idle;
    QByteArray rxFrame_;
    QList<SerialPending> serialPending_; // in the order sent
    QQueue<Outgoing> serialQueue_;       // waiting for a given-up request's late answer
    QTimer serialDeadline_;

    // TCP requests: one in flight, the others in order.
    QQueue<Outgoing> tcpQueue_;
    bool tcpInFlight_ = false;
    Outgoing tcpRequest_;         // the one in flight
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
    // Writes of this connection whose sequence already failed: an acknowledgement of one
    // says it was written after all.
    QList<RegisterWrite> failedWrites_;
    QTimer serialAckTimer_;
};

// A hold on an engine's status poll for as long as it lives (a dialog, a download).
class PollHold {
public:
    PollHold() = default;
    explicit PollHold(LinkEngine &engine, HoldReason reason = HoldReason::Dialog) { take(engine, reason); }
    ~PollHold() { reset(); }
    PollHold(const PollHold &) = delete;
    PollHold &operator=(const PollHold &) = delete;

    void take(LinkEngine &engine, HoldReason reason = HoldReason::Dialog)
    {
        reset();
        engine_ = &engine;
        reason_ = reason;
        engine.hold(reason);
    }
    // Ends the hold now (once; later calls do nothing). An engine already gone is not touched.
    void reset()
    {
        if (engine_)
            engine_->release(reason_);
        engine_ = nullptr;
    }
    bool held() const { return !engine_.isNull(); }

private:
    QPointer<LinkEngine> engine_;
    HoldReason reason_ = HoldReason::Dialog;
};

} // namespace qeln
