#include "moduletree.h"

#include "statusview.h"

namespace qeln {

namespace {

enum Group { AcGroup, OutputGroup, ModuleGroup, BatteryGroup };

// The battery group shows an alarm for these ALARM2 bits (BMS alarm, bit 7, is not one).
constexpr int BatteryGroupMask = 0x2F62;

const AlarmNameTable &groupTable(const ConsoleState &s, int group)
{
    switch (group) {
    case AcGroup:
        return s.AcAlarms;
    case OutputGroup:
        return s.OutputAlarms;
    case ModuleGroup:
        return s.ModuleAlarms;
    default:
        return s.BatteryAlarms;
    }
}

// The alarm bit that a line of a group watches: ALARM1 bits as 0..15, ALARM2 bits as 16..31;
// -1 for none.
int childBit(int group, int slot)
{
    switch (group) {
    case AcGroup:
        return 0;
    case OutputGroup: {
        static constexpr int bits[] = {1, 2, 5};
        return slot < 3 ? bits[slot] : -1;
    }
    case ModuleGroup:
        return slot == 0 ? 8 : slot == 1 ? 16 + 3 : -1;
    default: {
        // Battery OverCharge, Discharge, Charge OverCurrent, Discharge OverCurrent, Quality
        // Low, Temperature High, Temperature Low, Disconnect, Cell Fail, BMS Alarm.
        static constexpr int bits[] = {16 + 8, 16 + 1, 16 + 9, 16 + 11, 16 + 5, 16 + 12, 16 + 13, 6, 16 + 6, 16 + 7};
        return slot < 10 ? bits[slot] : -1;
    }
    }
}

} // namespace

ModuleTree::ModuleTree(const ConsoleState &state, QObject *parent)
    : QObject(parent), s_(state)
{
    blinkTimer_.setInterval(1000);
    connect(&blinkTimer_, &QTimer::timeout, this, &ModuleTree::onBlinkTick);
}

void ModuleTree::statusStep()
{
    const int batteryUse = statusRegister(s_, 66);
    if (TreeState == 1) {
        TreeState = 2;
        TreeBatteryUse = batteryUse;
        build();
        blinkTimer_.start();
    } else if (TreeState == 0) {
        TreeState = 1;
    }
    if (TreeState == 3 && batteryUse != TreeBatteryUse) {
        TreeState = 0;
        TreeBatteryUse = batteryUse;
        ClearModuleTree();
    }
}

void ModuleTree::onBlinkTick()
{
    const std::uint16_t words[2] = {std::uint16_t(statusRegister(s_, 15)), std::uint16_t(statusRegister(s_, 16))};
    if (TreeState == 2 && TreeBuilt) {
        TreeState = 3;
        for (int i = 0; i < 2; ++i)
            AlarmSeen[size_t(i)] = words[i] & AlarmWatchMask[size_t(i)];
        RefreshModuleTree();
    }
    bool changed = false;
    for (int i = 0; i < 2; ++i) {
        const std::uint16_t masked = words[i] & AlarmWatchMask[size_t(i)];
        if (masked != AlarmSeen[size_t(i)]) {
            AlarmSeen[size_t(i)] = masked;
            changed = true;
        }
    }
    if (changed && TreeBuilt)
        RefreshModuleTree();
}

void ModuleTree::build()
{
    if (TreeExists)
        ClearModuleTree();
    TreeExists = true;
    const bool battery = statusRegister(s_, 66) == 1;

    nodes_.append({QStringLiteral("Alarm그룹"), 0, -1, false});
    rules_.append({0, 0, 0});
    static const char *const groupTexts[] = {"교류입력", "직류출력", "정류모듈", "축전지"};
    const int groups = battery ? 4 : 3;
    for (int g = 0; g < groups; ++g) {
        const int groupIndex = int(nodes_.size());
        nodes_.append({QString::fromUtf8(groupTexts[g]), 1, 0, false});
        rules_.append({1, g, 0});
        const AlarmNameTable &table = groupTable(s_, g);
        for (int slot = 0; slot <= table.lastIndex && slot < table.names.size(); ++slot) {
            nodes_.append({table.names.at(slot), 2, groupIndex, false});
            rules_.append({2, g, slot});
        }
    }
    for (int i = 0; i < nodes_.size(); ++i)
        nodes_[i].alarm = alarmOf(i);
    TreeBuilt = true;
    Q_EMIT built();
}

void ModuleTree::ClearModuleTree()
{
    TreeExists = false;
    nodes_.clear();
    rules_.clear();
    Q_EMIT cleared();
}

void ModuleTree::RefreshModuleTree()
{
    // Only the lines of a tree that exists: after a clear there is nothing to refresh until
    // the next build.
    if (!TreeExists)
        return;
    bool changed = false;
    for (int i = 0; i < nodes_.size(); ++i) {
        const bool alarm = alarmOf(i);
        if (nodes_[i].alarm != alarm) {
            nodes_[i].alarm = alarm;
            changed = true;
        }
    }
    if (changed)
        Q_EMIT iconsChanged();
}

bool ModuleTree::alarmOf(int node) const
{
    const int alarm1 = statusRegister(s_, 15);
    const int alarm2 = statusRegister(s_, 16);
    const NodeRule &r = rules_.at(node);
    if (r.kind == 0)
        return (alarm1 & AlarmWatchMask[0]) != 0 || (alarm2 & AlarmWatchMask[1]) != 0;
    if (r.kind == 1) {
        switch (r.group) {
        case AcGroup:
            return alarm1 & 0x0001;
        case OutputGroup:
            return alarm1 & 0x0006;
        case ModuleGroup:
            return (alarm1 & 0x0100) || (alarm2 & 0x0008);
        default:
            return alarm2 & BatteryGroupMask;
        }
    }
    const int bit = childBit(r.group, r.slot);
    if (bit < 0)
        return false;
    return bit < 16 ? (alarm1 >> bit) & 1 : (alarm2 >> (bit - 16)) & 1;
}

} // namespace qeln
