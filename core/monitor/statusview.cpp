// Texts are built in one allocation each: the decode runs for every status response.
#define QT_USE_QSTRINGBUILDER

#include "statusview.h"

#include "formatters.h"
#include "link/hextext.h"

#include <QHash>
#include <QRegularExpression>
#include <QList>

namespace qeln {

namespace {

constexpr quint32 Black = 0x000000;
constexpr quint32 Red = 0xFF0000;
constexpr quint32 Yellow = 0xFFFF00;
constexpr quint32 White = 0xFFFFFF;

QString dec(int value)
{
    return QString::number(value);
}

QString hex(int value, int digits)
{
    return QString::fromLatin1(IntToHexFixed(value, digits));
}

// The names of the two pictures of every indicator pair, made once.
struct PairNames {
    QString normal;
    QString alarm;
};

const PairNames &pairNames(const char *prefix, int number)
{
    static const auto table = [] {
        QHash<QString, QList<PairNames>> names;
        for (const auto &[p, count] : {std::pair{"ImDry", 6}, {"ImBatt", 8}, {"ImBattP", 8}, {"ImCell", 15}}) {
            QList<PairNames> &list = names[QLatin1String(p)];
            for (int k = 1; k <= count; ++k) {
                const QString base = QLatin1String(p) + QString::number(k);
                list.append({base + QStringLiteral("Nor"), base + QStringLiteral("Arm")});
            }
        }
        return names;
    }();
    return table.find(QLatin1String(prefix))->at(number - 1);
}

// An indicator pair: the alarm picture when its bit is set, the normal one otherwise.
void setIndicatorPair(StatusView &v, const char *prefix, int number, bool alarm)
{
    const PairNames &names = pairNames(prefix, number);
    v.visible.insert(names.normal, !alarm);
    v.visible.insert(names.alarm, alarm);
}

QString batteryFirmwareText(int model, int v)
{
    int major = 0;
    int minor = 0;
    switch (model) {
    case 2:
        if (v < 10) {
            major = 0;
            minor = v;
        } else if (v < 30) {
            major = (v - 10) / 10;
            minor = v - 10;
        } else {
            major = v / 10;
            minor = v % 10;
        }
        break;
    case 3:
    case 4:
        major = v / 100;
        minor = v % 100;
        break;
    default:
        // No rule is known for other models: the raw number, so nothing is made up.
        return QStringLiteral("FW : ") + dec(v);
    }
    return QStringLiteral("FW : V") + dec(major) + QLatin1Char('.') + dec(minor);
}

QString ethernetSpeedText(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("Auto Nego");
    case 1:
        return QStringLiteral("10M Half");
    case 2:
        return QStringLiteral("10M Full");
    case 3:
        return QStringLiteral("100M Half");
    case 4:
        return QStringLiteral("100M Full");
    default:
        return QString();
    }
}

// "( V 0.3 ) 23-6-15": a DSP's version and date.
QString dspVersionText(const VersionDate &v)
{
    return QStringLiteral("( V 0.") + dec(v.version) + QStringLiteral(" ) ") + dec(v.year) + QLatin1Char('-')
        + dec(v.month) + QLatin1Char('-') + dec(v.day);
}

// The controller's date and time: the status bar's time panel and the clock.
void decodeClock(ConsoleState &s, const PlantStatus &p, StatusView &v)
{
    const ControllerClock &c = p.clock;
    const QString date = dec(c.year) + QLatin1Char('-') + ZeroPad(c.month, 2) + QLatin1Char('-') + ZeroPad(c.day, 2);
    const QString time =
        ZeroPad(c.hour, 2) + QLatin1Char(':') + ZeroPad(c.minute, 2) + QLatin1Char(':') + ZeroPad(c.second, 2);
    s.StatusTimeText = QStringLiteral("[  ") + date + QStringLiteral("  ") + time + QStringLiteral(" ]");
    v.texts[QStringLiteral("ComSetting.1")] = s.StatusTimeText;
    v.texts[QStringLiteral("edtDateTime")] = s.StatusTimeText;
}

// The plant's measurements around the power-flow picture, and the set voltage: tenths up to
// 100.0 V, hundredths above.
void decodeMeasurements(ConsoleState &s, const PlantStatus &p, StatusView &v)
{
    auto &t = v.texts;
    const QString volts = QStringLiteral("V");
    const QString amperes = QStringLiteral("A");
    const QString celsius = QStringLiteral("C");
    t[QStringLiteral("Label_ACV")] = QStringLiteral("AC전압 : ") + readingText(p.acVoltage, volts);
    t[QStringLiteral("Label_ACA")] = QStringLiteral("AC전류 : ") + readingText(p.acCurrent, amperes);
    t[QStringLiteral("Lable_DCV")] = QStringLiteral("DC전압 : ") + readingText(p.dcVoltage, volts);
    t[QStringLiteral("Lable_DCA")] = QStringLiteral("DC전류 : ") + readingText(p.loadCurrent, amperes);
    t[QStringLiteral("Lable_BCA")] = QStringLiteral("Battery전류 : ") + readingText(p.batteryCurrent, amperes);
    t[QStringLiteral("Label_BT")] = QStringLiteral("Battery온도 : ")
        + (p.batterySensorOpen ? QStringLiteral("Open") : readingText(p.batteryTemperature, celsius));
    t[QStringLiteral("Label_RT")] = QStringLiteral("정류기온도 : ") + readingText(p.rectifierTemperature, celsius);
    t[QStringLiteral("edtFwCnt")] = dec(p.firmwareCounter);
    t[QStringLiteral("Label_M_Alarm")] = QStringLiteral("모듈알람 : ") + QString::number(p.moduleAlarmWord, 16).toUpper().rightJustified(2, u'0');

    s.SetVoltageText = readingText(p.setVoltage, volts);
    t[QStringLiteral("Label_SetV")] = QStringLiteral("설정전압 : ") + s.SetVoltageText;
}

// The dry contacts: two of them are not there on models 3 and 4 with TTL alarm output. Their
// alarm masks are kept for the contact-alarm window.
void decodeDryContacts(ConsoleState &s, const PlantStatus &p, StatusView &v)
{
    const DryContacts &c = p.contacts;
    v.contactCount = c.count;
    for (int k = 5; k <= 6; ++k) {
        const bool shown = c.count == 6;
        v.visible[k == 5 ? QStringLiteral("Lable_Contact5") : QStringLiteral("Lable_Contact6")] = shown;
        v.visible[pairNames("ImDry", k).normal] = shown;
        v.visible[pairNames("ImDry", k).alarm] = shown;
    }
    for (int k = 1; k <= c.count; ++k)
        setIndicatorPair(v, "ImDry", k, c.inAlarm[size_t(k - 1)]);
    s.ContactAlarmMasks = c.alarmMasks;
}

// The model (the window caption) and the firmware (the status bar's first panel).
void decodeModelAndFirmware(ConsoleState &s, const PlantStatus &p, StatusView &v)
{
    s.ModelText = p.modelText;
    v.texts[QStringLiteral("Main_Form")] = s.ModelText;
    s.StatusFirmwareText = statusFirmwareText(p);
    v.texts[QStringLiteral("ComSetting.0")] = s.StatusFirmwareText;
    v.texts[QStringLiteral("edtFW")] = s.StatusFirmwareText;
}

// What is shown by the plant's configuration and flags: the battery in use and its
// temperature sensor, the alarm-test reminder, the charge-limit flag (the TX and RX captions
// turn yellow), the battery test and the task-fail count.
void decodeFlags(const PlantStatus &p, StatusView &v)
{
    v.visible[QStringLiteral("Label_BT")] = p.batterySensorFitted;
    if (p.batteryInUse) {
        v.visible[QStringLiteral("Lable_BCA")] = true;
        v.visible[QStringLiteral("FlatGroupBox1")] = true;
    } else {
        v.visible[QStringLiteral("Lable_BCA")] = false;
        v.visible[QStringLiteral("Image_BattDCh")] = false;
        v.visible[QStringLiteral("Image_BattCh")] = false;
        v.visible[QStringLiteral("FlatGroupBox1")] = false;
    }

    // The reminder blinks while the alarm test is in use.
    v.alarmTestReminder = p.alarmTestActive;
    if (!v.alarmTestReminder)
        v.visible[QStringLiteral("Lab_Alarm_Test")] = false;

    const quint32 lampCaption = p.chargeLimitFlag != 0 ? Yellow : White;
    v.colours[QStringLiteral("pnl_TX")] = lampCaption;
    v.colours[QStringLiteral("pnl_RX")] = lampCaption;
    v.texts[QStringLiteral("lbCHLimitFG")] = QStringLiteral("CHLimit FG : ") + dec(p.chargeLimitFlag);

    v.visible[QStringLiteral("Lable_BTest")] = p.batteryTestRunning;
    v.texts[QStringLiteral("lbTaskFail")] = QStringLiteral("Task Fail Count : ") + dec(p.taskFailCount);
}

// The battery management panel: firmware, pack values, alarm and protection indicators, the
// FET and link states and the cell voltages.
void decodeBatteryManagement(const PlantStatus &p, StatusView &v)
{
    const BatteryPack &b = p.battery;
    const QString volts = QStringLiteral("V");
    const QString amperes = QStringLiteral("A");
    auto &t = v.texts;
    t[QStringLiteral("Lable_BFW")] = batteryFirmwareText(p.modelCode, b.firmware);
    t[QStringLiteral("Lable_BPackV")] = QStringLiteral("팩 : ") + readingText(b.packVoltage, volts);
    t[QStringLiteral("Lable_BV")] = QStringLiteral("전압 : ") + readingText(b.voltage, volts);
    t[QStringLiteral("Lable_BC")] = QStringLiteral("전류 : ") + readingText(b.current, amperes);
    t[QStringLiteral("Lable_BSoc")] = QStringLiteral("잔량 : ") + readingText(b.stateOfCharge, QStringLiteral("%"));
    t[QStringLiteral("Lable_BTp")] = QStringLiteral("온도 : ") + readingText(b.temperature, QStringLiteral("C"));
    t[QStringLiteral("Lable_LVD")] = QStringLiteral("종지 전압 : ") + readingText(b.cutOffVoltage, volts);
    t[QStringLiteral("Label_CHLimit")] = QStringLiteral("전류 제한 : ") + readingText(b.chargeCurrentLimit, amperes);
    t[QStringLiteral("Lable_BCVMax")] = QStringLiteral("셀 최고전압 : ") + readingText(b.cellMax, volts);
    t[QStringLiteral("Lable_BCVMin")] = QStringLiteral("셀 최저전압 : ") + readingText(b.cellMin, volts);

    for (int k = 1; k <= 8; ++k)
        setIndicatorPair(v, "ImBatt", k, b.protectionBits & (1 << (k - 1)));
    for (int k = 1; k <= 15; ++k)
        setIndicatorPair(v, "ImCell", k, b.balancingBits & (1 << (k - 1)));
    for (int k = 1; k <= 8; ++k)
        setIndicatorPair(v, "ImBattP", k, b.alarmBits & (1 << (k - 1)));

    v.visible[QStringLiteral("LabelBattCommFail")] = b.communicationLost;

    t[QStringLiteral("Lable_BChFET")] =
        b.chargeFetOn() ? QStringLiteral("충전 FET : On") : QStringLiteral("충전 FET : OFF");
    t[QStringLiteral("Lable_BDChFET")] =
        b.dischargeFetOn() ? QStringLiteral("방전 FET : On") : QStringLiteral("방전 FET : OFF");
    t[QStringLiteral("Lable_BReady")] =
        b.breakerOn() ? QStringLiteral("축전지-NFB : On") : QStringLiteral("축전지-NFB : OFF");
    t[QStringLiteral("Lable_BLink")] = b.linkUp() ? QStringLiteral("Link 상태 : On") : QStringLiteral("Link 상태 : OFF");

    static const auto cellNames = [] {
        QList<QPair<QString, QString>> names; // control, caption
        for (int n = 1; n <= 15; ++n)
            names.append({QStringLiteral("Lable_BCV") + dec(n), QStringLiteral("셀전압") + dec(n) + QStringLiteral(" : ")});
        return names;
    }();
    for (int n = 1; n <= 15; ++n)
        t[cellNames[n - 1].first] = cellNames[n - 1].second + readingText(b.cells[size_t(n - 1)], volts);
    t[QStringLiteral("Lable_BFWDate")] = QStringLiteral("축전지 FW 변경일") + dec(b.firmwareDate);
}

// The CAN processor, which exists on model 4 only.
void decodeCanProcessor(const PlantStatus &p, StatusView &v)
{
    if (!p.can) {
        v.visible[QStringLiteral("LabCanFailCnt")] = false;
        v.visible[QStringLiteral("LabCanCpuCom")] = false;
        v.visible[QStringLiteral("lbCanCpuVer")] = false;
        return;
    }
    const CanProcessor &can = *p.can;
    v.visible[QStringLiteral("LabCanFailCnt")] = true;
    v.visible[QStringLiteral("LabCanCpuCom")] = true;
    v.texts[QStringLiteral("LabCanFailCnt")] = QStringLiteral("Can Fail Cnt : ") + dec(can.failCount);
    v.texts[QStringLiteral("lbCanCpuVer")] = QStringLiteral("CAN CPU VER : ( V ") + FormatTenthsUnit(can.version.version, u' ')
        + QStringLiteral(") ") + dec(can.version.year) + QLatin1Char('-') + dec(can.version.month) + QLatin1Char('-')
        + dec(can.version.day);
    v.texts[QStringLiteral("LabCanCpuCom")] = can.communicationOk ? QStringLiteral("CPU Com(Normal)") : QStringLiteral("CPU Com(Fail)");
    v.colours[QStringLiteral("LabCanCpuCom")] = can.communicationOk ? Black : Red;
}

// The Ethernet speed (as set and as running) and the versions of the two DSPs.
void decodeNetworkAndDsp(const PlantStatus &p, StatusView &v)
{
    auto &t = v.texts;
    t[QStringLiteral("edtSpeed")] = dec(p.ethernetSpeed);
    t[QStringLiteral("edtSpeedSetup")] = ethernetSpeedText(p.ethernetSpeedSetting);
    t[QStringLiteral("lbDspVer1")] = QStringLiteral("DSP#1 VER : ") + dspVersionText(p.dsp[0]);
    t[QStringLiteral("lbDspVer2")] = QStringLiteral("DSP#2 VER : ") + dspVersionText(p.dsp[1]);
}

// The two alarm words: their text (a change of it makes the data log write an "[al]" line)
// and the names of the active alarms.
void decodeAlarmWords(ConsoleState &s, const PlantStatus &p, StatusView &v)
{
    s.AlarmWordsText = hex(p.alarm1, 4) + QLatin1Char(' ') + hex(p.alarm2, 4);
    if (s.AlarmWordsText != s.LastAlarmWordsText) {
        s.LastAlarmWordsText = s.AlarmWordsText;
        v.alarmWordsChanged = true;
    }
    v.activeAlarms = p.activeAlarmNames();
}

} // namespace

