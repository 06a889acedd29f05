#include "plant.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QSet>
#include <QTest>

#include <functional>

using qeln::sim::Plant;

namespace {

qint16 s16(std::uint16_t v) { return qint16(v); }
int word(const QByteArray &b, int at) { return quint8(b.at(at)) << 8 | quint8(b.at(at + 1)); }
int byte(const QByteArray &b, int at) { return quint8(b.at(at)); }

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// A network-settings write block as the console lays it out.
QByteArray ipWriteBlock(const QByteArray &ip, int flags, const QByteArray &description,
                        const QByteArray &serialAndSeparator, const QByteArray &site, quint32 rectId)
{
    QByteArray b = bytes({0x12, 0x34, 0x56, 0x78});
    const QByteArray mac = bytes({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    b += mac + ip + bytes({255, 255, 0, 0}) + bytes({10, 0, 0, 1});
    b += char(flags);
    b += ip + QByteArray(4, '\0');
    b += char(description.size()) + description;
    b += serialAndSeparator;
    b += bytes({1, 2, 3, 4}) + mac + QByteArray(12, '\0');
    b += bytes({int(rectId >> 24), int(rectId >> 16 & 0xFF), int(rectId >> 8 & 0xFF), int(rectId & 0xFF)});
    b += QByteArray(12, '\0');
    b += char(site.size()) + site;
    return b;
}

bool hasRecord(const Plant &p, int code, int occurred, int from = 0)
{
    for (int i = from; i < p.logCount(Plant::AlarmLog); ++i) {
        const QByteArray r = p.logRecord(Plant::AlarmLog, i);
        if (byte(r, 32) == code && byte(r, 33) == occurred)
            return true;
    }
    return false;
}

} // namespace

class TestSimPlant : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString deepDischarge;

private Q_SLOTS:
    void initTestCase();
    void invariants_data();
    void invariants();
    void sameSeedSamePlant();
    void settingReadsBack_data();
    void settingReadsBack();
    void refusedWrite_data();
    void refusedWrite();
    void eventRecord_data();
    void eventRecord();
    void clockRunsOn_data();
    void clockRunsOn();
    void dischargeTest();
    void alarmTestForcesMaskedAlarms_data();
    void alarmTestForcesMaskedAlarms();
    void settingTakesEffect_data();
    void settingTakesEffect();
    void acFailScenario();
    void batteryAlarmsScenario();
    void noBatteryScenario();
    void calibrationAndFactoryReset();
    void clearLog();
    void prefillHistory();
    void prefillEvents();
    void setLog();
    void ipBlock_data();
    void ipBlock();
    void badScenarioFile_data();
    void badScenarioFile();
};

void TestSimPlant::initTestCase()
{
    QVERIFY(dir.isValid());
    // A heavy load on a nearly empty battery with the mains gone: the battery runs flat and
    // the battery unit cuts it off.
    deepDischarge = dir.filePath(QStringLiteral("deep.json"));
    QFile f(deepDischarge);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"({ "soc": 6, "load": 60, "events": [ { "at": 5, "ac": false }, { "at": 3000, "ac": true } ] })");
}

void TestSimPlant::invariants_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("model");
    const QStringList scenarios = {QStringLiteral("normal"), QStringLiteral("ac-fail"),
                                   QStringLiteral("battery-alarms"), QStringLiteral("no-battery"),
                                   deepDischarge};
    for (const QString &s : scenarios) {
        for (int model = 1; model <= 4; ++model)
            QTest::addRow("%s/model %d", qPrintable(QFileInfo(s).fileName()), model) << s << model;
    }
}

void TestSimPlant::invariants()
{
    QFETCH(QString, scenario);
    QFETCH(int, model);
    Plant p;
    p.setModel(model);
    QString error;
    QVERIFY2(p.loadScenario(scenario, &error), qPrintable(error));
    for (int t = 0; t < 2 * 3600; t += 10) {
        p.advance(10000);
        const auto r = [&](int a) { return p.inputRegister(a); };
        QCOMPARE(r(26), model);
        QVERIFY(r(100) <= 100);
        QVERIFY(r(2) >= 1 && r(2) <= 12 && r(3) >= 1 && r(3) <= 31 && r(4) <= 23 && r(5) <= 59 && r(6) <= 59);
        QVERIFY(r(7) <= 2600);
        QVERIFY(r(9) <= 600);
        QVERIFY(s16(r(10)) >= 0 && s16(r(10)) <= 700);
        QVERIFY(r(41) <= 0x3F);
        QVERIFY(r(94) <= 1);
        if (r(97) != 0) {
            int sum = 0, highest = 0, lowest = 65535;
            for (int a = 110; a <= 124; ++a) {
                sum += r(a);
                highest = std::max<int>(highest, r(a));
                lowest = std::min<int>(lowest, r(a));
                QVERIFY2(r(a) >= 200 && r(a) <= 400, qPrintable(QStringLiteral("cell %1 = %2").arg(a - 109).arg(r(a))));
            }
            // 15 cells and the pack each rounded to the nearest hundredth.
            QVERIFY2(std::abs(sum - r(97)) <= 8, qPrintable(QStringLiteral("sum %1, pack %2").arg(sum).arg(r(97))));
            QCOMPARE(r(104), highest);
            QCOMPARE(r(105), lowest);
        }
        if (r(66) == 0) {
            for (int a : {11, 97, 98, 99, 100, 104, 105, 106, 107, 108, 109, 110, 124})
                QCOMPARE(r(a), 0);
            QVERIFY(!(r(16) & 0xFFE2));
        }
    }
}

