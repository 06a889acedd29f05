// The status decode into texts and visibility, the formatters, the alarm model, the module
// tree's state machine and the power-flow animation.

#include "enginerig.h"
#include "testframes.h"

#include "monitor/alarmmodel.h"
#include "monitor/formatters.h"
#include "monitor/livemonitor.h"
#include "monitor/moduletree.h"
#include "monitor/powerflow.h"
#include "monitor/statusview.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;

using Regs = QList<QPair<int, int>>; // register, value
Q_DECLARE_METATYPE(Regs)

namespace {

// A healthy model-3 plant with the battery in use, charging gently.
QList<int> plant()
{
    QList<int> r(131, 0);
    auto set = [&r](int n, int v) { r[n - 1] = v; };
    set(1, 2024), set(2, 3), set(3, 7), set(4, 9), set(5, 5), set(6, 0);
    set(7, 2205), set(8, 12), set(9, 540), set(10, 125), set(11, 30), set(12, 250), set(13, 315);
    set(14, 77), set(21, 0x0A), set(22, 0x0317), set(23, 0x060F), set(24, 0x0418), set(25, 0x0C01);
    set(26, 3), set(27, 0x0102), set(28, 0x0005), set(29, 0x2023), set(30, 0x0615), set(31, 4);
    set(43, 4), set(44, 100), set(61, 540), set(66, 1), set(67, 1), set(96, 102), set(97, 5310);
    set(98, 5305), set(99, 30), set(100, 87), set(101, 241), set(102, 480), set(103, 100);
    set(104, 355), set(105, 352), set(109, 0x0E), set(126, 615);
    for (int n = 110; n <= 124; ++n)
        set(n, 354);
    return r;
}

QList<int> with(QList<int> regs, const Regs &changes)
{
    for (const auto &[n, v] : changes)
        regs[n - 1] = v;
    return regs;
}

void load(ConsoleState &s, const QList<int> &regs)
{
    for (int i = 0; i < regs.size(); ++i)
        s.StatusRegisters[size_t(i)] = regs[i];
}

// Answers the next status poll of a TCP engine rig with the plant's registers changed.
struct Responder {
    EngineRig &rig;
    int transaction = 0;
    void operator()(const Regs &changes)
    {
        rig.engine.pollNow();
        rig.link.injectNow(testframes::tcpStatusResponse(++transaction, with(plant(), changes)));
        QCoreApplication::processEvents();
    }
};

StatusView decode(const Regs &changes, ConsoleState *state = nullptr)
{
    ConsoleState local;
    ConsoleState &s = state ? *state : local;
    load(s, with(plant(), changes));
    return decodeStatusView(s);
}

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formatters_data();
    void formatters();
    void texts_data();
    void texts();
    void visibility_data();
    void visibility();
    void modelCaptionAndAlarmWords();
    void activeAlarms_data();
    void activeAlarms();
    void contactWindowTicks();
    void decodeThroughEngine_data();
    void decodeThroughEngine();
    void treeShapeAndIcons_data();
    void treeShapeAndIcons();
    void treeStateMachine();
    void treeSurvivesBatteryChanges();
    void powerFlow_data();
    void powerFlow();
    void reminderAndAnswerWatch();
};

void TestMonitor::formatters_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");
    const struct {
        const char *kind;
        int value;
        const char *expected;
    } rows[] = {
        {"T", 2205, "220.5 V"}, {"T", 0, "0.0 V"}, {"T", 5, "0.5 V"}, {"T", 10, "1.0 V"},
        {"T", 9999, "999.9 V"}, {"T", 10000, "10000 V"}, {"T", 12345, "12345 V"}, {"T", -5, "-5 V"},
        {"H", 5400, "54.00 V"}, {"H", 345, "3.45 V"}, {"H", 7, "0.07 V"}, {"H", 0, "0 V"},
        {"H", 99, "0.99 V"}, {"H", 100, "1.00 V"}, {"H", 10000, "10000 V"}, {"H", -1, "-1 V"},
        {"S", 250, "+25.0  C"}, {"S", 0xFFDD, "-3.5  C"}, {"S", 0, "+0.0  C"}, {"S", 0xFF9C, "-10.0  C"},
        {"S", 0x8000, "-32768  C"}, {"S", 0xFFFF, "-0.1  C"}, {"S", 0x7FFF, "+32767  C"},
        {"Z", 7, "07"}, {"Z", 123, "123"}, {"Z", 0, "00"},
        {"F", 0, "0.0"}, {"F", 7, "0.7"}, {"F", 123, "12.3"}, {"F", 10000, "10000"}, {"F", -3, "-3"},
    };
    for (const auto &r : rows)
        QTest::addRow("%s %d", r.kind, r.value) << QString::fromLatin1(r.kind) << r.value << QString::fromUtf8(r.expected);
}

