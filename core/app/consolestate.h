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

// RequestState values in use.
enum RequestStateValue : std::uint8_t {
    StatePoll = 0,
    StateIpRead = 2,
    StateSerialHistoryRecords = 10,
    StateSerialEventRecords = 11,
    StateWrite = 20,
    StateIpWrite = 21,
    StateTcpHistory = 22,
    StateHistoryInit = 23,
};

// One of the four alarm name tables, with the index of its last entry.
struct AlarmNameTable {
    QStringList names;
    int lastIndex = -1;
};

// The process-wide console state: the variables through which the link engine, the
// windows and the dialogs cooperate. Every access happens on the GUI thread. The names
// are the system's own; the bytes of the wire and of the controller's texts stay bytes.
struct ConsoleState {
    ConsoleState();

    // Creation steps 1-4 of the main window (step 5 hides widgets and belongs to the UI).
    void initialise();

    std::uint8_t RequestState = 0;
    std::uint8_t LinkIsTcp = 0;        // 0 serial, 1 TCP, 2 not chosen yet (behaves as TCP)
    std::uint8_t LinkChoice = 0;
    std::uint8_t SerialPortOpen = 0;
    std::uint8_t PollReady = 1;
    std::uint8_t ResponseTimer = 0;    // unsigned byte: 0 - 1 gives 255
    std::int32_t TransactionId = 0;
    std::int32_t FrameFunction = 0;
    std::uint8_t RxState = 0;
    QByteArray RxFrame;
    std::uint8_t FrameComplete = 0;
    std::uint8_t FrameReady = 0;
    QByteArray LastFrame;
    QByteArray ResponseText;
    QByteArray FunctionCodeText;
    std::int32_t StatusRegisterCount = 131;
    QByteArray StatusCountHex = "0083";
    std::int32_t StatusFrameLength = 535;
    QByteArray StatusByteCountHex = "06";
    std::int32_t HistoryRecordLength = 43;
    std::int32_t PendingWriteAddr = 0;
    std::int32_t PendingWriteValue = 0;
    std::uint8_t HistoryMode = 0;
    std::int32_t HistoryRequestKind = 0;
    std::int32_t HistoryRecordIndex = 0;
    std::int32_t RecordTotal = 0;
    std::int32_t RecordIndex = 0;
    QByteArray IpSettingsPayload;
    std::array<std::int32_t, WriteQueueCapacity> WriteAddr{};
    std::array<std::int32_t, WriteQueueCapacity> WriteValue{};
    std::int32_t WriteCount = 0;
    std::int32_t AlarmTestBlinkCount = 0;

    // History download state (filled in by the history download).
    std::uint8_t HistoryDownloadActive = 0;

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

    // Clears the queue and readies it for filling: WriteCount = 1.
    void clearWriteQueue();
    // Appends one entry while a dialog fills the queue; false when the queue is full.
    bool queueWrite(int address, int value);
};

} // namespace qeln
