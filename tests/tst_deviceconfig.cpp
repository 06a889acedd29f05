// Measurement calibration, the controller's clock and the factory initialisation: what each
// "설정" (or qeln-cli command) writes, in which order, and what it refuses.

#include "config/clocksetting.h"
#include "config/factoryinit.h"
#include "config/measurement.h"

#include <QDateTime>
#include <QTest>

#include <functional>

using namespace qeln;
using namespace qeln::config;
namespace ms = qeln::config::measurement;
namespace cs = qeln::config::clocksetting;
namespace fi = qeln::config::factoryinit;

using PlanMaker = std::function<WritePlan()>;
Q_DECLARE_METATYPE(PlanMaker)
Q_DECLARE_METATYPE(qeln::config::clocksetting::Fields)

namespace {

// "48=2200 50=54000": the writes in the plan's order.
QString writesText(const QList<RegisterWrite> &writes)
{
    QStringList parts;
    for (const RegisterWrite &w : writes)
        parts << QStringLiteral("%1=%2").arg(w.address).arg(w.value);
    return parts.join(QLatin1Char(' '));
}

QString u8(const char *s)
{
    return QString::fromUtf8(s);
}

// "111111" -> six ticks in table order.
QList<bool> ticks(const char *marks)
{
    QList<bool> out;
    for (const char *p = marks; *p; ++p)
        out << (*p == '1');
    return out;
}

// The six initial texts with some replaced: {row, text}.
QStringList fields(std::initializer_list<std::pair<int, const char *>> changes = {})
{
    QStringList texts;
    for (const ms::Item &item : ms::items())
        texts << item.initialText;
    for (const auto &[row, text] : changes)
        texts[row] = QString::fromUtf8(text);
    return texts;
}

// The fields after "영점": the four current fields at zero.
QStringList zeroed()
{
    QStringList texts = fields();
    for (int row = 0; row < ms::ItemCount; ++row) {
        if (ms::isZeroedByZeroButton(row))
            texts[row] = ms::zeroText(ms::items()[row]);
    }
    return texts;
}

cs::Fields clock(const char *year, const char *month, int day, const char *hour,
                 const char *minute, const char *second)
{
    return cs::Fields{u8(year), u8(month), day, u8(hour), u8(minute), u8(second)};
}

QList<std::pair<QString, QString>> assignments(const char *text)
{
    QList<std::pair<QString, QString>> out;
    const QStringList words = QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &w : words) {
        const int eq = w.indexOf(QLatin1Char('='));
        out.append({w.left(eq), w.mid(eq + 1)});
    }
    return out;
}

} // namespace

class TestDeviceConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void calibrationTable();
    void calibrationWrites_data();
    void calibrationWrites();
    void calibrationTypedValue_data();
    void calibrationTypedValue();
    void calibrationAssignments_data();
    void calibrationAssignments();

    void leapYears_data();
    void leapYears();
    void calendarSetters_data();
    void calendarSetters();
    void calendarFollowsFields_data();
    void calendarFollowsFields();
    void clockWrites_data();
    void clockWrites();
    void clockFromDateTime();

    void factory_data();
    void factory();

    void nothingSent_data();
    void nothingSent();
};

void TestDeviceConfig::calibrationTable()
{
    // What a script relies on: stable keys in table order, one register each, and the AC rows
    // only on models 3 and 4.
    QCOMPARE(ms::keys(), QStringList({u8("ac_voltage"), u8("ac_current"), u8("dc_voltage"),
                                      u8("dc_current"), u8("battery_charge_current"),
                                      u8("battery_discharge_current")}));
    QStringList formats, units;
    QList<int> visibleOnModel1, visibleOnModel3;
    for (const ms::Item &item : ms::items()) {
        formats << item.format;
        units << item.unit;
        if (ms::isVisible(item, 1) && ms::isVisible(item, 2))
            visibleOnModel1 << item.address;
        if (ms::isVisible(item, 3) && ms::isVisible(item, 4))
            visibleOnModel3 << item.address;
        QCOMPARE(ms::items()[ms::indexOfKey(QLatin1String(item.key))].address, item.address);
    }
    QCOMPARE(formats.join(QLatin1Char(' ')), u8("999.9 99.99 99.99 99.99 99.99 99.99"));
    QCOMPARE(units.join(QString()), u8("VAVAAA"));
    QCOMPARE(visibleOnModel1, QList<int>({50, 51, 52, 53}));
    QCOMPARE(visibleOnModel3, QList<int>({48, 49, 50, 51, 52, 53}));
    QCOMPARE(ms::indexOfKey(u8("dc-voltage")), -1);
}

