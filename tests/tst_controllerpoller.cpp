// One controller of the fleet exporter against a simulated controller in this process: polls
// on a fixed grid, a healthy controller up with the status page's numbers, a dead or slow one
// down with no measurement, its polls backing off on its own starts.

#include "fleet/controllerpoller.h"
#include "monitor/statusview.h"

#include "linefaults.h"
#include "plant.h"
#include "simlinks.h"
#include "simprotocol.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

using namespace qeln;
using fleet::ControllerPoller;
using fleet::PollResult;

namespace {

constexpr int IntervalMs = 200;
constexpr int TimeoutMs = 100;

struct SimulatedController {
    explicit SimulatedController(const sim::FaultSettings &settings) : faults(settings), tcp(protocol, faults)
    {
        QString error;
        if (!tcp.listen(QHostAddress(QHostAddress::LocalHost), 0, &error))
            qFatal("simulator: %s", qPrintable(error));
    }
    sim::Plant plant;
    sim::Protocol protocol{plant};
    sim::Faults faults;
    sim::TcpLink tcp;
};

} // namespace

// A controller of the config on the simulator's TCP port, on the test's interval and timeout.
fleet::ControllerConfig controllerAt(const QString &name, quint16 port)
{
    fleet::ControllerConfig config;
    config.name = name;
    config.link.tcp = true;
    config.link.host = QStringLiteral("127.0.0.1");
    config.link.port = port;
    config.interval = std::chrono::milliseconds(IntervalMs);
    config.timeout = std::chrono::milliseconds(TimeoutMs);
    return config;
}

class TestControllerPoller : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("qeln.*.info=false\nqeln.*.debug=false")); }
    void polls_data();
    void polls();
    void connections_data();
    void connections();
    void clockOffsets_data();
    void clockOffsets();
};

void TestControllerPoller::polls_data()
{
    QTest::addColumn<double>("dropRate");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("result");
    QTest::newRow("healthy") << 0.0 << 0 << true << int(PollResult::Ok);
    QTest::newRow("dead") << 1.0 << 0 << false << int(PollResult::Timeout);
    QTest::newRow("slow: answers after the time-out") << 0.0 << 3 * TimeoutMs << false << int(PollResult::Timeout);
    // Its answer would arrive while the next poll waits, and be taken for that one's.
    QTest::newRow("late into the next poll") << 0.0 << IntervalMs + TimeoutMs / 2 << false << int(PollResult::Timeout);
}

void TestControllerPoller::polls()
{
    QFETCH(double, dropRate);
    QFETCH(int, delayMs);
    QFETCH(bool, up);
    QFETCH(int, result);

    sim::FaultSettings settings;
    settings.dropRate = dropRate;
    settings.delayMs = delayMs;
    SimulatedController controller(settings);

    const fleet::ControllerConfig config = controllerAt(QStringLiteral("site-0001"), controller.tcp.port());
    const qint64 offset = 37;
    ControllerPoller poller(config, std::chrono::milliseconds(offset));
    QSignalSpy cameUp(&poller, &ControllerPoller::cameUp);
    QSignalSpy wentDown(&poller, &ControllerPoller::wentDown);
    QList<qint64> starts;
    QList<int> results;
    connect(&poller, &ControllerPoller::pollEnded, this, [&](PollResult r) {
        results << int(r);
        starts << poller.nextSlotMs();
    });
    poller.start();
    QTRY_VERIFY_WITH_TIMEOUT(results.size() >= 4, 20 * IntervalMs * 5);

    QCOMPARE(poller.up(), up);
    // One log line for the state it settled in, not one per poll.
    QCOMPARE(cameUp.size(), up ? 1 : 0);
    QCOMPARE(wentDown.size(), up ? 0 : 1);
    for (int r : results)
        QCOMPARE(r, result);
    QCOMPARE(poller.requests(PollResult(result)), quint64(results.size()));
    // Every poll on the grid of the Unix clock: offset + k × interval.
    for (qint64 start : starts)
        QCOMPARE(start % IntervalMs, offset);
    const fleet::ControllerSnapshot snapshot = poller.snapshot();
    QCOMPARE(snapshot.up, up);
    QCOMPARE(snapshot.requests[size_t(result)], double(results.size()));
    if (up) {
        QVERIFY(snapshot.lastSuccessSeconds && snapshot.pollDurationSeconds);
        QCOMPARE(snapshot.model, QStringLiteral("QELN-2KN"));
        // The numbers are those the status page shows for the controller's registers.
        ConsoleState state;
        for (int n = 1; n <= StatusRegisterSlots; ++n)
            state.StatusRegisters[size_t(n - 1)] = controller.plant.inputRegister(n);
        const StatusView view = decodeStatusView(state);
        // The firmware label is the version the status bar shows, without its decoration.
        const QString shown = view.texts.value(QStringLiteral("ComSetting.0"));
        QVERIFY2(shown.contains(QStringLiteral("F/W V%1  (%2)")
                                    .arg(snapshot.firmware, QString(snapshot.firmwareDate).replace(u'-', u'/'))),
                 qPrintable(shown + QLatin1Char(' ') + snapshot.firmware));
        QVERIFY(snapshot.clockOffsetSeconds);
        bool found = false;
        for (const fleet::Sample &s : poller.samples()) {
            if (s.name == "qeln_dc_output_voltage_volts") {
                QCOMPARE(s.value, *shownNumber(view, QStringLiteral("Lable_DCV")));
                found = true;
            }
        }
        QVERIFY(found);
        // A healthy controller is polled on every slot.
        for (qsizetype i = 1; i < starts.size(); ++i)
            QCOMPARE(starts[i] - starts[i - 1], qint64(IntervalMs));
    } else {
        // Down: no measurement passes for a live one, and the polls back off on its starts:
        // 1, 2, 4, 5, 5 ... intervals after n failures in a row.
        QVERIFY(poller.samples().isEmpty() && snapshot.samples.isEmpty());
        QVERIFY(!snapshot.lastSuccessSeconds);
        QVERIFY(!poller.lastError().isEmpty());
        const qint64 steps[] = {1, 2, 4, 5, 5};
        for (qsizetype i = 1; i < std::min<qsizetype>(starts.size(), 5); ++i)
            QCOMPARE(starts[i] - starts[i - 1], steps[i] * IntervalMs);
    }
}

