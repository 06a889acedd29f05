// The history record decoders, the grid-cell formatters and the text tables of both logs.

#include "testframes.h"

#include "history/historyrecords.h"
#include "link/answer.h"

#include <QTest>

#include <functional>
#include <optional>

using namespace qeln::history;

namespace {

// One record's data bytes, laid out as the controller sends them.
struct AlarmFields {
    int year = 24, month = 3, day = 7, hour = 9, minute = 5, second = 0;
    int acV = 2205, acA = 123, dcV = 540, dcA = 1234, battA = 0xFF38, rackT = 0;
    int detail = 0x09, code = 24, occurrence = 1;
};

void putWord(QByteArray &b, int w)
{
    b.append(char((w >> 8) & 0xFF)).append(char(w & 0xFF));
}

QByteArray alarmBytes(const AlarmFields &f)
{
    QByteArray b;
    for (int v : {f.year, f.month, f.day, f.hour, f.minute, f.second})
        b.append(char(v));
    for (int w : {f.acV, f.acA, f.dcV, f.dcA, f.battA, f.rackT})
        putWord(b, w);
    // Five words and three bytes that are not shown; filled so that a decoder reading the
    // wrong offset would notice.
    for (int w : {0x1111, 0x2222, 0x3333, 0x4444, 0x5555})
        putWord(b, w);
    b.append(char(0x66)).append(char(0x77)).append(char(0x88));
    b.append(char(f.detail)).append(char(f.code)).append(char(f.occurrence));
    return b;
}

QByteArray eventBytes(int code, int value)
{
    QByteArray b;
    for (int v : {24, 12, 31, 23, 59, 58})
        b.append(char(v));
    putWord(b, code);
    putWord(b, value);
    return b;
}

// A serial answer from ":" to the LRC; TCP: the bytes after the function code, a record with one
// leading byte the decoder skips.
QByteArray serialText(const QByteArray &function, const QByteArray &data)
{
    const QByteArray body = "01" + function + data.toHex().toUpper();
    return ":" + body + testframes::lrcDigits(body);
}

// What the engine hands the decoders: the payload of an answer. A serial frame the frame
// parser refuses reaches no decoder (nothing).
std::optional<QByteArray> handedOver(const QByteArray &response, bool tcp)
{
    if (tcp)
        return response;
    const qeln::ParsedAnswer parsed = qeln::parseAsciiFrame(response);
    if (const auto *answer = std::get_if<qeln::Answer>(&parsed))
        return answer->payload;
    return std::nullopt;
}

QByteArray tcpRecord(const QByteArray &data)
{
    return QByteArray(1, char(0x01)) + data;
}

QString bit(int n)
{
    static const QStringList texts = {
        QStringLiteral("충전과전압(Battery OverCharge)/ "),
        QStringLiteral("충전과전류(Battery Charge OverCurrent)/ "),
        QStringLiteral("방전저전압(Battery Discharge)/ "),
        QStringLiteral("방전과전류(Battery Discharge OverCurrent)/ "),
        QStringLiteral("고온(Battery Temperature High)/ "),
        QStringLiteral("저온(Battery Temperature Low)/ "),
        QStringLiteral("셀편차(Battery Quality Low)/ "),
        QStringLiteral("축전지NFB(Battery Disconnect)/"),
    };
    return texts[n];
}

} // namespace

class TestHistoryRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formatters_data();
    void formatters();
    void alarmCodeTexts_data();
    void alarmCodeTexts();
    void batteryDetail_data();
    void batteryDetail();
    void eventNames_data();
    void eventNames();
    void eventValues_data();
    void eventValues();
    void alarmRecord_data();
    void alarmRecord();
    void eventRecord_data();
    void eventRecord();
    void count_data();
    void count();
    void refusedAnswers_data();
    void refusedAnswers();
    void rowIndexAndGridLayout();
    void completion();
};