void TestSimPlant::sameSeedSamePlant()
{
    auto run = [](quint32 seed) {
        Plant p;
        p.setSeed(seed);
        p.loadScenario(QStringLiteral("battery-alarms"), nullptr);
        QList<std::uint16_t> seen;
        for (int i = 0; i < 600; ++i) {
            p.advance(1000);
            for (int a = 1; a <= Plant::StatusRegisters; ++a)
                seen << p.inputRegister(a);
        }
        return seen;
    };
    QCOMPARE(run(7), run(7));
    QVERIFY(run(7) != run(8));
}

void TestSimPlant::settingReadsBack_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    const int rows[][2] = {{42, 1},  {43, 3},  {48, 2210}, {54, 180}, {55, 280}, {56, 470},
                           {57, 580}, {58, 450}, {59, 110},  {60, 535}, {62, 20},  {63, 40},
                           {64, 2},  {64, 3},  {66, 0},    {67, 0},   {68, 570}, {69, 420},
                           {70, 1},  {71, 1},  {72, 0x0167}, {73, 0xFFEA}, {74, 6}, {75, 12},
                           {76, 28}, {77, 23}, {78, 533},  {79, 120}, {80, 0x0107}, {87, 0x3B60},
                           {91, 0xFFFF}, {95, 55}};
    for (const auto &r : rows)
        QTest::addRow("%d=%d", r[0], r[1]) << r[0] << r[1];
}

void TestSimPlant::settingReadsBack()
{
    QFETCH(int, address);
    QFETCH(int, value);
    Plant p;
    QVERIFY(p.writeRegister(address, std::uint16_t(value)));
    QCOMPARE(int(p.inputRegister(address)), value);
    p.advance(30000);
    QCOMPARE(int(p.inputRegister(address)), value);
}

void TestSimPlant::refusedWrite_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::newRow("AC voltage") << 7 << 2200;
    QTest::newRow("alarm word") << 15 << 0;
    QTest::newRow("model code") << 26 << 2;
    QTest::newRow("set voltage in effect") << 61 << 540;
    QTest::newRow("pack voltage") << 97 << 5000;
    QTest::newRow("cell 1") << 110 << 330;
    QTest::newRow("CAN failure") << 131 << 0;
    QTest::newRow("register 0") << 0 << 1;
    QTest::newRow("register 132") << 132 << 1;
    QTest::newRow("month 13") << 2 << 13;
    QTest::newRow("second 60") << 6 << 60;
    QTest::newRow("year 1999") << 1 << 1999;
    QTest::newRow("task fail not 255") << 31 << 0;
    QTest::newRow("charge mode 0") << 64 << 0;
    QTest::newRow("battery use 2") << 66 << 2;
    QTest::newRow("output voltage 70 V") << 60 << 700;
    QTest::newRow("test command 4") << 92 << 4;
    QTest::newRow("factory command 3") << 127 << 3;
}

void TestSimPlant::refusedWrite()
{
    QFETCH(int, address);
    QFETCH(int, value);
    Plant p;
    const std::uint16_t before = p.inputRegister(address);
    QVERIFY(!p.writeRegister(address, std::uint16_t(value)));
    QCOMPARE(p.inputRegister(address), before);
    QCOMPARE(p.logCount(Plant::EventLog), 0);
}

void TestSimPlant::eventRecord_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("logged");
    const int rows[][4] = {
        {1, 2025, 1, 2025}, {5, 30, 1, 30},       {31, 255, 70, 255}, {42, 1, 50, 1},
        {48, 2200, 2, 2200}, {49, 150, 3, 150},   {50, 54000, 4, 5400}, {51, 18500, 5, 185},
        {52, 3000, 6, 30},  {53, 10000, 7, 100},  {54, 170, 9, 170},  {55, 270, 10, 270},
        {56, 460, 11, 460}, {57, 570, 12, 570},   {58, 440, 13, 440}, {59, 103, 14, 103},
        {95, 1000, 15, 1000}, {60, 540, 16, 540}, {63, 30, 17, 30},   {64, 2, 18, 2},
        {65, 0, 19, 0},     {66, 1, 20, 1},       {67, 0, 21, 0},     {70, 1, 23, 1},
        {71, 0, 24, 0},     {72, 0x0040, 25, 0x0040}, {73, 0x8080, 26, 0x8080}, {74, 3, 29, 3},
        {75, 5, 30, 5},     {76, 1, 31, 1},       {77, 3, 32, 3},     {78, 460, 33, 460},
        {79, 10, 34, 10},   {80, 0x0001, 38, 0x0001}, {81, 0x0002, 37, 0x0002}, {90, 7, 48, 7},
        {91, 8, 47, 8},     {92, 2, 35, 2},       {62, 20, 57, 20},   {68, 580, 58, 580},
        {69, 430, 59, 430}, {127, 2, 51, 2}};
    for (const auto &r : rows)
        QTest::addRow("%d=%d", r[0], r[1]) << r[0] << r[1] << r[2] << r[3];
}

