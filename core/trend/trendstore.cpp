#include "trendstore.h"
#include "trendstoreinternal.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace qeln::trend {

using namespace detail;

namespace {

constexpr const char *FormatName = "qeln-trend";
// 2: the summaries keep the first and last sample time, a packed minute its longest
// interval between statuses; pages freed by pruning go back to the file system.
constexpr int FormatVersion = 2;
constexpr quint8 ChunkVersion = 1;

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

struct TrendStore::Lock {
    explicit Lock(const QString &path)
        : file(path)
    {
        // Only a holder that has died leaves a stale lock, however old the lock is.
        file.setStaleLockTime(0);
    }
    QLockFile file;
};

QString detail::lockHolder(const QLockFile &lock)
{
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app))
        return QStringLiteral("another program");
    return QStringLiteral("%1 (process %2 on %3)").arg(app.isEmpty() ? QStringLiteral("a program") : app).arg(pid).arg(host);
}

namespace {

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

} // namespace qeln::trend
