#include "app/inputfile.h"
#include "config/settingscatalog.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

using namespace qeln;
using namespace qeln::config::settings;

namespace qeln {
char *toString(const RegisterWrite &w)
{
    return QTest::toString(QStringLiteral("(%1, 0x%2)").arg(w.address).arg(w.value, 4, 16, QLatin1Char('0')));
}
} // namespace qeln

namespace {

// A model 3 controller with the factory settings and the default contact assignment.
ConsoleState plantState(const QString &patch = QString())
{
    ConsoleState s;
    const QList<QPair<int, int>> regs = {
        {26, 3},   {54, 170}, {55, 270}, {56, 460}, {57, 570}, {58, 440}, {59, 103},
        {95, 1000}, {60, 540}, {63, 30},  {64, 1},   {65, 0},   {66, 1},   {67, 1},
        {74, 0},   {75, 5},   {76, 1},   {77, 3},   {78, 460}, {79, 1},   {62, 0},
        {68, 580}, {69, 430}, {70, 0},   {42, 0},   {71, 0},   {72, 0},   {73, 0},
        {80, 0x1}, {82, 0x26}, {83, 0x2}, {84, 0x100}, {85, 0x8}, {86, 0x40}, {87, 0x3B60},
    };
    for (const auto &[r, v] : regs)
        s.StatusRegisters[size_t(r - 1)] = v;
    for (const QString &p : patch.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        s.StatusRegisters[size_t(p.section(QLatin1Char('='), 0, 0).toInt() - 1)] = p.section(QLatin1Char('='), 1).toInt(nullptr, 0);
    for (int i = 0; i < 12; ++i)
        s.ContactAlarmMasks[size_t(i)] = s.StatusRegisters[size_t(79 + i)];
    return s;
}

QList<RegisterWrite> writes(std::initializer_list<std::pair<int, int>> list)
{
    QList<RegisterWrite> out;
    for (const auto &[a, v] : list)
        out << RegisterWrite{a, v};
    return out;
}

} // namespace

class TestSettingsCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void catalogKeys();
    void parse_data();
    void parse();
    void diffPlans_data();
    void diffPlans();
    void shownValue_data();
    void shownValue();
    void inputFileLimit_data();
    void inputFileLimit();
    void showThenApplyWritesNothing_data();
    void showThenApplyWritesNothing();
};

void TestSettingsCatalog::catalogKeys()
{
    QStringList keys;
    for (const SettingInfo &i : catalog())
        keys << i.key;
    // 22 operation settings, the two contact options, six contacts, the alarm test and its alarms.
    QCOMPARE(keys.size(), 32);
    QCOMPARE(keys.removeDuplicates(), 0);
    QVERIFY(!keys.contains(QStringLiteral("forced_discharge_test")));
    QVERIFY(!keys.contains(QStringLiteral("task_fail_reset")));
    QCOMPARE(findSetting(QStringLiteral("contact_4_alarms"))->registers, (QList<int>{86, 87}));
    QCOMPARE(findSetting(QStringLiteral("output_voltage"))->range, QStringLiteral("43.0..56.0"));
}