void TestDeviceConfig::calibrationWrites_data()
{
    QTest::addColumn<QList<bool>>("ticked");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("writes");

    QTest::newRow("initial texts, all ticked (model 3): AC current 00.00 skipped")
        << ticks("111111") << fields() << u8("48=2200 50=54000 51=18500 52=3000 53=10000");
    QTest::newRow("model 1: the hidden AC rows never ticked")
        << ticks("001111") << fields() << u8("50=54000 51=18500 52=3000 53=10000");
    QTest::newRow("영점, then the DC and battery currents: zeros written")
        << ticks("000111") << zeroed() << u8("51=0 52=0 53=0");
    QTest::newRow("영점, then every row: AC current zero skipped")
        << ticks("111111") << zeroed() << u8("48=2200 50=54000 51=0 52=0 53=0");
    QTest::newRow("table order whatever the tick order")
        << ticks("100001") << fields({{0, "231.5"}, {5, "00.01"}}) << u8("48=2315 53=10");
    QTest::newRow("AC current as it stands, hundredths")
        << ticks("010000") << fields({{1, "12.34"}}) << u8("49=1234");
    QTest::newRow("largest AC values fit")
        << ticks("110000") << fields({{0, "999.9"}, {1, "99.99"}}) << u8("48=9999 49=9999");
    QTest::newRow("DC voltage 65.53 x 10 is the largest that fits")
        << ticks("001000") << fields({{2, "65.53"}}) << u8("50=65530");
    QTest::newRow("an unticked field that would not fit is not written")
        << ticks("000100") << fields({{2, "99.99"}, {3, "00.05"}}) << u8("51=50");
    QTest::newRow("zero of DC voltage skipped, the others sent")
        << ticks("001100") << fields({{2, "00.00"}}) << u8("51=18500");
    QTest::newRow("short lists: missing ticks unticked, missing texts initial")
        << ticks("1") << QStringList() << u8("48=2200");
}

void TestDeviceConfig::calibrationWrites()
{
    QFETCH(QList<bool>, ticked);
    QFETCH(QStringList, texts);
    QFETCH(QString, writes);
    const WritePlan p = ms::plan(ticked, texts);
    QVERIFY2(!p.refused(), qPrintable(p.refusal));
    QCOMPARE(writesText(p.writes), writes);
}

void TestDeviceConfig::calibrationTypedValue_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text"); // empty: refused

    QTest::newRow("exact form") << u8("dc_voltage") << u8("54.00") << u8("54.00");
    QTest::newRow("whole number") << u8("dc_voltage") << u8("54") << u8("54.00");
    QTest::newRow("point, no decimals") << u8("dc_voltage") << u8("54.") << u8("54.00");
    QTest::newRow("short both sides") << u8("battery_charge_current") << u8("3.5") << u8("03.50");
    QTest::newRow("zero") << u8("dc_current") << u8("0") << u8("00.00");
    QTest::newRow("AC voltage whole") << u8("ac_voltage") << u8("220") << u8("220.0");
    QTest::newRow("AC voltage tenths") << u8("ac_voltage") << u8("231.5") << u8("231.5");
    QTest::newRow("too many integer digits") << u8("dc_voltage") << u8("100.00") << QString();
    QTest::newRow("too many decimals") << u8("dc_voltage") << u8("54.001") << QString();
    QTest::newRow("AC voltage hundredths") << u8("ac_voltage") << u8("220.05") << QString();
    QTest::newRow("no digit before the point") << u8("dc_voltage") << u8(".5") << QString();
    QTest::newRow("sign") << u8("dc_current") << u8("-1") << QString();
    QTest::newRow("plus sign") << u8("dc_current") << u8("+1") << QString();
    QTest::newRow("comma") << u8("dc_voltage") << u8("54,00") << QString();
    QTest::newRow("exponent") << u8("dc_voltage") << u8("5e1") << QString();
    QTest::newRow("blank") << u8("dc_voltage") << u8(" 54") << QString();
    QTest::newRow("empty") << u8("dc_voltage") << QString() << QString();
    QTest::newRow("other script's digits") << u8("dc_voltage") << u8("٥٤") << QString();
}