void TestSimPlant::eventRecord()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, code);
    QFETCH(int, logged);
    Plant p;
    p.setClock(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 0)));
    p.advance(2000);
    QSignalSpy appended(&p, &Plant::logAppended);
    QVERIFY(p.writeRegister(address, std::uint16_t(value)));
    QCOMPARE(p.logCount(Plant::EventLog), 1);
    const QByteArray r = p.logRecord(Plant::EventLog, 0);
    QCOMPARE(r.size(), 10);
    QCOMPARE(r.left(6), address <= 6 ? r.left(6) : bytes({24, 3, 7, 9, 5, 2}));
    QCOMPARE(word(r, 6), code);
    QCOMPARE(word(r, 8), logged);
    QVERIFY(!appended.isEmpty());
    QCOMPARE(appended.first().at(1).toByteArray(), r);
}

void TestSimPlant::clockRunsOn_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QList<int>>("writes"); // pairs of register, value, in the console's order
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QDateTime>("expected");
    const QList<int> newYear = {5, 59, 4, 23, 3, 31, 2, 12, 1, 2023, 6, 58};
    QTest::newRow("over a new year")
        << QDateTime(QDate(2024, 6, 1), QTime(8, 0)) << newYear << 3
        << QDateTime(QDate(2024, 1, 1), QTime(0, 0, 1));
    // Day 31 arrives while the plant still stands in February; the month written next makes
    // it a valid date, which must survive.
    const QList<int> march31 = {5, 0, 4, 12, 3, 31, 2, 3, 1, 2024, 6, 0};
    QTest::newRow("day before month")
        << QDateTime(QDate(2024, 2, 10), QTime(8, 0)) << march31 << 61
        << QDateTime(QDate(2024, 3, 31), QTime(12, 1, 1));
    const QList<int> leap = {5, 59, 4, 23, 3, 28, 2, 2, 1, 2024, 6, 59};
    QTest::newRow("leap day") << QDateTime(QDate(2024, 6, 1), QTime(8, 0)) << leap << 1
                              << QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0));
}

void TestSimPlant::clockRunsOn()
{
    QFETCH(QDateTime, start);
    QFETCH(QList<int>, writes);
    QFETCH(int, seconds);
    QFETCH(QDateTime, expected);
    Plant p;
    p.setClock(start);
    for (int i = 0; i + 1 < writes.size(); i += 2) {
        QVERIFY(p.writeRegister(writes[i], std::uint16_t(writes[i + 1])));
        p.advance(100); // polls and acknowledgements take time between the writes
    }
    p.advance(qint64(seconds) * 1000 - 100);
    QCOMPARE(p.clock(), expected);
    const QDate d = expected.date();
    const QTime t = expected.time();
    QCOMPARE(QList<int>({p.inputRegister(1), p.inputRegister(2), p.inputRegister(3), p.inputRegister(4),
                         p.inputRegister(5), p.inputRegister(6)}),
             QList<int>({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()}));
}

