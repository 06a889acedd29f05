#include "linkengine.h"

#include "hextext.h"
#include "tcpexchange.h"
#include "transport.h"

#include <QMetaMethod>

#include <algorithm>

namespace qeln {

namespace {

// Ticks of the poll timer from one status poll to the next.
constexpr std::uint8_t PollTicks = 3;
constexpr int SerialTickMs = 200;
constexpr int TcpTickMs = 300;
constexpr int FirstTickMs = 1000;
// How long relink() waits for a request still on its way, and how often it looks.
constexpr int RelinkWaitMs = 3000;
constexpr int RelinkCheckMs = 20;

} // namespace

int schedulerState(HoldReason reason)
{
    switch (reason) {
    case HoldReason::Dialog:
    case HoldReason::ClockDialog:
        return 0x14;
    case HoldReason::IpSettings:
        return 0x15;
    case HoldReason::HistoryDownload:
        return 0x16;
    case HoldReason::HistoryInitialisation:
        return 0x17;
    }
    return 0x14;
}

LinkEngine::LinkEngine(StatusBlock &block, QObject *parent)
    : QObject(parent), s_(block), exchange_(new TcpExchange(this))
{
    pollTimer_.setInterval(FirstTickMs);
    // The poll rhythm is the controller's timing: 600 ms on serial, not 570..630.
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &LinkEngine::onPollTick);
    serialAckTimer_.setSingleShot(true);
    serialAckTimer_.setInterval(SerialAckTimeoutMs);
    connect(&serialAckTimer_, &QTimer::timeout, this, &LinkEngine::onSerialAckTimeout);
    serialDeadline_.setSingleShot(true);
    serialDeadline_.setTimerType(Qt::PreciseTimer);
    connect(&serialDeadline_, &QTimer::timeout, this, &LinkEngine::onSerialDeadline);
    exchange_->setReadTimeout(readTimeoutMs_);
    // A read sent again after a hang-up is a new request: it takes a new transaction number,
    // and only the answer with that number is taken.
    exchange_->setResendHook([this](const QByteArray &frame) {
        QByteArray again = frame;
        const quint16 transaction = nextTransaction();
        if (again.size() >= 2) {
            again[0] = char(transaction >> 8);
            again[1] = char(transaction & 0xFF);
        }
        return again;
    });
    connect(exchange_, &TcpExchange::completed, this, &LinkEngine::onTcpCompleted);
    connect(exchange_, &TcpExchange::failed, this, &LinkEngine::onTcpFailed);
    connect(exchange_, &TcpExchange::linkUp, this, &LinkEngine::tcpLinkUp);
    connect(exchange_, &TcpExchange::linkDown, this, &LinkEngine::tcpLinkDown);
}

LinkEngine::~LinkEngine() = default;

// ---- Links ---------------------------------------------------------------------------------

void LinkEngine::setLink(LinkKind kind)
{
    if (kind == link_)
        return;
    // What was under way on the link left can no longer be answered.
    if (link_ == LinkKind::Tcp)
        abandonTcpRequests();
    else
        failAllSerial(QStringLiteral("the link was changed"));
    link_ = kind;
}

void LinkEngine::setSerialTransport(Transport *transport)
{
    if (serial_)
        disconnect(serial_, nullptr, this, nullptr);
    serial_ = transport;
    serialInUse_ = serial_ && serial_->isOpen();
    if (!serial_)
        return;
    connect(serial_, &Transport::bytesReceived, this, &LinkEngine::onSerialBytes);
    connect(serial_, &Transport::opened, this, [this] { serialInUse_ = true; });
    connect(serial_, &Transport::openFailed, this, [this] { serialInUse_ = false; });
    connect(serial_, &Transport::disconnected, this, [this] {
        serialInUse_ = false;
        if (link_ == LinkKind::Serial)
            failAllSerial(QStringLiteral("the serial port was lost"));
    });
}

void LinkEngine::setTcpTransport(Transport *transport)
{
    abandonTcpRequests();
    exchange_->setTransport(transport);
}

Transport *LinkEngine::serialTransport() const
{
    return serial_;
}

Transport *LinkEngine::tcpTransport() const
{
    return exchange_->transport();
}

void LinkEngine::releaseSerial()
{
    serialInUse_ = false;
    if (link_ == LinkKind::Serial)
        failAllSerial(QStringLiteral("the serial link was released"));
}

