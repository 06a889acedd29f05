#include "livemonitor.h"

#include "link/linkengine.h"

namespace qeln {

namespace {
// Poll ticks per status request, and the number of poll periods without an answer after which
// the controller counts as silent.
constexpr int TicksPerPoll = 3;
constexpr int SilentPolls = 3;
} // namespace

LiveMonitor::LiveMonitor(LinkEngine &engine, ConsoleState &state, QObject *parent)
    : QObject(parent)
    , engine_(engine)
    , state_(state)
    , tree_(state)
    , dataLog_(state)
{
    animationTimer_.setInterval(100);
    reminderTimer_.setInterval(100);
    connect(&reminderTimer_, &QTimer::timeout, this, &LiveMonitor::onReminderTick);
    dataLog_.setHoldCheck([&engine] { return engine.pollingHeld(); });
    connect(&animationTimer_, &QTimer::timeout, this, &LiveMonitor::onPowerFlowTick);
    answerCheck_.setInterval(1000);
    connect(&answerCheck_, &QTimer::timeout, this, &LiveMonitor::checkAnswer);
    answerCheck_.start();
    connect(&engine_, &LinkEngine::statusReceived, this, &LiveMonitor::onStatusReceived);
}

void LiveMonitor::startDisplayTimers()
{
    animationTimer_.start();
    reminderTimer_.start();
}

void LiveMonitor::onStatusReceived()
{
    ConsoleState &s = state_;
    tree_.statusStep();
    view_ = decodeStatusView(s);

    if (view_.alarmTestReminder) {
        if (!reminderTimer_.isActive())
            reminderTimer_.start();
    } else {
        reminderTimer_.stop();
        reminderBlink_ = 0;
    }

    lastAnswer_ = clock_();
    if (overdue_) {
        overdue_ = false;
        Q_EMIT answerResumed();
    }
    Q_EMIT viewDecoded(view_);
    Q_EMIT plantDecoded(view_.plant);

    dataLog_.statusDecoded();
    if (view_.alarmWordsChanged)
        dataLog_.alarmWordsChanged();
}

void LiveMonitor::preview()
{
    ConsoleState &s = state_;
    tree_.build();
    reminderTimer_.stop();
    s.StatusRegisters[66 - 1] = 1;
}

void LiveMonitor::onPowerFlowTick()
{
    Q_EMIT powerFlowTicked(flow_.nextFrame(state_));
}

void LiveMonitor::onReminderTick()
{
    // Shown for two seconds, hidden for one.
    if (reminderBlink_ == 30) {
        reminderBlink_ = 0;
        Q_EMIT alarmTestReminderChanged(true);
    } else if (reminderBlink_ == 10) {
        Q_EMIT alarmTestReminderChanged(false);
    }
    ++reminderBlink_;
}

void LiveMonitor::checkAnswer()
{
    const bool polling = engine_.pollingRunning() && !engine_.pollingHeld();
    const QDateTime now = clock_();
    if (!polling) {
        polling_ = false;
        if (overdue_) {
            overdue_ = false;
            Q_EMIT answerResumed();
        }
        return;
    }
    if (!polling_) {
        // The poll (re)started: the wait counts from now.
        polling_ = true;
        lastAnswer_ = now;
        return;
    }
    const qint64 silentMs = qint64(SilentPolls) * TicksPerPoll * engine_.pollTickMs();
    if (!overdue_ && lastAnswer_.msecsTo(now) > silentMs) {
        overdue_ = true;
        Q_EMIT answerMissing(lastAnswer_);
    }
}

} // namespace qeln
