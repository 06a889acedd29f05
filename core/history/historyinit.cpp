#include "history/historyinit.h"

#include "app/consolestate.h"
#include "link/linkengine.h"

namespace qeln::history {

void beginHistoryInitialisation(ConsoleState &state)
{
    state.RequestState = StateHistoryInit;
}

void sendHistoryInitialisation(LinkEngine &engine, LogKind kind)
{
    ConsoleState &state = engine.state();
    const bool serial = state.LinkIsTcp == 0;
    const bool alarms = kind == LogKind::Alarm;
    // The serial event-log code is the TCP alarm-history code: the two links never mix.
    const QByteArray code = alarms ? (serial ? "35" : "45") : (serial ? "45" : "48");
    state.RequestState = StateHistoryInit;
    state.HistoryMode = std::uint8_t(kind);
    engine.SendHistoryRequest("01", code, 0);
    state.ResponseTimer = 3;
    state.PollReady = 1;
}

void endHistoryInitialisation(ConsoleState &state)
{
    state.RequestState = StatePoll;
    state.PollReady = 1;
}

} // namespace qeln::history
