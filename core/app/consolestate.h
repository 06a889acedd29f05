#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace qeln {

// Size of the write queue: a settings dialog never queues more entries than this.
inline constexpr int WriteQueueCapacity = 100;
inline constexpr int StatusRegisterSlots = 131;

// One of the four alarm name tables, with the index of its last entry.
struct AlarmNameTable {
    QStringList names;
    int lastIndex = -1;
};

// The state of one console (one controller): the link chosen, the status block as last
// decoded and the texts shown from it. The link engine fills it; the windows and the
// dialogs read it. The link engine keeps its scheduler and reception to itself. Every access
// happens on the thread of the engine. The names are the system's own; the bytes of the wire
// and of the controller's texts stay bytes.
struct ConsoleState {
    ConsoleState();

    // The values at start: serial link, the status block layout, the alarm name tables.
    void initialise();

    std::uint8_t LinkIsTcp = 0;        // 0 serial, 1 TCP, 2 not chosen yet (behaves as TCP)
    std::uint8_t LinkChoice = 0;
    std::uint8_t SerialPortOpen = 0;
    std::int32_t StatusRegisterCount = 131;
    std::int32_t StatusFrameLength = 535;
    QByteArray StatusByteCountHex = "06";
    std::int32_t HistoryRecordLength = 43;

    // The 131 registers of the last status response; entry n-1 holds register n.
    std::array<std::int32_t, StatusRegisterSlots> StatusRegisters{};

    // Texts kept by the status decode (empty at start).
    QString ModelText;          // from ModelCode, status register 26
    QString SetVoltageText;     // register 61 as the decode shows it
    QString AlarmWordsText;     // "0001 0080": ALARM1 and ALARM2 in hexadecimal
    QString LastAlarmWordsText; // AlarmWordsText when it last changed
    QString StatusTimeText;     // status-bar panel 1: "[  2024-03-07  09:05:00 ]"
    QString StatusFirmwareText; // status-bar panel 0: ModelText + the firmware text
    // Registers 80..91 of the last decode: the alarm masks of the six dry contacts.
    std::array<std::int32_t, 12> ContactAlarmMasks{};
    int ModelCode() const { return StatusRegisters[25]; }

    AlarmNameTable AcAlarms;
    AlarmNameTable OutputAlarms;
    AlarmNameTable ModuleAlarms;
    AlarmNameTable BatteryAlarms;
};

} // namespace qeln
