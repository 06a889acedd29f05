#include "fleet.h"
#include "plant.h"
#include "plantsetup.h"
#include "requestlog.h"
#include "simlinks.h"
#include "simoptions.h"
#include "simprotocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using namespace qeln::sim;

constexpr int UsageError = 2;
constexpr int LinkError = 1;

void fail(const QString &message)
{
    std::fprintf(stderr, "qeln-sim: %s\n", qPrintable(message));
}

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only writes a byte.
int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool installStopSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A client that hangs up while an answer is written must not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void drainStopSignals()
{
    char drain[16];
    while (::read(signalPipe[0], drain, sizeof drain) > 0) {
    }
}

// The links the options ask for, each with the line it prints once it serves.
struct Links {
    std::unique_ptr<TcpLink> tcp;
    std::unique_ptr<SerialLink> pty;
    std::unique_ptr<SerialLink> serial;
    QStringList lines;
};

bool openLinks(Links &links, Protocol &protocol, Faults &faults, const SimOptions &options, QString *error)
{
    if (options.tcp) {
        links.tcp = std::make_unique<TcpLink>(protocol, faults);
        if (!links.tcp->listen(options.bind, options.tcpPort, error)) {
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(options.bind.toString()).arg(options.tcpPort).arg(*error);
            return false;
        }
        links.lines << links.tcp->description();
    }
    if (options.pty) {
        links.pty = std::make_unique<SerialLink>(protocol, faults);
        if (!links.pty->openPty(error))
            return false;
        links.lines << links.pty->description();
    }
    if (!options.serialDevice.isEmpty()) {
        links.serial = std::make_unique<SerialLink>(protocol, faults);
        if (!links.serial->openDevice(options.serialDevice, error)) {
            *error = QStringLiteral("cannot open %1: %2").arg(options.serialDevice, *error);
            return false;
        }
        links.lines << links.serial->description();
    }
    return true;
}

// Many controllers, one line each once all serve; SIGINT or SIGTERM ends the event loop.
int runFleet(const SimOptions &options)
{
    // Every controller holds a listening socket and every client a connection: the usual soft
    // limit of 1024 open files would stop a fleet of a thousand.
    const long openFiles = raiseOpenFilesLimit();
    const long needed = 2L * options.fleet + 64;
    if (openFiles >= 0 && openFiles < needed)
        fail(QStringLiteral("the open-files limit is %1; %2 controllers with a client each need about %3")
                 .arg(openFiles).arg(options.fleet).arg(needed));

    QString error;
    RequestLog requestLog; // outlives the links that write to it
    Fleet fleet(options);
    if (!fleet.setUp(&error)) {
        fail(error);
        return UsageError;
    }
    if (!options.requestLog.isEmpty() && !requestLog.open(options.requestLog, &error)) {
        fail(error);
        return LinkError;
    }
    if (!fleet.listen(&error, options.requestLog.isEmpty() ? nullptr : &requestLog)) {
        fail(error);
        return LinkError;
    }
    fleet.start();
    const QByteArray lines = fleet.lines().join(QLatin1Char('\n')).toLatin1() + '\n';
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
    std::fflush(stdout);

    const int status = QCoreApplication::exec();
    fleet.stop();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qeln-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QELN_VERSION));

    const SimCommandLine command = parseSimCommandLine(app.arguments());
    switch (command.outcome) {
    case SimCommandLine::Help:
        std::fputs(qPrintable(command.text), stdout);
        return 0;
    case SimCommandLine::Version:
        std::printf("qeln-sim %s\n", QELN_VERSION);
        return 0;
    case SimCommandLine::Refused:
        fail(command.text + QStringLiteral("\nTry 'qeln-sim --help'."));
        return UsageError;
    case SimCommandLine::Run:
        break;
    }
    const SimOptions &options = command.options;

    qSetMessagePattern(QStringLiteral("qeln-sim: %{message}"));
    QLoggingCategory::setFilterRules(options.trace
        ? QStringLiteral("qeln.sim*=true")
        : QStringLiteral("qeln.sim*.debug=false\nqeln.sim*.info=false"));

    if (!installStopSignals()) {
        fail(QStringLiteral("cannot set up signal handling"));
        return LinkError;
    }
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [] {
        drainStopSignals();
        QCoreApplication::quit();
    });

    if (options.fleet > 0)
        return runFleet(options);

    QString error;
    Plant plant;
    PlantSetup setup(options);
    if (!setup.apply(plant, options.faults.seed, &error)) {
        fail(error);
        return UsageError;
    }
    Protocol protocol(plant);
    protocol.setHistoryFaults(options.historyFaults);
    Faults faults(options.faults);
    RequestLog requestLog;
    if (!options.requestLog.isEmpty() && !requestLog.open(options.requestLog, &error)) {
        fail(error);
        return LinkError;
    }
    Links links;
    if (!openLinks(links, protocol, faults, options, &error)) {
        fail(error);
        return LinkError;
    }
    if (!options.requestLog.isEmpty()) {
        const RequestObserver observer = [&requestLog](std::uint8_t function) { requestLog.record(0, function); };
        if (links.tcp)
            links.tcp->setRequestObserver(observer);
        for (SerialLink *link : {links.pty.get(), links.serial.get()})
            if (link)
                link->setRequestObserver(observer);
    }

    plant.start();
    for (const QString &line : links.lines)
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);

    const int status = app.exec();
    plant.stop();
    return status;
}