void TestMonitor::formatters()
{
    QFETCH(QString, kind);
    QFETCH(int, value);
    QFETCH(QString, expected);
    QString got;
    if (kind == QLatin1String("T"))
        got = FormatTenthsUnit(value, u'V');
    else if (kind == QLatin1String("H"))
        got = FormatHundredthsUnit(value, u'V');
    else if (kind == QLatin1String("S"))
        got = FormatSignedTenths(value, QStringLiteral("C"));
    else if (kind == QLatin1String("Z"))
        got = ZeroPad(value, 2);
    else
        got = FormatTenths(value);
    QCOMPARE(got, expected);
}

void TestMonitor::texts_data()
{
    QTest::addColumn<Regs>("changes");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *tag, Regs changes, const char *control, const char *expected) {
        QTest::newRow(tag) << changes << QString::fromLatin1(control) << QString::fromUtf8(expected);
    };
    row("panel 1", {}, "ComSetting.1", "[  2024-03-07  09:05:00 ]");
    row("date field", {}, "edtDateTime", "[  2024-03-07  09:05:00 ]");
    row("panel 0", {}, "ComSetting.0", " QELN-2KN  F/W V1.2.0.5  (2023/06/15)");
    row("firmware field", {}, "edtFW", " QELN-2KN  F/W V1.2.0.5  (2023/06/15)");
    row("caption", {}, "Main_Form", " QELN-2KN");
    row("AC volts", {}, "Label_ACV", "AC전압 : 220.5 V");
    row("AC amps", {}, "Label_ACA", "AC전류 : 1.2 A");
    row("DC volts", {}, "Lable_DCV", "DC전압 : 54.0 V");
    row("load", {}, "Lable_DCA", "DC전류 : +12.5  A");
    row("load negative", {{10, 0xFFF6}}, "Lable_DCA", "DC전류 : -1.0  A");
    row("battery current", {{11, 0xFFF6}}, "Lable_BCA", "Battery전류 : -1.0  A");
    row("open sensor", {{12, 1250}}, "Label_BT", "Battery온도 : Open");
    row("sensor 1249", {{12, 1249}}, "Label_BT", "Battery온도 : +124.9  C");
    row("rectifier cold", {{13, 0xFF9C}}, "Label_RT", "정류기온도 : -10.0  C");
    row("rectifier 0x8000", {{13, 0x8000}}, "Label_RT", "정류기온도 : -32768  C");
    row("firmware counter", {}, "edtFwCnt", "77");
    row("module alarm", {}, "Label_M_Alarm", "모듈알람 : 0A");
    row("module alarm wide", {{21, 0x1F3}}, "Label_M_Alarm", "모듈알람 : 1F3");
    row("set voltage 540", {}, "Label_SetV", "설정전압 : 54.0 V");
    row("set voltage 1000", {{61, 1000}}, "Label_SetV", "설정전압 : 100.0 V");
    row("set voltage 1001", {{61, 1001}}, "Label_SetV", "설정전압 : 10.01 V");
    row("set voltage 5400", {{61, 5400}}, "Label_SetV", "설정전압 : 54.00 V");
    row("charge limit", {{93, 2}}, "lbCHLimitFG", "CHLimit FG : 2");
    row("task fail", {}, "lbTaskFail", "Task Fail Count : 4");
    row("bms fw model 3", {}, "Lable_BFW", "FW : V1.2");
    row("bms fw model 2 value 7", {{26, 2}, {96, 7}}, "Lable_BFW", "FW : V0.7");
    row("bms fw model 2 value 9", {{26, 2}, {96, 9}}, "Lable_BFW", "FW : V0.9");
    row("bms fw model 2 value 20", {{26, 2}, {96, 20}}, "Lable_BFW", "FW : V1.10");
    row("bms fw model 2 value 25", {{26, 2}, {96, 25}}, "Lable_BFW", "FW : V1.15");
    row("bms fw model 2 value 31", {{26, 2}, {96, 31}}, "Lable_BFW", "FW : V3.1");
    row("bms fw model 4", {{26, 4}, {96, 215}}, "Lable_BFW", "FW : V2.15");
    row("bms fw model 1", {{26, 1}, {96, 215}}, "Lable_BFW", "FW : 215");
    row("pack", {}, "Lable_BPackV", "팩 : 53.10 V");
    row("battery volts", {}, "Lable_BV", "전압 : 53.05 V");
    row("battery volts none", {{98, 0}}, "Lable_BV", "전압 : 0 V");
    row("bms current", {}, "Lable_BC", "전류 : +3.0  A");
    row("soc", {}, "Lable_BSoc", "잔량 : 87 %");
    row("bms temperature", {}, "Lable_BTp", "온도 : +24.1  C");
    row("end voltage", {}, "Lable_LVD", "종지 전압 : 48.0 V");
    row("charge limit current", {}, "Label_CHLimit", "전류 제한 : 10.0 A");
    row("cell max", {}, "Lable_BCVMax", "셀 최고전압 : 3.55 V");
    row("cell min", {}, "Lable_BCVMin", "셀 최저전압 : 3.52 V");
    row("charge FET on", {}, "Lable_BChFET", "충전 FET : On");
    row("charge FET off", {{109, 0x0A}}, "Lable_BChFET", "충전 FET : OFF");
    row("discharge FET on", {}, "Lable_BDChFET", "방전 FET : On");
    row("discharge FET off", {{109, 0x06}}, "Lable_BDChFET", "방전 FET : OFF");
    row("NFB on", {}, "Lable_BReady", "축전지-NFB : On");
    row("NFB off by bit", {{109, 0x0F}}, "Lable_BReady", "축전지-NFB : OFF");
    row("NFB off without voltage", {{98, 0}}, "Lable_BReady", "축전지-NFB : OFF");
    row("link on", {}, "Lable_BLink", "Link 상태 : On");
    row("link off", {{109, 0x0C}}, "Lable_BLink", "Link 상태 : OFF");
    row("cell 1", {}, "Lable_BCV1", "셀전압1 : 3.54 V");
    row("cell 15", {{124, 7}}, "Lable_BCV15", "셀전압15 : 0.07 V");
    row("fw date", {{126, 615}}, "Lable_BFWDate", "축전지 FW 변경일615");
    row("can fail count", {{26, 4}, {128, 12}}, "LabCanFailCnt", "Can Fail Cnt : 12");
    row("can version", {{26, 4}, {129, 0x0C17}, {130, 0x060F}}, "lbCanCpuVer", "CAN CPU VER : ( V 1.2  ) 23-6-15");
    row("can normal", {{26, 4}}, "LabCanCpuCom", "CPU Com(Normal)");
    row("can fail", {{26, 4}, {131, 1}}, "LabCanCpuCom", "CPU Com(Fail)");
    row("speed", {}, "edtSpeed", "100");
    row("speed setup 0", {{43, 0}}, "edtSpeedSetup", "Auto Nego");
    row("speed setup 4", {}, "edtSpeedSetup", "100M Full");
    row("speed setup 5", {{43, 5}}, "edtSpeedSetup", "");
    row("dsp 1", {}, "lbDspVer1", "DSP#1 VER : ( V 0.3 ) 23-6-15");
    row("dsp 2", {}, "lbDspVer2", "DSP#2 VER : ( V 0.4 ) 24-12-1");
}

