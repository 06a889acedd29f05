#include "trendstore.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace qeln::trend {

namespace {

constexpr const char *FormatName = "qeln-trend";
// 2: the summaries keep the first and last sample time, a packed minute its longest
// interval between statuses; pages freed by pruning go back to the file system.
constexpr int FormatVersion = 2;
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

namespace {

// The time of a local wall-clock hour of a day; one that the clock skips (daylight saving
// starts) is where the clock goes on, one it shows twice its first.
qint64 localHour(const QDate &day, int hour)
{
    if (hour >= 24)
        return day.addDays(1).startOfDay().toMSecsSinceEpoch();
    const QDateTime at(day, QTime(hour, 0));
    if (at.isValid())
        return at.toMSecsSinceEpoch();
    for (int minutes = 1; minutes < 24 * 60; ++minutes) {
        const QDateTime later(day, QTime(hour, 0).addSecs(minutes * 60));
        if (later.isValid())
            return later.toMSecsSinceEpoch();
    }
    return day.startOfDay().toMSecsSinceEpoch() + hour * HourMs;
}

} // namespace

qint64 stepStart(qint64 t, qint64 stepMs)
{
    if (stepMs <= 0)
        return t;
    if (stepMs % HourMs != 0)
        return floorTo(t, stepMs);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
    const QDate day = local.date();
    if (stepMs % DayMs == 0) {
        const qint64 jd = floorTo(day.toJulianDay(), stepMs / DayMs);
        return QDate::fromJulianDay(jd).startOfDay().toMSecsSinceEpoch();
    }
    // The local hours of the day in steps from midnight (a step that does not divide the day
    // is shorter before midnight).
    const int hours = int(stepMs / HourMs);
    const qint64 start = localHour(day, local.time().hour() / hours * hours);
    return start <= t ? start : day.startOfDay().toMSecsSinceEpoch();
}

qint64 nextStepStart(qint64 start, qint64 stepMs)
{
    if (stepMs <= 0)
        return start + 1;
    if (stepMs % HourMs != 0)
        return start + stepMs;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(start);
    const QDate day = local.date();
    if (stepMs % DayMs == 0)
        return day.addDays(stepMs / DayMs).startOfDay().toMSecsSinceEpoch();
    const int hours = int(stepMs / HourMs);
    const qint64 next = localHour(day, local.time().hour() / hours * hours + hours);
    // Where the clock shows an hour twice, the step goes on from the later one.
    return next > start ? next : start + stepMs;
}

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

struct TrendStore::Lock {
    explicit Lock(const QString &path)
        : file(path)
    {
        // Only a holder that has died leaves a stale lock, however old the lock is.
        file.setStaleLockTime(0);
    }
    QLockFile file;
};

namespace {

// Who holds a recording's lock, for messages: "qeln-console (process 4242 on plant-pc)".
QString lockHolder(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app))
        return QStringLiteral("another program");
    return QStringLiteral("%1 (process %2 on %3)").arg(app.isEmpty() ? QStringLiteral("a program") : app).arg(pid).arg(host);
}

// What a failed open or first read means, with what to do about it.
QString openProblem(const QString &path, int code, const QString &detail, bool recording)
{
    const QString file = QDir::toNativeSeparators(path);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("%1 is in use (locked) by another program (%2); close that program and try again")
            .arg(file, detail);
    case SQLITE_NOTADB:
        return QStringLiteral("%1: not a trend recording").arg(file);
    case SQLITE_CORRUPT:
        return QStringLiteral("%1 is damaged (%2); move it aside to start a new recording").arg(file, detail);
    case SQLITE_IOERR:
        return QStringLiteral("%1: a disk or I/O error (%2); check the disk and try again").arg(file, detail);
    case SQLITE_FULL:
        return QStringLiteral("%1: the disk is full; free some space and try again").arg(file);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        if (!QFileInfo(QFileInfo(path).absolutePath()).isWritable())
            return QStringLiteral("the folder %1 is not writable (%2); make it writable or choose another output folder")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), detail);
        return recording ? QStringLiteral("%1 is not writable (%2); make it writable or choose another output folder").arg(file, detail)
                         : QStringLiteral("%1 cannot be opened (%2); check its permissions").arg(file, detail);
    default:
        break;
    }
    return QStringLiteral("%1: %2").arg(file, detail);
}

} // namespace

TrendStore::TrendStore() = default;
TrendStore::~TrendStore() = default;

