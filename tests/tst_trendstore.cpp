// Trend recordings: what goes in comes back (packed minutes, raw rows, a recording resumed
// within a minute), the summaries equal a brute-force count over the same statuses, a
// one-status spike shows at every zoom, retention, foreign files left alone, and a disk that
// fills up pauses recording once without damaging the file.

#include "monitor/statusview.h"
#include "trend/recorder.h"
#include "trend/trendstore.h"

#include "plant.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace qeln;
using namespace qeln::trend;

namespace {

constexpr qint64 Start = 1'796'688'000'000; // a whole hour (2026-12-08T00:00:00Z)

StatusRow randomRow(QRandomGenerator &random, qint64 t)
{
    StatusRow row;
    row.t = t;
    for (auto &r : row.registers)
        r = quint16(random.bounded(65536));
    for (int c = 0; c < ChannelCount; ++c)
        row.values[size_t(c)] = random.bounded(10) == 0 ? NoValue : std::round(random.bounded(10000.0)) / 10 - 300;
    return row;
}

bool sameRow(const StatusRow &a, const StatusRow &b)
{
    if (a.t != b.t || a.registers != b.registers)
        return false;
    for (int c = 0; c < ChannelCount; ++c) {
        const double x = a.values[size_t(c)], y = b.values[size_t(c)];
        if (hasValue(x) != hasValue(y) || (hasValue(x) && x != y))
            return false;
    }
    return true;
}

QString integrity(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
    QString out = sqlite3_step(st) == SQLITE_ROW ? QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)))
                                                 : QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

} // namespace

class TestTrendStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void roundTripAndSummaries();
    void spikeAtEveryZoom_data();
    void spikeAtEveryZoom();
    void retention();
    void foreignFilesLeftAlone_data();
    void foreignFilesLeftAlone();
    void recordsWhatThePageShows();
    void olderRecordingGainsNewChannels();
    void fullDiskPausesOnce();

private:
    QTemporaryDir dir_;
};

void TestTrendStore::roundTripAndSummaries()
{
    // Two and a half hours at irregular 1..4 s steps, written one to five statuses per commit,
    // the store closed and opened again in the middle of a minute.
    const QString path = dir_.filePath(QStringLiteral("round.trend.sqlite"));
    QRandomGenerator random(7);
    QList<StatusRow> input;
    for (qint64 t = Start + 500; t < Start + 9'000'000; t += 1000 + random.bounded(3000))
        input << randomRow(random, t);
    auto store = std::make_unique<TrendStore>();
    QString error;
    QVERIFY2(store->open(path, TrendStore::Mode::Record, error), qPrintable(error));
    for (qsizetype i = 0; i < input.size();) {
        const qsizetype batch = 1 + random.bounded(5);
        for (qsizetype k = 0; k < batch && i < input.size(); ++k, ++i)
            store->add(input.at(i));
        QVERIFY2(store->flush(error), qPrintable(error));
        if (i > input.size() / 2 && i <= input.size() / 2 + 5) {
            store = std::make_unique<TrendStore>();
            QVERIFY(store->open(path, TrendStore::Mode::Record, error));
        }
    }

    TrendStore reader;
    QVERIFY2(reader.open(path, TrendStore::Mode::Read, error), qPrintable(error));
    const QList<StatusRow> back = reader.statuses(0, std::numeric_limits<qint64>::max());
    QCOMPARE(back.size(), input.size());
    for (qsizetype i = 0; i < input.size(); ++i)
        QVERIFY2(sameRow(back.at(i), input.at(i)), qPrintable(QStringLiteral("status %1").arg(i)));
    QCOMPARE(reader.span()->samples, qint64(input.size()));

    for (const qint64 step : {MinuteMs, HourMs}) {
        for (int c : {0, 9, 24}) {
            std::map<qint64, Bucket> expected;
            for (const StatusRow &row : input) {
                const double v = row.values[size_t(c)];
                if (!hasValue(v))
                    continue;
                Bucket &b = expected[row.t / step * step];
                b.t = row.t / step * step;
                b.min = b.n ? std::min(b.min, v) : v;
                b.max = b.n ? std::max(b.max, v) : v;
                b.mean += v; // the sum until divided below
                ++b.n;
            }
            const QList<Bucket> stored = reader.summaries(c, step, 0, Start + 10 * HourMs);
            QCOMPARE(stored.size(), qsizetype(expected.size()));
            auto it = expected.begin();
            for (const Bucket &b : stored) {
                const Bucket &e = (it++)->second;
                QCOMPARE(b.t, e.t);
                QCOMPARE(b.n, e.n);
                QCOMPARE(b.min, e.min);
                QCOMPARE(b.max, e.max);
                QVERIFY(std::abs(b.mean - e.mean / double(e.n)) < 1e-9);
            }
        }
    }
}