void TestHistoryRecords::formatters_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");
    const struct {
        const char *routine;
        int value;
        const char *expected;
    } rows[] = {
        {"BlankZero", 0, "  0"},      {"BlankZero", 1, "0.1"},      {"BlankZero", 9, "0.9"},
        {"BlankZero", 10, "1.0"},     {"BlankZero", 25, "2.5"},     {"BlankZero", 99, "9.9"},
        {"BlankZero", 100, "10.0"},   {"BlankZero", 999, "99.9"},   {"BlankZero", 1000, "100.0"},
        {"BlankZero", 2205, "220.5"}, {"BlankZero", 9999, "999.9"}, {"BlankZero", 10000, "10000"},
        {"BlankZero", 65535, "65535"}, {"BlankZero", -5, " -5"},    {"BlankZero", -123, "-123"},
        {"TwoDigit", 0, "  0"},       {"TwoDigit", 1, "00.1"},      {"TwoDigit", 9, "00.9"},
        {"TwoDigit", 10, "01.0"},     {"TwoDigit", 25, "02.5"},     {"TwoDigit", 99, "09.9"},
        {"TwoDigit", 100, "10.0"},    {"TwoDigit", 540, "54.0"},    {"TwoDigit", 999, "99.9"},
        {"TwoDigit", 1000, "1000"},   {"TwoDigit", 1234, "1234"},   {"TwoDigit", 9999, "9999"},
        {"TwoDigit", 10000, "10000"}, {"TwoDigit", -1, " -1"},      {"TwoDigit", -250, "-250"},
        {"Hundredths", 0, "0.00"},    {"Hundredths", 5, "0.05"},    {"Hundredths", 9, "0.09"},
        {"Hundredths", 10, "0.10"},   {"Hundredths", 99, "0.99"},   {"Hundredths", 100, "1.00"},
        {"Hundredths", 345, "3.45"},  {"Hundredths", 999, "9.99"},  {"Hundredths", 1000, "10.00"},
        {"Hundredths", 9999, "99.99"}, {"Hundredths", 10000, "10000"}, {"Hundredths", -7, "-7"},
    };
    for (const auto &r : rows)
        QTest::addRow("%s %d", r.routine, r.value)
            << QString::fromLatin1(r.routine) << r.value << QString::fromLatin1(r.expected);
}

void TestHistoryRecords::formatters()
{
    QFETCH(QString, routine);
    QFETCH(int, value);
    QFETCH(QString, expected);
    const QHash<QString, std::function<QString(int)>> routines = {
        {QStringLiteral("BlankZero"), FormatTenthsBlankZero},
        {QStringLiteral("TwoDigit"), FormatTenthsTwoDigit},
        {QStringLiteral("Hundredths"), FormatHundredths},
    };
    QCOMPARE(routines.value(routine)(value), expected);
}

void TestHistoryRecords::alarmCodeTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QList<QPair<int, const char *>> rows = {
        {1, "AC Input Fail"},       {2, "Output Voltage High"}, {3, "Output Voltage Low"},
        {6, "DC Over Current"},     {7, "Battery Disconnect"},  {9, "Module Fail"},
        {18, "Battery Discharge"},  {20, "Temperature High"},   {22, "Battery Quality Low"},
        {23, "Battery Cell Fail"},  {24, "Battery BMS Alarm"},  {25, "Reset"},
        {26, "Remote Reset"},
        {0, ""}, {4, ""}, {5, ""}, {8, ""}, {10, ""}, {19, ""}, {21, ""}, {27, ""}, {255, ""},
    };
    for (const auto &[code, text] : rows)
        QTest::addRow("code %d", code) << code << QString::fromLatin1(text);
}

void TestHistoryRecords::alarmCodeTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(alarmCodeText(code), text);
}

void TestHistoryRecords::batteryDetail_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("detail");
    QTest::addColumn<QString>("text");
    QString all;
    for (int n = 0; n < 8; ++n)
        all += bit(n);
    QTest::newRow("bits 0 and 3") << 24 << 1 << 0x09 << bit(0) + bit(3);
    QTest::newRow("bit 7 alone") << 24 << 1 << 0x80 << bit(7);
    QTest::newRow("every bit, from bit 0 up") << 24 << 1 << 0xFF << all;
    QTest::newRow("no bit: communication") << 24 << 1 << 0 << QStringLiteral("통신이상 ");
    QTest::newRow("released") << 24 << 0 << 0x09 << QStringLiteral(" ");
    QTest::newRow("occurrence 2") << 24 << 2 << 0x09 << QStringLiteral(" ");
    QTest::newRow("other alarm") << 23 << 1 << 0x09 << QStringLiteral(" ");
    QTest::newRow("other alarm, no bit") << 1 << 1 << 0 << QStringLiteral(" ");
}

