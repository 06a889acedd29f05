#pragma once

#include <QString>

#include <chrono>

namespace qeln::fleet {

// A duration as Prometheus writes one: units y, w, d, h, m, s, ms, each at most once and from
// the largest down ("1m30s", "500ms", "1h"). Refuses an empty text, a number without a unit,
// a sign, zero, and anything past the range of signed 64-bit milliseconds.
bool parseDuration(const QString &text, std::chrono::milliseconds &out, QString &error);

// The shortest such text for a positive duration ("1m30s", "500ms").
QString formatDuration(std::chrono::milliseconds duration);

} // namespace qeln::fleet