void TestControllerPoller::connections_data()
{
    QTest::addColumn<int>("connection");
    QTest::newRow("per poll") << int(fleet::Connection::PerPoll);
    QTest::newRow("persistent") << int(fleet::Connection::Persistent);
}

// Per poll: one connection for each poll, none held between polls (small controllers accept
// few clients). Persistent: one connection for all of them.
void TestControllerPoller::connections()
{
    QFETCH(int, connection);
    const bool perPoll = fleet::Connection(connection) == fleet::Connection::PerPoll;
    SimulatedController controller{sim::FaultSettings{}};
    fleet::ControllerConfig config = controllerAt(QStringLiteral("site-0002"), controller.tcp.port());
    config.connection = fleet::Connection(connection);
    ControllerPoller poller(config, std::chrono::milliseconds(11));
    poller.start();
    // Before its first poll ends nothing is known of it, not that it is down.
    QVERIFY(!poller.snapshot().polled);

    QList<int> servedAtEnd;
    connect(&poller, &ControllerPoller::pollEnded, this, [&](PollResult r) {
        QCOMPARE(r, PollResult::Ok);
        servedAtEnd << controller.tcp.connectionsServed();
    });
    QTRY_VERIFY_WITH_TIMEOUT(servedAtEnd.size() >= 4, 20 * IntervalMs * 5);
    QVERIFY(poller.snapshot().polled && poller.snapshot().up);
    for (qsizetype i = 0; i < servedAtEnd.size(); ++i)
        QCOMPARE(servedAtEnd[i], perPoll ? int(i + 1) : 1);
    if (perPoll)
        QTRY_COMPARE(controller.tcp.clientCount(), 0); // the controller sees the close
    else
        QCOMPARE(controller.tcp.clientCount(), 1);
}

void TestControllerPoller::clockOffsets_data()
{
    QTest::addColumn<QDateTime>("controller"); // invalid: the registers below
    QTest::addColumn<QList<int>>("registers"); // year, month, day, hour, minute, second
    QTest::addColumn<double>("offset");        // NaN: no series
    const QDateTime now = QDateTime::currentDateTime();
    QTest::newRow("five minutes ahead") << now.addSecs(300) << QList<int>{} << 300.0;
    QTest::newRow("years behind") << now.addYears(-3) << QList<int>{} << double(now.addYears(-3).secsTo(now) * -1);
    QTest::newRow("unset (zeros)") << QDateTime() << QList<int>{0, 0, 0, 0, 0, 0} << qQNaN();
    QTest::newRow("no such day") << QDateTime() << QList<int>{2026, 2, 30, 12, 0, 0} << qQNaN();
    QTest::newRow("no such hour") << QDateTime() << QList<int>{2026, 2, 3, 25, 0, 0} << qQNaN();
}

void TestControllerPoller::clockOffsets()
{
    QFETCH(QDateTime, controller);
    QFETCH(QList<int>, registers);
    QFETCH(double, offset);
    ControllerClock clock;
    if (controller.isValid()) {
        const QDate d = controller.date();
        const QTime t = controller.time();
        clock = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    } else {
        clock = {registers[0], registers[1], registers[2], registers[3], registers[4], registers[5]};
    }
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const std::optional<double> got = clockOffsetSeconds(clock, now);
    if (qIsNaN(offset)) {
        QVERIFY(!got);
        return;
    }
    QVERIFY(got);
    // Whole seconds on the controller's side, and the exporter's clock read a moment apart.
    QVERIFY2(qAbs(*got - offset) < 2, qPrintable(QString::number(*got)));
}

QTEST_GUILESS_MAIN(TestControllerPoller)
#include "tst_controllerpoller.moc"