void TestHistoryRecords::batteryDetail()
{
    QFETCH(int, code);
    QFETCH(int, occurrence);
    QFETCH(int, detail);
    QFETCH(QString, text);
    QCOMPARE(batteryDetailText(code, occurrence, detail), text);
}

void TestHistoryRecords::eventNames_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    const QList<QPair<int, const char *>> rows = {
        {0, "Reset"}, {1, "Date/Time Set"}, {2, "AD_ACV"}, {3, "AD_ACA"}, {4, "AD_DC"},
        {5, "AD_LC"}, {6, "AD_BCP"}, {7, "AD_BCN"}, {8, "AD_LC"}, {9, "AC_Low_Voltage"},
        {10, "AC_High_Voltage"}, {11, "DC_Low_Voltage"}, {12, "DC_High_Voltage"},
        {13, "BTT_Low_Voltage"}, {14, "DC_High_Current"}, {15, "Over Temperature"},
        {16, "FL_VOLT"}, {17, "CH_LIMIT"}, {18, "Charge Mode"}, {19, "OVP_FG"},
        {20, "BATT_USE"}, {21, "BATT_TEMP_USE"}, {22, "FE_DebugMode"}, {23, "ALM_SEL"},
        {24, "TestAlarm_Mode"}, {25, "TestAlarm_Data_Set1"}, {26, "TestAlarm_Data_Set2"},
        {27, ""}, {28, ""}, {29, "TEST_Period"}, {30, "TEST_Start_Month"},
        {31, "TEST_Start_Day"}, {32, "TEST_Start_Hour"}, {33, "BATT_TEST_VOLT"},
        {34, "TEST_TIME"}, {35, "Batt Manual Test"}, {36, "Batt Auto Test"},
        {37, "HW ALARM1_H"}, {38, "HW ALARM1_L"}, {39, "HW ALARM2_H"}, {40, "HW ALARM2_L"},
        {41, "HW ALARM3_H"}, {42, "HW ALARM3_L"}, {43, "HW ALARM4_H"}, {44, "HW ALARM4_L"},
        {45, "HW ALARM5_H"}, {46, "HW ALARM5_L"}, {47, "HW ALARM6_H"}, {48, "HW ALARM6_L"},
        {49, ""}, {50, "ENV_Setting"}, {51, "Remote Reset"}, {52, "Remote Test Volt"},
        {53, "Remote Test Time"}, {54, "Remote IP_H Set"}, {55, "Remote IP_L Set"},
        {56, "Remote MNG_ID Set"}, {57, "Li-Batt Charge Limit"}, {58, "DC OVP Setting"},
        {59, "Li-Batt LVD Setting"}, {60, "IP PreFix Setting"}, {61, ""}, {69, ""},
        {70, "Task Fail Count"}, {71, ""}, {100, ""}, {0xFFFF, ""}, {-1, ""},
    };
    for (const auto &[code, name] : rows)
        QTest::addRow("code %d", code) << code << QString::fromLatin1(name);
}

void TestHistoryRecords::eventNames()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(eventName(code), name);
}

