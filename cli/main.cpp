#include "cliargs.h"
#include "clicommands.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_LINUX
#include "fleet/epolldispatcher.h"
#endif

int main(int argc, char *argv[])
{
    // No GUI toolkit shares this event loop: Qt's own dispatcher is leaner per wake-up than the
    // GLib one, and a history download wakes up once per record.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#ifdef Q_OS_LINUX
    // serve holds a connection to every controller of its fleet, and a poll() over all of
    // them on every wake-up would cost more than the polling itself. QELN_DISPATCHER=qt keeps
    // Qt's own, to compare.
    int word = 1;
    while (word < argc && std::strcmp(argv[word], "--trace") == 0)
        ++word;
    if (word < argc && std::strcmp(argv[word], "serve") == 0 && qgetenv("QELN_DISPATCHER") != "qt")
        QCoreApplication::setEventDispatcher(new qeln::fleet::EpollEventDispatcher);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qeln-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QELN_VERSION));

    qeln::CliArgs args;
    QString error;
    if (!qeln::parseCliArgs(app.arguments().mid(1), args, error)) {
        std::fprintf(stderr, "qeln-cli: %s\nTry 'qeln-cli --help'.\n", qPrintable(error));
        return 2;
    }
    if (args.command == qeln::CliArgs::Command::Help) {
        std::fputs(qPrintable(qeln::cliUsage()), stdout);
        return 0;
    }
    if (args.command == qeln::CliArgs::Command::Version) {
        std::printf("qeln-cli %s\n", QELN_VERSION);
        return 0;
    }

    // Without --trace the output is the result alone.
    QLoggingCategory::setFilterRules(args.trace ? QStringLiteral("qeln.*=true")
                                                : QStringLiteral("qeln.*=false"));
    return qeln::findCliCommand(args.commandName)->run(args);
}