void TestDeviceConfig::calibrationTypedValue()
{
    QFETCH(QString, key);
    QFETCH(QString, typed);
    QFETCH(QString, text);
    const ms::Item &item = ms::items()[ms::indexOfKey(key)];
    QString error;
    QCOMPARE(ms::fieldTextFor(item, typed, &error), text);
    if (text.isEmpty()) {
        QVERIFY(error.contains(key));
        QVERIFY(error.contains(item.format));
    } else {
        int value = -1;
        QVERIFY(ms::fieldDigits(item, text, &value));
    }
}

void TestDeviceConfig::calibrationAssignments_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("writes");
    QTest::addColumn<QString>("refusal"); // part of the message; empty: none

    QTest::newRow("one item") << u8("dc_voltage=53.5") << 1 << u8("50=53500") << QString();
    QTest::newRow("table order, not the order given")
        << u8("battery_discharge_current=2 dc_current=0") << 1 << u8("51=0 53=2000") << QString();
    QTest::newRow("AC on model 4") << u8("ac_voltage=230 ac_current=1.5") << 4
                                   << u8("48=2300 49=150") << QString();
    QTest::newRow("AC zero skipped silently") << u8("ac_current=0") << 3 << QString() << QString();
    QTest::newRow("AC item on model 2") << u8("ac_voltage=230") << 2 << QString()
                                        << u8("only on models 3 and 4");
    QTest::newRow("unknown key") << u8("dc_volts=54") << 1 << QString() << u8("dc_voltage");
    QTest::newRow("key twice") << u8("dc_current=1 dc_current=2") << 1 << QString()
                               << u8("twice");
    QTest::newRow("value not in the format") << u8("dc_current=1.234") << 1 << QString()
                                             << u8("99.99");
    QTest::newRow("does not fit") << u8("dc_voltage=70") << 1 << QString() << u8("70000");
}

void TestDeviceConfig::calibrationAssignments()
{
    QFETCH(QString, given);
    QFETCH(int, model);
    QFETCH(QString, writes);
    QFETCH(QString, refusal);
    const WritePlan p = ms::planAssignments(assignments(given.toUtf8().constData()), model);
    QCOMPARE(writesText(p.writes), writes);
    if (refusal.isEmpty())
        QCOMPARE(p.refusal, QString());
    else
        QVERIFY2(p.refusal.contains(refusal), qPrintable(p.refusal));
}

void TestDeviceConfig::leapYears_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<bool>("leap");
    QTest::addColumn<QList<int>>("days"); // January .. December

    const QList<int> common{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    QList<int> leap = common;
    leap[1] = 29;
    QTest::newRow("2023") << 2023 << false << common;
    QTest::newRow("2024") << 2024 << true << leap;
    QTest::newRow("2100: a century") << 2100 << false << common;
    QTest::newRow("2400: every fourth century") << 2400 << true << leap;
    QTest::newRow("2001") << 2001 << false << common;
    QTest::newRow("2000") << 2000 << true << leap;
}

void TestDeviceConfig::leapYears()
{
    QFETCH(int, year);
    QFETCH(bool, leap);
    QFETCH(QList<int>, days);
    QCOMPARE(cs::isLeapYear(year), leap);
    QList<int> got;
    for (int m = 1; m <= 12; ++m)
        got << cs::daysInMonth(year, m);
    QCOMPARE(got, days);
    QCOMPARE(cs::daysInMonth(year, 0), 0);
    QCOMPARE(cs::daysInMonth(year, 13), 0);
}

