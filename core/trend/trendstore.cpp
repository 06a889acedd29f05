#include "trendstore.h"

#include <QDataStream>
#include <QDateTime>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace qeln::trend {

namespace {

constexpr const char *FormatName = "qeln-trend";
constexpr int FormatVersion = 1;
constexpr quint8 ChunkVersion = 1;

qint64 floorTo(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (t % step < 0 ? q - 1 : q) * step;
}

// Times the store deals in: from the epoch to far beyond any recording, so that widening a
// span by a minute or aligning it to a step never overflows.
constexpr qint64 LatestMs = qint64(1) << 52;
void clampSpan(qint64 &from, qint64 &to)
{
    from = std::clamp<qint64>(from, 0, LatestMs);
    to = std::clamp<qint64>(to, 0, LatestMs);
}

// Values written per status: the channels known when it was recorded.
int storedChannels(const QByteArray &bytes)
{
    return int(bytes.size() / qsizetype(sizeof(double)));
}

} // namespace

qint64 drawStepMs(qint64 spanMs, int buckets)
{
    // Rounded up: never more buckets than asked for.
    const qint64 step = std::max<qint64>((spanMs + buckets - 1) / std::max(buckets, 1), 1000);
    auto roundUp = [step](qint64 unit) { return (step + unit - 1) / unit * unit; };
    if (step < MinuteMs)
        return roundUp(1000);
    if (step < 20 * MinuteMs)
        return roundUp(MinuteMs);
    return roundUp(HourMs);
}

