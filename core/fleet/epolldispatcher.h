#pragma once

#include <QAbstractEventDispatcher>
#include <QtGlobal>

// Written for the int/qint64 timer interface that Qt 6.4 to 6.7 share (tested on 6.4.2). Qt 6.8
// brought QAbstractEventDispatcherV2 (Qt::TimerId, chrono durations) and deprecated this one: a
// build there must port rather than quietly run on the compatibility path.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#error "EpollEventDispatcher is written for Qt 6.4 to 6.7; for Qt 6.8 or later port it to QAbstractEventDispatcherV2 (registerTimer(Qt::TimerId, Duration, ...), unregisterTimer(Qt::TimerId), timersForObject(), remainingTime(Qt::TimerId)) and retest"
#elif QT_VERSION < QT_VERSION_CHECK(6, 4, 0)
#error "EpollEventDispatcher is written for Qt 6.4 to 6.7"
#endif

#include <atomic>
#include <chrono>
#include <set>
#include <unordered_map>
#include <utility>

namespace qeln::fleet {

// An event dispatcher for a thread that holds many idle sockets, such as serve's thousand
// persistent controller connections. Qt's own dispatcher hands every socket to poll() on each
// wake-up, so a wake-up costs in proportion to the connections held; this one keeps them in an
// epoll set and pays only for the sockets that are ready. Timers are kept in deadline order
// and fire as precise timers whatever their type (more punctual than asked, never later).
// Linux only. Install it before the thread's first event loop, e.g. with
// QCoreApplication::setEventDispatcher() before the application object is made.
class EpollEventDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    explicit EpollEventDispatcher(QObject *parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Timer {
        qint64 interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        QObject *object = nullptr;
        Clock::time_point due;
        bool firing = false; // its timer event is being delivered: not again from within
    };
    // The notifiers of one descriptor, by QSocketNotifier::Type (read, write, exception).
    struct Watched {
        QSocketNotifier *notifiers[3] = {};
        bool inEpoll = false;
    };

    void updateEpoll(int fd, Watched &watched);
    int waitMilliseconds(bool canWait) const;
    int activateTimers();
    void drainWakeUps();
    void unqueue(int timerId, const Timer &timer);

    int epoll_ = -1;
    int wakeOnly_ = -1; // an epoll set with the wake-up alone, for passes that leave sockets out
    int wakeFd_ = -1;
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> interrupted_{false};
    std::unordered_map<int, Timer> timers_;
    std::set<std::pair<Clock::time_point, int>> queue_; // (due, timer id), soonest first
    std::unordered_map<int, Watched> watched_;
};

} // namespace qeln::fleet