void TestDeviceConfig::calendarSetters_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<int>("value");
    QTest::addColumn<QDate>("expected"); // from 2024-01-31

    const QDate start(2024, 1, 31);
    QTest::newRow("day 15") << u8("day") << 15 << QDate(2024, 1, 15);
    QTest::newRow("day 0 ignored") << u8("day") << 0 << start;
    QTest::newRow("day 32 ignored") << u8("day") << 32 << start;
    QTest::newRow("month 2: day follows to 29") << u8("month") << 2 << QDate(2024, 2, 29);
    QTest::newRow("month 4: day follows to 30") << u8("month") << 4 << QDate(2024, 4, 30);
    QTest::newRow("month 0 ignored") << u8("month") << 0 << start;
    QTest::newRow("month 13 ignored") << u8("month") << 13 << start;
    QTest::newRow("year 2023") << u8("year") << 2023 << QDate(2023, 1, 31);
    QTest::newRow("year 0 ignored") << u8("year") << 0 << start;
    QTest::newRow("year -1 ignored") << u8("year") << -1 << start;
}

void TestDeviceConfig::calendarSetters()
{
    QFETCH(QString, setter);
    QFETCH(int, value);
    QFETCH(QDate, expected);
    const cs::CalendarDate start{2024, 1, 31};
    cs::CalendarDate got = setter == u8("day")     ? cs::withDay(start, value)
                           : setter == u8("month") ? cs::withMonth(start, value)
                                                   : cs::withYear(start, value);
    QCOMPARE(QDate(got.year, got.month, got.day), expected);
    // 29 February stays a real date when the year changes under it.
    got = cs::withYear(cs::CalendarDate{2024, 2, 29}, 2023);
    QCOMPARE(QDate(got.year, got.month, got.day), QDate(2023, 2, 28));
}

void TestDeviceConfig::calendarFollowsFields_data()
{
    QTest::addColumn<QDate>("calendar");
    QTest::addColumn<QString>("yearText");
    QTest::addColumn<QString>("monthText");
    QTest::addColumn<QDate>("expected");

    QTest::newRow("31 Jan -> February 2023: 28")
        << QDate(2023, 1, 31) << u8("2023") << u8("02") << QDate(2023, 2, 28);
    QTest::newRow("31 Jan -> February 2024: 29")
        << QDate(2024, 1, 31) << u8("2024") << u8("02") << QDate(2024, 2, 29);
    QTest::newRow("29 Feb 2024, year 2023: 28")
        << QDate(2024, 2, 29) << u8("2023") << u8("2") << QDate(2023, 2, 28);
    QTest::newRow("29 Feb 2096, year 2100: 28")
        << QDate(2096, 2, 29) << u8("2100") << u8("2") << QDate(2100, 2, 28);
    QTest::newRow("29 Feb 2396, year 2400: stays 29")
        << QDate(2396, 2, 29) << u8("2400") << u8("2") << QDate(2400, 2, 29);
    QTest::newRow("31 Mar -> month typed 4: 30")
        << QDate(2023, 3, 31) << u8("2023") << u8("4") << QDate(2023, 4, 30);
    QTest::newRow("a day within the month stays")
        << QDate(2023, 3, 15) << u8("2023") << u8("11") << QDate(2023, 11, 15);
    QTest::newRow("month 13: month and day unchanged, year follows")
        << QDate(2023, 5, 31) << u8("2025") << u8("13") << QDate(2025, 5, 31);
    QTest::newRow("month 00: unchanged but the year")
        << QDate(2023, 5, 31) << u8("2024") << u8("00") << QDate(2024, 5, 31);
    QTest::newRow("month 13 under 29 Feb, year 2023: still a real date")
        << QDate(2024, 2, 29) << u8("2023") << u8("13") << QDate(2023, 2, 28);
    QTest::newRow("month box empty: stop")
        << QDate(2023, 5, 31) << u8("2025") << QString() << QDate(2023, 5, 31);
    QTest::newRow("month not a number: stop")
        << QDate(2023, 5, 31) << u8("2025") << u8("x") << QDate(2023, 5, 31);
    QTest::newRow("year still being typed: unchanged")
        << QDate(2023, 5, 31) << u8("20") << u8("2") << QDate(2023, 5, 31);
    QTest::newRow("year box emptied: unchanged, no 2001 in its place")
        << QDate(2024, 2, 29) << QString() << u8("2") << QDate(2024, 2, 29);
}

