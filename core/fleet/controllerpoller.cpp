#include "controllerpoller.h"

#include "link/serialtransport.h"
#include "link/tcpexchange.h"
#include "link/tcptransport.h"
#include "monitor/statusview.h"

#include <QDateTime>

#include <algorithm>

namespace qeln::fleet {

namespace {

std::int64_t nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

ControllerPoller::ControllerPoller(const ControllerConfig &config, std::chrono::milliseconds offset, QObject *parent)
    : QObject(parent), config_(config), schedule_(config.interval, offset),
      engine_(state_)
{
    const int timeoutMs = int(config_.timeout.count());
    if (config_.link.tcp) {
        engine_.setLink(LinkKind::Tcp);
        auto tcp = std::make_unique<TcpTransport>();
        tcp->setHost(config_.link.host);
        tcp->setPort(config_.link.port);
        tcp->setConnectTimeout(timeoutMs);
        engine_.setTcpTransport(tcp.get());
        engine_.setReadTimeout(timeoutMs);
        transport_ = std::move(tcp);
    } else {
        engine_.setLink(LinkKind::Serial);
        auto serial = std::make_unique<SerialTransport>();
        serial->setDevice(config_.link.device);
        engine_.setSerialTransport(serial.get());
        transport_ = std::move(serial);
    }
    slotTimer_.setSingleShot(true);
    slotTimer_.setTimerType(Qt::PreciseTimer);
    connect(&slotTimer_, &QTimer::timeout, this, &ControllerPoller::onSlot);
    connect(&engine_, &LinkEngine::answered, this, &ControllerPoller::onAnswered);
    connect(&engine_, &LinkEngine::failed, this, &ControllerPoller::onFailed);
    if (!config_.link.tcp) {
        connect(transport_.get(), &Transport::openFailed, this, [this](const QString &reason) {
            lastError_ = reason;
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

ControllerSnapshot ControllerPoller::snapshot() const
{
    ControllerSnapshot c;
    c.name = config_.name;
    for (auto it = config_.labels.cbegin(); it != config_.labels.cend(); ++it)
        c.labels.append({it.key(), it.value()});
    c.polled = polled_;
    c.up = up_;
    c.lastSuccessSeconds = lastSuccessSeconds_;
    c.pollDurationSeconds = lastDurationSeconds_;
    c.intervalSeconds = config_.interval.count() / 1000.0;
    for (size_t r = 0; r < counts_.size(); ++r)
        c.requests[r] = double(counts_[r]);
    c.model = model_;
    c.firmware = firmware_;
    c.firmwareDate = firmwareDate_;
    c.clockOffsetSeconds = clockOffsetSeconds_;
    for (auto it = alarmChanges_.cbegin(); it != alarmChanges_.cend(); ++it)
        c.alarmChanges.append({it.key(), it.value()});
    c.durationCounts = durationCounts_;
    c.durationSum = durationSum_;
    c.durationCount = durationCount_;
    c.lastError = lastError_;
    c.samples = samples_;
    return c;
}

void ControllerPoller::schedule()
{
    const std::int64_t now = nowMs();
    slot_ = schedule_.nextSlot(now);
    nextSlotMs_ = schedule_.slotStart(slot_);
    slotTimer_.start(int(std::max<std::int64_t>(nextSlotMs_ - now, 0)));
}

void ControllerPoller::onSlot()
{
    if (!config_.link.tcp && !transport_->isOpen()) {
        transport_->open();
        if (!transport_->isOpen()) {
            endPoll(PollResult::LinkError, lastError_.isEmpty() ? QStringLiteral("the port does not open") : lastError_);
            return;
        }
    }
    polling_ = true;
    pollClock_.start();
    // The engine ends the read: its answer, or the time-out (on TCP the connect's as well).
    const LinkKind link = config_.link.tcp ? LinkKind::Tcp : LinkKind::Serial;
    ticket_ = engine_.submit(requests::status(link, state_.StatusRegisterCount), int(config_.timeout.count()));
}

void ControllerPoller::onAnswered(Ticket ticket, const Answer &)
{
    // An answer after its poll's time-out was counted as a time-out already: it never comes.
    if (!polling_ || ticket != ticket_)
        return;
    const PlantStatus plant = decodePlantStatus(state_);
    // An unknown model code keeps the model last known, as in the console.
    state_.ModelText = plant.modelText;
    samples_ = statusSamples(plant);
    model_ = plant.modelText.trimmed();
    const ControllerFirmware &f = plant.firmware;
    firmware_ = QStringLiteral("%1.%2.%3.%4").arg(f.version[0]).arg(f.version[1]).arg(f.version[2]).arg(f.version[3]);
    // The date is kept in BCD: its hexadecimal digits are the decimal ones.
    firmwareDate_ = QStringLiteral("%1-%2-%3")
                        .arg(f.yearBcd, 4, 16, QLatin1Char('0'))
                        .arg(f.monthBcd, 2, 16, QLatin1Char('0'))
                        .arg(f.dayBcd, 2, 16, QLatin1Char('0'));
    const double now = nowMs() / 1000.0;
    const double duration = pollClock_.nsecsElapsed() / 1e9;
    lastDurationSeconds_ = duration;
    lastSuccessSeconds_ = now;
    for (size_t b = 0; b < DurationBuckets.size(); ++b) {
        if (duration <= DurationBuckets[b])
            ++durationCounts_[b];
    }
    durationSum_ += duration;
    ++durationCount_;
    clockOffsetSeconds_ = clockOffsetSeconds(plant.clock, now);
    for (const PlantAlarm &alarm : plant.alarms) {
        const auto seen = alarmStates_.constFind(alarm.name);
        if (seen == alarmStates_.cend() || *seen != alarm.active) {
            alarmStates_.insert(alarm.name, alarm.active);
            alarmChanges_.insert(alarm.name, now);
        }
    }
    endPoll(PollResult::Ok, QString());
}

void ControllerPoller::onFailed(Ticket ticket, const RequestFailure &failure)
{
    if (!polling_ || ticket != ticket_)
        return;
    switch (failure.fault) {
    case AnswerFault::TimedOut:
        // A late answer must not arrive into the next poll: it gets a fresh connection.
        if (config_.link.tcp)
            transport_->close();
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

void ControllerPoller::endPoll(PollResult result, const QString &error)
{
    polling_ = false;
    ticket_ = 0;
    // The connection goes with its poll (a timed-out one is closed already). The engine is
    // done with the request when it reports it, so closing here cuts nothing in flight; a
    // connect still under way is abandoned.
    if (config_.link.tcp && config_.connection == Connection::PerPoll)
        transport_->close();
    const bool wasUp = up_;
    const bool first = !polled_;
    polled_ = true;
    ++counts_[size_t(result)];
    schedule_.recordTry(slot_, result == PollResult::Ok);
    if (result == PollResult::Ok) {
        up_ = true;
    } else {
        up_ = false;
        lastError_ = error;
        // No stale value passes for a live one.
        samples_.clear();
        clockOffsetSeconds_.reset();
    }
    schedule();
    if (up_ && (first || !wasUp))
        Q_EMIT cameUp();
    else if (!up_ && (first || wasUp))
        Q_EMIT wentDown(lastError_);
    Q_EMIT pollEnded(result);
}

} // namespace qeln::fleet
