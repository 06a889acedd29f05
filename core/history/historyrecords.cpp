#include "historyrecords.h"

#include "monitor/alarmmodel.h"

#include "link/hextext.h"
#include "monitor/formatters.h"

#include <array>
#include <cstdint>

namespace qeln::history {

namespace {

// Record and count layouts: data bytes after the function code (a TCP record has one more
// byte in front, which is not part of it).
constexpr qsizetype CountBytes = 4;
constexpr qsizetype AlarmRecordBytes = 34;
constexpr qsizetype EventRecordBytes = 10;

// The data bytes of an answer's payload, or nothing when its size is not exactly that of
// `dataBytes` data after `tcpSkip` bytes (on TCP).
std::optional<QByteArray> payload(const QByteArray &answer, bool tcp, qsizetype dataBytes, qsizetype tcpSkip)
{
    const qsizetype skip = tcp ? tcpSkip : 0;
    if (answer.size() != skip + dataBytes)
        return std::nullopt;
    return answer.mid(skip);
}

// Sequential reader of bytes and big-endian words; the payload's size is checked before use.
class FieldReader {
public:
    explicit FieldReader(const QByteArray &bytes) : bytes_(bytes) {}
    int byte() { return std::uint8_t(bytes_[at_++]); }
    int word()
    {
        const int high = byte();
        return high * 256 + byte();
    }
    void skip(qsizetype n) { at_ += n; }

private:
    const QByteArray &bytes_;
    qsizetype at_ = 0;
};

QString rightAligned3(int value)
{
    return QString::number(value).rightJustified(3, u' ');
}

// "20" + YY + "-" + MM + "-" + DD and hh:mm:ss, each part at least two digits.
QString dateText(int year, int month, int day)
{
    return QStringLiteral("20") + ZeroPad(year, 2) + QLatin1Char('-') + ZeroPad(month, 2)
        + QLatin1Char('-') + ZeroPad(day, 2);
}

QString timeText(int hour, int minute, int second)
{
    return ZeroPad(hour, 2) + QLatin1Char(':') + ZeroPad(minute, 2) + QLatin1Char(':')
        + ZeroPad(second, 2);
}

QString choice(int value, std::initializer_list<const char16_t *> texts)
{
    if (value < 0 || value >= int(texts.size()))
        return QString();
    return QString::fromUtf16(texts.begin()[value]);
}

} // namespace

// ---- Formatters

QString FormatTenthsBlankZero(int value)
{
    if (value >= 1 && value <= 9999)
        return FormatTenths(value);
    return rightAligned3(value);
}

QString FormatTenthsTwoDigit(int value)
{
    const QString d = QString::number(value);
    if (value >= 1 && value <= 9)
        return QStringLiteral("00.") + d;
    if (value >= 10 && value <= 99)
        return QLatin1Char('0') + d.left(1) + QLatin1Char('.') + d.right(1);
    if (value >= 100 && value <= 999)
        return d.left(2) + QLatin1Char('.') + d.right(1);
    return rightAligned3(value);
}

QString FormatHundredths(int value)
{
    const QString d = QString::number(value);
    if (value == 0)
        return QStringLiteral("0.00");
    if (value >= 1 && value <= 9)
        return QStringLiteral("0.0") + d;
    if (value >= 10 && value <= 99)
        return QStringLiteral("0.") + d;
    if (value >= 100 && value <= 9999)
        return d.left(d.size() - 2) + QLatin1Char('.') + d.right(2);
    return d;
}

// ---- Text tables

QString alarmCodeText(int code)
{
    // The alarms are named as on the status page; the controller's two reset records have no
    // alarm bit.
    switch (code) {
    case 25: return QStringLiteral("Reset");
    case 26: return QStringLiteral("Remote Reset");
    default: return alarmNameOfHistoryCode(code);
    }
}

QString batteryDetailText(int alarmCode, int occurrence, int detail)
{
    if (alarmCode != 24 || occurrence != 1)
        return QStringLiteral(" ");
    static const std::array<const char16_t *, 8> bits = {
        u"충전과전압(Battery OverCharge)/ ",
        u"충전과전류(Battery Charge OverCurrent)/ ",
        u"방전저전압(Battery Discharge)/ ",
        u"방전과전류(Battery Discharge OverCurrent)/ ",
        u"고온(Battery Temperature High)/ ",
        u"저온(Battery Temperature Low)/ ",
        u"셀편차(Battery Quality Low)/ ",
        u"축전지NFB(Battery Disconnect)/",
    };
    detail &= 0xFF;
    if (detail == 0)
        return QStringLiteral("통신이상 ");
    QString text;
    for (int bit = 0; bit < 8; ++bit) {
        if (detail & (1 << bit))
            text += QString::fromUtf16(bits[std::size_t(bit)]);
    }
    return text;
}

QString eventName(int code)
{
    // Codes 0..60; 27, 28 and 49 have no name.
    static const std::array<const char *, 61> names = {
        "Reset", "Date/Time Set", "AD_ACV", "AD_ACA", "AD_DC", "AD_LC", "AD_BCP", "AD_BCN",
        "AD_LC", "AC_Low_Voltage", "AC_High_Voltage", "DC_Low_Voltage", "DC_High_Voltage",
        "BTT_Low_Voltage", "DC_High_Current", "Over Temperature", "FL_VOLT", "CH_LIMIT",
        "Charge Mode", "OVP_FG", "BATT_USE", "BATT_TEMP_USE", "FE_DebugMode", "ALM_SEL",
        "TestAlarm_Mode", "TestAlarm_Data_Set1", "TestAlarm_Data_Set2", "", "", "TEST_Period",
        "TEST_Start_Month", "TEST_Start_Day", "TEST_Start_Hour", "BATT_TEST_VOLT", "TEST_TIME",
        "Batt Manual Test", "Batt Auto Test", "HW ALARM1_H", "HW ALARM1_L", "HW ALARM2_H",
        "HW ALARM2_L", "HW ALARM3_H", "HW ALARM3_L", "HW ALARM4_H", "HW ALARM4_L",
        "HW ALARM5_H", "HW ALARM5_L", "HW ALARM6_H", "HW ALARM6_L", "", "ENV_Setting",
        "Remote Reset", "Remote Test Volt", "Remote Test Time", "Remote IP_H Set",
        "Remote IP_L Set", "Remote MNG_ID Set", "Li-Batt Charge Limit", "DC OVP Setting",
        "Li-Batt LVD Setting", "IP PreFix Setting",
    };
    if (code >= 0 && code < int(names.size()))
        return QLatin1String(names[std::size_t(code)]);
    if (code == 70)
        return QStringLiteral("Task Fail Count");
    return QString();
}

QString eventValueText(int code, int value)
{
    const QString decimal = QString::number(value);
    switch (code) {
    case 2:
        return FormatTenthsBlankZero(value) + QStringLiteral(" V");
    case 3:
        return FormatHundredths(value) + QStringLiteral(" A");
    case 4:
        return FormatHundredths(value) + QStringLiteral(" V");
    case 5: case 6: case 7:
        return FormatTenths(value) + QStringLiteral(" A");
    case 11: case 12: case 13: case 16: case 33:
        return FormatTenths(value) + QStringLiteral(" V");
    case 9: case 10:
        return decimal + QStringLiteral(" V");
    case 14:
        return decimal + QStringLiteral(" %");
    case 15: {
        // A 16-bit two's-complement temperature in tenths.
        const int v = value & 0xFFFF;
        if (v & 0x8000)
            return QLatin1Char('-') + FormatTenths(((v ^ 0xFFFF) & 0xFFFF) + 1) + QStringLiteral(" 'C");
        return QLatin1Char('+') + FormatTenths(v) + QStringLiteral(" 'C");
    }
    case 17:
        if (value == 0)
            return QStringLiteral(" OFF");
        return FormatTenths(value) + QStringLiteral(" A");
    case 18:
        return choice(value - 1, {u"Manual_FL", u"Temp_mode", u"Test_mode"});
    case 19:
        return choice(value, {u" Release ", u" Occur "});
    case 20: case 21: case 22: case 24:
        return choice(value, {u" Unused ", u" Used "});
    case 23:
        return choice(value, {u" Normal Open ", u" Normal Close "});
    case 29: case 30:
        if (value == 0)
            return QStringLiteral(" Off ");
        return decimal + QStringLiteral(" Month ");
    case 31:
        return decimal + QStringLiteral(" Day ");
    case 32:
        return decimal + QStringLiteral(" Hour ");
    case 34: case 53:
        return decimal + QStringLiteral(" Min ");
    case 25: case 26:
    case 37: case 38: case 39: case 40: case 41: case 42:
    case 43: case 44: case 45: case 46: case 47: case 48:
        return QString::fromLatin1(IntToHexFixed(value, 4));
    case 54: case 55: case 60:
        return QString::number(value / 256) + QLatin1Char('.') + QString::number(value % 256);
    case 70:
        if (value == 255)
            return QStringLiteral("Reset");
        return decimal;
    default:
        return decimal;
    }
}

// ---- Grid layout

QStringList alarmHeaders()
{
    const QString dash = QStringLiteral("-");
    return {QStringLiteral("순서"), QStringLiteral("날짜"), QStringLiteral("시간"),
            QStringLiteral("AC전압"), QStringLiteral("AC전류"), QStringLiteral("DC전압"),
            QStringLiteral("DC전류"), QStringLiteral("Batt전류"), QStringLiteral("Rack온도"),
            dash, dash, dash, dash, dash,
            QStringLiteral("경보"), QStringLiteral("배터리상세경보")};
}

QStringList eventHeaders()
{
    return {QStringLiteral("순서"), QStringLiteral("날짜"), QStringLiteral("시간"),
            QStringLiteral("이벤트 내용"), QStringLiteral("value"), QString()};
}

QList<int> alarmColumnWidths()
{
    return {27, 90, 77, 74, 57, 58, 58, 64, 64, 64, 36, 34, 32, 31, 210, 398};
}

QList<int> eventColumnWidths()
{
    return {27, 73, 61, 265, 97, 59};
}

// ---- Records

// The six bytes of date and time that both records begin with.
template <typename Record>
void readStamp(FieldReader &f, Record &r)
{
    r.year = f.byte();
    r.month = f.byte();
    r.day = f.byte();
    r.hour = f.byte();
    r.minute = f.byte();
    r.second = f.byte();
}

std::optional<AlarmRecord> decodeAlarmRecord(const QByteArray &response, bool tcp)
{
    const auto bytes = payload(response, tcp, AlarmRecordBytes, 1);
    if (!bytes)
        return std::nullopt;
    FieldReader f(*bytes);
    AlarmRecord r;
    readStamp(f, r);
    r.acVoltage = f.word();
    r.acCurrent = f.word();
    r.dcVoltage = f.word();
    r.dcCurrent = f.word();
    r.batteryCurrent = f.word();
    r.rackTemperature = f.word();
    f.skip(5 * 2 + 3); // five words and three bytes the grid does not show
    r.detail = f.byte();
    r.code = f.byte();
    r.occurrence = f.byte();
    return r;
}

std::optional<EventRecord> decodeEventRecord(const QByteArray &response, bool tcp)
{
    const auto bytes = payload(response, tcp, EventRecordBytes, 1);
    if (!bytes)
        return std::nullopt;
    FieldReader f(*bytes);
    EventRecord r;
    readStamp(f, r);
    r.code = f.word();
    r.value = f.word();
    return r;
}

std::optional<int> decodeCount(const QByteArray &response, bool tcp)
{
    const auto bytes = payload(response, tcp, CountBytes, 0);
    if (!bytes)
        return std::nullopt;
    FieldReader f(*bytes);
    return f.word();
}

QStringList alarmRow(int index, const AlarmRecord &r)
{
    QStringList cells;
    cells.reserve(16);
    cells << ZeroPad(index, 3) << dateText(r.year, r.month, r.day)
          << timeText(r.hour, r.minute, r.second)
          << FormatTenthsBlankZero(r.acVoltage) + QStringLiteral(" V")
          << FormatTenthsTwoDigit(r.acCurrent) + QStringLiteral(" A")
          << FormatTenthsTwoDigit(r.dcVoltage) + QStringLiteral(" V")
          << FormatTenthsTwoDigit(r.dcCurrent) + QStringLiteral(" A")
          << FormatSignedTenths(r.batteryCurrent, QStringLiteral("A"))
          << FormatSignedTenths(r.rackTemperature, QStringLiteral("C"));
    for (int i = 9; i <= 13; ++i)
        cells << QStringLiteral("-");
    QString name = alarmCodeText(r.code);
    if (r.occurrence == 0)
        name += QStringLiteral("- 해제");
    cells << name << batteryDetailText(r.code, r.occurrence, r.detail);
    return cells;
}

QStringList eventRow(int index, const EventRecord &r)
{
    return {ZeroPad(index, 3), dateText(r.year, r.month, r.day),
            timeText(r.hour, r.minute, r.second), eventName(r.code),
            eventValueText(r.code, r.value)};
}

QString completionText(int count)
{
    return QString::number(count) + QStringLiteral(" History data") + QLatin1Char('\r')
        + QStringLiteral("are Saved!!");
}

} // namespace qeln::history
