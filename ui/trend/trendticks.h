#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace qeln {

// The ticks of a value axis: a round step (1, 2 or 5 times a power of ten), the range it
// spans (whole steps around the data) and the ticks in it.
struct ValueTicks {
    double lo = 0;
    double hi = 1;
    double step = 1;
    int decimals = 0; // what a tick label needs to show the step
    QList<double> at;
};

// Round ticks for data within [lo, hi], at most about `maxTicks` intervals and no finer than
// `finest` (the data's resolution: whole percent gets no 94.5 %). The range never reaches below
// zero when `lo` is not negative; a flat line gets a range around its value.
ValueTicks valueTicks(double lo, double hi, int maxTicks, double finest = 0);
QString valueTickLabel(double value, int decimals);

// The ticks of the time axis in local time: every whole 1, 2, 5, 10, 15 or 30 seconds,
// minutes, hours (1, 2, 3, 6, 12) or days, at most about `maxTicks` in [from, to].
struct TimeTicks {
    qint64 step = 0;
    QList<qint64> at;
};
TimeTicks timeTicks(qint64 from, qint64 to, int maxTicks);
// A tick's label: the time of day by the step ("14:05", "14:05:30") or the date for steps of a
// day and more; `withDate` adds the date (or, for days, the year) on a second line.
QString timeTickLabel(qint64 time, qint64 step, bool withDate);

} // namespace qeln
