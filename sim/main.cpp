#include "historyfaults.h"
#include "logcontent.h"
#include "plant.h"
#include "simlinks.h"
#include "simprotocol.h"

#include <QDateTime>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using namespace qeln::sim;

constexpr int UsageError = 2;
constexpr int LinkError = 1;

struct Options {
    QHostAddress bind = QHostAddress(QHostAddress::LocalHost);
    quint16 tcpPort = 1502;
    bool tcp = true;
    bool pty = false;
    QString serialDevice;
    int model = 3;
    double speed = 1.0;
    int history = 0;
    int eventHistory = 0;
    QString logFile;
    QByteArray ipBlock; // null: the plant's own
    QDateTime clock; // invalid: the host's time at start
    QString scenario;
    bool trace = false;
    FaultSettings faults;
    HistoryFaultSettings historyFaults;
};

void fail(const QString &message)
{
    std::fprintf(stderr, "qeln-sim: %s\n", qPrintable(message));
}

// Parses and range-checks every option; on a fault *error says which.
bool readOptions(const QCommandLineParser &parser, Options &o, QString *error)
{
    auto bad = [error](const QString &option, const QString &value, const char *expected) {
        *error = QStringLiteral("--%1 '%2': %3").arg(option, value, QLatin1String(expected));
        return false;
    };
    auto integer = [&parser](const QString &name, qint64 low, qint64 high, qint64 &out) {
        bool ok = false;
        out = parser.value(name).toLongLong(&ok);
        return ok && out >= low && out <= high;
    };
    auto real = [&parser](const QString &name, double low, double high, double &out) {
        bool ok = false;
        out = parser.value(name).toDouble(&ok);
        return ok && std::isfinite(out) && out >= low && out <= high;
    };

    if (parser.isSet(QStringLiteral("bind"))) {
        const QString text = parser.value(QStringLiteral("bind"));
        if (text == QLatin1String("localhost"))
            o.bind = QHostAddress(QHostAddress::LocalHost);
        else if (!o.bind.setAddress(text))
            return bad(QStringLiteral("bind"), text, "not an IP address");
    }
    qint64 n = 0;
    double x = 0;
    if (parser.isSet(QStringLiteral("tcp-port"))) {
        if (!integer(QStringLiteral("tcp-port"), 0, 65535, n))
            return bad(QStringLiteral("tcp-port"), parser.value(QStringLiteral("tcp-port")), "a port 0..65535 (0: any free port)");
        o.tcpPort = quint16(n);
    }
    o.tcp = !parser.isSet(QStringLiteral("no-tcp"));
    o.pty = parser.isSet(QStringLiteral("pty"));
    o.serialDevice = parser.value(QStringLiteral("serial"));
    if (parser.isSet(QStringLiteral("serial")) && o.serialDevice.isEmpty())
        return bad(QStringLiteral("serial"), o.serialDevice, "a device path");
    if (!o.tcp && !o.pty && o.serialDevice.isEmpty()) {
        *error = QStringLiteral("--no-tcp leaves no link: give --pty or --serial DEVICE");
        return false;
    }
    if (parser.isSet(QStringLiteral("model"))) {
        if (!integer(QStringLiteral("model"), 1, 4, n))
            return bad(QStringLiteral("model"), parser.value(QStringLiteral("model")), "a model code 1..4");
        o.model = int(n);
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        if (!real(QStringLiteral("speed"), 1e-3, 1e6, x))
            return bad(QStringLiteral("speed"), parser.value(QStringLiteral("speed")), "a factor above 0 (at most 1000000)");
        o.speed = x;
    }
    if (parser.isSet(QStringLiteral("history"))) {
        if (!integer(QStringLiteral("history"), 0, 5000, n))
            return bad(QStringLiteral("history"), parser.value(QStringLiteral("history")), "a record count 0..5000");
        o.history = int(n);
    }
    if (parser.isSet(QStringLiteral("event-history"))) {
        if (!integer(QStringLiteral("event-history"), 0, 5000, n))
            return bad(QStringLiteral("event-history"), parser.value(QStringLiteral("event-history")), "a record count 0..5000");
        o.eventHistory = int(n);
    }
    if (parser.isSet(QStringLiteral("ip-block"))) {
        QString text = parser.value(QStringLiteral("ip-block"));
        text.remove(QLatin1Char(' '));
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2}){1,150}$"));
        if (!hex.match(text).hasMatch())
            return bad(QStringLiteral("ip-block"), parser.value(QStringLiteral("ip-block")),
                       "1..150 bytes as hexadecimal pairs");
        o.ipBlock = QByteArray::fromHex(text.toLatin1());
    }
    if (parser.isSet(QStringLiteral("log-file"))) {
        o.logFile = parser.value(QStringLiteral("log-file"));
        if (o.logFile.isEmpty())
            return bad(QStringLiteral("log-file"), o.logFile, "the path of a JSON file");
    }
    if (parser.isSet(QStringLiteral("clock"))) {
        const QString text = parser.value(QStringLiteral("clock"));
        o.clock = QDateTime::fromString(text, Qt::ISODate);
        if (!o.clock.isValid() || o.clock.date().year() < 2000 || o.clock.date().year() > 2099)
            return bad(QStringLiteral("clock"), text, "a date and time YYYY-MM-DDTHH:MM:SS in 2000..2099");
    }
    o.scenario = parser.value(QStringLiteral("scenario"));
    if (parser.isSet(QStringLiteral("seed"))) {
        if (!integer(QStringLiteral("seed"), 0, 0xFFFFFFFFLL, n))
            return bad(QStringLiteral("seed"), parser.value(QStringLiteral("seed")), "a number 0..4294967295");
        o.faults.seed = std::uint32_t(n);
    }
    for (const char *name : {"drop-rate", "corrupt-rate"}) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option))
            continue;
        if (!real(option, 0, 1, x))
            return bad(option, parser.value(option), "a probability 0..1");
        (option == QLatin1String("drop-rate") ? o.faults.dropRate : o.faults.corruptRate) = x;
    }
    if (parser.isSet(QStringLiteral("corrupt-kinds"))) {
        const QString text = parser.value(QStringLiteral("corrupt-kinds"));
        o.faults.tcpSpoils = parseTcpSpoils(text);
        if (o.faults.tcpSpoils == 0)
            return bad(QStringLiteral("corrupt-kinds"), text, "a list of tid, length, function, cut, exception (comma between)");
    }
    if (parser.isSet(QStringLiteral("serial-corrupt-kinds"))) {
        const QString text = parser.value(QStringLiteral("serial-corrupt-kinds"));
        o.faults.serialSpoils = parseSerialSpoils(text);
        if (o.faults.serialSpoils == 0)
            return bad(QStringLiteral("serial-corrupt-kinds"), text, "a list of lrc, hex, short (comma between)");
    }
    for (const char *name : {"delay-ms", "count-delay-ms", "record-delay-ms"}) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option))
            continue;
        if (!integer(option, 0, 600000, n))
            return bad(option, parser.value(option), "milliseconds 0..600000");
        if (option == QLatin1String("delay-ms"))
            o.faults.delayMs = int(n);
        else if (option == QLatin1String("count-delay-ms"))
            o.historyFaults.countDelayMs = int(n);
        else
            o.historyFaults.recordDelayMs = int(n);
    }
    const std::pair<const char *, HistoryFaultRule::Target> ruleOptions[] = {
        {"count-fault", HistoryFaultRule::Target::Count},
        {"record-fault", HistoryFaultRule::Target::Record},
        {"request-fault", HistoryFaultRule::Target::Request},
    };
    for (const auto &[name, target] : ruleOptions) {
        const QString option = QLatin1String(name);
        for (const QString &text : parser.values(option)) {
            HistoryFaultRule rule;
            QString why;
            if (!parseHistoryFault(text, target, &rule, &why)) {
                *error = QStringLiteral("--%1 '%2': %3").arg(option, text, why);
                return false;
            }
            o.historyFaults.rules.append(rule);
        }
    }
    if (parser.isSet(QStringLiteral("disconnect-every"))) {
        if (!real(QStringLiteral("disconnect-every"), 0.001, 86400, x))
            return bad(QStringLiteral("disconnect-every"), parser.value(QStringLiteral("disconnect-every")), "seconds above 0");
        o.faults.disconnectEverySeconds = x;
    }
    if (parser.isSet(QStringLiteral("pace-baud"))) {
        if (!integer(QStringLiteral("pace-baud"), 50, 10'000'000, n))
            return bad(QStringLiteral("pace-baud"), parser.value(QStringLiteral("pace-baud")), "a line speed 50..10000000");
        o.faults.paceBaud = int(n);
    }
    o.trace = parser.isSet(QStringLiteral("trace"));
    return true;
}

