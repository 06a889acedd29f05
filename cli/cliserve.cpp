#include "cliserve.h"

#include "clisignals.h"
#include "logfmt.h"
#include "tlsfront.h"
#include "servepage.h"
#include "fleet/controllerpoller.h"
#include "fleet/processcollector.h"
#include "fleet/fleetcollector.h"
#include "fleet/offsetplan.h"

#include <prometheus/exposer.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalBlocker>
#include <QScopeGuard>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace qeln {

namespace {

// One logfmt line on standard error.
void logfmt(const QString &level, const QString &message, const QList<QPair<QString, QString>> &fields = {})
{
    const QByteArray line = logfmtLine(level, message, fields);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void say(const QString &line)
{
    std::fprintf(stderr, "qeln-cli: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

// A thousand connections need more descriptors than the usual 1024.
void raiseOpenFilesLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The web server gives each connection a worker thread of its own from the moment it is
// accepted until it is closed, and a connection that sends nothing holds its worker until the
// request time-out. With the library's 2 workers and 30 s, two idle clients stop every scrape.
// So: 160 workers (a thread each, mostly asleep: a few MiB of address space, no CPU), so that a
// hundred idle or slow clients at once still leave workers for Prometheus, whose scrape is then
// answered at once (measured: 100 such clients, scrapes in a few ms; past 160 a scrape waits for
// a worker, at most the request time-out); 3 s for a whole request head to arrive (a scrape
// request comes in one packet, a slow-loris client is cut off after 3 s); no keep-alive, since
// Prometheus scrapes every 15 s or so and a connection held open between scrapes would hold a
// worker for nothing.
std::vector<std::string> webServerOptions(const QString &listen)
{
    return {"listening_ports", listen.toStdString(), "num_threads", "160", "request_timeout_ms", "3000",
            "enable_keep_alive", "no"};
}

} // namespace

bool CliServe::parseArgs(const QStringList &args, CliArgs &out, QString &error)
{
    using cliargs::fail;
    out.command = CliArgs::Command::Serve;
    // The spelling of Prometheus and its exporters first; the older names stay for the
    // units and scripts that use them.
    struct Option {
        const char *name;
        const char *alias;
        QString ServeOptions::*target;
    };
    static const Option options[] = {
        {"--config.file", "--config", &ServeOptions::config},
        {"--web.listen-address", "--listen", &ServeOptions::listen},
        {"--web.config.file", "--web-config", &ServeOptions::webConfig},
        {"--shard", "--shard", &ServeOptions::shard},
    };
    // As settings does: --help anywhere wins over whatever else is wrong.
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out.serve.help = true;
        return true;
    }
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const Option *found = nullptr;
        for (const Option &o : options) {
            if (c.isOption(QLatin1String(o.name)) || c.isOption(QLatin1String(o.alias)))
                found = &o;
        }
        if (!found)
            return cliargs::unexpected(error, QStringLiteral("serve"), c.arg());
        QString &target = out.serve.*(found->target);
        const QString option = c.arg().section(QLatin1Char('='), 0, 0);
        if (!c.takeValue(target) || target.isEmpty())
            return fail(error, QStringLiteral("serve: %1 needs a value").arg(option));
    }
    if (out.serve.config.isEmpty())
        return fail(error, QStringLiteral("serve: --config.file FILE is required (see serve --help)"));
    fleet::Shard shard;
    QString problem;
    if (!out.serve.shard.isEmpty() && !fleet::parseShard(out.serve.shard, shard, problem))
        return fail(error, QStringLiteral("serve: --shard: ") + problem);
    return true;
}

QString CliServe::helpText()
{
    return QStringLiteral(
        "Usage: qeln-cli serve --config.file FILE [--web.listen-address ADDR:PORT]\n"
        "                      [--web.config.file FILE] [--shard K/N]\n"
        "\n"
        "The fleet exporter for Prometheus: polls every controller of the YAML config on its\n"
        "own grid and answers scrapes from memory; never writes to a controller.\n"
        "\n"
        "Options:\n"
        "  --config.file FILE    the fleet's YAML config: controllers, intervals, listen\n"
        "                        address (also --config)\n"
        "  --web.listen-address ADDR:PORT\n"
        "                        where to serve, over the config's listen (default\n"
        "                        127.0.0.1:9782); IPv6 only where the web server was\n"
        "                        built with it (also --listen)\n"
        "  --web.config.file FILE\n"
        "                        Prometheus's web config: basic_auth_users (bcrypt hashes,\n"
        "                        cost 04..31) and tls_server_config (cert_file, key_file,\n"
        "                        min_version) (also --web-config)\n"
        "  --shard K/N           poll only the controllers whose name falls in shard K of\n"
        "                        N: N exporters with one config poll each controller once\n"
        "  --trace               the qeln.* log lines on standard error\n"
        "  -h, --help            show this text\n"
        "\n"
        "Paths: /metrics, / (each controller's state), /-/healthy, /-/ready. With users,\n"
        "every path asks for basic authentication; failed logins are logged and turn their\n"
        "address away for 1 s, doubling up to 30 s.\n"
        "SIGHUP re-reads both files (a refused file keeps the running one; a new certificate\n"
        "and key apply to the next connections, TLS on or off waits for a restart); SIGINT\n"
        "or SIGTERM stops serve.\n"
        "\n"
        "Exit status: 0 stopped by a signal, 1 the port cannot be opened, 2 usage error or a\n"
        "file or listen address refused (nothing started).\n");
}

CliServe::CliServe(const CliArgs &args, QObject *parent)
    : QObject(parent), options_(args.serve),
      collector_(std::make_shared<fleet::FleetCollector>(QCoreApplication::applicationVersion()))
{
    QString unused;
    if (!options_.shard.isEmpty())
        fleet::parseShard(options_.shard, shard_, unused); // checked by parseArgs
    connect(&inventory_, &fleet::InventoryWatcher::changed, this, [this] {
        apply(config_);
        say(QStringLiteral("inventory changed: %1 controllers").arg(pollers_.size()));
    });
    connect(&inventory_, &fleet::InventoryWatcher::problem, this,
            [](const QString &message) { logfmt(QStringLiteral("warn"), message); });
}

std::vector<fleet::ControllerConfig> CliServe::fleetOf(const fleet::FleetConfig &config) const
{
    std::vector<fleet::ControllerConfig> out;
    QSet<QString> names;
    const auto take = [&](const fleet::ControllerConfig &c) {
        if (names.contains(c.name))
            return; // the config's own entry wins over an inventory file's
        names.insert(c.name);
        if (fleet::inShard(c.name, shard_))
            out.push_back(c);
    };
    for (const fleet::ControllerConfig &c : config.controllers)
        take(c);
    for (const fleet::ControllerConfig &c : inventory_.controllers())
        take(c);
    return out;
}

void CliServe::watchInventory(const fleet::FleetConfig &config)
{
    const QSignalBlocker quiet(inventory_); // the caller applies the result itself
    inventory_.watch(config.controllerFiles, config.baseDir,
                     {config.defaultInterval, config.defaultTimeout, config.defaultConnection});
}

CliServe::~CliServe() = default;

bool CliServe::start(QString &error, int &exitCode)
{
    exitCode = 2;
    auto config = fleet::readConfig(options_.config);
    if (!config) {
        error = config.error;
        return false;
    }
    if (!options_.listen.isEmpty()) {
        QString problem;
        if (!fleet::parseListenAddress(options_.listen, config.value->listen, problem)) {
            error = QStringLiteral("--listen: ") + problem;
            return false;
        }
    }
    if (const QString problem = listenProblem(config.value->listen); !problem.isEmpty()) {
        error = problem;
        return false;
    }
    if (!options_.webConfig.isEmpty()) {
        auto web = fleet::readWebConfig(options_.webConfig);
        if (!web) {
            error = web.error;
            return false;
        }
        web_ = *web.value;
    }

    exitCode = 1;
    raiseOpenFilesLimit();
    const QString listen = config.value->listen.toString();
    const bool tls = web_ && web_->tls;
    // With TLS the web server listens on loopback only, behind the TLS front.
    std::vector<std::string> serverOptions = webServerOptions(tls ? QStringLiteral("127.0.0.1:0") : listen);
    page_ = std::make_unique<FleetPageHook>(collector_, web_);
    try {
        exposer_ = std::make_unique<prometheus::Exposer>(serverOptions, page_->callbacks());
    } catch (const std::exception &e) {
        error = QStringLiteral("cannot listen on %1: %2").arg(listen, QString::fromLocal8Bit(e.what()));
        return false;
    }
    exposer_->RegisterCollectable(collector_);
    exposer_->RegisterCollectable(std::make_shared<fleet::ProcessCollector>());
    if (tls) {
        const QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16)
            + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
        page_->setForwardToken(token);
        const auto inner = exposer_->GetListeningPorts();
        front_ = std::make_unique<TlsFront>(quint16(inner.empty() ? 0 : inner.front()), token);
        if (!front_->configure(*web_->tls, error)) {
            error = options_.webConfig + QStringLiteral(": tls_server_config: ") + error;
            exitCode = 2;
            return false;
        }
        if (!front_->listen(QHostAddress(config.value->listen.host), config.value->listen.port)) {
            error = QStringLiteral("cannot listen on %1: %2").arg(listen, front_->errorString());
            return false;
        }
    }
    // Passwords are checked by the page hook for every path, /metrics included: it knows the
    // client's address (for the log and the slowing down) and takes a reloaded web config.
    signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, &CliServe::onSignal);
    if (!signals_->watch({SIGHUP, SIGINT, SIGTERM}, error))
        return false;

    config_ = *config.value;
    watchInventory(config_);
    apply(config_);
    page_->setReady();
    const auto ports = exposer_->GetListeningPorts();
    // The port actually bound (the config may say 0 for any free one), for whoever started it.
    const int port = front_ ? int(front_->serverPort()) : ports.empty() ? int(config_.listen.port) : ports.front();
    std::printf("listening %s:%d with %d controllers\n", qPrintable(config_.listen.host), port, int(pollers_.size()));
    std::fflush(stdout);
    exitCode = 0;
    return true;
}