void TestMonitor::texts()
{
    QFETCH(Regs, changes);
    QFETCH(QString, control);
    QFETCH(QString, expected);
    const StatusView v = decode(changes);
    QVERIFY2(v.texts.contains(control), qPrintable(control));
    QCOMPARE(v.texts.value(control), expected);
}

void TestMonitor::visibility_data()
{
    QTest::addColumn<Regs>("changes");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("expected"); // 1 shown, 0 hidden, -1 not set by the decode
    auto row = [](const char *tag, Regs changes, const char *control, int expected) {
        QTest::newRow(tag) << changes << QString::fromLatin1(control) << expected;
    };
    row("contact 5 model 3 TTL", {{42, 1}}, "Lable_Contact5", 0);
    row("contact 6 lamp model 4 TTL", {{26, 4}, {42, 1}}, "ImDry6Arm", 0);
    row("contact 6 model 3 dry", {{42, 0}}, "Lable_Contact6", 1);
    row("contact 5 model 2 TTL", {{26, 2}, {42, 1}}, "Lable_Contact5", 1);
    row("contact 1 in alarm", {{41, 5}}, "ImDry1Arm", 1);
    row("contact 1 normal lamp", {{41, 5}}, "ImDry1Nor", 0);
    row("contact 2 normal", {{41, 5}}, "ImDry2Nor", 1);
    row("contact 3 in alarm", {{41, 5}}, "ImDry3Arm", 1);
    row("contact 6 normal", {{41, 5}}, "ImDry6Nor", 1);
    row("contact 6 alarm lamp", {{41, 5}}, "ImDry6Arm", 0);
    row("sensor in use", {}, "Label_BT", 1);
    row("sensor not in use", {{67, 0}}, "Label_BT", 0);
    row("battery panel", {}, "FlatGroupBox1", 1);
    row("battery current label", {}, "Lable_BCA", 1);
    row("battery pictures left to the animation", {}, "Image_BattDCh", -1);
    row("no battery panel", {{66, 0}}, "FlatGroupBox1", 0);
    row("no battery current", {{66, 0}}, "Lable_BCA", 0);
    row("no battery picture", {{66, 0}}, "Image_BattDCh", 0);
    row("no charging picture", {{66, 0}}, "Image_BattCh", 0);
    row("reminder off", {{71, 0}}, "Lab_Alarm_Test", 0);
    row("reminder left to the blink", {{71, 1}}, "Lab_Alarm_Test", -1);
    row("discharge test", {{94, 1}}, "Lable_BTest", 1);
    row("no discharge test", {}, "Lable_BTest", 0);
    row("comm fail", {{16, 0x0080}, {98, 0}}, "LabelBattCommFail", 1);
    row("comm fine with voltage", {{16, 0x0080}}, "LabelBattCommFail", 0);
    row("comm fine with other bms bits", {{16, 0x0180}, {98, 0}}, "LabelBattCommFail", 0);
    row("comm fine without bms alarm", {{98, 0}}, "LabelBattCommFail", 0);
    row("protection lamp", {{107, 0x04}}, "ImBatt3Arm", 1);
    row("protection quiet", {{107, 0x04}}, "ImBatt4Nor", 1);
    row("cell balancing 15", {{108, 0x4000}}, "ImCell15Arm", 1);
    row("cell balancing 1 quiet", {{108, 0x4000}}, "ImCell1Nor", 1);
    row("bms alarm lamp", {{106, 0x80}}, "ImBattP8Arm", 1);
    row("can count model 4", {{26, 4}}, "LabCanFailCnt", 1);
    row("can com model 3", {}, "LabCanCpuCom", 0);
    row("can version model 3", {}, "lbCanCpuVer", 0);
    row("can version model 4 stays", {{26, 4}}, "lbCanCpuVer", -1);
    row("factory item", {}, "mFactoryInitial", 0);
    row("status bar", {}, "ComSetting", 1);
}

