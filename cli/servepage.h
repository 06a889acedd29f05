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