void CliServe::apply(const fleet::FleetConfig &config)
{
    // The offsets spread the fleet over its intervals; unchanged controllers keep theirs.
    const std::vector<fleet::ControllerConfig> controllers = fleetOf(config);
    std::vector<fleet::PlanEntry> plan;
    QHash<QString, std::chrono::milliseconds> running;
    for (const fleet::ControllerConfig &c : controllers) {
        plan.push_back({c.name, c.interval});
        auto found = pollers_.find(c.name);
        if (found != pollers_.end() && found->second->config().sameSettings(c))
            running.insert(c.name, found->second->offset());
    }
    const auto offsets = fleet::planOffsets(plan, running);

    std::map<QString, std::unique_ptr<fleet::ControllerPoller>> kept;
    for (const fleet::ControllerConfig &c : controllers) {
        auto found = pollers_.find(c.name);
        if (found != pollers_.end() && found->second->config().sameSettings(c)) {
            // Polled as before: counters, state and schedule stay; new labels show at once.
            fleet::ControllerPoller *p = found->second.get();
            if (p->config().labels != c.labels) {
                p->setLabels(c.labels);
                collector_->publish(p->snapshot());
            }
            kept[c.name] = std::move(found->second);
            continue;
        }
        auto poller = std::make_unique<fleet::ControllerPoller>(c, offsets.value(c.name));
        fleet::ControllerPoller *p = poller.get();
        connect(p, &fleet::ControllerPoller::pollEnded, this, [this, p] { collector_->publish(p->snapshot()); });
        // One line per controller going down or coming back, for whoever reads the journal.
        connect(p, &fleet::ControllerPoller::wentDown, this, [p](const QString &error) {
            logfmt(QStringLiteral("warn"), QStringLiteral("controller down"),
                   {{QStringLiteral("controller"), p->config().name}, {QStringLiteral("error"), error}});
        });
        connect(p, &fleet::ControllerPoller::cameUp, this, [p] {
            logfmt(QStringLiteral("info"), QStringLiteral("controller up"), {{QStringLiteral("controller"), p->config().name}});
        });
        collector_->publish(p->snapshot());
        p->start();
        kept[c.name] = std::move(poller);
    }
    // What is left was removed from the config (or changed): its series go with it.
    for (auto &[name, poller] : pollers_) {
        if (poller && !kept.count(name))
            collector_->remove(name);
    }
    pollers_ = std::move(kept);
}