void TestMonitor::visibility()
{
    QFETCH(Regs, changes);
    QFETCH(QString, control);
    QFETCH(int, expected);
    const StatusView v = decode(changes);
    QCOMPARE(v.visible.contains(control) ? int(v.visible.value(control)) : -1, expected);
    // Exactly one picture of every indicator pair that the decode touches is shown.
    for (auto it = v.visible.cbegin(); it != v.visible.cend(); ++it) {
        if (!it.key().endsWith(QLatin1String("Nor")) || !it.value())
            continue;
        const QString arm = it.key().chopped(3) + QStringLiteral("Arm");
        QVERIFY2(!v.visible.value(arm), qPrintable(arm));
    }
}

void TestMonitor::modelCaptionAndAlarmWords()
{
    ConsoleState s;
    // An unknown model on the first decode leaves the caption empty.
    StatusView v = decode({{26, 0}}, &s);
    QCOMPARE(v.texts.value(QStringLiteral("Main_Form")), QString());
    QVERIFY(v.alarmWordsChanged); // the first decode always differs
    QCOMPARE(s.AlarmWordsText, QStringLiteral("0000 0000"));

    v = decode({{26, 4}}, &s);
    QCOMPARE(s.ModelText, QStringLiteral(" QELN-2KN(A)"));
    QVERIFY(!v.alarmWordsChanged);
    // A later unknown code keeps the model last known.
    v = decode({{26, 5}, {15, 0x0001}, {16, 0x0080}}, &s);
    QCOMPARE(v.texts.value(QStringLiteral("Main_Form")), QStringLiteral(" QELN-2KN(A)"));
    QVERIFY(v.alarmWordsChanged);
    QCOMPARE(s.AlarmWordsText, QStringLiteral("0001 0080"));
    QCOMPARE(s.LastAlarmWordsText, QStringLiteral("0001 0080"));
    QCOMPARE(s.SetVoltageText, QStringLiteral("54.0 V"));
    v = decode({{26, 1}, {15, 0x0001}, {16, 0x0080}}, &s);
    QVERIFY(!v.alarmWordsChanged);
    QCOMPARE(s.ModelText, QStringLiteral("  "));
    v = decode({{26, 2}}, &s);
    QCOMPARE(s.ModelText, QStringLiteral(" QELN-2K"));
    QVERIFY(v.alarmWordsChanged);

    // The charge-limit flag turns the lamp captions yellow.
    QCOMPARE(decode({{93, 1}}).colours.value(QStringLiteral("pnl_TX")), 0xFFFF00u);
    QCOMPARE(decode({}).colours.value(QStringLiteral("pnl_RX")), 0xFFFFFFu);
    QCOMPARE(decode({{26, 4}, {131, 3}}).colours.value(QStringLiteral("LabCanCpuCom")), 0xFF0000u);
    QCOMPARE(decode({{42, 1}}).contactCount, 4);
    QCOMPARE(decode({{71, 1}}).alarmTestReminder, true);
}

