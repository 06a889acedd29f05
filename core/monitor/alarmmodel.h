#pragma once

#include "app/consolestate.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace qeln {

// The alarms the console interprets: a bit of ALARM1 (status register 15) or ALARM2
// (status register 16), its name from one of the four name tables, the number the alarm
// history records it under (0: none) and its abbreviation in the data-log header.
struct AlarmBit {
    int word;          // 1: ALARM1, 2: ALARM2
    int bit;           // 0..15
    int table;         // 0 AC, 1 output, 2 module, 3 battery
    int slot;          // slot in that table
    int historyCode;   // 0 when the history has none
    const char *legend; // nullptr when the data-log header has none
};

// In the order of the alarm table: ALARM1 bits 0, 1, 2, 5, 6, 8, then ALARM2 bits 1, 3, 5,
// 6, 7, 8, 9, 11, 12, 13.
const std::array<AlarmBit, 16> &alarmBits();

// The name of an alarm bit, from the console state's name tables.
QString alarmName(const ConsoleState &state, const AlarmBit &alarm);

// The name of the alarm the history records under this code (the console's own name
// tables); empty for a code no alarm bit has.
QString alarmNameOfHistoryCode(int code);

// Names of the alarms whose bits are set, in the order of alarmBits().
QStringList activeAlarmNames(const ConsoleState &state, int alarm1, int alarm2);

// One row of the contact-alarm window: its check box, the mask word it reads and the bit.
struct ContactAlarmRow {
    const char *checkBox; // "CheckBox1", ...
    int word;             // 1: mask over ALARM1, 2: mask over ALARM2
    int bit;
    int table;
    int slot;
};
const std::array<ContactAlarmRow, 15> &contactAlarmRows();

// The captions of the dry contacts 1..6 ("AC Fail", ..., "예비 2").
QStringList dryContactCaptions();

// What the contact-alarm window of contact c (SelectedContact = 2(c-1)) shows: one entry per
// row of contactAlarmRows(), ticked when the row's bit is set in the contact's masks.
struct ContactAlarmTick {
    QString caption;
    bool ticked = false;
};
std::array<ContactAlarmTick, 15> contactAlarmTicks(const ConsoleState &state, int selectedContact);

// Captions of the battery-management indicator pairs.
struct BatteryIndicator {
    const char *prefix; // "ImBatt", "ImBattP"
    int number;         // 1..8
    int statusRegister; // 107 or 106
    int bit;
    const char *caption;
    const char *group;  // "알람" or "보호"
};
const std::array<BatteryIndicator, 16> &batteryIndicators();

} // namespace qeln