void TestTrendStore::spikeAtEveryZoom_data()
{
    QTest::addColumn<qint64>("step");
    QTest::newRow("raw, 1 s") << qint64(1000);
    QTest::newRow("raw, 7 s") << qint64(7000);
    QTest::newRow("minutes") << MinuteMs;
    QTest::newRow("5 minutes") << 5 * MinuteMs;
    QTest::newRow("hours") << HourMs;
    QTest::newRow("6 hours") << 6 * HourMs;
    QTest::newRow("a day") << DayMs;
}

void TestTrendStore::spikeAtEveryZoom()
{
    // A day of 54.0 V every 10 s, and one status at 58.3 V; the mean never shows it, the max of
    // its bucket must at every step.
    QFETCH(qint64, step);
    const QString path = dir_.filePath(QStringLiteral("spike.trend.sqlite"));
    constexpr qint64 SpikeAt = Start + 13 * HourMs + 17 * MinuteMs + 30'000;
    if (!QFile::exists(path)) {
        TrendStore store;
        QString error;
        QVERIFY(store.open(path, TrendStore::Mode::Record, error));
        for (qint64 t = Start; t < Start + DayMs; t += 10'000) {
            StatusRow row;
            row.t = t;
            row.values.fill(NoValue);
            row.values[2] = t == SpikeAt ? 58.3 : 54.0;
            store.add(row);
            if ((t - Start) % HourMs == 0)
                QVERIFY(store.flush(error));
        }
        QVERIFY(store.flush(error));
    }
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Read, error));
    const QList<Bucket> series = store.buckets({2}, Start, Start + DayMs - 1, step).first();
    QVERIFY(!series.isEmpty());
    int spikes = 0;
    for (const Bucket &b : series) {
        const bool holds = SpikeAt >= b.t && SpikeAt < b.t + step;
        QCOMPARE(b.max, holds ? 58.3 : 54.0);
        QCOMPARE(b.min, holds && step < 10'000 ? 58.3 : 54.0);
        spikes += holds;
    }
    QCOMPARE(spikes, 1);
}

void TestTrendStore::retention()
{
    const QString path = dir_.filePath(QStringLiteral("old.trend.sqlite"));
    const qint64 now = Start;
    const QList<qint64> ages = {800 * DayMs, 100 * DayMs, 91 * DayMs, 89 * DayMs, DayMs};
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    for (qint64 age : ages) {
        StatusRow row;
        row.t = now - age;
        row.values.fill(1.5);
        store.add(row);
        QVERIFY(store.flush(error));
    }
    store.addEvent({now - 800 * DayMs, EventKind::Write, QStringLiteral("old")});
    store.addEvent({now - 100 * DayMs, EventKind::Write, QStringLiteral("kept")});
    QVERIFY(store.flush(error));
    QVERIFY(store.prune(now));

    QList<qint64> raw;
    for (const StatusRow &row : store.statuses(0, now))
        raw << now - row.t;
    QCOMPARE(raw, (QList<qint64>{89 * DayMs, DayMs}));
    QList<qint64> summarised;
    for (const Bucket &b : store.summaries(0, MinuteMs, 0, now))
        summarised << now - b.t;
    QCOMPARE(summarised, (QList<qint64>{100 * DayMs, 91 * DayMs, 89 * DayMs, DayMs}));
    QCOMPARE(store.summaries(0, HourMs, 0, now).size(), 4);
    QCOMPARE(store.events(0, now).size(), 1);
    QCOMPARE(store.events(0, now).first().text, QStringLiteral("kept"));
}

void TestTrendStore::foreignFilesLeftAlone_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: an SQLite database of another program
    QTest::newRow("text file") << QByteArray("time,value\n1,2\n");
    QTest::newRow("another database") << QByteArray();
}