void TestHistoryRecords::eventValues_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    const struct {
        int code;
        int value;
        const char *text;
    } rows[] = {
        {2, 2205, "220.5 V"}, {2, 0, "  0 V"},
        {3, 5, "0.05 A"}, {3, 1234, "12.34 A"}, {3, 0, "0.00 A"},
        {4, 5400, "54.00 V"},
        {5, 125, "12.5 A"}, {6, 0, "0.0 A"}, {7, 7, "0.7 A"},
        {11, 480, "48.0 V"}, {12, 575, "57.5 V"}, {13, 420, "42.0 V"}, {16, 540, "54.0 V"},
        {33, 10000, "10000 V"},
        {9, 180, "180 V"}, {10, 264, "264 V"},
        {14, 110, "110 %"},
        {15, 0xFFF6, "-1.0 'C"}, {15, 0x8000, "-32768 'C"}, {15, 255, "+25.5 'C"},
        {15, 0, "+0.0 'C"},
        {17, 0, " OFF"}, {17, 50, "5.0 A"},
        {18, 1, "Manual_FL"}, {18, 2, "Temp_mode"}, {18, 3, "Test_mode"}, {18, 0, ""},
        {18, 4, ""},
        {19, 0, " Release "}, {19, 1, " Occur "}, {19, 2, ""},
        {20, 0, " Unused "}, {21, 1, " Used "}, {22, 1, " Used "}, {24, 0, " Unused "},
        {24, 2, ""},
        {23, 0, " Normal Open "}, {23, 1, " Normal Close "}, {23, 2, ""},
        {29, 0, " Off "}, {29, 6, "6 Month "}, {30, 0, " Off "}, {30, 12, "12 Month "},
        {31, 15, "15 Day "}, {32, 3, "3 Hour "}, {34, 90, "90 Min "}, {53, 5, "5 Min "},
        {25, 0x0A3F, "0A3F"}, {26, 0, "0000"}, {37, 0xFFFF, "FFFF"}, {42, 0x00B0, "00B0"},
        {48, 0x1234, "1234"},
        {54, 49320, "192.168"}, {55, 0x0A01, "10.1"}, {60, 24, "0.24"},
        {70, 255, "Reset"}, {70, 3, "3"},
        {0, 0, "0"}, {1, 7, "7"}, {8, 1234, "1234"}, {27, 5, "5"}, {35, 1, "1"},
        {49, 65535, "65535"}, {56, 17, "17"}, {100, 42, "42"},
    };
    for (const auto &r : rows)
        QTest::addRow("code %d value %d", r.code, r.value)
            << r.code << r.value << QString::fromLatin1(r.text);
}

void TestHistoryRecords::eventValues()
{
    QFETCH(int, code);
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(eventValueText(code, value), text);
}

void TestHistoryRecords::alarmRecord_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("cells");

    const QString dashes[] = {QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                              QStringLiteral("-"), QStringLiteral("-")};
    auto cells = [&](const QStringList &head, const QString &alarm, const QString &detail) {
        QStringList c = head;
        for (const QString &d : dashes)
            c << d;
        return c << alarm << detail;
    };

    for (bool tcp : {false, true}) {
        const char *link = tcp ? "tcp" : "serial";
        auto response = [tcp](const AlarmFields &f) {
            return tcp ? tcpRecord(alarmBytes(f)) : serialText("C1", alarmBytes(f));
        };

        AlarmFields bms;
        QTest::addRow("%s: battery alarm with details", link)
            << tcp << response(bms) << 1
            << cells({QStringLiteral("001"), QStringLiteral("2024-03-07"), QStringLiteral("09:05:00"),
                      QStringLiteral("220.5 V"), QStringLiteral("12.3 A"), QStringLiteral("54.0 V"),
                      QStringLiteral("1234 A"), QStringLiteral("-20.0  A"), QStringLiteral("+0.0  C")},
                     QStringLiteral("Battery BMS Alarm"), bit(0) + bit(3));

        AlarmFields released;
        released.year = 5, released.month = 12, released.day = 31;
        released.hour = 23, released.minute = 59, released.second = 59;
        released.acV = 25, released.acA = 0, released.dcV = 5, released.dcA = 99;
        released.battA = 250, released.rackT = 0xFFFF;
        released.code = 1, released.occurrence = 0, released.detail = 0xFF;
        QTest::addRow("%s: AC fail released", link)
            << tcp << response(released) << 12
            << cells({QStringLiteral("012"), QStringLiteral("2005-12-31"), QStringLiteral("23:59:59"),
                      QStringLiteral("2.5 V"), QStringLiteral("  0 A"), QStringLiteral("00.5 V"),
                      QStringLiteral("09.9 A"), QStringLiteral("+25.0  A"), QStringLiteral("-0.1  C")},
                     QStringLiteral("AC Input Fail- 해제"), QStringLiteral(" "));

        AlarmFields unnamed;
        unnamed.acV = 0, unnamed.acA = 10000, unnamed.dcV = 0, unnamed.dcA = 0;
        unnamed.battA = 0x8000, unnamed.rackT = 355;
        unnamed.code = 5, unnamed.occurrence = 0, unnamed.detail = 0;
        QTest::addRow("%s: unnamed code released", link)
            << tcp << response(unnamed) << 1000
            << cells({QStringLiteral("1000"), QStringLiteral("2024-03-07"), QStringLiteral("09:05:00"),
                      QStringLiteral("  0 V"), QStringLiteral("10000 A"), QStringLiteral("  0 V"),
                      QStringLiteral("  0 A"), QStringLiteral("-32768  A"), QStringLiteral("+35.5  C")},
                     QStringLiteral("- 해제"), QStringLiteral(" "));

        AlarmFields silentBms;
        silentBms.detail = 0;
        QStringList head = {QStringLiteral("002"), QStringLiteral("2024-03-07"), QStringLiteral("09:05:00"),
                            QStringLiteral("220.5 V"), QStringLiteral("12.3 A"), QStringLiteral("54.0 V"),
                            QStringLiteral("1234 A"), QStringLiteral("-20.0  A"), QStringLiteral("+0.0  C")};
        QTest::addRow("%s: battery alarm, no detail bit", link)
            << tcp << response(silentBms) << 2
            << cells(head, QStringLiteral("Battery BMS Alarm"), QStringLiteral("통신이상 "));
    }
}

