#include "statussamples.h"

#include "monitor/alarmmodel.h"


namespace qeln::fleet {

namespace {

// A metric and the control of the status page whose number it carries.
struct Shown {
    const char *metric;
    const char *control;
};

// The power-flow picture's labels.
constexpr Shown PowerFlow[] = {
    {"qeln_ac_input_voltage_volts", "Label_ACV"},
    {"qeln_ac_input_current_amperes", "Label_ACA"},
    {"qeln_dc_output_voltage_volts", "Lable_DCV"},
    {"qeln_load_current_amperes", "Lable_DCA"},
    {"qeln_set_voltage_volts", "Label_SetV"},
    {"qeln_rectifier_temperature_celsius", "Label_RT"},
    {"qeln_battery_current_amperes", "Lable_BCA"},
    {"qeln_battery_temperature_celsius", "Label_BT"},
};

bool shown(const StatusView &view, const QString &control)
{
    return view.visible.value(control, true);
}

void add(QList<Sample> &out, const char *metric, std::optional<double> value,
         QList<QPair<QByteArray, QString>> labels = {})
{
    if (value)
        out.append({QByteArray(metric), std::move(labels), *value});
}

} // namespace

QList<Sample> statusSamples(const StatusView &view, const ConsoleState &state)
{
    QList<Sample> out;
    for (const Shown &s : PowerFlow)
        add(out, s.metric, shownNumber(view, QLatin1String(s.control)));

    if (shown(view, QStringLiteral("FlatGroupBox1"))) {
        add(out, "qeln_battery_voltage_volts", shownNumber(view, QStringLiteral("Lable_BV")));
        const auto soc = shownNumber(view, QStringLiteral("Lable_BSoc"));
        add(out, "qeln_battery_state_of_charge_ratio", soc ? std::optional<double>(*soc / 100) : std::nullopt);
        for (int cell = 1; cell <= 15; ++cell)
            add(out, "qeln_battery_cell_voltage_volts",
                shownNumber(view, QStringLiteral("Lable_BCV%1").arg(cell)),
                {{"cell", QString::number(cell)}});
    }

    for (const AlarmBit &bit : alarmBits()) {
        const QString name = alarmName(state, bit);
        add(out, "qeln_alarm_active", view.activeAlarms.contains(name) ? 1.0 : 0.0, {{"alarm", name}});
    }
    for (int contact = 1; contact <= view.contactCount; ++contact) {
        const bool alarm = view.visible.value(QStringLiteral("ImDry%1Arm").arg(contact), false);
        add(out, "qeln_contact_active", alarm ? 1.0 : 0.0, {{"contact", QString::number(contact)}});
    }
    return out;
}

} // namespace qeln::fleet
