#pragma once

#include "plant/channeltable.h"
#include "plant/plantstatus.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <limits>

namespace qeln::trend {

// The channels are the plant's channel table: a channel's index is its number in a
// recording, so new channels are only ever added at the end.
using Quantity = qeln::Quantity;
using Channel = PlantChannel;
inline constexpr int ChannelCount = PlantChannelCount;
const std::array<Channel, ChannelCount> &channels();
// The index of a channel by name, or -1.
int channelIndex(const QString &name);
QStringList channelNames();

// One value per channel; NaN where the status page shows no number (a hidden text, an open
// sensor, no battery pack).
using ChannelValues = std::array<double, ChannelCount>;
inline constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
inline bool hasValue(double v) { return !std::isnan(v); }

// The channels of one decoded status.
ChannelValues channelValues(const PlantStatus &plant);

// The status block of one status response, register n at index n-1.
using Registers = std::array<quint16, StatusRegisterSlots>;

// Decodes a recorded status block and gives its channels.
ChannelValues decodeChannels(const Registers &registers);

} // namespace qeln::trend
