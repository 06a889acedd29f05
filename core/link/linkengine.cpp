#include "linkengine.h"

#include "hextext.h"
#include "tcpexchange.h"
#include "transport.h"

#include <QDeadlineTimer>
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

LinkEngine::LinkEngine(ConsoleState &state, QObject *parent)
    : QObject(parent), s_(state), exchange_(new TcpExchange(this))
{
    pollTimer_.setInterval(FirstTickMs);
    // The poll rhythm is the controller's timing: 600 ms on serial, not 570..630.
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &LinkEngine::onPollTick);
    serialAckTimer_.setSingleShot(true);
    serialAckTimer_.setInterval(SerialAckTimeoutMs);
    connect(&serialAckTimer_, &QTimer::timeout, this, &LinkEngine::onSerialAckTimeout);
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

void LinkEngine::setSerialTransport(Transport *transport)
{
    if (serial_)
        disconnect(serial_, nullptr, this, nullptr);
    serial_ = transport;
    if (serial_)
        connect(serial_, &Transport::bytesReceived, this, &LinkEngine::onSerialBytes);
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
    pollTimer_.stop();
}

void LinkEngine::holdPolling()
{
    mode_ = PollMode::Held;
}

void LinkEngine::resumePolling()
{
    mode_ = PollMode::Polling;
    pollDue_ = true;
}

void LinkEngine::pollNow()
{
    pollDue_ = true;
    onPollTick();
}

void LinkEngine::onPollTick()
{
    // Never two requests on the TCP connection: a tick that finds one under way leaves the
    // poll due, so it goes out on the first tick after the answer.
    const bool tcpHeld = link() == LinkKind::Tcp && tcpBusy();
    if (pollDue_ && !tcpHeld && mode_ != PollMode::Held) {
        pollDue_ = false;
        countdown_ = PollTicks;
        if (mode_ == PollMode::Polling) {
            line("RectMode >>  [ 00 ]");
            pollTimer_.setInterval(link() == LinkKind::Serial ? SerialTickMs : TcpTickMs);
            send(requests::status(link(), s_.StatusRegisterCount));
        } else {
            line("RectMode >>  [ 02 ]");
            mode_ = PollMode::Polling;
            send(requests::ipBlockRead(link()));
        }
    }
    if (mode_ != PollMode::Held && --countdown_ == 0)
        pollDue_ = true;
}

// ---- Requests ------------------------------------------------------------------------------

// A history request starts the serial reception afresh: what a lost answer left is stale.

void LinkEngine::requestHistoryCount(LogKind log)
{
    rxState_ = RxState::Idle;
    send(requests::historyCount(link(), log, lastHistoryRecord_));
}

void LinkEngine::requestHistoryRecord(LogKind log, int record)
{
    rxState_ = RxState::Idle;
    lastHistoryRecord_ = record;
    send(requests::historyRecord(link(), log, record, s_.HistoryRecordLength));
}

void LinkEngine::initialiseHistory(LogKind log)
{
    holdPolling();
    rxState_ = RxState::Idle;
    send(requests::historyInitialisation(link(), log));
}

void LinkEngine::requestIpBlock()
{
    rxState_ = RxState::Idle;
    mode_ = PollMode::IpReadNext;
    countdown_ = PollTicks;
    pollDue_ = true;
}

bool LinkEngine::writeIpBlock(const QByteArray &block)
{
    if (block.isEmpty() || block.size() > MaxIpSettingsPayload)
        return false;
    rxState_ = RxState::Idle;
    if (link() == LinkKind::Tcp)
        holdPolling();
    send(requests::ipBlockWrite(link(), block));
    countdown_ = PollTicks;
    pollDue_ = true;
    return true;
}

void LinkEngine::send(const Request &request)
{
    if (link() == LinkKind::Serial)
        sendSerial(request);
    else
        enqueueTcp(request);
}

void LinkEngine::sendSerial(const Request &request)
{
    const QByteArray frame = asciiFrame(request);
    nextTransaction();
    if (serial_ && serial_->write(frame))
        Q_EMIT requestSent(frame, false);
    line("Send data >>[" + QByteArray::number(frame.size()) + "]" + frame);
}

// ---- TCP requests --------------------------------------------------------------------------

bool LinkEngine::tcpBusy() const
{
    return tcpInFlight_ || !tcpQueue_.isEmpty();
}