void TestSimPlant::dischargeTest()
{
    Plant p;
    p.advance(60000);
    QVERIFY(s16(p.inputRegister(11)) >= 0);
    QVERIFY(p.writeRegister(79, 2));
    QVERIFY(p.writeRegister(92, 1));
    QCOMPARE(p.inputRegister(94), 1);
    p.advance(5000);
    QCOMPARE(p.inputRegister(94), 1);
    QVERIFY2(s16(p.inputRegister(11)) < -100, qPrintable(QString::number(s16(p.inputRegister(11)))));
    QVERIFY(p.inputRegister(9) < p.inputRegister(61));
    QVERIFY(p.writeRegister(92, 2));
    QCOMPARE(p.inputRegister(94), 0);
    p.advance(5000);
    QVERIFY(s16(p.inputRegister(11)) >= 0);
    QVERIFY(std::abs(int(p.inputRegister(9)) - int(p.inputRegister(61))) <= 2);

    // Started again, it ends by itself after the test time (2 minutes) and passes.
    QVERIFY(p.writeRegister(92, 1));
    p.advance(119000);
    QCOMPARE(p.inputRegister(94), 1);
    p.advance(2000);
    QCOMPARE(p.inputRegister(94), 0);
    QVERIFY(!(p.inputRegister(16) & 0x0020));

    // A test voltage above the battery's makes the test fail: Battery Quality Low, latched
    // until the alarm-clear command.
    QVERIFY(p.writeRegister(78, 533));
    QVERIFY(p.writeRegister(92, 1));
    p.advance(3000);
    QCOMPARE(p.inputRegister(94), 0);
    QVERIFY(p.inputRegister(16) & 0x0020);
    QVERIFY(hasRecord(p, 22, 1));
    QVERIFY(p.writeRegister(92, 3));
    QVERIFY(!(p.inputRegister(16) & 0x0020));
    QVERIFY(hasRecord(p, 22, 0));

    // Without a battery there is nothing to test.
    QVERIFY(p.writeRegister(66, 0));
    QVERIFY(!p.writeRegister(92, 1));
    QCOMPARE(p.inputRegister(94), 0);
}

void TestSimPlant::alarmTestForcesMaskedAlarms_data()
{
    QTest::addColumn<int>("mask1");
    QTest::addColumn<int>("mask2");
    QTest::addColumn<bool>("ttl");
    QTest::addColumn<int>("contacts");
    QTest::addColumn<QList<int>>("codes");
    // Contacts with their usual masks (1 AC, 2 DC, 3 module, 4 battery) and contact 5 set to
    // AC Input Fail as well.
    QTest::newRow("AC input fail") << 0x0001 << 0 << false << 0x11 << QList<int>{1};
    QTest::newRow("AC input fail, TTL outputs") << 0x0001 << 0 << true << 0x01 << QList<int>{1};
    QTest::newRow("battery disconnect") << 0x0040 << 0x8080 << false << 0x08 << QList<int>{7, 24};
    QTest::newRow("battery discharge") << 0 << 0x0482 << false << 0x02 << QList<int>{18, 24};
    QTest::newRow("module fail and temperature") << 0x0100 << 0x0008 << false << 0x04 << QList<int>{9, 20};
    QTest::newRow("everything") << 0x0167 << 0xFFEA << false << 0x1F
                                << QList<int>{1, 2, 3, 6, 7, 9, 18, 20, 22, 23, 24};
}

void TestSimPlant::alarmTestForcesMaskedAlarms()
{
    QFETCH(int, mask1);
    QFETCH(int, mask2);
    QFETCH(bool, ttl);
    QFETCH(int, contacts);
    QFETCH(QList<int>, codes);
    Plant p;
    p.advance(10000);
    QCOMPARE(p.inputRegister(15), 0);
    QCOMPARE(p.inputRegister(16), 0);
    QVERIFY(p.writeRegister(88, 0x0001));
    QVERIFY(p.writeRegister(42, ttl ? 1 : 0));
    // In the console's order: masks first, then the test switched on.
    QVERIFY(p.writeRegister(73, std::uint16_t(mask2)));
    QVERIFY(p.writeRegister(72, std::uint16_t(mask1)));
    QCOMPARE(p.inputRegister(15), 0);
    const int before = p.logCount(Plant::AlarmLog);
    QVERIFY(p.writeRegister(71, 1));
    p.advance(3000);
    QCOMPARE(int(p.inputRegister(15)), mask1);
    QCOMPARE(int(p.inputRegister(16)), mask2);
    QCOMPARE(int(p.inputRegister(41)), contacts);
    for (int code : codes)
        QVERIFY2(hasRecord(p, code, 1, before), qPrintable(QString::number(code)));
    QCOMPARE(p.logCount(Plant::AlarmLog) - before, codes.size());
    if (codes.contains(24)) {
        for (int i = before; i < p.logCount(Plant::AlarmLog); ++i) {
            const QByteArray r = p.logRecord(Plant::AlarmLog, i);
            if (byte(r, 32) == 24)
                QCOMPARE(byte(r, 31), mask2 >> 8);
        }
    }
    QVERIFY(p.contactClosed(1) == bool(contacts & 1));
    QVERIFY(p.writeRegister(70, 1)); // normally closed: the relay opens on alarm
    QVERIFY(p.contactClosed(1) == !(contacts & 1));

    QVERIFY(p.writeRegister(71, 0));
    QCOMPARE(p.inputRegister(15), 0);
    QCOMPARE(p.inputRegister(16), 0);
    QCOMPARE(p.inputRegister(41), 0);
    for (int code : codes)
        QVERIFY(hasRecord(p, code, 0, before));
}