void TestHistoryRecords::alarmRecord()
{
    QFETCH(bool, tcp);
    QFETCH(QByteArray, response);
    QFETCH(int, index);
    QFETCH(QStringList, cells);
    const auto payload = handedOver(response, tcp);
    QVERIFY(payload);
    const auto record = decodeAlarmRecord(*payload, tcp);
    QVERIFY(record);
    QCOMPARE(alarmRow(index, *record), cells);
}

void TestHistoryRecords::eventRecord_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QStringList>("cells");
    for (bool tcp : {false, true}) {
        const char *link = tcp ? "tcp" : "serial";
        auto response = [tcp](int code, int value) {
            return tcp ? tcpRecord(eventBytes(code, value)) : serialText("D1", eventBytes(code, value));
        };
        const QStringList head = {QStringLiteral("007"), QStringLiteral("2024-12-31"),
                                  QStringLiteral("23:59:58")};
        QTest::addRow("%s: temperature below zero", link)
            << tcp << response(15, 0xFFF6)
            << head + QStringList{QStringLiteral("Over Temperature"), QStringLiteral("-1.0 'C")};
        QTest::addRow("%s: controller address", link)
            << tcp << response(54, 49320)
            << head + QStringList{QStringLiteral("Remote IP_H Set"), QStringLiteral("192.168")};
        QTest::addRow("%s: unnamed code", link)
            << tcp << response(49, 0x0102)
            << head + QStringList{QString(), QStringLiteral("258")};
    }
}

void TestHistoryRecords::eventRecord()
{
    QFETCH(bool, tcp);
    QFETCH(QByteArray, response);
    QFETCH(QStringList, cells);
    const auto payload = handedOver(response, tcp);
    QVERIFY(payload);
    const auto record = decodeEventRecord(*payload, tcp);
    QVERIFY(record);
    QCOMPARE(eventRow(7, *record), cells);
}

void TestHistoryRecords::count_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("total");
    for (bool tcp : {false, true}) {
        const char *link = tcp ? "tcp" : "serial";
        for (int total : {0, 1, 250, 5000, 0xFFFF}) {
            QByteArray data;
            putWord(data, total);
            putWord(data, 0xA5C3); // the second value, not used
            QTest::addRow("%s: %d", link, total)
                << tcp << (tcp ? data : serialText("C0", data)) << total;
        }
    }
    QTest::newRow("serial: event log, literal") << false << QByteArray(":01D000FA000035") << 250;
}

void TestHistoryRecords::count()
{
    QFETCH(bool, tcp);
    QFETCH(QByteArray, response);
    QFETCH(int, total);
    const auto payload = handedOver(response, tcp);
    QVERIFY(payload);
    const auto decoded = decodeCount(*payload, tcp);
    QVERIFY(decoded);
    QCOMPARE(*decoded, total);
}