void setUpParser(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "A simulated QELN plant controller: Modbus TCP on a port and Modbus ASCII on a serial device. Prints one line per link ('tcp ADDRESS:PORT', 'serial DEVICE') once it serves; SIGINT or SIGTERM stops it."));
    auto add = [&parser](const char *name, const char *help, const char *valueName = nullptr,
                         const char *defaultValue = nullptr) {
        QCommandLineOption option{QString(QLatin1String(name)), QString(QLatin1String(help))};
        if (valueName)
            option.setValueName(QLatin1String(valueName));
        if (defaultValue)
            option.setDefaultValue(QLatin1String(defaultValue));
        parser.addOption(option);
    };
    add("bind", "Address the TCP link listens on (default 127.0.0.1).", "ADDRESS", "127.0.0.1");
    add("tcp-port", "TCP port (default 1502; 0: any free port, printed on start).", "PORT", "1502");
    add("no-tcp", "Serve no TCP link.");
    add("pty", "Create a pseudo-terminal and serve Modbus ASCII on it.");
    add("serial", "Serve Modbus ASCII on this serial device at 115200 8N1.", "DEVICE");
    add("model", "Controller model code 1..4 (default 3).", "N", "3");
    add("speed", "Simulated seconds per real second (default 1).", "FACTOR", "1");
    add("history",
        "Pre-fill the alarm history with N records (N <= 5000), the same for the same --seed "
        "and --clock.", "N", "0");
    add("event-history",
        "Pre-fill the event log with N records (N <= 5000), the same for the same --seed and "
        "--clock.", "N", "0");
    add("log-file",
        "Start with the alarm history and/or event log of this JSON file, every record as "
        "given: {\"alarm\": [...], \"event\": [...]}, record 0 (the oldest) first. A record is "
        "its bytes as hex text, or an object: alarm time (YYYY-MM-DDTHH:MM:SS), acVoltage, "
        "acCurrent, dcVoltage, dcCurrent, batteryCurrent, rackTemperature, words (5), bytes "
        "(3), detail, code, occurred; event time, code, value. --history and --event-history "
        "add older records before them. At most 16 MB.", "FILE");
    add("ip-block",
        "The network block the IP-settings read answers (the bytes after the function code, as "
        "hexadecimal pairs, zero-padded to 150 bytes) until a write is accepted.", "HEX");
    add("clock", "Start the plant clock at this time (default: the host's time).", "YYYY-MM-DDTHH:MM:SS");
    add("scenario",
        "Plant scenario: a name (normal, ac-fail, battery-alarms, no-battery) or a JSON file "
        "(at most 16 MB).", "NAME|FILE");
    add("seed", "Seed of the plant noise and of the line faults (default 1).", "N", "1");
    add("drop-rate", "Share of answers never sent, 0..1.", "P", "0");
    add("corrupt-rate",
        "Share of answers spoilt, 0..1. Serial: a wrong LRC. TCP: one of a changed "
        "transaction id, a wrong length field, another function code, an answer cut short "
        "(nothing more follows) or an exception answer (code 04).", "P", "0");
    add("corrupt-kinds",
        "TCP: what a spoilt answer may get wrong, chosen by the seed among these: "
        "tid,length,function,cut,exception (default all).", "LIST");
    add("serial-corrupt-kinds",
        "Serial: what a spoilt answer may get wrong, chosen by the seed among these: lrc (a "
        "wrong LRC), hex (a digit that is not hexadecimal), short (one data byte short, well "
        "framed) (default lrc).", "LIST");
    add("delay-ms", "Delay every answer by D milliseconds.", "D", "0");
    add("count-fault",
        "History: the first TIMES count answers of each log (default 1, 'all': every one) get"
        " the fault KIND: drop (no answer), corrupt (as --corrupt-rate spoils), short or long"
        " (one data byte less or more, well framed), other-log (the other log's answer).", "KIND[:TIMES]");
    add("record-fault",
        "History: the first TIMES answers for record number N in each download (from its "
        "count request on) get the fault KIND (as --count-fault; other-log: the other log's "
        "code and record size). Repeatable.", "N:KIND[:TIMES]");
    add("request-fault",
        "History: the answers to the K-th record request of each download and the TIMES-1 "
        "requests after it get the fault KIND. Repeatable.", "K:KIND[:TIMES]");
    add("count-delay-ms", "History: count answers leave D milliseconds late.", "D", "0");
    add("record-delay-ms", "History: answers to record requests leave D milliseconds late.", "D", "0");
    add("disconnect-every", "TCP: close each connection S seconds after it opened.", "S");
    add("pace-baud", "Serial: send answers at the pace of a B-baud line (8N1).", "B");
    add("trace", "Log links and frames on standard error.");
    parser.addHelpOption();
    parser.addVersionOption();
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qeln-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QELN_VERSION));

    QCommandLineParser parser;
    setUpParser(parser);
    if (!parser.parse(app.arguments())) {
        fail(parser.errorText() + QStringLiteral("\nTry 'qeln-sim --help'."));
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("qeln-sim %s\n", QELN_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument '%1'\nTry 'qeln-sim --help'.").arg(parser.positionalArguments().first()));
        return UsageError;
    }
    Options options;
    QString error;
    if (!readOptions(parser, options, &error)) {
        fail(error + QStringLiteral("\nTry 'qeln-sim --help'."));
        return UsageError;
    }

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
        char drain[16];
        while (::read(signalPipe[0], drain, sizeof drain) > 0) {
        }
        QCoreApplication::quit();
    });

    Plant plant;
    plant.setSeed(options.faults.seed);
    plant.setModel(options.model);
    if (!options.ipBlock.isNull())
        plant.setIpSettingsReadBack(options.ipBlock);
    // A controller's clock runs whether anyone watches it or not: start from the host's.
    plant.setClock(options.clock.isValid() ? options.clock : QDateTime::currentDateTime());
    if (!options.scenario.isEmpty() && !plant.loadScenario(options.scenario, &error)) {
        fail(QStringLiteral("--scenario: %1").arg(error));
        return UsageError;
    }
    if (!options.logFile.isEmpty()) {
        LogContent logs;
        if (!readLogFile(options.logFile, &logs, &error)) {
            fail(QStringLiteral("--log-file: %1").arg(error));
            return UsageError;
        }
        if (logs.hasAlarm)
            plant.setLog(Plant::AlarmLog, logs.alarm);
        if (logs.hasEvent)
            plant.setLog(Plant::EventLog, logs.event);
    }
    if (options.history > 0)
        plant.prefillHistory(options.history);
    if (options.eventHistory > 0)
        plant.prefillEvents(options.eventHistory);
    plant.setSpeed(options.speed);

    Protocol protocol(plant);
    protocol.setHistoryFaults(options.historyFaults);
    Faults faults(options.faults);
    QStringList lines;

    std::unique_ptr<TcpLink> tcp;
    if (options.tcp) {
        tcp = std::make_unique<TcpLink>(protocol, faults);
        if (!tcp->listen(options.bind, options.tcpPort, &error)) {
            fail(QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(options.bind.toString()).arg(options.tcpPort).arg(error));
            return LinkError;
        }
        lines << tcp->description();
    }
    std::unique_ptr<SerialLink> pty;
    if (options.pty) {
        pty = std::make_unique<SerialLink>(protocol, faults);
        if (!pty->openPty(&error)) {
            fail(error);
            return LinkError;
        }
        lines << pty->description();
    }
    std::unique_ptr<SerialLink> serial;
    if (!options.serialDevice.isEmpty()) {
        serial = std::make_unique<SerialLink>(protocol, faults);
        if (!serial->openDevice(options.serialDevice, &error)) {
            fail(QStringLiteral("cannot open %1: %2").arg(options.serialDevice, error));
            return LinkError;
        }
        lines << serial->description();
    }

    plant.start();
    for (const QString &line : lines)
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);

    const int status = app.exec();
    plant.stop();
    return status;
}
