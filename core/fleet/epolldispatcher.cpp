#include "epolldispatcher.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace qeln::fleet {

namespace {

Q_LOGGING_CATEGORY(lcDispatcher, "qeln.fleet.dispatcher", QtWarningMsg)

// What epoll reports for each QSocketNotifier::Type, and what it is asked to watch for it. A
// hang-up or an error wakes every notifier of the descriptor, as with poll(): the socket code
// behind it finds out what happened when it reads or writes.
constexpr std::uint32_t Asked[3] = {EPOLLIN, EPOLLOUT, EPOLLPRI};
constexpr std::uint32_t Wakes[3] = {EPOLLIN | EPOLLHUP | EPOLLERR, EPOLLOUT | EPOLLHUP | EPOLLERR,
                                    EPOLLPRI | EPOLLHUP | EPOLLERR};

// Enough for one pass; more ready descriptors are simply reported on the next.
constexpr int MaxEvents = 256;

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeOnly_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ < 0 || wakeOnly_ < 0 || wakeFd_ < 0)
        qFatal("cannot set up the event loop: %s", std::strerror(errno));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wakeFd_;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &event) != 0
        || ::epoll_ctl(wakeOnly_, EPOLL_CTL_ADD, wakeFd_, &event) != 0)
        qFatal("cannot set up the event loop: %s", std::strerror(errno));
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(wakeFd_);
    ::close(wakeOnly_);
    ::close(epoll_);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    if (fd < 0 || type < 0 || type > 2)
        return;
    Watched &watched = watched_[fd];
    if (watched.notifiers[type] && watched.notifiers[type] != notifier)
        qCWarning(lcDispatcher) << "a second notifier of the same kind for descriptor" << fd;
    watched.notifiers[type] = notifier;
    updateEpoll(fd, watched);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    auto found = watched_.find(fd);
    if (found == watched_.end() || type < 0 || type > 2 || found->second.notifiers[type] != notifier)
        return;
    found->second.notifiers[type] = nullptr;
    updateEpoll(fd, found->second);
    if (!found->second.inEpoll)
        watched_.erase(found);
}

