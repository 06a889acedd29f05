// The recorder over connections: one file per controller whatever the link (statuses held until
// the controller says who it is, a recording made under the link name folded in, a controller
// without an identity recorded by its link), recording that resumes as soon as a usable folder
// is chosen, and pruning that a clock running ahead cannot turn against the recording.

#include "monitor/statusview.h"
#include "trend/recorder.h"
#include "trend/trendstore.h"

#include "plant.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln;
using namespace qeln::trend;

namespace {

PlantStatus statusOf(const sim::Plant &plant)
{
    ConsoleState state;
    for (int r = 1; r <= StatusRegisterSlots; ++r)
        state.StatusRegisters[size_t(r - 1)] = plant.inputRegister(r);
    return decodeStatusView(state).plant;
}

// The simulated plant's status, an AC failure under way when `failing`.
PlantStatus simulatedStatus(bool failing = false)
{
    sim::Plant plant;
    QString error;
    if (failing && plant.loadScenario(QStringLiteral("ac-fail"), &error)) {
        for (int i = 0; i < 240; ++i) {
            plant.advance(15'000);
            if (const PlantStatus status = statusOf(plant); !status.activeAlarmNames().isEmpty())
                return status;
        }
    }
    return statusOf(plant);
}

QStringList recordings(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.trend.sqlite")}, QDir::Files, QDir::Name);
}

// The statuses and alarm starts a recording holds.
std::pair<qint64, int> contents(const QString &path)
{
    TrendStore store;
    QString error;
    if (!store.open(path, TrendStore::Mode::Read, error))
        return {-1, -1};
    const auto span = store.span();
    int starts = 0;
    for (const Event &e : store.events(0, std::numeric_limits<qint64>::max() / 4))
        starts += e.kind == EventKind::AlarmStarted;
    return {span ? span->samples : 0, starts};
}

} // namespace

class TestRecorder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneFilePerController_data();
    void oneFilePerController();
    void resumesWhenAFolderIsChosenAgain();
    void clockAheadPrunesNothing();
};

void TestRecorder::oneFilePerController_data()
{
    // Per connection: its link, the statuses before the identity is known, what the identity
    // read gave ("SERIAL" or "SERIAL@MAC"; "" = no serial number, "-" = no answer), the
    // statuses after.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<QStringList>("identities");
    QTest::addColumn<int>("after");
    QTest::addColumn<QStringList>("files");
    const QString bySerial = QStringLiteral("M_2200000001.trend.sqlite");
    const QStringList tcpThenSerial{QStringLiteral("tcp:127.0.0.1:1502"), QStringLiteral("serial:/dev/ttyUSB0")};
    QTest::newRow("identity before the hold ends") << QStringList{tcpThenSerial.first()} << QList<int>{5}
                                                    << QStringList{QStringLiteral("2200000001")} << 5
                                                    << QStringList{bySerial};
    QTest::newRow("identity after the hold: folded")
        << QStringList{tcpThenSerial.first()} << QList<int>{Recorder::HoldLimit + 7}
        << QStringList{QStringLiteral("2200000001")} << 5 << QStringList{bySerial};
    QTest::newRow("same controller over TCP then serial")
        << tcpThenSerial << QList<int>{3, Recorder::HoldLimit + 2}
        << QStringList{QStringLiteral("2200000001"), QStringLiteral(" 2200000001 ")} << 4 << QStringList{bySerial};
    QTest::newRow("one serial number, two MAC addresses: two controllers")
        << tcpThenSerial << QList<int>{3, 3}
        << QStringList{QStringLiteral("2200000001@00.1A.3A.E0.00.01"), QStringLiteral("2200000001@00.1A.3A.E0.00.02")}
        << 4 << QStringList{bySerial, QStringLiteral("M_2200000001_00.1A.3A.E0.00.02.trend.sqlite")};
    QTest::newRow("no serial number: the link names it")
        << QStringList{tcpThenSerial.first()} << QList<int>{4} << QStringList{QString()} << 4
        << QStringList{QStringLiteral("M_tcp-127.0.0.1-1502.trend.sqlite")};
    QTest::newRow("no answer: the link names it")
        << QStringList{tcpThenSerial.last()} << QList<int>{4} << QStringList{QStringLiteral("-")} << 4
        << QStringList{QStringLiteral("M_serial--dev-ttyUSB0.trend.sqlite")};
}

