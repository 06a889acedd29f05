#pragma once

#include "history/historyrecords.h"

namespace qeln {

struct ConsoleState;
class LinkEngine;

namespace history {

// The erasing of one of the controller's logs, as the initialisation dialog and qeln-cli ask
// for it. The acknowledgement is the engine's to show (messageRequested).

// The dialog opens: RequestState 23, so the poll scheduler sends nothing meanwhile.
void beginHistoryInitialisation(ConsoleState &state);

// One initialisation request: HistoryMode 1 (alarm history) or 2 (event log), then
// SendHistoryRequest("01", code, 0) with the code of the link in use (serial "35" / "45",
// TCP "45" / "48"); ResponseTimer 3 and PollReady 1 afterwards. RequestState becomes 23 if it
// is not already, since the TCP request is laid out by that state.
void sendHistoryInitialisation(LinkEngine &engine, LogKind kind);

// The dialog closes, by whatever way: RequestState 0 and PollReady 1, polling resumes.
void endHistoryInitialisation(ConsoleState &state);

} // namespace history
} // namespace qeln
