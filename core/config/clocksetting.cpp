#include "clocksetting.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <utility>

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

CalendarDate followFields(CalendarDate calendar, const QString &yearText,
                          const QString &monthText)
{
    // A year box that does not hold a year of its range (empty, or half typed) leaves the
    // calendar as it is, until it does.
    bool ok = false;
    const int year = yearText.toInt(&ok);
    if (!ok || year < MinYear || year > MaxYear || monthText.isEmpty())
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

struct ClockLimits {
    const char *label; // the dialog's label, UTF-8
    const char *name;
    int low;
    int high;
};

constexpr ClockLimits Limits[] = {
    {"년", "year", MinYear, MaxYear}, {"월", "month", 1, 12}, {"일", "day", 1, 31},
    {"시", "hour", 0, 23},            {"분", "minute", 0, 59}, {"초", "second", 0, 59},
};

QString fieldName(Field which)
{
    const ClockLimits &l = Limits[int(which)];
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(l.label), QLatin1String(l.name));
}

QString outOfRange(Field which, int value, int high)
{
    return QStringLiteral("%1: %2 is outside %3..%4")
        .arg(fieldName(which))
        .arg(value)
        .arg(Limits[int(which)].low)
        .arg(high);
}

} // namespace

QString fieldProblem(Field which, const QString &text, int high)
{
    if (which == Field::Day)
        return QString();
    if (text.isEmpty())
        return fieldName(which) + QStringLiteral(": the box is empty");
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return fieldName(which) + QStringLiteral(": ") + notIntegerMessage(text);
    if (high <= 0)
        high = Limits[int(which)].high;
    if (value < Limits[int(which)].low || value > high)
        return outOfRange(which, value, high);
    return QString();
}

WritePlan plan(const Fields &fields)
{
    const QString nothingSent = QStringLiteral("; nothing was sent.");
    const std::pair<Field, const QString *> boxes[] = {
        {Field::Year, &fields.year}, {Field::Month, &fields.month}, {Field::Hour, &fields.hour},
        {Field::Minute, &fields.minute}, {Field::Second, &fields.second}};
    // Every box in the dialog's order; every one that cannot be written names itself.
    QStringList problems;
    for (const auto &[which, text] : boxes) {
        const QString problem = fieldProblem(which, *text);
        if (!problem.isEmpty()) {
            problems << problem;
            continue;
        }
        if (which != Field::Month)
            continue;
        const int days = daysInMonth(fields.year.toInt(), fields.month.toInt());
        if (fields.day <= 0)
            problems << fieldName(Field::Day) + QStringLiteral(": no day is selected");
        else if (fields.day > days)
            problems << outOfRange(Field::Day, fields.day, days);
    }
    if (!problems.isEmpty())
        return WritePlan::refuse(problems.join(QStringLiteral("; ")) + nothingSent);
    WritePlan out;
    out.writes = {
        {SecondRegister, fields.second.toInt()}, {YearRegister, fields.year.toInt()},
        {MonthRegister, fields.month.toInt()},   {DayRegister, fields.day},
        {HourRegister, fields.hour.toInt()},     {MinuteRegister, fields.minute.toInt()},
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
