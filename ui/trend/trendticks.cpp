#include "trendticks.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>

namespace qeln {

namespace {

constexpr qint64 SecondMs = 1000;
constexpr qint64 MinuteMs = 60 * SecondMs;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;

// The smallest of 1, 2, 5 times a power of ten that is at least `raw`.
double roundStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    }
    return 10 * power;
}

} // namespace

ValueTicks valueTicks(double lo, double hi, int maxTicks, double finest)
{
    ValueTicks out;
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return valueTicks(0, 1, maxTicks, finest);
    if (hi < lo)
        std::swap(lo, hi);
    const bool nonNegative = lo >= 0;
    maxTicks = std::max(maxTicks, 2);
    if (hi - lo < 1e-9 * std::max(1.0, std::abs(hi))) {
        // A flat line: a range around it, so that it shows in the middle.
        const double around = std::max({std::abs(lo) * 0.02, 0.5, 2 * finest});
        lo -= around;
        hi += around;
    }
    double step = roundStep(std::max((hi - lo) / maxTicks, finest));
    for (;;) {
        double bottom = std::floor(lo / step) * step;
        double top = std::ceil(hi / step) * step;
        // A line on the frame (or a pixel or two from it) is hard to see: a step of room where
        // the data comes that close.
        if (lo - bottom < step * 0.1 && lo != 0)
            bottom -= step;
        if (top - hi < step * 0.1)
            top += step;
        if (nonNegative)
            bottom = std::max(bottom, 0.0);
        if ((top - bottom) / step <= maxTicks + 2.5) {
            out.lo = bottom;
            out.hi = top;
            break;
        }
        step = roundStep(step * 1.5);
    }
    out.step = step;
    out.decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    const qint64 first = qint64(std::llround(out.lo / step));
    const qint64 last = qint64(std::llround(out.hi / step));
    for (qint64 k = first; k <= last; ++k)
        out.at.append(double(k) * step);
    return out;
}

QString valueTickLabel(double value, int decimals)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0; // no "-0"
    return QString::number(value, 'f', decimals);
}

TimeTicks timeTicks(qint64 from, qint64 to, int maxTicks)
{
    static constexpr std::array<qint64, 29> Steps = {
        SecondMs,      2 * SecondMs,  5 * SecondMs,  10 * SecondMs, 15 * SecondMs, 30 * SecondMs,
        MinuteMs,      2 * MinuteMs,  5 * MinuteMs,  10 * MinuteMs, 15 * MinuteMs, 30 * MinuteMs,
        HourMs,        2 * HourMs,    3 * HourMs,    6 * HourMs,    12 * HourMs,   DayMs,
        2 * DayMs,     5 * DayMs,     10 * DayMs,    15 * DayMs,    30 * DayMs,    60 * DayMs,
        90 * DayMs,    180 * DayMs,   360 * DayMs,   720 * DayMs,   1800 * DayMs};
    TimeTicks out;
    if (to <= from)
        return out;
    maxTicks = std::max(maxTicks, 1);
    out.step = Steps.back();
    for (qint64 s : Steps) {
        if ((to - from) / s <= maxTicks) {
            out.step = s;
            break;
        }
    }
    if (out.step < DayMs) {
        // Whole steps of the local clock, each with the offset from UTC in force there (a
        // change to or from summer time moves the ticks with the clock).
        auto offsetAt = [](qint64 t) { return qint64(QDateTime::fromMSecsSinceEpoch(t).offsetFromUtc()) * 1000; };
        const qint64 start = offsetAt(from);
        const qint64 first = from + start;
        for (qint64 local = (first / out.step + (first % out.step > 0 ? 1 : 0)) * out.step;; local += out.step) {
            const qint64 t = local - offsetAt(local - start);
            if (t > to)
                break;
            if (t >= from && (out.at.isEmpty() || t > out.at.last()))
                out.at.append(t);
        }
        return out;
    }
    // Days: local midnights on days whose number is a multiple of the step.
    const qint64 days = out.step / DayMs;
    QDate date = QDateTime::fromMSecsSinceEpoch(from).date();
    date = date.addDays((days - date.toJulianDay() % days) % days);
    for (;; date = date.addDays(days)) {
        const qint64 t = QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
        if (t > to)
            break;
        if (t >= from)
            out.at.append(t);
    }
    return out;
}

QString timeTickLabel(qint64 time, qint64 step, bool withDate)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(time);
    if (step >= DayMs)
        return local.toString(withDate ? QStringLiteral("MM-dd\nyyyy") : QStringLiteral("MM-dd"));
    const QString clock = local.toString(step < MinuteMs ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
    return withDate ? clock + QLatin1Char('\n') + local.toString(QStringLiteral("yyyy-MM-dd")) : clock;
}

} // namespace qeln