QString statusFirmwareText(const PlantStatus &p)
{
    const ControllerFirmware &f = p.firmware;
    return p.modelText + QStringLiteral("  F/W V") + dec(f.version[0]) + QLatin1Char('.') + dec(f.version[1])
        + QLatin1Char('.') + dec(f.version[2]) + QLatin1Char('.') + dec(f.version[3]) + QStringLiteral("  (")
        + hex(f.yearBcd, 4) + QLatin1Char('/') + hex(f.monthBcd, 2) + QLatin1Char('/') + hex(f.dayBcd, 2)
        + QLatin1Char(')');
}

StatusView decodeStatusView(ConsoleState &s)
{
    StatusView v;
    v.plant = decodePlantStatus(s);
    const PlantStatus &p = v.plant;
    // The status bar and the monitoring area come alive with every decode.
    v.visible[QStringLiteral("ComSetting")] = true;
    v.visible[QStringLiteral("GroupBox1")] = true;

    decodeClock(s, p, v);
    decodeMeasurements(s, p, v);
    decodeDryContacts(s, p, v);
    decodeModelAndFirmware(s, p, v);
    decodeFlags(p, v);
    decodeBatteryManagement(p, v);
    decodeCanProcessor(p, v);
    decodeNetworkAndDsp(p, v);
    v.visible[QStringLiteral("mFactoryInitial")] = false;
    decodeAlarmWords(s, p, v);
    return v;
}

std::optional<double> shownNumber(const StatusView &view, const QString &control)
{
    if (!view.visible.value(control, true))
        return std::nullopt;
    const auto text = view.texts.constFind(control);
    if (text == view.texts.cend())
        return std::nullopt;
    // "caption : number unit": the number right after the colon, the unit after a blank.
    static const QRegularExpression number(QStringLiteral(":\\s*([+-]?\\d+(?:\\.\\d+)?)(?:\\s|$)"));
    const QRegularExpressionMatch m = number.match(*text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = m.captured(1).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace qeln
