#pragma once

#include "fleet/fleetlink.h"
#include "fleet/readresult.h"

#include <QMap>
#include <QString>

#include <chrono>
#include <vector>

namespace qeln::fleet {

// One controller of serve's config file, with the defaults already applied.
struct ControllerConfig {
    QString name; // the "controller" label
    FleetLink link;
    std::chrono::milliseconds interval{};
    std::chrono::milliseconds timeout{};
    QMap<QString, QString> labels; // extra labels of the info series
    int line = 0;                  // where the entry starts (1-based), for messages

    // The same controller with the same settings, wherever it stands in the file: a reload
    // keeps its engine and schedule.
    bool sameSettings(const ControllerConfig &other) const
    {
        return name == other.name && link == other.link && interval == other.interval
            && timeout == other.timeout && labels == other.labels;
    }
};

struct FleetConfig {
    ListenAddress listen;
    std::chrono::milliseconds defaultInterval{std::chrono::seconds(10)};
    std::chrono::milliseconds defaultTimeout{std::chrono::seconds(2)};
    std::vector<ControllerConfig> controllers;
};

// Reads serve's config file (YAML; JSON is YAML too). Refuses, as "FILE:LINE: what is wrong":
// an unreadable file, a syntax error, an unknown key, a missing name or link, a name given
// twice, two controllers on one serial device, a bad link, duration or listen address, a
// timeout not shorter than its interval, and a label name Prometheus would refuse or that
// serve sets itself.
ReadResult<FleetConfig> readConfig(const QString &path);

// Whether `name` may be an extra label's name: [a-zA-Z_][a-zA-Z0-9_]*, not starting with "__",
// and none of the labels serve sets itself (controller, model, firmware). Empty when it may,
// else why not.
QString labelNameProblem(const QString &name);

} // namespace qeln::fleet
