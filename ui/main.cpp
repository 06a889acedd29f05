#include "app/consolesession.h"
#include "app/demoautopilot.h"
#include "app/demosimulator.h"
#include "app/mainform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string_view>

namespace {

constexpr int UsageError = 2;
// Records the demo plant's logs hold at start.
constexpr int DemoHistoryRecords = 250;
constexpr int DemoEventRecords = 60;

void say(const QString &message)
{
    std::fprintf(stderr, "qeln-console: %s\n", qPrintable(message));
}

QCommandLineOption option(const char *name, const char *help, const char *valueName = nullptr)
{
    QCommandLineOption o{QString(QLatin1String(name)), QString(QLatin1String(help))};
    if (valueName)
        o.setValueName(QLatin1String(valueName));
    return o;
}

// --help and --version need no display: they must work where no window can open.
bool textOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h" || a == "--help-all" || a == "--version" || a == "-v")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    const std::unique_ptr<QCoreApplication> app = textOnly(argc, argv)
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qeln-console"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QELN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The QELN plant console. --demo runs a simulated controller inside the process and\n"
        "presets the connection dialog for it."));
    const auto demo = option("demo", "Run a simulated controller in this process and preset the connection dialog for it.");
    const auto outputDir = option("output-dir", "Folder for data logs and exports (default: the working directory).", "DIR");
    const auto screenshot = option("screenshot", "With --demo: log in, connect, save a picture of the main window to FILE once the plant shows, and exit.", "FILE");
    const auto autoConnect = option("auto-connect", "With --demo: log in and connect to the simulator at start; report the time to the first status.");
    const auto quitAfter = option("quit-after", "With --auto-connect: exit N seconds after the first status, reporting the resident memory.", "N");
    const auto fillLog = option("fill-log", "With --auto-connect: start the data log and fill it with N lines once the plant shows (for the figures).", "N");
    const auto scenario = option("scenario", "With --demo: the simulated plant's scenario: normal, ac-fail, battery-alarms, no-battery, or a scenario file.", "NAME");
    const auto speed = option("speed", "With --demo: simulated seconds per real second (default 1).", "FACTOR");
    const auto screenshotDelay = option("screenshot-delay", "With --screenshot: milliseconds between the first status and the picture (default 1500).", "MS");
    // For the README's picture of the alarm-history window: not an operator's option.
    auto screenshotHistory = option("screenshot-history", "With --demo: download a prefilled alarm history and save a picture of its window to FILE.", "FILE");
    screenshotHistory.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({demo, outputDir, screenshot, autoConnect, quitAfter, fillLog, scenario, speed, screenshotDelay, screenshotHistory});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments())) {
        say(parser.errorText() + QStringLiteral("\nTry 'qeln-console --help'."));
        return UsageError;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("qeln-console %s\n", QELN_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        say(QStringLiteral("unexpected argument '%1'\nTry 'qeln-console --help'.").arg(parser.positionalArguments().constFirst()));
        return UsageError;
    }
    const bool autopilot = parser.isSet(screenshot) || parser.isSet(autoConnect) || parser.isSet(screenshotHistory);
    if (autopilot && !parser.isSet(demo)) {
        say(QStringLiteral("--screenshot and --auto-connect need --demo"));
        return UsageError;
    }
    int quitAfterSeconds = 0;
    if (parser.isSet(quitAfter)) {
        bool ok = false;
        quitAfterSeconds = parser.value(quitAfter).toInt(&ok);
        if (!ok || quitAfterSeconds < 1 || quitAfterSeconds > 86400 || !parser.isSet(autoConnect)) {
            say(QStringLiteral("--quit-after needs --auto-connect and a number of seconds 1..86400"));
            return UsageError;
        }
    }

    if ((parser.isSet(scenario) || parser.isSet(speed)) && !parser.isSet(demo)) {
        say(QStringLiteral("--scenario and --speed need --demo"));
        return UsageError;
    }
    double speedFactor = 1.0;
    if (parser.isSet(speed)) {
        bool ok = false;
        speedFactor = parser.value(speed).toDouble(&ok);
        if (!ok || speedFactor <= 0 || speedFactor > 1000) {
            say(QStringLiteral("--speed needs a factor above 0 and up to 1000"));
            return UsageError;
        }
    }
    int screenshotDelayMs = 1500;
    if (parser.isSet(screenshotDelay)) {
        bool ok = false;
        screenshotDelayMs = parser.value(screenshotDelay).toInt(&ok);
        if (!ok || screenshotDelayMs < 0 || screenshotDelayMs > 600000
            || !(parser.isSet(screenshot) || parser.isSet(screenshotHistory))) {
            say(QStringLiteral("--screenshot-delay needs --screenshot and 0..600000 milliseconds"));
            return UsageError;
        }
    }
    int fillLogLines = 0;
    if (parser.isSet(fillLog)) {
        bool ok = false;
        fillLogLines = parser.value(fillLog).toInt(&ok);
        if (!ok || fillLogLines < 1 || fillLogLines > 5000 || !parser.isSet(autoConnect)) {
            say(QStringLiteral("--fill-log needs --auto-connect and a number of lines 1..5000"));
            return UsageError;
        }
    }

    QString folder = QDir::currentPath();
    if (parser.isSet(outputDir)) {
        const QString wanted = parser.value(outputDir);
        if (wanted.isEmpty() || !QDir().mkpath(wanted)) {
            say(QStringLiteral("--output-dir '%1': cannot create the folder").arg(wanted));
            return UsageError;
        }
        folder = QDir(wanted).absolutePath();
        if (!QFileInfo(folder).isWritable()) {
            say(QStringLiteral("--output-dir '%1': the folder is not writable").arg(wanted));
            return UsageError;
        }
    }

    std::unique_ptr<qeln::DemoSimulator> simulator;
    if (parser.isSet(demo)) {
        QLoggingCategory::setFilterRules(QStringLiteral("qeln.sim*.debug=false\nqeln.sim*.info=false"));
        simulator = std::make_unique<qeln::DemoSimulator>();
        QString error;
        if (parser.isSet(scenario) && !simulator->setScenario(parser.value(scenario), &error)) {
            say(QStringLiteral("--scenario: %1").arg(error));
            return UsageError;
        }
        simulator->setSpeed(speedFactor);
        if (!simulator->start(&error)) {
            say(error);
            return 1;
        }
        // A plant that has run for a while: its logs hold something to download and export.
        simulator->prefillHistory(DemoHistoryRecords);
        simulator->prefillEvents(DemoEventRecords);
        say(QStringLiteral("demo: simulated controller on tcp %1 and serial %2 (not a plant)")
                 .arg(simulator->hostText(), simulator->serialDevice()));
    }

    qeln::ConsoleSession session;
    qeln::MainForm window(session);
    window.setOutputDirectory(folder);
    if (simulator)
        window.setDemoLink(simulator->serialDevice(), simulator->hostText());
    QObject::connect(&window, &qeln::MainForm::closed, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();

    std::unique_ptr<qeln::DemoAutopilot> pilot;
    if (autopilot) {
        pilot = std::make_unique<qeln::DemoAutopilot>(window, session);
        pilot->setScreenshot(parser.value(screenshot));
        pilot->setQuitAfter(quitAfterSeconds);
        pilot->setFillLog(fillLogLines);
        pilot->setScreenshotDelay(screenshotDelayMs);
        pilot->setHistoryScreenshot(parser.value(screenshotHistory));
        QObject::connect(pilot.get(), &qeln::DemoAutopilot::finished, app.get(), &QCoreApplication::exit, Qt::QueuedConnection);
        QTimer::singleShot(0, pilot.get(), [&] {
            say(QStringLiteral("main window shown %1 ms after main() began, %2 ms after the process started")
                    .arg(sinceStart.elapsed())
                    .arg(qeln::DemoAutopilot::processAgeMs()));
            pilot->start(simulator->hostText());
        });
    }
    return QCoreApplication::exec();
}