void TestSettingsCatalog::parse_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("input"); // a JSON document, or arguments separated by '|'
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");  // the value read, alarms comma-joined
    QTest::addColumn<QString>("error"); // a part of the refusal

    QTest::newRow("json number") << true << R"({"dc_undervoltage": 46.5})" << "dc_undervoltage" << "46.5" << "";
    QTest::newRow("json number for a list entry") << true << R"({"discharge_test_period": 3})" << "discharge_test_period" << "3" << "";
    QTest::newRow("object with value") << true << QString::fromUtf8(R"({"charge_mode": {"value": "TEST 모드", "unit": "x"}})") << "charge_mode" << QString::fromUtf8("TEST 모드") << "";
    QTest::newRow("alarm array") << true << R"({"contact_1_alarms": ["ac_input_fail", "module_fail"]})" << "contact_1_alarms" << "ac_input_fail,module_fail" << "";
    QTest::newRow("unknown key") << true << R"({"dc_low": 46})" << "" << "" << "unknown setting 'dc_low'";
    QTest::newRow("not an object") << true << "[1]" << "" << "" << "must be a JSON object";
    QTest::newRow("broken json") << true << R"({"a")" << "" << "" << "not a JSON document";
    QTest::newRow("bool for number") << true << R"({"dc_undervoltage": true})" << "" << "" << "dc_undervoltage: expected a number";
    QTest::newRow("text for alarm set") << true << R"({"contact_1_alarms": "ac_input_fail"})" << "" << "" << "expected a list of alarm keys";
    QTest::newRow("object name is no alarm key") << true << R"({"contact_1_alarms": ["CheckBox1"]})" << "" << "" << "unknown alarm 'CheckBox1'";
    QTest::newRow("object without value") << true << R"({"charge_mode": {"unit": "V"}})" << "" << "" << "needs the member \"value\"";
    QTest::newRow("key twice") << true << R"({"dc_undervoltage": 46, "dc_undervoltage": 47})" << "" << "" << "the key 'dc_undervoltage' is given twice";
    QTest::newRow("key twice, once escaped") << true << R"({"dc_undervoltage": 46, "dc_\u0075ndervoltage": 47})" << "" << "" << "the key 'dc_undervoltage' is given twice";
    QTest::newRow("member twice inside a value") << true << R"({"charge_mode": {"value": "a", "value": "b"}})" << "" << "" << "the key 'value' in 'charge_mode' is given twice";
    QTest::newRow("same name in separate objects") << true << R"({"dc_undervoltage": {"value": 46, "unit": "V", "x": [{"unit": 1}, {"unit": "a\"unit"}]}})" << "dc_undervoltage" << "46" << "";
    QTest::newRow("assignment") << false << "dc_undervoltage=46.5" << "dc_undervoltage" << "46.5" << "";
    QTest::newRow("alarms comma-separated") << false << "contact_2_alarms=ac_input_fail, module_fail" << "contact_2_alarms" << "ac_input_fail,module_fail" << "";
    QTest::newRow("no alarms") << false << "contact_5_alarms=" << "contact_5_alarms" << "" << "";
    QTest::newRow("given twice") << false << "dc_undervoltage=46|dc_undervoltage=47" << "" << "" << "dc_undervoltage is given twice";
    QTest::newRow("no equals sign") << false << "dc_undervoltage" << "" << "" << "is not KEY=VALUE";
    QTest::newRow("unknown alarm") << false << "alarm_test_alarms=ac_fail" << "" << "" << "unknown alarm 'ac_fail'";
}

void TestSettingsCatalog::parse()
{
    QFETCH(bool, json);
    QFETCH(QString, input);
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(QString, error);
    Values values;
    QString message;
    const bool ok = json ? parseDocument(input.toUtf8(), values, message)
                         : parseAssignments(input.split(QLatin1Char('|')), values, message);
    QCOMPARE(ok, error.isEmpty());
    if (!ok) {
        QVERIFY2(message.contains(error), qPrintable(message));
        return;
    }
    QCOMPARE(values.size(), 1);
    const Value v = values.value(key);
    QCOMPARE(findSetting(key)->kind == Kind::AlarmSet ? v.alarms.join(QLatin1Char(',')) : v.text, text);
}

