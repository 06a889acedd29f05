#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace qeln::sim {

// One change of the plant's surroundings at a point of the scenario's timeline. Only the
// fields that belong to the kind are used.
struct ScenarioEvent {
    enum Kind {
        AcInput,        // on: the mains is present
        Load,           // value: load current in amperes
        Ambient,        // value: ambient temperature in degrees Celsius
        CellOffset,     // index: cell 1..15; value: voltage deviation of that cell in volts
        BatteryHeat,    // value: battery temperature above ambient in degrees Celsius
        BmsLink,        // on: the battery-management unit answers the controller
        BatteryBreaker, // on: the battery breaker (NFB) is closed
        ModuleFail,     // on: one rectifier module has failed
        BmsFault,       // index: fault bit (see scenarioFaultNames()); on: active
    };
    qint64 atMs = 0;
    Kind kind = AcInput;
    double value = 0.0;
    int index = 0;
    bool on = false;
};

// What the plant starts with and what happens to it over time. Times are simulated.
struct Scenario {
    QString name;
    QString description;
    double stateOfCharge = 90.0; // percent
    double loadCurrent = 18.5;   // amperes
    double ambient = 25.0;       // degrees Celsius
    qint64 repeatMs = 0;         // the timeline starts over after this time; 0 runs it once
    // Settings applied before the run, as holding-register values, without event records.
    QList<QPair<int, std::uint16_t>> registers;
    QList<ScenarioEvent> events; // ordered by time
};

// Names of the faults a scenario can force on the battery-management unit; position k is
// fault index k, which the plant maps onto its protection bits.
QStringList scenarioFaultNames();

QStringList builtInScenarioNames();

// Parses the JSON form of a scenario (the format of a scenario file):
//   { "name": "...", "description": "...", "soc": 80, "load": 18.5, "ambient": 25,
//     "repeat": 600, "registers": { "66": 0 },
//     "events": [ { "at": 30, "ac": false }, { "at": 20, "cell": 7, "offset": -0.1 },
//                 { "at": 40, "batteryHeat": 30 }, { "at": 50, "bmsLink": false },
//                 { "at": 60, "breaker": false }, { "at": 70, "moduleFail": true },
//                 { "at": 80, "bmsFault": "charge-overcurrent", "active": true },
//                 { "at": 90, "load": 25 }, { "at": 95, "ambient": 30 } ] }
// Times are in simulated seconds. Anything unknown or out of range is an error, so a typing
// mistake in a scenario file does not pass silently.
bool parseScenario(const QByteArray &json, Scenario *out, QString *error);

// A built-in name, or else the path of a JSON file.
bool findScenario(const QString &nameOrPath, Scenario *out, QString *error);

} // namespace qeln::sim
