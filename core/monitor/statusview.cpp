// Texts are built in one allocation each: the decode runs for every status response.
#define QT_USE_QSTRINGBUILDER

#include "statusview.h"

#include "alarmmodel.h"
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

int hi(int value)
{
    return (value >> 8) & 0xFF;
}

int lo(int value)
{
    return value & 0xFF;
}

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

// An indicator pair: the alarm picture when word AND mask is not 0, the normal one otherwise.
void setIndicatorPair(StatusView &v, const char *prefix, int word, int number, int mask)
{
    const PairNames &names = pairNames(prefix, number);
    const bool alarm = (word & mask) != 0;
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

// Status register n (1-based) of the response being decoded, as the sections read them.
struct Registers {
    const ConsoleState &s;
    int operator()(int n) const { return statusRegister(s, n); }
};

// The controller's date and time: the status bar's time panel and the clock.
void decodeClock(ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    const QString date = dec(reg(1)) + QLatin1Char('-') + ZeroPad(reg(2), 2) + QLatin1Char('-') + ZeroPad(reg(3), 2);
    const QString time = ZeroPad(reg(4), 2) + QLatin1Char(':') + ZeroPad(reg(5), 2) + QLatin1Char(':') + ZeroPad(reg(6), 2);
    s.StatusTimeText = QStringLiteral("[  ") + date + QStringLiteral("  ") + time + QStringLiteral(" ]");
    v.texts[QStringLiteral("ComSetting.1")] = s.StatusTimeText;
    v.texts[QStringLiteral("edtDateTime")] = s.StatusTimeText;
}

// The plant's measurements around the power-flow picture, and the set voltage: tenths up to
// 100.0 V, hundredths above.
void decodeMeasurements(ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    auto &t = v.texts;
    t[QStringLiteral("Label_ACV")] = QStringLiteral("AC전압 : ") + FormatTenthsUnit(reg(7), u'V');
    t[QStringLiteral("Label_ACA")] = QStringLiteral("AC전류 : ") + FormatTenthsUnit(reg(8), u'A');
    t[QStringLiteral("Lable_DCV")] = QStringLiteral("DC전압 : ") + FormatTenthsUnit(reg(9), u'V');
    t[QStringLiteral("Lable_DCA")] = QStringLiteral("DC전류 : ") + FormatSignedTenths(reg(10), QStringLiteral("A"));
    t[QStringLiteral("Lable_BCA")] = QStringLiteral("Battery전류 : ") + FormatSignedTenths(reg(11), QStringLiteral("A"));
    t[QStringLiteral("Label_BT")] = QStringLiteral("Battery온도 : ")
        + (reg(12) == 1250 ? QStringLiteral("Open") : FormatSignedTenths(reg(12), QStringLiteral("C")));
    t[QStringLiteral("Label_RT")] = QStringLiteral("정류기온도 : ") + FormatSignedTenths(reg(13), QStringLiteral("C"));
    t[QStringLiteral("edtFwCnt")] = dec(reg(14));
    t[QStringLiteral("Label_M_Alarm")] = QStringLiteral("모듈알람 : ") + QString::number(reg(21), 16).toUpper().rightJustified(2, u'0');

    const int setV = reg(61);
    s.SetVoltageText = setV <= 1000 ? FormatTenthsUnit(setV, u'V') : FormatHundredthsUnit(setV, u'V');
    t[QStringLiteral("Label_SetV")] = QStringLiteral("설정전압 : ") + s.SetVoltageText;
}

// The dry contacts: two of them are not there on models 3 and 4 with TTL alarm output. Their
// alarm masks are kept for the contact-alarm window.
void decodeDryContacts(ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    const int model = s.ModelCode();
    v.contactCount = ((model == 3 || model == 4) && reg(42) == 1) ? 4 : 6;
    for (int k = 5; k <= 6; ++k) {
        const bool shown = v.contactCount == 6;
        v.visible[k == 5 ? QStringLiteral("Lable_Contact5") : QStringLiteral("Lable_Contact6")] = shown;
        v.visible[pairNames("ImDry", k).normal] = shown;
        v.visible[pairNames("ImDry", k).alarm] = shown;
    }
    for (int k = 1; k <= v.contactCount; ++k)
        setIndicatorPair(v, "ImDry", reg(41), k, 1 << (k - 1));
    for (int i = 0; i < 12; ++i)
        s.ContactAlarmMasks[size_t(i)] = reg(80 + i);
}

// The model (the window caption) and the firmware (the status bar's first panel).
void decodeModelAndFirmware(ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    switch (s.ModelCode()) {
    case 1:
        s.ModelText = QStringLiteral("  ");
        break;
    case 2:
        s.ModelText = QStringLiteral(" QELN-2K");
        break;
    case 3:
        s.ModelText = QStringLiteral(" QELN-2KN");
        break;
    case 4:
        s.ModelText = QStringLiteral(" QELN-2KN(A)");
        break;
    default:
        break; // an unknown code keeps the model of the last known one
    }
    v.texts[QStringLiteral("Main_Form")] = s.ModelText;
    const QString firmware = QStringLiteral("  F/W V") + dec(hi(reg(27))) + QLatin1Char('.') + dec(lo(reg(27)))
        + QLatin1Char('.') + dec(hi(reg(28))) + QLatin1Char('.') + dec(lo(reg(28))) + QStringLiteral("  (")
        + hex(reg(29), 4) + QLatin1Char('/') + hex(hi(reg(30)), 2) + QLatin1Char('/') + hex(lo(reg(30)), 2)
        + QLatin1Char(')');
    s.StatusFirmwareText = s.ModelText + firmware;
    v.texts[QStringLiteral("ComSetting.0")] = s.StatusFirmwareText;
    v.texts[QStringLiteral("edtFW")] = s.StatusFirmwareText;
}

// What is shown by the plant's configuration and flags: the battery in use and its
// temperature sensor, the alarm-test reminder, the charge-limit flag (the TX and RX captions
// turn yellow), the battery test and the task-fail count.
void decodeFlags(const ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    v.visible[QStringLiteral("Label_BT")] = reg(67) != 0;
    if (reg(66) != 0) {
        v.visible[QStringLiteral("Lable_BCA")] = true;
        v.visible[QStringLiteral("FlatGroupBox1")] = true;
    } else {
        v.visible[QStringLiteral("Lable_BCA")] = false;
        v.visible[QStringLiteral("Image_BattDCh")] = false;
        v.visible[QStringLiteral("Image_BattCh")] = false;
        v.visible[QStringLiteral("FlatGroupBox1")] = false;
    }

    // The reminder blinks while the alarm test is in use.
    v.alarmTestReminder = reg(71) == 1;
    if (!v.alarmTestReminder)
        v.visible[QStringLiteral("Lab_Alarm_Test")] = false;

    const quint32 lampCaption = reg(93) != 0 ? Yellow : White;
    v.colours[QStringLiteral("pnl_TX")] = lampCaption;
    v.colours[QStringLiteral("pnl_RX")] = lampCaption;
    v.texts[QStringLiteral("lbCHLimitFG")] = QStringLiteral("CHLimit FG : ") + dec(reg(93));

    v.visible[QStringLiteral("Lable_BTest")] = reg(94) != 0;
    v.texts[QStringLiteral("lbTaskFail")] = QStringLiteral("Task Fail Count : ") + dec(reg(31));
}

// The battery management panel: firmware, pack values, alarm and protection indicators, the
// FET and link states and the cell voltages.
void decodeBatteryManagement(const ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    auto &t = v.texts;
    t[QStringLiteral("Lable_BFW")] = batteryFirmwareText(s.ModelCode(), reg(96));
    t[QStringLiteral("Lable_BPackV")] = QStringLiteral("팩 : ") + FormatHundredthsUnit(reg(97), u'V');
    t[QStringLiteral("Lable_BV")] = QStringLiteral("전압 : ") + FormatHundredthsUnit(reg(98), u'V');
    t[QStringLiteral("Lable_BC")] = QStringLiteral("전류 : ") + FormatSignedTenths(reg(99), QStringLiteral("A"));
    t[QStringLiteral("Lable_BSoc")] = QStringLiteral("잔량 : ") + dec(reg(100)) + QStringLiteral(" %");
    t[QStringLiteral("Lable_BTp")] = QStringLiteral("온도 : ") + FormatSignedTenths(reg(101), QStringLiteral("C"));
    t[QStringLiteral("Lable_LVD")] = QStringLiteral("종지 전압 : ") + FormatTenthsUnit(reg(102), u'V');
    t[QStringLiteral("Label_CHLimit")] = QStringLiteral("전류 제한 : ") + FormatTenthsUnit(reg(103), u'A');
    t[QStringLiteral("Lable_BCVMax")] = QStringLiteral("셀 최고전압 : ") + FormatHundredthsUnit(reg(104), u'V');
    t[QStringLiteral("Lable_BCVMin")] = QStringLiteral("셀 최저전압 : ") + FormatHundredthsUnit(reg(105), u'V');

    for (int k = 1; k <= 8; ++k)
        setIndicatorPair(v, "ImBatt", reg(107), k, 1 << (k - 1));
    for (int k = 1; k <= 15; ++k)
        setIndicatorPair(v, "ImCell", reg(108), k, 1 << (k - 1));
    for (int k = 1; k <= 8; ++k)
        setIndicatorPair(v, "ImBattP", reg(106), k, 1 << (k - 1));

    // Battery communication lost: the BMS alarm alone, and no battery voltage.
    const int alarm2 = reg(16);
    v.visible[QStringLiteral("LabelBattCommFail")] = (alarm2 & 0x0080) && !(alarm2 & 0xFF00) && reg(98) == 0;

    const int bits = reg(109);
    t[QStringLiteral("Lable_BChFET")] = (bits & 0x04) ? QStringLiteral("충전 FET : On") : QStringLiteral("충전 FET : OFF");
    t[QStringLiteral("Lable_BDChFET")] = (bits & 0x08) ? QStringLiteral("방전 FET : On") : QStringLiteral("방전 FET : OFF");
    t[QStringLiteral("Lable_BReady")] = ((bits & 0x01) || reg(98) == 0) ? QStringLiteral("축전지-NFB : OFF")
                                                                        : QStringLiteral("축전지-NFB : On");
    t[QStringLiteral("Lable_BLink")] = (bits & 0x02) ? QStringLiteral("Link 상태 : On") : QStringLiteral("Link 상태 : OFF");

    static const auto cellNames = [] {
        QList<QPair<QString, QString>> names; // control, caption
        for (int n = 1; n <= 15; ++n)
            names.append({QStringLiteral("Lable_BCV") + dec(n), QStringLiteral("셀전압") + dec(n) + QStringLiteral(" : ")});
        return names;
    }();
    for (int n = 1; n <= 15; ++n)
        t[cellNames[n - 1].first] = cellNames[n - 1].second + FormatHundredthsUnit(reg(109 + n), u'V');
    t[QStringLiteral("Lable_BFWDate")] = QStringLiteral("축전지 FW 변경일") + dec(reg(126));
}

// The CAN processor, which exists on model 4 only.
void decodeCanProcessor(const ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    if (s.ModelCode() != 4) {
        v.visible[QStringLiteral("LabCanFailCnt")] = false;
        v.visible[QStringLiteral("LabCanCpuCom")] = false;
        v.visible[QStringLiteral("lbCanCpuVer")] = false;
        return;
    }
    v.visible[QStringLiteral("LabCanFailCnt")] = true;
    v.visible[QStringLiteral("LabCanCpuCom")] = true;
    v.texts[QStringLiteral("LabCanFailCnt")] = QStringLiteral("Can Fail Cnt : ") + dec(reg(128));
    v.texts[QStringLiteral("lbCanCpuVer")] = QStringLiteral("CAN CPU VER : ( V ") + FormatTenthsUnit(hi(reg(129)), u' ')
        + QStringLiteral(") ") + dec(lo(reg(129))) + QLatin1Char('-') + dec(hi(reg(130))) + QLatin1Char('-')
        + dec(lo(reg(130)));
    const bool comOk = reg(131) == 0;
    v.texts[QStringLiteral("LabCanCpuCom")] = comOk ? QStringLiteral("CPU Com(Normal)") : QStringLiteral("CPU Com(Fail)");
    v.colours[QStringLiteral("LabCanCpuCom")] = comOk ? Black : Red;
}

// The Ethernet speed (as set and as running) and the versions of the two DSPs.
void decodeNetworkAndDsp(const ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    auto &t = v.texts;
    t[QStringLiteral("edtSpeed")] = dec(reg(44));
    t[QStringLiteral("edtSpeedSetup")] = ethernetSpeedText(reg(43));
    t[QStringLiteral("lbDspVer1")] = QStringLiteral("DSP#1 VER : ( V 0.") + dec(hi(reg(22))) + QStringLiteral(" ) ")
        + dec(lo(reg(22))) + QLatin1Char('-') + dec(hi(reg(23))) + QLatin1Char('-') + dec(lo(reg(23)));
    t[QStringLiteral("lbDspVer2")] = QStringLiteral("DSP#2 VER : ( V 0.") + dec(hi(reg(24))) + QStringLiteral(" ) ")
        + dec(lo(reg(24))) + QLatin1Char('-') + dec(hi(reg(25))) + QLatin1Char('-') + dec(lo(reg(25)));
}

// The two alarm words: their text (a change of it makes the data log write an "[al]" line)
// and the names of the active alarms.
void decodeAlarmWords(ConsoleState &s, StatusView &v)
{
    const Registers reg{s};
    const int alarm1 = reg(15);
    const int alarm2 = reg(16);
    s.AlarmWordsText = hex(alarm1, 4) + QLatin1Char(' ') + hex(alarm2, 4);
    if (s.AlarmWordsText != s.LastAlarmWordsText) {
        s.LastAlarmWordsText = s.AlarmWordsText;
        v.alarmWordsChanged = true;
    }
    v.activeAlarms = activeAlarmNames(s, alarm1, alarm2);
}

} // namespace

StatusView decodeStatusView(ConsoleState &s)
{
    StatusView v;
    // The status bar and the monitoring area come alive with every decode.
    v.visible[QStringLiteral("ComSetting")] = true;
    v.visible[QStringLiteral("GroupBox1")] = true;

    decodeClock(s, v);
    decodeMeasurements(s, v);
    decodeDryContacts(s, v);
    decodeModelAndFirmware(s, v);
    decodeFlags(s, v);
    decodeBatteryManagement(s, v);
    decodeCanProcessor(s, v);
    decodeNetworkAndDsp(s, v);
    v.visible[QStringLiteral("mFactoryInitial")] = false;
    decodeAlarmWords(s, v);
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
