// The fleet exporter's samples of one decoded status: each the number the status page shows,
// none for what the page hides or shows without a number, every alarm and shown contact 0/1.

#include "fleet/statussamples.h"
#include "monitor/alarmmodel.h"
#include "monitor/statusview.h"

#include <QTest>

#include <cmath>
#include <map>

using namespace qeln;
using fleet::Sample;

namespace {

// A plant as the console sees it: AC 220.5 V, DC 54.0 V, battery in use with its sensor.
std::map<int, int> plant()
{
    std::map<int, int> r{{1, 2024}, {2, 3}, {3, 7}, {7, 2205}, {8, 12}, {9, 540}, {10, 125},
                         {11, 30}, {12, 250}, {13, 315}, {26, 3}, {61, 540}, {66, 1}, {67, 1},
                         {97, 5310}, {98, 5305}, {100, 87}};
    for (int n = 110; n <= 124; ++n)
        r[n] = 330 + n - 110; // cells 3.30 .. 3.44 V
    return r;
}

QList<Sample> samplesOf(const std::map<int, int> &registers, StatusView *viewOut = nullptr)
{
    ConsoleState state;
    for (const auto &[n, v] : registers)
        state.StatusRegisters[size_t(n - 1)] = v;
    const StatusView view = decodeStatusView(state);
    if (viewOut)
        *viewOut = view;
    return fleet::statusSamples(view.plant);
}

// The value of a series, or NaN when it has no sample.
double valueOf(const QList<Sample> &samples, const QByteArray &name, const QString &label = {})
{
    double found = std::nan("");
    int count = 0;
    for (const Sample &s : samples) {
        if (s.name == name && (label.isEmpty() || (!s.labels.isEmpty() && s.labels.first().second == label))) {
            found = s.value;
            ++count;
        }
    }
    return count == 1 ? found : (count == 0 ? std::nan("") : -9999);
}

} // namespace

class TestStatusSamples : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void values_data();
    void values();
    void seriesAreUniqueAndFollowThePage();
};

void TestStatusSamples::values_data()
{
    QTest::addColumn<QString>("changes"); // "reg=value,..." over the plant
    QTest::addColumn<QByteArray>("metric");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("expected"); // NaN: no sample

    const double none = std::nan("");
    QTest::newRow("AC voltage") << "" << QByteArray("qeln_ac_input_voltage_volts") << "" << 220.5;
    QTest::newRow("AC current") << "" << QByteArray("qeln_ac_input_current_amperes") << "" << 1.2;
    QTest::newRow("DC voltage") << "" << QByteArray("qeln_dc_output_voltage_volts") << "" << 54.0;
    QTest::newRow("load current") << "" << QByteArray("qeln_load_current_amperes") << "" << 12.5;
    QTest::newRow("set voltage, tenths") << "" << QByteArray("qeln_set_voltage_volts") << "" << 54.0;
    QTest::newRow("set voltage, hundredths") << "61=5350" << QByteArray("qeln_set_voltage_volts") << "" << 53.5;
    QTest::newRow("rectifier temperature") << "" << QByteArray("qeln_rectifier_temperature_celsius") << "" << 31.5;
    QTest::newRow("rectifier below zero") << "13=65436" << QByteArray("qeln_rectifier_temperature_celsius") << "" << -10.0;
    QTest::newRow("battery current") << "" << QByteArray("qeln_battery_current_amperes") << "" << 3.0;
    QTest::newRow("battery discharging") << "11=65486" << QByteArray("qeln_battery_current_amperes") << "" << -5.0;
    QTest::newRow("battery temperature") << "" << QByteArray("qeln_battery_temperature_celsius") << "" << 25.0;
    QTest::newRow("battery sensor open") << "12=1250" << QByteArray("qeln_battery_temperature_celsius") << "" << none;
    QTest::newRow("battery sensor absent") << "67=0" << QByteArray("qeln_battery_temperature_celsius") << "" << none;
    QTest::newRow("battery voltage") << "" << QByteArray("qeln_battery_voltage_volts") << "" << 53.05;
    QTest::newRow("state of charge") << "" << QByteArray("qeln_battery_state_of_charge_ratio") << "" << 0.87;
    QTest::newRow("cell 1") << "" << QByteArray("qeln_battery_cell_voltage_volts") << "1" << 3.30;
    QTest::newRow("cell 15") << "" << QByteArray("qeln_battery_cell_voltage_volts") << "15" << 3.44;
    // Without a battery the page hides its current and the whole battery panel.
    QTest::newRow("no battery: current") << "66=0" << QByteArray("qeln_battery_current_amperes") << "" << none;
    QTest::newRow("no battery: voltage") << "66=0" << QByteArray("qeln_battery_voltage_volts") << "" << none;
    QTest::newRow("no battery: charge") << "66=0" << QByteArray("qeln_battery_state_of_charge_ratio") << "" << none;
    QTest::newRow("no battery: cell") << "66=0" << QByteArray("qeln_battery_cell_voltage_volts") << "7" << none;
    QTest::newRow("no battery: DC still") << "66=0" << QByteArray("qeln_dc_output_voltage_volts") << "" << 54.0;
    // Alarms by the alarm table's names; contacts as the model shows them.
    QTest::newRow("AC fail active") << "15=1" << QByteArray("qeln_alarm_active") << "AC Input Fail" << 1.0;
    QTest::newRow("AC fail quiet") << "" << QByteArray("qeln_alarm_active") << "AC Input Fail" << 0.0;
    QTest::newRow("contact 1 in alarm") << "41=1" << QByteArray("qeln_contact_active") << "1" << 1.0;
    QTest::newRow("contact 2 quiet") << "41=1" << QByteArray("qeln_contact_active") << "2" << 0.0;
    QTest::newRow("contact 6 on six contacts") << "41=32" << QByteArray("qeln_contact_active") << "6" << 1.0;
    QTest::newRow("contact 6 gone with TTL output") << "26=3,42=1,41=32" << QByteArray("qeln_contact_active") << "6" << none;
}