void TestSettingsCatalog::diffPlans_data()
{
    QTest::addColumn<QString>("patch"); // registers changed from the plant state: "64=3;26=1"
    QTest::addColumn<QString>("wanted"); // assignments separated by '|'
    QTest::addColumn<QList<RegisterWrite>>("expected"); // in list order
    QTest::addColumn<QString>("refusal");

    const QList<RegisterWrite> none;
    QTest::newRow("same values") << "" << QString::fromUtf8("dc_undervoltage=46.0|ac_undervoltage=170|charge_mode=출력전압모드|contact_1_alarms=ac_input_fail|alarm_test=미사용") << none << "";
    QTest::newRow("46 is 46.0") << "" << "dc_undervoltage=46" << none << "";
    QTest::newRow("tenths") << "" << "dc_undervoltage=46.5" << writes({{56, 465}}) << "";
    QTest::newRow("53.3 is 533") << "" << "discharge_test_voltage=53.3" << writes({{78, 533}}) << "";
    QTest::newRow("integer") << "" << "ac_overvoltage=280" << writes({{55, 280}}) << "";
    QTest::newRow("charge mode is position + 1") << "" << QString::fromUtf8("charge_mode=TEST 모드") << writes({{64, 3}}) << "";
    QTest::newRow("period by text") << "" << "discharge_test_period=12" << writes({{74, 12}}) << "";
    QTest::newRow("operation lines in table order") << "" << "lithium_cutoff_voltage=44.5|ac_undervoltage=180|dc_cutoff_voltage=55"
        << writes({{54, 180}, {68, 550}, {69, 445}}) << "";
    QTest::newRow("contact takes another set") << "" << "contact_4_alarms=output_voltage_high,output_voltage_low,dc_over_current,battery_discharge"
        << writes({{86, 0x26}, {87, 0x2}}) << "";
    QTest::newRow("alarm test on with derived bits") << "" << QString::fromUtf8("alarm_test=사용|alarm_test_alarms=battery_disconnect")
        << writes({{71, 1}, {72, 0x40}, {73, 0x8080}}) << "";
    QTest::newRow("alarm test masks only") << "" << "alarm_test_alarms=battery_discharge" << writes({{72, 0}, {73, 0x482}}) << "";
    QTest::newRow("contact options") << "" << QString::fromUtf8("alarm_output_type=TTL Level|contact_normal_state=정상 Close")
        << writes({{70, 1}, {42, 1}}) << "";
    QTest::newRow("order across dialogs") << "" << QString::fromUtf8("contact_1_alarms=|contact_normal_state=정상 Close|dc_undervoltage=46.5|alarm_test=사용|contact_6_alarms=module_fail")
        << writes({{71, 1}, {56, 465}, {70, 1}, {80, 0}, {81, 0}, {90, 0x100}, {91, 0}}) << "";
    QTest::newRow("out of range value held is no change") << "55=300;56=60000" << "ac_overvoltage=300|dc_undervoltage=6000" << none << "";
    QTest::newRow("test mode bounds") << "64=3" << "output_voltage=59" << writes({{60, 590}}) << "";
    QTest::newRow("3.9 A") << "" << "charge_current_limit=3.9" << writes({{63, 39}}) << "";
    QTest::newRow("trailing zero is no finer step") << "" << "dc_undervoltage=46.50" << writes({{56, 465}}) << "";
    QTest::newRow("test mode bound with the test mode the file sets") << "" << QString::fromUtf8("output_voltage=58|charge_mode=TEST 모드") << writes({{60, 580}, {64, 3}}) << "";
    QTest::newRow("spare contact offered by the type the file sets") << "42=1" << "alarm_output_type=Dry Contact|contact_5_alarms=ac_input_fail" << writes({{42, 0}, {88, 1}, {89, 0}}) << "";
    QTest::newRow("list outside its entries") << "64=7" << QString::fromUtf8("charge_mode=출력전압모드") << writes({{64, 1}}) << "";
    QTest::newRow("unknown mask bits are cleared on a change") << "80=0x8" << "contact_1_alarms=module_fail" << writes({{80, 0x100}, {81, 0}}) << "";

    QTest::newRow("outside range") << "" << "dc_undervoltage=99.9" << none << "dc_undervoltage: DC 저전압 (43.0V ~ 50.0V): 99.9 is outside 43.0..50.0";
    QTest::newRow("not a number") << "" << "dc_undervoltage=4o" << none << "dc_undervoltage: '4o' is not a valid floating point value";
    // A value finer than its register is refused, never cut to the register's step.
    QTest::newRow("3.99 A") << "" << "charge_current_limit=3.99" << none << "charge_current_limit: 3.99 A: this setting takes steps of 0.1 A";
    QTest::newRow("54.05 V, whose cut value is held") << "" << "output_voltage=54.05" << none << "output_voltage: 54.05 V: this setting takes steps of 0.1 V";
    QTest::newRow("0.05 A") << "" << "charge_current_limit=0.05" << none << "0.05 A: this setting takes steps of 0.1 A";
    QTest::newRow("decimal in integer line") << "" << "ac_overvoltage=280.5" << none << "280.5 V: this setting takes steps of 1 V";
    QTest::newRow("half a month") << "" << "discharge_test_month=4.5" << none << "4.5 month: this setting takes steps of 1 month";
    QTest::newRow("test mode bound while the file leaves test mode") << "64=3" << QString::fromUtf8("output_voltage=58|charge_mode=출력전압모드") << none << "outside 43.0..56.0";
    QTest::newRow("test mode bound without test mode") << "" << "output_voltage=59" << none << "outside 43.0..56.0";
    QTest::newRow("position is no entry") << "" << "charge_mode=2" << none << "charge_mode: '2' is not one of";
    QTest::newRow("alarm type on model 1") << "26=1" << "alarm_output_type=TTL Level" << none << "models 3 and 4";
    QTest::newRow("spare contact hidden by TTL") << "42=1" << "contact_5_alarms=ac_input_fail" << none << "contact_5_alarms: contact 5";
    QTest::newRow("spare contact hidden by the TTL type the file sets") << "" << "alarm_output_type=TTL Level|contact_5_alarms=ac_input_fail" << none << "contact_5_alarms: contact 5";
    QTest::newRow("one bad value stops all") << "" << "dc_undervoltage=46.5|battery_low_voltage=10" << none << "battery_low_voltage:";
}

