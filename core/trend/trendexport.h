#pragma once

#include "trend/trendstore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace qeln::trend {

// What to export: the channels in their order, the span [from, to], and the step (0: every
// recorded status; otherwise one row per step that holds a value, with each channel's mean
// and, beside it, its min and max).
struct TrendExport {
    QList<int> channels;
    qint64 from = 0;
    qint64 to = 0;
    qint64 stepMs = 0;
};

// The header: `time`, then per channel `<channel>_<unit>` ("dc_voltage_volts"), with a step
// also `<channel>_min_<unit>` and `<channel>_max_<unit>` after it.
QStringList trendHeaders(const QList<int> &channels, bool stepped);
// A unit as a word for headers: "volts", "amperes", "celsius", "percent", "seconds".
QString unitWord(const QString &unit);

// The export's rows in time order, read in pieces (an hour of statuses, or a few hours of
// steps, at a time) inside one snapshot of the file, so that memory stays small however long
// the span. `row` gets each row's time and its cells in header order (NaN: no value; stepped
// means rounded to the channel's resolution); returning false stops. False when stopped.
bool forEachTrendRow(TrendStore &store, const TrendExport &what,
                     const std::function<bool(qint64 t, const std::vector<double> &cells)> &row);

// Streams the export as CSV (UTF-8, LF line ends; times ISO 8601 with the UTC offset; a cell
// without a value empty) to `write`, in pieces of some kilobytes. False when a write failed.
bool streamTrendCsv(TrendStore &store, const TrendExport &what, const std::function<bool(const QByteArray &)> &write,
                    qint64 *rows = nullptr);

// Writes the export to `path` (.csv, or .xlsx with real date-times and numbers), streamed;
// an existing file is never replaced: that is an error. False with the reason in `error`.
bool exportTrendFile(TrendStore &store, const TrendExport &what, const QString &path, QString &error,
                     qint64 *rows = nullptr);

// The same into `dir` under the first free name of `name` ("-2", "-3", ... before the
// extension): the path written, or an empty text with the reason in `error`. The trend
// window's export.
QString exportTrendInto(TrendStore &store, const TrendExport &what, const QString &dir, const QString &name,
                        QString &error, qint64 *rows = nullptr);

// The decimals the status page shows for each channel (from the scale of its reading in a
// status decoded from `registers`); the clock offset in whole seconds.
std::vector<int> channelDecimals(const Registers &registers);

// A number as the page shows it: the shortest text that reads back as the same double.
QString numberText(double value);

} // namespace qeln::trend
