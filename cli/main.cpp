#include "cliargs.h"
#include "clihistory.h"
#include "cliip.h"
#include "clilogger.h"
#include "clirunner.h"
#include "clisettings.h"

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

    if (args.command == qeln::CliArgs::Command::SettingsHelp) {
        std::fputs(qeln::CliSettings::helpText().toUtf8().constData(), stdout);
        return 0;
    }

    // Without --trace the output is the result alone.
    QLoggingCategory::setFilterRules(args.trace ? QStringLiteral("qeln.*=true")
                                                : QStringLiteral("qeln.*=false"));

    if (args.command == qeln::CliArgs::Command::Log) {
        qeln::CliLogger logger(args);
        QObject::connect(&logger, &qeln::CliLogger::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        logger.start();
        return app.exec();
    }

    if (args.command == qeln::CliArgs::Command::History || args.command == qeln::CliArgs::Command::ClearHistory) {
        qeln::CliHistory command(args);
        QObject::connect(&command, &qeln::CliHistory::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        command.start();
        return app.exec();
    }

    using Command = qeln::CliArgs::Command;
    if (args.command >= Command::SettingsShow && args.command <= Command::Factory) {
        qeln::CliSettings command(args);
        QObject::connect(&command, &qeln::CliSettings::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        command.start();
        return app.exec();
    }

    if (args.command == Command::IpShow || args.command == Command::IpApply) {
        qeln::CliIp command(args);
        QObject::connect(&command, &qeln::CliIp::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        command.start();
        return app.exec();
    }

    qeln::CliRunner runner(args);
    QObject::connect(&runner, &qeln::CliRunner::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    runner.start();
    return app.exec();
}
