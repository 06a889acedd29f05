#pragma once

#include "history/historyrecords.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace qeln::history {

// The export of a downloaded history grid.
struct HistoryTable {
    LogKind kind = LogKind::Alarm;
    QStringList headers;       // the grid's row 0
    QList<QStringList> rows;   // the grid's record rows, row 1 first
};

// modelText + "_ALARM_(" or "_EVENT_(" + hhmmss + ").xlsx", e.g. " QELN-2K_ALARM_(143005).xlsx".
QString exportFileName(const QString &modelText, LogKind kind, const QTime &time);

// Writes the workbook into dir: title modelText + "Log Data" in A1, the header row in row 2,
// the records from row 3 (alarm history columns 0..15, event log 0..10, the missing ones
// empty), the date column as real dates formatted "yyyy/mm/dd", every other cell as text,
// column widths from the text. Never replaces a file ("-2", "-3", ... before ".xlsx"); written
// to a temporary file and renamed. Returns the path written, or an empty text with the reason.
QString exportWorkbook(const QString &dir, const QString &modelText, const HistoryTable &table,
                       const QDateTime &now, QString *error);

// The same workbook under exactly `path` (for callers that name the file themselves): written
// to a temporary file beside it and renamed; an existing file is never replaced, that is an
// error. Returns false with the reason in *error.
bool writeWorkbookFile(const QString &path, const QString &modelText, const HistoryTable &table,
                       QString *error);

// The same table as CSV (UTF-8, one header row, the grid's cells, CR LF line ends).
QByteArray csvBytes(const HistoryTable &table);

} // namespace qeln::history