void TestSimPlant::settingTakesEffect_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("alarmWord"); // 15 or 16
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("code");
    QTest::newRow("DC high below the output") << 57 << 530 << 15 << 0x0002 << 2;
    QTest::newRow("DC low above the output") << 56 << 550 << 15 << 0x0004 << 3;
    QTest::newRow("over-current at 40 %") << 59 << 40 << 15 << 0x0020 << 6;
    QTest::newRow("AC window above the mains") << 54 << 225 << 15 << 0x0001 << 1;
    QTest::newRow("rack cut-off at 5 C") << 95 << 50 << 16 << 0x0008 << 20;
    QTest::newRow("battery low above the pack") << 58 << 510 << 16 << 0x0002 << 18;
    QTest::newRow("DC cut-off below the output: OVP") << 68 << 530 << 15 << 0x0002 << 2;
}

void TestSimPlant::settingTakesEffect()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, alarmWord);
    QFETCH(int, bit);
    QFETCH(int, code);
    Plant p;
    p.advance(10000);
    QVERIFY(!(p.inputRegister(alarmWord) & bit));
    QVERIFY(p.writeRegister(address, std::uint16_t(value)));
    p.advance(5000);
    QVERIFY(p.inputRegister(alarmWord) & bit);
    QVERIFY(hasRecord(p, code, 1));
    if (address == 68) {
        // The trip latches the rectifiers off, so the battery carries the load; releasing the
        // flag while the cut-off is still too low trips again, and only a sound setting lets
        // the rectifiers back on.
        QCOMPARE(p.inputRegister(65), 1);
        QVERIFY(s16(p.inputRegister(11)) < 0);
        QVERIFY(p.writeRegister(65, 0));
        p.advance(3000);
        QCOMPARE(p.inputRegister(65), 1);
        QVERIFY(p.writeRegister(68, 580));
        QVERIFY(p.writeRegister(65, 0));
        p.advance(3000);
        QCOMPARE(p.inputRegister(65), 0);
        QVERIFY(!(p.inputRegister(alarmWord) & bit));
        QVERIFY(s16(p.inputRegister(11)) >= 0);
        QVERIFY(hasRecord(p, code, 0));
    }
}

void TestSimPlant::acFailScenario()
{
    Plant p;
    QVERIFY(p.loadScenario(QStringLiteral("ac-fail"), nullptr));
    const int socBefore = p.inputRegister(100);
    p.advance(60000);
    QVERIFY(p.inputRegister(15) & 0x0001);
    QVERIFY(p.inputRegister(7) < 50);
    QVERIFY(s16(p.inputRegister(11)) < -100);
    QVERIFY(p.inputRegister(41) & 0x01);
    p.advance(100000);
    QVERIFY(!(p.inputRegister(15) & 0x0001));
    QVERIFY(p.inputRegister(100) < socBefore);
    p.advance(20000);
    QVERIFY(s16(p.inputRegister(11)) > 0); // recharging

    int occurred = -1, released = -1;
    for (int i = 0; i < p.logCount(Plant::AlarmLog); ++i) {
        const QByteArray r = p.logRecord(Plant::AlarmLog, i);
        QCOMPARE(r.size(), 34);
        if (byte(r, 32) == 1 && byte(r, 33) == 1 && occurred < 0)
            occurred = i;
        if (byte(r, 32) == 1 && byte(r, 33) == 0 && released < 0)
            released = i;
    }
    QVERIFY(occurred >= 0);
    QVERIFY(released > occurred);
    const QByteArray occ = p.logRecord(Plant::AlarmLog, occurred);
    QCOMPARE(word(occ, 6), 0);               // AC voltage
    const QByteArray rel = p.logRecord(Plant::AlarmLog, released);
    QVERIFY(word(rel, 6) > 2000);
    QCOMPARE(byte(rel, 5) + 60 * byte(rel, 4), (byte(occ, 5) + 60 * byte(occ, 4) + 120) % 3600);
}

void TestSimPlant::batteryAlarmsScenario()
{
    Plant p;
    QVERIFY(p.loadScenario(QStringLiteral("battery-alarms"), nullptr));
    const int taskFails = p.inputRegister(31);
    std::uint16_t any106 = 0, any107 = 0, any108 = 0;
    bool commFailure = false, breakerOff = false;
    for (int t = 0; t < 480; ++t) {
        p.advance(1000);
        any106 |= p.inputRegister(106);
        any107 |= p.inputRegister(107);
        any108 |= p.inputRegister(108);
        const std::uint16_t a2 = p.inputRegister(16);
        // What the console shows as a battery communication failure.
        commFailure |= (a2 & 0x0080) && !(a2 & 0xFF00) && p.inputRegister(98) == 0;
        breakerOff |= (p.inputRegister(109) & 0x01) && (p.inputRegister(15) & 0x0040);
    }
    QVERIFY(any106 & 0x01);
    QVERIFY(any106 & 0x02);
    QVERIFY(any106 & 0x40);
    QVERIFY(any107 & 0x40);
    QVERIFY(any107 & 0x08);
    QVERIFY(any108 != 0);
    QVERIFY(commFailure);
    QVERIFY(breakerOff);
    QVERIFY(int(p.inputRegister(31)) > taskFails);
    QVERIFY(hasRecord(p, 22, 1));
    QVERIFY(hasRecord(p, 23, 1));
    QVERIFY(hasRecord(p, 7, 1));
    QVERIFY(hasRecord(p, 7, 0));
    QVERIFY(hasRecord(p, 24, 0));
    int details = 0;
    bool zeroDetail = false;
    for (int i = 0; i < p.logCount(Plant::AlarmLog); ++i) {
        const QByteArray r = p.logRecord(Plant::AlarmLog, i);
        if (byte(r, 32) == 24 && byte(r, 33) == 1) {
            details |= byte(r, 31);
            zeroDetail |= byte(r, 31) == 0;
        } else {
            QCOMPARE(byte(r, 31), 0); // a detail byte only with code 24
        }
    }
    QCOMPARE(details & 0xD2, 0xD2); // charge over-current, temperature, cell deviation, breaker
    QVERIFY(zeroDetail);            // the lost link
}

