#pragma once

#include "plant/channeltable.h"
#include "plant/plantstatus.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <limits>

namespace qeln::trend {

// The channels are the plant's channel table and, after it, what only a recording keeps: the
// controller's clock offset from this computer's when the status came (seconds, controller
// minus PC). A channel's index is its number in a recording, so new channels are only ever
// added at the end.
using Quantity = qeln::Quantity;
using Channel = PlantChannel;
inline constexpr int ClockOffsetChannel = PlantChannelCount;
inline constexpr int ChannelCount = PlantChannelCount + 1;
const std::array<Channel, ChannelCount> &channels();
// The index of a channel by name, or -1.
int channelIndex(const QString &name);
QStringList channelNames();

// One value per channel; NaN where the status page shows no number (a hidden text, an open
// sensor, no battery pack).
using ChannelValues = std::array<double, ChannelCount>;
inline constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
inline bool hasValue(double v) { return !std::isnan(v); }

// The channels of one decoded status that came at `timeMs` (Unix ms; the clock offset needs it).
ChannelValues channelValues(const PlantStatus &plant, qint64 timeMs);

// The status block of one status response, register n at index n-1.
using Registers = std::array<quint16, StatusRegisterSlots>;

// A recorded status block decoded as a console that has just started would decode it.
PlantStatus decodeRecorded(const Registers &registers);
// Decodes a status block recorded at `timeMs` and gives its channels.
ChannelValues decodeChannels(const Registers &registers, qint64 timeMs);

} // namespace qeln::trend
