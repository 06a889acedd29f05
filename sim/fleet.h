#pragma once

// Many simulated controllers in one process, for the fleet tools: each with a plant of its
// own (controller i has seed --seed + i), its own protocol state and line-fault dice, and its
// own TCP port. One event loop serves them all and one timer steps every plant.

#include "simoptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

namespace qeln::sim {

class Plant;
class RequestLog;

enum class FleetRole {
    Live,
    Slow, // every answer leaves the slow delay late
    Dead, // accepts connections, reads requests, never answers
};

// What controller `index` (0-based) of a fleet of `size` plays: the last `dead` are dead and
// the `slow` before them slow; the rest are live.
FleetRole fleetRole(int index, int size, int dead, int slow);

// Raises the soft open-files limit to the hard one (a listening socket and a client's
// connection each hold one); returns the soft limit in force afterwards, -1 when unknown.
long raiseOpenFilesLimit();

class Fleet : public QObject {
    Q_OBJECT
public:
    explicit Fleet(const SimOptions &options, QObject *parent = nullptr);
    ~Fleet() override;

    // Sets up options.fleet plants; false with *error naming the option at fault.
    bool setUp(QString *error);
    // Opens every controller's port on options.bind; false with *error when one cannot be
    // had. Each request received goes to the log, when one is given.
    bool listen(QString *error, RequestLog *log = nullptr);
    // Steps every plant in real time (times the speed factor), until stop().
    void start();
    void stop();

    int size() const { return int(controllers.size()); }
    Plant &plant(int index);
    FleetRole role(int index) const;
    quint16 port(int index) const;
    // "tcp ADDRESS:PORT" of each controller, in index order.
    QStringList lines() const;

private:
    void onTick();

    struct Controller;
    SimOptions options;
    std::vector<std::unique_ptr<Controller>> controllers;
    QTimer ticker;
    QElapsedTimer clock;
    qint64 lastTickMs = 0;
    double carryMs = 0.0;
};

} // namespace qeln::sim
