#include "historyexport.h"

#include "app/newfile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcHistoryExport, "qeln.history.export", QtWarningMsg)

namespace qeln::history {

namespace {

// Grid columns copied per row: the alarm history's 16, and 11 for the event log (whose grid
// has 6, so the rest stay empty).
constexpr int AlarmExportColumns = 16;
constexpr int EventExportColumns = 11;
// The date column of both grids.
constexpr int DateColumn = 1;
// Shown as "yyyy/mm/dd": ten characters wide.
constexpr int DateDisplayUnits = 10;
// A folder never holds more exports of one second than this; past it the export fails
// instead of searching on.
constexpr int MaxNameSuffix = 9999;
// The widest column a spreadsheet allows.
constexpr double MaxColumnWidth = 255.0;

// East Asian wide characters take about two columns of a spreadsheet's default font.
bool isWide(char32_t u)
{
    return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0x303E) || (u >= 0x3041 && u <= 0x33FF)
        || (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xA960 && u <= 0xA97F)
        || (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F)
        || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6) || (u >= 0x20000 && u <= 0x3FFFD);
}

int displayUnits(const QString &text)
{
    int units = 0;
    for (const char32_t u : text.toUcs4())
        units += isWide(u) ? 2 : 1;
    return units;
}

// A grid date "yyyy-MM-dd" as a spreadsheet date; anything else stays text.
std::optional<QDate> gridDate(const QString &cell)
{
    if (cell.size() != 10 || cell.at(4) != QLatin1Char('-') || cell.at(7) != QLatin1Char('-'))
        return std::nullopt;
    for (const int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (cell.at(i) < QLatin1Char('0') || cell.at(i) > QLatin1Char('9'))
            return std::nullopt;
    }
    const QDate date(cell.left(4).toInt(), cell.mid(5, 2).toInt(), cell.mid(8, 2).toInt());
    // Spreadsheet dates begin with 1900.
    if (!date.isValid() || date.year() < 1900)
        return std::nullopt;
    return date;
}

// Path and file names are local 8-bit bytes; a model text could in principle carry a
// separator, which must not lead the file elsewhere.
QString safeFileName(QString name)
{
    for (QChar &c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    return name;
}

// Writes the whole workbook to path. Returns an empty text, or the reason it failed.
QString buildWorkbook(const QString &path, const QString &modelText, const HistoryTable &table)
{
    lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
    if (!book)
        return QStringLiteral("the spreadsheet library could not start a workbook");
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    lxw_format *dateFormat = workbook_add_format(book);
    if (!sheet || !dateFormat) {
        workbook_close(book);
        return QStringLiteral("the spreadsheet library could not start a worksheet");
    }
    format_set_num_format(dateFormat, "yyyy/mm/dd");

    lxw_error firstError = LXW_NO_ERROR;
    const auto keep = [&firstError](lxw_error e) {
        if (e != LXW_NO_ERROR && firstError == LXW_NO_ERROR)
            firstError = e;
    };
    const int columns = table.kind == LogKind::Alarm ? AlarmExportColumns : EventExportColumns;
    QList<int> widthUnits(columns, 0);

    // Every cell is a string, so "001" stays "001" and "  0 V" keeps its blanks. An empty cell
    // is written as nothing.
    const auto writeText = [&](lxw_row_t row, int column, const QString &text) {
        widthUnits[column] = std::max(widthUnits[column], displayUnits(text));
        if (!text.isEmpty())
            keep(worksheet_write_string(sheet, row, lxw_col_t(column), text.toUtf8().constData(), nullptr));
    };

    keep(worksheet_write_string(sheet, 0, 0, (modelText + QStringLiteral("Log Data")).toUtf8().constData(), nullptr));
    for (int c = 0; c < std::min<int>(columns, int(table.headers.size())); ++c)
        writeText(1, c, table.headers.at(c));
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        const QStringList &cells = table.rows.at(r);
        const auto row = lxw_row_t(r + 2);
        for (int c = 0; c < std::min<int>(columns, int(cells.size())); ++c) {
            const QString &text = cells.at(c);
            if (c == DateColumn) {
                if (const auto date = gridDate(text)) {
                    lxw_datetime value = {date->year(), date->month(), date->day(), 0, 0, 0.0};
                    keep(worksheet_write_datetime(sheet, row, lxw_col_t(c), &value, dateFormat));
                    widthUnits[c] = std::max(widthUnits[c], DateDisplayUnits);
                    continue;
                }
            }
            writeText(row, c, text);
        }
    }

    // Fitted to the grid's texts; the title in A1 runs over into the empty cells beside it.
    for (int c = 0; c < columns; ++c) {
        if (widthUnits[c] > 0) {
            const double width = std::min(MaxColumnWidth, double(widthUnits[c]) + 1.0);
            keep(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), width, nullptr));
        }
    }

    // Closing writes the file, and frees the workbook whatever happened before.
    errno = 0;
    const lxw_error closed = workbook_close(book);
    const int closeErrno = errno;
    const lxw_error error = firstError != LXW_NO_ERROR ? firstError : closed;
    if (error == LXW_NO_ERROR)
        return QString();
    QString reason = QString::fromUtf8(lxw_strerror(error));
    // The library names its own step ("Zip generic error ZIP_ERRNO ..."); the system's words
    // say what the operator can do about it (a full disk, a missing permission).
    const bool fileError = closed == error
        && (error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE
            || error == LXW_ERROR_READING_TMPFILE || error == LXW_ERROR_ZIP_FILE_OPERATION
            || error == LXW_ERROR_ZIP_FILE_ADD || error == LXW_ERROR_ZIP_CLOSE);
    if (fileError && closeErrno != 0) {
        while (reason.endsWith(QLatin1Char('.')))
            reason.chop(1);
        reason += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(closeErrno));
    }
    return reason;
}

