#pragma once

#include "link/statusblock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace qeln {

// One of the four alarm name tables, with the index of its last entry.
struct AlarmNameTable {
    QStringList names;
    int lastIndex = -1;
};

// The state of one console (one controller): the status block as last decoded and the texts
// shown from it. The link engine fills the status block; the windows and the dialogs read it.
// The link engine keeps the link choice, its scheduler and reception to itself. Every access
// happens on the thread of the engine. The names are the system's own; the bytes of the wire
// and of the controller's texts stay bytes.
struct ConsoleState : StatusBlock {
    ConsoleState();

    // The values at start: the status block layout, the alarm name tables.
    void initialise();

    // Texts kept by the status decode (empty at start).
    QString ModelText;          // from ModelCode, status register 26
    QString SetVoltageText;     // register 61 as the decode shows it
    QString AlarmWordsText;     // "0001 0080": ALARM1 and ALARM2 in hexadecimal
    QString LastAlarmWordsText; // AlarmWordsText when it last changed
    QString StatusTimeText;     // status-bar panel 1: "[  2024-03-07  09:05:00 ]"
    QString StatusFirmwareText; // status-bar panel 0: ModelText + the firmware text

    AlarmNameTable AcAlarms;
    AlarmNameTable OutputAlarms;
    AlarmNameTable ModuleAlarms;
    AlarmNameTable BatteryAlarms;
};

} // namespace qeln
