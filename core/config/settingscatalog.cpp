#include "settingscatalog.h"

#include "config/alarmcontacts.h"
#include "config/alarmtest.h"
#include "config/operationsettings.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace qeln::config::settings {

namespace {

const QString OperationDialog = QStringLiteral("frmPoint_Setting");
const QString RepairDialog = QStringLiteral("frmRepair");
const QString DefineDialog = QStringLiteral("frmDefine");
const QString AlarmTestDialog = QStringLiteral("frmAlarmTest");

const QString ContactStateKey = QStringLiteral("contact_normal_state");
const QString AlarmTypeKey = QStringLiteral("alarm_output_type");
const QString AlarmTestKey = QStringLiteral("alarm_test");
const QString AlarmTestAlarmsKey = QStringLiteral("alarm_test_alarms");
constexpr int TestChargeMode = 3; // register 64 in "TEST 모드"
constexpr int TtlAlarmType = 1;   // register 42 with "TTL Level": contacts 5 and 6 are not offered

bool isCommandRow(const OperationSetting &s)
{
    return s.row == ForcedDischargeRow || s.row == TaskFailResetRow;
}

QString contactKey(int contact)
{
    return QStringLiteral("contact_%1_alarms").arg(contact);
}

SettingInfo listInfo(const QString &key, const QString &caption, const QString &dialog, int reg,
                     const QStringList &entries)
{
    SettingInfo i;
    i.key = key;
    i.kind = Kind::List;
    i.caption = caption.trimmed();
    i.dialog = dialog;
    i.registers = {reg};
    i.entries = entries;
    i.range = entries.join(QStringLiteral(" | "));
    return i;
}

SettingInfo alarmSetInfo(const QString &key, const QString &caption, const QString &dialog,
                         QList<int> registers)
{
    SettingInfo i;
    i.key = key;
    i.kind = Kind::AlarmSet;
    i.caption = caption;
    i.dialog = dialog;
    i.registers = std::move(registers);
    i.entries = alarmKeys();
    i.range = QStringLiteral("alarm keys");
    return i;
}

QList<SettingInfo> buildCatalog(bool testMode)
{
    QList<SettingInfo> list;
    for (const OperationSetting &s : operationSettings(testMode)) {
        if (isCommandRow(s))
            continue;
        if (s.isList()) {
            SettingInfo i = listInfo(s.key, s.caption, OperationDialog, s.registerAddress, s.entries);
            i.unit = s.unit;
            list << i;
            continue;
        }
        SettingInfo i;
        i.key = s.key;
        i.kind = Kind::Number;
        i.unit = s.unit;
        i.caption = s.caption.trimmed();
        i.dialog = OperationDialog;
        i.registers = {s.registerAddress};
        i.range = rangeText(s);
        i.tenths = s.encoding == Encoding::Tenths ? 1 : 0;
        list << i;
    }
    list << listInfo(ContactStateKey, dryContactCaption(), RepairDialog, DryContactRegister,
                     dryContactEntries());
    list << listInfo(AlarmTypeKey, alarmTypeCaption(), RepairDialog, AlarmTypeRegister,
                     alarmTypeEntries());
    for (const DryContact &c : dryContacts()) {
        list << alarmSetInfo(contactKey(c.number), c.caption, DefineDialog,
                             {80 + c.selectedContact, 81 + c.selectedContact});
    }
    list << listInfo(AlarmTestKey, QStringLiteral("경보시험"), AlarmTestDialog,
                     AlarmTestUsedRegister, alarmTestUsedEntries());
    list << alarmSetInfo(AlarmTestAlarmsKey, QStringLiteral("경보시험 설정 내용"), AlarmTestDialog,
                         {AlarmTestMaskARegister, AlarmTestMaskBRegister});
    return list;
}

int reg(const ConsoleState &state, int address)
{
    return address >= 1 && address <= StatusRegisterSlots ? state.StatusRegisters[size_t(address - 1)] : 0;
}

QStringList keysOf(const AlarmTicks &ticks)
{
    QStringList keys;
    const auto &boxes = alarmBoxes();
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (ticks[i])
            keys << boxes[qsizetype(i)].key;
    }
    return keys;
}

AlarmTicks ticksOf(const QStringList &keys)
{
    AlarmTicks t = noneTicked();
    for (const QString &k : keys) {
        const int i = alarmBoxIndex(k);
        if (i >= 0)
            t[size_t(i)] = true;
    }
    return t;
}

