#pragma once

#include "config/writeplan.h"

#include <QString>

namespace qeln::config::factoryinit {

// Factory initialisation: one write of register 127, 1 for a reset of the controller, 2 for
// an initialisation of its configuration. There is no confirmation step in the dialog: a
// caller that takes the choice from a script must ask for it explicitly (qeln-cli --yes).
inline constexpr int FactoryRegister = 127;

enum class Choice { None, Reset, Config };

// The radio group's entries in their order: "Reset", "Config 초기화".
QString caption(Choice choice);
// Radio group position (-1 none, 0 Reset, 1 Config) to a choice; anything else is None.
Choice choiceAt(int index);
// "reset" / "config" (qeln-cli factory reset|config); None for anything else.
Choice choiceFromKey(const QString &key);

// None: an empty plan (nothing sent, nothing said); Reset: (127, 1); Config: (127, 2).
WritePlan plan(Choice choice);

} // namespace qeln::config::factoryinit
