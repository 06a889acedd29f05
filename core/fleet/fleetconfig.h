#pragma once

#include "fleet/fleetlink.h"
#include "fleet/readresult.h"

#include <QMap>
#include <QStringList>
#include <QString>

#include <chrono>
#include <vector>

namespace qeln::fleet {

// How a TCP controller is reached: a connection per poll (connect, read, close), because
// small controllers accept only a few Modbus TCP clients and other tools need them too; or one
// connection kept open for controllers that are polled often and have clients to spare. A
// serial device stays open either way (serve owns it).
enum class Connection { PerPoll, Persistent };

// One controller of serve's config file, with the defaults already applied.
struct ControllerConfig {
    QString name; // the "controller" label
    FleetLink link;
    std::chrono::milliseconds interval{};
    std::chrono::milliseconds timeout{};
    Connection connection = Connection::PerPoll;
    QMap<QString, QString> labels; // extra labels of the info series
    int line = 0;                  // where the entry starts (1-based), for messages

    // The same controller polled the same way, wherever it stands in the file: a reload keeps
    // its engine, schedule, counters and state. Labels are not part of it: they only name the
    // controller's info series, and a reload changes them on the running poller.
    bool sameSettings(const ControllerConfig &other) const
    {
        return name == other.name && link == other.link && interval == other.interval
            && timeout == other.timeout && connection == other.connection;
    }
};

struct FleetConfig {
    ListenAddress listen;
    std::chrono::milliseconds defaultInterval{std::chrono::seconds(10)};
    std::chrono::milliseconds defaultTimeout{std::chrono::seconds(2)};
    Connection defaultConnection = Connection::PerPoll;
    std::vector<ControllerConfig> controllers;
    // Globs of inventory files that name more controllers (relative to `baseDir`, the config
    // file's folder); they get the defaults above.
    QStringList controllerFiles;
    QString baseDir;
};

// Reads serve's config file (YAML; JSON is YAML too). Refuses, as "FILE:LINE: what is wrong":
// an unreadable file, a syntax error, an unknown key, an empty controller list without
// inventory files (a fleet of none is a mistake in the file, not an intent), an empty or
// non-text file pattern, a missing name or link, a name given
// twice, two controllers on one serial device, a bad link, duration or listen address, a
// timeout not shorter than its interval, a connection other than per_poll or persistent, and a label name Prometheus would refuse or that
// serve sets itself.
ReadResult<FleetConfig> readConfig(const QString &path);

// Whether `name` may be an extra label's name: [a-zA-Z_][a-zA-Z0-9_]*, not starting with "__",
// and none of the labels serve sets itself (controller, model, firmware, firmware_date). Empty when it may,
// else why not.
QString labelNameProblem(const QString &name);

} // namespace qeln::fleet
