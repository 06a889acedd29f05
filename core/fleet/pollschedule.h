#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

namespace qeln::fleet {

// A controller's place in its interval: FNV-1a 64 of the name's UTF-8 bytes, mixed by the
// 64-bit finaliser of MurmurHash3 and scaled to [0, interval) in whole milliseconds. The same
// name gives the same offset on every run and every machine; names spread over the interval.
std::chrono::milliseconds pollOffset(const QString &name, std::chrono::milliseconds interval);

// The hash pollOffset scales (exposed for tests that pin it).
std::uint64_t nameHash(const QByteArray &utf8);

// Intervals from one try to the next after `failures` failures in a row: 1 after a success,
// then 1, 2, 4, 5, 5, ... (min(2^(n-1), 5)).
int backoffIntervals(int failures);

// The fixed grid of one controller's polls. Times are milliseconds since the clock's epoch
// (serve uses the system clock's Unix epoch, so the grid lands on the same instants after a
// restart); slot k starts at offset + k * interval, computed from the origin every time so
// it never drifts.
class PollSchedule {
public:
    PollSchedule(std::chrono::milliseconds interval, std::chrono::milliseconds offset);

    std::chrono::milliseconds interval() const { return interval_; }
    std::chrono::milliseconds offset() const { return offset_; }

    // The start of slot k.
    std::int64_t slotStart(std::int64_t slot) const;
    // The first slot that starts at or after `nowMs`.
    std::int64_t firstSlotFrom(std::int64_t nowMs) const;

    // The slot of the next try: the slot after the last try, or the back-off's slot after a
    // failure; never one that has already begun at `nowMs` (after a stall, no burst of polls to
    // catch up: the next free slot of the controller's own grid). Before any try, the first
    // slot from `nowMs`.
    std::int64_t nextSlot(std::int64_t nowMs) const;

    // A try made on `slot` ended; a success resets the back-off.
    void recordTry(std::int64_t slot, bool success);

    int failuresInARow() const { return failures_; }

private:
    std::chrono::milliseconds interval_;
    std::chrono::milliseconds offset_;
    std::int64_t lastSlot_ = 0;
    bool tried_ = false;
    int failures_ = 0;
};

} // namespace qeln::fleet
