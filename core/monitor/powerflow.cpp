#include "powerflow.h"

#include "statusview.h"

namespace qeln {

namespace {

int advance(int frame)
{
    return frame < 10 ? frame + 1 : 0;
}

int goBack(int frame)
{
    return frame > 0 ? frame - 1 : 10;
}

} // namespace

PowerFlowFrame PowerFlow::nextFrame(const ConsoleState &state)
{
    auto reg = [&state](int n) { return statusRegister(state, n); };
    PowerFlowFrame f;
    f.ac = AcFrame + 1;
    f.rect = RectFrame + 1;
    f.batt = reg(66) != 0 ? BattFrame + 1 : 0;
    f.sys = SysFrame + 1;

    if (reg(7) <= 50) {
        // No AC: the load is fed (from the battery); the AC and rectifier strips stand still.
        SysFrame = advance(SysFrame);
    } else {
        AcFrame = advance(AcFrame);
        RectFrame = (RectFrame < 10 && FlowFlags != 0) ? RectFrame + 1 : 0;
        if (reg(10) != 0) {
            SysFrame = AcFrame;
            FlowFlags |= 0x04;
        } else {
            FlowFlags &= ~0x04;
        }
    }

    const int battery = reg(11);
    const bool inUse = reg(66) == 1;
    if (battery & 0x8000) {
        BattFrame = goBack(BattFrame);
        f.battChVisible = false;
        if (inUse)
            f.battDChVisible = true;
    } else if (battery == 0) {
        f.battChVisible = false;
        if (inUse)
            f.battDChVisible = true;
        FlowFlags &= ~0x01;
    } else {
        BattFrame = advance(BattFrame);
        if (inUse)
            f.battChVisible = true;
        f.battDChVisible = false;
        FlowFlags |= 0x01;
    }
    return f;
}

} // namespace qeln
