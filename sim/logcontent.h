#pragma once

// Log content the controller starts with: a log file that fixes every record (so a test can
// work out each downloaded row by hand), or a sample event log made from a seed.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>

namespace qeln::sim {

constexpr int AlarmRecordSize = 34;
constexpr int EventRecordSize = 10;

struct LogContent {
    bool hasAlarm = false; // the file names the log (an empty list clears it)
    bool hasEvent = false;
    QList<QByteArray> alarm; // record 0 (the oldest) first
    QList<QByteArray> event;
};

// The JSON form of a log file:
//   { "alarm": [ { "time": "2024-03-05T14:07:09", "acVoltage": 2205, "acCurrent": 52,
//                  "dcVoltage": 540, "dcCurrent": 185, "batteryCurrent": -200,
//                  "rackTemperature": 255, "words": [5400, 90, 250, 333, 330],
//                  "bytes": [0, 14, 0], "detail": 9, "code": 24, "occurred": true },
//                "1803050E0709...": a whole record as 68 hex digits ],
//     "event": [ { "time": "2024-03-05T14:07:09", "code": 15, "value": -10 },
//                "18030E...": a whole record as 20 hex digits ] }
// Every field of an object but "time" and "code" may be left out (0, released). Words take
// 0..65535, and the signed ones (battery current, rack temperature, event value) also
// -32768..-1. Anything unknown or out of range is an error, so that a typing mistake in a
// test's log does not pass silently. At most 5000 records a log.
bool parseLogContent(const QByteArray &json, LogContent *out, QString *error);
// Reads a file of the simulator (a log file, a scenario): at most FileLimit + 1 bytes are read,
// so a device that never ends (/dev/zero) is refused as soon as it passes the limit.
constexpr qint64 FileLimit = 16 * 1024 * 1024;
bool readSimFile(const QString &path, QByteArray *out, QString *error);
bool readLogFile(const QString &path, LogContent *out, QString *error);

// `count` event records of a controller's everyday life (settings, calibrations, tests,
// resets), the oldest first, the newest shortly before `before`; the same seed gives the
// same records.
QList<QByteArray> sampleEventLog(int count, const QDateTime &before, std::uint32_t seed);

} // namespace qeln::sim