void TestSettingsCatalog::diffPlans()
{
    QFETCH(QString, patch);
    QFETCH(QString, wanted);
    QFETCH(QList<RegisterWrite>, expected);
    QFETCH(QString, refusal);
    Values values;
    QString error;
    QVERIFY2(parseAssignments(wanted.split(QLatin1Char('|')), values, error), qPrintable(error));
    const ConsoleState state = plantState(patch);
    const Diff d = diff(state, values);
    if (!refusal.isEmpty()) {
        QVERIFY2(d.plan.refusal.contains(refusal), qPrintable(d.plan.refusal));
        QVERIFY(d.plan.writes.isEmpty());
        return;
    }
    QVERIFY2(!d.plan.refused(), qPrintable(d.plan.refusal));
    QCOMPARE(d.plan.writes, expected);
    QCOMPARE(applyPlan(state, values).writes, expected);
    // A change is listed for each changed key, and only then.
    QCOMPARE(d.changes.isEmpty(), expected.isEmpty());
}

void TestSettingsCatalog::shownValue_data()
{
    QTest::addColumn<QString>("patch");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    // The charge-current limit as its dialog line shows it: 0 is "0", not "0.0".
    QTest::newRow("charge limit off") << "63=0" << "charge_current_limit" << "0";
    QTest::newRow("charge limit 3.5 A") << "63=35" << "charge_current_limit" << "3.5";
    QTest::newRow("lithium limit off") << "62=0" << "lithium_charge_current_limit" << "0.0";
}

void TestSettingsCatalog::shownValue()
{
    QFETCH(QString, patch);
    QFETCH(QString, key);
    QFETCH(QString, text);
    const ConsoleState state = plantState(patch);
    for (const Current &c : currentSettings(state)) {
        if (c.info.key == key)
            QCOMPARE(c.value.text, text);
    }
    const QRegularExpression row(QStringLiteral("\\n%1 +%2 +A ").arg(key, QRegularExpression::escape(text)));
    QVERIFY2(row.match(toText(state)).hasMatch(), qPrintable(toText(state)));
}

void TestSettingsCatalog::inputFileLimit_data()
{
    QTest::addColumn<QString>("path"); // empty: a file of `size` bytes
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("error");
    QTest::newRow("exactly the limit") << "" << inputfile::DocumentLimit << "";
    QTest::newRow("one byte over") << "" << inputfile::DocumentLimit + 1 << "is 1048577 bytes; a file over 1 MB is not read";
    QTest::newRow("a device without end") << "/dev/zero" << qint64(0) << "'/dev/zero' goes on past 1 MB";
    QTest::newRow("missing") << "/nonexistent/x.json" << qint64(0) << "cannot read '/nonexistent/x.json'";
}

void TestSettingsCatalog::inputFileLimit()
{
    QFETCH(QString, path);
    QFETCH(qint64, size);
    QFETCH(QString, error);
    QTemporaryFile file;
    if (path.isEmpty()) {
        QVERIFY(file.open());
        QVERIFY(file.write(QByteArray(size, ' ')) == size);
        file.close();
        path = file.fileName();
    }
    QByteArray bytes;
    QString message;
    QCOMPARE(inputfile::read(path, inputfile::DocumentLimit, bytes, message), error.isEmpty());
    QVERIFY2(message.contains(error), qPrintable(message));
    QCOMPARE(bytes.size(), error.isEmpty() ? size : 0);
}

void TestSettingsCatalog::showThenApplyWritesNothing_data()
{
    QTest::addColumn<QString>("patch");
    QTest::newRow("factory settings") << "";
    QTest::newRow("test mode") << "64=3;60=595";
    QTest::newRow("values outside the dialog's bounds") << "55=300;56=60000;79=0;63=0;69=461";
    QTest::newRow("lists outside their entries") << "64=7;65=2;74=13;70=9;42=5;71=3";
    QTest::newRow("bits without a box, derived bits") << "80=0xFFFF;81=0xFFFF;72=0x40;73=0x8080";
    QTest::newRow("model 1 with TTL type") << "26=1;42=1;88=0x1";
    QTest::newRow("tenths that do not survive times ten") << "56=433;57=563;78=533;68=575";
}

void TestSettingsCatalog::showThenApplyWritesNothing()
{
    QFETCH(QString, patch);
    const ConsoleState state = plantState(patch);
    const QByteArray shown = QJsonDocument(toJson(state)).toJson();
    Values values;
    QString error;
    QVERIFY2(parseDocument(shown, values, error), qPrintable(error));
    QCOMPARE(values.size(), catalog().size());
    const Diff d = diff(state, values);
    QVERIFY2(!d.plan.refused(), qPrintable(d.plan.refusal));
    QCOMPARE(d.plan.writes, QList<RegisterWrite>());
    QVERIFY(d.changes.isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsCatalog)
#include "tst_settingscatalog.moc"
