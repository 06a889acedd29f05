#include "consolestate.h"

#include "../link/hextext.h"

namespace qeln {

ConsoleState::ConsoleState()
{
    initialise();
}

void ConsoleState::initialise()
{
    // Step 1.
    RequestState = 0;
    LastFrame.clear();
    RxState = 0;
    FrameComplete = 0;
    FrameReady = 0;
    PollReady = 0;

    // Step 2 (the module-tree slots and display blink counters live with their windows).
    HistoryMode = 0;
    TransactionId = 0;
    LinkIsTcp = 0;
    PollReady = 1;
    AlarmTestBlinkCount = 0;

    // Step 3: the status block constants; the frame length and count follow the count.
    StatusRegisterCount = 131;
    StatusCountHex = IntToHexFixed(StatusRegisterCount, 4);
    StatusFrameLength = StatusRegisterCount * 4 + 11;
    StatusByteCountHex = "06";
    HistoryRecordLength = 43;

    // Step 4: the alarm name tables.
    AcAlarms = {{QStringLiteral("AC Input Fail")}, 0};
    OutputAlarms = {{QStringLiteral("Output Voltage High"), QStringLiteral("Output Voltage Low"),
                     QStringLiteral("DC Over Current")},
                    2};
    ModuleAlarms = {{QStringLiteral("Module Fail"), QStringLiteral("Temperature High")}, 1};
    BatteryAlarms = {{QStringLiteral("Battery OverCharge"), QStringLiteral("Battery Discharge"),
                      QStringLiteral("Battery Charge OverCurrent"),
                      QStringLiteral("Battery Discharge OverCurrent"),
                      QStringLiteral("Battery Quality Low"),
                      QStringLiteral("Battery Temperature High"),
                      QStringLiteral("Battery Temperature Low"), QStringLiteral("Battery Disconnect"),
                      QStringLiteral("Battery Cell Fail"), QStringLiteral("Battery BMS Alarm")},
                     9};
}

void ConsoleState::clearWriteQueue()
{
    WriteAddr.fill(0);
    WriteValue.fill(0);
    WriteCount = 1;
}

bool ConsoleState::queueWrite(int address, int value)
{
    const int index = WriteCount - 1;
    if (index < 0 || index >= WriteQueueCapacity)
        return false;
    WriteAddr[index] = address;
    WriteValue[index] = value;
    ++WriteCount;
    return true;
}

} // namespace qeln
