// Operation and alarm settings, dry-contact assignment and alarm test: what the operator's
// values turn into on the wire (registers, values, order) and what is refused.

#include "config/alarmcontacts.h"
#include "config/alarmtest.h"
#include "config/operationsettings.h"

#include <QTest>

using namespace qeln;
using namespace qeln::config;

namespace qeln {
char *toString(const RegisterWrite &w)
{
    return QTest::toString(QStringLiteral("(%1, 0x%2)").arg(w.address).arg(w.value, 4, 16, QLatin1Char('0')));
}
} // namespace qeln

using Writes = QList<RegisterWrite>;
using Regs = QList<QPair<int, int>>; // status register, value

namespace {

// "all" or row numbers "3,18".
QList<bool> ticks(const QString &rows)
{
    QList<bool> t(OperationSettingCount, false);
    if (rows == QLatin1String("all"))
        return selectAll(t);
    for (const QString &r : rows.split(QLatin1Char(','), Qt::SkipEmptyParts))
        t[r.toInt() - 1] = true;
    return t;
}

// The defaults of a model-1 controller, then "row=text" for a spin, "row#index" for a list.
OperationValues values(const QStringList &changes)
{
    OperationValues v = defaults(1, OperationValues(OperationSettingCount));
    for (const QString &c : changes) {
        const bool list = c.contains(QLatin1Char('#'));
        const QStringList parts = c.split(list ? QLatin1Char('#') : QLatin1Char('='));
        OperationValue &slot = v[parts[0].toInt() - 1];
        if (list)
            slot.index = parts[1].toInt();
        else
            slot.text = parts.mid(1).join(QLatin1Char('='));
    }
    return v;
}

AlarmTicks boxes(const QString &keys)
{
    if (keys == QLatin1String("all"))
        return allTicked();
    AlarmTicks t = noneTicked();
    for (const QString &k : keys.split(QLatin1Char(','), Qt::SkipEmptyParts))
        t[size_t(alarmBoxIndex(k))] = true;
    return t;
}

ConsoleState stateWith(const Regs &regs)
{
    ConsoleState s;
    for (const auto &[n, v] : regs) {
        s.StatusRegisters[size_t(n - 1)] = v;
        if (n >= 80 && n <= 91)
            s.ContactAlarmMasks[size_t(n - 80)] = v;
    }
    return s;
}

} // namespace

class TestOperationConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operationWrites_data();
    void operationWrites();
    void operationRefusals_data();
    void operationRefusals();
    void operationOpening_data();
    void operationOpening();
    void operationDefaults();
    void contactWrites_data();
    void contactWrites();
    void repairOpening_data();
    void repairOpening();
    void alarmTestWrites_data();
    void alarmTestWrites();
    void alarmTestOpening();
};

void TestOperationConfig::operationWrites_data()
{
    QTest::addColumn<QString>("ticked");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("testMode");
    QTest::addColumn<Writes>("writes");

    QTest::newRow("select all: 22 lines in table order, defaults")
        << "all" << QStringList{} << false
        << Writes{{54, 170}, {55, 270}, {56, 460}, {57, 570}, {58, 440}, {59, 105}, {95, 1000},
                  {60, 540}, {63, 30}, {64, 1}, {65, 0}, {66, 0}, {67, 0}, {74, 0}, {75, 5},
                  {76, 1}, {77, 3}, {78, 460}, {79, 1}, {62, 0}, {68, 580}, {69, 430}};
    QTest::newRow("commands are not in select all but go last when ticked")
        << "1,20,24" << QStringList{QStringLiteral("20#2")} << false
        << Writes{{54, 170}, {92, 3}, {31, 255}};
    QTest::newRow("53.3 is 533 (double product truncated)")
        << "18" << QStringList{QStringLiteral("18=53.3")} << false << Writes{{78, 533}};
    QTest::newRow("54.05 is 540") << "8" << QStringList{QStringLiteral("8=54.05")} << false
                                  << Writes{{60, 540}};
    QTest::newRow("3 A is 30, 2.5 A is 25")
        << "9,21" << QStringList{QStringLiteral("9=3"), QStringLiteral("21=2.5")} << false
        << Writes{{63, 30}, {62, 25}};
    QTest::newRow("test mode takes 42.0") << "8" << QStringList{QStringLiteral("8=42.0")} << true
                                          << Writes{{60, 420}};
    QTest::newRow("test mode takes 60") << "8" << QStringList{QStringLiteral("8=60")} << true
                                        << Writes{{60, 600}};
    QTest::newRow("lithium cut-off 46.0 beyond its caption")
        << "23" << QStringList{QStringLiteral("23=46.0")} << false << Writes{{69, 460}};
    QTest::newRow("bounds themselves")
        << "1,2,15,17,19"
        << QStringList{QStringLiteral("1=150"), QStringLiteral("2=290"), QStringLiteral("15=12"),
                       QStringLiteral("17=0"), QStringLiteral("19=120")}
        << false << Writes{{54, 150}, {55, 290}, {75, 12}, {77, 0}, {79, 120}};
    QTest::newRow("lists: position, position + 1")
        << "10,11,12,13,14"
        << QStringList{QStringLiteral("10#2"), QStringLiteral("11#1"), QStringLiteral("12#1"),
                       QStringLiteral("13#1"), QStringLiteral("14#12")}
        << false << Writes{{64, 3}, {65, 1}, {66, 1}, {67, 1}, {74, 12}};
    QTest::newRow("list without selection is skipped, the rest goes")
        << "11,12,20" << QStringList{QStringLiteral("11#-1"), QStringLiteral("12#1"), QStringLiteral("20#-1")}
        << false << Writes{{66, 1}};
    QTest::newRow("blanks around a typed number")
        << "1,3" << QStringList{QStringLiteral("1= 180 "), QStringLiteral("3= 47.5")} << false
        << Writes{{54, 180}, {56, 475}};
}