void LinkEngine::setReadTimeout(int ms)
{
    readTimeoutMs_ = std::max(1, ms);
    exchange_->setReadTimeout(readTimeoutMs_);
}

int LinkEngine::effectiveTimeout(int timeoutMs) const
{
    return timeoutMs > 0 ? timeoutMs : readTimeoutMs_;
}

void LinkEngine::line(const QByteArray &text)
{
    Q_EMIT consoleLine(text);
}

void LinkEngine::show(MessageKind kind, const QString &text)
{
    Q_EMIT messageRequested(kind, text);
}

quint16 LinkEngine::nextTransaction()
{
    transaction_ = quint16(transaction_ + 1);
    return transaction_;
}

// ---- Polling -------------------------------------------------------------------------------

void LinkEngine::startPolling(int firstTickMs)
{
    if (firstTickMs > 0)
        pollTimer_.setInterval(firstTickMs);
    pollDue_ = true;
    pollTimer_.start();
}

void LinkEngine::stopPolling()
{
    // Stopped on purpose: the end of a clock dialog's hold does not start it again.
    timerStoppedByHold_ = false;
    pollTimer_.stop();
}

void LinkEngine::hold(HoldReason reason)
{
    // The clock dialog stops the poll timer for as long as it is open; it runs again when the
    // last such hold ends, if it ran before.
    if (reason == HoldReason::ClockDialog && !holds_.contains(HoldReason::ClockDialog)) {
        timerStoppedByHold_ = pollTimer_.isActive();
        pollTimer_.stop();
    }
    holds_.append(reason);
}

void LinkEngine::release(HoldReason reason)
{
    if (holds_.isEmpty())
        return;
    const qsizetype at = holds_.lastIndexOf(reason);
    holds_.removeAt(at >= 0 ? at : holds_.size() - 1);
    if (reason == HoldReason::ClockDialog && !holds_.contains(HoldReason::ClockDialog)
        && std::exchange(timerStoppedByHold_, false))
        pollTimer_.start();
    if (holds_.isEmpty())
        pollDue_ = true;
}

void LinkEngine::pollNow()
{
    // Held, nothing is due but an IP read asked for (not one that waits for a poll's place).
    if (pollingHeld() && (mode_ != PollMode::IpReadNext || ipReadInPollSlot_))
        return;
    pollDue_ = true;
    onPollTick();
}

void LinkEngine::onPollTick()
{
    // Never two requests on the TCP connection: a tick that finds one under way leaves the
    // poll due, so it goes out on the first tick after the answer.
    const bool tcpHeld = link_ == LinkKind::Tcp && tcpBusy();
    const bool ipRead = mode_ == PollMode::IpReadNext && !(ipReadInPollSlot_ && pollingHeld());
    if (pollDue_ && !tcpHeld) {
        pollDue_ = false;
        countdown_ = PollTicks;
        // The line shows the scheduler's state on every tick that acts, a held one included;
        // a held scheduler then stays silent until the last hold ends.
        const int state = ipRead ? 0x02 : pollingHeld() ? schedulerState(holds_.last()) : 0x00;
        line("RectMode >>  [ " + IntToHexFixed(state, 2) + " ]");
        if (ipRead) {
            mode_ = PollMode::Polling;
            ipReadInPollSlot_ = false;
            const Ticket ticket = std::exchange(ipReadTicket_, 0);
            send({requests::ipBlockRead(link_), ticket, ipReadTimeoutMs_});
        } else if (!pollingHeld()) {
            pollTimer_.setInterval(link_ == LinkKind::Serial ? SerialTickMs : TcpTickMs);
            send({requests::status(link_, s_.StatusRegisterCount), 0, 0});
        }
    }
    if ((ipRead || !pollingHeld()) && --countdown_ == 0)
        pollDue_ = true;
}

// ---- Requests ------------------------------------------------------------------------------

Ticket LinkEngine::submit(const Request &request, int timeoutMs)
{
    const Ticket ticket = ++lastTicket_;
    sendNow({request, ticket, effectiveTimeout(timeoutMs)});
    return ticket;
}

void LinkEngine::cancel(Ticket ticket)
{
    if (ticket == 0)
        return;
    for (SerialPending &p : serialPending_) {
        if (p.out.ticket == ticket)
            p.out.ticket = 0; // its answer is still awaited, but reaches nobody
    }
    for (Outgoing &o : serialQueue_) {
        if (o.ticket == ticket)
            o.ticket = 0;
    }
    for (Outgoing &o : tcpQueue_) {
        if (o.ticket == ticket)
            o.ticket = 0;
    }
    if (tcpInFlight_ && tcpRequest_.ticket == ticket)
        tcpRequest_.ticket = 0;
    if (ipReadTicket_ == ticket)
        ipReadTicket_ = 0;
    releaseHoldOf(ticket);
}

