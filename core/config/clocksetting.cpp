#include "clocksetting.h"

#include <QDate>
#include <QTime>

#include <algorithm>

namespace qeln::config::clocksetting {

bool isLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int daysInMonth(int year, int month)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    if (month == 2 && isLeapYear(year))
        return 29;
    return days[month - 1];
}

CalendarDate withYear(CalendarDate date, int year)
{
    if (year <= 0)
        return date;
    date.year = year;
    date.day = std::min(date.day, daysInMonth(date.year, date.month));
    return date;
}

CalendarDate withMonth(CalendarDate date, int month)
{
    if (month < 1 || month > 12)
        return date;
    date.month = month;
    date.day = std::min(date.day, daysInMonth(date.year, date.month));
    return date;
}

CalendarDate withDay(CalendarDate date, int day)
{
    if (day <= 0 || day > daysInMonth(date.year, date.month))
        return date;
    date.day = day;
    return date;
}

QString yearTextAfterEdit(const QString &text)
{
    return text.isEmpty() ? QString::number(MinYear) : text;
}

CalendarDate followFields(CalendarDate calendar, const QString &yearText,
                          const QString &monthText)
{
    // The year box's value: a text that is not a number counts as the lower bound, and the
    // value is held within the box's bounds, as a spin box reports it while being typed in.
    bool ok = false;
    int year = yearText.toInt(&ok);
    if (!ok)
        year = MinYear;
    year = std::clamp(year, MinYear, MaxYear);
    if (year == 0 || monthText.isEmpty())
        return calendar;
    const int month = monthText.toInt(&ok);
    if (!ok)
        return calendar;
    const int days = daysInMonth(year, month);
    if (days > 0 && calendar.day > days)
        calendar.day = days;
    calendar = withMonth(calendar, month);
    return withYear(calendar, year);
}

namespace {

struct ClockField {
    const char *label; // the dialog's label, UTF-8
    const char *name;
    int width;
    int low;
    int high;
};

// A box's number as the dialog reads it; `text` is known not to be empty.
bool readNumber(const QString &text, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

int digitCount(int value)
{
    return QString::number(value < 0 ? -static_cast<long long>(value) : value).size();
}

QString outOfRange(const ClockField &field, int value, int high)
{
    return QStringLiteral("%1 (%2): %3 is outside %4..%5; nothing was sent.")
        .arg(QString::fromUtf8(field.label), QLatin1String(field.name))
        .arg(value)
        .arg(field.low)
        .arg(high);
}

} // namespace

WritePlan plan(const Fields &fields)
{
    enum { Year, Month, Day, Hour, Minute, Second, Count };
    static const ClockField limits[Count] = {
        {"년", "year", 4, MinYear, MaxYear}, {"월", "month", 2, 1, 12},
        {"일", "day", 2, 1, 31},             {"시", "hour", 2, 0, 23},
        {"분", "minute", 2, 0, 59},          {"초", "second", 2, 0, 59},
    };
    const QString *texts[Count] = {&fields.year, &fields.month, nullptr,
                                   &fields.hour, &fields.minute, &fields.second};

    int values[Count] = {};
    bool present[Count] = {};
    // Every box that has a text is read first: a text that is no number is an error even
    // when another box is empty.
    for (int i = 0; i < Count; ++i) {
        if (i == Day) {
            present[i] = fields.day > 0;
            values[i] = fields.day;
            continue;
        }
        if (texts[i]->isEmpty())
            continue;
        if (!readNumber(*texts[i], &values[i]))
            return WritePlan::refuse(notIntegerMessage(*texts[i]));
        present[i] = true;
    }
    // A missing box, or a number wider than its box once padded: nothing, without a word.
    for (int i = 0; i < Count; ++i) {
        if (!present[i] || digitCount(values[i]) > limits[i].width)
            return WritePlan();
    }
    for (int i = 0; i < Count; ++i) {
        int high = limits[i].high;
        if (i == Day)
            high = daysInMonth(values[Year], values[Month]);
        if (values[i] < limits[i].low || values[i] > high)
            return WritePlan::refuse(outOfRange(limits[i], values[i], high));
    }

    WritePlan out;
    out.writes = {
        {SecondRegister, values[Second]}, {YearRegister, values[Year]},
        {MonthRegister, values[Month]},   {DayRegister, values[Day]},
        {HourRegister, values[Hour]},     {MinuteRegister, values[Minute]},
    };
    return out;
}

Fields fieldsFrom(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    Fields f;
    f.year = QString::number(d.year());
    f.month = QString::number(d.month());
    f.day = d.day();
    f.hour = QString::number(t.hour());
    f.minute = QString::number(t.minute());
    f.second = QString::number(t.second());
    return f;
}

WritePlan plan(const QDateTime &when)
{
    if (!when.isValid())
        return WritePlan::refuse(QStringLiteral("not a valid date and time; nothing was sent."));
    const int year = when.date().year();
    if (year < MinYear || year > MaxYear) {
        return WritePlan::refuse(
            QStringLiteral("year %1 is outside %2..%3; nothing was sent.")
                .arg(year)
                .arg(MinYear)
                .arg(MaxYear));
    }
    return plan(fieldsFrom(when));
}

} // namespace qeln::config::clocksetting