void TestMonitor::activeAlarms_data()
{
    QTest::addColumn<int>("alarm1");
    QTest::addColumn<int>("alarm2");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("firstCode");
    QTest::newRow("none") << 0 << 0 << QStringList() << 0;
    QTest::newRow("DC over current") << 0x0020 << 0 << QStringList{QStringLiteral("DC Over Current")} << 6;
    QTest::newRow("BMS alarm") << 0 << 0x0080 << QStringList{QStringLiteral("Battery BMS Alarm")} << 24;
    QTest::newRow("unlisted bits") << 0x0008 << 0x0400 << QStringList() << 0;
    QTest::newRow("table order") << 0x0041 << 0x3B02
                                 << QStringList{QStringLiteral("AC Input Fail"), QStringLiteral("Battery Disconnect"),
                                                QStringLiteral("Battery Discharge"), QStringLiteral("Battery OverCharge"),
                                                QStringLiteral("Battery Charge OverCurrent"),
                                                QStringLiteral("Battery Discharge OverCurrent"),
                                                QStringLiteral("Battery Temperature High"),
                                                QStringLiteral("Battery Temperature Low")}
                                 << 1;
}

void TestMonitor::activeAlarms()
{
    QFETCH(int, alarm1);
    QFETCH(int, alarm2);
    QFETCH(QStringList, names);
    QFETCH(int, firstCode);
    ConsoleState s;
    QCOMPARE(activeAlarmNames(s, alarm1, alarm2), names);
    QCOMPARE(decode({{15, alarm1}, {16, alarm2}}).activeAlarms, names);
    if (firstCode) {
        // The history code is the bit position in ALARM1 + 65536 * ALARM2, plus one.
        for (const AlarmBit &a : alarmBits()) {
            if (a.historyCode)
                QCOMPARE(a.historyCode, (a.word - 1) * 16 + a.bit + 1);
            if (alarmName(s, a) == names.first())
                QCOMPARE(a.historyCode, firstCode);
        }
    }
}

void TestMonitor::contactWindowTicks()
{
    ConsoleState s;
    // Before any status every row is clear.
    for (const auto &t : contactAlarmTicks(s, 4))
        QVERIFY(!t.ticked);
    decode({{84, 0x0100}, {85, 0x0008}, {80, 0xFFFF}}, &s);
    const auto ticks = contactAlarmTicks(s, 4);
    QStringList ticked;
    for (const auto &t : ticks) {
        if (t.ticked)
            ticked << t.caption;
    }
    QCOMPARE(ticked, (QStringList{QStringLiteral("Module Fail"), QStringLiteral("Temperature High")}));
    QVERIFY(ticks[4].ticked && ticks[7].ticked);
    QCOMPARE(ticks[5].caption, QStringLiteral("Battery Disconnect"));
    // Contact 1's mask has every ALARM1 bit: its six ALARM1 rows, nothing of ALARM2 (and bit 3
    // or 7, which have no row, tick nothing).
    int count = 0;
    for (const auto &t : contactAlarmTicks(s, 0))
        count += t.ticked;
    QCOMPARE(count, 6);
}

void TestMonitor::decodeThroughEngine_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("cut");     // serial: characters added (+) or removed (-)
    QTest::addColumn<bool>("badDigit"); // serial: a "G" in the group of register 50
    QTest::addColumn<int>("decodedViews");
    QTest::addColumn<int>("storedUpTo");
    QTest::newRow("serial") << false << 0 << false << 1 << 131;
    QTest::newRow("tcp") << true << 0 << false << 1 << 131;
    QTest::newRow("serial 534") << false << -1 << false << 0 << 0;
    QTest::newRow("serial 536") << false << 1 << false << 0 << 0;
    // The frame check drops a frame with a pair that is not hexadecimal before the decode.
    QTest::newRow("serial G at 50") << false << 0 << true << 0 << 0;
}