// A history request starts the serial reception afresh: what a lost answer left is stale.

Ticket LinkEngine::requestHistoryCount(LogKind log, int timeoutMs)
{
    rxState_ = RxState::Idle;
    return submit(requests::historyCount(link_, log, lastHistoryRecord_), timeoutMs);
}

Ticket LinkEngine::requestHistoryRecord(LogKind log, int record, int timeoutMs)
{
    rxState_ = RxState::Idle;
    lastHistoryRecord_ = record;
    return submit(requests::historyRecord(link_, log, record, s_.HistoryRecordLength), timeoutMs);
}

Ticket LinkEngine::initialiseHistory(LogKind log, int timeoutMs)
{
    rxState_ = RxState::Idle;
    const Ticket ticket = submit(requests::historyInitialisation(link_, log), timeoutMs);
    hold(HoldReason::HistoryInitialisation);
    initialisationHolds_.append(ticket);
    return ticket;
}

void LinkEngine::releaseHoldOf(Ticket ticket)
{
    if (ticket != 0 && initialisationHolds_.removeOne(ticket))
        release(HoldReason::HistoryInitialisation);
}

Ticket LinkEngine::requestIpBlock(int timeoutMs)
{
    rxState_ = RxState::Idle;
    // The read that follows a settings write ends the write's hold: polling goes on after it.
    releaseIpWriteHold();
    mode_ = PollMode::IpReadNext;
    ipReadInPollSlot_ = false;
    countdown_ = PollTicks;
    pollDue_ = true;
    // A read asked for again before it went out goes once, under the ticket it already has.
    if (ipReadTicket_ == 0) {
        ipReadTicket_ = ++lastTicket_;
        ipReadTimeoutMs_ = 0;
    }
    ipReadTimeoutMs_ = std::max(ipReadTimeoutMs_, effectiveTimeout(timeoutMs));
    return ipReadTicket_;
}

Ticket LinkEngine::requestIpBlockInPollSlot(int timeoutMs)
{
    if (ipReadTicket_ == 0) {
        ipReadTicket_ = ++lastTicket_;
        ipReadTimeoutMs_ = 0;
        mode_ = PollMode::IpReadNext;
        ipReadInPollSlot_ = true;
    }
    ipReadTimeoutMs_ = std::max(ipReadTimeoutMs_, effectiveTimeout(timeoutMs));
    return ipReadTicket_;
}

Ticket LinkEngine::writeIpBlock(const QByteArray &block, int timeoutMs)
{
    if (block.isEmpty() || block.size() > MaxIpSettingsPayload)
        return 0;
    rxState_ = RxState::Idle;
    if (link_ == LinkKind::Tcp && !ipWriteHeld_) {
        hold(HoldReason::IpSettings);
        ipWriteHeld_ = true;
    }
    const Ticket ticket = ++lastTicket_;
    sendNow({requests::ipBlockWrite(link_, block), ticket, effectiveTimeout(timeoutMs)});
    countdown_ = PollTicks;
    pollDue_ = true;
    return ticket;
}

void LinkEngine::releaseIpWriteHold()
{
    if (std::exchange(ipWriteHeld_, false))
        release(HoldReason::IpSettings);
}

void LinkEngine::sendNow(const Outgoing &out)
{
    // The request goes out now, but its outcome never arrives before the caller has its
    // ticket: one decided on the way out is reported from the event loop.
    ++submitting_;
    send(out);
    --submitting_;
}

void LinkEngine::send(const Outgoing &out)
{
    if (link_ == LinkKind::Serial)
        sendSerial(out);
    else
        enqueueTcp(out);
}

// ---- Tickets -------------------------------------------------------------------------------

void LinkEngine::finishTicket(Ticket ticket, const Answer &answer)
{
    if (ticket == 0)
        return;
    if (submitting_ > 0) {
        QMetaObject::invokeMethod(this, [this, ticket, answer] { finishTicket(ticket, answer); }, Qt::QueuedConnection);
        return;
    }
    releaseHoldOf(ticket);
    Q_EMIT answered(ticket, answer);
}