bool CliServe::reloadWebConfig()
{
    if (options_.webConfig.isEmpty())
        return true;
    auto web = fleet::readWebConfig(options_.webConfig);
    if (!web) {
        say(QStringLiteral("web config reload refused, the running one stays: ") + web.error);
        return false;
    }
    // A new certificate and key take effect for the next connections; switching TLS on or off
    // changes the listening socket, which only a restart does (it could lose the port).
    if (front_ && web.value->tls && !(web.value->tls == web_->tls)) {
        QString problem;
        if (!front_->configure(*web.value->tls, problem)) {
            say(QStringLiteral("web config reload refused, the running one stays: ") + problem);
            return false;
        }
    } else if (!(web.value->tls == web_->tls)) {
        say(QStringLiteral("%1: tls_server_config changes only when serve starts again; the users are applied")
                .arg(options_.webConfig));
        web.value->tls = web_->tls;
    }
    web_ = *web.value;
    page_->setWebConfig(web_);
    return true;
}

void CliServe::reload()
{
    const bool webApplied = reloadWebConfig();
    auto config = fleet::readConfig(options_.config);
    if (!config) {
        say(QStringLiteral("reload refused, the running config stays: ") + config.error);
        collector_->setConfigReloadSuccessful(false);
        return;
    }
    if (!(config.value->listen == config_.listen))
        say(QStringLiteral("the listen address changes only when serve starts again"));
    config.value->listen = config_.listen;
    config_ = *config.value;
    watchInventory(config_);
    apply(config_);
    collector_->setConfigReloadSuccessful(webApplied);
    say(QStringLiteral("config reloaded: %1 controllers").arg(pollers_.size()));
}

void CliServe::onSignal(int signo)
{
    if (signo == SIGHUP) {
        reload();
        return;
    }
    QCoreApplication::exit(0);
}

int runServe(const CliArgs &args)
{
    if (args.serve.help) {
        std::fputs(CliServe::helpText().toUtf8().constData(), stdout);
        return 0;
    }
    CliServe serve(args);
    QString error;
    int exitCode = 0;
    if (!serve.start(error, exitCode)) {
        say(error);
        return exitCode;
    }
    return QCoreApplication::exec();
}

} // namespace qeln
