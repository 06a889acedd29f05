#include "trendexport.h"

#include "app/newfile.h"
#include "plant/plantstatus.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <xlsxwriter.h>

#include <cmath>
#include <map>

namespace qeln::trend {

namespace {

int scaleDecimals(Scale scale)
{
    switch (scale) {
    case Scale::Tenths:
    case Scale::SignedTenths:
        return 1;
    case Scale::Hundredths:
        return 2;
    case Scale::Units:
        break;
    }
    return 0;
}

double roundTo(double v, int decimals)
{
    if (!hasValue(v))
        return v;
    const double f = std::pow(10.0, decimals);
    return std::round(v * f) / f;
}

// The registers of the status written last, to learn each channel's resolution from.
Registers exampleRegisters(TrendStore &store)
{
    if (const auto last = store.lastWritten()) {
        const QList<StatusRow> rows = store.statuses(*last, *last);
        if (!rows.isEmpty())
            return rows.first().registers;
    }
    return Registers{};
}

// "UTC+09:00" for the offset at `ms`.
QString utcOffsetText(qint64 ms)
{
    const int offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QLatin1Char(offset < 0 ? '-' : '+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// The zone the workbook's times are in: its offset, or its name where the offset changes
// within the span (daylight saving).
QString zoneText(TrendStore &store, const TrendExport &what)
{
    qint64 from = what.from, to = what.to;
    if (const auto s = store.span()) {
        from = std::max(from, s->first);
        to = std::min(to, s->last);
    }
    if (to < from || utcOffsetText(from) == utcOffsetText(to))
        return utcOffsetText(from);
    return QStringLiteral("local time, %1").arg(QString::fromUtf8(QTimeZone::systemTimeZoneId()));
}

// Streams the workbook (the library's constant-memory mode: each row goes to its temporary
// file as it is written): the header in row 1, times as date-times in local time, numbers
// as numbers.
QString writeWorkbook(TrendStore &store, const TrendExport &what, const QString &path, qint64 *rows)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    const QByteArray tmp = QFile::encodeName(QFileInfo(path).absolutePath());
    options.tmpdir = const_cast<char *>(tmp.constData());
    lxw_workbook *book = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    if (!book)
        return QStringLiteral("the spreadsheet library could not start a workbook");
    lxw_worksheet *sheet = workbook_add_worksheet(book, "trend");
    if (!sheet) {
        workbook_close(book);
        return QStringLiteral("the spreadsheet library could not start a worksheet");
    }
    lxw_format *timeFormat = workbook_add_format(book);
    format_set_num_format(timeFormat, "yyyy-mm-dd hh:mm:ss");
    lxw_error first = LXW_NO_ERROR;
    auto keep = [&first](lxw_error e) {
        if (e != LXW_NO_ERROR && first == LXW_NO_ERROR)
            first = e;
    };
    keep(worksheet_set_column(sheet, 0, 0, 20, nullptr));
    QStringList headers = trendHeaders(what.channels, what.stepMs > 0);
    headers[0] = QStringLiteral("time (%1)").arg(zoneText(store, what));
    for (qsizetype c = 0; c < headers.size(); ++c)
        keep(worksheet_write_string(sheet, 0, lxw_col_t(c), headers.at(c).toUtf8().constData(), nullptr));
    lxw_row_t r = 0;
    bool tooLong = false;
    forEachTrendRow(store, what, [&](qint64 t, const std::vector<double> &cells) {
        if (r + 1 >= LXW_ROW_MAX) {
            tooLong = true;
            return false;
        }
        ++r;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
        lxw_datetime when{local.date().year(), local.date().month(), local.date().day(), local.time().hour(),
                          local.time().minute(), local.time().second() + local.time().msec() / 1000.0};
        keep(worksheet_write_datetime(sheet, r, 0, &when, timeFormat));
        for (size_t c = 0; c < cells.size(); ++c) {
            if (hasValue(cells[c]))
                keep(worksheet_write_number(sheet, r, lxw_col_t(c + 1), cells[c], nullptr));
        }
        return first == LXW_NO_ERROR;
    });
    if (rows)
        *rows = r;
    const lxw_error closed = workbook_close(book);
    if (tooLong)
        return QStringLiteral("a workbook holds at most %1 rows; export a shorter span, with a step, or as CSV")
            .arg(LXW_ROW_MAX - 1);
    const lxw_error error = first != LXW_NO_ERROR ? first : closed;
    return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
}

std::function<QString(const QString &)> exportWriter(TrendStore &store, const TrendExport &what, const QString &name,
                                                     qint64 *rows)
{
    if (name.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return [&store, what, rows](const QString &file) { return writeWorkbook(store, what, file, rows); };
    return newfile::piecesWriter(
        [&store, what, rows](const newfile::PieceWrite &write) { return streamTrendCsv(store, what, write, rows); });
}

} // namespace

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString unitWord(const QString &unit)
{
    if (unit == QLatin1String("V"))
        return QStringLiteral("volts");
    if (unit == QLatin1String("A"))
        return QStringLiteral("amperes");
    if (unit == QStringLiteral("°C"))
        return QStringLiteral("celsius");
    if (unit == QLatin1String("%"))
        return QStringLiteral("percent");
    if (unit == QLatin1String("s"))
        return QStringLiteral("seconds");
    return unit.toLower();
}

QStringList trendHeaders(const QList<int> &channels, bool stepped)
{
    QStringList headers{QStringLiteral("time")};
    const auto &all = trend::channels();
    for (int c : channels) {
        const Channel &channel = all[size_t(c)];
        const QString name = QLatin1String(channel.name);
        const QString unit = unitWord(QString::fromUtf8(channel.unit));
        headers << name + QLatin1Char('_') + unit;
        if (stepped)
            headers << name + QStringLiteral("_min_") + unit << name + QStringLiteral("_max_") + unit;
    }
    return headers;
}

std::vector<int> channelDecimals(const Registers &registers)
{
    const PlantStatus plant = decodeRecorded(registers);
    std::vector<int> out;
    // The clock offset is whole seconds: the controller's clock shows no finer.
    for (const Channel &c : channels())
        out.push_back(c.quantity == Quantity::ClockOffset ? 0 : scaleDecimals(c.reading(plant).scale));
    return out;
}

bool forEachTrendRow(TrendStore &store, const TrendExport &asked,
                     const std::function<bool(qint64 t, const std::vector<double> &cells)> &row)
{
    TrendStore::Snapshot snapshot(store);
    const QList<int> &channels = asked.channels;
    // Only where the recording holds statuses (an open end is its first or last).
    const auto span = store.span();
    if (!span)
        return true;
    TrendExport what = asked;
    what.from = std::max(what.from, span->first);
    what.to = std::min(what.to, span->last);
    if (what.to < what.from)
        return true;
    if (what.stepMs <= 0) {
        std::vector<double> cells(size_t(channels.size()));
        // An hour of statuses at a time.
        for (qint64 a = what.from; a <= what.to; a += HourMs) {
            for (const StatusRow &status : store.statuses(a, std::min(what.to, a + HourMs - 1))) {
                for (qsizetype i = 0; i < channels.size(); ++i)
                    cells[size_t(i)] = status.values[size_t(channels.at(i))];
                if (!row(status.t, cells))
                    return false;
            }
            if (a > what.to - HourMs)
                break;
        }
        return true;
    }
    const std::vector<int> decimals = channelDecimals(exampleRegisters(store));
    const qint64 step = what.stepMs;
    const qint64 width = channels.size() * 3;
    // Whole steps at a time (at least one): an hour's worth where they are counted from the
    // statuses, six from the summaries.
    const qint64 piece = step % MinuteMs == 0 ? 6 * HourMs : HourMs;
    for (qint64 start = stepStart(what.from, step); start <= what.to;) {
        qint64 end = nextStepStart(start, step);
        while (end - start < piece && end <= what.to)
            end = nextStepStart(end, step);
        const QList<QList<Bucket>> series = store.buckets(channels, std::max(what.from, start), std::min(what.to, end - 1), step);
        // One row per step that holds a value of any channel.
        std::map<qint64, std::vector<double>> rows;
        for (qsizetype i = 0; i < series.size(); ++i) {
            const int d = decimals[size_t(channels.at(i))];
            for (const Bucket &b : series.at(i)) {
                std::vector<double> &cells = rows[b.t];
                if (cells.empty())
                    cells.assign(size_t(width), NoValue);
                cells[size_t(i * 3)] = roundTo(b.mean, d);
                cells[size_t(i * 3 + 1)] = b.min;
                cells[size_t(i * 3 + 2)] = b.max;
            }
        }
        for (const auto &[t, cells] : rows) {
            if (!row(t, cells))
                return false;
        }
        start = end;
    }
    return true;
}

bool streamTrendCsv(TrendStore &store, const TrendExport &what, const std::function<bool(const QByteArray &)> &write,
                    qint64 *rows)
{
    QByteArray buffer = trendHeaders(what.channels, what.stepMs > 0).join(QLatin1Char(',')).toUtf8() + '\n';
    qint64 count = 0;
    bool ok = true;
    forEachTrendRow(store, what, [&](qint64 t, const std::vector<double> &cells) {
        buffer += isoTime(t).toUtf8();
        for (double v : cells) {
            buffer += ',';
            if (hasValue(v))
                buffer += numberText(v).toUtf8();
        }
        buffer += '\n';
        ++count;
        if (buffer.size() >= 64 * 1024) {
            ok = write(buffer);
            buffer.clear();
        }
        return ok;
    });
    ok = ok && (buffer.isEmpty() || write(buffer));
    if (rows)
        *rows = count;
    return ok;
}

bool exportTrendFile(TrendStore &store, const TrendExport &what, const QString &path, QString &error, qint64 *rows)
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
                                                        exportWriter(store, what, name, rows), &reason, &where);
    if (written.isEmpty()) {
        error = QStringLiteral("%1: %2").arg(where.isEmpty() ? path : where, reason);
        return false;
    }
    return true;
}

QString exportTrendInto(TrendStore &store, const TrendExport &what, const QString &dir, const QString &name,
                        QString &error, qint64 *rows)
{
    if (const QString problem = newfile::folderProblem(dir); !problem.isEmpty()) {
        error = QStringLiteral("%1: %2").arg(dir, problem);
        return QString();
    }
    QString reason, where;
    const QString written = newfile::writeUnderFreeName(QDir(dir), newfile::numberedNames(name), 9999,
                                                        exportWriter(store, what, name, rows), &reason, &where);
    if (written.isEmpty())
        error = QStringLiteral("%1: %2").arg(where.isEmpty() ? dir : where, reason);
    return written;
}

} // namespace qeln::trend