void TestSimPlant::noBatteryScenario()
{
    Plant p;
    QVERIFY(p.loadScenario(QStringLiteral("no-battery"), nullptr));
    QCOMPARE(p.inputRegister(66), 0);
    p.advance(600000);
    QCOMPARE(p.inputRegister(15), 0);
    QCOMPARE(p.inputRegister(16), 0);
    QVERIFY(std::abs(s16(p.inputRegister(10)) - 185) < 20);
    QCOMPARE(p.logCount(Plant::AlarmLog), 0);
    QCOMPARE(p.logCount(Plant::EventLog), 0); // scenario settings are not operator writes
}

void TestSimPlant::calibrationAndFactoryReset()
{
    Plant p;
    p.advance(10000);
    // The reference makes the reading: AC voltage 5 % higher than it reads now.
    const int ac = p.inputRegister(7);
    QVERIFY(p.writeRegister(48, std::uint16_t(ac * 105 / 100)));
    p.advance(5000);
    QVERIFY(std::abs(int(p.inputRegister(7)) - ac * 105 / 100) <= 15);
    // Zero point with current flowing changes nothing.
    const int load = s16(p.inputRegister(10));
    QVERIFY(p.writeRegister(51, 0));
    p.advance(5000);
    QVERIFY(std::abs(s16(p.inputRegister(10)) - load) <= 10);

    QVERIFY(p.writeRegister(54, 190));
    QVERIFY(p.writeRegister(87, 0));
    QVERIFY(p.writeRegister(127, 2));
    QCOMPARE(p.inputRegister(54), 170);
    QCOMPARE(p.inputRegister(87), 0x3B60);
    QCOMPARE(p.inputRegister(48), 0);
    p.advance(5000);
    QVERIFY(std::abs(int(p.inputRegister(7)) - ac) <= 40);

    QVERIFY(p.writeRegister(127, 1));
    QVERIFY(hasRecord(p, 26, 1));
    QVERIFY(p.inputRegister(14) < 5); // the firmware counter started again
}

void TestSimPlant::clearLog()
{
    Plant p;
    QVERIFY(p.loadScenario(QStringLiteral("ac-fail"), nullptr));
    p.advance(200000);
    QVERIFY(p.writeRegister(54, 170));
    QVERIFY(p.logCount(Plant::AlarmLog) > 0);
    p.clearLog(Plant::AlarmLog);
    QCOMPARE(p.logCount(Plant::AlarmLog), 0);
    QVERIFY(p.logRecord(Plant::AlarmLog, 0).isEmpty());
    QCOMPARE(p.logCount(Plant::EventLog), 1);
    p.clearLog(Plant::EventLog);
    QCOMPARE(p.logCount(Plant::EventLog), 0);
    QVERIFY(p.logRecord(Plant::EventLog, -1).isEmpty());
}

void TestSimPlant::prefillHistory()
{
    Plant p;
    p.setClock(QDateTime(QDate(2024, 3, 7), QTime(9, 0)));
    QElapsedTimer timer;
    timer.start();
    p.prefillHistory(5000);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(p.logCount(Plant::AlarmLog), 5000);
    const QList<int> codes = {1, 2, 3, 6, 7, 9, 18, 20, 22, 23, 24};
    auto when = [](const QByteArray &r) {
        return QDateTime(QDate(2000 + byte(r, 0), byte(r, 1), byte(r, 2)),
                         QTime(byte(r, 3), byte(r, 4), byte(r, 5)), Qt::UTC);
    };
    QDateTime last;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray r = p.logRecord(Plant::AlarmLog, i);
        QCOMPARE(r.size(), 34);
        QVERIFY(codes.contains(byte(r, 32)));
        QCOMPARE(byte(r, 33), i % 2 == 0 ? 1 : 0);
        QVERIFY(when(r).isValid());
        QVERIFY(!last.isValid() || when(r) >= last); // record 0 is the oldest
        last = when(r);
    }
    QVERIFY(last < QDateTime(QDate(2024, 3, 7), QTime(9, 0), Qt::UTC));

    // Full: a new alarm pushes the oldest record out.
    const QByteArray second = p.logRecord(Plant::AlarmLog, 1);
    QVERIFY(p.writeRegister(73, 0x0008));
    QVERIFY(p.writeRegister(71, 1));
    QCOMPARE(p.logCount(Plant::AlarmLog), 5000);
    QCOMPARE(p.logRecord(Plant::AlarmLog, 0), second);
    QCOMPARE(byte(p.logRecord(Plant::AlarmLog, 4999), 32), 20);
}

