#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <vector>

namespace qeln::fleet {

// One controller to place on the poll grid.
struct PlanEntry {
    QString name;
    std::chrono::milliseconds interval{};
};

// The poll offsets of a whole fleet. A hash alone puts about twice the average into the most
// crowded window (balls into bins), so each controller starts from its pollOffset and, when a
// `window` of its interval would then hold more than twice that interval's average share
// (2 % of the controllers for 100 ms of 10 s), moves forward to the nearest millisecond where
// it fits. Controllers are placed in the order of (pollOffset, name): the same set gives the
// same offsets on every run and machine. `keep` holds offsets already in use (a reload keeps
// those of unchanged controllers); they are placed first and never move.
QHash<QString, std::chrono::milliseconds> planOffsets(const std::vector<PlanEntry> &controllers,
                                                       const QHash<QString, std::chrono::milliseconds> &keep = {},
                                                       std::chrono::milliseconds window = std::chrono::milliseconds(100));

// The most controllers of one interval that any `window` holds (windows wrap round the
// interval, as the grid does).
int mostInWindow(std::vector<std::chrono::milliseconds> offsets, std::chrono::milliseconds interval,
                 std::chrono::milliseconds window);

} // namespace qeln::fleet
