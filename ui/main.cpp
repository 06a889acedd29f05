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
#include <optional>
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

// What the command line asks for, checked.
struct ConsoleOptions {
    bool demo = false;
    QString outputFolder; // absolute, created and writable
    QString screenshot;
    QString historyScreenshot;
    bool autoConnect = false;
    int quitAfterSeconds = 0;
    int fillLogLines = 0;
    std::optional<QString> scenario;
    double speed = 1.0;
    int screenshotDelayMs = 1500;
    QString screenshotPage;
    // Logging in, connecting and the pictures are done without the operator.
    bool autopilot = false;
};

// A whole number from an option's value, or nullopt when it is not one or is out of lo..hi.
std::optional<int> number(const QString &text, int lo, int hi)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= lo && value <= hi ? std::optional<int>(value) : std::nullopt;
}

// Reads the command line into options. Returns the exit code when the process is to end here:
// 0 after --help or --version, UsageError after saying what is wrong.
std::optional<int> parseOptions(const QStringList &arguments, ConsoleOptions &o)
{
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
    const auto screenshotPage = option("screenshot-page", "With --screenshot: the page the picture shows: Status (default), log or trend.", "PAGE");
    parser.addOptions({demo, outputDir, screenshot, autoConnect, quitAfter, fillLog, scenario, speed, screenshotDelay, screenshotHistory, screenshotPage});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const auto usage = [](const QString &message) {
        say(message);
        return std::optional<int>(UsageError);
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText() + QStringLiteral("\nTry 'qeln-console --help'."));
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("qeln-console %s\n", QELN_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'\nTry 'qeln-console --help'.")
                         .arg(parser.positionalArguments().constFirst()));

    o.demo = parser.isSet(demo);
    o.screenshot = parser.value(screenshot);
    o.historyScreenshot = parser.value(screenshotHistory);
    o.autoConnect = parser.isSet(autoConnect);
    o.autopilot = parser.isSet(screenshot) || parser.isSet(autoConnect) || parser.isSet(screenshotHistory);
    if (o.autopilot && !o.demo)
        return usage(QStringLiteral("--screenshot and --auto-connect need --demo"));
    if (parser.isSet(quitAfter)) {
        const auto seconds = number(parser.value(quitAfter), 1, 86400);
        if (!seconds || !o.autoConnect)
            return usage(QStringLiteral("--quit-after needs --auto-connect and a number of seconds 1..86400"));
        o.quitAfterSeconds = *seconds;
    }

    if ((parser.isSet(scenario) || parser.isSet(speed)) && !o.demo)
        return usage(QStringLiteral("--scenario and --speed need --demo"));
    if (parser.isSet(scenario))
        o.scenario = parser.value(scenario);
    if (parser.isSet(speed)) {
        bool ok = false;
        o.speed = parser.value(speed).toDouble(&ok);
        if (!ok || o.speed <= 0 || o.speed > 1000)
            return usage(QStringLiteral("--speed needs a factor above 0 and up to 1000"));
    }
    if (parser.isSet(screenshotPage)) {
        o.screenshotPage = parser.value(screenshotPage);
        if (!parser.isSet(screenshot) || !QStringList{QStringLiteral("Status"), QStringLiteral("log"), QStringLiteral("trend")}.contains(o.screenshotPage))
            return usage(QStringLiteral("--screenshot-page needs --screenshot and one of Status, log, trend"));
    }
    if (parser.isSet(screenshotDelay)) {
        const auto ms = number(parser.value(screenshotDelay), 0, 600000);
        if (!ms || !(parser.isSet(screenshot) || parser.isSet(screenshotHistory)))
            return usage(QStringLiteral("--screenshot-delay needs --screenshot and 0..600000 milliseconds"));
        o.screenshotDelayMs = *ms;
    }
    if (parser.isSet(fillLog)) {
        const auto lines = number(parser.value(fillLog), 1, 5000);
        if (!lines || !o.autoConnect)
            return usage(QStringLiteral("--fill-log needs --auto-connect and a number of lines 1..5000"));
        o.fillLogLines = *lines;
    }

    o.outputFolder = QDir::currentPath();
    if (parser.isSet(outputDir)) {
        const QString wanted = parser.value(outputDir);
        if (wanted.isEmpty() || !QDir().mkpath(wanted))
            return usage(QStringLiteral("--output-dir '%1': cannot create the folder").arg(wanted));
        o.outputFolder = QDir(wanted).absolutePath();
        if (!QFileInfo(o.outputFolder).isWritable())
            return usage(QStringLiteral("--output-dir '%1': the folder is not writable").arg(wanted));
    }
    return std::nullopt;
}

// Demo mode: the simulated controller in this process, its logs prefilled. Returns the exit
// code when it cannot start.
std::optional<int> startDemo(const ConsoleOptions &o, std::unique_ptr<qeln::DemoSimulator> &simulator)
{
    QLoggingCategory::setFilterRules(QStringLiteral("qeln.sim*.debug=false\nqeln.sim*.info=false"));
    simulator = std::make_unique<qeln::DemoSimulator>();
    QString error;
    if (o.scenario && !simulator->setScenario(*o.scenario, &error)) {
        say(QStringLiteral("--scenario: %1").arg(error));
        return UsageError;
    }
    simulator->setSpeed(o.speed);
    if (!simulator->start(&error)) {
        say(error);
        return 1;
    }
    // A plant that has run for a while: its logs hold something to download and export.
    simulator->prefillHistory(DemoHistoryRecords);
    simulator->prefillEvents(DemoEventRecords);
    say(QStringLiteral("demo: simulated controller on tcp %1 and serial %2 (not a plant)")
            .arg(simulator->hostText(), simulator->serialDevice()));
    return std::nullopt;
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

    ConsoleOptions options;
    if (const auto exitCode = parseOptions(QCoreApplication::arguments(), options))
        return *exitCode;

    std::unique_ptr<qeln::DemoSimulator> simulator;
    if (options.demo) {
        if (const auto exitCode = startDemo(options, simulator))
            return *exitCode;
    }

    qeln::ConsoleSession session;
    qeln::MainForm window(session);
    window.setOutputDirectory(options.outputFolder);
    if (simulator)
        window.setDemoLink(simulator->serialDevice(), simulator->hostText());
    QObject::connect(&window, &qeln::MainForm::closed, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();

    std::unique_ptr<qeln::DemoAutopilot> pilot;
    if (options.autopilot) {
        pilot = std::make_unique<qeln::DemoAutopilot>(window, session);
        pilot->setScreenshot(options.screenshot);
        pilot->setQuitAfter(options.quitAfterSeconds);
        pilot->setFillLog(options.fillLogLines);
        pilot->setScreenshotDelay(options.screenshotDelayMs);
        pilot->setScreenshotPage(options.screenshotPage);
        pilot->setHistoryScreenshot(options.historyScreenshot);
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