void TestSimPlant::prefillEvents()
{
    auto filled = [](quint32 seed, int records) {
        Plant p;
        p.setSeed(seed);
        p.setClock(QDateTime(QDate(2024, 3, 7), QTime(9, 0)));
        p.advance(2000);
        // A present record stays the newest; the pre-filled ones go before it.
        [[maybe_unused]] const bool written = p.writeRegister(60, 540);
        p.prefillEvents(records);
        QList<QByteArray> log;
        for (int i = 0; i < p.logCount(Plant::EventLog); ++i)
            log << p.logRecord(Plant::EventLog, i);
        return log;
    };
    const QList<QByteArray> log = filled(3, 5000);
    QCOMPARE(log.size(), 5000); // the oldest pre-filled record made room for the present one
    QCOMPARE(log.last(), bytes({24, 3, 7, 9, 0, 2, 0, 16, 0x02, 0x1C}));
    QByteArray last;
    QSet<int> codes;
    for (const QByteArray &r : log.first(4999)) {
        QCOMPARE(r.size(), 10);
        const QDateTime t(QDate(2000 + byte(r, 0), byte(r, 1), byte(r, 2)), QTime(byte(r, 3), byte(r, 4), byte(r, 5)));
        QVERIFY2(t.isValid(), r.toHex().constData());
        QVERIFY(r.left(6) >= last); // record 0 is the oldest
        last = r.left(6);
        codes << word(r, 6);
    }
    QVERIFY(last < bytes({24, 3, 7, 9, 0, 0}));
    QVERIFY(codes.size() > 30);
    QCOMPARE(filled(3, 40), filled(3, 40));
    QVERIFY(filled(3, 40) != filled(4, 40));
    QCOMPARE(filled(3, 0).size(), 1);
}

void TestSimPlant::setLog()
{
    Plant p;
    QList<QByteArray> records = {QByteArray(3, '\x11'), QByteArray(40, '\x22'), QByteArray(10, '\x33')};
    p.setLog(Plant::EventLog, records);
    QCOMPARE(p.logCount(Plant::EventLog), 3);
    QCOMPARE(p.logRecord(Plant::EventLog, 0), QByteArray(3, '\x11') + QByteArray(7, '\0'));
    QCOMPARE(p.logRecord(Plant::EventLog, 1), QByteArray(10, '\x22'));
    QCOMPARE(p.logRecord(Plant::EventLog, 2), QByteArray(10, '\x33'));
    QCOMPARE(p.logCount(Plant::AlarmLog), 0);

    records.clear();
    for (int i = 0; i < 5003; ++i)
        records << QByteArray(34, char(i % 251));
    p.setLog(Plant::AlarmLog, records);
    QCOMPARE(p.logCount(Plant::AlarmLog), 5000); // the newest are kept
    QCOMPARE(p.logRecord(Plant::AlarmLog, 0), records.at(3));
    QCOMPARE(p.logRecord(Plant::AlarmLog, 4999), records.last());
    p.setLog(Plant::AlarmLog, {});
    QCOMPARE(p.logCount(Plant::AlarmLog), 0);
}

void TestSimPlant::ipBlock_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QByteArray>("site");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("every item") << QByteArray("Rack 3;PSU_6S;") << QByteArray("서울 국사 3층") << 0x6F << true;
    QTest::newRow("one-byte description") << QByteArray("X") << QByteArray() << 0x02 << true;
    QTest::newRow("description not selected") << QByteArray("ignored") << QByteArray("Site") << 0x00 << true;
    QTest::newRow("texts fill the block exactly") << QByteArray(40, 'D') << QByteArray(29, 'S') << 0x42 << true;
    QTest::newRow("texts one byte too long") << QByteArray(40, 'D') << QByteArray(30, 'S') << 0x42 << false;
    QTest::newRow("console's long description")
        << QByteArray("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000W;PSU_6S_2000W;")
        << QByteArray() << 0x02 << false;
}

