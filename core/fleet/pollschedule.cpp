#include "pollschedule.h"

#include <QByteArray>

#include <algorithm>

namespace qeln::fleet {

std::uint64_t nameHash(const QByteArray &utf8)
{
    std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a 64 offset basis
    for (char c : utf8) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL; // FNV 64 prime
    }
    // FNV's last multiply leaves a last character in the middle bits only; the finaliser
    // spreads it over all 64 so that site-0001 and site-0002 land far apart.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

std::chrono::milliseconds pollOffset(const QString &name, std::chrono::milliseconds interval)
{
    if (interval.count() <= 0)
        return std::chrono::milliseconds(0);
    // The high 64 bits of hash * interval: uniform in [0, interval) without a modulo's bias.
    const unsigned __int128 scaled =
        static_cast<unsigned __int128>(nameHash(name.toUtf8())) * static_cast<std::uint64_t>(interval.count());
    return std::chrono::milliseconds(static_cast<std::int64_t>(scaled >> 64));
}

int backoffIntervals(int failures)
{
    if (failures <= 1)
        return 1;
    return failures >= 4 ? 5 : 1 << (failures - 1);
}

PollSchedule::PollSchedule(std::chrono::milliseconds interval, std::chrono::milliseconds offset)
    : interval_(std::max(interval, std::chrono::milliseconds(1))),
      offset_(((offset % interval_) + interval_) % interval_)
{
}

std::int64_t PollSchedule::slotStart(std::int64_t slot) const
{
    return offset_.count() + slot * interval_.count();
}

std::int64_t PollSchedule::firstSlotFrom(std::int64_t nowMs) const
{
    const std::int64_t since = nowMs - offset_.count();
    const std::int64_t step = interval_.count();
    // Rounded up, for times before the origin too.
    std::int64_t slot = since / step;
    if (slot * step < since)
        ++slot;
    return slot;
}

std::int64_t PollSchedule::nextSlot(std::int64_t nowMs) const
{
    const std::int64_t earliest = firstSlotFrom(nowMs);
    if (!tried_)
        return earliest;
    return std::max(lastSlot_ + backoffIntervals(failures_), earliest);
}

void PollSchedule::recordTry(std::int64_t slot, bool success)
{
    lastSlot_ = slot;
    tried_ = true;
    failures_ = success ? 0 : std::min(failures_ + 1, 1 << 20);
}

} // namespace qeln::fleet
