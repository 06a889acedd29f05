// Trend recording files: one recorder per file (another process holding it, one that died),
// files of a newer or an older format, packed minutes this program cannot read, what an open
// that fails says, pages given back after pruning, and folding one recording into another.

#include "trend/trendstore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

using namespace qeln;
using namespace qeln::trend;

namespace {

constexpr qint64 Start = 1'796'688'000'000; // 2026-12-08T00:00:00Z

StatusRow row(qint64 t, double v, bool allChannels = true)
{
    StatusRow r;
    r.t = t;
    r.values.fill(allChannels ? v : NoValue);
    r.values[0] = v;
    return r;
}

bool record(TrendStore &store, qint64 from, qint64 to, qint64 stepMs, bool allChannels = true)
{
    QString error;
    int n = 0;
    for (qint64 t = from; t < to; t += stepMs) {
        store.add(row(t, double(t / 1000 % 100), allChannels));
        if (++n % 2000 == 0 && !store.flush(error))
            return false;
    }
    return store.flush(error);
}

// A new recording of [from, to) at 1 Hz, closed again.
bool makeRecording(const QString &path, qint64 from, qint64 to)
{
    TrendStore store;
    QString error;
    return store.open(path, TrendStore::Mode::Record, error) && record(store, from, to, 1000);
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// Runs SQL on a file with a connection of its own; the first result's text.
QString sqlOn(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt *st = nullptr;
    QString out;
    const char *tail = sql;
    while (tail && *tail) {
        if (sqlite3_prepare_v2(db, tail, -1, &st, &tail) != SQLITE_OK) {
            out = QString::fromUtf8(sqlite3_errmsg(db));
            break;
        }
        if (!st)
            break;
        if (sqlite3_step(st) == SQLITE_ROW)
            out = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// A second process that opens `path` for recording: it says "held", then either dies at once
// (leaving its lock behind) or holds the file until its input closes.
struct Holder {
    QProcess process;
    bool start(const QString &path, bool die)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QELN_HOLD_RECORDING"), path);
        env.insert(QStringLiteral("QELN_HOLD_THEN"), die ? QStringLiteral("die") : QStringLiteral("wait"));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {});
        if (!process.waitForStarted())
            return false;
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(10'000))
                return false;
        }
        return process.readLine().trimmed() == "held";
    }
    ~Holder()
    {
        process.closeWriteChannel();
        process.waitForFinished();
    }
};

int holdRecording(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TrendStore store;
    QString error;
    if (!store.open(qEnvironmentVariable("QELN_HOLD_RECORDING"), TrendStore::Mode::Record, error)) {
        std::printf("refused %s\n", qPrintable(error));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    if (qEnvironmentVariable("QELN_HOLD_THEN") == QLatin1String("die"))
        std::_Exit(0); // no clean-up: the lock stays behind as after a crash
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

} // namespace

class TestTrendFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void oneRecorderPerFile();
    void recorderThatDiedLeavesNoLock();
    void newerFormat();
    void unreadableChunkKept();
    void olderFormatBroughtUpToDate();
    void openProblems_data();
    void openProblems();
    void pruneGivesPagesBack_data();
    void pruneGivesPagesBack();
    void absorb();

private:
    QString file(const QString &name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

void TestTrendFile::oneRecorderPerFile()
{
    // Another process records the file: a second recorder is refused with its name and process,
    // readers still read, and the file cannot be folded into another meanwhile.
    const QString path = file(QStringLiteral("held.trend.sqlite"));
    QVERIFY(makeRecording(path, Start, Start + 10'000));
    auto holder = std::make_unique<Holder>();
    QVERIFY(holder->start(path, false));
    const QString pid = QString::number(holder->process.processId());
    QString error;
    TrendStore second;
    QVERIFY(!second.open(path, TrendStore::Mode::Record, error));
    QVERIFY2(error.contains(QStringLiteral("is being recorded by")) && error.contains(QStringLiteral("process ") + pid)
                 && error.contains(QStringLiteral("tst_trendfile")),
             qPrintable(error));
    TrendStore reader;
    QVERIFY2(reader.open(path, TrendStore::Mode::Read, error), qPrintable(error));
    QCOMPARE(reader.span()->samples, 10);
    TrendStore other;
    QVERIFY(other.open(file(QStringLiteral("other.trend.sqlite")), TrendStore::Mode::Record, error));
    QVERIFY(!other.absorb(path, error));
    QVERIFY2(error.contains(QStringLiteral("process ") + pid), qPrintable(error));
    QCOMPARE(other.span(), std::nullopt);

    holder.reset();
    TrendStore after;
    QVERIFY2(after.open(path, TrendStore::Mode::Record, error), qPrintable(error));
}

void TestTrendFile::recorderThatDiedLeavesNoLock()
{
    const QString path = file(QStringLiteral("died.trend.sqlite"));
    {
        Holder holder;
        QVERIFY(holder.start(path, true));
        QVERIFY(holder.process.waitForFinished());
    }
    QVERIFY(QFile::exists(path + QStringLiteral(".lock")));
    TrendStore store;
    QString error;
    QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
}

void TestTrendFile::newerFormat()
{
    // Written by a later version: never written into, read where its tables are readable.
    const QString path = file(QStringLiteral("newer.trend.sqlite"));
    QVERIFY(makeRecording(path, Start, Start + 90'000));
    QCOMPARE(sqlOn(path, "PRAGMA wal_checkpoint(TRUNCATE); UPDATE meta SET value = '7' WHERE key = 'version'; PRAGMA wal_checkpoint(TRUNCATE)"),
             QStringLiteral("0"));
    const QByteArray before = fileHash(path);
    QString error;
    {
        TrendStore store;
        QVERIFY(!store.open(path, TrendStore::Mode::Record, error));
        QVERIFY2(error.contains(QStringLiteral("written by a newer version of this program"))
                     && error.contains(QStringLiteral("opened read-only")),
                 qPrintable(error));
    }
    QCOMPARE(fileHash(path), before);
    TrendStore reader;
    QVERIFY2(reader.open(path, TrendStore::Mode::Read, error), qPrintable(error));
    QCOMPARE(reader.statuses(0, Start + DayMs).size(), 90);
    QCOMPARE(reader.formatVersion(), 7);

    // A layout changed beyond what this program reads: refused, saying why.
    sqlOn(path, "ALTER TABLE status RENAME COLUMN vals TO channel_values");
    TrendStore changed;
    QVERIFY(!changed.open(path, TrendStore::Mode::Read, error));
    QVERIFY2(error.contains(QStringLiteral("newer version")) && error.contains(QStringLiteral("cannot read")), qPrintable(error));
}

void TestTrendFile::unreadableChunkKept()
{
    // A packed minute in a form this program does not know stays as it is when statuses of the
    // same minute come; those are kept raw beside it and read back.
    const QString path = file(QStringLiteral("chunk.trend.sqlite"));
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    const QByteArray unknown = qCompress(QByteArray("\x09 a later packing", 17));
    {
        sqlite3 *db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_exec(db, "INSERT INTO chunk(t0, t1, n) VALUES(1796688000500, 1796688030500, 4)", nullptr, nullptr, nullptr);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO chunkdata(t0, data) VALUES(1796688000500, ?)", -1, &st, nullptr);
        sqlite3_bind_blob(st, 1, unknown.constData(), int(unknown.size()), SQLITE_TRANSIENT);
        QCOMPARE(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    QVERIFY(record(store, Start, Start + 3 * MinuteMs, 1000));
    QVERIFY(record(store, Start + 3 * MinuteMs, Start + 4 * MinuteMs, 1000)); // packs again
    QCOMPARE(sqlOn(path, "SELECT hex(data) FROM chunkdata WHERE t0 = 1796688000500"), QString::fromLatin1(unknown.toHex().toUpper()));
    QCOMPARE(sqlOn(path, "SELECT count(*) FROM status WHERE t < 1796688060000"), QStringLiteral("60"));
    QCOMPARE(store.statuses(0, Start + DayMs).size(), 4 * 60);
}

void TestTrendFile::olderFormatBroughtUpToDate()
{
    // A file of the first format (summaries without sample times, pages never given back):
    // read as it is; recording brings it up to date, and new summaries keep sample times.
    const QString path = file(QStringLiteral("v1.trend.sqlite"));
    sqlOn(path, "PRAGMA journal_mode=WAL;"
                "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
                "CREATE TABLE status(t INTEGER PRIMARY KEY, registers BLOB NOT NULL, vals BLOB NOT NULL);"
                "CREATE TABLE chunk(t0 INTEGER PRIMARY KEY, t1 INTEGER NOT NULL, n INTEGER NOT NULL);"
                "CREATE TABLE chunkdata(t0 INTEGER PRIMARY KEY, data BLOB NOT NULL);"
                "CREATE TABLE minute(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL, lo REAL NOT NULL,"
                " hi REAL NOT NULL, total REAL NOT NULL, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
                "CREATE TABLE hour(channel INTEGER NOT NULL, t INTEGER NOT NULL, n INTEGER NOT NULL, lo REAL NOT NULL,"
                " hi REAL NOT NULL, total REAL NOT NULL, PRIMARY KEY(t, channel)) WITHOUT ROWID;"
                "CREATE TABLE event(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL);"
                "INSERT INTO meta VALUES('format', 'qeln-trend'), ('version', '1');"
                "INSERT INTO minute VALUES(0, 1796688000000, 2, 1.0, 3.0, 4.0);"
                "INSERT INTO hour VALUES(0, 1796688000000, 2, 1.0, 3.0, 4.0);");
    QString error;
    {
        TrendStore reader;
        QVERIFY2(reader.open(path, TrendStore::Mode::Read, error), qPrintable(error));
        QCOMPARE(reader.formatVersion(), 1);
        const QList<Bucket> old = reader.summaries(0, MinuteMs, 0, Start + DayMs);
        QCOMPARE(old, (QList<Bucket>{{Start, 2, 1.0, 3.0, 2.0, Start, Start + MinuteMs - 1}}));
    }
    TrendStore store;
    QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
    QCOMPARE(store.formatVersion(), 2);
    QCOMPARE(sqlOn(path, "SELECT value FROM meta WHERE key = 'version'"), QStringLiteral("2"));
    QVERIFY(record(store, Start + 70'000, Start + 80'000, 1000));
    store.add(row(Start + 30'000, 2.0));
    QVERIFY(store.flush(error));
    const QList<Bucket> minutes = store.summaries(0, MinuteMs, 0, Start + DayMs);
    QCOMPARE(minutes.size(), 2);
    // The older minute's times stay unknown (its bounds); the new one's are exact.
    QCOMPARE(minutes.at(0).n, 3);
    QCOMPARE(minutes.at(0).first, Start);
    QCOMPARE(minutes.at(0).last, Start + MinuteMs - 1);
    QCOMPARE(minutes.at(1).first, Start + 70'000);
    QCOMPARE(minutes.at(1).last, Start + 79'000);
    QCOMPARE(store.gaps(Start + 60'000, Start + DayMs), (QList<Gap>{{Start + 30'000, Start + 70'000}}));
}

void TestTrendFile::openProblems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("recording");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing folder") << QStringLiteral("gone/x.trend.sqlite") << QString() << true << QStringLiteral("does not exist");
    QTest::newRow("read-only folder") << QStringLiteral("ro/x.trend.sqlite") << QStringLiteral("ro-folder") << true
                                      << QStringLiteral("folder");
    QTest::newRow("read-only file") << QStringLiteral("rofile.trend.sqlite") << QStringLiteral("ro-file") << true
                                    << QStringLiteral("is not writable");
    QTest::newRow("locked by another program, reading") << QStringLiteral("busy.trend.sqlite") << QStringLiteral("busy") << false
                                                        << QStringLiteral("in use (locked) by another program");
    QTest::newRow("locked by another program, recording") << QStringLiteral("busy.trend.sqlite") << QStringLiteral("busy") << true
                                                          << QStringLiteral("in use (locked) by another program");
    QTest::newRow("not a recording") << QStringLiteral("text.trend.sqlite") << QStringLiteral("text") << false
                                     << QStringLiteral("not a trend recording");
}

void TestTrendFile::openProblems()
{
    QFETCH(QString, name);
    QFETCH(QString, setUp);
    QFETCH(bool, recording);
    QFETCH(QString, says);
    const QString path = file(name);
    sqlite3 *holder = nullptr;
    auto cleanUp = qScopeGuard([&] {
        if (holder)
            sqlite3_close(holder);
        QFile::setPermissions(QFileInfo(path).absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (setUp.startsWith(QLatin1String("ro-")) && ::geteuid() == 0)
        QSKIP("permissions do not hold for root");
    if (setUp == QLatin1String("ro-folder")) {
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("ro")));
        QVERIFY(QFile::setPermissions(QFileInfo(path).absolutePath(), QFile::ReadOwner | QFile::ExeOwner));
    } else if (setUp == QLatin1String("ro-file")) {
        {
            TrendStore store;
            QString error;
            QVERIFY(store.open(path, TrendStore::Mode::Record, error));
        }
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    } else if (setUp == QLatin1String("busy")) {
        if (!QFile::exists(path)) {
            TrendStore store;
            QString error;
            QVERIFY(store.open(path, TrendStore::Mode::Record, error));
        }
        // Another program holds the file in exclusive locking mode, writing.
        sqlite3_open(path.toUtf8().constData(), &holder);
        QCOMPARE(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; INSERT INTO meta VALUES('x', 'y');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
    } else if (setUp == QLatin1String("text")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("time,value\n");
    }
    TrendStore store;
    QString error;
    QVERIFY(!store.open(path, recording ? TrendStore::Mode::Record : TrendStore::Mode::Read, error));
    QVERIFY2(error.contains(says), qPrintable(error));
    QVERIFY2(error.contains(QLatin1Char(';')) || says == QLatin1String("not a trend recording"), "says what to do");
}

void TestTrendFile::pruneGivesPagesBack_data()
{
    QTest::addColumn<bool>("older"); // made before pages were given back
    QTest::newRow("new file") << false;
    QTest::newRow("older file") << true;
}

void TestTrendFile::pruneGivesPagesBack()
{
    // Forty days of a status a minute; pruning all but the last ten gives most of the file back.
    QFETCH(bool, older);
    const QString path = file(QStringLiteral("prune-%1.trend.sqlite").arg(older));
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    if (older) // as a file of the first format was made
        QCOMPARE(sqlOn(path, "PRAGMA auto_vacuum=NONE; VACUUM; PRAGMA auto_vacuum"), QStringLiteral("0"));
    QVERIFY(record(store, Start - 40 * DayMs, Start, MinuteMs, false));
    QVERIFY(store.prune(Start - 40 * DayMs)); // nothing to prune yet
    const qint64 before = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
    QVERIFY(store.prune(Start, 10 * DayMs, 10 * DayMs));
    QCOMPARE(sqlOn(path, "PRAGMA wal_checkpoint(TRUNCATE)"), QStringLiteral("0"));
    const qint64 after = QFileInfo(path).size();
    QVERIFY2(after * 2 < before, qPrintable(QStringLiteral("%1 -> %2 bytes").arg(before).arg(after)));
    QCOMPARE(sqlOn(path, "PRAGMA auto_vacuum"), QStringLiteral("2"));
    // The packed minute before the cut may hold statuses after it: it is kept whole.
    QCOMPARE(store.span()->samples, 10 * 24 * 60 + 1);
    QCOMPARE(sqlOn(path, "PRAGMA integrity_check"), QStringLiteral("ok"));
}

void TestTrendFile::absorb()
{
    // A recording under the link's name (three minutes, two events) folded into the one under
    // the serial number (overlapping it by a minute, one event the same).
    const QString byLink = file(QStringLiteral("link.trend.sqlite"));
    const QString bySerial = file(QStringLiteral("serial.trend.sqlite"));
    QString error;
    {
        TrendStore store;
        QVERIFY(store.open(byLink, TrendStore::Mode::Record, error));
        store.addEvent({Start + 5000, EventKind::AlarmStarted, QStringLiteral("AC Fail")});
        store.addEvent({Start + 9000, EventKind::Write, QStringLiteral("register 12 = 530")});
        QVERIFY(record(store, Start, Start + 3 * MinuteMs, 1000));
    }
    const QByteArray linkBytes = fileHash(byLink);
    TrendStore store;
    QVERIFY(store.open(bySerial, TrendStore::Mode::Record, error));
    store.addEvent({Start + 9000, EventKind::Write, QStringLiteral("register 12 = 530")});
    QVERIFY(record(store, Start + 2 * MinuteMs, Start + 5 * MinuteMs + 30'000, 1000));
    for (int twice = 0; twice < 2; ++twice) {
        QVERIFY2(store.absorb(byLink, error), qPrintable(error));
        const QList<StatusRow> rows = store.statuses(0, Start + DayMs);
        QCOMPARE(rows.size(), 5 * 60 + 30);
        for (qsizetype i = 0; i < rows.size(); ++i)
            QCOMPARE(rows.at(i).t, Start + i * 1000);
        const QList<Bucket> minutes = store.summaries(0, MinuteMs, 0, Start + DayMs);
        QCOMPARE(minutes.size(), 6);
        for (const Bucket &b : minutes)
            QCOMPARE(b.n, b.t == Start + 5 * MinuteMs ? 30 : 60);
        QCOMPARE(store.summaries(3, HourMs, 0, Start + DayMs).first().n, 5 * 60 + 30);
        QCOMPARE(store.events(0, Start + DayMs).size(), 2);
    }
    QCOMPARE(fileHash(byLink), linkBytes);
    QCOMPARE(sqlOn(bySerial, "PRAGMA integrity_check"), QStringLiteral("ok"));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("QELN_HOLD_RECORDING"))
        return holdRecording(argc, argv);
    QCoreApplication app(argc, argv);
    TestTrendFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trendfile.moc"
