#include "simoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace qeln::sim {

namespace {

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
    add("fleet",
        "Play N controllers (1..10000) in one process, controller i (0-based) with seed --seed + i "
        "(modulo 2^32), "
        "each on a TCP port of its own: any free port each, or --tcp-port P, P+1, ... when that "
        "is given. Prints one 'tcp ADDRESS:PORT' line per controller, in index order, once all "
        "serve. TCP only; raises its open-files limit to the hard limit.", "N");
    add("fleet-dead",
        "With --fleet: the last K controllers accept connections and never answer, as a "
        "controller that hangs.", "K", "0");
    add("fleet-slow",
        "With --fleet: the K controllers before the dead ones answer every request MS "
        "milliseconds late.", "K:MS");
    add("request-log",
        "Create FILE and write one line per request received: milliseconds since the start "
        "(to the microsecond), the controller's index (0 without --fleet) and the function "
        "code in decimal, after a first '#' line with the start's Unix time in milliseconds. "
        "Written every second and at exit.", "FILE");
    add("trace", "Log links and frames on standard error.");
    parser.addHelpOption();
    parser.addVersionOption();
}

// Reads the parsed options into SimOptions group by group, in the order the faults are
// reported; every read returns false with *error set at the first value out of range.
class OptionReader {
public:
    OptionReader(const QCommandLineParser &parser, QString *error) : parser(parser), error(error) {}

    bool read(SimOptions &o)
    {
        if (!links(o) || !plant(o) || !lineFaults(o) || !historyFaults(o) || !lineShape(o) || !fleet(o))
            return false;
        o.trace = isSet("trace");
        return true;
    }

private:
    bool links(SimOptions &o);
    bool plant(SimOptions &o);
    bool lineFaults(SimOptions &o);
    bool historyFaults(SimOptions &o);
    bool lineShape(SimOptions &o);
    bool fleet(SimOptions &o);

    bool isSet(const char *name) const { return parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser.value(QLatin1String(name)); }

    bool bad(const char *option, const QString &value, const char *expected)
    {
        *error = QStringLiteral("--%1 '%2': %3").arg(QLatin1String(option), value, QLatin1String(expected));
        return false;
    }

    // An integer option, when given, within low..high.
    template <typename T>
    bool integer(const char *name, qint64 low, qint64 high, const char *expected, T &out)
    {
        if (!isSet(name))
            return true;
        bool ok = false;
        const qint64 n = value(name).toLongLong(&ok);
        if (!ok || n < low || n > high)
            return bad(name, value(name), expected);
        out = T(n);
        return true;
    }

    // A finite number option, when given, within low..high.
    bool real(const char *name, double low, double high, const char *expected, double &out)
    {
        if (!isSet(name))
            return true;
        bool ok = false;
        const double x = value(name).toDouble(&ok);
        if (!ok || !std::isfinite(x) || x < low || x > high)
            return bad(name, value(name), expected);
        out = x;
        return true;
    }

    const QCommandLineParser &parser;
    QString *error;
};

bool OptionReader::links(SimOptions &o)
{
    if (isSet("bind")) {
        const QString text = value("bind");
        if (text == QLatin1String("localhost"))
            o.bind = QHostAddress(QHostAddress::LocalHost);
        else if (!o.bind.setAddress(text))
            return bad("bind", text, "not an IP address");
    }
    if (!integer("tcp-port", 0, 65535, "a port 0..65535 (0: any free port)", o.tcpPort))
        return false;
    o.tcp = !isSet("no-tcp");
    o.pty = isSet("pty");
    o.serialDevice = value("serial");
    if (isSet("serial") && o.serialDevice.isEmpty())
        return bad("serial", o.serialDevice, "a device path");
    if (!o.tcp && !o.pty && o.serialDevice.isEmpty()) {
        *error = QStringLiteral("--no-tcp leaves no link: give --pty or --serial DEVICE");
        return false;
    }
    return true;
}

bool OptionReader::plant(SimOptions &o)
{
    if (!integer("model", 1, 4, "a model code 1..4", o.model)
        || !real("speed", 1e-3, 1e6, "a factor above 0 (at most 1000000)", o.speed)
        || !integer("history", 0, 5000, "a record count 0..5000", o.history)
        || !integer("event-history", 0, 5000, "a record count 0..5000", o.eventHistory))
        return false;
    if (isSet("ip-block")) {
        QString text = value("ip-block");
        text.remove(QLatin1Char(' '));
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2}){1,150}$"));
        if (!hex.match(text).hasMatch())
            return bad("ip-block", value("ip-block"), "1..150 bytes as hexadecimal pairs");
        o.ipBlock = QByteArray::fromHex(text.toLatin1());
    }
    if (isSet("log-file")) {
        o.logFile = value("log-file");
        if (o.logFile.isEmpty())
            return bad("log-file", o.logFile, "the path of a JSON file");
    }
    if (isSet("clock")) {
        const QString text = value("clock");
        o.clock = QDateTime::fromString(text, Qt::ISODate);
        if (!o.clock.isValid() || o.clock.date().year() < 2000 || o.clock.date().year() > 2099)
            return bad("clock", text, "a date and time YYYY-MM-DDTHH:MM:SS in 2000..2099");
    }
    o.scenario = value("scenario");
    return integer("seed", 0, 0xFFFFFFFFLL, "a number 0..4294967295", o.faults.seed);
}