void TestSimPlant::ipBlock()
{
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, site);
    QFETCH(int, flags);
    QFETCH(bool, accepted);
    Plant p;
    const QByteArray before = p.ipSettingsReadBack();
    QCOMPARE(before.size(), 150);
    const QByteArray oldDescription = before.mid(30, byte(before, 29));
    const QByteArray ip = bytes({10, 1, 2, 5});
    const QByteArray block = ipWriteBlock(ip, flags, description, QByteArray("2300000042; "), site, 0xFFFFFFFE);
    QCOMPARE(p.writeIpSettings(block), accepted);
    const QByteArray b = p.ipSettingsReadBack();
    QCOMPARE(b.size(), 150);
    if (!accepted) {
        QCOMPARE(b, before);
        QCOMPARE(p.logCount(Plant::EventLog), 0);
        return;
    }
    QCOMPARE(b.mid(2, 6), bytes({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01}));
    QCOMPARE(b.mid(8, 4), ip);
    QCOMPARE(b.mid(12, 4), bytes({255, 255, 0, 0}));
    QCOMPARE(b.mid(16, 4), bytes({10, 0, 0, 1}));
    QCOMPARE(byte(b, 20), flags);
    QCOMPARE(b.mid(21, 4), ip);
    const QByteArray expectedDescription = flags & 0x02 ? description : oldDescription;
    const int n = byte(b, 29);
    QCOMPARE(b.mid(30, n), expectedDescription);
    const int o = 30 + n;
    QCOMPARE(b.mid(o, 12), flags & 0x04 ? QByteArray("2300000042; ") : QByteArray("2200000001; "));
    QCOMPARE(b.mid(o + 12, 4), bytes({1, 2, 3, 4}));
    QCOMPARE(b.mid(o + 34, 4), bytes({0xFF, 0xFF, 0xFF, 0xFE}));
    QCOMPARE(b.mid(o + 42, 4), bytes({1, 2, 0, 5})); // firmware of model 3, as registers 27/28
    const int m = byte(b, o + 50);
    QCOMPARE(b.mid(o + 51, m), site);
    QCOMPARE(b.mid(o + 51 + m), QByteArray(150 - (o + 51 + m), '\0'));
    QCOMPARE(p.logCount(Plant::EventLog), flags & 0x01 ? 3 : (flags & 0x20 ? 1 : 0));

    // Broken blocks change nothing.
    QByteArray wrongMarker = block;
    wrongMarker[0] = 0x13;
    QVERIFY(!p.writeIpSettings(wrongMarker));
    QVERIFY(!p.writeIpSettings(block.chopped(1)));
    QVERIFY(!p.writeIpSettings(block + '\0'));
    QVERIFY(!p.writeIpSettings(block.left(20)));
    QCOMPARE(p.ipSettingsReadBack(), b);
}

void TestSimPlant::badScenarioFile_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("not JSON") << QByteArray("{ soc: 5 }") << QStringLiteral("JSON");
    QTest::newRow("unknown key") << QByteArray(R"({ "socc": 5 })") << QStringLiteral("socc");
    QTest::newRow("SOC above 100") << QByteArray(R"({ "soc": 101 })") << QStringLiteral("soc");
    QTest::newRow("cell 16") << QByteArray(R"({ "events": [ { "at": 1, "cell": 16, "offset": 0.1 } ] })")
                             << QStringLiteral("cell");
    QTest::newRow("unknown fault") << QByteArray(R"({ "events": [ { "at": 1, "bmsFault": "fire", "active": true } ] })")
                                   << QStringLiteral("bmsFault");
    QTest::newRow("event without time") << QByteArray(R"({ "events": [ { "ac": false } ] })")
                                        << QStringLiteral("at");
    QTest::newRow("event after the repeat") << QByteArray(R"({ "repeat": 10, "events": [ { "at": 20, "ac": false } ] })")
                                            << QStringLiteral("repeat");
    QTest::newRow("measurement register") << QByteArray(R"({ "registers": { "97": 5000 } })")
                                          << QStringLiteral("97");
    QTest::newRow("value out of range") << QByteArray(R"({ "registers": { "66": 2 } })") << QStringLiteral("66");
    QTest::newRow("missing file") << QByteArray() << QStringLiteral("unknown scenario");
}

void TestSimPlant::badScenarioFile()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, complaint);
    QString path = dir.filePath(QStringLiteral("missing.json"));
    if (!json.isEmpty()) {
        path = dir.filePath(QStringLiteral("%1.json").arg(QLatin1String(QTest::currentDataTag())).replace(u' ', u'_'));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
    }
    Plant p;
    p.advance(5000);
    const std::uint16_t soc = p.inputRegister(100);
    QString error;
    QVERIFY(!p.loadScenario(path, &error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
    QCOMPARE(p.inputRegister(66), 1);
    QCOMPARE(p.inputRegister(100), soc);
    QCOMPARE(p.scenarioName(), QStringLiteral("normal"));
}

QTEST_GUILESS_MAIN(TestSimPlant)
#include "tst_simplant.moc"
