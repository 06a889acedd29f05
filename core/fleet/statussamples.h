#pragma once

#include "app/consolestate.h"
#include "monitor/statusview.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace qeln::fleet {

// One sample of a controller's series, without the controller label (the exporter adds it).
struct Sample {
    QByteArray name;                           // "qeln_ac_input_voltage_volts"
    QList<QPair<QByteArray, QString>> labels;  // e.g. {"cell", "3"}
    double value = 0;

    bool operator==(const Sample &) const = default;
};

// The measurement, alarm and dry-contact samples of one decoded status, each the number the
// status page shows for the same status block:
// - the power-flow picture: AC voltage and current, DC voltage, load current, set voltage,
//   rectifier temperature, battery current and temperature;
// - while the battery panel is shown: the battery voltage, its state of charge (잔량 / 100)
//   and the 15 cell voltages (label "cell");
// - every alarm of the alarm table, 1 when active (label "alarm", the name the alarm table
//   and `qeln-cli status --json` give it);
// - every dry contact the model shows, 1 when in alarm (label "contact", 1..6).
// `state` is the console state the view was decoded from (its alarm name tables).
QList<Sample> statusSamples(const StatusView &view, const ConsoleState &state);

} // namespace qeln::fleet
