#pragma once

#include "fleet/fleetcollector.h"
#include "fleet/fleetlink.h"
#include "fleet/webconfig.h"

#include <QByteArray>

#include <memory>
#include <optional>

struct CivetCallbacks;

namespace qeln {

// The exporter's page at "/": each controller with up or down, its last success and its last
// error, from the same snapshots /metrics reads.
QByteArray fleetPage(const std::vector<std::shared_ptr<const fleet::ControllerSnapshot>> &controllers);

// Why the HTTP server cannot listen on `listen` (empty when it can): Debian's build of the
// server has no IPv6, and would otherwise fail only once everything else has started.
QString listenProblem(const fleet::ListenAddress &listen);

// The HTTP server's hook that answers "/" with that page (and leaves every other path to the
// metrics endpoint). With a web config, the page asks for the same basic authentication as
// /metrics. One page per process: the hook has no way to tell servers apart.
class FleetPageHook {
public:
    FleetPageHook(std::shared_ptr<const fleet::FleetCollector> collector, std::optional<fleet::WebConfig> web);
    ~FleetPageHook();
    const CivetCallbacks *callbacks() const { return callbacks_.get(); }

private:
    std::unique_ptr<CivetCallbacks> callbacks_;
};

} // namespace qeln