void LinkEngine::abandonTcpRequests()
{
    const bool writing = link() == LinkKind::Tcp && writeSequence_.running;
    outstandingWrite_.pending = false;
    tcpQueue_.clear();
    tcpInFlight_ = false;
    exchange_->cancel();
    if (writing)
        endWriteSequence(false, QStringLiteral("The link was closed before every setting was acknowledged; "
                                               "check the controller's settings."));
}

void LinkEngine::enqueueTcp(const Request &request)
{
    if (request.payload.size() + 2 > 0xFF) {
        line("Drop >> TCP request too long for its length field");
        return;
    }
    tcpQueue_.enqueue(request);
    startNextTcp();
}

void LinkEngine::startNextTcp()
{
    while (!tcpInFlight_ && !tcpQueue_.isEmpty()) {
        // The transaction number is taken when the request really goes out, so numbers on
        // the wire stay consecutive and the answer is matched against its own request.
        tcpRequest_ = tcpQueue_.dequeue();
        const QByteArray frame = mbapFrame(tcpRequest_, nextTransaction());
        tcpInFlight_ = true;
        const quint64 serial = ++tcpSerial_;
        const auto resend = requestMayRunTwice(tcpRequest_.function) ? TcpExchange::Resend::OnceAfterHangUp
                                                                     : TcpExchange::Resend::Never;
        if (exchange_->start(frame, tcpRequest_.answerBytes, resend)) {
            // A request that already failed inside start() was not sent.
            if (tcpInFlight_ && serial == tcpSerial_)
                Q_EMIT requestSent(frame, true);
        } else {
            tcpInFlight_ = false;
            RequestFailure f;
            f.fault = AnswerFault::LinkLost;
            f.function = tcpRequest_.function;
            f.reason = QStringLiteral("no TCP link");
            failTcpInFlight(f);
        }
    }
}

void LinkEngine::onTcpCompleted(const QByteArray &response)
{
    tcpInFlight_ = false;
    const int function = tcpRequest_.function;
    // The IP-settings write is answered with a bare header that carries nothing to read:
    // its arrival is the whole answer.
    if (function == 0x42) {
        startNextTcp();
        return;
    }
    const ParsedAnswer parsed = parseMbapAnswer(response, transaction_, function);
    const auto *answer = std::get_if<Answer>(&parsed);
    const auto *failure = std::get_if<RequestFailure>(&parsed);
    if ((function == 0x43 || function == 0x44) && (answer || failure->fault == AnswerFault::Exception)) {
        // Built only when someone reads the console lines: a download makes one per record.
        static const QMetaMethod lineSignal = QMetaMethod::fromSignal(&LinkEngine::consoleLine);
        if (isSignalConnected(lineSignal))
            line("TcpStr >> " + response.mid(1) + " [" + BytesToHex(response.mid(1)) + "]");
    }
    if (answer) {
        // An acknowledgement that does not echo the write in flight is not its answer.
        if (!dispatchWriteAnswer(*answer))
            dispatch(*answer);
    } else if (failure->fault == AnswerFault::Exception && function == 0x06) {
        refuseWrite(failure->exceptionCode);
    } else if (failure->fault == AnswerFault::Exception) {
        fail(*failure);
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
    f.function = tcpRequest_.function;
    f.reason = reason;
    failTcpInFlight(f);
    startNextTcp();
}

void LinkEngine::failTcpInFlight(RequestFailure failure)
{
    fail(failure);
    // A status poll that fails stays silent (the next one follows); a write that fails ends
    // its sequence, and the operator learns why and how far it got.
    if (failure.function == 0x06 && writeSequence_.running && outstandingWrite_.pending) {
        const int done = writeSequence_.total - writeCount_ - 1;
        endWriteSequence(false, QStringLiteral("The write of register %1 (value %2) failed: %3. "
                                               "%4 of %5 settings were written; the rest were not sent.")
                                    .arg(outstandingWrite_.write.address)
                                    .arg(outstandingWrite_.write.value)
                                    .arg(failure.reason)
                                    .arg(std::max(done, 0))
                                    .arg(writeSequence_.total));
    }
}

void LinkEngine::fail(const RequestFailure &failure)
{
    Q_EMIT requestFailed(failure);
}

void LinkEngine::relink()
{
    if (link() != LinkKind::Tcp || !tcpTransport() || relinking_)
        return;
    const bool wasPolling = pollingRunning();
    pollTimer_.stop();
    relinking_ = true;
    auto finish = [this, wasPolling] {
        relinking_ = false;
        abandonTcpRequests();
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
