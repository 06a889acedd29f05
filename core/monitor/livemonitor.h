#pragma once

#include "monitor/datalog.h"
#include "monitor/moduletree.h"
#include "monitor/powerflow.h"
#include "monitor/statusview.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

namespace qeln {

class LinkEngine;

// Live monitoring on one link engine: after each complete status conversion it runs the
// decode steps in their order (module-tree step, texts and indicators, alarm-test reminder,
// alarm-change line of the data log), drives the power-flow animation (Timer4), and watches
// for a controller that stops answering. The main window and qeln-cli only present it.
class LiveMonitor : public QObject {
    Q_OBJECT
public:
    // `state` is the console state the engine fills the status block of.
    LiveMonitor(LinkEngine &engine, ConsoleState &state, QObject *parent = nullptr);

    ModuleTree &tree() { return tree_; }
    DataLog &dataLog() { return dataLog_; }
    PowerFlow &powerFlow() { return flow_; }
    QTimer *animationTimer() { return &animationTimer_; }
    // The view of the last complete decode (empty before the first).
    const StatusView &view() const { return view_; }
    // The plant status of the last complete decode, which the view was made from.
    const PlantStatus &plant() const { return view_.plant; }

    // Starts the timers that run from start-up: Timer4 (animation) and Timer6 (reminder).
    void startDisplayTimers();

    // The menu's "monitor" without a link: builds the tree, stops the reminder and marks the battery
    // as in use (register 66 = 1), without a connection.
    void preview();

    // Timer4's tick: the next frame of the power-flow animation.
    void onPowerFlowTick();
    // Timer6's tick: the alarm-test reminder blinks.
    void onReminderTick();
    QTimer *reminderTimer() { return &reminderTimer_; }

    // A controller is overdue when no status was decoded for three poll periods while the
    // status poll runs. Checked once a second.
    void checkAnswer();
    bool answerOverdue() const { return overdue_; }
    // The clock of the answer watch (tests set their own).
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

Q_SIGNALS:
    // A status response was decoded whole; view() holds what it shows.
    void viewDecoded(const qeln::StatusView &view);
    // The same decode as a plant status, for what records or exports numbers; after viewDecoded.
    void plantDecoded(const qeln::PlantStatus &plant);
    void powerFlowTicked(const qeln::PowerFlowFrame &frame);
    // No status decoded since `since` for three poll periods; then answering again.
    void answerMissing(const QDateTime &since);
    void answerResumed();
    // The alarm-test reminder label is to be shown or hidden.
    void alarmTestReminderChanged(bool visible);

private:
    void onStatusReceived();

    LinkEngine &engine_;
    ConsoleState &state_;
    ModuleTree tree_;
    DataLog dataLog_;
    PowerFlow flow_;
    StatusView view_;
    QTimer animationTimer_;
    QTimer reminderTimer_;
    int reminderBlink_ = 0;
    QTimer answerCheck_;
    QDateTime lastAnswer_; // last decode, or when the poll (re)started
    bool polling_ = false;
    bool overdue_ = false;
    std::function<QDateTime()> clock_ = [] { return QDateTime::currentDateTime(); };
};

} // namespace qeln