void TestStatusSamples::values()
{
    QFETCH(QString, changes);
    QFETCH(QByteArray, metric);
    QFETCH(QString, label);
    QFETCH(double, expected);
    std::map<int, int> registers = plant();
    for (const QString &change : changes.split(QLatin1Char(','), Qt::SkipEmptyParts))
        registers[change.section(QLatin1Char('='), 0, 0).toInt()] = change.section(QLatin1Char('='), 1).toInt();
    const double got = valueOf(samplesOf(registers), metric, label);
    if (std::isnan(expected))
        QVERIFY2(std::isnan(got), qPrintable(QString::number(got)));
    else
        QCOMPARE(got, expected);
}

void TestStatusSamples::seriesAreUniqueAndFollowThePage()
{
    StatusView view;
    std::map<int, int> registers = plant();
    registers[15] = 0xFFFF; // every alarm of ALARM1 and ALARM2 on
    registers[16] = 0xFFFF;
    const QList<Sample> samples = samplesOf(registers, &view);
    // No two samples of one series: Prometheus refuses a scrape that repeats one.
    QSet<QString> seen;
    for (const Sample &s : samples) {
        QString key = QString::fromLatin1(s.name);
        for (const auto &[k, v] : s.labels)
            key += QLatin1Char('|') + QString::fromLatin1(k) + QLatin1Char('=') + v;
        QVERIFY2(!seen.contains(key), qPrintable(key));
        seen.insert(key);
    }
    // Every alarm of the table has its series, and the active ones are those the page lists.
    int alarms = 0;
    for (const Sample &s : samples) {
        if (s.name != "qeln_alarm_active")
            continue;
        ++alarms;
        QCOMPARE(s.value == 1.0, view.activeAlarms.contains(s.labels.first().second));
    }
    QCOMPARE(alarms, int(alarmBits().size()));
    QCOMPARE(view.activeAlarms.size(), int(alarmBits().size()));
}

QTEST_GUILESS_MAIN(TestStatusSamples)
#include "tst_statussamples.moc"
