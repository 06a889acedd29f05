#include "simoptions.h"

#include <QTest>

using qeln::sim::HistoryFaultRule;
using qeln::sim::SimCommandLine;
using qeln::sim::SimOptions;

namespace {

SimCommandLine parse(const QStringList &options)
{
    return qeln::sim::parseSimCommandLine(QStringList{QStringLiteral("qeln-sim")} + options);
}

QString rulesText(const SimOptions &o)
{
    QStringList rules;
    for (const HistoryFaultRule &r : o.historyFaults.rules) {
        const char *target = r.target == HistoryFaultRule::Target::Count    ? "count"
                             : r.target == HistoryFaultRule::Target::Record ? "record"
                                                                            : "request";
        rules << QStringLiteral("%1 %2 %3 %4")
                     .arg(QLatin1String(target)).arg(r.at).arg(qeln::sim::historyFaultName(r.fault)).arg(r.times);
    }
    return rules.join(QStringLiteral(", "));
}

// One field of the options by name, so that one table can check where every option lands.
QVariant field(const SimOptions &o, const QString &name)
{
    const QHash<QString, QVariant> fields = {
        {QStringLiteral("bind"), o.bind.toString()},
        {QStringLiteral("tcpPort"), int(o.tcpPort)},
        {QStringLiteral("tcp"), o.tcp},
        {QStringLiteral("pty"), o.pty},
        {QStringLiteral("serialDevice"), o.serialDevice},
        {QStringLiteral("model"), o.model},
        {QStringLiteral("speed"), o.speed},
        {QStringLiteral("history"), o.history},
        {QStringLiteral("eventHistory"), o.eventHistory},
        {QStringLiteral("logFile"), o.logFile},
        {QStringLiteral("ipBlock"), QString::fromLatin1(o.ipBlock.toHex())},
        {QStringLiteral("ipBlockNull"), o.ipBlock.isNull()},
        {QStringLiteral("clock"), o.clock.toString(Qt::ISODate)},
        {QStringLiteral("scenario"), o.scenario},
        {QStringLiteral("trace"), o.trace},
        {QStringLiteral("seed"), qint64(o.faults.seed)},
        {QStringLiteral("dropRate"), o.faults.dropRate},
        {QStringLiteral("corruptRate"), o.faults.corruptRate},
        {QStringLiteral("tcpSpoils"), o.faults.tcpSpoils},
        {QStringLiteral("serialSpoils"), o.faults.serialSpoils},
        {QStringLiteral("delayMs"), o.faults.delayMs},
        {QStringLiteral("disconnect"), o.faults.disconnectEverySeconds},
        {QStringLiteral("paceBaud"), o.faults.paceBaud},
        {QStringLiteral("countDelayMs"), o.historyFaults.countDelayMs},
        {QStringLiteral("recordDelayMs"), o.historyFaults.recordDelayMs},
        {QStringLiteral("rules"), rulesText(o)},
        {QStringLiteral("fleet"), QStringLiteral("%1 dead %2 slow %3:%4").arg(o.fleet).arg(o.fleetDead).arg(o.fleetSlow).arg(o.fleetSlowMs)},
        {QStringLiteral("requestLog"), o.requestLog},
    };
    return fields.value(name);
}

} // namespace

class TestSimOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void helpAndVersion();
};