bool TrendStore::open(const QString &path, Mode mode, QString &error)
{
    path_ = path;
    mode_ = mode;
    const QFileInfo info(path);
    const bool exists = info.exists();
    const bool recording = mode == Mode::Record;
    if (!recording && !exists) {
        error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    if (recording) {
        // The file, its log and its lock are made beside it: the folder must take them.
        const QString folder = info.absolutePath();
        if (!QFileInfo(folder).isDir()) {
            error = QStringLiteral("the folder %1 does not exist; choose an existing output folder").arg(QDir::toNativeSeparators(folder));
            return false;
        }
        if (!QFileInfo(folder).isWritable()) {
            error = QStringLiteral("the folder %1 is not writable; make it writable or choose another output folder")
                        .arg(QDir::toNativeSeparators(folder));
            return false;
        }
        if (exists && !info.isWritable()) {
            error = QStringLiteral("%1 is not writable (read-only); make it writable or choose another output folder")
                        .arg(QDir::toNativeSeparators(path));
            return false;
        }
        auto lock = std::make_unique<Lock>(path + QStringLiteral(".lock"));
        if (!lock->file.tryLock(0)) {
            if (lock->file.error() == QLockFile::LockFailedError)
                error = QStringLiteral("%1 is being recorded by %2; one recorder per file: stop the other recording, or "
                                       "give this console another output folder")
                            .arg(QDir::toNativeSeparators(path), lockHolder(lock->file));
            else
                error = QStringLiteral("%1: its lock file %2.lock cannot be made; make the folder writable or choose another "
                                       "output folder")
                            .arg(QDir::toNativeSeparators(path), info.fileName());
            return false;
        }
        lock_ = std::move(lock);
    }
    auto failed = [&] {
        error = openProblem(path, db_.lastCode(), db_.error(), recording);
        lock_.reset();
        return false;
    };
    if (!db_.open(path, recording, !recording))
        return failed();
    const std::int64_t tables = db_.integer("SELECT count(*) FROM sqlite_master");
    if (tables < 0)
        return failed();
    if (tables == 0 && recording) {
        if (!createSchema(error)) {
            lock_.reset();
            return false;
        }
    }
    {
        sql::Stmt format(db_, "SELECT value FROM meta WHERE key = 'format'");
        if (!format.valid() || !format.step() || format.text(0) != QLatin1String(FormatName)) {
            if (db_.lastCode() != 0 && (db_.lastCode() & 0xff) != SQLITE_ERROR)
                return failed();
            error = QStringLiteral("%1: not a trend recording").arg(path);
            lock_.reset();
            return false;
        }
    }
    if (!checkVersion(error)) {
        lock_.reset();
        return false;
    }
    if (recording) {
        // WAL: a reader (the trend page, `trend export`) never blocks the recorder, and a
        // commit is an append to the log. FULL: each commit waits for the disk, so a power
        // cut loses at most the second being recorded.
        // The log is cut back to a few megabytes once copied into the file (after pruning it
        // holds every page that moved).
        if (!db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA journal_size_limit=4194304;"))
            return failed();
    }
    return true;
}

bool TrendStore::checkVersion(QString &error)
{
    bool ok = false;
    version_ = meta(QStringLiteral("version")).toInt(&ok);
    if (!ok)
        version_ = 1;
    if (version_ > FormatVersion) {
        if (mode_ == Mode::Record) {
            error = QStringLiteral("%1 was written by a newer version of this program (format %2); it is opened read-only: "
                                   "recording goes to a file of its own only after updating this program, or in another "
                                   "output folder")
                        .arg(QDir::toNativeSeparators(path_))
                        .arg(version_);
            return false;
        }
        // Read when the tables this program reads are there as it knows them.
        sql::Stmt probe(db_, "SELECT (SELECT count(*) FROM (SELECT t, registers, vals FROM status LIMIT 1)),"
                             " (SELECT count(*) FROM (SELECT t0, t1, n FROM chunk LIMIT 1)),"
                             " (SELECT count(*) FROM (SELECT t0, data FROM chunkdata LIMIT 1)),"
                             " (SELECT count(*) FROM (SELECT channel, t, n, lo, hi, total FROM minute LIMIT 1)),"
                             " (SELECT count(*) FROM (SELECT channel, t, n, lo, hi, total FROM hour LIMIT 1)),"
                             " (SELECT count(*) FROM (SELECT t, kind, text FROM event LIMIT 1))");
        if (!probe.valid() || !probe.step()) {
            error = QStringLiteral("%1 was written by a newer version of this program (format %2) that this one cannot "
                                   "read; update this program to open it")
                        .arg(QDir::toNativeSeparators(path_))
                        .arg(version_);
            return false;
        }
    }
    if (version_ < FormatVersion && mode_ == Mode::Record && !migrate(error))
        return false;
    sql::Stmt columns(db_, "SELECT count(*) FROM pragma_table_info('minute') WHERE name IN ('first', 'last')");
    sampleTimes_ = columns.step() && columns.integer(0) == 2;
    return true;
}

bool TrendStore::migrate(QString &error)
{
    // Version 1 to 2: sample times and the longest interval of a packed minute, unknown
    // (NULL) for what was written before.
    sql::Transaction tx(db_);
    const bool ok = tx.begun()
                    && db_.exec("ALTER TABLE minute ADD COLUMN first INTEGER; ALTER TABLE minute ADD COLUMN last INTEGER;"
                                "ALTER TABLE hour ADD COLUMN first INTEGER; ALTER TABLE hour ADD COLUMN last INTEGER;"
                                "ALTER TABLE chunk ADD COLUMN maxgap INTEGER;")
                    && setMeta(QStringLiteral("version"), QString::number(FormatVersion)) && tx.commit();
    if (!ok) {
        error = openProblem(path_, db_.lastCode(), db_.error(), true);
        return false;
    }
    version_ = FormatVersion;
    return true;
}

bool TrendStore::createSchema(QString &error)
{
    // Pages freed by pruning can be given back (set before the first table is made).
    if (!db_.exec("PRAGMA auto_vacuum=INCREMENTAL")) {
        error = openProblem(path_, db_.lastCode(), db_.error(), true);
        return false;
    }
    // The tables and the format note appear together or not at all.
    sql::Transaction tx(db_);
    const bool made = tx.begun() && db_.exec(
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS status(t INTEGER PRIMARY KEY, registers BLOB NOT NULL, vals BLOB NOT NULL);"
        // What is packed: a small row per minute (its first and last time, how many, the
        // longest interval between two of its statuses) for the span, the counts and the
        // gaps, and the packed statuses apart, read only for the raw values.
        "CREATE TABLE IF NOT EXISTS chunk(t0 INTEGER PRIMARY KEY, t1 INTEGER NOT NULL, n INTEGER NOT NULL, maxgap INTEGER);"
        "CREATE TABLE IF NOT EXISTS chunkdata(t0 INTEGER PRIMARY KEY, data BLOB NOT NULL);"
        "CREATE TABLE IF NOT EXISTS minute(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL,"
        " lo REAL NOT NULL, hi REAL NOT NULL, total REAL NOT NULL, first INTEGER, last INTEGER, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS hour(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL,"
        " lo REAL NOT NULL, hi REAL NOT NULL, total REAL NOT NULL, first INTEGER, last INTEGER, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS event(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT NULL,"
        " text TEXT NOT NULL);"
        "CREATE INDEX IF NOT EXISTS event_t ON event(t);");
    const bool ok = made && setMeta(QStringLiteral("format"), QLatin1String(FormatName))
                    && setMeta(QStringLiteral("version"), QString::number(FormatVersion))
                    && setMeta(QStringLiteral("created"), isoTime(QDateTime::currentMSecsSinceEpoch())) && tx.commit();
    if (!ok)
        error = openProblem(path_, db_.lastCode(), db_.error(), true);
    return ok;
}

TrendStore::Snapshot::Snapshot(TrendStore &store)
    : tx_(store.db_)
{
}

TrendStore::Snapshot::~Snapshot() = default;

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

bool TrendStore::setFullSync(bool full)
{
    return db_.exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
}

void TrendStore::add(const StatusRow &row)
{
    pendingRows_.push_back(row);
}

void TrendStore::addEvent(const Event &event)
{
    pendingEvents_.push_back(event);
}

bool TrendStore::isStored(qint64 t)
{
    {
        sql::Stmt raw(db_, "SELECT 1 FROM status WHERE t = ?");
        raw.bind(1, std::int64_t(t));
        if (raw.step())
            return true;
    }
    // A packed minute whose span holds t: its times are read (and kept for the next status).
    sql::Stmt chunk(db_, "SELECT t0 FROM chunk WHERE t0 <= ? AND t0 > ? AND t1 >= ?");
    chunk.bind(1, std::int64_t(t)).bind(2, std::int64_t(t - MinuteMs)).bind(3, std::int64_t(t));
    while (chunk.step()) {
        const qint64 t0 = chunk.integer(0);
        if (t0 != cachedChunk_) {
            cachedTimes_.clear();
            sql::Stmt data(db_, "SELECT data FROM chunkdata WHERE t0 = ?");
            data.bind(1, std::int64_t(t0));
            QList<StatusRow> rows;
            if (data.step())
                unpackRows(data.blob(0), rows);
            for (const StatusRow &r : rows)
                cachedTimes_.push_back(r.t);
            cachedChunk_ = t0;
        }
        if (std::find(cachedTimes_.cbegin(), cachedTimes_.cend(), t) != cachedTimes_.cend())
            return true;
    }
    return false;
}

bool TrendStore::insertRow(const StatusRow &row, std::map<AccKey, Acc> &minutes, std::map<AccKey, Acc> &hours, bool &inserted)
{
    inserted = false;
    if (isStored(row.t))
        return true;
    sql::Stmt put(db_, "INSERT OR IGNORE INTO status(t, registers, vals) VALUES(?, ?, ?)");
    put.bind(1, std::int64_t(row.t)).bind(2, registerBytes(row.registers)).bind(3, valueBytes(row.values));
    if (!put.run())
        return false;
    inserted = db_.changes() > 0;
    if (!inserted)
        return true;
    for (int c = 0; c < ChannelCount; ++c) {
        const double v = row.values[size_t(c)];
        if (!hasValue(v))
            continue;
        minutes[{c, floorTo(row.t, MinuteMs)}].add(v, row.t);
        hours[{c, floorTo(row.t, HourMs)}].add(v, row.t);
    }
    return true;
}

bool TrendStore::writeSummaries(const char *table, const std::map<AccKey, Acc> &accs)
{
    // A summary whose sample times are unknown (written by an older version) keeps them so.
    const QByteArray sql = QByteArray("INSERT INTO ") + table
                           + (sampleTimes_ ? "(channel, t, n, lo, hi, total, first, last) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"
                                           : "(channel, t, n, lo, hi, total) VALUES(?, ?, ?, ?, ?, ?)")
                           + " ON CONFLICT(t, channel) DO UPDATE SET"
                             " n = n + excluded.n, lo = min(lo, excluded.lo), hi = max(hi, excluded.hi),"
                             " total = total + excluded.total"
                           + (sampleTimes_ ? ", first = min(first, excluded.first), last = max(last, excluded.last)" : "");
    sql::Stmt put(db_, sql.constData());
    for (const auto &[key, acc] : accs) {
        put.bind(1, std::int64_t(key.first)).bind(2, std::int64_t(key.second)).bind(3, std::int64_t(acc.n));
        put.bind(4, acc.min).bind(5, acc.max).bind(6, acc.sum);
        if (sampleTimes_)
            put.bind(7, std::int64_t(acc.first)).bind(8, std::int64_t(acc.last));
        if (!put.run())
            return false;
    }
    return true;
}

bool TrendStore::writeEvent(const Event &e, bool unlessThere)
{
    if (unlessThere) {
        sql::Stmt there(db_, "SELECT 1 FROM event WHERE t = ? AND kind = ? AND text = ?");
        there.bind(1, std::int64_t(e.t)).bindText(2, eventKindName(e.kind)).bindText(3, e.text);
        if (there.step())
            return true;
        if (!there.ok())
            return false;
    }
    sql::Stmt put(db_, "INSERT INTO event(t, kind, text) VALUES(?, ?, ?)");
    put.bind(1, std::int64_t(e.t)).bindText(2, eventKindName(e.kind)).bindText(3, e.text);
    return put.run();
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
    // The minutes that have raw statuses before `before`, packed one at a time.
    std::vector<qint64> minutes;
    {
        sql::Stmt get(db_, "SELECT t FROM status WHERE t < ? ORDER BY t");
        get.bind(1, std::int64_t(before));
        while (get.step()) {
            const qint64 m = floorTo(get.integer(0), MinuteMs);
            if (minutes.empty() || minutes.back() != m)
                minutes.push_back(m);
        }
        if (!get.ok())
            return false;
    }
    for (const qint64 minute : minutes) {
        QList<StatusRow> rows;
        sql::Stmt get(db_, "SELECT t, registers, vals FROM status WHERE t >= ? AND t < ? ORDER BY t");
        get.bind(1, std::int64_t(minute)).bind(2, std::int64_t(std::min(minute + MinuteMs, before)));
        while (get.step()) {
            StatusRow row;
            row.t = get.integer(0);
            registersFromBytes(get.blob(1), row.registers);
            valuesFromBytes(get.blob(2), row.values);
            rows.append(row);
        }
        if (!get.ok() || !packMinute(minute, rows))
            return false;
    }
    return true;
}

bool TrendStore::packMinute(qint64 minute, QList<StatusRow> rows)
{
    if (rows.isEmpty())
        return true;
    cachedChunk_ = -1;
    // A minute packed before (a recording that resumed within it, a clock set back) is
    // packed again whole. A packed minute this program cannot read is never replaced: the
    // new statuses of that minute stay raw beside it.
    std::vector<qint64> known;
    QList<StatusRow> earlier;
    {
        sql::Stmt old(db_, "SELECT t0, data FROM chunkdata WHERE t0 >= ? AND t0 < ?");
        old.bind(1, std::int64_t(minute)).bind(2, std::int64_t(minute + MinuteMs));
        while (old.step()) {
            if (!unpackRows(old.blob(1), earlier))
                return true;
            known.push_back(old.integer(0));
        }
        if (!old.ok())
            return false;
    }
    for (const qint64 t0 : known) {
        for (const char *sql : {"DELETE FROM chunk WHERE t0 = ?", "DELETE FROM chunkdata WHERE t0 = ?"}) {
            sql::Stmt drop(db_, sql);
            drop.bind(1, std::int64_t(t0));
            if (!drop.run())
                return false;
        }
    }
    QList<StatusRow> part = earlier + rows;
    std::stable_sort(part.begin(), part.end(), [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; });
    // A time packed before stays as it was packed.
    part.erase(std::unique(part.begin(), part.end(), [](const StatusRow &a, const StatusRow &b) { return a.t == b.t; }),
               part.end());
    qint64 maxGap = 0;
    for (qsizetype i = 1; i < part.size(); ++i)
        maxGap = std::max(maxGap, part.at(i).t - part.at(i - 1).t);
    sql::Stmt put(db_, "INSERT INTO chunk(t0, t1, n, maxgap) VALUES(?, ?, ?, ?)");
    sql::Stmt putData(db_, "INSERT INTO chunkdata(t0, data) VALUES(?, ?)");
    put.bind(1, std::int64_t(part.first().t)).bind(2, std::int64_t(part.last().t));
    put.bind(3, std::int64_t(part.size())).bind(4, std::int64_t(maxGap));
    putData.bind(1, std::int64_t(part.first().t)).bind(2, packRows(part));
    sql::Stmt drop(db_, "DELETE FROM status WHERE t >= ? AND t <= ?");
    drop.bind(1, std::int64_t(minute)).bind(2, std::int64_t(rows.last().t));
    return put.run() && putData.run() && drop.run();
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
        std::map<AccKey, Acc> minutes, hours;
        std::optional<qint64> last;
        for (const StatusRow &row : pendingRows_) {
            if (!ok)
                break;
            bool inserted = false;
            ok = insertRow(row, minutes, hours, inserted);
            if (inserted)
                last = row.t;
        }
        for (const Event &e : pendingEvents_) {
            if (!ok)
                break;
            ok = writeEvent(e, false);
        }
        ok = ok && writeSummaries("minute", minutes) && writeSummaries("hour", hours);
        if (ok && last)
            ok = setMeta(QStringLiteral("last_written"), QString::number(*last));
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
    cachedChunk_ = -1;
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
    {
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
        if (!(chunks.run() && chunkData.run() && raw.run() && minutes.run() && hours.run() && events.run() && tx.commit()))
            return false;
    }
    cachedChunk_ = -1;
    giveBackPages();
    return true;
}

void TrendStore::giveBackPages()
{
    if (db_.integer("PRAGMA auto_vacuum") == 2) {
        db_.exec("PRAGMA incremental_vacuum");
    } else {
        // A file made before pages were given back: rewritten once, when a quarter of it is free.
        const std::int64_t free = db_.integer("PRAGMA freelist_count");
        const std::int64_t pages = db_.integer("PRAGMA page_count");
        if (free <= 0 || free * 4 < pages)
            return;
        if (!db_.exec("PRAGMA auto_vacuum=INCREMENTAL; VACUUM"))
            return;
    }
    // The file shrinks when the log is copied back into it.
    db_.exec("PRAGMA wal_checkpoint(PASSIVE)");
}

bool TrendStore::absorb(const QString &otherPath, QString &error)
{
    if (mode_ != Mode::Record) {
        error = QStringLiteral("%1 is not open for recording").arg(path_);
        return false;
    }
    if (QFileInfo(otherPath).absoluteFilePath() == QFileInfo(path_).absoluteFilePath()) {
        error = QStringLiteral("%1 cannot take itself in").arg(path_);
        return false;
    }
    // A file that is being recorded goes on changing: it is left to its recorder.
    QLockFile otherLock(otherPath + QStringLiteral(".lock"));
    otherLock.setStaleLockTime(0);
    if (!otherLock.tryLock(0) && otherLock.error() == QLockFile::LockFailedError) {
        error = QStringLiteral("%1 is being recorded by %2; it is taken in once that recording stops")
                    .arg(QDir::toNativeSeparators(otherPath), lockHolder(otherLock));
        return false;
    }
    TrendStore other;
    if (!other.open(otherPath, Mode::Read, error))
        return false;
    if (hasPending() && !flush(error))
        return false;
    Snapshot snapshot(other);
    const auto otherSpan = other.span();
    const auto ownSpan = span();
    bool ok = false;
    {
        sql::Transaction tx(db_);
        ok = tx.begun();
        // An hour at a time: memory stays small whatever the other file holds.
        for (qint64 from = otherSpan ? otherSpan->first : 1, to = otherSpan ? otherSpan->last : 0; ok && from <= to;
             from += HourMs) {
            std::map<AccKey, Acc> minutes, hours;
            for (const StatusRow &row : other.statuses(from, std::min(to, from + HourMs - 1))) {
                bool inserted = false;
                if (!(ok = insertRow(row, minutes, hours, inserted)))
                    break;
            }
            ok = ok && writeSummaries("minute", minutes) && writeSummaries("hour", hours);
        }
        if (ok) {
            for (const Event &e : other.events(0, LatestMs)) {
                if (!(ok = writeEvent(e, true)))
                    break;
            }
        }
        // What came in is packed up to the minute this recording is writing now.
        if (ok && otherSpan) {
            const qint64 newest = ownSpan ? std::max(ownSpan->last, otherSpan->last) : otherSpan->last;
            ok = packCompleteMinutes(floorTo(ownSpan ? ownSpan->last : newest + MinuteMs, MinuteMs));
        }
        if (ok && !ownSpan && otherSpan) {
            if (const auto last = other.lastWritten())
                ok = setMeta(QStringLiteral("last_written"), QString::number(*last));
        }
        ok = ok && tx.commit();
    }
    cachedChunk_ = -1;
    if (!ok)
        error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path_), db_.error());
    return ok;
}

