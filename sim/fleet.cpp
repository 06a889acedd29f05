#include "fleet.h"

#include "linefaults.h"
#include "plant.h"
#include "plantsetup.h"
#include "requestlog.h"
#include "simlinks.h"
#include "simprotocol.h"

#include <algorithm>
#include <cmath>
#include <sys/resource.h>

namespace qeln::sim {

namespace {
// As a plant's own timer steps it.
constexpr int TickMs = 100;
} // namespace

FleetRole fleetRole(int index, int size, int dead, int slow)
{
    if (index >= size - dead)
        return FleetRole::Dead;
    if (index >= size - dead - slow)
        return FleetRole::Slow;
    return FleetRole::Live;
}

long raiseOpenFilesLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : long(limit.rlim_cur);
}

struct Fleet::Controller {
    Controller(const FaultSettings &faultSettings) : protocol(plant), faults(faultSettings) {}
    Plant plant;
    Protocol protocol;
    Faults faults;
    std::unique_ptr<TcpLink> link;
    FleetRole role = FleetRole::Live;
};

Fleet::Fleet(const SimOptions &options, QObject *parent) : QObject(parent), options(options)
{
    ticker.setInterval(TickMs);
    connect(&ticker, &QTimer::timeout, this, &Fleet::onTick);
}

Fleet::~Fleet()
{
    // Links (and their sessions) go before the plants they answer for.
    for (auto &c : controllers)
        c->link.reset();
}

bool Fleet::setUp(QString *error)
{
    PlantSetup setup(options);
    controllers.clear();
    controllers.reserve(size_t(options.fleet));
    for (int i = 0; i < options.fleet; ++i) {
        FaultSettings faults = options.faults;
        faults.seed = options.faults.seed + quint32(i); // wraps past 2^32 - 1, as documented
        const FleetRole role = fleetRole(i, options.fleet, options.fleetDead, options.fleetSlow);
        if (role == FleetRole::Slow)
            faults.delayMs += options.fleetSlowMs;
        auto c = std::make_unique<Controller>(faults);
        c->role = role;
        if (!setup.apply(c->plant, faults.seed, error))
            return false;
        c->protocol.setHistoryFaults(options.historyFaults);
        controllers.push_back(std::move(c));
    }
    return true;
}

bool Fleet::listen(QString *error, RequestLog *log)
{
    for (int i = 0; i < size(); ++i) {
        Controller &c = *controllers[size_t(i)];
        c.link = std::make_unique<TcpLink>(c.protocol, c.faults);
        c.link->setHung(c.role == FleetRole::Dead);
        if (log)
            c.link->setRequestObserver([log, i](std::uint8_t function) { log->record(i, function); });
        const quint16 port = options.tcpPort == 0 ? 0 : quint16(options.tcpPort + i);
        if (!c.link->listen(options.bind, port, error)) {
            *error = QStringLiteral("controller %1: cannot listen on %2:%3: %4")
                         .arg(i).arg(options.bind.toString()).arg(port).arg(*error);
            return false;
        }
    }
    return true;
}

void Fleet::start()
{
    // Each plant steps once a simulated second. Spread over the ticks of a second, so that
    // not every plant steps on the same tick.
    const int ticksPerSecond = 1000 / TickMs;
    for (int i = 0; i < size(); ++i)
        controllers[size_t(i)]->plant.advance(qint64(i % ticksPerSecond) * TickMs);
    clock.start();
    lastTickMs = 0;
    carryMs = 0.0;
    ticker.start();
}

void Fleet::stop()
{
    ticker.stop();
}

void Fleet::onTick()
{
    // Real time passed, not ticks counted: a late tick does not slow the plants down.
    const qint64 now = clock.elapsed();
    carryMs += double(now - lastTickMs) * std::clamp(options.speed, 0.0, 1e5);
    lastTickMs = now;
    const double whole = std::floor(carryMs);
    carryMs -= whole;
    for (auto &c : controllers)
        c->plant.advance(qint64(whole));
}

Plant &Fleet::plant(int index)
{
    return controllers.at(size_t(index))->plant;
}

FleetRole Fleet::role(int index) const
{
    return controllers.at(size_t(index))->role;
}

quint16 Fleet::port(int index) const
{
    const auto &link = controllers.at(size_t(index))->link;
    return link ? link->port() : 0;
}

QStringList Fleet::lines() const
{
    QStringList lines;
    lines.reserve(size());
    for (const auto &c : controllers)
        lines << (c->link ? c->link->description() : QString());
    return lines;
}

} // namespace qeln::sim
