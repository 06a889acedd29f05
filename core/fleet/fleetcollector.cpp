#include "fleetcollector.h"

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>
#include <prometheus/metric_type.h>

#include <limits>

namespace qeln::fleet {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

const char *const ResultNames[] = {"ok", "timeout", "corrupt", "exception", "link_error"};

struct Help {
    const char *name;
    const char *help;
    MetricType type;
};

// Every family the exporter writes, in the order of the exposition, with its help text.
constexpr Help Families[] = {
    {"qeln_up", "1 while the last poll of the controller decoded a status, else 0.", MetricType::Gauge},
    {"qeln_last_success_timestamp_seconds", "When the last good poll ended (Unix time).", MetricType::Gauge},
    {"qeln_poll_duration_seconds", "Round trips of the good polls.", MetricType::Histogram},
    {"qeln_clock_offset_seconds", "The controller's clock minus the exporter's, at the last good poll.",
     MetricType::Gauge},
    {"qeln_poll_interval_seconds", "The controller's poll interval from the config.", MetricType::Gauge},
    {"qeln_requests_total", "Status polls by their outcome.", MetricType::Counter},
    {"qeln_info", "The controller's model and firmware as the console shows them, with the config's labels.",
     MetricType::Gauge},
    {"qeln_ac_input_voltage_volts", "AC input voltage.", MetricType::Gauge},
    {"qeln_ac_input_current_amperes", "AC input current.", MetricType::Gauge},
    {"qeln_dc_output_voltage_volts", "DC output voltage.", MetricType::Gauge},
    {"qeln_load_current_amperes", "DC load current.", MetricType::Gauge},
    {"qeln_set_voltage_volts", "The rectifiers' set voltage.", MetricType::Gauge},
    {"qeln_rectifier_temperature_celsius", "Rectifier temperature.", MetricType::Gauge},
    {"qeln_battery_current_amperes", "Battery current (negative while discharging).", MetricType::Gauge},
    {"qeln_battery_temperature_celsius", "Battery temperature.", MetricType::Gauge},
    {"qeln_battery_voltage_volts", "Battery voltage of the battery unit.", MetricType::Gauge},
    {"qeln_battery_state_of_charge_ratio", "Battery state of charge, 0..1.", MetricType::Gauge},
    {"qeln_battery_cell_voltage_volts", "Voltage of one of the 15 cells.", MetricType::Gauge},
    {"qeln_alarm_active", "1 while the alarm of the alarm table is active.", MetricType::Gauge},
    {"qeln_alarm_last_change_timestamp_seconds",
     "When the exporter saw the alarm change last (Unix time; its first poll counts as a change).", MetricType::Gauge},
    {"qeln_contact_active", "1 while the dry contact is in alarm.", MetricType::Gauge},
    {"qeln_config_last_reload_successful", "1 when the config file last read was good.", MetricType::Gauge},
    {"qeln_exporter_build_info", "The exporter's version.", MetricType::Gauge},
};

std::string utf8(const QString &text)
{
    return text.toStdString();
}

ClientMetric metric(std::vector<ClientMetric::Label> labels, double value, MetricType type)
{
    ClientMetric m;
    m.label = std::move(labels);
    if (type == MetricType::Counter)
        m.counter.value = value;
    else
        m.gauge.value = value;
    return m;
}

} // namespace

void FleetCollector::publish(const ControllerSnapshot &snapshot)
{
    auto copy = std::make_shared<const ControllerSnapshot>(snapshot);
    std::lock_guard lock(mutex_);
    controllers_[snapshot.name] = std::move(copy);
}

void FleetCollector::remove(const QString &name)
{
    std::lock_guard lock(mutex_);
    controllers_.erase(name);
}

void FleetCollector::setConfigReloadSuccessful(bool ok)
{
    std::lock_guard lock(mutex_);
    configOk_ = ok;
}

std::vector<std::shared_ptr<const ControllerSnapshot>> FleetCollector::snapshots() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<const ControllerSnapshot>> out;
    out.reserve(controllers_.size());
    for (const auto &[name, snapshot] : controllers_)
        out.push_back(snapshot);
    return out;
}

std::vector<prometheus::MetricFamily> FleetCollector::Collect() const
{
    bool configOk = true;
    const auto controllers = [&] {
        std::lock_guard lock(mutex_);
        configOk = configOk_;
        return controllers_;
    }();

    std::map<std::string, MetricFamily> families;
    for (const Help &h : Families)
        families[h.name] = MetricFamily{h.name, h.help, h.type, {}};
    auto add = [&families](const char *name, std::vector<ClientMetric::Label> labels, double value) {
        MetricFamily &f = families[name];
        f.metric.push_back(metric(std::move(labels), value, f.type));
    };

    for (const auto &[name, c] : controllers) {
        const ClientMetric::Label controller{"controller", utf8(name)};
        if (c->intervalSeconds > 0)
            add("qeln_poll_interval_seconds", {controller}, c->intervalSeconds);
        // Not polled yet: unknown, not down. A 0 here would page for a healthy controller
        // whose first slot is still minutes away after a restart.
        if (!c->polled)
            continue;
        add("qeln_up", {controller}, c->up ? 1 : 0);
        if (c->lastSuccessSeconds)
            add("qeln_last_success_timestamp_seconds", {controller}, *c->lastSuccessSeconds);
        if (c->durationCount > 0 && c->durationCounts.size() == DurationBuckets.size()) {
            ClientMetric m;
            m.label = {controller};
            m.histogram.sample_count = c->durationCount;
            m.histogram.sample_sum = c->durationSum;
            for (size_t b = 0; b < DurationBuckets.size(); ++b)
                m.histogram.bucket.push_back({c->durationCounts[b], DurationBuckets[b]});
            m.histogram.bucket.push_back({c->durationCount, std::numeric_limits<double>::infinity()});
            families["qeln_poll_duration_seconds"].metric.push_back(std::move(m));
        }
        if (c->clockOffsetSeconds)
            add("qeln_clock_offset_seconds", {controller}, *c->clockOffsetSeconds);
        for (const auto &[alarm, when] : c->alarmChanges)
            add("qeln_alarm_last_change_timestamp_seconds", {controller, {"alarm", utf8(alarm)}}, when);
        for (size_t r = 0; r < c->requests.size(); ++r)
            add("qeln_requests_total", {controller, {"result", ResultNames[r]}}, c->requests[r]);
        std::vector<ClientMetric::Label> info{controller,
                                              {"firmware", utf8(c->firmware)},
                                              {"firmware_date", utf8(c->firmwareDate)},
                                              {"model", utf8(c->model)}};
        for (const auto &[key, value] : c->labels)
            info.push_back({utf8(key), utf8(value)});
        add("qeln_info", std::move(info), 1);
        // A controller that is down has no samples: no stale value passes for a live one.
        for (const Sample &s : c->samples) {
            std::vector<ClientMetric::Label> labels{controller};
            for (const auto &[key, value] : s.labels)
                labels.push_back({key.toStdString(), utf8(value)});
            add(s.name.constData(), std::move(labels), s.value);
        }
    }
    add("qeln_config_last_reload_successful", {}, configOk ? 1 : 0);
    add("qeln_exporter_build_info", {{"version", utf8(version_)}}, 1);

    std::vector<MetricFamily> out;
    for (const Help &h : Families) {
        MetricFamily &f = families[h.name];
        if (!f.metric.empty())
            out.push_back(std::move(f));
    }
    return out;
}

} // namespace qeln::fleet
