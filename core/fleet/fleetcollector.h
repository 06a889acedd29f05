#pragma once

#include "fleet/statussamples.h"

#include <prometheus/collectable.h>

#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace qeln::fleet {

// What the exporter knows of one controller at one moment: published by its poller after
// each poll (on the event-loop thread), read by scrapes (on the HTTP server's threads).
struct ControllerSnapshot {
    QString name;
    QList<QPair<QString, QString>> labels; // the config's labels, for qeln_info only
    // False until its first poll ended: then none of the per-poll series exist (no qeln_up 0
    // for a controller whose first slot has not come yet).
    bool polled = false;
    bool up = false;
    std::optional<double> lastSuccessSeconds; // Unix time of the last good poll
    std::optional<double> pollDurationSeconds; // the round trip of the last good poll
    // The round trips of the good polls: cumulative counts over DurationBuckets, sum, count.
    std::vector<std::uint64_t> durationCounts;
    double durationSum = 0;
    std::uint64_t durationCount = 0;
    // The controller's clock minus the exporter's at the last good poll (none while its clock
    // is unset).
    std::optional<double> clockOffsetSeconds;
    // Per alarm of the alarm table: when the exporter saw it change last (Unix time; the first
    // poll counts as a change).
    QList<QPair<QString, double>> alarmChanges;
    double intervalSeconds = 0;                // its poll interval from the config
    std::array<double, 5> requests{};          // by PollResult: ok, timeout, corrupt, exception, link_error
    QString model;
    QString firmware;     // the version alone: "1.2.0.5"
    QString firmwareDate; // "2023-06-15"
    QString lastError;
    QList<Sample> samples;                     // empty while down
};

// The upper bounds of the poll-duration histogram, in seconds.
inline constexpr std::array<double, 11> DurationBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// The exporter's metrics, answered from memory: a scrape never sends anything on any link.
class FleetCollector : public prometheus::Collectable {
public:
    // `version`: what qeln_exporter_build_info says.
    explicit FleetCollector(QString version = {}) : version_(std::move(version)) {}

    void publish(const ControllerSnapshot &snapshot);
    // The controller left the config: its series disappear.
    void remove(const QString &name);
    void setConfigReloadSuccessful(bool ok);

    std::vector<prometheus::MetricFamily> Collect() const override;
    // The snapshots in name order (the exporter's page).
    std::vector<std::shared_ptr<const ControllerSnapshot>> snapshots() const;

private:
    mutable std::mutex mutex_;
    std::map<QString, std::shared_ptr<const ControllerSnapshot>> controllers_;
    bool configOk_ = true;
    QString version_;
};

} // namespace qeln::fleet
