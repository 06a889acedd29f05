#pragma once

#include "app/consolestate.h"
#include "config/alarmcontacts.h"
#include "config/writeplan.h"

#include <QString>
#include <QStringList>

namespace qeln::config {

// The controller's alarm test (frmAlarmTest): register 71 switches it on or off, registers 72
// and 73 are the masks of the alarms it covers, in the layout of the alarm words.
inline constexpr int AlarmTestUsedRegister = 71;
inline constexpr int AlarmTestMaskARegister = 72;
inline constexpr int AlarmTestMaskBRegister = 73;

QStringList alarmTestUsedEntries(); // "미사용", "사용"

struct AlarmTestOpening {
    int usedIndex = -1; // position shown in cbbAlarmTestUsed (-1: register 71 outside 0..1)
    AlarmTicks ticks{}; // from registers 72 and 73; derived bits tick nothing
};
AlarmTestOpening alarmTestOpening(const ConsoleState &state);

// Word B with the bits the controller expects beside the ticked ones:
// bit 7 when word A bit 6 or any of word B bits 1, 5, 8, 9, 11, 12, 13 (mask 0x3B22) is set;
// bit 10 with B1; bit 14 with B5; bit 15 with A6.
int withDerivedBits(int wordA, int wordB);
// The two words written for these ticks (word B with its derived bits).
AlarmWords alarmTestWords(const AlarmTicks &ticks);

// "설정": (71, usedIndex) when usedTicked (skipped without a selection), then (72, word A)
// and (73, word B) when masksTicked. The controller receives 73, 72, 71: the masks are in
// place before the test is switched on.
WritePlan alarmTestPlan(bool usedTicked, int usedIndex, bool masksTicked, const AlarmTicks &ticks);

} // namespace qeln::config
