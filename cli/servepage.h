#pragma once

#include "fleet/fleetcollector.h"
#include "fleet/fleetlink.h"
#include "fleet/webconfig.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CivetCallbacks;

namespace qeln {

// The exporter's page at "/": each controller with up or down, its last success and its last
// error, from the same snapshots /metrics reads.
QByteArray fleetPage(const std::vector<std::shared_ptr<const fleet::ControllerSnapshot>> &controllers);

// Why the HTTP server cannot listen on `listen` (empty when it can): Debian's build of the
// server has no IPv6, and would otherwise fail only once everything else has started.
QString listenProblem(const fleet::ListenAddress &listen);


// The HTTP server's hook, called before every request: with basic_auth_users it checks the
// password for every path (failed logins logged as logfmt on stderr and slowed per client
// address, see LoginThrottle); it answers "/" with that page, /-/healthy, /-/ready (once
// setReady) and HEAD /metrics, and leaves the rest to the metrics endpoint. One hook per
// process: the server gives the hook no way to tell servers apart.
class FleetPageHook {
public:
    FleetPageHook(std::shared_ptr<const fleet::FleetCollector> collector, std::optional<fleet::WebConfig> web);
    ~FleetPageHook();
    const CivetCallbacks *callbacks() const { return callbacks_.get(); }

    // The users a reload read; requests already being checked finish with the old ones.
    void setWebConfig(std::optional<fleet::WebConfig> web);
    // Requests relayed by the TLS front carry the client's address after this secret.
    void setForwardToken(const QByteArray &token);
    // /-/ready answers 200 from now on (503 before).
    void setReady();

private:
    std::unique_ptr<CivetCallbacks> callbacks_;
};

} // namespace qeln