void TestMonitor::decodeThroughEngine()
{
    QFETCH(bool, tcp);
    QFETCH(int, cut);
    QFETCH(bool, badDigit);
    QFETCH(int, decodedViews);
    QFETCH(int, storedUpTo);

    EngineRig rig(tcp);
    LiveMonitor monitor(rig.engine, rig.state);
    QSignalSpy views(&monitor, &LiveMonitor::viewDecoded);
    QSignalSpy plants(&monitor, &LiveMonitor::plantDecoded);
    QSignalSpy received(&rig.engine, &LinkEngine::statusReceived);
    const QList<int> regs = plant();

    rig.engine.pollNow(); // the poll goes out
    if (tcp) {
        rig.link.injectNow(testframes::tcpStatusResponse(1, regs));
    } else {
        QByteArray body = testframes::serialStatusFrame(regs).chopped(4).mid(1); // without ":" LRC CR LF
        if (badDigit)
            body[8 + 4 * 49] = 'G';
        // 534 or 536 characters from ":" to the LRC: one digit less or more than a status.
        if (cut < 0)
            body.chop(1);
        if (cut > 0)
            body += '0';
        rig.link.injectNow(testframes::serialFrame(body));
    }
    QCoreApplication::processEvents();
    QCOMPARE(views.size(), decodedViews);
    QCOMPARE(plants.size(), decodedViews);
    QCOMPARE(received.size(), storedUpTo > 0 ? 1 : 0);
    for (int n = 1; n <= 131; ++n)
        QCOMPARE(statusRegister(rig.state, n), n <= storedUpTo ? regs[n - 1] : 0);
    if (decodedViews) {
        QCOMPARE(monitor.view().texts.value(QStringLiteral("Label_ACV")), QStringLiteral("AC전압 : 220.5 V"));
        QCOMPARE(rig.state.ModelText, QStringLiteral(" QELN-2KN"));
        // What records and exports numbers gets the decode the page shows.
        const auto plantSent = plants.first().first().value<PlantStatus>();
        QCOMPARE(plantSent.acVoltage.value().value_or(-1), 220.5);
        QCOMPARE(plantSent.registers, monitor.plant().registers);
    } else {
        QVERIFY(rig.state.ModelText.isEmpty());
        QVERIFY(monitor.view().texts.isEmpty());
    }
}

void TestMonitor::treeShapeAndIcons_data()
{
    QTest::addColumn<int>("battery");
    QTest::addColumn<int>("alarm1");
    QTest::addColumn<int>("alarm2");
    QTest::addColumn<QStringList>("alarmLines");
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("lines");
    const QString root = QStringLiteral("Alarm그룹");
    QTest::newRow("no battery, quiet") << 0 << 0 << 0 << QStringList() << 3 << 6;
    QTest::newRow("battery, quiet") << 1 << 0 << 0 << QStringList() << 4 << 16;
    QTest::newRow("DC over current") << 1 << 0x0020 << 0 << QStringList{root, QStringLiteral("DC Over Current")} << 4 << 16;
    QTest::newRow("bit 10 without a line")
        << 1 << 0 << 0x0400 << QStringList{root, QStringLiteral("축전지")} << 4 << 16;
    QTest::newRow("BMS alarm") << 1 << 0 << 0x0080 << QStringList{root, QStringLiteral("Battery BMS Alarm")} << 4 << 16;
    QTest::newRow("AC fail") << 0 << 0x0001 << 0
                             << QStringList{root, QStringLiteral("교류입력"), QStringLiteral("AC Input Fail")} << 3 << 6;
    QTest::newRow("output high")
        << 0 << 0x0002 << 0 << QStringList{root, QStringLiteral("직류출력"), QStringLiteral("Output Voltage High")} << 3 << 6;
    QTest::newRow("module temperature")
        << 0 << 0 << 0x0008 << QStringList{root, QStringLiteral("정류모듈"), QStringLiteral("Temperature High")} << 3 << 6;
    QTest::newRow("disconnect without battery group")
        << 0 << 0x0040 << 0 << QStringList{root} << 3 << 6;
    QTest::newRow("disconnect") << 1 << 0x0040 << 0 << QStringList{root, QStringLiteral("Battery Disconnect")} << 4 << 16;
    QTest::newRow("discharge") << 1 << 0 << 0x0002
                               << QStringList{root, QStringLiteral("축전지"), QStringLiteral("Battery Discharge")} << 4 << 16;
}