void TestHistoryRecords::refusedAnswers_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("response");

    const QByteArray alarm = alarmBytes(AlarmFields{});
    const QByteArray event = eventBytes(15, 0xFFF6);
    const QByteArray count = QByteArray::fromHex("00FA0000");
    const struct {
        const char *kind;
        QByteArray function;
        QByteArray data;
    } kinds[] = {{"alarm", "C1", alarm}, {"event", "D1", event}, {"count", "C0", count}};

    for (const auto &k : kinds) {
        const QString kind = QString::fromLatin1(k.kind);
        const QByteArray serial = serialText(k.function, k.data);
        QTest::addRow("%s serial: one digit short", k.kind) << kind << false << serial.chopped(1);
        QTest::addRow("%s serial: one digit long", k.kind) << kind << false << serial + "0";
        QTest::addRow("%s serial: one byte short", k.kind)
            << kind << false << serialText(k.function, k.data.chopped(1));
        QTest::addRow("%s serial: one byte long", k.kind)
            << kind << false << serialText(k.function, k.data + '\x01');
        QTest::addRow("%s serial: with CR LF", k.kind) << kind << false << serial + "\r\n";
        QByteArray notHex = serial;
        notHex[9] = 'G';
        QTest::addRow("%s serial: not hexadecimal", k.kind) << kind << false << notHex;
        QByteArray blank = serial;
        blank[serial.size() - 4] = ' ';
        QTest::addRow("%s serial: blank in the last group", k.kind) << kind << false << blank;
        QTest::addRow("%s serial: empty", k.kind) << kind << false << QByteArray();

        const QByteArray tcp = kind == QLatin1String("count") ? k.data : tcpRecord(k.data);
        QTest::addRow("%s tcp: one byte short", k.kind) << kind << true << tcp.chopped(1);
        QTest::addRow("%s tcp: one byte long", k.kind) << kind << true << tcp + '\0';
        QTest::addRow("%s tcp: empty", k.kind) << kind << true << QByteArray();
    }
    // The other log's record: sizes differ, so neither decoder takes the other's answer.
    QTest::newRow("event record as alarm, tcp") << QStringLiteral("alarm") << true << tcpRecord(event);
    QTest::newRow("alarm record as event, serial")
        << QStringLiteral("event") << false << serialText("C1", alarm);
}

void TestHistoryRecords::refusedAnswers()
{
    QFETCH(QString, kind);
    QFETCH(bool, tcp);
    QFETCH(QByteArray, response);
    // Refused by the frame parser, or by the decoder.
    const auto payload = handedOver(response, tcp);
    if (!payload)
        return;
    if (kind == QLatin1String("alarm"))
        QVERIFY(!decodeAlarmRecord(*payload, tcp));
    else if (kind == QLatin1String("event"))
        QVERIFY(!decodeEventRecord(*payload, tcp));
    else
        QVERIFY(!decodeCount(*payload, tcp));
}

void TestHistoryRecords::rowIndexAndGridLayout()
{
    // Every cell of a row has a column with a header and a width; the event grid has one
    // more, empty, column than its rows fill.
    const QStringList alarmCells = alarmRow(1, AlarmRecord{});
    QCOMPARE(alarmHeaders().size(), alarmCells.size());
    QCOMPARE(alarmColumnWidths().size(), alarmCells.size());
    QCOMPARE(alarmHeaders().at(14), QStringLiteral("경보"));
    QCOMPARE(alarmHeaders().at(15), QStringLiteral("배터리상세경보"));
    QCOMPARE(alarmColumnWidths().at(15), 398);

    const QStringList eventCells = eventRow(1, EventRecord{});
    QCOMPARE(eventHeaders().size(), eventCells.size() + 1);
    QCOMPARE(eventColumnWidths().size(), eventHeaders().size());
    QCOMPARE(eventHeaders().at(3), QStringLiteral("이벤트 내용"));
    QVERIFY(eventHeaders().last().isEmpty());

    QCOMPARE(eventCells.first(), QStringLiteral("001"));
    QCOMPARE(eventRow(99, EventRecord{}).first(), QStringLiteral("099"));
    QCOMPARE(eventRow(5000, EventRecord{}).first(), QStringLiteral("5000"));
    QCOMPARE(eventCells.at(1), QStringLiteral("2000-00-00"));
    QCOMPARE(eventCells.at(2), QStringLiteral("00:00:00"));
}

void TestHistoryRecords::completion()
{
    QCOMPARE(completionText(1), QStringLiteral("1 History data\rare Saved!!"));
    QCOMPARE(completionText(250), QStringLiteral("250 History data\rare Saved!!"));
}

QTEST_GUILESS_MAIN(TestHistoryRecords)
#include "tst_historyrecords.moc"
