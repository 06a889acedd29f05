#include "channels.h"

#include "app/consolestate.h"

namespace qeln::trend {

namespace {

// The control of the status page that shows each channel, in channel order. The battery
// pack's values count only while its panel ("FlatGroupBox1") is shown.
struct Source {
    Channel channel;
    const char *control;
    bool batteryPanel;
};

const Source Sources[ChannelCount] = {
    {{"ac_voltage", "V", Quantity::Voltage, "AC voltage"}, "Label_ACV", false},
    {{"ac_current", "A", Quantity::Current, "AC current"}, "Label_ACA", false},
    {{"dc_voltage", "V", Quantity::Voltage, "DC voltage"}, "Lable_DCV", false},
    {{"load_current", "A", Quantity::Current, "Load current"}, "Lable_DCA", false},
    {{"set_voltage", "V", Quantity::Voltage, "Set voltage"}, "Label_SetV", false},
    {{"rectifier_temperature", "°C", Quantity::Temperature, "Rectifier temperature"}, "Label_RT", false},
    {{"battery_temperature", "°C", Quantity::Temperature, "Battery temperature"}, "Label_BT", false},
    {{"battery_current", "A", Quantity::Current, "Battery current"}, "Lable_BCA", false},
    {{"battery_voltage", "V", Quantity::Voltage, "Battery voltage"}, "Lable_BV", true},
    {{"battery_soc", "%", Quantity::Charge, "State of charge"}, "Lable_BSoc", true},
    {{"cell_1", "V", Quantity::Voltage, "Cell 1"}, "Lable_BCV1", true},
    {{"cell_2", "V", Quantity::Voltage, "Cell 2"}, "Lable_BCV2", true},
    {{"cell_3", "V", Quantity::Voltage, "Cell 3"}, "Lable_BCV3", true},
    {{"cell_4", "V", Quantity::Voltage, "Cell 4"}, "Lable_BCV4", true},
    {{"cell_5", "V", Quantity::Voltage, "Cell 5"}, "Lable_BCV5", true},
    {{"cell_6", "V", Quantity::Voltage, "Cell 6"}, "Lable_BCV6", true},
    {{"cell_7", "V", Quantity::Voltage, "Cell 7"}, "Lable_BCV7", true},
    {{"cell_8", "V", Quantity::Voltage, "Cell 8"}, "Lable_BCV8", true},
    {{"cell_9", "V", Quantity::Voltage, "Cell 9"}, "Lable_BCV9", true},
    {{"cell_10", "V", Quantity::Voltage, "Cell 10"}, "Lable_BCV10", true},
    {{"cell_11", "V", Quantity::Voltage, "Cell 11"}, "Lable_BCV11", true},
    {{"cell_12", "V", Quantity::Voltage, "Cell 12"}, "Lable_BCV12", true},
    {{"cell_13", "V", Quantity::Voltage, "Cell 13"}, "Lable_BCV13", true},
    {{"cell_14", "V", Quantity::Voltage, "Cell 14"}, "Lable_BCV14", true},
    {{"cell_15", "V", Quantity::Voltage, "Cell 15"}, "Lable_BCV15", true},
};

} // namespace

const std::array<Channel, ChannelCount> &channels()
{
    static const std::array<Channel, ChannelCount> list = [] {
        std::array<Channel, ChannelCount> out{};
        for (int i = 0; i < ChannelCount; ++i)
            out[size_t(i)] = Sources[i].channel;
        return out;
    }();
    return list;
}

int channelIndex(const QString &name)
{
    for (int i = 0; i < ChannelCount; ++i) {
        if (name == QLatin1String(Sources[i].channel.name))
            return i;
    }
    return -1;
}

QStringList channelNames()
{
    QStringList names;
    for (const Source &s : Sources)
        names << QLatin1String(s.channel.name);
    return names;
}

ChannelValues channelValues(const StatusView &view)
{
    ChannelValues values;
    const bool battery = view.visible.value(QStringLiteral("FlatGroupBox1"), true);
    for (int i = 0; i < ChannelCount; ++i) {
        const Source &s = Sources[i];
        const auto number = (s.batteryPanel && !battery) ? std::nullopt : shownNumber(view, QLatin1String(s.control));
        values[size_t(i)] = number ? *number : NoValue;
    }
    return values;
}

ChannelValues decodeChannels(const Registers &registers, StatusView *view)
{
    ConsoleState state;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        state.StatusRegisters[size_t(i)] = registers[size_t(i)];
    const StatusView decoded = decodeStatusView(state);
    if (view)
        *view = decoded;
    return channelValues(decoded);
}

} // namespace qeln::trend
