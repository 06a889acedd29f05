#pragma once

#include "cliargs.h"
#include "fleet/fleetconfig.h"
#include "fleet/inventory.h"
#include "fleet/webconfig.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

namespace prometheus {
class Exposer;
}

namespace qeln {

class TlsFront;

class SignalWatcher;
class FleetPageHook;

namespace fleet {
class ControllerPoller;
class FleetCollector;
} // namespace fleet

// `qeln-cli serve --config.file FILE [--web.listen-address ADDR:PORT] [--web.config.file FILE]`:
// the fleet exporter.
// Every controller of the config gets its own engine, link and poll grid; /metrics answers
// from memory and never sends anything; nothing is ever written to a controller. SIGHUP
// reloads the config (unchanged controllers keep their engine, connection and schedule) and
// the web config;
// SIGINT and SIGTERM stop it (exit 0).
class CliServe : public QObject {
    Q_OBJECT
public:
    explicit CliServe(const CliArgs &args, QObject *parent = nullptr);
    ~CliServe() override;

    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);
    // `serve --help`.
    static QString helpText();
    // Reads the files, opens the listening socket and starts polling. False with the message
    // and the exit status (2: a file is wrong, 1: the socket cannot be opened) when it cannot.
    bool start(QString &error, int &exitCode);

private:
    // The config's controllers and those of its inventory files, of this shard.
    std::vector<fleet::ControllerConfig> fleetOf(const fleet::FleetConfig &config) const;
    void watchInventory(const fleet::FleetConfig &config);
    void apply(const fleet::FleetConfig &config);
    void reload();
    // Re-reads --web-config; false (the running one kept, and why said) when it is refused.
    bool reloadWebConfig();
    void onSignal(int signo);

    ServeOptions options_;
    fleet::Shard shard_;
    fleet::FleetConfig config_;
    fleet::InventoryWatcher inventory_;
    std::optional<fleet::WebConfig> web_;
    std::shared_ptr<fleet::FleetCollector> collector_;
    std::unique_ptr<FleetPageHook> page_; // outlives the server that calls it
    std::unique_ptr<prometheus::Exposer> exposer_;
    std::unique_ptr<TlsFront> front_; // HTTPS in front of the web server, with TLS
    std::map<QString, std::unique_ptr<fleet::ControllerPoller>> pollers_;
    SignalWatcher *signals_ = nullptr;
};

// Runs serve to its end; returns the exit status.
int runServe(const CliArgs &args);

} // namespace qeln