void EpollEventDispatcher::updateEpoll(int fd, Watched &watched)
{
    std::uint32_t events = 0;
    for (int type = 0; type < 3; ++type) {
        if (watched.notifiers[type])
            events |= Asked[type];
    }
    if (events == 0) {
        // Kept in the set, a hang-up would wake every pass with nobody to hear it. The descriptor
        // may be closed already, which removed it by itself.
        if (watched.inEpoll)
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        watched.inEpoll = false;
        return;
    }
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    int done = ::epoll_ctl(epoll_, watched.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
    // A descriptor closed and opened again under the same number left the set by itself.
    if (done != 0 && errno == ENOENT)
        done = ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    else if (done != 0 && errno == EEXIST)
        done = ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
    if (done != 0) {
        qCWarning(lcDispatcher) << "cannot watch descriptor" << fd << std::strerror(errno);
        watched.inEpoll = false;
        return;
    }
    watched.inEpoll = true;
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object)
{
    if (timerId < 1 || interval < 0 || !object)
        return;
    unregisterTimer(timerId);
    Timer timer;
    timer.interval = interval;
    timer.type = timerType;
    timer.object = object;
    timer.due = Clock::now() + std::chrono::milliseconds(interval);
    queue_.emplace(timer.due, timerId);
    timers_.emplace(timerId, timer);
}

void EpollEventDispatcher::unqueue(int timerId, const Timer &timer)
{
    queue_.erase({timer.due, timerId});
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    auto found = timers_.find(timerId);
    if (found == timers_.end())
        return false;
    unqueue(timerId, found->second);
    timers_.erase(found);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject *object)
{
    bool any = false;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.object == object) {
            unqueue(it->first, it->second);
            it = timers_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> list;
    for (const auto &[id, timer] : timers_) {
        if (timer.object == object)
            list.append(TimerInfo(id, int(timer.interval), timer.type));
    }
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    auto found = timers_.find(timerId);
    if (found == timers_.end())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(found->second.due - Clock::now());
    return int(std::max<std::int64_t>(left.count(), 0));
}

void EpollEventDispatcher::wakeUp()
{
    // Any thread may ask; one pending wake-up is enough however many ask.
    if (wakePending_.exchange(true))
        return;
    const std::uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void EpollEventDispatcher::interrupt()
{
    interrupted_.store(true);
    wakeUp();
}

void EpollEventDispatcher::drainWakeUps()
{
    std::uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    wakePending_.store(false);
}

int EpollEventDispatcher::waitMilliseconds(bool canWait) const
{
    if (!canWait)
        return 0;
    if (queue_.empty())
        return -1;
    const auto left = queue_.begin()->first - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    // Rounded up: waking a little early would only spin until the timer is due.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return int(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted_.store(false);
    Q_EMIT awake();
    // A wake-up asked for before this point is answered by the delivery below; one asked for
    // during it (an event posted from a slot or another thread) wakes the wait that follows.
    if (wakePending_.load())
        drainWakeUps();
    QCoreApplication::sendPostedEvents();

    const bool includeTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool includeNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool canWait = (flags & QEventLoop::WaitForMoreEvents) && !interrupted_.load() && !wakePending_.load();
    if (canWait)
        Q_EMIT aboutToBlock();
    if (interrupted_.load())
        return false;

    int handled = 0;
    // Sockets are level-triggered: one left ready while notifiers are excluded would end every
    // wait at once, so such a pass waits for wake-ups and timers only.
    const int set = includeNotifiers ? epoll_ : wakeOnly_;
    epoll_event ready[MaxEvents];
    int count = -1;
    for (;;) {
        // Worked out afresh after a signal, so that signals cannot put a timer off for ever.
        const int wait = includeTimers ? waitMilliseconds(canWait) : (canWait ? -1 : 0);
        count = ::epoll_wait(set, ready, MaxEvents, wait);
        if (count >= 0 || errno != EINTR || wait == 0)
            break;
    }
    if (count < 0 && errno != EINTR)
        qCWarning(lcDispatcher) << "epoll_wait failed:" << std::strerror(errno);

    // What is ready is taken as one list first: a notifier that a slot disables or deletes
    // on the way is no longer asked.
    struct Activation {
        QSocketNotifier *notifier;
        int fd;
        int type;
    };
    std::vector<Activation> toActivate;
    for (int i = 0; i < count; ++i) {
        const int fd = ready[i].data.fd;
        if (fd == wakeFd_) {
            drainWakeUps();
            ++handled;
            continue;
        }
        if (!includeNotifiers)
            continue;
        auto found = watched_.find(fd);
        if (found == watched_.end())
            continue;
        for (int type = 0; type < 3; ++type) {
            if (found->second.notifiers[type] && (ready[i].events & Wakes[type]))
                toActivate.push_back({found->second.notifiers[type], fd, type});
        }
    }
    for (const Activation &a : toActivate) {
        auto found = watched_.find(a.fd);
        if (found == watched_.end() || found->second.notifiers[a.type] != a.notifier)
            continue;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(a.notifier, &event);
        ++handled;
    }
    if (includeTimers)
        handled += activateTimers();
    return handled > 0;
}

int EpollEventDispatcher::activateTimers()
{
    const Clock::time_point now = Clock::now();
    std::vector<int> due;
    for (auto it = queue_.begin(); it != queue_.end() && it->first <= now; ++it)
        due.push_back(it->second);
    int fired = 0;
    for (const int id : due) {
        auto found = timers_.find(id);
        // Stopped, or started afresh, by an earlier timer's slot.
        if (found == timers_.end() || found->second.due > now || found->second.firing)
            continue;
        Timer &timer = found->second;
        unqueue(id, timer);
        if (timer.interval == 0) {
            timer.due = now;
        } else {
            // On its grid while it keeps up; after a stall, a full interval from now.
            timer.due += std::chrono::milliseconds(timer.interval);
            if (timer.due < now)
                timer.due = now + std::chrono::milliseconds(timer.interval);
        }
        queue_.emplace(timer.due, id);
        timer.firing = true;
        QObject *object = timer.object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        ++fired;
        // The slot may have stopped it, and its number may even belong to a new timer now.
        auto after = timers_.find(id);
        if (after != timers_.end())
            after->second.firing = false;
    }
    return fired;
}

} // namespace qeln::fleet
