#include "cliserve.h"

#include "clisignals.h"
#include "servepage.h"
#include "fleet/controllerpoller.h"
#include "fleet/fleetcollector.h"
#include "fleet/offsetplan.h"

#include <prometheus/exposer.h>

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace qeln {

namespace {

// One logfmt line on standard error: level=... msg="..." key=value ...; values quoted when
// they hold a blank, a quote or an equals sign.
void logfmt(const QString &level, const QString &message, const QList<QPair<QString, QString>> &fields = {})
{
    const auto quoted = [](QString value) {
        if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) && !value.contains(QLatin1Char('"'))
            && !value.contains(QLatin1Char('=')))
            return value;
        value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        value.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        return QLatin1Char('"') + value + QLatin1Char('"');
    };
    QString line = QStringLiteral("level=%1 msg=%2").arg(level, quoted(message));
    for (const auto &[key, value] : fields)
        line += QLatin1Char(' ') + key + QLatin1Char('=') + quoted(value);
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
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

} // namespace

bool CliServe::parseArgs(const QStringList &args, CliArgs &out, QString &error)
{
    using cliargs::fail;
    out.command = CliArgs::Command::Serve;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        QString *target = nullptr;
        if (c.isOption(QLatin1String("--config")))
            target = &out.serve.config;
        else if (c.isOption(QLatin1String("--listen")))
            target = &out.serve.listen;
        else if (c.isOption(QLatin1String("--web-config")))
            target = &out.serve.webConfig;
        else
            return cliargs::unexpected(error, QStringLiteral("serve"), c.arg());
        const QString option = c.arg().section(QLatin1Char('='), 0, 0);
        if (!c.takeValue(*target) || target->isEmpty())
            return fail(error, QStringLiteral("serve: %1 needs a value").arg(option));
    }
    if (out.serve.config.isEmpty())
        return fail(error, QStringLiteral("serve: --config FILE is required"));
    return true;
}

CliServe::CliServe(const CliArgs &args, QObject *parent)
    : QObject(parent), options_(args.serve),
      collector_(std::make_shared<fleet::FleetCollector>(QCoreApplication::applicationVersion()))
{
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
    page_ = std::make_unique<FleetPageHook>(collector_, web_);
    try {
        exposer_ = std::make_unique<prometheus::Exposer>(listen.toStdString(), 2, page_->callbacks());
    } catch (const std::exception &e) {
        error = QStringLiteral("cannot listen on %1: %2").arg(listen, QString::fromLocal8Bit(e.what()));
        return false;
    }
    exposer_->RegisterCollectable(collector_);
    if (web_) {
        // Runs on the server's threads: the web config does not change after start.
        const fleet::WebConfig web = *web_;
        exposer_->RegisterAuth(
            [web](const std::string &user, const std::string &password) {
                return fleet::checkUser(web, QString::fromStdString(user), QByteArray::fromStdString(password));
            },
            "qeln-cli serve");
    }
    signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, &CliServe::onSignal);
    if (!signals_->watch({SIGHUP, SIGINT, SIGTERM}, error))
        return false;

    config_ = *config.value;
    apply(config_);
    const auto ports = exposer_->GetListeningPorts();
    // The port actually bound (the config may say 0 for any free one), for whoever started it.
    std::printf("listening %s:%d with %d controllers\n", qPrintable(config_.listen.host),
                ports.empty() ? int(config_.listen.port) : ports.front(), int(pollers_.size()));
    std::fflush(stdout);
    exitCode = 0;
    return true;
}

void CliServe::apply(const fleet::FleetConfig &config)
{
    // The offsets spread the fleet over its intervals; unchanged controllers keep theirs.
    std::vector<fleet::PlanEntry> plan;
    QHash<QString, std::chrono::milliseconds> running;
    for (const fleet::ControllerConfig &c : config.controllers) {
        plan.push_back({c.name, c.interval});
        auto found = pollers_.find(c.name);
        if (found != pollers_.end() && found->second->config().sameSettings(c))
            running.insert(c.name, found->second->offset());
    }
    const auto offsets = fleet::planOffsets(plan, running);

    std::map<QString, std::unique_ptr<fleet::ControllerPoller>> kept;
    for (const fleet::ControllerConfig &c : config.controllers) {
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

void CliServe::reload()
{
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
    apply(config_);
    collector_->setConfigReloadSuccessful(true);
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
