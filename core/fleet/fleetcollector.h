#pragma once

#include "fleet/statussamples.h"

#include <prometheus/collectable.h>

#include <QList>
#include <QPair>
#include <QString>

#include <array>
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
    std::optional<double> pollDurationSeconds; // its round trip
    double intervalSeconds = 0;                // its poll interval from the config
    std::array<double, 5> requests{};          // by PollResult: ok, timeout, corrupt, exception, link_error
    QString model;
    QString firmware;
    QString lastError;
    QList<Sample> samples;                     // empty while down
};

// The exporter's metrics, answered from memory: a scrape never sends anything on any link.
class FleetCollector : public prometheus::Collectable {
public:
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
};

} // namespace qeln::fleet
