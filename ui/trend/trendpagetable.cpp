// The trend page's cursor table: each channel's value at the cursors, their difference and
// min/mean/max between them, at the channel's resolution.

#include "trendpage.h"

#include "plant/plantstatus.h"
#include "trendchart.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTableWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cmath>

namespace qeln {

using trend::Bucket;
using trend::channels;
using trend::ChannelCount;
using trend::HourMs;
using trend::MinuteMs;
using trend::Quantity;

namespace {

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace


QString TrendPage::durationText(qint64 ms)
{
    const qint64 s = std::llabs(ms) / 1000;
    const qint64 d = s / 86400, h = s % 86400 / 3600, m = s % 3600 / 60, sec = s % 60;
    QString out;
    if (d)
        out += QStringLiteral("%1 d ").arg(d);
    if (d || h)
        out += QStringLiteral("%1 h ").arg(h);
    if (d || h || m)
        out += QStringLiteral("%1 min ").arg(m);
    out += QStringLiteral("%1 s").arg(sec);
    return (ms < 0 ? QStringLiteral("-") : QString()) + out;
}

trend::ChannelValues TrendPage::valuesAt(qint64 time)
{
    trend::ChannelValues out;
    out.fill(trend::NoValue);
    if (!store_)
        return out;
    // The value in effect at the cursor: the last status at or before it (within five minutes),
    // else the first one after it, for a cursor before the recording starts.
    const QList<trend::StatusRow> rows = store_->statuses(time - 5 * MinuteMs, time + 5 * MinuteMs);
    for (int c = 0; c < ChannelCount; ++c) {
        const trend::StatusRow *before = nullptr;
        const trend::StatusRow *after = nullptr;
        for (const trend::StatusRow &row : rows) {
            if (!trend::hasValue(row.values[size_t(c)]))
                continue;
            if (row.t <= time)
                before = &row;
            else if (!after)
                after = &row;
        }
        if (const trend::StatusRow *best = before ? before : after)
            out[size_t(c)] = best->values[size_t(c)];
    }
    return out;
}

QString TrendPage::valueText(std::optional<double> value, int channel) const
{
    if (!value)
        return QStringLiteral("—");
    // At the channel's resolution, as the status page shows it ("54.0 V").
    const int decimals = decimals_[size_t(channel)];
    double v = *value;
    if (std::abs(v) < 0.5 * std::pow(10.0, -decimals))
        v = 0; // no "-0.0"
    return QString::number(v, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(channels()[size_t(channel)].unit);
}

void TrendPage::updateTable()
{
    const auto a = cursors_[0], b = cursors_[1];
    if (a && b)
        setDeltaText(QStringLiteral("A %1, B %2, Δt = %3").arg(timeText(*a), timeText(*b), durationText(*b - *a)));
    else if (a || b)
        setDeltaText(QStringLiteral("%1 %2; Shift+click (or click) places the other cursor")
                         .arg(a ? QStringLiteral("A") : QStringLiteral("B"), timeText(a ? *a : *b)));
    if (table_->rowCount() != shown_.size()) {
        // A row for each channel (three to eight shown, the table scrolls beyond); the chart
        // takes the rest of the height.
        table_->setRowCount(int(shown_.size()));
        const int rows = std::clamp(int(shown_.size()), 3, 8);
        table_->setFixedHeight(table_->horizontalHeader()->sizeHint().height() + rows * table_->verticalHeader()->defaultSectionSize()
                               + 2 * table_->frameWidth() + 2);
    }
    // Min, mean and max between the cursors: from the statuses up to six hours apart, from the
    // minute summaries beyond.
    QList<QList<Bucket>> between;
    if (a && b && store_) {
        const qint64 lo = std::min(*a, *b), hi = std::max(*a, *b);
        between = hi - lo <= 6 * HourMs ? store_->buckets(shown_, lo, hi, std::max<qint64>(hi - lo + 1, 1000))
                                        : store_->buckets(shown_, lo, hi, MinuteMs);
    }
    trend::ChannelValues atA, atB;
    atA.fill(trend::NoValue);
    atB.fill(trend::NoValue);
    if (a && !shown_.isEmpty())
        atA = valuesAt(*a);
    if (b && !shown_.isEmpty())
        atB = valuesAt(*b);
    auto known = [](double v) { return trend::hasValue(v) ? std::optional<double>(v) : std::nullopt; };
    for (qsizetype row = 0; row < shown_.size(); ++row) {
        const int c = shown_.at(row);
        const auto va = known(atA[size_t(c)]);
        const auto vb = known(atB[size_t(c)]);
        std::optional<double> mn, mx, mean;
        if (row < between.size() && !between.at(row).isEmpty()) {
            double sum = 0;
            qint64 n = 0;
            for (const Bucket &k : between.at(row)) {
                mn = mn ? std::min(*mn, k.min) : k.min;
                mx = mx ? std::max(*mx, k.max) : k.max;
                sum += k.mean * double(k.n);
                n += k.n;
            }
            if (n > 0)
                mean = sum / double(n);
        }
        const QString cells[7] = {QString::fromUtf8(channels()[size_t(c)].caption), valueText(va, c), valueText(vb, c),
                                  valueText(va && vb ? std::optional<double>(*vb - *va) : std::nullopt, c),
                                  valueText(mn, c), valueText(mean, c), valueText(mx, c)};
        for (int col = 0; col < 7; ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            if (col == 0)
                item->setIcon(pickerItems_.value(c)->icon(0));
            else
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(int(row), col, item);
        }
    }
}

} // namespace qeln
