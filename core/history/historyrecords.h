#pragma once

#include "link/request.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qeln::history {

using qeln::LogKind;

// ---- Formatters of the history grids (their texts are fixed: exports and habits rely on them)
QString FormatTenthsBlankZero(int value);
QString FormatTenthsTwoDigit(int value);
QString FormatHundredths(int value);

// ---- Text tables
QString alarmCodeText(int code);                          // "AC Input Fail", ..., "" for unknown
QString batteryDetailText(int alarmCode, int occurrence, int detail); // cell 15
QString eventName(int code);                              // "" for unknown, 27, 28, 49
QString eventValueText(int code, int value);              // cell 4 of the event log

// ---- Grid layout
QStringList alarmHeaders();       // 16 headers of frmHistory
QStringList eventHeaders();       // 6 headers of frmEventHistory (the last one empty)
QList<int> alarmColumnWidths();   // 16 widths
QList<int> eventColumnWidths();   // 6 widths

// ---- Records
struct AlarmRecord {
    int year = 0; // years after 2000, as the byte holds them
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int acVoltage = 0, acCurrent = 0, dcVoltage = 0, dcCurrent = 0;
    int batteryCurrent = 0, rackTemperature = 0; // 16-bit two's complement, as received
    int detail = 0, code = 0, occurrence = 0;
};
struct EventRecord {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int code = 0, value = 0;
};

// Decoders of an answer's payload as the engine hands it over: the bytes after the function
// code (on TCP a record has a skipped byte in front of its fields). A payload of any other
// size gives nothing.
std::optional<AlarmRecord> decodeAlarmRecord(const QByteArray &payload, bool tcp);
std::optional<EventRecord> decodeEventRecord(const QByteArray &payload, bool tcp);
// The record count (the second value of the answer is read and not used).
std::optional<int> decodeCount(const QByteArray &payload, bool tcp);

// The grid row of a record; index is the row number (1 = first record row).
QStringList alarmRow(int index, const AlarmRecord &record); // 16 cells
QStringList eventRow(int index, const EventRecord &record); // 5 cells

// The completion message: decimal count + " History data" + CR + "are Saved!!".
QString completionText(int count);

} // namespace qeln::history