Value listValue(const QStringList &entries, int index)
{
    Value v;
    if (index >= 0 && index < entries.size())
        v.text = entries[index];
    else
        v.null = true;
    return v;
}

Value alarmValue(const AlarmTicks &ticks)
{
    Value v;
    v.alarms = keysOf(ticks);
    return v;
}

QString numberText(const SettingInfo &info, int registerValue)
{
    return info.tenths ? QString::number(registerValue / 10.0, 'f', 1) : QString::number(registerValue);
}

struct Planner {
    const ConsoleState &state;
    const Values &wanted;
    Diff result;

    const Value *want(const QString &key) const
    {
        const auto it = wanted.constFind(key);
        return it == wanted.cend() || it->null ? nullptr : &*it;
    }

    void change(const QString &key, const QString &from, const QString &to)
    {
        const SettingInfo *info = findSetting(key);
        result.changes << Change{key, from, to, info ? info->unit : QString()};
    }

    int listIndex(const SettingInfo &info, const Value &v, QString &error) const
    {
        const int index = int(info.entries.indexOf(v.text));
        if (index < 0)
            error = QStringLiteral("%1: '%2' is not one of: %3").arg(info.key, v.text, info.range);
        return index;
    }

    // The number the operator typed, compared with the register as the line shows it.
    static bool sameNumber(const OperationSetting &s, const QString &text, int registerValue)
    {
        if (s.encoding == Encoding::Tenths) {
            bool ok = false;
            const double d = QLocale::c().toDouble(text.trimmed(), &ok);
            return ok && std::isfinite(d) && std::fabs(d * 10.0 - registerValue) < 1e-6;
        }
        bool ok = false;
        const long long n = text.trimmed().toLongLong(&ok, 10);
        return ok && n == registerValue;
    }

    // Whether the output voltage has the bounds of "TEST 모드" once the document is applied:
    // the charge mode it sets, else the one the controller has.
    bool testModeAfter() const
    {
        const OperationSetting &mode = operationSettings()[ChargeModeRow - 1];
        if (const Value *w = want(mode.key)) {
            const qsizetype index = mode.entries.indexOf(w->text);
            if (index >= 0)
                return index + 1 == TestChargeMode;
        }
        return testModeAtOpening(state);
    }

    // A number the register cannot hold as typed: finer than its tenths or whole units. The
    // dialog's encoding would cut it (3.99 A becomes 3.9 A) and report success.
    static QString stepRefusal(const OperationSetting &s, const QString &text)
    {
        bool ok = false;
        const double d = QLocale::c().toDouble(text.trimmed(), &ok);
        if (!ok || !std::isfinite(d))
            return QString(); // the dialog's own conversion message follows
        const double units = s.encoding == Encoding::Tenths ? d * 10.0 : d;
        if (std::fabs(units) > 1e12 || std::fabs(units - std::round(units)) < 1e-6)
            return QString(); // whole, or far outside any range: the range check names it
        return QStringLiteral("%1%2: this setting takes steps of %3%2")
            .arg(text.trimmed(), s.unit.isEmpty() ? QString() : QLatin1Char(' ') + s.unit,
                 s.encoding == Encoding::Tenths ? QStringLiteral("0.1") : QStringLiteral("1"));
    }

    bool operation(WritePlan &out, QString &error)
    {
        const bool testMode = testModeAfter();
        const auto &table = operationSettings(testMode);
        OperationValues values = initialValues(state);
        QList<bool> ticked(table.size(), false);
        for (qsizetype i = 0; i < table.size(); ++i) {
            const OperationSetting &s = table[i];
            const Value *w = isCommandRow(s) ? nullptr : want(s.key);
            if (!w)
                continue;
            const SettingInfo info = *findSetting(s.key);
            const int current = reg(state, s.registerAddress);
            if (s.isList()) {
                const int index = listIndex(info, *w, error);
                if (index < 0)
                    return false;
                if (index == values[i].index)
                    continue;
                change(s.key, displayText(listValue(s.entries, values[i].index), Kind::List), w->text);
                values[i].index = index;
                ticked[i] = true;
                continue;
            }
            if (sameNumber(s, w->text, current))
                continue;
            if (const QString step = stepRefusal(s, w->text); !step.isEmpty()) {
                error = QStringLiteral("%1: %2").arg(s.key, step);
                return false;
            }
            // The line alone through the dialog's plan: its conversion, range and register
            // checks, and the value it would write.
            QList<bool> one(table.size(), false);
            one[i] = true;
            OperationValues typed = values;
            typed[i].text = w->text;
            const WritePlan single = plan(one, typed, testMode);
            if (single.refused()) {
                error = QStringLiteral("%1: %2").arg(s.key, single.refusal);
                return false;
            }
            if (single.writes.size() == 1 && single.writes.first().value == current)
                continue;
            change(s.key, numberText(info, current), w->text);
            values[i].text = w->text;
            ticked[i] = true;
        }
        out = plan(ticked, values, testMode);
        if (out.refused()) {
            error = out.refusal;
            return false;
        }
        return true;
    }

