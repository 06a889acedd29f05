#pragma once

#include "app/consolestate.h"

#include <optional>

namespace qeln {

// What one animation tick shows. Picture numbers are 1..11 within their strip; battery 0
// means no picture of the battery strip is shown. An empty optional leaves that battery
// picture as it is.
struct PowerFlowFrame {
    int ac = 1;
    int rect = 1;
    int batt = 0;
    int sys = 1;
    std::optional<bool> battChVisible;  // Image_BattCh
    std::optional<bool> battDChVisible; // Image_BattDCh
};

// The power-flow animation state, driven by Timer4 (100 ms) from the last status registers.
// Frames count 0..10 (frame f is picture f+1); they are never reset after start.
struct PowerFlow {
    int AcFrame = 0;
    int RectFrame = 0;
    int BattFrame = 0;
    int SysFrame = 0;
    int FlowFlags = 0; // bit 0 battery charging, bit 2 load current flowing

    // One tick: the pictures from the frame numbers of the previous tick, then the frames
    // advanced from the registers.
    PowerFlowFrame nextFrame(const ConsoleState &state);
};

} // namespace qeln