void TestOperationConfig::operationWrites()
{
    QFETCH(QString, ticked);
    QFETCH(QStringList, changes);
    QFETCH(bool, testMode);
    QFETCH(Writes, writes);
    const WritePlan p = plan(ticks(ticked), values(changes), testMode);
    QCOMPARE(p.refusal, QString());
    QCOMPARE(p.writes, writes);
}

void TestOperationConfig::operationRefusals_data()
{
    QTest::addColumn<QString>("ticked");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("testMode");
    QTest::addColumn<QString>("message"); // empty: nothing sent and nothing said

    QTest::newRow("nothing ticked") << "" << QStringList{} << false << QString();
    QTest::newRow("only a list without selection") << "13" << QStringList{QStringLiteral("13#5")}
                                                   << false << QString();
    QTest::newRow("DC low 99.9 typed, not left")
        << "3" << QStringList{QStringLiteral("3=99.9")} << false
        << QStringLiteral("DC 저전압 (43.0V ~ 50.0V): 99.9 is outside 43.0..50.0; nothing was sent.");
    QTest::newRow("month 13") << "15" << QStringList{QStringLiteral("15=13")} << false
                              << QStringLiteral("시험시작 월 (1~12월): 13 is outside 1..12; nothing was sent.");
    QTest::newRow("hour 24") << "17" << QStringList{QStringLiteral("17=24")} << false
                             << QStringLiteral("시험시작 시간 (0 ~ 23시): 24 is outside 0..23; nothing was sent.");
    QTest::newRow("AC 70000 is refused, never truncated")
        << "2" << QStringList{QStringLiteral("2=70000")} << false
        << QStringLiteral("AC 고전압 (250V ~ 290V): 70000 is outside 250..290; nothing was sent.");
    QTest::newRow("text shown unbounded at opening (60.0 in DC low)")
        << "3" << QStringList{QStringLiteral("3=60.0")} << false
        << QStringLiteral("DC 저전압 (43.0V ~ 50.0V): 60.0 is outside 43.0..50.0; nothing was sent.");
    QTest::newRow("42.0 outside test mode")
        << "8" << QStringList{QStringLiteral("8=42.0")} << false
        << QStringLiteral("출력전압 (43.0 ~ 56.0V): 42.0 is outside 43.0..56.0; nothing was sent.");
    QTest::newRow("negative charge limit")
        << "9" << QStringList{QStringLiteral("9=-0.5")} << false
        << QStringLiteral("충전전류제한 (0(OFF), 1~ 4A): -0.5 is outside 0.0..4.0; nothing was sent.");
    QTest::newRow("letters in an integer line")
        << "1" << QStringList{QStringLiteral("1=abc")} << false
        << QStringLiteral("'abc' is not a valid integer value");
    QTest::newRow("decimal in an integer line")
        << "6" << QStringList{QStringLiteral("6=100.5")} << false
        << QStringLiteral("'100.5' is not a valid integer value");
    QTest::newRow("empty decimal line")
        << "5" << QStringList{QStringLiteral("5=")} << false
        << QStringLiteral("'' is not a valid floating point value");
    QTest::newRow("not a number, nan")
        << "7" << QStringList{QStringLiteral("7=nan")} << false
        << QStringLiteral("'nan' is not a valid floating point value");
    QTest::newRow("comma as decimal point")
        << "22" << QStringList{QStringLiteral("22=55,0")} << false
        << QStringLiteral("'55,0' is not a valid floating point value");
    QTest::newRow("bad later line stops the earlier good ones too")
        << "1,2,19" << QStringList{QStringLiteral("19=x")} << false
        << QStringLiteral("'x' is not a valid integer value");
    QTest::newRow("first bad line is the one reported")
        << "4,16" << QStringList{QStringLiteral("4=1"), QStringLiteral("16=q")} << false
        << QStringLiteral("DC 고전압 (53.0V ~ 59.0V): 1 is outside 53.0..59.0; nothing was sent.");
}