void LinkEngine::failTicket(Ticket ticket, RequestFailure failure)
{
    if (ticket == 0)
        return;
    if (submitting_ > 0) {
        QMetaObject::invokeMethod(this, [this, ticket, failure] { failTicket(ticket, failure); }, Qt::QueuedConnection);
        return;
    }
    releaseHoldOf(ticket);
    Q_EMIT failed(ticket, failure);
}

void LinkEngine::fail(const RequestFailure &failure, Ticket ticket)
{
    Q_EMIT requestFailed(failure);
    // An erase is sent once and never again: the operator must learn that it is not known to
    // have happened, whoever asked for it.
    if (failure.known && failure.kind == RequestKind::HistoryInitialisation)
        show(MessageKind::Warning, QStringLiteral("The erase of the %1 was not acknowledged (%2). It was not sent "
                                                  "again; read the log to see whether it was erased.")
                                       .arg(failure.log == LogKind::Alarm ? QStringLiteral("alarm history")
                                                                          : QStringLiteral("event log"),
                                            failure.reason));
    failTicket(ticket, failure);
}

// ---- TCP requests --------------------------------------------------------------------------

bool LinkEngine::tcpBusy() const
{
    return tcpInFlight_ || !tcpQueue_.isEmpty();
}

void LinkEngine::abandonTcpRequests()
{
    const bool writing = link_ == LinkKind::Tcp && writeSequence_.running;
    outstandingWrite_.pending = false;
    QList<Outgoing> dropped;
    if (tcpInFlight_)
        dropped.append(tcpRequest_);
    dropped.append(tcpQueue_);
    tcpQueue_.clear();
    tcpInFlight_ = false;
    tcpRequest_ = {};
    exchange_->cancel();
    for (const Outgoing &o : std::as_const(dropped)) {
        const RequestFailure f = failureOf(o.request, AnswerFault::LinkLost,
            QStringLiteral("the link was closed before the answer came"));
        failTicket(o.ticket, f);
    }
    if (writing)
        endWriteSequence(false, QStringLiteral("The link was closed before every setting was acknowledged; "
                                               "check the controller's settings."));
}

void LinkEngine::enqueueTcp(const Outgoing &out)
{
    if (out.request.payload.size() + 2 > 0xFF) {
        line("Drop >> TCP request too long for its length field");
        const RequestFailure f = failureOf(out.request, AnswerFault::BadLength,
            QStringLiteral("the request is too long for the TCP length field"));
        failTicket(out.ticket, f);
        return;
    }
    tcpQueue_.enqueue(out);
    startNextTcp();
}

void LinkEngine::startNextTcp()
{
    while (!tcpInFlight_ && !tcpQueue_.isEmpty()) {
        // The transaction number is taken when the request really goes out, so numbers on
        // the wire stay consecutive and the answer is matched against its own request.
        tcpRequest_ = tcpQueue_.dequeue();
        const QByteArray frame = mbapFrame(tcpRequest_.request, nextTransaction());
        tcpInFlight_ = true;
        const quint64 serial = ++tcpSerial_;
        const auto resend = requestMayRunTwice(tcpRequest_.request) ? TcpExchange::Resend::OnceAfterHangUp
                                                                    : TcpExchange::Resend::Never;
        exchange_->setReadTimeout(tcpRequest_.ticket ? tcpRequest_.timeoutMs : readTimeoutMs_);
        if (exchange_->start(frame, tcpRequest_.request.answerBytes, resend)) {
            // A request that already failed inside start() was not sent.
            if (tcpInFlight_ && serial == tcpSerial_)
                Q_EMIT requestSent(frame, true);
        } else {
            tcpInFlight_ = false;
            RequestFailure f;
            f.fault = AnswerFault::LinkLost;
            f.function = tcpRequest_.request.function;
            f.known = true;
            f.reason = QStringLiteral("no TCP link");
            failTcpInFlight(f);
        }
    }
}

