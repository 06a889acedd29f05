#include "clicommands.h"

#include "clidoctor.h"
#include "clihistory.h"
#include "cliip.h"
#include "clilogger.h"
#include "clirunner.h"
#include "cliserve.h"
#include "clitrend.h"
#include "clisettings.h"

#include <QCoreApplication>

#include <cstdio>

namespace qeln {

namespace {

template<typename Command>
int runOnEventLoop(const CliArgs &args)
{
    Command command(args);
    QObject::connect(&command, &CliCommand::finished, QCoreApplication::instance(), &QCoreApplication::exit,
                     Qt::QueuedConnection);
    command.start();
    return QCoreApplication::exec();
}

int runSettings(const CliArgs &args)
{
    if (args.command == CliArgs::Command::SettingsHelp) {
        std::fputs(CliSettings::helpText().toUtf8().constData(), stdout);
        return 0;
    }
    return runOnEventLoop<CliSettings>(args);
}

const CliCommandEntry Commands[] = {
    {QLatin1String("status"), &CliRunner::parseStatus, &runOnEventLoop<CliRunner>, false,
     "  status [--json]     poll until the first status response (at most 5 s) and print\n"
     "                      the 131 registers: 'N VALUE' per line; with --json also the\n"
     "                      texts and visibility of the window's controls and the active\n"
     "                      alarms: {\"registers\", \"texts\", \"visible\", \"alarms\"}\n"},
    {QLatin1String("write"), &CliRunner::parseWrite, &runOnEventLoop<CliRunner>, false,
     "  write REG=VALUE ... write registers (REG 1..131, VALUE 0..65535, decimal or 0x-hex);\n"
     "                      the last one goes first, each next one after the previous\n"
     "                      acknowledgement; prints \" Setting Sucess!!\" at the end\n"},
    {QLatin1String("log"), &CliLogger::parseArgs, &runOnEventLoop<CliLogger>, false,
     "  log [--interval 2s|10s|1m|2m|5m|10m|30m] [--output-dir DIR]\n"
     "                      data logger: polls the status and writes the console's data-log\n"
     "                      lines (one per interval, default 2s, and one on each alarm\n"
     "                      change) to text files in DIR (default: the current folder),\n"
     "                      a new file after 5000 lines; on SIGINT or SIGTERM it saves what\n"
     "                      it holds and ends. Prints the path of each file written.\n"},
    {QLatin1String("history"), &CliHistory::parseHistory, &runOnEventLoop<CliHistory>, true,
     "  history alarm|event [--out FILE.xlsx|FILE.csv]\n"
     "                      download the controller's alarm history or event log, as\n"
     "                      the console's history window does, into a workbook or a\n"
     "                      CSV file (CSV on standard output without --out); an\n"
     "                      existing file is never replaced; nothing is written when\n"
     "                      the download fails\n"},
    {QLatin1String("clear-history"), &CliHistory::parseClearHistory, &runOnEventLoop<CliHistory>, false,
     "  clear-history alarm|event --yes\n"
     "                      erase that log in the controller (one request); done when\n"
     "                      the controller acknowledges it; nothing is sent without --yes\n"},
    {QLatin1String("settings"), &CliSettings::parseSettings, &runSettings, true,
     "  settings show [--json]\n"
     "                      one status poll, then every setting with its value, unit and\n"
     "                      range (operation and alarm settings, contact options, the\n"
     "                      contacts' alarms, the alarm test)\n"
     "  settings diff FILE.json\n"
     "                      what apply would change; nothing is sent\n"
     "  settings apply FILE.json | KEY=VALUE ...\n"
     "                      write the changed settings as the dialogs write them, then\n"
     "                      read every written register back\n"
     "  settings --help     every key with its unit and range, and the file format\n"},
    {QLatin1String("clock"), &CliSettings::parseClock, &runOnEventLoop<CliSettings>, false,
     "  clock set YYYY-MM-DDTHH:MM:SS | clock sync\n"
     "                      set the controller's clock to this time or to the PC's clock\n"},
    {QLatin1String("calibrate"), &CliSettings::parseCalibrate, &runOnEventLoop<CliSettings>, false,
     "  calibrate KEY=VALUE ...\n"
     "                      measurement calibration: the value a quantity should read\n"
     "                      (keys: ac_voltage, ac_current, dc_voltage, dc_current,\n"
     "                      battery_charge_current, battery_discharge_current)\n"},
    {QLatin1String("factory"), &CliSettings::parseFactory, &runOnEventLoop<CliSettings>, false,
     "  factory reset|config --yes\n"
     "                      restart the controller (reset) or return its settings to the\n"
     "                      factory values (config); nothing is sent without --yes\n"},
    {QLatin1String("ip"), &CliIp::parseArgs, &runOnEventLoop<CliIp>, true,
     "  ip show [--json]    read the controller's network block and print every field\n"
     "                      (mac, ip, mask, gateway, hw_description, serial_number,\n"
     "                      hw_version, rectifier_id, site; read-only: saved_ip,\n"
     "                      saved_mac, saved_ip_mac, saved_rectifier_id, firmware)\n"
     "  ip apply KEY=VALUE ... [--file F.json] [--dry-run]\n"
     "                      read the block, then write it back with the given fields\n"
     "                      changed (mac=00.1A.3A.E0.00.02, ip=192.168.0.5, mask=,\n"
     "                      gateway=, hw_version=0.0.0.1, rectifier_id=FFFFFFFE,\n"
     "                      serial_number=2200000002 (10 bytes), hw_description=TEXT,\n"
     "                      site=TEXT); reads it again and reports fields that differ.\n"
     "                      --file takes the keys from a JSON object (read-only keys of\n"
     "                      'ip show --json' are ignored; each key once, at most 1 MB);\n"
     "                      a text not given goes back as the bytes read; --dry-run\n"
     "                      prints the block in hex instead of sending it\n"},
    {QLatin1String("record"), &CliRecord::parseArgs, &runOnEventLoop<CliRecord>, true,
     "  record [--db FILE]  poll the status as the console does and record every decoded\n"
     "                      status into a trend file (default: trends/ in the current\n"
     "                      folder, one file per controller) until SIGINT or SIGTERM\n"},
    {QLatin1String("trend"), &parseTrendArgs, &runTrend, false,
     "  trend list --db FILE\n"
     "                      the recording's span, and each channel with its unit, first\n"
     "                      and last sample and sample count (no --link)\n"
     "  trend export --db FILE [--from T] [--to T] [--channels a,b]\n"
     "                      [--step 1m] [--out F.csv|F.xlsx]:\n"
     "                      the recorded values as CSV (on standard output without\n"
     "                      --out): one row per status, or per step the mean with _min\n"
     "                      and _max; T as 2026-12-07T09:30:00+09:00 or a date; an\n"
     "                      existing file is never replaced\n"},
    {QLatin1String("serve"), &CliServe::parseArgs, &runServe, true,
     "  serve --config.file FILE [--web.listen-address ADDR:PORT]\n"
     "        [--web.config.file FILE]\n"
     "                      fleet exporter for Prometheus: polls every controller of the\n"
     "                      YAML config on its own grid and serves /metrics from memory\n"
     "                      (default 127.0.0.1:9782); never writes to a controller; SIGHUP\n"
     "                      reloads the config, SIGINT or SIGTERM stops it; serve --help\n"
     "                      tells the rest\n"},
    {QLatin1String("doctor"), &parseDoctorArgs, &runDoctor, true,
     "  doctor [DEVICE|tcp:HOST[:PORT]]\n"
     "                      why a port does not open, and the command that mends each\n"
     "                      problem: every serial port with its by-id name, USB ids,\n"
     "                      serial number and driver; for DEVICE whether it exists, this\n"
     "                      user may read and write it (owner, group, mode, dialout, ACL),\n"
     "                      another process holds it, a lock file, a braille daemon or a\n"
     "                      modem manager claims it; for tcp: whether the name resolves and\n"
     "                      the port answers. No --link needed; exit 1 when a check fails\n"},
};

} // namespace

const CliCommandEntry *findCliCommand(const QString &name)
{
    for (const CliCommandEntry &command : Commands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

QString cliUsage()
{
    QString usage = QStringLiteral(
        "Usage: qeln-cli [--trace] --link LINK COMMAND [ARGS]\n"
        "       qeln-cli serve --config.file FILE [--web.listen-address ADDR:PORT] [...]\n"
        "       qeln-cli doctor [DEVICE|tcp:HOST[:PORT]]\n"
        "\n"
        "Talks to a QELN plant controller with the console's link engine, or to a whole\n"
        "fleet of them as an exporter for Prometheus (serve).\n"
        "\n"
        "LINK:\n"
        "  tcp:HOST[:PORT]     Modbus TCP (PORT defaults to 502; [IPv6]:PORT)\n"
        "  serial:DEVICE       Modbus ASCII at 115200 8N1 (/dev/ttyUSB0, /dev/pts/3)\n"
        "\n"
        "COMMANDS:\n");
    for (const CliCommandEntry &command : Commands) {
        if (command.opensGroup)
            usage += QLatin1Char('\n');
        usage += QLatin1String(command.help);
    }
    usage += QStringLiteral(
        "\n"
        "OPTIONS:\n"
        "  --trace             write the console lines (requests, frames) to standard error\n"
        "  --help              show this text\n"
        "  --version           show the version\n"
        "\n"
        "Exit status: 0 done, 1 no valid answer from the controller, a write it refused or\n"
        "a setting that did not read back as written (or the data log could not be saved\n"
        "at the end, or a history download was given up), 2 usage error, bad setting or\n"
        "value (nothing sent), or unusable output folder or file; a file named to write\n"
        "that exists already is 2 for every command, and nothing is written (no file is\n"
        "ever overwritten).\n");
    return usage;
}

} // namespace qeln