QString isoTime(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QLatin1Char(offset < 0 ? '-' : '+')
           + QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString eventKindName(EventKind kind)
{
    switch (kind) {
    case EventKind::AlarmStarted:
        return QStringLiteral("alarm-start");
    case EventKind::AlarmCleared:
        return QStringLiteral("alarm-clear");
    case EventKind::Write:
        break;
    }
    return QStringLiteral("write");
}

namespace {

std::optional<EventKind> eventKindFromName(const QString &name)
{
    for (EventKind k : {EventKind::AlarmStarted, EventKind::AlarmCleared, EventKind::Write}) {
        if (eventKindName(k) == name)
            return k;
    }
    return std::nullopt;
}

} // namespace

QByteArray registerBytes(const Registers &registers)
{
    QByteArray out(qsizetype(registers.size() * 2), Qt::Uninitialized);
    for (size_t i = 0; i < registers.size(); ++i)
        qToLittleEndian<quint16>(registers[i], out.data() + i * 2);
    return out;
}

bool registersFromBytes(const QByteArray &bytes, Registers &registers)
{
    if (bytes.size() != qsizetype(registers.size() * 2))
        return false;
    for (size_t i = 0; i < registers.size(); ++i)
        registers[i] = qFromLittleEndian<quint16>(bytes.constData() + i * 2);
    return true;
}

QByteArray valueBytes(const ChannelValues &values)
{
    QByteArray out(qsizetype(values.size() * sizeof(double)), Qt::Uninitialized);
    for (size_t i = 0; i < values.size(); ++i) {
        quint64 bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        qToLittleEndian<quint64>(bits, out.data() + i * sizeof bits);
    }
    return out;
}

void valuesFromBytes(const QByteArray &bytes, ChannelValues &values)
{
    values.fill(NoValue);
    const int count = std::min(storedChannels(bytes), ChannelCount);
    for (int i = 0; i < count; ++i) {
        const quint64 bits = qFromLittleEndian<quint64>(bytes.constData() + i * sizeof(quint64));
        std::memcpy(&values[size_t(i)], &bits, sizeof bits);
    }
}

void TrendStore::Acc::add(double v, qint64 t)
{
    if (n == 0) {
        min = max = v;
        first = last = t;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
        first = std::min(first, t);
        last = std::max(last, t);
    }
    sum += v;
    ++n;
}

void TrendStore::Acc::merge(const Acc &other)
{
    if (other.n == 0)
        return;
    if (n == 0) {
        *this = other;
        return;
    }
    min = std::min(min, other.min);
    max = std::max(max, other.max);
    first = std::min(first, other.first);
    last = std::max(last, other.last);
    sum += other.sum;
    n += other.n;
}

TrendStore::TrendStore() = default;
TrendStore::~TrendStore() = default;

bool TrendStore::open(const QString &path, Mode mode, QString &error)
{
    path_ = path;
    mode_ = mode;
    const bool exists = QFileInfo::exists(path);
    if (mode == Mode::Read && !exists) {
        error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    if (!db_.open(path, mode == Mode::Record, mode == Mode::Read)) {
        error = QStringLiteral("%1: %2").arg(path, db_.error());
        return false;
    }
    if (mode == Mode::Record) {
        // WAL: a reader (the trend page, `trend export`) never blocks the recorder, and a
        // commit is an append to the log. NORMAL: a killed program loses nothing committed.
        if (!createSchema(error) || !db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;")) {
            if (error.isEmpty())
                error = QStringLiteral("%1: %2").arg(path, db_.error());
            return false;
        }
    }
    sql::Stmt format(db_, "SELECT value FROM meta WHERE key = 'format'");
    if (!format.valid() || !format.step() || format.text(0) != QLatin1String(FormatName)) {
        error = QStringLiteral("%1: not a trend recording").arg(path);
        return false;
    }
    return true;
}

bool TrendStore::createSchema(QString &error)
{
    // Another program's database (or any other file) is left exactly as it is.
    {
        sql::Stmt tables(db_, "SELECT count(*) FROM sqlite_master");
        if (!tables.valid() || !tables.step()) {
            error = QStringLiteral("%1: not a trend recording (%2)").arg(path_, db_.error());
            return false;
        }
        if (tables.integer(0) > 0) {
            sql::Stmt format(db_, "SELECT value FROM meta WHERE key = 'format'");
            if (!format.valid() || !format.step() || format.text(0) != QLatin1String(FormatName)) {
                error = QStringLiteral("%1: not a trend recording").arg(path_);
                return false;
            }
        }
    }
    // The tables and the format note appear together or not at all.
    sql::Transaction tx(db_);
    const bool made = tx.begun() && db_.exec(
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS status(t INTEGER PRIMARY KEY, registers BLOB NOT NULL, vals BLOB NOT NULL);"
        // What is packed: a small row per minute (its first and last time, how many) for the
        // span and the counts, and the packed statuses apart, read only for the raw values.
        "CREATE TABLE IF NOT EXISTS chunk(t0 INTEGER PRIMARY KEY, t1 INTEGER NOT NULL, n INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS chunkdata(t0 INTEGER PRIMARY KEY, data BLOB NOT NULL);"
        "CREATE TABLE IF NOT EXISTS minute(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL,"
        " lo REAL NOT NULL, hi REAL NOT NULL, total REAL NOT NULL, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS hour(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL,"
        " lo REAL NOT NULL, hi REAL NOT NULL, total REAL NOT NULL, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS event(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT NULL,"
        " text TEXT NOT NULL);"
        "CREATE INDEX IF NOT EXISTS event_t ON event(t);");
    if (!made) {
        error = QStringLiteral("%1: %2").arg(path_, db_.error());
        return false;
    }
    bool noted = false;
    {
        sql::Stmt format(db_, "SELECT value FROM meta WHERE key = 'format'");
        noted = format.step();
    }
    const bool ok = (noted
                     || (setMeta(QStringLiteral("format"), QLatin1String(FormatName))
                         && setMeta(QStringLiteral("version"), QString::number(FormatVersion))
                         && setMeta(QStringLiteral("created"), isoTime(QDateTime::currentMSecsSinceEpoch()))))
                    && tx.commit();
    if (!ok)
        error = QStringLiteral("%1: %2").arg(path_, db_.error());
    return ok;
}

QString TrendStore::meta(const QString &key)
{
    sql::Stmt get(db_, "SELECT value FROM meta WHERE key = ?");
    get.bindText(1, key);
    return get.step() ? get.text(0) : QString();
}

bool TrendStore::setMeta(const QString &key, const QString &value)
{
    sql::Stmt put(db_, "INSERT INTO meta(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    put.bindText(1, key).bindText(2, value);
    return put.run();
}

void TrendStore::add(const StatusRow &row)
{
    pendingRows_.push_back(row);
    for (int c = 0; c < ChannelCount; ++c) {
        const double v = row.values[size_t(c)];
        if (!hasValue(v))
            continue;
        pendingMinutes_[{c, floorTo(row.t, MinuteMs)}].add(v, row.t);
        pendingHours_[{c, floorTo(row.t, HourMs)}].add(v, row.t);
    }
}

void TrendStore::addEvent(const Event &event)
{
    pendingEvents_.push_back(event);
}

bool TrendStore::writeRow(const StatusRow &row)
{
    sql::Stmt put(db_, "INSERT OR REPLACE INTO status(t, registers, vals) VALUES(?, ?, ?)");
    put.bind(1, std::int64_t(row.t)).bind(2, registerBytes(row.registers)).bind(3, valueBytes(row.values));
    return put.run();
}

bool TrendStore::writeSummaries(const char *table, const std::map<AccKey, Acc> &accs)
{
    const QByteArray sql = QByteArray("INSERT INTO ") + table
                           + "(channel, t, n, lo, hi, total) VALUES(?, ?, ?, ?, ?, ?) ON CONFLICT(channel, t) DO UPDATE SET"
                             " n = n + excluded.n, lo = min(lo, excluded.lo), hi = max(hi, excluded.hi),"
                             " total = total + excluded.total";
    sql::Stmt put(db_, sql.constData());
    for (const auto &[key, acc] : accs) {
        put.bind(1, std::int64_t(key.first)).bind(2, std::int64_t(key.second)).bind(3, std::int64_t(acc.n));
        put.bind(4, acc.min).bind(5, acc.max).bind(6, acc.sum);
        if (!put.run())
            return false;
    }
    return true;
}

QByteArray TrendStore::packRows(const QList<StatusRow> &rows)
{
    QByteArray raw;
    raw.append(char(ChunkVersion));
    QByteArray counts(4, Qt::Uninitialized);
    qToLittleEndian<quint16>(quint16(StatusRegisterSlots), counts.data());
    qToLittleEndian<quint16>(quint16(ChannelCount), counts.data() + 2);
    raw.append(counts);
    for (const StatusRow &row : rows) {
        QByteArray t(8, Qt::Uninitialized);
        qToLittleEndian<qint64>(row.t, t.data());
        raw.append(t).append(registerBytes(row.registers)).append(valueBytes(row.values));
    }
    return qCompress(raw, 6);
}

bool TrendStore::unpackRows(const QByteArray &data, QList<StatusRow> &rows)
{
    const QByteArray raw = qUncompress(data);
    if (raw.size() < 5 || quint8(raw.at(0)) != ChunkVersion)
        return false;
    const int registers = qFromLittleEndian<quint16>(raw.constData() + 1);
    const int values = qFromLittleEndian<quint16>(raw.constData() + 3);
    if (registers != StatusRegisterSlots)
        return false;
    const qsizetype rowSize = 8 + registers * 2 + values * qsizetype(sizeof(double));
    if ((raw.size() - 5) % rowSize != 0)
        return false;
    for (qsizetype at = 5; at < raw.size(); at += rowSize) {
        StatusRow row;
        row.t = qFromLittleEndian<qint64>(raw.constData() + at);
        registersFromBytes(raw.mid(at + 8, registers * 2), row.registers);
        const QByteArray vals = raw.mid(at + 8 + registers * 2, values * qsizetype(sizeof(double)));
        if (values < ChannelCount)
            row.values = decodeChannels(row.registers, row.t);
        else
            valuesFromBytes(vals, row.values);
        rows.append(row);
    }
    return true;
}

bool TrendStore::packCompleteMinutes(qint64 before)
{
    // The statuses of each minute before `before`, packed into one chunk row per minute.
    const QList<StatusRow> rows = [&] {
        QList<StatusRow> out;
        sql::Stmt get(db_, "SELECT t, registers, vals FROM status WHERE t < ? ORDER BY t");
        get.bind(1, std::int64_t(before));
        while (get.step()) {
            StatusRow row;
            row.t = get.integer(0);
            registersFromBytes(get.blob(1), row.registers);
            valuesFromBytes(get.blob(2), row.values);
            out.append(row);
        }
        return out;
    }();
    if (rows.isEmpty())
        return true;
    sql::Stmt put(db_, "INSERT OR REPLACE INTO chunk(t0, t1, n) VALUES(?, ?, ?)");
    sql::Stmt putData(db_, "INSERT OR REPLACE INTO chunkdata(t0, data) VALUES(?, ?)");
    for (qsizetype first = 0; first < rows.size();) {
        const qint64 minute = floorTo(rows.at(first).t, MinuteMs);
        qsizetype end = first;
        while (end < rows.size() && floorTo(rows.at(end).t, MinuteMs) == minute)
            ++end;
        QList<StatusRow> part = rows.mid(first, end - first);
        // A minute packed before (a recording that resumed within it) is packed again whole.
        sql::Stmt old(db_, "SELECT data FROM chunkdata WHERE t0 >= ? AND t0 < ?");
        old.bind(1, std::int64_t(minute)).bind(2, std::int64_t(minute + MinuteMs));
        QList<StatusRow> earlier;
        while (old.step())
            unpackRows(old.blob(0), earlier);
        if (!earlier.isEmpty()) {
            for (const char *sql : {"DELETE FROM chunk WHERE t0 >= ? AND t0 < ?", "DELETE FROM chunkdata WHERE t0 >= ? AND t0 < ?"}) {
                sql::Stmt drop(db_, sql);
                drop.bind(1, std::int64_t(minute)).bind(2, std::int64_t(minute + MinuteMs));
                if (!drop.run())
                    return false;
            }
            part = earlier + part;
            std::stable_sort(part.begin(), part.end(), [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; });
        }
        put.bind(1, std::int64_t(part.first().t)).bind(2, std::int64_t(part.last().t));
        put.bind(3, std::int64_t(part.size()));
        putData.bind(1, std::int64_t(part.first().t)).bind(2, packRows(part));
        if (!put.run() || !putData.run())
            return false;
        first = end;
    }
    sql::Stmt drop(db_, "DELETE FROM status WHERE t < ?");
    drop.bind(1, std::int64_t(before));
    return drop.run();
}

bool TrendStore::flush(QString &error, bool *diskProblem)
{
    if (diskProblem)
        *diskProblem = false;
    if (!hasPending())
        return true;
    bool ok = false;
    {
        sql::Transaction tx(db_);
        ok = tx.begun();
        for (const StatusRow &row : pendingRows_) {
            if (!ok)
                break;
            ok = writeRow(row);
        }
        sql::Stmt putEvent(db_, "INSERT INTO event(t, kind, text) VALUES(?, ?, ?)");
        for (const Event &e : pendingEvents_) {
            if (!ok)
                break;
            putEvent.bind(1, std::int64_t(e.t)).bindText(2, eventKindName(e.kind)).bindText(3, e.text);
            ok = putEvent.run();
        }
        ok = ok && writeSummaries("minute", pendingMinutes_) && writeSummaries("hour", pendingHours_);
        // Minutes before the newest status's are complete: packed now.
        if (ok && !pendingRows_.empty()) {
            const qint64 newest = std::max_element(pendingRows_.cbegin(), pendingRows_.cend(),
                                                   [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; })->t;
            ok = packCompleteMinutes(floorTo(newest, MinuteMs));
        }
        ok = ok && tx.commit();
    }
    pendingRows_.clear();
    pendingEvents_.clear();
    pendingMinutes_.clear();
    pendingHours_.clear();
    if (!ok) {
        error = db_.error();
        if (diskProblem)
            *diskProblem = db_.lastWasDiskProblem();
    }
    return ok;
}

bool TrendStore::prune(qint64 nowMs, qint64 rawKeepMs, qint64 summaryKeepMs)
{
    const qint64 rawCut = nowMs - rawKeepMs;
    const qint64 summaryCut = nowMs - summaryKeepMs;
    sql::Transaction tx(db_);
    if (!tx.begun())
        return false;
    // A packed minute ends less than a minute after it starts: those starting a minute before
    // the cut are wholly older (found by the key, without reading the packed data).
    sql::Stmt chunks(db_, "DELETE FROM chunk WHERE t0 < ?");
    sql::Stmt chunkData(db_, "DELETE FROM chunkdata WHERE t0 < ?");
    sql::Stmt raw(db_, "DELETE FROM status WHERE t < ?");
    sql::Stmt minutes(db_, "DELETE FROM minute WHERE t < ?");
    sql::Stmt hours(db_, "DELETE FROM hour WHERE t < ?");
    sql::Stmt events(db_, "DELETE FROM event WHERE t < ?");
    chunks.bind(1, std::int64_t(rawCut - MinuteMs));
    chunkData.bind(1, std::int64_t(rawCut - MinuteMs));
    raw.bind(1, std::int64_t(rawCut));
    minutes.bind(1, std::int64_t(summaryCut));
    hours.bind(1, std::int64_t(summaryCut));
    events.bind(1, std::int64_t(summaryCut));
    return chunks.run() && chunkData.run() && raw.run() && minutes.run() && hours.run() && events.run() && tx.commit();
}

std::optional<ChannelSpan> TrendStore::span()
{
    ChannelSpan s;
    bool any = false;
    sql::Stmt chunks(db_, "SELECT min(t0), max(t1), sum(n), count(*) FROM chunk");
    if (chunks.step() && chunks.integer(3) > 0) {
        s = {chunks.integer(0), chunks.integer(1), chunks.integer(2)};
        any = true;
    }
    sql::Stmt raw(db_, "SELECT min(t), max(t), count(*) FROM status");
    if (raw.step() && raw.integer(2) > 0) {
        s.first = any ? std::min<qint64>(s.first, raw.integer(0)) : raw.integer(0);
        s.last = any ? std::max<qint64>(s.last, raw.integer(1)) : raw.integer(1);
        s.samples += raw.integer(2);
        any = true;
    }
    return any ? std::optional<ChannelSpan>(s) : std::nullopt;
}

std::map<int, ChannelSpan> TrendStore::channelSpans()
{
    std::map<int, ChannelSpan> out;
    sql::Stmt get(db_, "SELECT channel, min(t), max(t), sum(n) FROM minute GROUP BY channel");
    while (get.step())
        out[int(get.integer(0))] = {get.integer(1), get.integer(2) + MinuteMs - 1, get.integer(3)};
    // The first and last sample exactly, from the statuses at either end of each minute.
    for (auto &[channel, s] : out) {
        for (qint64 *edge : {&s.first, &s.last}) {
            const qint64 minute = floorTo(*edge, MinuteMs);
            const QList<StatusRow> rows = statuses(minute, minute + MinuteMs - 1);
            qint64 found = -1;
            for (const StatusRow &row : rows) {
                if (!hasValue(row.values[size_t(channel)]))
                    continue;
                if (edge == &s.first) {
                    found = row.t;
                    break;
                }
                found = row.t;
            }
            if (found >= 0)
                *edge = found;
        }
    }
    return out;
}

QList<StatusRow> TrendStore::statuses(qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<StatusRow> rows;
    if (to < from)
        return rows;
    // A chunk holds one minute: those that can hold [from, to] start at most a minute before it.
    sql::Stmt chunks(db_, "SELECT data FROM chunkdata WHERE t0 > ? AND t0 <= ? ORDER BY t0");
    chunks.bind(1, std::int64_t(from - MinuteMs)).bind(2, std::int64_t(to));
    QList<StatusRow> packed;
    while (chunks.step())
        unpackRows(chunks.blob(0), packed);
    for (const StatusRow &row : packed) {
        if (row.t >= from && row.t <= to)
            rows.append(row);
    }
    sql::Stmt raw(db_, "SELECT t, registers, vals FROM status WHERE t >= ? AND t <= ? ORDER BY t");
    raw.bind(1, std::int64_t(from)).bind(2, std::int64_t(to));
    while (raw.step()) {
        StatusRow row;
        row.t = raw.integer(0);
        registersFromBytes(raw.blob(1), row.registers);
        const QByteArray vals = raw.blob(2);
        if (storedChannels(vals) < ChannelCount)
            row.values = decodeChannels(row.registers, row.t);
        else
            valuesFromBytes(vals, row.values);
        rows.append(row);
    }
    return rows;
}

QList<Bucket> TrendStore::summaries(int channel, qint64 stepMs, qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<Bucket> out;
    const char *sql = stepMs == HourMs ? "SELECT t, n, lo, hi, total FROM hour WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t"
                                       : "SELECT t, n, lo, hi, total FROM minute WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t";
    sql::Stmt get(db_, sql);
    get.bind(1, std::int64_t(channel)).bind(2, std::int64_t(from)).bind(3, std::int64_t(to));
    while (get.step()) {
        const qint64 n = get.integer(1);
        const qint64 t = get.integer(0);
        out.append({t, n, get.real(2), get.real(3), n > 0 ? get.real(4) / double(n) : 0, t, t + stepMs - 1});
    }
    return out;
}

QList<QList<Bucket>> TrendStore::buckets(const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs)
{
    clampSpan(from, to);
    QList<QList<Bucket>> out(channels.size());
    if (stepMs <= 0 || to < from)
        return out;
    const qint64 first = floorTo(from, stepMs);
    auto fold = [](QList<Bucket> &series, const std::map<qint64, Acc> &accs) {
        for (const auto &[t, acc] : accs) {
            if (acc.n > 0)
                series.append({t, acc.n, acc.min, acc.max, acc.sum / double(acc.n), acc.first, acc.last});
        }
    };
    const qint64 source = stepMs % HourMs == 0 ? HourMs : stepMs % MinuteMs == 0 ? MinuteMs : 0;
    if (source != 0) {
        for (qsizetype i = 0; i < channels.size(); ++i) {
            std::map<qint64, Acc> accs;
            for (const Bucket &b : summaries(channels.at(i), source, first, to)) {
                Acc part{b.n, b.min, b.max, b.mean * double(b.n), b.first, b.last};
                accs[floorTo(b.t, stepMs)].merge(part);
            }
            fold(out[i], accs);
        }
        return out;
    }
    std::vector<std::map<qint64, Acc>> accs(size_t(channels.size()));
    for (const StatusRow &row : statuses(from, to)) {
        const qint64 bucket = floorTo(row.t, stepMs);
        for (qsizetype i = 0; i < channels.size(); ++i) {
            const int c = channels.at(i);
            if (c >= 0 && c < ChannelCount && hasValue(row.values[size_t(c)]))
                accs[size_t(i)][bucket].add(row.values[size_t(c)], row.t);
        }
    }
    for (qsizetype i = 0; i < channels.size(); ++i)
        fold(out[i], accs[size_t(i)]);
    return out;
}

QList<Event> TrendStore::events(qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<Event> out;
    sql::Stmt get(db_, "SELECT t, kind, text FROM event WHERE t >= ? AND t <= ? ORDER BY t, id");
    get.bind(1, std::int64_t(from)).bind(2, std::int64_t(to));
    while (get.step()) {
        const auto kind = eventKindFromName(get.text(1));
        if (kind)
            out.append({get.integer(0), *kind, get.text(2)});
    }
    return out;
}

} // namespace qeln::trend
