#pragma once

#include "trend/trendstore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace qeln::trend {

// A span of a recording as a table: a header `time,<channel>,...` and one row per recorded
// status, or with a step one row per step with each channel's mean and, beside it,
// `<channel>_min` and `<channel>_max`. Times are ISO 8601 with the UTC offset; numbers as
// the status page shows them, with a dot; a channel without a value there has an empty cell.
struct TrendTable {
    QStringList headers;
    QList<QStringList> rows;
};

TrendTable trendTable(TrendStore &store, const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs);

// The table as CSV (UTF-8, LF line ends).
QByteArray trendCsv(const TrendTable &table);

// Writes the table to `path` (.csv, or .xlsx with the numbers as numbers); an existing file
// is never replaced: that is an error. Returns false with the reason in `error`.
bool writeTrendFile(const QString &path, const TrendTable &table, QString &error);

// Writes into `dir` under the first free name of `name` ("-2", "-3", ... before the
// extension). The path written, or an empty text with the reason in `error`.
QString writeTrendFileInto(const QString &dir, const QString &name, const TrendTable &table, QString &error);

// A number as the page shows it: the shortest text that reads back as the same double.
QString numberText(double value);

} // namespace qeln::trend
