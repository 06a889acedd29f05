#include "plantsetup.h"

#include "plant.h"

namespace qeln::sim {

PlantSetup::PlantSetup(const SimOptions &options)
    : options(options)
    // A controller's clock runs whether anyone watches it or not: start from the host's.
    , clock(options.clock.isValid() ? options.clock : QDateTime::currentDateTime())
{
}

bool PlantSetup::apply(Plant &plant, quint32 seed, QString *error)
{
    plant.setSeed(seed);
    plant.setModel(options.model);
    if (!options.ipBlock.isNull())
        plant.setIpSettingsReadBack(options.ipBlock);
    plant.setClock(clock);
    if (!options.scenario.isEmpty() && !plant.loadScenario(options.scenario, error)) {
        *error = QStringLiteral("--scenario: %1").arg(*error);
        return false;
    }
    if (!options.logFile.isEmpty()) {
        if (!logs) {
            LogContent content;
            if (!readLogFile(options.logFile, &content, error)) {
                *error = QStringLiteral("--log-file: %1").arg(*error);
                return false;
            }
            logs = std::move(content);
        }
        if (logs->hasAlarm)
            plant.setLog(Plant::AlarmLog, logs->alarm);
        if (logs->hasEvent)
            plant.setLog(Plant::EventLog, logs->event);
    }
    if (options.history > 0)
        plant.prefillHistory(options.history);
    if (options.eventHistory > 0)
        plant.prefillEvents(options.eventHistory);
    plant.setSpeed(options.speed);
    return true;
}

} // namespace qeln::sim
