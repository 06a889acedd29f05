#include "channels.h"

#include "app/consolestate.h"

#include <algorithm>

namespace qeln::trend {

namespace {

const Reading &noReading(const PlantStatus &)
{
    static const Reading none;
    return none;
}

} // namespace

const std::array<Channel, ChannelCount> &channels()
{
    static const std::array<Channel, ChannelCount> all = [] {
        std::array<Channel, ChannelCount> out{};
        std::copy(plantChannels().cbegin(), plantChannels().cend(), out.begin());
        // Not a plant reading and not a status series (the exporter has its own offset series).
        out[size_t(ClockOffsetChannel)] = {"clock_offset", "s", Quantity::ClockOffset, "Controller clock offset",
                                           &noReading, nullptr, nullptr, nullptr, 1};
        return out;
    }();
    return all;
}

int channelIndex(const QString &name)
{
    for (int i = 0; i < ChannelCount; ++i) {
        if (name == QLatin1String(channels()[size_t(i)].name))
            return i;
    }
    return -1;
}

QStringList channelNames()
{
    QStringList names;
    for (const Channel &c : channels())
        names << QLatin1String(c.name);
    return names;
}

ChannelValues channelValues(const PlantStatus &plant, qint64 timeMs)
{
    ChannelValues values;
    for (int i = 0; i < PlantChannelCount; ++i) {
        const auto number = channels()[size_t(i)].value(plant);
        values[size_t(i)] = number ? *number : NoValue;
    }
    const auto offset = clockOffsetSeconds(plant.clock, double(timeMs) / 1000.0);
    values[size_t(ClockOffsetChannel)] = offset ? *offset : NoValue;
    return values;
}

PlantStatus decodeRecorded(const Registers &registers)
{
    // A recorded status is decoded as a console that has just started would: its own name
    // tables, no model known before it.
    static const ConsoleState fresh;
    RegisterBlock block;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        block[size_t(i)] = registers[size_t(i)];
    return decodePlantStatus(block, fresh, fresh.ModelText);
}

ChannelValues decodeChannels(const Registers &registers, qint64 timeMs)
{
    return channelValues(decodeRecorded(registers), timeMs);
}

} // namespace qeln::trend
