#pragma once

// A link engine on an open in-memory link, serial or TCP, for the engine's unit tests:
//     EngineRig rig(true);
//     auto &[state, engine, tcp] = rig;

#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"

struct EngineRig {
    explicit EngineRig(bool tcp)
    {
        engine.setLink(tcp ? qeln::LinkKind::Tcp : qeln::LinkKind::Serial);
        link.open();
        if (tcp)
            engine.setTcpTransport(&link);
        else
            engine.setSerialTransport(&link);
    }

    qeln::ConsoleState state;
    qeln::LinkEngine engine{state};
    qeln::FakeTransport link;
};
