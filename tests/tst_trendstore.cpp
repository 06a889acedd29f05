// Trend recordings: what goes in comes back (packed minutes, raw rows, a recording resumed
// within a minute), the summaries equal a brute-force count over the same statuses, a
// one-status spike shows at every zoom, retention, foreign files left alone, and a disk that
// fills up pauses recording once without damaging the file.

#include "monitor/statusview.h"
#include "trend/recorder.h"
#include "trend/trendexport.h"
#include "trend/trendstore.h"

#include "plant.h"

#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <ctime>
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

// A status with every channel at `v`.
StatusRow flatRow(qint64 t, double v)
{
    StatusRow row;
    row.t = t;
    row.values.fill(v);
    return row;
}

// Writes the statuses at `times` (each value its index), `perFlush` to a commit.
bool record(TrendStore &store, const QList<qint64> &times, int perFlush = 10)
{
    QString error;
    for (qsizetype i = 0; i < times.size(); ++i) {
        store.add(flatRow(times.at(i), double(i)));
        if ((i + 1) % perFlush == 0 && !store.flush(error))
            return false;
    }
    return store.flush(error);
}

QList<qint64> timesOf(const QList<StatusRow> &rows)
{
    QList<qint64> out;
    for (const StatusRow &r : rows)
        out << r.t;
    return out;
}

// Every `stepMs` from `from` up to `to` (excluded).
QList<qint64> every(qint64 from, qint64 to, qint64 stepMs)
{
    QList<qint64> out;
    for (qint64 t = from; t < to; t += stepMs)
        out << t;
    return out;
}

// Sets the local time zone of this process (Qt reads it from the C library).
void setZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
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
    void storedTimesCountOnce_data();
    void storedTimesCountOnce();
    void snapshotHoldsDuringPack();
    void clockSetBack();
    void gaps_data();
    void gaps();
    void localSteps_data();
    void localSteps();
    void exportStreams_data();
    void exportStreams();

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
    // Open ends ask for no more than the recording holds.
    QCOMPARE(store.buckets({2}, 0, std::numeric_limits<qint64>::max(), step).first(), series);
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

void TestTrendStore::storedTimesCountOnce_data()
{
    // The same times written again: in the batch, raw in the file, or packed in the file.
    QTest::addColumn<QList<qint64>>("first");
    QTest::addColumn<QList<qint64>>("again");
    const QList<qint64> minute = every(Start, Start + MinuteMs, 1000);
    QTest::newRow("twice in one commit") << QList<qint64>{} << (minute + minute);
    QTest::newRow("raw in the file") << QList<qint64>{Start + 61'000, Start + 62'000} << QList<qint64>{Start + 61'000, Start + 62'000};
    QTest::newRow("packed in the file") << (minute + QList<qint64>{Start + MinuteMs + 1000}) << minute;
}

void TestTrendStore::storedTimesCountOnce()
{
    QFETCH(QList<qint64>, first);
    QFETCH(QList<qint64>, again);
    const QString path = dir_.filePath(QStringLiteral("dup-%1.trend.sqlite").arg(QString::fromLatin1(QTest::currentDataTag())));
    TrendStore store;
    QString error;
    QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
    QVERIFY(record(store, first, 1000));
    QVERIFY(record(store, again, 7));
    QSet<qint64> distinct(first.cbegin(), first.cend());
    distinct.unite(QSet<qint64>(again.cbegin(), again.cend()));
    const QList<StatusRow> rows = store.statuses(0, Start + DayMs);
    QCOMPARE(rows.size(), distinct.size());
    QCOMPARE(store.span()->samples, qint64(distinct.size()));
    qint64 counted = 0;
    for (const Bucket &b : store.summaries(0, MinuteMs, 0, Start + DayMs))
        counted += b.n;
    QCOMPARE(counted, qint64(distinct.size()));
    QCOMPARE(store.summaries(0, HourMs, 0, Start + DayMs).first().n, qint64(distinct.size()));
    // The first status of a time stays (the later one of the same time is not stored).
    if (!first.isEmpty())
        QCOMPARE(rows.first().values[0], 0.0);
}

