#include "alarmcontacts.h"

#include "monitor/alarmmodel.h"

namespace qeln::config {

namespace {

// Stable names for the command line, in screen order.
const char *const BoxKeys[AlarmBoxCount] = {
    "ac_input_fail",       "output_voltage_high",     "output_voltage_low",
    "dc_over_current",     "module_fail",             "battery_disconnect",
    "battery_discharge",   "temperature_high",        "battery_quality_low",
    "battery_cell_fail",   "battery_overcharge",      "battery_charge_overcurrent",
    "battery_discharge_overcurrent", "battery_temperature_high", "battery_temperature_low",
};

AlarmTicks ticksOf(std::initializer_list<const char *> keys)
{
    AlarmTicks t = noneTicked();
    for (const char *k : keys)
        t[size_t(alarmBoxIndex(QLatin1String(k)))] = true;
    return t;
}

int positionIn(int value, const QStringList &entries)
{
    return value >= 0 && value < entries.size() ? value : -1;
}

} // namespace

QList<AlarmBox> alarmBoxes(const ConsoleState &state)
{
    QList<AlarmBox> boxes;
    const auto &rows = contactAlarmRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const ContactAlarmRow &r = rows[i];
        AlarmBox b;
        b.objectName = r.checkBox;
        b.word = r.word;
        b.bit = r.bit;
        b.caption = alarmName(state, AlarmBit{r.word, r.bit, r.table, r.slot, 0, nullptr});
        b.key = QLatin1String(BoxKeys[i]);
        boxes << b;
    }
    return boxes;
}

const QList<AlarmBox> &alarmBoxes()
{
    static const ConsoleState tables;
    static const QList<AlarmBox> boxes = alarmBoxes(tables);
    return boxes;
}

int alarmBoxIndex(const QString &keyOrObjectName)
{
    const auto &boxes = alarmBoxes();
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        if (boxes[i].key == keyOrObjectName
            || QLatin1String(boxes[i].objectName) == keyOrObjectName)
            return int(i);
    }
    return -1;
}

AlarmWords wordsFromTicks(const AlarmTicks &ticks)
{
    AlarmWords w;
    const auto &boxes = alarmBoxes();
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (!ticks[i])
            continue;
        const AlarmBox &b = boxes[qsizetype(i)];
        (b.word == 1 ? w.a : w.b) |= 1 << b.bit;
    }
    return w;
}

AlarmTicks ticksFromWords(int wordA, int wordB)
{
    AlarmTicks t = noneTicked();
    const auto &boxes = alarmBoxes();
    for (size_t i = 0; i < t.size(); ++i) {
        const AlarmBox &b = boxes[qsizetype(i)];
        t[i] = ((b.word == 1 ? wordA : wordB) & (1 << b.bit)) != 0;
    }
    return t;
}

AlarmTicks allTicked()
{
    AlarmTicks t;
    t.fill(true);
    return t;
}

AlarmTicks noneTicked()
{
    AlarmTicks t;
    t.fill(false);
    return t;
}

const QList<DryContact> &dryContacts()
{
    static const QList<DryContact> contacts = [] {
        static const char *const labels[] = {"Label1", "Label2", "Label3",
                                             "Label4", "Label5", "Label6"};
        const QStringList captions = dryContactCaptions();
        QList<DryContact> list;
        for (int c = 1; c <= 6; ++c)
            list << DryContact{c, labels[c - 1], captions.value(c - 1), 2 * (c - 1)};
        return list;
    }();
    return contacts;
}

bool isSelectedContact(int selectedContact)
{
    return selectedContact >= 0 && selectedContact <= 10 && selectedContact % 2 == 0;
}

AlarmTicks contactDefaults(int contact)
{
    switch (contact) {
    case 1:
        return ticksOf({"ac_input_fail"});
    case 2:
        return ticksOf({"output_voltage_high", "output_voltage_low", "dc_over_current",
                        "battery_discharge"});
    case 3:
        return ticksOf({"module_fail", "temperature_high"});
    case 4:
        return ticksOf({"battery_disconnect", "battery_quality_low", "battery_cell_fail",
                        "battery_overcharge", "battery_charge_overcurrent",
                        "battery_discharge_overcurrent", "battery_temperature_high",
                        "battery_temperature_low"});
    default:
        return noneTicked();
    }
}

AlarmTicks initialContactTicks(const ConsoleState &state, int selectedContact)
{
    if (!isSelectedContact(selectedContact))
        return noneTicked();
    return ticksFromWords(state.ContactAlarmMasks[size_t(selectedContact)],
                          state.ContactAlarmMasks[size_t(selectedContact) + 1]);
}

WritePlan definePlan(int selectedContact, const AlarmTicks &ticks)
{
    if (!isSelectedContact(selectedContact))
        return WritePlan::refuse(
            QStringLiteral("No dry contact %1; nothing was sent.").arg(selectedContact));
    const AlarmWords w = wordsFromTicks(ticks);
    WritePlan p;
    p.writes << RegisterWrite{80 + selectedContact, w.a} << RegisterWrite{81 + selectedContact, w.b};
    return p;
}

QString dryContactCaption()
{
    return QStringLiteral("경보접점 상태");
}

QStringList dryContactEntries()
{
    return {QStringLiteral("정상 Open"), QStringLiteral("정상 Close")};
}

QString alarmTypeCaption()
{
    return QStringLiteral("경보송출 타입");
}

QStringList alarmTypeEntries()
{
    return {QStringLiteral("Dry Contact"), QStringLiteral("TTL Level")};
}

RepairOpening repairOpening(const ConsoleState &state)
{
    RepairOpening o;
    const int model = state.ModelCode();
    const int alarmType = state.StatusRegisters[AlarmTypeRegister - 1];
    if (model == 3 || model == 4) {
        o.spareContactsVisible = alarmType != 1;
        o.alarmTypeVisible = true;
    } else {
        o.spareContactsVisible = true;
        o.alarmTypeVisible = false;
    }
    o.dryContactIndex = positionIn(state.StatusRegisters[DryContactRegister - 1], dryContactEntries());
    o.alarmTypeIndex = positionIn(alarmType, alarmTypeEntries());
    return o;
}

WritePlan repairPlan(bool dryContactTicked, int dryContactIndex, bool alarmTypeTicked,
                     int alarmTypeIndex)
{
    WritePlan p;
    if (dryContactTicked && positionIn(dryContactIndex, dryContactEntries()) >= 0)
        p.writes << RegisterWrite{DryContactRegister, dryContactIndex};
    if (alarmTypeTicked && positionIn(alarmTypeIndex, alarmTypeEntries()) >= 0)
        p.writes << RegisterWrite{AlarmTypeRegister, alarmTypeIndex};
    return p;
}

} // namespace qeln::config
