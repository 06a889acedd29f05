#include "consolestate.h"

#include "../link/hextext.h"

namespace qeln {

ConsoleState::ConsoleState()
{
    initialise();
}

void ConsoleState::initialise()
{
    // The status block: the frame length and count follow the count.
    StatusRegisterCount = 131;
    StatusFrameLength = StatusRegisterCount * 4 + 11;
    StatusByteCountHex = "06";
    HistoryRecordLength = 43;

    // The alarm name tables.
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

} // namespace qeln