void TestRecorder::oneFilePerController()
{
    QFETCH(QStringList, links);
    QFETCH(QList<int>, before);
    QFETCH(QStringList, identities);
    QFETCH(int, after);
    QFETCH(QStringList, files);
    QTemporaryDir dir;
    PlantStatus plant = simulatedStatus(true);
    plant.modelText = QStringLiteral("M");
    QVERIFY2(!plant.activeAlarmNames().isEmpty(), "the simulated plant has an alarm to record once per connection");
    qint64 t = QDateTime::currentMSecsSinceEpoch() - 3'600'000;
    qint64 sent = 0;
    {
        Recorder recorder;
        recorder.setOutputFolder(dir.path());
        for (qsizetype c = 0; c < links.size(); ++c) {
            recorder.beginConnection(links.at(c), true);
            for (int i = 0; i < before.at(c); ++i, ++sent)
                recorder.addStatus(plant, t += 1000);
            recorder.flushNow();
            if (identities.at(c) == QLatin1String("-"))
                recorder.identityUnknown();
            else
                recorder.setSerialNumber(identities.at(c).section(QLatin1Char('@'), 0, 0),
                                         identities.at(c).section(QLatin1Char('@'), 1));
            QVERIFY(!recorder.awaitingIdentity());
            for (int i = 0; i < after; ++i, ++sent)
                recorder.addStatus(plant, t += 1000);
            recorder.flushNow();
        }
        recorder.close();
    }
    const QString trends = dir.filePath(QStringLiteral("trends"));
    QCOMPARE(recordings(trends), files);
    qint64 statuses = 0;
    int starts = 0;
    for (const QString &file : files) {
        const auto [n, s] = contents(QDir(trends).filePath(file));
        statuses += n;
        starts += s;
    }
    QCOMPARE(statuses, sent);
    // Each connection records the active alarms once at its start; a fold adds none.
    QCOMPARE(starts, int(links.size() * plant.activeAlarmNames().size()));
}

void TestRecorder::resumesWhenAFolderIsChosenAgain()
{
    QTemporaryDir dir;
    const PlantStatus plant = simulatedStatus();
    Recorder recorder;
    recorder.setRetryInterval(3'600'000); // only a chosen folder can end this pause
    QSignalSpy paused(&recorder, &Recorder::paused);
    QSignalSpy resumed(&recorder, &Recorder::resumed);
    recorder.setOutputFolder(dir.filePath(QStringLiteral("gone/away")));
    recorder.setLink(QStringLiteral("tcp:127.0.0.1:1502"));
    qint64 t = QDateTime::currentMSecsSinceEpoch();
    recorder.addStatus(plant, t);
    QVERIFY(recorder.isPaused());
    QCOMPARE(paused.size(), 1);

    recorder.setOutputFolder(dir.path());
    QVERIFY(!recorder.isPaused());
    recorder.addStatus(plant, t += 1000);
    recorder.flushNow();
    QCOMPARE(resumed.size(), 1);
    QVERIFY(recorder.filePath().startsWith(dir.path()));
    QCOMPARE(contents(recorder.filePath()).first, 1);
}

void TestRecorder::clockAheadPrunesNothing()
{
    // A recording with statuses 100 and 50 days old. The clock runs 100 days ahead for a few
    // statuses: nothing is cut. Back on time, the 100-day-old statuses go (raw statuses are kept
    // 90 days before the newest) and the 50-day-old ones stay.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ahead.trend.sqlite"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const PlantStatus plant = simulatedStatus();
    StatusRow old;
    for (int r = 0; r < StatusRegisterSlots; ++r)
        old.registers[size_t(r)] = quint16(plant.registers[size_t(r)]);
    {
        TrendStore store;
        QString error;
        QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
        for (qint64 age : {100 * DayMs, 50 * DayMs}) {
            old.t = now - age;
            old.values = channelValues(plant, old.t);
            store.add(old);
        }
        QVERIFY2(store.flush(error), qPrintable(error));
    }
    auto oldest = [&path] {
        TrendStore store;
        QString error;
        const auto span = store.open(path, TrendStore::Mode::Read, error) ? store.span() : std::nullopt;
        return span ? span->first : qint64(-1);
    };

    Recorder recorder;
    recorder.setFile(path);
    recorder.setPruneInterval(0);
    QSignalSpy flushed(&recorder, &Recorder::flushed);
    for (int i = 0; i < 3; ++i)
        recorder.addStatus(plant, now + 100 * DayMs + i * 1000);
    QTRY_VERIFY(flushed.size() >= 1);
    recorder.addStatus(plant, now + 100 * DayMs + 5000);
    QTRY_VERIFY(flushed.size() >= 2); // a commit tick with its look at pruning went by
    QCOMPARE(oldest(), now - 100 * DayMs);

    QSignalSpy paused(&recorder, &Recorder::paused);
    recorder.addStatus(plant, now);
    QCOMPARE(paused.size(), 0);
    const qsizetype ticks = flushed.size();
    QTRY_VERIFY(flushed.size() > ticks);
    QTRY_COMPARE(oldest(), now - 50 * DayMs);
    QVERIFY2(paused.isEmpty(), paused.isEmpty() ? "" : qPrintable(paused.first().first().toString()));
}

QTEST_GUILESS_MAIN(TestRecorder)

#include "tst_recorder.moc"