void LinkEngine::onTcpCompleted(const QByteArray &response)
{
    tcpInFlight_ = false;
    // A copy: answering it may start the next request, which takes tcpRequest_'s place.
    const Outgoing out = tcpRequest_;
    const Request &request = out.request;
    // The IP-settings write is answered with a bare header that carries nothing to read:
    // its arrival is the whole answer.
    if (request.kind == RequestKind::IpBlockWrite) {
        finishTicket(out.ticket, Answer{request.function, {}, request.kind, request.log});
        startNextTcp();
        return;
    }
    ParsedAnswer parsed = parseMbapAnswer(response, transaction_, request.function);
    auto *answer = std::get_if<Answer>(&parsed);
    auto *failure = std::get_if<RequestFailure>(&parsed);
    if (answer) {
        answer->kind = request.kind;
        answer->log = request.log;
    } else {
        failure->known = true;
        failure->kind = request.kind;
        failure->log = request.log;
    }
    if (request.kind == RequestKind::HistoryCount || request.kind == RequestKind::HistoryRecord) {
        if (request.log == LogKind::Alarm && (answer || failure->fault == AnswerFault::Exception)) {
            // Built only when someone reads the console lines: a download makes one per record.
            static const QMetaMethod lineSignal = QMetaMethod::fromSignal(&LinkEngine::consoleLine);
            if (isSignalConnected(lineSignal))
                line("TcpStr >> " + response.mid(1) + " [" + BytesToHex(response.mid(1)) + "]");
        }
    }
    if (answer) {
        // An acknowledgement that does not echo the write in flight is not its answer.
        if (!dispatchWriteAnswer(*answer))
            dispatch(*answer, &out);
    } else if (failure->fault == AnswerFault::Exception && request.kind == RequestKind::RegisterWrite) {
        refuseWrite(failure->exceptionCode);
    } else if (failure->fault == AnswerFault::Exception) {
        fail(*failure, out.ticket);
    } else {
        line("Drop >> TCP answer: " + failure->reason.toUtf8() + " [" + BytesToHex(response) + "]");
        failTcpInFlight(*failure);
    }
    startNextTcp();
}

void LinkEngine::onTcpFailed(const QString &reason)
{
    tcpInFlight_ = false;
    RequestFailure f;
    f.fault = exchange_->lastFailureTimedOut() ? AnswerFault::TimedOut : AnswerFault::LinkLost;
    f.function = tcpRequest_.request.function;
    f.known = true;
    f.reason = reason;
    failTcpInFlight(f);
    startNextTcp();
}

void LinkEngine::failTcpInFlight(RequestFailure failure)
{
    failure.kind = tcpRequest_.request.kind;
    failure.log = tcpRequest_.request.log;
    const Ticket ticket = tcpRequest_.ticket;
    // A status poll that fails stays silent (the next one follows); a write that fails ends
    // its sequence, and the operator learns why and how far it got. The sequence ends before
    // anyone hears of the failure, so whoever reacts by closing the link finds it ended with
    // its real reason (a time-out, say), not as a link closed.
    if (tcpRequest_.request.kind == RequestKind::RegisterWrite && writeSequence_.running
        && outstandingWrite_.pending) {
        const int done = writeSequence_.total - writeCount_ - 1;
        failedWrites_.append(outstandingWrite_.write);
        endWriteSequence(false, QStringLiteral("The write of register %1 (value %2) failed: %3. "
                                               "%4 of %5 settings were written; the rest were not sent.")
                                    .arg(outstandingWrite_.write.address)
                                    .arg(outstandingWrite_.write.value)
                                    .arg(failure.reason)
                                    .arg(std::max(done, 0))
                                    .arg(writeSequence_.total));
    }
    fail(failure, ticket);
}

void LinkEngine::relink()
{
    if (link_ != LinkKind::Tcp || !tcpTransport() || relinking_)
        return;
    const bool wasPolling = pollingRunning();
    pollTimer_.stop();
    relinking_ = true;
    auto finish = [this, wasPolling] {
        relinking_ = false;
        abandonTcpRequests();
        failedWrites_.clear(); // a fresh connection: no acknowledgement of the old one comes
        if (Transport *tcp = tcpTransport()) {
            tcp->close();
            tcp->open();
        }
        if (wasPolling)
            pollTimer_.start();
    };
    if (!tcpBusy()) {
        finish();
        return;
    }
    // The request still on its way (a write sent an instant before) is let finish first:
    // closing the connection under it would throw it away unsent.
    auto *watch = new QTimer(this);
    watch->setInterval(RelinkCheckMs);
    const QDeadlineTimer deadline(RelinkWaitMs);
    connect(watch, &QTimer::timeout, this, [this, watch, deadline, finish] {
        if (tcpBusy() && !deadline.hasExpired())
            return;
        watch->stop();
        watch->deleteLater();
        finish();
    });
    watch->start();
}

} // namespace qeln