void TestTrendStore::snapshotHoldsDuringPack()
{
    // A reader holding a snapshot while the recorder packs the minute it is reading: its span
    // and its statuses agree, and after the snapshot it sees the new minute.
    const QString path = dir_.filePath(QStringLiteral("snapshot.trend.sqlite"));
    TrendStore recorder;
    QString error;
    QVERIFY(recorder.open(path, TrendStore::Mode::Record, error));
    QVERIFY(record(recorder, every(Start, Start + 30'000, 1000)));
    TrendStore reader;
    QVERIFY(reader.open(path, TrendStore::Mode::Read, error));
    {
        TrendStore::Snapshot snapshot(reader);
        const auto before = reader.span();
        QVERIFY(before);
        // The minute is completed and packed into a chunk; raw rows leave the status table.
        QVERIFY(record(recorder, every(Start + 30'000, Start + 2 * MinuteMs, 1000)));
        QCOMPARE(reader.span()->samples, before->samples);
        QCOMPARE(reader.statuses(0, Start + DayMs).size(), before->samples);
        QCOMPARE(reader.buckets({0}, Start, Start + DayMs, MinuteMs).first().first().n, before->samples);
    }
    QCOMPARE(reader.span()->samples, 120);
    QCOMPARE(reader.statuses(0, Start + DayMs).size(), 120);
}

void TestTrendStore::clockSetBack()
{
    // Two minutes recorded, then the clock goes back an hour and recording goes on: statuses
    // come back in time order (packed and raw mixed), the last written is the last recorded,
    // and the newest time is still the one before the step.
    const QString path = dir_.filePath(QStringLiteral("clock.trend.sqlite"));
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    const QList<qint64> ahead = every(Start + HourMs, Start + HourMs + 2 * MinuteMs + 5000, 1000);
    const QList<qint64> back = every(Start, Start + 90'000, 1000);
    QVERIFY(record(store, ahead, 5));
    QVERIFY(record(store, back, 5));
    QList<qint64> expected = back + ahead;
    const QList<qint64> got = timesOf(store.statuses(0, Start + DayMs));
    QCOMPARE(got, expected);
    QCOMPARE(store.lastWritten(), std::optional<qint64>(back.last()));
    QCOMPARE(store.span()->last, ahead.last());
    // The export too, in pieces.
    TrendStore reader;
    QVERIFY(reader.open(path, TrendStore::Mode::Read, error));
    QList<qint64> exported;
    QVERIFY(forEachTrendRow(reader, {{0}, 0, Start + DayMs, 0}, [&](qint64 t, const std::vector<double> &) {
        exported << t;
        return true;
    }));
    QCOMPARE(exported, expected);
}

void TestTrendStore::gaps_data()
{
    QTest::addColumn<qint64>("pollMs"); // 0: not noted
    QTest::addColumn<bool>("pruned");   // the raw statuses are gone: from the summaries
    QTest::addColumn<bool>("unnoted");  // packed minutes without their longest interval
    QTest::newRow("raw, 1 s poll") << qint64(0) << false << false;
    QTest::newRow("raw, 5 s poll") << qint64(5000) << false << false;
    QTest::newRow("raw, packed by the first format") << qint64(0) << false << true;
    QTest::newRow("summaries") << qint64(0) << true << false;
}

void TestTrendStore::gaps()
{
    // Every second, with a hole of 4 s, one of 12 s inside a minute, and a pause of ten
    // minutes; at a 5 s poll (15 s threshold) only the pause is a gap.
    QFETCH(qint64, pollMs);
    QFETCH(bool, pruned);
    QFETCH(bool, unnoted);
    const QString path = dir_.filePath(QStringLiteral("gaps-%1.trend.sqlite").arg(QString::fromLatin1(QTest::currentDataTag())));
    const qint64 t0 = Start + 10 * MinuteMs;
    QList<qint64> times = every(t0, t0 + 20'000, 1000);                 // .. t0+19 s
    times += every(t0 + 23'000, t0 + 40'000, 1000);                      // 4 s: from 19 to 23
    times += every(t0 + 52'000, t0 + 3 * MinuteMs + 1000, 1000);         // 12 s: from 39 to 52
    times += every(t0 + 13 * MinuteMs, t0 + 15 * MinuteMs + 1000, 1000); // the pause
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    if (pollMs)
        QVERIFY(store.setMeta(QStringLiteral("poll_ms"), QString::number(pollMs)));
    QVERIFY(record(store, times, 13));
    QCOMPARE(store.gapThresholdMs(), 3 * (pollMs ? pollMs : 1000));
    if (unnoted) {
        sqlite3 *db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        QCOMPARE(sqlite3_exec(db, "UPDATE chunk SET maxgap = NULL", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    if (pruned)
        QVERIFY(store.prune(t0 + 20 * MinuteMs, MinuteMs));
    QList<Gap> expected;
    if (!pruned && !pollMs)
        expected << Gap{t0 + 19'000, t0 + 23'000};
    if (!pruned && !pollMs)
        expected << Gap{t0 + 39'000, t0 + 52'000};
    expected << Gap{t0 + 3 * MinuteMs, t0 + 13 * MinuteMs};
    QCOMPARE(store.gaps(Start, Start + DayMs), expected);
    // A span inside the pause still names it; one after it has none.
    QCOMPARE(store.gaps(t0 + 5 * MinuteMs, t0 + 6 * MinuteMs), QList<Gap>{expected.last()});
    QCOMPARE(store.gaps(t0 + 14 * MinuteMs, Start + DayMs), QList<Gap>{});
    // Buckets on either side give the sample times around the pause; no step is made inside.
    if (!pruned) {
        const QList<Bucket> steps = store.buckets({0}, t0, t0 + 16 * MinuteMs, 10'000).first();
        for (const Bucket &b : steps)
            QVERIFY(b.last <= t0 + 3 * MinuteMs || b.first >= t0 + 13 * MinuteMs);
    }
    const QList<Bucket> minutes = store.buckets({0}, t0, t0 + 16 * MinuteMs, MinuteMs).first();
    QCOMPARE(minutes.size(), 7);
    QCOMPARE(minutes.at(3).last, t0 + 3 * MinuteMs);
    QCOMPARE(minutes.at(4).first, t0 + 13 * MinuteMs);
}

void TestTrendStore::localSteps_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("step");
    QTest::addColumn<qint64>("from"); // a local midnight
    QTest::addColumn<QList<qint64>>("lengths"); // the steps' lengths from there
    // 2026-03-29: Europe/Berlin goes from +01:00 to +02:00 at 02:00 (the clock skips an hour).
    const qint64 berlinDay = 1'774'738'800'000; // 2026-03-29T00:00:00+01:00
    QTest::newRow("Seoul, days") << QByteArray("Asia/Seoul") << DayMs << qint64(1'796'655'600'000) << QList<qint64>{DayMs, DayMs};
    QTest::newRow("Kolkata, hours") << QByteArray("Asia/Kolkata") << HourMs << qint64(1'796'668'200'000)
                                    << QList<qint64>{HourMs, HourMs, HourMs};
    QTest::newRow("Kolkata, 6 hours") << QByteArray("Asia/Kolkata") << 6 * HourMs << qint64(1'796'668'200'000)
                                      << QList<qint64>{6 * HourMs, 6 * HourMs, 6 * HourMs, 6 * HourMs, 6 * HourMs};
    QTest::newRow("Berlin, summer time day") << QByteArray("Europe/Berlin") << DayMs << berlinDay << QList<qint64>{23 * HourMs, DayMs};
    QTest::newRow("Berlin, 5 hours that day") << QByteArray("Europe/Berlin") << 5 * HourMs << berlinDay
                                              << QList<qint64>{4 * HourMs, 5 * HourMs, 5 * HourMs, 5 * HourMs, 4 * HourMs, 5 * HourMs};
}

void TestTrendStore::localSteps()
{
    // A status every 10 minutes; the buckets of each step start at local midnight or a local
    // hour and count exactly the statuses between their starts.
    QFETCH(QByteArray, zone);
    QFETCH(qint64, step);
    QFETCH(qint64, from);
    QFETCH(QList<qint64>, lengths);
    const QByteArray saved = qgetenv("TZ");
    setZone(zone);
    auto restore = qScopeGuard([&] { setZone(saved); });
    QList<qint64> starts{from};
    for (qint64 l : lengths)
        starts << starts.last() + l;
    QCOMPARE(stepStart(from + 1, step), from);
    for (qsizetype i = 0; i + 1 < starts.size(); ++i)
        QCOMPARE(nextStepStart(starts.at(i), step), starts.at(i + 1));

    const QString path = dir_.filePath(QStringLiteral("local-%1.trend.sqlite").arg(QString::fromLatin1(QTest::currentDataTag())));
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Record, error));
    const QList<qint64> times = every(from - HourMs, starts.last() + HourMs, 10 * MinuteMs);
    QVERIFY(record(store, times, 50));
    const QList<Bucket> series = store.buckets({0}, from, starts.last() - 1, step).first();
    QCOMPARE(series.size(), lengths.size());
    for (qsizetype i = 0; i < series.size(); ++i) {
        QCOMPARE(series.at(i).t, starts.at(i));
        QCOMPARE(series.at(i).n, lengths.at(i) / (10 * MinuteMs));
        QCOMPARE(series.at(i).first, starts.at(i));
    }
}

void TestTrendStore::exportStreams_data()
{
    QTest::addColumn<qint64>("step");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("firstRow");
    QTest::newRow("every status") << qint64(0) << QStringLiteral("time,dc_voltage_volts,battery_soc_percent")
                                  << QStringLiteral("53.9,87");
    QTest::newRow("per minute") << MinuteMs
                                << QStringLiteral("time,dc_voltage_volts,dc_voltage_min_volts,dc_voltage_max_volts,"
                                                  "battery_soc_percent,battery_soc_min_percent,battery_soc_max_percent")
                                << QStringLiteral("54,53.9,54.1,87,87,88");
}

void TestTrendStore::exportStreams()
{
    // Two hours and a half of statuses at 1 s, a pause of an hour and a half in the middle: the
    // export has a row for every status (or step with statuses) and none in the pause; the
    // stepped means are at the channel's resolution (tenths of a volt, whole percent).
    QFETCH(qint64, step);
    QFETCH(QString, header);
    QFETCH(QString, firstRow);
    const QString path = dir_.filePath(QStringLiteral("export.trend.sqlite"));
    const int dc = channelIndex(QStringLiteral("dc_voltage")), soc = channelIndex(QStringLiteral("battery_soc"));
    const QList<qint64> times = every(Start, Start + HourMs, 1000) + every(Start + 150 * MinuteMs, Start + 4 * HourMs, 1000);
    if (!QFile::exists(path)) {
        TrendStore store;
        QString error;
        QVERIFY(store.open(path, TrendStore::Mode::Record, error));
        sim::Plant plant;
        Registers registers{};
        for (int r = 1; r <= StatusRegisterSlots; ++r)
            registers[size_t(r - 1)] = plant.inputRegister(r);
        for (qsizetype i = 0; i < times.size(); ++i) {
            StatusRow row{times.at(i), registers, {}};
            row.values.fill(NoValue);
            row.values[size_t(dc)] = std::array{53.9, 54.1, 54.0}[size_t(i % 3)];
            row.values[size_t(soc)] = i % 3 == 2 ? 88 : 87;
            store.add(row);
            if (i % 600 == 0)
                QVERIFY(store.flush(error));
        }
        QVERIFY(store.flush(error));
    }
    TrendStore store;
    QString error;
    QVERIFY(store.open(path, TrendStore::Mode::Read, error));
    QByteArray csv;
    qint64 rows = 0;
    int writes = 0;
    QVERIFY(streamTrendCsv(store, {{dc, soc}, 0, std::numeric_limits<qint64>::max(), step}, [&](const QByteArray &b) {
        csv += b;
        ++writes;
        return true;
    }, &rows));
    const QList<QByteArray> lines = csv.split('\n');
    QCOMPARE(QString::fromUtf8(lines.first()), header);
    QCOMPARE(rows, step ? qint64(150) : qint64(times.size()));
    QCOMPARE(lines.size(), rows + 2); // and the empty text after the last line end
    QVERIFY2(step || writes > 1, "written in pieces as it goes");
    QCOMPARE(QString::fromUtf8(lines.at(1)).section(QLatin1Char(','), 1), firstRow);
    for (qsizetype i = 1; i < lines.size() - 1; ++i) {
        const qint64 t = QDateTime::fromString(QString::fromUtf8(lines.at(i).left(29)), Qt::ISODateWithMs).toMSecsSinceEpoch();
        QVERIFY2(t < Start + HourMs || t >= Start + 150 * MinuteMs, lines.at(i).constData());
    }
    // A stop asked for by the reader is a failed export.
    QVERIFY(!streamTrendCsv(store, {{dc}, 0, Start + DayMs, step}, [](const QByteArray &) { return false; }));
}

QTEST_GUILESS_MAIN(TestTrendStore)

#include "tst_trendstore.moc"
