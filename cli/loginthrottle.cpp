#include "loginthrottle.h"

#include <algorithm>

namespace qeln {

namespace {

using namespace std::chrono_literals;

constexpr auto MaxDelay = 30s;
constexpr auto ForgetAfter = 10min;
// Past this many addresses the quiet ones are dropped, so that a crowd of addresses cannot
// grow the table without end.
constexpr qsizetype PruneAbove = 4096;

} // namespace

LoginThrottle::Clock::duration LoginThrottle::wait(const QString &address, Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    const auto it = failures_.constFind(address);
    if (it == failures_.cend() || it->until <= now)
        return Clock::duration::zero();
    return it->until - now;
}

void LoginThrottle::failed(const QString &address, Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    if (failures_.size() > PruneAbove) {
        failures_.removeIf([now](const auto &entry) { return now - entry.value().last > ForgetAfter; });
        if (failures_.size() > PruneAbove)
            failures_.clear();
    }
    Failures &f = failures_[address];
    if (f.count > 0 && now - f.last > ForgetAfter)
        f.count = 0;
    f.count = std::min(f.count + 1, 16);
    f.last = now;
    f.until = now + std::min<Clock::duration>(std::chrono::seconds(1 << (f.count - 1)), MaxDelay);
}

void LoginThrottle::succeeded(const QString &address)
{
    const std::lock_guard lock(mutex_);
    failures_.remove(address);
}

} // namespace qeln