void TestDeviceConfig::calendarFollowsFields()
{
    QFETCH(QDate, calendar);
    QFETCH(QString, yearText);
    QFETCH(QString, monthText);
    QFETCH(QDate, expected);
    const cs::CalendarDate got = cs::followFields(
        cs::CalendarDate{calendar.year(), calendar.month(), calendar.day()}, yearText, monthText);
    QCOMPARE(QDate(got.year, got.month, got.day), expected);
}

void TestDeviceConfig::clockWrites_data()
{
    QTest::addColumn<cs::Fields>("fields");
    QTest::addColumn<QString>("writes");

    QTest::newRow("2023-05-07 09:05:03: second first, minute last")
        << clock("2023", "5", 7, "9", "5", "3") << u8("6=3 1=2023 2=5 3=7 4=9 5=5");
    QTest::newRow("month from the list with its zero")
        << clock("2023", "05", 7, "09", "05", "03") << u8("6=3 1=2023 2=5 3=7 4=9 5=5");
    QTest::newRow("hour 7 written as 7") << clock("2024", "12", 31, "7", "0", "0")
                                         << u8("6=0 1=2024 2=12 3=31 4=7 5=0");
    QTest::newRow("upper bounds") << clock("2999", "12", 31, "23", "59", "59")
                                  << u8("6=59 1=2999 2=12 3=31 4=23 5=59");
    QTest::newRow("lower bounds") << clock("2001", "1", 1, "0", "0", "0")
                                  << u8("6=0 1=2001 2=1 3=1 4=0 5=0");
    QTest::newRow("29 February of a leap year")
        << clock("2024", "2", 29, "12", "0", "0") << u8("6=0 1=2024 2=2 3=29 4=12 5=0");
}

void TestDeviceConfig::clockWrites()
{
    QFETCH(cs::Fields, fields);
    QFETCH(QString, writes);
    const WritePlan p = cs::plan(fields);
    QVERIFY2(!p.refused(), qPrintable(p.refusal));
    QCOMPARE(writesText(p.writes), writes);
}

void TestDeviceConfig::clockFromDateTime()
{
    const QDateTime when(QDate(2023, 5, 7), QTime(9, 5, 3));
    const cs::Fields f = cs::fieldsFrom(when);
    QCOMPARE(QStringList({f.year, f.month, f.hour, f.minute, f.second}),
             QStringList({u8("2023"), u8("5"), u8("9"), u8("5"), u8("3")}));
    QCOMPARE(f.day, 7);
    QCOMPARE(writesText(cs::plan(when).writes), u8("6=3 1=2023 2=5 3=7 4=9 5=5"));
    QCOMPARE(writesText(cs::plan(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59))).writes),
             u8("6=59 1=2024 2=2 3=29 4=23 5=59"));
}

void TestDeviceConfig::factory_data()
{
    QTest::addColumn<int>("radioIndex");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("writes");

    QTest::newRow("Reset") << 0 << u8("reset") << u8("Reset") << u8("127=1");
    QTest::newRow("Config 초기화") << 1 << u8("config") << u8("Config 초기화") << u8("127=2");
    QTest::newRow("nothing chosen") << -1 << u8("none") << QString() << QString();
    QTest::newRow("no such entry") << 2 << u8("Reset") << QString() << QString();
}

