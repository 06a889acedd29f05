#pragma once

#include "logcontent.h"
#include "simoptions.h"

#include <QDateTime>

#include <optional>

namespace qeln::sim {

class Plant;

// Sets plants up as the options ask: model, network block, clock, scenario, logs and
// pre-filled history. The log file is read once, by the first plant that needs it, and the
// clock is the host's time when this object was made (unless --clock gives one), so that
// every plant of a fleet starts from the same.
class PlantSetup {
public:
    explicit PlantSetup(const SimOptions &options);

    // On a fault *error names the option whose value failed.
    bool apply(Plant &plant, quint32 seed, QString *error);

private:
    const SimOptions &options;
    QDateTime clock;
    std::optional<LogContent> logs;
};

} // namespace qeln::sim