void TestSimOptions::accepted_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    auto row = [](const char *name, std::initializer_list<const char *> options, const char *field,
                  const QVariant &expected) {
        QStringList list;
        for (const char *o : options)
            list << QString::fromUtf8(o);
        QTest::newRow(name) << list << QString::fromLatin1(field) << expected;
    };
    // Without options: TCP on the loopback at 1502, no serial link, model 3, nothing faulty.
    row("default bind", {}, "bind", QStringLiteral("127.0.0.1"));
    row("default port", {}, "tcpPort", 1502);
    row("default tcp", {}, "tcp", true);
    row("default model", {}, "model", 3);
    row("default seed", {}, "seed", qint64(1));
    row("default ip block", {}, "ipBlockNull", true);
    row("default clock", {}, "clock", QString());
    row("default kinds tcp", {}, "tcpSpoils", 0x1Fu);
    row("default kinds serial", {}, "serialSpoils", 0x1u);

    row("bind localhost", {"--bind", "localhost"}, "bind", QStringLiteral("127.0.0.1"));
    row("bind any", {"--bind", "0.0.0.0"}, "bind", QStringLiteral("0.0.0.0"));
    row("bind v6", {"--bind", "::1"}, "bind", QStringLiteral("::1"));
    row("port 0", {"--tcp-port", "0"}, "tcpPort", 0);
    row("port top", {"--tcp-port", "65535"}, "tcpPort", 65535);
    row("pty only", {"--no-tcp", "--pty"}, "tcp", false);
    row("serial only", {"--no-tcp", "--serial", "/dev/ttyUSB0"}, "serialDevice", QStringLiteral("/dev/ttyUSB0"));
    row("model 1", {"--model", "1"}, "model", 1);
    row("speed low", {"--speed", "0.001"}, "speed", 0.001);
    row("speed high", {"--speed", "1e6"}, "speed", 1e6);
    row("history 5000", {"--history", "5000"}, "history", 5000);
    row("event history", {"--event-history", "12"}, "eventHistory", 12);
    row("log file", {"--log-file", "logs.json"}, "logFile", QStringLiteral("logs.json"));
    row("ip block spaced", {"--ip-block", "00 0a FF"}, "ipBlock", QStringLiteral("000aff"));
    row("clock", {"--clock", "2099-12-31T23:59:59"}, "clock", QStringLiteral("2099-12-31T23:59:59"));
    row("scenario", {"--scenario", "ac-fail"}, "scenario", QStringLiteral("ac-fail"));
    row("trace", {"--trace"}, "trace", true);
    row("seed top", {"--seed", "4294967295"}, "seed", qint64(4294967295LL));
    row("drop rate", {"--drop-rate", "0.25", "--corrupt-rate", "0.5"}, "dropRate", 0.25);
    row("corrupt rate", {"--drop-rate", "0.25", "--corrupt-rate", "0.5"}, "corruptRate", 0.5);
    row("tcp kinds", {"--corrupt-kinds", "tid,cut"}, "tcpSpoils", 0x9u);
    row("serial kinds", {"--serial-corrupt-kinds", "hex,short"}, "serialSpoils", 0x6u);
    // The three delays share a range but not a field.
    row("delay", {"--delay-ms", "1", "--count-delay-ms", "2", "--record-delay-ms", "3"}, "delayMs", 1);
    row("count delay", {"--delay-ms", "1", "--count-delay-ms", "2", "--record-delay-ms", "3"}, "countDelayMs", 2);
    row("record delay", {"--delay-ms", "1", "--count-delay-ms", "2", "--record-delay-ms", "3"}, "recordDelayMs", 3);
    row("delay top", {"--delay-ms", "600000"}, "delayMs", 600000);
    row("disconnect", {"--disconnect-every", "0.5"}, "disconnect", 0.5);
    row("pace", {"--pace-baud", "9600"}, "paceBaud", 9600);
    // Rules keep count, record and request order, each option's repeats in the order given.
    row("rules", {"--request-fault", "2:drop", "--record-fault", "7:long:3", "--count-fault", "corrupt:all",
                  "--record-fault", "0:other-log"},
        "rules", QStringLiteral("count 0 corrupt 0, record 7 long 3, record 0 other-log 1, request 2 drop 1"));
    // A fleet: any free port each unless --tcp-port names the first of them.
    row("no fleet", {}, "fleet", QStringLiteral("0 dead 0 slow 0:0"));
    row("fleet", {"--fleet", "6", "--fleet-dead", "1", "--fleet-slow", "2:300"}, "fleet", QStringLiteral("6 dead 1 slow 2:300"));
    row("fleet all dead or slow", {"--fleet", "3", "--fleet-dead", "1", "--fleet-slow", "2:0"}, "fleet",
        QStringLiteral("3 dead 1 slow 2:0"));
    row("fleet top", {"--fleet", "10000"}, "fleet", QStringLiteral("10000 dead 0 slow 0:0"));
    row("fleet any ports", {"--fleet", "6"}, "tcpPort", 0);
    row("fleet first port", {"--fleet", "6", "--tcp-port", "20000"}, "tcpPort", 20000);
    row("fleet last ports", {"--fleet", "6", "--tcp-port", "65530"}, "tcpPort", 65530);
    row("request log", {"--request-log", "requests.log"}, "requestLog", QStringLiteral("requests.log"));
}