void TestOperationConfig::operationRefusals()
{
    QFETCH(QString, ticked);
    QFETCH(QStringList, changes);
    QFETCH(bool, testMode);
    QFETCH(QString, message);
    const WritePlan p = plan(ticks(ticked), values(changes), testMode);
    QCOMPARE(p.writes, Writes{});
    QCOMPARE(p.refusal, message);
}

void TestOperationConfig::operationOpening_data()
{
    QTest::addColumn<Regs>("regs");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");

    QTest::newRow("AC high 300 bounded to 290") << Regs{{55, 300}} << 2 << "290" << -1;
    QTest::newRow("AC low 0 bounded to 150") << Regs{} << 1 << "150" << -1;
    QTest::newRow("DC low 600 shown as text 60.0") << Regs{{56, 600}} << 3 << "60.0" << -1;
    QTest::newRow("rack 1000 is 100.0") << Regs{{95, 1000}} << 7 << "100.0" << -1;
    QTest::newRow("tenths 12345 stay plain") << Regs{{68, 12345}} << 22 << "12345" << -1;
    QTest::newRow("charge limit 0 is 0") << Regs{{63, 0}} << 9 << "0" << -1;
    QTest::newRow("charge limit 30 is 3.0") << Regs{{63, 30}} << 9 << "3.0" << -1;
    QTest::newRow("lithium limit 0 is 0.0") << Regs{{62, 0}} << 21 << "0.0" << -1;
    QTest::newRow("month 0 bounded to 1") << Regs{{75, 0}} << 15 << "1" << -1;
    QTest::newRow("minutes 500 bounded to 120") << Regs{{79, 500}} << 19 << "120" << -1;
    QTest::newRow("charge mode 3 is TEST") << Regs{{64, 3}} << 10 << "" << 2;
    QTest::newRow("charge mode 0 shows none") << Regs{{64, 0}} << 10 << "" << -1;
    QTest::newRow("charge mode 4 shows none") << Regs{{64, 4}} << 10 << "" << -1;
    QTest::newRow("period 12") << Regs{{74, 12}} << 14 << "" << 12;
    QTest::newRow("period 13 shows none") << Regs{{74, 13}} << 14 << "" << -1;
    QTest::newRow("battery use 1") << Regs{{66, 1}} << 12 << "" << 1;
    QTest::newRow("forced discharge 0 is 시험 시작") << Regs{{92, 0}} << 20 << "" << 0;
    QTest::newRow("forced discharge 4 is 시험 시작") << Regs{{92, 4}} << 20 << "" << 0;
    QTest::newRow("forced discharge 3 is 경보 Clear") << Regs{{92, 3}} << 20 << "" << 2;
}

void TestOperationConfig::operationOpening()
{
    QFETCH(Regs, regs);
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(int, index);
    const OperationValues v = initialValues(stateWith(regs));
    QCOMPARE(v.size(), OperationSettingCount);
    QCOMPARE(v[row - 1].text, text);
    QCOMPARE(v[row - 1].index, index);
}