QString failure(const QString &where, QString reason)
{
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return QStringLiteral("The history could not be exported to \"%1\": %2.")
        .arg(QDir::toNativeSeparators(where), reason);
}

// Writes the workbook under the first free name that nameFor(1), nameFor(2), ... gives in dir.
QString writeUnderFreeName(const QDir &dir, const std::function<QString(int)> &nameFor, int lastSuffix,
                           const QString &modelText, const HistoryTable &table, QString *error)
{
    QString reason;
    QString where;
    const QString path = newfile::writeUnderFreeName(
        dir, nameFor, lastSuffix, [&](const QString &file) { return buildWorkbook(file, modelText, table); },
        &reason, &where);
    if (path.isEmpty()) {
        const QString text = failure(where, reason);
        qCWarning(lcHistoryExport) << "export failed:" << text;
        if (error)
            *error = text;
        return QString();
    }
    qCDebug(lcHistoryExport) << "exported" << table.rows.size() << "rows to" << path;
    return path;
}

// Why a folder cannot take an export, as the operator reads it; empty when it can.
QString folderFailure(const QString &dir)
{
    const QString problem = newfile::folderProblem(dir);
    return problem.isEmpty() ? QString() : failure(QFileInfo(dir).absoluteFilePath(), problem);
}

QString csvField(const QString &cell)
{
    const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"'))
        || cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\n'));
    if (!quote)
        return cell;
    QString quoted = cell;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString exportFileName(const QString &modelText, LogKind kind, const QTime &time)
{
    return modelText + (kind == LogKind::Alarm ? QStringLiteral("_ALARM_(") : QStringLiteral("_EVENT_("))
        + time.toString(QStringLiteral("hhmmss")) + QStringLiteral(").xlsx");
}

QString exportWorkbook(const QString &dir, const QString &modelText, const HistoryTable &table,
                       const QDateTime &now, QString *error)
{
    const QString dirPath = dir.isEmpty() ? QDir::currentPath() : dir;
    if (const QString text = folderFailure(dirPath); !text.isEmpty()) {
        qCWarning(lcHistoryExport) << "export failed:" << text;
        if (error)
            *error = text;
        return QString();
    }
    // A name that is taken (an export earlier in the same second, a file left by someone
    // else) gets "-2", "-3", ... before the extension: no earlier file is ever replaced.
    const QString base = safeFileName(exportFileName(modelText, table.kind, now.time()));
    return writeUnderFreeName(QDir(QFileInfo(dirPath).absoluteFilePath()), newfile::numberedNames(base), MaxNameSuffix,
                              modelText, table, error);
}

bool writeWorkbookFile(const QString &path, const QString &modelText, const HistoryTable &table, QString *error)
{
    const QFileInfo info(path);
    if (const QString text = folderFailure(info.absolutePath()); !text.isEmpty()) {
        if (error)
            *error = text;
        return false;
    }
    const QString name = info.fileName();
    const auto nameFor = [&name](int) { return name; };
    return !writeUnderFreeName(QDir(info.absolutePath()), nameFor, 1, modelText, table, error).isEmpty();
}

QByteArray csvBytes(const HistoryTable &table)
{
    QString text;
    const auto appendLine = [&text](const QStringList &cells, qsizetype width) {
        for (qsizetype c = 0; c < std::max(width, cells.size()); ++c) {
            if (c > 0)
                text += QLatin1Char(',');
            if (c < cells.size())
                text += csvField(cells.at(c));
        }
        text += QStringLiteral("\r\n");
    };
    if (!table.headers.isEmpty())
        appendLine(table.headers, 0);
    // Every record line has as many fields as the header (the event grid's sixth column is
    // empty in every row).
    for (const QStringList &row : table.rows)
        appendLine(row, table.headers.size());
    return text.toUtf8();
}

} // namespace qeln::history