    bool repair(WritePlan &out, QString &error)
    {
        const RepairOpening opening = repairOpening(state);
        int stateIndex = opening.dryContactIndex;
        int typeIndex = opening.alarmTypeIndex;
        bool stateChanged = false;
        bool typeChanged = false;
        if (const Value *w = want(ContactStateKey)) {
            const int index = listIndex(*findSetting(ContactStateKey), *w, error);
            if (index < 0)
                return false;
            if (index != stateIndex) {
                change(ContactStateKey, displayText(listValue(dryContactEntries(), stateIndex), Kind::List), w->text);
                stateIndex = index;
                stateChanged = true;
            }
        }
        if (const Value *w = want(AlarmTypeKey)) {
            const int index = listIndex(*findSetting(AlarmTypeKey), *w, error);
            if (index < 0)
                return false;
            if (index != typeIndex) {
                if (!opening.alarmTypeVisible) {
                    error = QStringLiteral("%1: the alarm output type exists only on models 3 and 4; "
                                           "this controller is model %2")
                                .arg(AlarmTypeKey)
                                .arg(state.ModelCode());
                    return false;
                }
                change(AlarmTypeKey, displayText(listValue(alarmTypeEntries(), typeIndex), Kind::List), w->text);
                typeIndex = index;
                typeChanged = true;
            }
        }
        out = repairPlan(stateChanged, stateIndex, typeChanged, typeIndex);
        return true;
    }

    // Whether contacts 5 and 6 are offered once the document is applied: on models 3 and 4
    // not with the alarm output type "TTL Level", the type the document sets or else the one
    // the controller has.
    bool spareContactsAfter() const
    {
        const RepairOpening opening = repairOpening(state);
        if (!opening.alarmTypeVisible)
            return opening.spareContactsVisible;
        int typeIndex = opening.alarmTypeIndex;
        if (const Value *w = want(AlarmTypeKey); w && alarmTypeEntries().contains(w->text))
            typeIndex = int(alarmTypeEntries().indexOf(w->text));
        return typeIndex != TtlAlarmType;
    }

    bool contacts(WritePlan &out, QString &error)
    {
        const bool spareContacts = spareContactsAfter();
        for (const DryContact &c : dryContacts()) {
            const QString key = contactKey(c.number);
            const Value *w = want(key);
            if (!w)
                continue;
            const AlarmTicks ticks = ticksOf(w->alarms);
            const AlarmTicks current = initialContactTicks(state, c.selectedContact);
            if (ticks == current)
                continue;
            if (c.number >= 5 && !spareContacts) {
                error = QStringLiteral("%1: contact %2 (%3) is not offered while the alarm output type "
                                       "is \"TTL Level\"")
                            .arg(key)
                            .arg(c.number)
                            .arg(c.caption);
                return false;
            }
            change(key, displayText(alarmValue(current), Kind::AlarmSet), displayText(alarmValue(ticks), Kind::AlarmSet));
            const WritePlan p = definePlan(c.selectedContact, ticks);
            if (p.refused()) {
                error = p.refusal;
                return false;
            }
            out.writes << p.writes;
        }
        return true;
    }