void TestOperationConfig::operationDefaults()
{
    const OperationValue forced{QString(), 1};
    OperationValues current(OperationSettingCount);
    current[ForcedDischargeRow - 1] = forced;
    for (int model : {0, 1, 2, 3, 4, 5}) {
        const OperationValues d = defaults(model, current);
        QCOMPARE(d[5].text, model == 3 || model == 4 ? QStringLiteral("103") : QStringLiteral("105"));
        QCOMPARE(d[ForcedDischargeRow - 1], forced);
        QCOMPARE(d[9].index, 0);
        QCOMPARE(d[13].index, 0);
    }
    // The output-voltage line follows charge mode 3 at opening, whatever the list says later.
    const bool test = testModeAtOpening(stateWith({{64, 3}}));
    QVERIFY(test);
    QCOMPARE(operationSettings(test)[OutputVoltageRow - 1].caption, QStringLiteral("출력전압 (42.0 ~ 60.0V)"));
    QCOMPARE(operationSettings(false)[OutputVoltageRow - 1].caption, QStringLiteral("출력전압 (43.0 ~ 56.0V)"));
    QVERIFY(!testModeAtOpening(stateWith({{64, 2}})));
}

void TestOperationConfig::contactWrites_data()
{
    QTest::addColumn<int>("selectedContact");
    QTest::addColumn<Regs>("masks"); // status registers 80..91 at opening
    QTest::addColumn<QString>("action"); // "default", "clear", "open" or box keys
    QTest::addColumn<Writes>("writes");

    QTest::newRow("contact 4 defaults") << 6 << Regs{} << "default" << Writes{{86, 0x0040}, {87, 0x3B60}};
    QTest::newRow("contact 2 defaults") << 2 << Regs{} << "default" << Writes{{82, 0x0026}, {83, 0x0002}};
    QTest::newRow("contact 1 defaults") << 0 << Regs{} << "default" << Writes{{80, 0x0001}, {81, 0}};
    QTest::newRow("contact 3 defaults") << 4 << Regs{} << "default" << Writes{{84, 0x0100}, {85, 0x0008}};
    QTest::newRow("contact 6 defaults are empty") << 10 << Regs{{90, 0x0101}} << "default" << Writes{{90, 0}, {91, 0}};
    QTest::newRow("contact 5 cleared") << 8 << Regs{{88, 0x0167}, {89, 0x3B6A}} << "clear" << Writes{{88, 0}, {89, 0}};
    QTest::newRow("unlisted bits read back are written as 0")
        << 0 << Regs{{80, 0x0009}, {81, 0x0082}} << "open" << Writes{{80, 0x0001}, {81, 0x0002}};
    QTest::newRow("contact 3 reads its own pair")
        << 4 << Regs{{82, 0xFFFF}, {84, 0x0100}, {85, 0x0008}} << "open" << Writes{{84, 0x0100}, {85, 0x0008}};
    QTest::newRow("all boxes") << 10 << Regs{} << "all" << Writes{{90, 0x0167}, {91, 0x3B6A}};
}

void TestOperationConfig::contactWrites()
{
    QFETCH(int, selectedContact);
    QFETCH(Regs, masks);
    QFETCH(QString, action);
    QFETCH(Writes, writes);
    const ConsoleState s = stateWith(masks);
    AlarmTicks t = initialContactTicks(s, selectedContact);
    if (action == QLatin1String("default"))
        t = contactDefaults(selectedContact / 2 + 1);
    else if (action == QLatin1String("clear"))
        t = noneTicked();
    else if (action != QLatin1String("open"))
        t = boxes(action);
    const WritePlan p = definePlan(selectedContact, t);
    QCOMPARE(p.refusal, QString());
    QCOMPARE(p.writes, writes);
}

void TestOperationConfig::repairOpening_data()
{
    QTest::addColumn<Regs>("regs");
    QTest::addColumn<bool>("spareVisible");
    QTest::addColumn<bool>("typeVisible");
    QTest::addColumn<int>("dryIndex");
    QTest::addColumn<int>("typeIndex");

    QTest::newRow("model 3, TTL: spares hidden") << Regs{{26, 3}, {42, 1}, {70, 1}} << false << true << 1 << 1;
    QTest::newRow("model 4, dry contact") << Regs{{26, 4}, {42, 0}} << true << true << 0 << 0;
    QTest::newRow("model 4, type 2 shows none") << Regs{{26, 4}, {42, 2}, {70, 2}} << true << true << -1 << -1;
    QTest::newRow("model 2, TTL: spares stay") << Regs{{26, 2}, {42, 1}} << true << false << 0 << 1;
}

