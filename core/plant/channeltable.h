#pragma once

#include "plant/plantstatus.h"

#include <array>
#include <optional>

namespace qeln {

// What a channel measures: its unit and the axis it is drawn on.
enum class Quantity { Voltage, Current, Temperature, Charge, ClockOffset };

// One measured quantity of the plant, for every reader that stores or exports numbers: the
// trend recordings (name, unit, quantity, caption; a channel's index is its number in a
// recording) and the exporter (metric, label, scale to base units).
struct PlantChannel {
    const char *name;    // "dc_voltage": the same in the trend page, the CLI and the files
    const char *unit;    // "V", "A", "°C", "%", "s"
    Quantity quantity;
    const char *caption; // what the trend page's picker shows
    const Reading &(*reading)(const PlantStatus &);
    const char *metric;     // "qeln_dc_output_voltage_volts"
    const char *labelName;  // "cell", or nullptr for a series without a label
    const char *labelValue; // "3"
    double metricDivisor;   // the metric's base unit: 100 turns percent into a ratio

    // The channel's number in its unit; nothing where the status page shows none.
    std::optional<double> value(const PlantStatus &plant) const { return reading(plant).value(); }
    // The number in the metric's base unit.
    std::optional<double> metricValue(const PlantStatus &plant) const
    {
        const auto v = value(plant);
        return v && metricDivisor != 1 ? std::optional<double>(*v / metricDivisor) : v;
    }
};

// Every measured value the status page shows, in a fixed order: new channels are only ever
// added at the end.
inline constexpr int PlantChannelCount = 25;
const std::array<PlantChannel, PlantChannelCount> &plantChannels();

} // namespace qeln