void TestMonitor::treeShapeAndIcons()
{
    QFETCH(int, battery);
    QFETCH(int, alarm1);
    QFETCH(int, alarm2);
    QFETCH(QStringList, alarmLines);
    QFETCH(int, groups);
    QFETCH(int, lines);
    ConsoleState s;
    load(s, with(plant(), {{66, battery}, {15, alarm1}, {16, alarm2}}));
    ModuleTree tree(s);
    tree.build();
    int groupCount = 0;
    int lineCount = 0;
    QStringList alarmed;
    for (const TreeNode &n : tree.nodes()) {
        groupCount += n.level == 1;
        lineCount += n.level == 2;
        if (n.alarm)
            alarmed << n.text;
        if (n.level > 0)
            QCOMPARE(tree.nodes().at(n.parent).level, n.level - 1);
    }
    QCOMPARE(groupCount, groups);
    QCOMPARE(lineCount, lines);
    QCOMPARE(alarmed, alarmLines);
}

void TestMonitor::treeStateMachine()
{
    EngineRig rig(true);
    LiveMonitor monitor(rig.engine, rig.state);
    ModuleTree &tree = monitor.tree();
    QSignalSpy icons(&tree, &ModuleTree::iconsChanged);
    Responder respond{rig};

    respond({});
    QCOMPARE(tree.TreeState, 1);
    QVERIFY(tree.nodes().isEmpty());
    respond({});
    QCOMPARE(tree.TreeState, 2);
    QVERIFY(tree.blinkTimer()->isActive());
    QCOMPARE(tree.nodes().size(), 1 + 4 + 16);
    tree.onBlinkTick();
    QCOMPARE(tree.TreeState, 3);

    // An alarm reaches the icons on the next tick, and only on a change.
    respond({{15, 0x0001}});
    QVERIFY(!tree.nodes().at(0).alarm);
    tree.onBlinkTick();
    QVERIFY(tree.nodes().at(0).alarm);
    const auto changes = icons.size();
    tree.onBlinkTick();
    QCOMPARE(icons.size(), changes);
    // Set and cleared again between two ticks: no icon changes.
    respond({{15, 0x0001}, {16, 0x0002}});
    respond({{15, 0x0001}});
    tree.onBlinkTick();
    QCOMPARE(icons.size(), changes);

    // Battery taken out of use: gone for two responses, then rebuilt without its group.
    respond({{66, 0}});
    QCOMPARE(tree.TreeState, 0);
    QVERIFY(tree.nodes().isEmpty());
    tree.onBlinkTick(); // a tick on a cleared tree touches nothing
    QVERIFY(tree.nodes().isEmpty());
    respond({{66, 0}});
    QVERIFY(tree.nodes().isEmpty());
    respond({{66, 0}});
    QCOMPARE(tree.nodes().size(), 1 + 3 + 6);

    // The preview builds a tree of its own without touching the state machine.
    const int state = tree.TreeState;
    // It builds from the registers as they are and marks the battery in use afterwards.
    monitor.preview();
    QCOMPARE(tree.TreeState, state);
    QCOMPARE(statusRegister(rig.state, 66), 1);
    QCOMPARE(tree.nodes().size(), 1 + 3 + 6);
    monitor.preview();
    QCOMPARE(tree.nodes().size(), 1 + 4 + 16);
}

void TestMonitor::treeSurvivesBatteryChanges()
{
    // Register 66 changing before the tree is built, between build and first tick, and the
    // ticks on a tree that was cleared: nothing may touch a line that does not exist.
    ConsoleState s;
    ModuleTree tree(s);
    const QList<QList<int>> sequences = {
        {1, 0, 1, 0, 1, 0},      // flips on every response
        {0, 1, 1, 1, 0, 0, 0, 1}, // changes between build and the first tick
        {1, 1, 0, 0, 1, 1, 1},
    };
    for (const QList<int> &battery : sequences) {
        for (int use : battery) {
            load(s, with(plant(), {{66, use}, {15, 0x0041}, {16, 0x3FFF}}));
            tree.statusStep();
            tree.onBlinkTick();
            s.StatusRegisters[65] = 1 - use; // the register moves between response and tick
            tree.onBlinkTick();
            tree.RefreshModuleTree();
            for (const TreeNode &n : tree.nodes())
                QVERIFY(n.parent < tree.nodes().size());
        }
    }
    tree.ClearModuleTree();
    tree.RefreshModuleTree();
    tree.onBlinkTick();
    QVERIFY(tree.nodes().isEmpty());
}