void TestOperationConfig::repairOpening()
{
    QFETCH(Regs, regs);
    QFETCH(bool, spareVisible);
    QFETCH(bool, typeVisible);
    QFETCH(int, dryIndex);
    QFETCH(int, typeIndex);
    const RepairOpening o = config::repairOpening(stateWith(regs));
    QCOMPARE(o.spareContactsVisible, spareVisible);
    QCOMPARE(o.alarmTypeVisible, typeVisible);
    QCOMPARE(o.dryContactIndex, dryIndex);
    QCOMPARE(o.alarmTypeIndex, typeIndex);

    // The options plan: 70 then 42 in the list, so 42 reaches the controller first; a line
    // without a selection or tick is left out.
    QCOMPARE(repairPlan(true, 1, true, 0).writes, (Writes{{70, 1}, {42, 0}}));
    QCOMPARE(repairPlan(false, 1, true, 1).writes, (Writes{{42, 1}}));
    QCOMPARE(repairPlan(true, -1, false, 0).writes, Writes{});
    QCOMPARE(repairPlan(false, 0, false, 0).writes, Writes{});
}

void TestOperationConfig::alarmTestWrites_data()
{
    QTest::addColumn<bool>("usedTicked");
    QTest::addColumn<int>("usedIndex");
    QTest::addColumn<bool>("masksTicked");
    QTest::addColumn<QString>("boxes");
    QTest::addColumn<Writes>("writes");

    QTest::newRow("battery disconnect") << false << 0 << true << "battery_disconnect"
                                        << Writes{{72, 0x0040}, {73, 0x8080}};
    QTest::newRow("battery discharge") << false << 0 << true << "battery_discharge"
                                       << Writes{{72, 0}, {73, 0x0482}};
    QTest::newRow("battery quality low") << false << 0 << true << "battery_quality_low"
                                         << Writes{{72, 0}, {73, 0x40A0}};
    QTest::newRow("battery cell fail: no derived bit") << false << 0 << true << "battery_cell_fail"
                                                       << Writes{{72, 0}, {73, 0x0040}};
    QTest::newRow("temperature high: no derived bit") << false << 0 << true << "temperature_high"
                                                      << Writes{{72, 0}, {73, 0x0008}};
    QTest::newRow("battery overcharge sets bit 7") << false << 0 << true << "battery_overcharge"
                                                   << Writes{{72, 0}, {73, 0x0180}};
    QTest::newRow("select all") << false << 0 << true << "all" << Writes{{72, 0x0167}, {73, 0xFFEA}};
    QTest::newRow("switch off only") << true << 0 << false << "all" << Writes{{71, 0}};
    QTest::newRow("both: 71 listed first, sent last")
        << true << 1 << true << "ac_input_fail" << Writes{{71, 1}, {72, 0x0001}, {73, 0}};
    QTest::newRow("use list without selection skipped")
        << true << -1 << true << "" << Writes{{72, 0}, {73, 0}};
    QTest::newRow("neither ticked") << false << 1 << false << "all" << Writes{};
}

void TestOperationConfig::alarmTestWrites()
{
    QFETCH(bool, usedTicked);
    QFETCH(int, usedIndex);
    QFETCH(bool, masksTicked);
    QFETCH(QString, boxes);
    QFETCH(Writes, writes);
    const WritePlan p = alarmTestPlan(usedTicked, usedIndex, masksTicked, ::boxes(boxes));
    QCOMPARE(p.refusal, QString());
    QCOMPARE(p.writes, writes);
}

void TestOperationConfig::alarmTestOpening()
{
    // Derived bits read back tick nothing; the real ones do.
    AlarmTestOpening o = config::alarmTestOpening(stateWith({{71, 1}, {72, 0x0040}, {73, 0xC480}}));
    QCOMPARE(o.usedIndex, 1);
    QCOMPARE(o.ticks, boxes(QStringLiteral("battery_disconnect")));
    o = config::alarmTestOpening(stateWith({{71, 2}, {73, 0x0022}}));
    QCOMPARE(o.usedIndex, -1);
    QCOMPARE(o.ticks, boxes(QStringLiteral("battery_discharge,battery_quality_low")));
    QCOMPARE(alarmBoxes().at(5).caption, QStringLiteral("Battery Disconnect"));
    QCOMPARE(QLatin1String(alarmBoxes().at(5).objectName), QLatin1String("CheckBox7"));
}

QTEST_GUILESS_MAIN(TestOperationConfig)
#include "tst_operationconfig.moc"
