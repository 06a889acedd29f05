#pragma once

#include "config/writeplan.h"

#include <QDateTime>
#include <QString>

namespace qeln::config::clocksetting {

// The controller's real-time clock: registers 1..6 hold year (full, 2023), month, day,
// hour, minute and second as plain numbers.
inline constexpr int YearRegister = 1;
inline constexpr int MonthRegister = 2;
inline constexpr int DayRegister = 3;
inline constexpr int HourRegister = 4;
inline constexpr int MinuteRegister = 5;
inline constexpr int SecondRegister = 6;

// Bounds of the dialog's controls.
inline constexpr int MinYear = 2001;
inline constexpr int MaxYear = 2999;

// Divisible by 4 and either not by 100 or by 400: 2024 and 2400 are, 2023 and 2100 are not.
bool isLeapYear(int year);
// 31, 28/29, 31, 30, ... ; 0 for a month outside 1..12.
int daysInMonth(int year, int month);

// The month calendar's shown year and month and its selected day. Always a valid date once
// set up; the setters leave it unchanged for a value they cannot take.
struct CalendarDate {
    int year = MinYear;
    int month = 1;
    int day = 1;
    friend bool operator==(const CalendarDate &, const CalendarDate &) = default;
};
// Year 0 or less: unchanged. A selected day beyond the new year's month (29 February
// into a common year) moves to the month's last day, so the date stays real.
CalendarDate withYear(CalendarDate date, int year);
// Month outside 1..12: unchanged. A selected day beyond the new month moves to its last day.
CalendarDate withMonth(CalendarDate date, int month);
// Day 0 or less or beyond the shown month: unchanged.
CalendarDate withDay(CalendarDate date, int day);

// Keeping the calendar in step with the year box and the month box, run whenever either
// text changes. Stops (calendar unchanged) when the year text is not a year of 2001..2999
// (empty or half typed) or the month text is empty. Otherwise, for a month 1..12, the selected day moves to the month's last
// day first if it is beyond it; then the calendar takes the month (ignored outside 1..12,
// so a typed "13" changes neither month nor day), then the year.
CalendarDate followFields(CalendarDate calendar, const QString &yearText,
                          const QString &monthText);

// What the dialog's "설정" reads: the texts of the year, month, hour, minute and second boxes
// as they stand (typed and not yet left included) and the calendar's selected day.
struct Fields {
    QString year;
    QString month;
    int day = 0;  // 0: no day selected
    QString hour;
    QString minute;
    QString second;
};

// The writes of "설정" in the dialog's order: (6, second), (1, year), (2, month), (3, day),
// (4, hour), (5, minute); the controller receives minute first and second last.
// Refused, naming the first box (in the order year, month, day, hour, minute, second) that
// is empty, not a whole number (the standard conversion text) or outside its range (year
// 2001..2999, month 1..12, day 1..days of that month, hour 0..23, minute and second 0..59):
// "시 (hour): 25 is outside 0..23; nothing was sent." Nothing is ever sent in place of what
// a box holds.
WritePlan plan(const Fields &fields);

// The boxes of the dialog, in its order.
enum class Field { Year, Month, Day, Hour, Minute, Second };
// Why a box's text cannot be written, without the closing "; nothing was sent.": "년 (year):
// the box is empty", "시 (hour): 25 is outside 0..23"; empty when it can. `high` replaces the
// upper bound when above 0. The day comes from the calendar and is checked by plan().
QString fieldProblem(Field which, const QString &text, int high = 0);
// The same six writes for a date and time (qeln-cli clock set / clock sync). An invalid
// QDateTime or a year outside 2001..2999 is refused with a message.
WritePlan plan(const QDateTime &when);
// The dialog's fields filled from a date and time, as "현재 날짜/시간" does: plain numbers,
// the month without a leading zero.
Fields fieldsFrom(const QDateTime &when);

} // namespace qeln::config::clocksetting