void TestTrendStore::foreignFilesLeftAlone()
{
    QFETCH(QByteArray, content);
    const QString path = dir_.filePath(QStringLiteral("foreign-%1").arg(QLatin1String(QTest::currentDataTag())));
    if (content.isEmpty()) {
        sqlite3 *db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_exec(db, "CREATE TABLE orders(id INTEGER); INSERT INTO orders VALUES(1);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    } else {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QFile before(path);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    for (auto mode : {TrendStore::Mode::Read, TrendStore::Mode::Record}) {
        TrendStore store;
        QString error;
        QVERIFY(!store.open(path, mode, error));
        QVERIFY2(error.contains(QLatin1String("not a trend recording")), qPrintable(error));
    }
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
}

void TestTrendStore::recordsWhatThePageShows()
{
    // An AC failure played by the simulated plant: every recorded status holds the plant's
    // registers, its channels are what the status page shows for them, and the alarms that
    // start and clear are events.
    sim::Plant plant;
    QString error;
    QVERIFY2(plant.loadScenario(QStringLiteral("ac-fail"), &error), qPrintable(error));
    const QString path = dir_.filePath(QStringLiteral("plant.trend.sqlite"));
    QList<StatusRow> sent;
    QStringList started, cleared;
    {
        Recorder recorder;
        recorder.setFile(path);
        QStringList last;
        for (int i = 0; i < 240; ++i) {
            plant.advance(15'000);
            ConsoleState state;
            StatusRow row;
            row.t = Start + i * 1000;
            for (int r = 1; r <= StatusRegisterSlots; ++r) {
                row.registers[size_t(r - 1)] = plant.inputRegister(r);
                state.StatusRegisters[size_t(r - 1)] = plant.inputRegister(r);
            }
            const StatusView view = decodeStatusView(state);
            row.values = channelValues(view.plant, row.t);
            recorder.addStatus(view.plant, row.t);
            sent << row;
            for (const QString &a : view.activeAlarms)
                if (!last.contains(a))
                    started << a;
            for (const QString &a : std::as_const(last))
                if (!view.activeAlarms.contains(a))
                    cleared << a;
            last = view.activeAlarms;
        }
        recorder.flushNow();
    }
    QVERIFY2(!started.isEmpty() && !cleared.isEmpty(), "the scenario starts and clears alarms");
    TrendStore store;
    QVERIFY(store.open(path, TrendStore::Mode::Read, error));
    const QList<StatusRow> back = store.statuses(0, Start + DayMs);
    QCOMPARE(back.size(), sent.size());
    for (qsizetype i = 0; i < sent.size(); ++i) {
        QVERIFY(sameRow(back.at(i), sent.at(i)));
        QVERIFY(sameRow(StatusRow{back.at(i).t, back.at(i).registers, decodeChannels(back.at(i).registers, back.at(i).t)}, sent.at(i)));
    }
    QStringList gotStarted, gotCleared;
    for (const Event &e : store.events(0, Start + DayMs))
        (e.kind == EventKind::AlarmStarted ? gotStarted : gotCleared) << e.text;
    QCOMPARE(gotStarted, started);
    QCOMPARE(gotCleared, cleared);
}

void TestTrendStore::olderRecordingGainsNewChannels()
{
    // A status recorded when only ten channels existed: the others come from its registers.
    sim::Plant plant;
    Registers registers{};
    for (int r = 1; r <= StatusRegisterSlots; ++r)
        registers[size_t(r - 1)] = plant.inputRegister(r);
    const ChannelValues decoded = decodeChannels(registers, Start);
    ChannelValues ten = decoded;
    std::fill(ten.begin() + 10, ten.end(), NoValue);
    const QString path = dir_.filePath(QStringLiteral("older.trend.sqlite"));
    {
        TrendStore store;
        QString error;
        QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    }
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO status(t, registers, vals) VALUES(?, ?, ?)", -1, &st, nullptr);
    const QByteArray regs = registerBytes(registers);
    const QByteArray vals = valueBytes(ten).left(10 * sizeof(double));
    sqlite3_bind_int64(st, 1, Start);
    sqlite3_bind_blob(st, 2, regs.constData(), int(regs.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 3, vals.constData(), int(vals.size()), SQLITE_TRANSIENT);
    QCOMPARE(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    sqlite3_close(db);

    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Read, error));
    const QList<StatusRow> rows = store.statuses(Start, Start);
    QCOMPARE(rows.size(), 1);
    QVERIFY(hasValue(decoded[24]));
    QVERIFY(sameRow(rows.first(), StatusRow{Start, registers, decoded}));
}

void TestTrendStore::fullDiskPausesOnce()
{
    // The process may write no file past 4 KiB: every write of the recording fails as on a
    // full disk. One message, recording paused, and after room is made it goes on; what was
    // written before is whole.
    const QString path = dir_.filePath(QStringLiteral("full.trend.sqlite"));
    Recorder recorder;
    recorder.setFile(path);
    recorder.setRetryInterval(20);
    QSignalSpy paused(&recorder, &Recorder::paused);
    QSignalSpy resumed(&recorder, &Recorder::resumed);
    ConsoleState state;
    const StatusView view = decodeStatusView(state);
    qint64 t = Start;
    for (int i = 0; i < 30; ++i)
        recorder.addStatus(view.plant, t += 1000);
    recorder.flushNow();
    QCOMPARE(paused.size(), 0);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit tight = saved;
    tight.rlim_cur = 4096;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &tight) == 0);
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (int i = 0; i < 20; ++i)
            recorder.addStatus(view.plant, t += 1000);
        recorder.flushNow();
        QTRY_VERIFY(!recorder.isPaused()); // the retry comes round
    }
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
    QCOMPARE(paused.size(), 1);
    QTRY_VERIFY(!recorder.isPaused());
    QVERIFY2(paused.first().first().toString().contains(QLatin1String("paused")), qPrintable(paused.first().first().toString()));

    recorder.addStatus(view.plant, t += 1000);
    recorder.flushNow();
    QCOMPARE(resumed.size(), 1);
    recorder.close();
    QCOMPARE(integrity(path), QStringLiteral("ok"));
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Read, error));
    const QList<StatusRow> rows = store.statuses(0, t);
    QVERIFY(rows.size() >= 31);
    QCOMPARE(rows.first().t, Start + 1000);
    QCOMPARE(rows.last().t, t);
}

QTEST_GUILESS_MAIN(TestTrendStore)

#include "tst_trendstore.moc"
