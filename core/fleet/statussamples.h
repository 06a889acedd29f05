#pragma once

#include "plant/plantstatus.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace qeln::fleet {

// One sample of a controller's series, without the controller label (the exporter adds it).
struct Sample {
    QByteArray name;                           // "qeln_ac_input_voltage_volts"
    QList<QPair<QByteArray, QString>> labels;  // e.g. {"cell", "3"}
    double value = 0;

    bool operator==(const Sample &) const = default;
};

// The measurement, alarm and dry-contact samples of one decoded status:
// - every channel of the plant's channel table that has a number, in its metric's base unit:
//   the power-flow values always, the battery current only with a battery, its temperature
//   only with a sensor that is not open, the battery voltage, state of charge (ratio) and
//   the 15 cell voltages (label "cell") only while the battery panel is shown;
// - every alarm of the alarm table, 1 when active (label "alarm", the name the alarm table
//   and `qeln-cli status --json` give it);
// - every dry contact the model shows, 1 when in alarm (label "contact", 1..6).
QList<Sample> statusSamples(const PlantStatus &plant);

} // namespace qeln::fleet
