#include "controllerpoller.h"

#include "link/serialtransport.h"
#include "link/tcpexchange.h"
#include "link/tcptransport.h"
#include "monitor/statusview.h"

#include <algorithm>

namespace qeln::fleet {

const char *pollResultName(PollResult result)
{
    switch (result) {
    case PollResult::Ok: return "ok";
    case PollResult::Timeout: return "timeout";
    case PollResult::Corrupt: return "corrupt";
    case PollResult::Exception: return "exception";
    case PollResult::LinkError: return "link_error";
    }
    return "";
}

ControllerPoller::ControllerPoller(const ControllerLink &link, const QElapsedTimer &origin, QObject *parent)
    : QObject(parent), link_(link), origin_(origin), engine_(state_)
{
    if (link_.tcp) {
        state_.LinkIsTcp = 1;
        auto tcp = std::make_unique<TcpTransport>();
        tcp->setHost(link_.host);
        tcp->setPort(link_.port);
        tcp->setConnectTimeout(link_.timeoutMs);
        engine_.setTcpTransport(tcp.get());
        engine_.tcpExchange()->setReadTimeout(link_.timeoutMs);
        transport_ = std::move(tcp);
    } else {
        state_.LinkIsTcp = 0;
        auto serial = std::make_unique<SerialTransport>();
        serial->setDevice(link_.device);
        engine_.setSerialTransport(serial.get());
        transport_ = std::move(serial);
    }
    slotTimer_.setSingleShot(true);
    slotTimer_.setTimerType(Qt::PreciseTimer);
    connect(&slotTimer_, &QTimer::timeout, this, &ControllerPoller::onSlot);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &ControllerPoller::onDeadline);
    connect(&engine_, &LinkEngine::statusReceived, this, &ControllerPoller::onStatusReceived);
    connect(&engine_, &LinkEngine::requestFailed, this, &ControllerPoller::onRequestFailed);
    if (!link_.tcp) {
        connect(transport_.get(), &Transport::opened, this, [this] { state_.SerialPortOpen = 1; });
        connect(transport_.get(), &Transport::openFailed, this, [this](const QString &reason) {
            state_.SerialPortOpen = 0;
            if (polling_)
                endPoll(PollResult::LinkError, reason);
        });
    }
}

ControllerPoller::~ControllerPoller()
{
    engine_.abandonTcpRequests();
    engine_.setSerialTransport(nullptr);
    engine_.setTcpTransport(nullptr);
}

void ControllerPoller::start()
{
    schedule();
}

void ControllerPoller::schedule()
{
    // Slot k starts at offset + k × interval; after n failures in a row the next poll skips
    // to the slot min(2^(n-1), 5) intervals after the last one, on its own grid.
    const qint64 now = origin_.elapsed();
    const qint64 step = failures_ == 0 ? 1 : std::min<qint64>(qint64(1) << std::min(failures_ - 1, 3), 5);
    qint64 next = slot_ < 0 ? 0 : slot_ + step;
    const qint64 interval = link_.intervalMs;
    // A slot already past (the process was busy, or this is the first) gives way to the
    // next one still ahead: polls never bunch up to catch up.
    const qint64 firstAhead = now <= link_.offsetMs ? 0 : (now - link_.offsetMs + interval - 1) / interval;
    next = std::max(next, firstAhead);
    slot_ = next;
    nextSlotMs_ = link_.offsetMs + next * interval;
    slotTimer_.start(int(std::max<qint64>(nextSlotMs_ - now, 0)));
}

void ControllerPoller::onSlot()
{
    if (!link_.tcp && !transport_->isOpen()) {
        transport_->open();
        if (!transport_->isOpen()) {
            endPoll(PollResult::LinkError, lastError_.isEmpty() ? QStringLiteral("the port does not open") : lastError_);
            return;
        }
    }
    polling_ = true;
    pollClock_.start();
    deadline_.start(link_.timeoutMs);
    engine_.resumePolling();
    engine_.pollNow();
}

void ControllerPoller::onStatusReceived()
{
    // An answer after its poll's time-out was counted as a time-out already: it is thrown away.
    if (!polling_)
        return;
    const StatusView view = decodeStatusView(state_);
    samples_ = statusSamples(view, state_);
    model_ = view.texts.value(QStringLiteral("Main_Form")).trimmed();
    firmware_ = view.texts.value(QStringLiteral("ComSetting.0")).trimmed();
    lastDurationMs_ = pollClock_.elapsed();
    lastSuccess_ = QDateTime::currentDateTimeUtc();
    endPoll(PollResult::Ok, QString());
}

void ControllerPoller::onRequestFailed(const RequestFailure &failure)
{
    if (!polling_)
        return;
    switch (failure.fault) {
    case AnswerFault::TimedOut:
        endPoll(PollResult::Timeout, failure.reason);
        break;
    case AnswerFault::Exception:
        endPoll(PollResult::Exception, failure.reason);
        break;
    case AnswerFault::LinkLost:
        endPoll(PollResult::LinkError, failure.reason);
        break;
    case AnswerFault::BadLrc:
    case AnswerFault::NotHexadecimal:
    case AnswerFault::BadLength:
    case AnswerFault::WrongTransaction:
        endPoll(PollResult::Corrupt, failure.reason);
        break;
    }
}

void ControllerPoller::onDeadline()
{
    if (!polling_)
        return;
    engine_.abandonTcpRequests();
    // A late answer must not arrive into the next poll and be taken for its answer: on TCP
    // the next poll gets a fresh connection.
    if (link_.tcp)
        transport_->close();
    endPoll(PollResult::Timeout, QStringLiteral("no status answer within %1 ms").arg(link_.timeoutMs));
}

void ControllerPoller::endPoll(PollResult result, const QString &error)
{
    polling_ = false;
    deadline_.stop();
    ++counts_[size_t(result)];
    if (result == PollResult::Ok) {
        failures_ = 0;
        up_ = true;
    } else {
        ++failures_;
        up_ = false;
        lastError_ = error;
        // No stale value passes for a live one.
        samples_.clear();
    }
    schedule();
    Q_EMIT pollEnded(result);
}

} // namespace qeln::fleet
