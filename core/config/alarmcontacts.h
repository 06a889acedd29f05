#pragma once

#include "app/consolestate.h"
#include "config/writeplan.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace qeln::config {

// The fifteen alarm check boxes shared by the contact alarm assignment (frmDefine) and the
// alarm test (frmAlarmTest), in screen order. Check box n stands for bit n-1 of word A (a
// mask over ALARM1, n = 1..16) or bit n-17 of word B (a mask over ALARM2, n = 17..32).
struct AlarmBox {
    const char *objectName = nullptr; // "CheckBox1", ...
    int word = 1;                     // 1: word A, 2: word B
    int bit = 0;
    QString caption;                  // from the console's alarm name tables
    QString key;                      // snake_case, for qeln-cli ("battery_disconnect")
};

inline constexpr int AlarmBoxCount = 15;
using AlarmTicks = std::array<bool, AlarmBoxCount>; // screen order

// The boxes with captions from the given console's name tables.
QList<AlarmBox> alarmBoxes(const ConsoleState &state);
// The boxes with the name tables every console starts with.
const QList<AlarmBox> &alarmBoxes();
// Position of the box with this key or object name, or -1.
int alarmBoxIndex(const QString &keyOrObjectName);

struct AlarmWords {
    int a = 0; // over ALARM1
    int b = 0; // over ALARM2
    friend bool operator==(const AlarmWords &, const AlarmWords &) = default;
};

// The words the ticked boxes make (bits without a box are 0), and back (bits without a box
// tick nothing).
AlarmWords wordsFromTicks(const AlarmTicks &ticks);
AlarmTicks ticksFromWords(int wordA, int wordB);
AlarmTicks allTicked();
AlarmTicks noneTicked();

// The six dry contacts as frmRepair shows them.
struct DryContact {
    int number = 0;          // 1..6
    const char *label = nullptr; // "Label1".."Label6"
    QString caption;         // "AC Fail", ..., "예비 2"
    int selectedContact = 0; // 2 * (number - 1)
};
const QList<DryContact> &dryContacts();
// SelectedContact is one of 0, 2, ..., 10.
bool isSelectedContact(int selectedContact);

// frmDefine's "기본값" for contact 1..6 (nothing ticked for a number outside 1..6).
AlarmTicks contactDefaults(int contact);
// frmDefine at opening: the contact's masks from ContactAlarmMasks.
AlarmTicks initialContactTicks(const ConsoleState &state, int selectedContact);
// frmDefine "설정": (80 + SelectedContact, word A), (81 + SelectedContact, word B); both
// always, word B reaches the controller first. Refused for a SelectedContact that is not a
// contact.
WritePlan definePlan(int selectedContact, const AlarmTicks &ticks);

// frmRepair's option lines.
inline constexpr int DryContactRegister = 70;
inline constexpr int AlarmTypeRegister = 42;
QString dryContactCaption();       // "경보접점 상태"
QStringList dryContactEntries();   // "정상 Open", "정상 Close"
QString alarmTypeCaption();        // "경보송출 타입"
QStringList alarmTypeEntries();    // "Dry Contact", "TTL Level"

struct RepairOpening {
    bool spareContactsVisible = true; // Label5, Label6
    bool alarmTypeVisible = false;    // ckbAlmType, cbbAlmType
    int dryContactIndex = -1;         // position shown in cbbDryContact (-1: none)
    int alarmTypeIndex = -1;          // position shown in cbbAlmType (-1: none)
};
// Models 3 and 4 show the alarm-type line and hide contacts 5 and 6 while register 42 is 1;
// every other model shows contacts 5 and 6 and hides the alarm-type line.
RepairOpening repairOpening(const ConsoleState &state);

// frmRepair "설정": (70, dry contact position) if ticked, then (42, alarm type position) if
// ticked, so register 42 reaches the controller first. A list without a selection is
// skipped.
WritePlan repairPlan(bool dryContactTicked, int dryContactIndex, bool alarmTypeTicked,
                     int alarmTypeIndex);

} // namespace qeln::config
