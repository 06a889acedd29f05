#include "channels.h"

#include "app/consolestate.h"

namespace qeln::trend {

const std::array<Channel, ChannelCount> &channels()
{
    return plantChannels();
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

ChannelValues channelValues(const PlantStatus &plant)
{
    ChannelValues values;
    for (int i = 0; i < ChannelCount; ++i) {
        const auto number = channels()[size_t(i)].value(plant);
        values[size_t(i)] = number ? *number : NoValue;
    }
    return values;
}

ChannelValues decodeChannels(const Registers &registers)
{
    // A recorded status is decoded as a console that has just started would: its own name
    // tables, no model known before it.
    static const ConsoleState fresh;
    RegisterBlock block;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        block[size_t(i)] = registers[size_t(i)];
    return channelValues(decodePlantStatus(block, fresh, fresh.ModelText));
}

} // namespace qeln::trend
