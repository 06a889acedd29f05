#include "livemonitor.h"

#include "link/linkengine.h"

namespace qeln {

namespace {
// Poll ticks per status request, and the number of poll periods without an answer after which
// the controller counts as silent.
constexpr int TicksPerPoll = 3;
constexpr int SilentPolls = 3;
} // namespace

LiveMonitor::LiveMonitor(LinkEngine &engine, QObject *parent)
    : QObject(parent)
    , engine_(engine)
    , tree_(engine.state())
    , dataLog_(engine.state())
{
    timer4_.setInterval(100);
    connect(&timer4_, &QTimer::timeout, this, &LiveMonitor::Timer4Timer);
    answerCheck_.setInterval(1000);
    connect(&answerCheck_, &QTimer::timeout, this, &LiveMonitor::checkAnswer);
    answerCheck_.start();
    connect(&engine_, &LinkEngine::statusDecoded, this, &LiveMonitor::onStatusDecoded);
}

void LiveMonitor::startDisplayTimers()
{
    timer4_.start();
    engine_.reminderTimer()->start();
}

void LiveMonitor::onStatusDecoded()
{
    ConsoleState &s = engine_.state();
    tree_.statusStep();
    view_ = decodeStatusView(s);

    QTimer *timer6 = engine_.reminderTimer();
    if (view_.alarmTestReminder) {
        if (!timer6->isActive())
            timer6->start();
    } else {
        timer6->stop();
        s.AlarmTestBlinkCount = 0;
    }

    lastAnswer_ = clock_();
    if (overdue_) {
        overdue_ = false;
        Q_EMIT answerResumed();
    }
    Q_EMIT viewDecoded(view_);

    dataLog_.statusDecoded();
    if (view_.alarmWordsChanged)
        dataLog_.alarmWordsChanged();
}

void LiveMonitor::preview()
{
    ConsoleState &s = engine_.state();
    tree_.BuildModuleTree();
    engine_.reminderTimer()->stop();
    s.StatusRegisters[66 - 1] = 1;
}

void LiveMonitor::Timer4Timer()
{
    Q_EMIT powerFlowTicked(flow_.Timer4Timer(engine_.state()));
}

void LiveMonitor::checkAnswer()
{
    const ConsoleState &s = engine_.state();
    QTimer *poll = engine_.pollTimer();
    const bool polling = poll->isActive() && s.RequestState == StatePoll;
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
    const qint64 silentMs = qint64(SilentPolls) * TicksPerPoll * poll->interval();
    if (!overdue_ && lastAnswer_.msecsTo(now) > silentMs) {
        overdue_ = true;
        Q_EMIT answerMissing(lastAnswer_);
    }
}

} // namespace qeln
