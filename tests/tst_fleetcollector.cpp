// The fleet exporter's metrics as a scrape reads them: one series per controller and value,
// none of a down controller's measurements, removed controllers gone, and an exposition that
// Prometheus's own promtool accepts.

#include "fleet/fleetcollector.h"

#include <prometheus/text_serializer.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace qeln;
using fleet::ControllerSnapshot;
using fleet::FleetCollector;

namespace {

ControllerSnapshot upController(const QString &name)
{
    ControllerSnapshot c;
    c.name = name;
    c.labels = {{QStringLiteral("region"), QStringLiteral("north \"A\" \\ 1\nb")}};
    c.polled = true;
    c.up = true;
    c.lastSuccessSeconds = 1765100000.25;
    c.pollDurationSeconds = 0.012;
    c.intervalSeconds = 12.5;
    c.requests = {41, 2, 1, 0, 3};
    c.model = QStringLiteral("QELN-2KN");
    c.firmware = QStringLiteral("1.2.0.5");
    c.firmwareDate = QStringLiteral("2023-06-15");
    // Three good polls: 4 ms, 30 ms, 2 s.
    c.durationCounts = {1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3};
    c.durationSum = 2.034;
    c.durationCount = 3;
    c.clockOffsetSeconds = -312.5;
    c.alarmChanges = {{QStringLiteral("AC Input Fail"), 1765099000}};
    c.samples = {{"qeln_dc_output_voltage_volts", {}, 54.0},
                 {"qeln_battery_cell_voltage_volts", {{"cell", QStringLiteral("1")}}, 3.34},
                 {"qeln_battery_cell_voltage_volts", {{"cell", QStringLiteral("2")}}, 3.35},
                 {"qeln_alarm_active", {{"alarm", QStringLiteral("AC Input Fail")}}, 1}};
    return c;
}

QString scrape(const FleetCollector &collector)
{
    return QString::fromStdString(prometheus::TextSerializer().Serialize(collector.Collect()));
}

} // namespace

class TestFleetCollector : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void series_data();
    void series();
    void promtoolAcceptsTheExposition();
};

void TestFleetCollector::series_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("present");
    QTest::newRow("up") << "qeln_up{controller=\"site-a\"} 1" << true;
    QTest::newRow("down") << "qeln_up{controller=\"site-b\"} 0" << true;
    QTest::newRow("a measurement") << "qeln_dc_output_voltage_volts{controller=\"site-a\"} 54" << true;
    QTest::newRow("a cell") << "qeln_battery_cell_voltage_volts{controller=\"site-a\",cell=\"2\"} 3.35" << true;
    QTest::newRow("an alarm") << "qeln_alarm_active{controller=\"site-a\",alarm=\"AC Input Fail\"} 1" << true;
    QTest::newRow("requests by result") << "qeln_requests_total{controller=\"site-a\",result=\"link_error\"} 3" << true;
    QTest::newRow("down: its requests stay") << "qeln_requests_total{controller=\"site-b\",result=\"timeout\"} 7" << true;
    QTest::newRow("down: no measurement") << "qeln_dc_output_voltage_volts{controller=\"site-b\"}" << false;
    QTest::newRow("its interval") << "qeln_poll_interval_seconds{controller=\"site-a\"} 12.5" << true;
    QTest::newRow("down: no last success yet") << "qeln_last_success_timestamp_seconds{controller=\"site-b\"}" << false;
    QTest::newRow("removed: nothing") << "controller=\"site-c\"" << false;
    QTest::newRow("info") << "qeln_info{controller=\"site-a\",firmware=\"1.2.0.5\",firmware_date=\"2023-06-15\","
                             "model=\"QELN-2KN\",region=\"north \\\"A\\\" \\\\ 1\\nb\"} 1"
                          << true;
    QTest::newRow("duration bucket") << "qeln_poll_duration_seconds_bucket{controller=\"site-a\",le=\"0.05\"} 2" << true;
    QTest::newRow("duration above all") << "qeln_poll_duration_seconds_bucket{controller=\"site-a\",le=\"+Inf\"} 3"
                                        << true;
    QTest::newRow("duration count") << "qeln_poll_duration_seconds_count{controller=\"site-a\"} 3" << true;
    QTest::newRow("clock offset") << "qeln_clock_offset_seconds{controller=\"site-a\"} -312.5" << true;
    QTest::newRow("down: no clock offset") << "qeln_clock_offset_seconds{controller=\"site-b\"}" << false;
    QTest::newRow("alarm change") << "qeln_alarm_last_change_timestamp_seconds{controller=\"site-a\","
                                     "alarm=\"AC Input Fail\"} 1765099000"
                                  << true;
    QTest::newRow("build") << "qeln_exporter_build_info{version=\"9.8.7\"} 1" << true;
    QTest::newRow("reload failed") << "qeln_config_last_reload_successful 0" << true;
    // Not polled yet (after a start or a settings change): unknown, never "down".
    QTest::newRow("not polled: no up") << "qeln_up{controller=\"site-d\"}" << false;
    QTest::newRow("not polled: no requests") << "qeln_requests_total{controller=\"site-d\"" << false;
    QTest::newRow("not polled: no info") << "qeln_info{controller=\"site-d\"" << false;
    QTest::newRow("not polled: its interval") << "qeln_poll_interval_seconds{controller=\"site-d\"} 10" << true;
}

void TestFleetCollector::series()
{
    QFETCH(QString, line);
    QFETCH(bool, present);
    FleetCollector collector(QStringLiteral("9.8.7"));
    collector.publish(upController(QStringLiteral("site-a")));
    ControllerSnapshot down;
    down.name = QStringLiteral("site-b");
    down.polled = true;
    down.requests = {0, 7, 0, 0, 0};
    collector.publish(down);
    ControllerSnapshot waiting;
    waiting.name = QStringLiteral("site-d");
    waiting.intervalSeconds = 10;
    collector.publish(waiting);
    collector.publish(upController(QStringLiteral("site-c")));
    collector.remove(QStringLiteral("site-c"));
    collector.setConfigReloadSuccessful(false);
    const QString text = scrape(collector);
    QVERIFY2(text.contains(line) == present, qPrintable(text));
}

void TestFleetCollector::promtoolAcceptsTheExposition()
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    QVERIFY2(!promtool.isEmpty(), "promtool is not installed (scripts/setup-deps.sh installs prometheus)");
    FleetCollector collector;
    for (int i = 1; i <= 3; ++i)
        collector.publish(upController(QStringLiteral("site-%1").arg(i)));
    ControllerSnapshot down;
    down.name = QStringLiteral("site-9");
    down.polled = true;
    collector.publish(down);
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(check.waitForStarted());
    check.write(scrape(collector).toUtf8());
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    QCOMPARE(check.readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(TestFleetCollector)
#include "tst_fleetcollector.moc"