std::optional<ChannelSpan> TrendStore::span()
{
    sql::ReadTransaction read(db_);
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

std::optional<qint64> TrendStore::lastWritten()
{
    sql::ReadTransaction read(db_);
    bool ok = false;
    const qint64 noted = meta(QStringLiteral("last_written")).toLongLong(&ok);
    if (ok)
        return noted;
    const auto s = span();
    return s ? std::optional<qint64>(s->last) : std::nullopt;
}

qint64 TrendStore::gapThresholdMs()
{
    bool ok = false;
    const qint64 poll = meta(QStringLiteral("poll_ms")).toLongLong(&ok);
    return 3 * (ok && poll > 0 ? poll : 1000);
}

QList<Gap> TrendStore::gaps(qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<Gap> out;
    if (to < from)
        return out;
    sql::ReadTransaction read(db_);
    const qint64 threshold = gapThresholdMs();
    // Spans of time known to hold no gap (a status is a span of no length), from a little
    // before `from` to a little after `to` so that gaps reaching over either end are found.
    struct Part {
        qint64 a, b;
    };
    std::vector<Part> parts;
    // Where raw statuses begin; before it only the summaries are left.
    qint64 rawStart = LatestMs;
    if (const auto s = db_.integer("SELECT coalesce(min(t0), -1) FROM chunk", -1); s >= 0)
        rawStart = s;
    if (const auto s = db_.integer("SELECT coalesce(min(t), -1) FROM status", -1); s >= 0)
        rawStart = std::min<qint64>(rawStart, s);
    // The statuses nearest outside [from, to] (the raw ones; a minute's summary times beyond).
    qint64 lo = from, hi = to;
    {
        sql::Stmt before(db_, "SELECT max(t) FROM status WHERE t < ?");
        before.bind(1, std::int64_t(from));
        qint64 b = -1;
        if (before.step() && !before.isNull(0))
            b = before.integer(0);
        sql::Stmt chunkBefore(db_, "SELECT t0 FROM chunk WHERE t0 < ? ORDER BY t0 DESC LIMIT 1");
        chunkBefore.bind(1, std::int64_t(from));
        if (chunkBefore.step())
            b = std::max<qint64>(b, chunkBefore.integer(0));
        if (b < 0) {
            sql::Stmt minute(db_, "SELECT max(t) FROM minute WHERE t < ?");
            minute.bind(1, std::int64_t(from));
            if (minute.step() && !minute.isNull(0))
                b = minute.integer(0);
        }
        if (b >= 0)
            lo = b;
        sql::Stmt after(db_, "SELECT min(t) FROM status WHERE t > ?");
        after.bind(1, std::int64_t(to));
        qint64 a = -1;
        if (after.step() && !after.isNull(0))
            a = after.integer(0);
        sql::Stmt chunkAfter(db_, "SELECT t0 FROM chunk WHERE t0 > ? ORDER BY t0 LIMIT 1");
        chunkAfter.bind(1, std::int64_t(to));
        if (chunkAfter.step())
            a = a < 0 ? chunkAfter.integer(0) : std::min<qint64>(a, chunkAfter.integer(0));
        if (a < 0) {
            sql::Stmt minute(db_, "SELECT min(t) FROM minute WHERE t > ?");
            minute.bind(1, std::int64_t(to));
            if (minute.step() && !minute.isNull(0))
                a = minute.integer(0) + MinuteMs - 1;
        }
        if (a >= 0)
            hi = a;
    }
    {
        sql::Stmt raw(db_, "SELECT t FROM status WHERE t >= ? AND t <= ?");
        raw.bind(1, std::int64_t(lo)).bind(2, std::int64_t(hi));
        while (raw.step())
            parts.push_back({raw.integer(0), raw.integer(0)});
    }
    {
        sql::Stmt chunks(db_, "SELECT t0, t1, maxgap FROM chunk WHERE t0 > ? AND t0 <= ?");
        chunks.bind(1, std::int64_t(lo - MinuteMs)).bind(2, std::int64_t(hi));
        sql::Stmt data(db_, "SELECT data FROM chunkdata WHERE t0 = ?");
        while (chunks.step()) {
            const qint64 t0 = chunks.integer(0), t1 = chunks.integer(1);
            // A minute packed before its longest interval was noted is read for spans up to a
            // day; over longer ones (drawn in steps of minutes or more) it counts as a whole.
            const bool unnoted = chunks.isNull(2);
            if ((!unnoted && chunks.integer(2) <= threshold) || (unnoted && hi - lo > DayMs)) {
                parts.push_back({t0, t1});
                continue;
            }
            // A minute with a long interval inside (or written before it was noted): its times.
            data.reset();
            data.bind(1, std::int64_t(t0));
            QList<StatusRow> rows;
            if (data.step() && unpackRows(data.blob(0), rows)) {
                for (const StatusRow &r : rows)
                    parts.push_back({r.t, r.t});
            } else {
                parts.push_back({t0, t1});
            }
        }
    }
    if (lo < rawStart) {
        sql::Stmt minutes(db_, sampleTimes_ ? "SELECT t, min(first), max(last) FROM minute WHERE t >= ? AND t <= ? AND t < ? GROUP BY t"
                                            : "SELECT t, NULL, NULL FROM minute WHERE t >= ? AND t <= ? AND t < ? GROUP BY t");
        minutes.bind(1, std::int64_t(floorTo(lo, MinuteMs))).bind(2, std::int64_t(hi)).bind(3, std::int64_t(rawStart));
        while (minutes.step()) {
            const qint64 t = minutes.integer(0);
            parts.push_back({minutes.isNull(1) ? t : minutes.integer(1), minutes.isNull(2) ? t + MinuteMs - 1 : minutes.integer(2)});
        }
    }
    std::sort(parts.begin(), parts.end(), [](const Part &x, const Part &y) { return x.a < y.a; });
    qint64 end = -1;
    for (const Part &p : parts) {
        if (end >= 0 && p.a - end > threshold && p.a >= from && end <= to)
            out.append({end, p.a});
        end = std::max(end, p.b);
    }
    return out;
}

std::map<int, ChannelSpan> TrendStore::channelSpans()
{
    sql::ReadTransaction read(db_);
    std::map<int, ChannelSpan> out;
    sql::Stmt get(db_, "SELECT channel, min(t), max(t), sum(n) FROM minute GROUP BY channel");
    while (get.step())
        out[int(get.integer(0))] = {get.integer(1), get.integer(2) + MinuteMs - 1, get.integer(3)};
    // The first and last sample exactly, from the statuses at either end of each minute.
    for (auto &[channel, s] : out) {
        for (qint64 *edge : {&s.first, &s.last}) {
            const qint64 minute = floorTo(*edge, MinuteMs);
            const QList<StatusRow> rows = readStatuses(minute, minute + MinuteMs - 1);
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
    sql::ReadTransaction read(db_);
    return readStatuses(from, to);
}

QList<StatusRow> TrendStore::readStatuses(qint64 from, qint64 to)
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
    // Packed and raw statuses interleave after the clock was set back: time order all the same.
    std::stable_sort(rows.begin(), rows.end(), [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; });
    return rows;
}

QList<Bucket> TrendStore::summaries(int channel, qint64 stepMs, qint64 from, qint64 to)
{
    clampSpan(from, to);
    sql::ReadTransaction read(db_);
    QList<Bucket> out;
    const char *sql = stepMs == HourMs
                          ? (sampleTimes_ ? "SELECT t, n, lo, hi, total, first, last FROM hour WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t"
                                          : "SELECT t, n, lo, hi, total, NULL, NULL FROM hour WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t")
                          : (sampleTimes_ ? "SELECT t, n, lo, hi, total, first, last FROM minute WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t"
                                          : "SELECT t, n, lo, hi, total, NULL, NULL FROM minute WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t");
    sql::Stmt get(db_, sql);
    get.bind(1, std::int64_t(channel)).bind(2, std::int64_t(from)).bind(3, std::int64_t(to));
    while (get.step()) {
        const qint64 n = get.integer(1);
        const qint64 t = get.integer(0);
        const qint64 first = get.isNull(5) ? t : get.integer(5);
        const qint64 last = get.isNull(6) ? t + stepMs - 1 : get.integer(6);
        out.append({t, n, get.real(2), get.real(3), n > 0 ? get.real(4) / double(n) : 0, first, last});
    }
    return out;
}

QList<QList<Bucket>> TrendStore::buckets(const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs)
{
    clampSpan(from, to);
    QList<QList<Bucket>> out(channels.size());
    if (stepMs <= 0 || to < from)
        return out;
    sql::ReadTransaction read(db_);
    // Steps of whole hours follow local time: their starts are listed, and a time belongs to
    // the last start at or before it. Other steps are multiples of the step.
    const bool local = stepMs % HourMs == 0;
    std::vector<qint64> starts;
    if (local) {
        // Only the steps that can hold a summary are listed (an open end asks for none).
        // Each end found by the key (one aggregate per query): no scan of the summaries.
        sql::Stmt bounds(db_, "SELECT (SELECT min(t) FROM minute), (SELECT max(t) FROM minute)");
        if (!bounds.step() || bounds.isNull(0))
            return out;
        from = std::max<qint64>(from, bounds.integer(0));
        to = std::min<qint64>(to, bounds.integer(1) + MinuteMs - 1);
        if (to < from)
            return out;
        for (qint64 s = stepStart(from, stepMs); s <= to; s = nextStepStart(s, stepMs))
            starts.push_back(s);
    }
    auto bucketOf = [&](qint64 t) {
        if (!local)
            return floorTo(t, stepMs);
        const auto at = std::upper_bound(starts.cbegin(), starts.cend(), t);
        return at == starts.cbegin() ? starts.front() : *(at - 1);
    };
    const qint64 first = local ? starts.front() : floorTo(from, stepMs);
    auto allMultiplesOf = [&](qint64 unit) {
        return std::all_of(starts.cbegin(), starts.cend(), [unit](qint64 s) { return s % unit == 0; });
    };
    const qint64 source = local ? (allMultiplesOf(HourMs) ? HourMs : allMultiplesOf(MinuteMs) ? MinuteMs : 0)
                                : (stepMs % MinuteMs == 0 ? MinuteMs : 0);
    auto fold = [](QList<Bucket> &series, const std::map<qint64, Acc> &accs) {
        for (const auto &[t, acc] : accs) {
            if (acc.n > 0)
                series.append({t, acc.n, acc.min, acc.max, acc.sum / double(acc.n), acc.first, acc.last});
        }
    };
    if (source != 0) {
        for (qsizetype i = 0; i < channels.size(); ++i) {
            std::map<qint64, Acc> accs;
            for (const Bucket &b : summaries(channels.at(i), source, first, to)) {
                Acc part{b.n, b.min, b.max, b.mean * double(b.n), b.first, b.last};
                accs[bucketOf(b.t)].merge(part);
            }
            fold(out[i], accs);
        }
        return out;
    }
    std::vector<std::map<qint64, Acc>> accs(size_t(channels.size()));
    for (const StatusRow &row : readStatuses(from, to)) {
        const qint64 bucket = bucketOf(row.t);
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
    sql::ReadTransaction read(db_);
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