bool OptionReader::lineFaults(SimOptions &o)
{
    if (!real("drop-rate", 0, 1, "a probability 0..1", o.faults.dropRate)
        || !real("corrupt-rate", 0, 1, "a probability 0..1", o.faults.corruptRate))
        return false;
    if (isSet("corrupt-kinds")) {
        const QString text = value("corrupt-kinds");
        o.faults.tcpSpoils = parseTcpSpoils(text);
        if (o.faults.tcpSpoils == 0)
            return bad("corrupt-kinds", text, "a list of tid, length, function, cut, exception (comma between)");
    }
    if (isSet("serial-corrupt-kinds")) {
        const QString text = value("serial-corrupt-kinds");
        o.faults.serialSpoils = parseSerialSpoils(text);
        if (o.faults.serialSpoils == 0)
            return bad("serial-corrupt-kinds", text, "a list of lrc, hex, short (comma between)");
    }
    return integer("delay-ms", 0, 600000, "milliseconds 0..600000", o.faults.delayMs);
}

bool OptionReader::historyFaults(SimOptions &o)
{
    HistoryFaultSettings &h = o.historyFaults;
    if (!integer("count-delay-ms", 0, 600000, "milliseconds 0..600000", h.countDelayMs)
        || !integer("record-delay-ms", 0, 600000, "milliseconds 0..600000", h.recordDelayMs))
        return false;
    const std::pair<const char *, HistoryFaultRule::Target> ruleOptions[] = {
        {"count-fault", HistoryFaultRule::Target::Count},
        {"record-fault", HistoryFaultRule::Target::Record},
        {"request-fault", HistoryFaultRule::Target::Request},
    };
    for (const auto &[name, target] : ruleOptions) {
        for (const QString &text : parser.values(QLatin1String(name))) {
            HistoryFaultRule rule;
            QString why;
            if (!parseHistoryFault(text, target, &rule, &why)) {
                *error = QStringLiteral("--%1 '%2': %3").arg(QLatin1String(name), text, why);
                return false;
            }
            h.rules.append(rule);
        }
    }
    return true;
}

// How the links behave over time: connections that close on their own, a slow serial line.
bool OptionReader::lineShape(SimOptions &o)
{
    return real("disconnect-every", 0.001, 86400, "seconds above 0", o.faults.disconnectEverySeconds)
           && integer("pace-baud", 50, 10'000'000, "a line speed 50..10000000", o.faults.paceBaud);
}

// Many controllers in one process, which of them hang or answer late, and the request log.
bool OptionReader::fleet(SimOptions &o)
{
    if (isSet("request-log")) {
        o.requestLog = value("request-log");
        if (o.requestLog.isEmpty())
            return bad("request-log", o.requestLog, "the path of a file to create");
    }
    if (!isSet("fleet")) {
        for (const char *name : {"fleet-dead", "fleet-slow"}) {
            if (isSet(name)) {
                *error = QStringLiteral("--%1 needs --fleet N").arg(QLatin1String(name));
                return false;
            }
        }
        return true;
    }
    if (!integer("fleet", 1, 10000, "a controller count 1..10000", o.fleet))
        return false;
    if (o.pty || !o.serialDevice.isEmpty() || !o.tcp) {
        const char *option = o.pty ? "--pty" : !o.serialDevice.isEmpty() ? "--serial" : "--no-tcp";
        *error = QStringLiteral("--fleet serves TCP only: leave out %1").arg(QLatin1String(option));
        return false;
    }
    const QString count = QStringLiteral("a count 0..%1 (the fleet's size)").arg(o.fleet);
    if (!integer("fleet-dead", 0, o.fleet, qPrintable(count), o.fleetDead))
        return false;
    if (isSet("fleet-slow")) {
        static const QRegularExpression form(QStringLiteral("^(\\d{1,5}):(\\d{1,6})$"));
        const QString text = value("fleet-slow");
        const QRegularExpressionMatch match = form.match(text);
        const int k = match.hasMatch() ? match.captured(1).toInt() : -1;
        const int ms = match.hasMatch() ? match.captured(2).toInt() : -1;
        if (k < 0 || k > o.fleet || ms < 0 || ms > 600000) {
            const QString expected =
                QStringLiteral("K:MS, a count K 0..%1 and milliseconds MS 0..600000").arg(o.fleet);
            return bad("fleet-slow", text, qPrintable(expected));
        }
        o.fleetSlow = k;
        o.fleetSlowMs = ms;
    }
    if (o.fleetDead + o.fleetSlow > o.fleet) {
        *error = QStringLiteral("--fleet-dead %1 and --fleet-slow %2 ask for more than the fleet's %3 controllers")
                     .arg(o.fleetDead).arg(o.fleetSlow).arg(o.fleet);
        return false;
    }
    if (!isSet("tcp-port")) {
        o.tcpPort = 0;
    } else if (o.tcpPort != 0 && int(o.tcpPort) + o.fleet - 1 > 65535) {
        *error = QStringLiteral("--tcp-port '%1': the fleet's %2 ports from it pass 65535")
                     .arg(o.tcpPort).arg(o.fleet);
        return false;
    }
    return true;
}

} // namespace

SimCommandLine parseSimCommandLine(const QStringList &arguments)
{
    SimCommandLine result;
    QCommandLineParser parser;
    setUpParser(parser);
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.outcome = SimCommandLine::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.outcome = SimCommandLine::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return result;
    }
    if (OptionReader(parser, &result.text).read(result.options))
        result.outcome = SimCommandLine::Run;
    return result;
}

} // namespace qeln::sim
