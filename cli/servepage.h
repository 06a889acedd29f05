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

// Switches the server's options (as serve builds them, "listening_ports" first) to HTTPS with
// `tls`. The server wants key and certificate in one PEM file: they are joined in memory into
// `pem`, an anonymous file only this process can open, which the caller closes once the server
// has started. False with the reason when this build or this machine cannot serve TLS or a
// file cannot be read.
bool addTlsOptions(const fleet::TlsConfig &tls, std::vector<std::string> &options, int &pem, QString &error);

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
    // /-/ready answers 200 from now on (503 before).
    void setReady();

private:
    std::unique_ptr<CivetCallbacks> callbacks_;
};

} // namespace qeln