    bool alarmTest(WritePlan &out, QString &error)
    {
        const AlarmTestOpening opening = alarmTestOpening(state);
        int usedIndex = opening.usedIndex;
        bool usedChanged = false;
        AlarmTicks ticks = opening.ticks;
        bool masksChanged = false;
        if (const Value *w = want(AlarmTestKey)) {
            const int index = listIndex(*findSetting(AlarmTestKey), *w, error);
            if (index < 0)
                return false;
            if (index != usedIndex) {
                change(AlarmTestKey, displayText(listValue(alarmTestUsedEntries(), usedIndex), Kind::List), w->text);
                usedIndex = index;
                usedChanged = true;
            }
        }
        if (const Value *w = want(AlarmTestAlarmsKey)) {
            const AlarmTicks wantedTicks = ticksOf(w->alarms);
            if (wantedTicks != ticks) {
                change(AlarmTestAlarmsKey, displayText(alarmValue(ticks), Kind::AlarmSet),
                       displayText(alarmValue(wantedTicks), Kind::AlarmSet));
                ticks = wantedTicks;
                masksChanged = true;
            }
        }
        out = alarmTestPlan(usedChanged, usedIndex, masksChanged, ticks);
        return true;
    }

    void run()
    {
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
            if (!findSetting(it.key())) {
                result.plan = WritePlan::refuse(unknownKeyMessage(it.key()));
                return;
            }
        }
        WritePlan test, op, rep, def;
        QString error;
        if (!alarmTest(test, error) || !operation(op, error) || !repair(rep, error)
            || !contacts(def, error)) {
            result.changes.clear();
            result.plan = WritePlan::refuse(error);
            return;
        }
        result.plan.writes = test.writes + op.writes + rep.writes + def.writes;
        // Changes in document order.
        const QList<SettingInfo> order = catalog();
        std::stable_sort(result.changes.begin(), result.changes.end(), [&](const Change &a, const Change &b) {
            const auto pos = [&](const QString &k) {
                return std::find_if(order.begin(), order.end(), [&](const SettingInfo &i) { return i.key == k; })
                       - order.begin();
            };
            return pos(a.key) < pos(b.key);
        });
    }
};

} // namespace

QStringList alarmKeys()
{
    QStringList keys;
    for (const AlarmBox &b : alarmBoxes())
        keys << b.key;
    return keys;
}

QList<SettingInfo> catalog(bool testMode)
{
    static const QList<SettingInfo> normal = buildCatalog(false);
    static const QList<SettingInfo> test = buildCatalog(true);
    return testMode ? test : normal;
}

const SettingInfo *findSetting(const QString &key)
{
    static const QList<SettingInfo> all = buildCatalog(false);
    for (const SettingInfo &i : all) {
        if (i.key == key)
            return &i;
    }
    return nullptr;
}

QList<Current> currentSettings(const ConsoleState &state)
{
    const bool testMode = testModeAtOpening(state);
    const RepairOpening repair = repairOpening(state);
    const AlarmTestOpening test = alarmTestOpening(state);
    QList<Current> list;
    for (const SettingInfo &info : catalog(testMode)) {
        Current c;
        c.info = info;
        for (int r : info.registers)
            c.raw << reg(state, r);
        if (info.dialog == OperationDialog) {
            const OperationSetting *s = findOperationSetting(info.key, testMode);
            if (info.kind == Kind::List)
                c.value = listValue(info.entries, openingValue(*s, c.raw.first()).index);
            else if (s->opening == OpeningFill::TenthsTextZeroPlain)
                c.value.text = openingValue(*s, c.raw.first()).text; // 0 reads "0", as in the dialog
            else
                c.value.text = numberText(info, c.raw.first());
        } else if (info.key == ContactStateKey) {
            c.value = listValue(info.entries, repair.dryContactIndex);
        } else if (info.key == AlarmTypeKey) {
            c.value = listValue(info.entries, repair.alarmTypeIndex);
        } else if (info.key == AlarmTestKey) {
            c.value = listValue(info.entries, test.usedIndex);
        } else if (info.key == AlarmTestAlarmsKey) {
            c.value = alarmValue(test.ticks);
        } else {
            c.value = alarmValue(initialContactTicks(state, info.registers.first() - 80));
        }
        list << c;
    }
    return list;
}

Diff diff(const ConsoleState &current, const Values &wanted)
{
    Planner p{current, wanted, {}};
    p.run();
    return p.result;
}

WritePlan applyPlan(const ConsoleState &current, const Values &wanted)
{
    return diff(current, wanted).plan;
}

QString keyOfRegister(int address)
{
    for (const SettingInfo &i : catalog()) {
        if (i.registers.contains(address))
            return i.key;
    }
    return QString();
}

} // namespace qeln::config::settings