void TestSimOptions::accepted()
{
    QFETCH(QStringList, options);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    const SimCommandLine command = parse(options);
    QCOMPARE(command.text, QString());
    QCOMPARE(command.outcome, SimCommandLine::Run);
    QCOMPARE(::field(command.options, field), expected);
}

void TestSimOptions::refused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");

    auto row = [](const char *name, std::initializer_list<const char *> options, const char *message) {
        QStringList list;
        for (const char *o : options)
            list << QString::fromUtf8(o);
        QTest::newRow(name) << list << QString::fromUtf8(message);
    };
    row("unknown option", {"--frobnicate"}, "Unknown option 'frobnicate'.");
    row("no value", {"--model"}, "Missing value after '--model'.");
    row("positional", {"extra", "--model", "9"}, "unexpected argument 'extra'");
    row("bind", {"--bind", "not-an-address"}, "--bind 'not-an-address': not an IP address");
    row("port", {"--tcp-port", "65536"}, "--tcp-port '65536': a port 0..65535 (0: any free port)");
    row("serial empty", {"--serial", ""}, "--serial '': a device path");
    row("no link", {"--no-tcp"}, "--no-tcp leaves no link: give --pty or --serial DEVICE");
    row("model", {"--model", "2.5"}, "--model '2.5': a model code 1..4");
    row("speed zero", {"--speed", "0"}, "--speed '0': a factor above 0 (at most 1000000)");
    row("speed nan", {"--speed", "nan"}, "--speed 'nan': a factor above 0 (at most 1000000)");
    row("history", {"--history", "5001"}, "--history '5001': a record count 0..5000");
    row("ip block odd", {"--ip-block", "0 1 2"}, "--ip-block '0 1 2': 1..150 bytes as hexadecimal pairs");
    row("log file empty", {"--log-file", ""}, "--log-file '': the path of a JSON file");
    row("clock year", {"--clock", "2100-01-01T00:00:00"},
        "--clock '2100-01-01T00:00:00': a date and time YYYY-MM-DDTHH:MM:SS in 2000..2099");
    row("seed", {"--seed", "4294967296"}, "--seed '4294967296': a number 0..4294967295");
    row("corrupt rate", {"--corrupt-rate", "-0.1"}, "--corrupt-rate '-0.1': a probability 0..1");
    row("tcp kinds", {"--corrupt-kinds", "tid,flip"},
        "--corrupt-kinds 'tid,flip': a list of tid, length, function, cut, exception (comma between)");
    row("serial kinds", {"--serial-corrupt-kinds", ""},
        "--serial-corrupt-kinds '': a list of lrc, hex, short (comma between)");
    row("record delay", {"--record-delay-ms", "600001"}, "--record-delay-ms '600001': milliseconds 0..600000");
    row("record fault", {"--record-fault", "5000:drop"}, "--record-fault '5000:drop': the record number must be 0..4999");
    row("disconnect", {"--disconnect-every", "0"}, "--disconnect-every '0': seconds above 0");
    row("pace", {"--pace-baud", "49"}, "--pace-baud '49': a line speed 50..10000000");
    // With several faults the first in the order links, plant, line, history, shape is named.
    row("links first", {"--model", "9", "--bind", "x"}, "--bind 'x': not an IP address");
    row("no link before plant", {"--model", "9", "--no-tcp"}, "--no-tcp leaves no link: give --pty or --serial DEVICE");
    row("seed before rates", {"--drop-rate", "2", "--seed", "-1"}, "--seed '-1': a number 0..4294967295");
    row("drop before corrupt", {"--corrupt-rate", "2", "--drop-rate", "2"}, "--drop-rate '2': a probability 0..1");
    row("line delay before history delay", {"--count-delay-ms", "-1", "--delay-ms", "-1"},
        "--delay-ms '-1': milliseconds 0..600000");
    row("fleet 0", {"--fleet", "0"}, "--fleet '0': a controller count 1..10000");
    row("fleet huge", {"--fleet", "10001"}, "--fleet '10001': a controller count 1..10000");
    row("fleet with pty", {"--fleet", "2", "--pty"}, "--fleet serves TCP only: leave out --pty");
    row("fleet with serial", {"--fleet", "2", "--serial", "/dev/ttyUSB0"}, "--fleet serves TCP only: leave out --serial");
    row("fleet without tcp", {"--fleet", "2", "--no-tcp", "--pty"}, "--fleet serves TCP only: leave out --pty");
    row("dead without fleet", {"--fleet-dead", "1"}, "--fleet-dead needs --fleet N");
    row("slow without fleet", {"--fleet-slow", "1:10"}, "--fleet-slow needs --fleet N");
    row("dead past fleet", {"--fleet", "3", "--fleet-dead", "4"}, "--fleet-dead '4': a count 0..3 (the fleet's size)");
    row("slow past fleet", {"--fleet", "3", "--fleet-slow", "4:10"},
        "--fleet-slow '4:10': K:MS, a count K 0..3 and milliseconds MS 0..600000");
    row("slow no ms", {"--fleet", "3", "--fleet-slow", "1"},
        "--fleet-slow '1': K:MS, a count K 0..3 and milliseconds MS 0..600000");
    row("slow negative", {"--fleet", "3", "--fleet-slow", "-1:10"},
        "--fleet-slow '-1:10': K:MS, a count K 0..3 and milliseconds MS 0..600000");
    row("slow ms huge", {"--fleet", "3", "--fleet-slow", "1:600001"},
        "--fleet-slow '1:600001': K:MS, a count K 0..3 and milliseconds MS 0..600000");
    row("dead and slow past fleet", {"--fleet", "6", "--fleet-dead", "4", "--fleet-slow", "3:10"},
        "--fleet-dead 4 and --fleet-slow 3 ask for more than the fleet's 6 controllers");
    row("fleet ports past top", {"--fleet", "7", "--tcp-port", "65530"},
        "--tcp-port '65530': the fleet's 7 ports from it pass 65535");
    row("request log empty", {"--request-log", ""}, "--request-log '': the path of a file to create");
    row("history before shape", {"--pace-baud", "1", "--count-fault", "1:drop"},
        "--count-fault '1:drop': the kind must be one of drop, corrupt, short, long, other-log");
}

void TestSimOptions::refused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    const SimCommandLine command = parse(options);
    QCOMPARE(command.outcome, SimCommandLine::Refused);
    QCOMPARE(command.text, message);
}

void TestSimOptions::helpAndVersion()
{
    // Help and version come before the option values are read, but an unknown option still
    // stops the start.
    SimCommandLine command = parse({QStringLiteral("--help"), QStringLiteral("--model"), QStringLiteral("9")});
    QCOMPARE(command.outcome, SimCommandLine::Help);
    QVERIFY(command.text.contains(QLatin1String("--record-fault <N:KIND[:TIMES]>")));
    command = parse({QStringLiteral("--version"), QStringLiteral("--speed"), QStringLiteral("0")});
    QCOMPARE(command.outcome, SimCommandLine::Version);
    command = parse({QStringLiteral("--help"), QStringLiteral("--frobnicate")});
    QCOMPARE(command.outcome, SimCommandLine::Refused);
}

QTEST_GUILESS_MAIN(TestSimOptions)
#include "tst_simoptions.moc"