void TestDeviceConfig::factory()
{
    QFETCH(int, radioIndex);
    QFETCH(QString, key);
    QFETCH(QString, caption);
    QFETCH(QString, writes);
    const fi::Choice byIndex = fi::choiceAt(radioIndex);
    QCOMPARE(fi::choiceFromKey(key), byIndex);
    QCOMPARE(fi::caption(byIndex), caption);
    const WritePlan p = fi::plan(byIndex);
    QVERIFY(!p.refused());
    QCOMPARE(writesText(p.writes), writes);
}

void TestDeviceConfig::nothingSent_data()
{
    QTest::addColumn<PlanMaker>("make");
    QTest::addColumn<QString>("message"); // part of the refusal; empty: nothing is said

    auto cal = [](const char *marks, QStringList texts) {
        return PlanMaker([=] { return ms::plan(ticks(marks), texts); });
    };
    auto clk = [](cs::Fields f) { return PlanMaker([=] { return cs::plan(f); }); };

    // Calibration.
    QTest::newRow("cal: nothing ticked") << cal("000000", fields()) << QString();
    QTest::newRow("cal: 영점 then AC current only") << cal("010000", zeroed()) << QString();
    QTest::newRow("cal: zero AC voltage") << cal("100000", fields({{0, "000.0"}})) << QString();
    QTest::newRow("cal: zero DC voltage") << cal("001000", fields({{2, "00.00"}})) << QString();
    QTest::newRow("cal: missing digit in an unticked field")
        << cal("000100", fields({{2, "54.0"}})) << u8("'54.0' is not a valid integer value");
    QTest::newRow("cal: blank digit in a ticked field")
        << cal("000100", fields({{3, "18.5 "}})) << u8("'18.5 ' is not a valid integer value");
    QTest::newRow("cal: empty field, nothing ticked")
        << cal("000000", fields({{5, ""}})) << u8("'' is not a valid integer value");
    QTest::newRow("cal: point missing") << cal("001000", fields({{2, "5400"}}))
                                        << u8("'5400' is not a valid integer value");
    QTest::newRow("cal: letter") << cal("001000", fields({{2, "5a.00"}}))
                                 << u8("'5a.00' is not a valid integer value");
    QTest::newRow("cal: sign") << cal("000100", fields({{3, "-1.00"}}))
                               << u8("'-1.00' is not a valid integer value");
    QTest::newRow("cal: DC voltage 99.99 x 10 does not fit")
        << cal("001000", fields({{2, "99.99"}})) << u8("DC 전압: 99990 does not fit");
    QTest::newRow("cal: DC voltage 65.54 does not fit")
        << cal("001000", fields({{2, "65.54"}})) << u8("65540");
    QTest::newRow("cal: battery discharge 70.00 does not fit, earlier rows not sent")
        << cal("001111", fields({{5, "70.00"}})) << u8("Battery 전류 (-): 70000");
    QTest::newRow("cal: conversion error before a value that does not fit")
        << cal("001000", fields({{2, "99.99"}, {4, "3.00"}}))
        << u8("'3.00' is not a valid integer value");

    // Clock: an empty, unreadable or over-long box is refused by its name, never filled in.
    QTest::newRow("clock: seconds box empty") << clk(clock("2023", "5", 7, "9", "5", ""))
                                              << u8("초 (second): the box is empty; nothing was sent.");
    QTest::newRow("clock: year box empty") << clk(clock("", "5", 7, "9", "5", "3"))
                                           << u8("년 (year): the box is empty");
    QTest::newRow("clock: month box empty") << clk(clock("2023", "", 7, "9", "5", "3"))
                                            << u8("월 (month): the box is empty");
    QTest::newRow("clock: no day selected") << clk(clock("2023", "5", 0, "9", "5", "3"))
                                            << u8("일 (day): no day is selected");
    QTest::newRow("clock: year of five digits") << clk(clock("20231", "5", 7, "9", "5", "3"))
                                                << u8("년 (year): 20231 is outside 2001..2999");
    QTest::newRow("clock: month of three digits") << clk(clock("2023", "123", 7, "9", "5", "3"))
                                                  << u8("월 (month): 123 is outside 1..12");
    QTest::newRow("clock: hour not a number") << clk(clock("2023", "5", 7, "abc", "5", "3"))
                                              << u8("시 (hour): 'abc' is not a valid integer value");
    QTest::newRow("clock: minute not a number, seconds empty")
        << clk(clock("2023", "5", 7, "9", "x", ""))
        << u8("분 (minute): 'x' is not a valid integer value; 초 (second): the box is empty; nothing was sent.");
    QTest::newRow("clock: three bad boxes, each named")
        << clk(clock("", "13", 7, "25", "5", "3"))
        << u8("년 (year): the box is empty; 월 (month): 13 is outside 1..12; 시 (hour): 25 is outside 0..23; "
              "nothing was sent.");
    QTest::newRow("clock: month with a point") << clk(clock("2023", "1.", 7, "9", "5", "3"))
                                               << u8("'1.' is not a valid integer value");
    // Clock: out of range, refused with the field and its range.
    QTest::newRow("clock: month 13") << clk(clock("2023", "13", 7, "9", "5", "3"))
                                     << u8("월 (month): 13 is outside 1..12");
    QTest::newRow("clock: month 00") << clk(clock("2023", "00", 7, "9", "5", "3"))
                                     << u8("월 (month): 0 is outside 1..12");
    QTest::newRow("clock: hour 24") << clk(clock("2023", "5", 7, "24", "5", "3"))
                                    << u8("시 (hour): 24 is outside 0..23");
    QTest::newRow("clock: minute 60") << clk(clock("2023", "5", 7, "9", "60", "3"))
                                      << u8("분 (minute): 60 is outside 0..59");
    QTest::newRow("clock: second 60") << clk(clock("2023", "5", 7, "9", "5", "60"))
                                      << u8("초 (second): 60 is outside 0..59");
    QTest::newRow("clock: hour -1") << clk(clock("2023", "5", 7, "-1", "5", "3"))
                                    << u8("시 (hour): -1 is outside 0..23");
    QTest::newRow("clock: year 1999") << clk(clock("1999", "5", 7, "9", "5", "3"))
                                      << u8("년 (year): 1999 is outside 2001..2999");
    QTest::newRow("clock: year 3000") << clk(clock("3000", "5", 7, "9", "5", "3"))
                                      << u8("년 (year): 3000 is outside 2001..2999");
    QTest::newRow("clock: 29 February 2023") << clk(clock("2023", "2", 29, "9", "5", "3"))
                                             << u8("일 (day): 29 is outside 1..28");
    QTest::newRow("clock: 31 April") << clk(clock("2023", "4", 31, "9", "5", "3"))
                                     << u8("일 (day): 31 is outside 1..30");
    QTest::newRow("clock: invalid date and time")
        << PlanMaker([] { return cs::plan(QDateTime()); }) << u8("not a valid date");
    QTest::newRow("clock: date before 2001")
        << PlanMaker([] { return cs::plan(QDateTime(QDate(2000, 12, 31), QTime(23, 0))); })
        << u8("year 2000 is outside 2001..2999");
    QTest::newRow("clock: year 12345")
        << PlanMaker([] { return cs::plan(QDateTime(QDate(12345, 1, 1), QTime(0, 0))); })
        << u8("year 12345 is outside 2001..2999");

    // Factory.
    QTest::newRow("factory: no choice")
        << PlanMaker([] { return fi::plan(fi::Choice::None); }) << QString();
}

void TestDeviceConfig::nothingSent()
{
    QFETCH(PlanMaker, make);
    QFETCH(QString, message);
    const WritePlan p = make();
    QCOMPARE(writesText(p.writes), QString());
    if (message.isEmpty()) {
        QCOMPARE(p.refusal, QString());
    } else {
        QVERIFY2(p.refusal.contains(message), qPrintable(p.refusal));
    }
}

QTEST_GUILESS_MAIN(TestDeviceConfig)
#include "tst_deviceconfig.moc"