void TestMonitor::powerFlow_data()
{
    QTest::addColumn<Regs>("changes");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("lastPictures"); // ac, rect, batt, sys of the last tick
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("battCh");  // -1 untouched, 0 hidden, 1 shown
    QTest::addColumn<int>("battDCh");
    // AC 50: only the load strip runs.
    QTest::newRow("AC 50") << Regs{{7, 50}, {10, 0}, {11, 0}} << 5 << QList<int>{1, 1, 1, 5} << 0 << 0 << 1;
    QTest::newRow("AC 51") << Regs{{7, 51}, {10, 0}, {11, 0}} << 5 << QList<int>{5, 1, 1, 1} << 0 << 0 << 1;
    QTest::newRow("AC wraps") << Regs{{10, 0}, {11, 0}} << 13 << QList<int>{2, 1, 1, 1} << 0 << 0 << 1;
    // Load current: the load strip follows the AC strip, the rectifier strip runs.
    QTest::newRow("load") << Regs{{11, 0}} << 4 << QList<int>{4, 3, 1, 4} << 4 << 0 << 1;
    // Charging: battery strip forwards, charging picture.
    QTest::newRow("charging") << Regs{{10, 0}, {11, 30}} << 4 << QList<int>{4, 3, 4, 1} << 1 << 1 << 0;
    // Discharging 1.0 A: battery strip backwards, discharging picture.
    QTest::newRow("discharging") << Regs{{7, 0}, {10, 125}, {11, 0xFFF6}} << 3 << QList<int>{1, 1, 10, 3} << 0 << 0 << 1;
    QTest::newRow("no battery")
        << Regs{{66, 0}, {11, 0xFFF6}} << 3 << QList<int>{3, 2, 0, 3} << 4 << 0 << -1;
    QTest::newRow("no battery charging") << Regs{{66, 0}, {11, 5}} << 2 << QList<int>{2, 1, 0, 2} << 5 << -1 << 0;
}

void TestMonitor::powerFlow()
{
    QFETCH(Regs, changes);
    QFETCH(int, ticks);
    QFETCH(QList<int>, lastPictures);
    QFETCH(int, flags);
    QFETCH(int, battCh);
    QFETCH(int, battDCh);
    ConsoleState s;
    load(s, with(plant(), changes));
    PowerFlow flow;
    PowerFlowFrame f;
    for (int i = 0; i < ticks; ++i)
        f = flow.nextFrame(s);
    QCOMPARE((QList<int>{f.ac, f.rect, f.batt, f.sys}), lastPictures);
    QCOMPARE(flow.FlowFlags, flags);
    QCOMPARE(f.battChVisible ? int(*f.battChVisible) : -1, battCh);
    QCOMPARE(f.battDChVisible ? int(*f.battDChVisible) : -1, battDCh);
}

void TestMonitor::reminderAndAnswerWatch()
{
    EngineRig rig(true);
    LiveMonitor monitor(rig.engine, rig.state);
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 22));
    monitor.setClock([&now] { return now; });
    monitor.startDisplayTimers();
    QVERIFY(monitor.reminderTimer()->isActive());
    QVERIFY(monitor.animationTimer()->isActive());
    QSignalSpy missing(&monitor, &LiveMonitor::answerMissing);
    QSignalSpy resumed(&monitor, &LiveMonitor::answerResumed);

    Responder respond{rig};
    QSignalSpy reminder(&monitor, &LiveMonitor::alarmTestReminderChanged);
    for (int i = 0; i < 17; ++i)
        monitor.onReminderTick();
    respond({{71, 0}});
    QVERIFY(!monitor.reminderTimer()->isActive());
    respond({{71, 1}});
    QVERIFY(monitor.reminderTimer()->isActive());
    // The blink starts over once the test ends: hidden after 10 ticks, shown again after 30.
    reminder.clear();
    for (int i = 0; i <= 30; ++i)
        monitor.onReminderTick();
    QCOMPARE(reminder.size(), 2);
    QCOMPARE(reminder.at(0).at(0).toBool(), false);
    QCOMPARE(reminder.at(1).at(0).toBool(), true);

    // The poll runs at 300 ms: three poll periods are 2.7 s.
    rig.engine.startPolling(300);
    monitor.checkAnswer(); // the poll is seen running
    respond({});
    now = now.addMSecs(2700);
    monitor.checkAnswer();
    QCOMPARE(missing.size(), 0);
    now = now.addMSecs(400);
    monitor.checkAnswer();
    QCOMPARE(missing.size(), 1);
    QCOMPARE(missing.at(0).at(0).toDateTime(), QDateTime(QDate(2026, 12, 7), QTime(14, 3, 22)));
    monitor.checkAnswer();
    QCOMPARE(missing.size(), 1); // said once
    respond({});
    QCOMPARE(resumed.size(), 1);
    QVERIFY(!monitor.answerOverdue());
    // A dialog holding the poll is not a silent controller.
    rig.engine.hold();
    now = now.addSecs(60);
    monitor.checkAnswer();
    QCOMPARE(missing.size(), 1);
    rig.engine.stopPolling();
}

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
