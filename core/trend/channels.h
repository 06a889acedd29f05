#pragma once

#include "monitor/statusview.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <limits>

namespace qeln::trend {

// What a channel measures: its unit and the axis it is drawn on.
enum class Quantity { Voltage, Current, Temperature, Charge };

struct Channel {
    const char *name;    // "dc_voltage": the same in the page, the CLI and the files
    const char *unit;    // "V", "A", "°C", "%"
    Quantity quantity;
    const char *caption; // what the trend page's picker shows
};

// Every measured value the status page shows, in a fixed order: a channel's index is its
// number in a recording, so new channels are only ever added at the end.
inline constexpr int ChannelCount = 25;
const std::array<Channel, ChannelCount> &channels();
// The index of a channel by name, or -1.
int channelIndex(const QString &name);
QStringList channelNames();

// One value per channel; NaN where the status page shows no number (a hidden text, an open
// sensor, no battery pack).
using ChannelValues = std::array<double, ChannelCount>;
inline constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
inline bool hasValue(double v) { return !std::isnan(v); }

// The channels of one decoded status, each the number its text on the status page shows.
ChannelValues channelValues(const StatusView &view);

// The status block of one status response, register n at index n-1.
using Registers = std::array<quint16, StatusRegisterSlots>;

// Decodes a recorded status block as the status page would and gives its channels; `view`
// receives the whole decode when asked for (the alarms of a recorded status).
ChannelValues decodeChannels(const Registers &registers, StatusView *view = nullptr);

} // namespace qeln::trend
