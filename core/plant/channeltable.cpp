#include "channeltable.h"

namespace qeln {

namespace {

template <Reading PlantStatus::*Field>
const Reading &plant(const PlantStatus &p)
{
    return p.*Field;
}

template <Reading BatteryPack::*Field>
const Reading &pack(const PlantStatus &p)
{
    return p.battery.*Field;
}

template <int Cell>
const Reading &cell(const PlantStatus &p)
{
    return p.battery.cells[size_t(Cell - 1)];
}

using Q = Quantity;

// A cell's channel: "cell_N", caption "Cell N", series label cell="N".
template <int N>
constexpr PlantChannel cellChannel(const char *name, const char *caption, const char *label)
{
    return {name, "V", Q::Voltage, caption, &cell<N>, "qeln_battery_cell_voltage_volts", "cell", label, 1};
}

// In the order of the recordings (a channel's index is its number in a file); the exporter's
// series are the same quantities under their metric names.
constexpr std::array<PlantChannel, PlantChannelCount> Channels{{
    {"ac_voltage", "V", Q::Voltage, "AC voltage", &plant<&PlantStatus::acVoltage>,
     "qeln_ac_input_voltage_volts", nullptr, nullptr, 1},
    {"ac_current", "A", Q::Current, "AC current", &plant<&PlantStatus::acCurrent>,
     "qeln_ac_input_current_amperes", nullptr, nullptr, 1},
    {"dc_voltage", "V", Q::Voltage, "DC voltage", &plant<&PlantStatus::dcVoltage>,
     "qeln_dc_output_voltage_volts", nullptr, nullptr, 1},
    {"load_current", "A", Q::Current, "Load current", &plant<&PlantStatus::loadCurrent>,
     "qeln_load_current_amperes", nullptr, nullptr, 1},
    {"set_voltage", "V", Q::Voltage, "Set voltage", &plant<&PlantStatus::setVoltage>,
     "qeln_set_voltage_volts", nullptr, nullptr, 1},
    {"rectifier_temperature", "°C", Q::Temperature, "Rectifier temperature", &plant<&PlantStatus::rectifierTemperature>,
     "qeln_rectifier_temperature_celsius", nullptr, nullptr, 1},
    {"battery_temperature", "°C", Q::Temperature, "Battery temperature", &plant<&PlantStatus::batteryTemperature>,
     "qeln_battery_temperature_celsius", nullptr, nullptr, 1},
    {"battery_current", "A", Q::Current, "Battery current", &plant<&PlantStatus::batteryCurrent>,
     "qeln_battery_current_amperes", nullptr, nullptr, 1},
    {"battery_voltage", "V", Q::Voltage, "Battery voltage", &pack<&BatteryPack::voltage>,
     "qeln_battery_voltage_volts", nullptr, nullptr, 1},
    {"battery_soc", "%", Q::Charge, "State of charge", &pack<&BatteryPack::stateOfCharge>,
     "qeln_battery_state_of_charge_ratio", nullptr, nullptr, 100},
    cellChannel<1>("cell_1", "Cell 1", "1"),
    cellChannel<2>("cell_2", "Cell 2", "2"),
    cellChannel<3>("cell_3", "Cell 3", "3"),
    cellChannel<4>("cell_4", "Cell 4", "4"),
    cellChannel<5>("cell_5", "Cell 5", "5"),
    cellChannel<6>("cell_6", "Cell 6", "6"),
    cellChannel<7>("cell_7", "Cell 7", "7"),
    cellChannel<8>("cell_8", "Cell 8", "8"),
    cellChannel<9>("cell_9", "Cell 9", "9"),
    cellChannel<10>("cell_10", "Cell 10", "10"),
    cellChannel<11>("cell_11", "Cell 11", "11"),
    cellChannel<12>("cell_12", "Cell 12", "12"),
    cellChannel<13>("cell_13", "Cell 13", "13"),
    cellChannel<14>("cell_14", "Cell 14", "14"),
    cellChannel<15>("cell_15", "Cell 15", "15"),
}};

} // namespace

const std::array<PlantChannel, PlantChannelCount> &plantChannels()
{
    return Channels;
}

} // namespace qeln
