#include "cliargs.h"
#include "clicommands.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char *argv[])
{
    // No GUI toolkit shares this event loop: Qt's own dispatcher is leaner per wake-up than the
    // GLib one, and a history download wakes up once per record.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
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
