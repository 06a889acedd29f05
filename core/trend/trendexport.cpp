#include "trendexport.h"

#include "app/newfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

namespace qeln::trend {

namespace {

// Writes the workbook: the header in row 1, the times as text in column A, numbers as numbers.
QString buildWorkbook(const QString &path, const TrendTable &table)
{
    lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
    if (!book)
        return QStringLiteral("the spreadsheet library could not start a workbook");
    lxw_worksheet *sheet = workbook_add_worksheet(book, "trend");
    if (!sheet) {
        workbook_close(book);
        return QStringLiteral("the spreadsheet library could not start a worksheet");
    }
    lxw_error first = LXW_NO_ERROR;
    auto keep = [&first](lxw_error e) {
        if (e != LXW_NO_ERROR && first == LXW_NO_ERROR)
            first = e;
    };
    for (qsizetype c = 0; c < table.headers.size(); ++c)
        keep(worksheet_write_string(sheet, 0, lxw_col_t(c), table.headers.at(c).toUtf8().constData(), nullptr));
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        const QStringList &cells = table.rows.at(r);
        for (qsizetype c = 0; c < cells.size(); ++c) {
            const QString &cell = cells.at(c);
            if (cell.isEmpty())
                continue;
            bool number = false;
            const double value = c > 0 ? cell.toDouble(&number) : 0;
            if (number)
                keep(worksheet_write_number(sheet, lxw_row_t(r + 1), lxw_col_t(c), value, nullptr));
            else
                keep(worksheet_write_string(sheet, lxw_row_t(r + 1), lxw_col_t(c), cell.toUtf8().constData(), nullptr));
        }
    }
    keep(worksheet_set_column(sheet, 0, 0, 30, nullptr));
    const lxw_error closed = workbook_close(book);
    const lxw_error error = first != LXW_NO_ERROR ? first : closed;
    return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
}

std::function<QString(const QString &)> writerFor(const QString &name, const TrendTable &table)
{
    if (name.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return [&table](const QString &file) { return buildWorkbook(file, table); };
    return newfile::bytesWriter(trendCsv(table));
}

} // namespace

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

TrendTable trendTable(TrendStore &store, const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs)
{
    TrendTable table;
    table.headers << QStringLiteral("time");
    const auto &all = trend::channels();
    for (int c : channels) {
        const QString name = QLatin1String(all[size_t(c)].name);
        table.headers << name;
        if (stepMs > 0)
            table.headers << name + QStringLiteral("_min") << name + QStringLiteral("_max");
    }
    auto cell = [](double v) { return hasValue(v) ? numberText(v) : QString(); };
    if (stepMs <= 0) {
        for (const StatusRow &row : store.statuses(from, to)) {
            QStringList cells{isoTime(row.t)};
            for (int c : channels)
                cells << cell(row.values[size_t(c)]);
            table.rows << cells;
        }
        return table;
    }
    const QList<QList<Bucket>> series = store.buckets(channels, from, to, stepMs);
    // One row per step that holds a value of any channel, in time order.
    std::map<qint64, QStringList> rows;
    const int width = int(channels.size()) * 3;
    for (qsizetype i = 0; i < series.size(); ++i) {
        for (const Bucket &b : series.at(i)) {
            QStringList &cells = rows[b.t];
            if (cells.isEmpty())
                cells = QStringList(width, QString());
            cells[i * 3] = numberText(b.mean);
            cells[i * 3 + 1] = numberText(b.min);
            cells[i * 3 + 2] = numberText(b.max);
        }
    }
    for (auto &[t, cells] : rows)
        table.rows << (QStringList{isoTime(t)} + cells);
    return table;
}

QByteArray trendCsv(const TrendTable &table)
{
    QByteArray out = table.headers.join(QLatin1Char(',')).toUtf8() + '\n';
    for (const QStringList &row : table.rows)
        out += row.join(QLatin1Char(',')).toUtf8() + '\n';
    return out;
}

bool writeTrendFile(const QString &path, const TrendTable &table, QString &error)
{
    const QFileInfo info(path);
    if (const QString problem = newfile::folderProblem(info.absolutePath()); !problem.isEmpty()) {
        error = QStringLiteral("%1: %2").arg(info.absolutePath(), problem);
        return false;
    }
    if (newfile::taken(path)) {
        error = QStringLiteral("%1 exists already; it is not replaced").arg(path);
        return false;
    }
    const QString name = info.fileName();
    QString reason, where;
    const QString written = newfile::writeUnderFreeName(QDir(info.absolutePath()), [&name](int) { return name; }, 1,
                                                        writerFor(name, table), &reason, &where);
    if (written.isEmpty()) {
        error = QStringLiteral("%1: %2").arg(where.isEmpty() ? path : where, reason);
        return false;
    }
    return true;
}

QString writeTrendFileInto(const QString &dir, const QString &name, const TrendTable &table, QString &error)
{
    if (const QString problem = newfile::folderProblem(dir); !problem.isEmpty()) {
        error = QStringLiteral("%1: %2").arg(dir, problem);
        return QString();
    }
    QString reason, where;
    const QString written = newfile::writeUnderFreeName(QDir(dir), newfile::numberedNames(name), 9999,
                                                        writerFor(name, table), &reason, &where);
    if (written.isEmpty())
        error = QStringLiteral("%1: %2").arg(where.isEmpty() ? dir : where, reason);
    return written;
}

} // namespace qeln::trend
