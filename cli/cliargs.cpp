#include "cliargs.h"

#include "app/consolestate.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

namespace qeln {

namespace {

bool parseNumber(const QString &text, int min, int max, int &out)
{
    bool ok = false;
    int value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toInt(&ok, 16);
    else
        value = text.toInt(&ok, 10);
    // toInt accepts a sign and surrounding blanks; a register value is plain digits.
    if (!ok || text.isEmpty() || text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-')
        || text.trimmed() != text || (text.size() > 2 && text.mid(2).startsWith(QLatin1Char('+'))))
        return false;
    if (value < min || value > max)
        return false;
    out = value;
    return true;
}

// settings, clock, calibrate and factory; `rest` follows the command word.
bool parseConfigCommand(const QString &command, const QStringList &rest, CliArgs &out, QString &error)
{
    QStringList words;
    for (const QString &a : rest) {
        if (a == QLatin1String("--trace"))
            out.trace = true;
        else if (a == QLatin1String("--help") && command == QLatin1String("settings"))
            out.command = CliArgs::Command::SettingsHelp;
        else
            words << a;
    }
    if (out.command == CliArgs::Command::SettingsHelp)
        return true;
    const QString sub = words.value(0);
    const QStringList tail = words.mid(1);
    const auto unexpected = [&](const QString &what) {
        error = QStringLiteral("%1 %2: unexpected argument '%3'").arg(command, sub, what);
        return false;
    };

    if (command == QLatin1String("settings")) {
        if (sub == QLatin1String("show")) {
            out.command = CliArgs::Command::SettingsShow;
            for (const QString &a : tail) {
                if (a != QLatin1String("--json"))
                    return unexpected(a);
                out.json = true;
            }
        } else if (sub == QLatin1String("diff")) {
            out.command = CliArgs::Command::SettingsDiff;
            if (tail.size() != 1 || tail[0].startsWith(QLatin1Char('-'))) {
                error = QStringLiteral("settings diff: give one settings file (FILE.json)");
                return false;
            }
            out.settingsFile = tail[0];
        } else if (sub == QLatin1String("apply")) {
            out.command = CliArgs::Command::SettingsApply;
            // One file, or KEY=VALUE assignments; not both.
            for (const QString &a : tail) {
                if (a.startsWith(QLatin1Char('-')))
                    return unexpected(a);
                if (a.contains(QLatin1Char('=')))
                    out.assignments << a;
                else if (out.settingsFile.isEmpty())
                    out.settingsFile = a;
                else
                    return unexpected(a);
            }
            if (out.settingsFile.isEmpty() == out.assignments.isEmpty()) {
                error = QStringLiteral("settings apply: give one settings file or KEY=VALUE assignments");
                return false;
            }
        } else {
            error = sub.isEmpty() ? QStringLiteral("settings: say show, diff or apply")
                                  : QStringLiteral("settings: unknown subcommand '%1' (show, diff, apply)").arg(sub);
            return false;
        }
    } else if (command == QLatin1String("clock")) {
        if (sub == QLatin1String("sync")) {
            out.command = CliArgs::Command::ClockSync;
            if (!tail.isEmpty())
                return unexpected(tail[0]);
        } else if (sub == QLatin1String("set")) {
            out.command = CliArgs::Command::ClockSet;
            static const QRegularExpression form(
                QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}$"));
            if (tail.size() != 1 || !form.match(tail[0]).hasMatch()) {
                error = QStringLiteral("clock set: give the time as YYYY-MM-DDTHH:MM:SS");
                return false;
            }
            out.clockTime = tail[0];
        } else {
            error = QStringLiteral("clock: say set YYYY-MM-DDTHH:MM:SS or sync");
            return false;
        }
    } else if (command == QLatin1String("calibrate")) {
        out.command = CliArgs::Command::Calibrate;
        for (const QString &a : words) {
            if (a.indexOf(QLatin1Char('=')) <= 0) {
                error = QStringLiteral("calibrate: '%1' is not KEY=VALUE").arg(a);
                return false;
            }
            out.assignments << a;
        }
        if (out.assignments.isEmpty()) {
            error = QStringLiteral("calibrate: nothing to calibrate (KEY=VALUE ...)");
            return false;
        }
    } else {
        out.command = CliArgs::Command::Factory;
        bool yes = false;
        for (const QString &a : words) {
            if (a == QLatin1String("--yes"))
                yes = true;
            else if (out.factoryChoice.isEmpty() && (a == QLatin1String("reset") || a == QLatin1String("config")))
                out.factoryChoice = a;
            else {
                error = QStringLiteral("factory: unexpected argument '%1'").arg(a);
                return false;
            }
        }
        if (out.factoryChoice.isEmpty()) {
            error = QStringLiteral("factory: say reset or config");
            return false;
        }
        if (!yes) {
            error = QStringLiteral("factory %1: nothing was sent; add --yes to confirm (%2)")
                        .arg(out.factoryChoice,
                             out.factoryChoice == QLatin1String("reset")
                                 ? QStringLiteral("the controller restarts")
                                 : QStringLiteral("the controller's settings return to their factory values"));
            return false;
        }
    }
    return true;
}

// ip show [--json] | ip apply KEY=VALUE... [--file F.json] [--dry-run]
bool parseIpCommand(const QStringList &rest, CliArgs &out, QString &error)
{
    const QString sub = rest.value(0);
    if (sub == QLatin1String("show"))
        out.command = CliArgs::Command::IpShow;
    else if (sub == QLatin1String("apply"))
        out.command = CliArgs::Command::IpApply;
    else {
        error = sub.isEmpty() ? QStringLiteral("ip: say show or apply")
                              : QStringLiteral("ip: unknown subcommand '%1' (show, apply)").arg(sub);
        return false;
    }
    const bool apply = out.command == CliArgs::Command::IpApply;
    for (qsizetype i = 1; i < rest.size(); ++i) {
        const QString &a = rest[i];
        if (a == QLatin1String("--trace")) {
            out.trace = true;
        } else if (!apply && a == QLatin1String("--json")) {
            out.json = true;
        } else if (apply && a == QLatin1String("--dry-run")) {
            out.dryRun = true;
        } else if (apply && (a == QLatin1String("--file") || a.startsWith(QLatin1String("--file=")))) {
            if (a == QLatin1String("--file") && i + 1 >= rest.size()) {
                error = QStringLiteral("ip apply: --file needs a file name");
                return false;
            }
            out.settingsFile = a == QLatin1String("--file") ? rest[++i] : a.mid(7);
        } else if (apply && a.indexOf(QLatin1Char('=')) > 0 && !a.startsWith(QLatin1Char('-'))) {
            out.assignments << a;
        } else {
            error = QStringLiteral("ip %1: unexpected argument '%2'").arg(sub, a);
            return false;
        }
    }
    if (apply && out.assignments.isEmpty() && out.settingsFile.isEmpty()) {
        error = QStringLiteral("ip apply: nothing to change (KEY=VALUE ... or --file F.json)");
        return false;
    }
    return true;
}

} // namespace

bool parseLinkTarget(const QString &text, LinkTarget &out, QString &error)
{
    if (text.startsWith(QLatin1String("tcp:"))) {
        QString rest = text.mid(4);
        QString host;
        QString port;
        if (rest.startsWith(QLatin1Char('['))) {
            const qsizetype close = rest.indexOf(QLatin1Char(']'));
            if (close < 0) {
                error = QStringLiteral("bad link '%1': missing ']'").arg(text);
                return false;
            }
            host = rest.mid(1, close - 1);
            const QString tail = rest.mid(close + 1);
            if (!tail.isEmpty()) {
                if (!tail.startsWith(QLatin1Char(':'))) {
                    error = QStringLiteral("bad link '%1'").arg(text);
                    return false;
                }
                port = tail.mid(1);
                if (port.contains(QLatin1Char(':'))) {
                    error = QStringLiteral("bad link '%1': ':%2' after the port is not part of a link "
                                           "(tcp:[ADDRESS]:PORT)")
                                .arg(text, port.section(QLatin1Char(':'), 1));
                    return false;
                }
                if (port.isEmpty()) {
                    error = QStringLiteral("bad link '%1': empty port").arg(text);
                    return false;
                }
            }
        } else if (rest.count(QLatin1Char(':')) == 1) {
            host = rest.section(QLatin1Char(':'), 0, 0);
            port = rest.section(QLatin1Char(':'), 1);
            if (port.isEmpty()) {
                error = QStringLiteral("bad link '%1': empty port").arg(text);
                return false;
            }
        } else if (rest.contains(QLatin1Char(':'))
                   && QHostAddress(rest).protocol() != QAbstractSocket::IPv6Protocol) {
            // Not an IPv6 address: HOST:PORT with something after the port.
            const QString extra = rest.section(QLatin1Char(':'), 2);
            error = QStringLiteral("bad link '%1': ':%2' after the port is not part of a link "
                                   "(tcp:HOST[:PORT], an IPv6 address as tcp:[ADDRESS]:PORT)")
                        .arg(text, extra);
            return false;
        } else {
            host = rest; // a bare IPv6 address has several colons and no port
        }
        if (host.isEmpty()) {
            error = QStringLiteral("bad link '%1': no host").arg(text);
            return false;
        }
        int portNumber = 502;
        if (!port.isEmpty() && !parseNumber(port, 1, 65535, portNumber)) {
            error = QStringLiteral("bad port '%1' (1..65535)").arg(port);
            return false;
        }
        out.tcp = true;
        out.host = host;
        out.port = quint16(portNumber);
        return true;
    }
    if (text.startsWith(QLatin1String("serial:"))) {
        out.tcp = false;
        out.device = text.mid(7);
        if (out.device.isEmpty()) {
            error = QStringLiteral("bad link '%1': no device").arg(text);
            return false;
        }
        return true;
    }
    error = QStringLiteral("bad link '%1': expected tcp:HOST[:PORT] or serial:DEVICE").arg(text);
    return false;
}

bool parseCliArgs(const QStringList &args, CliArgs &out, QString &error)
{
    out = CliArgs();
    bool haveLink = false;
    qsizetype i = 0;
    for (; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out.command = CliArgs::Command::Help;
            return true;
        } else if (a == QLatin1String("--version")) {
            out.command = CliArgs::Command::Version;
            return true;
        } else if (a == QLatin1String("--trace")) {
            out.trace = true;
        } else if (a == QLatin1String("--link") || a.startsWith(QLatin1String("--link="))) {
            QString value;
            if (a == QLatin1String("--link")) {
                if (i + 1 >= args.size()) {
                    error = QStringLiteral("--link needs a value");
                    return false;
                }
                value = args[++i];
            } else {
                value = a.mid(7);
            }
            if (!parseLinkTarget(value, out.link, error))
                return false;
            haveLink = true;
        } else if (a.startsWith(QLatin1Char('-'))) {
            error = QStringLiteral("unknown option '%1'").arg(a);
            return false;
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        error = QStringLiteral("no command given");
        return false;
    }
    const QString command = args[i++];
    if (command == QLatin1String("status")) {
        out.command = CliArgs::Command::Status;
        for (; i < args.size(); ++i) {
            if (args[i] == QLatin1String("--json")) {
                out.json = true;
            } else if (args[i] == QLatin1String("--trace")) {
                out.trace = true;
            } else {
                error = QStringLiteral("status: unexpected argument '%1'").arg(args[i]);
                return false;
            }
        }
    } else if (command == QLatin1String("write")) {
        out.command = CliArgs::Command::Write;
        for (; i < args.size(); ++i) {
            const QString &w = args[i];
            if (w == QLatin1String("--trace")) {
                out.trace = true;
                continue;
            }
            const qsizetype eq = w.indexOf(QLatin1Char('='));
            int reg = 0;
            int value = 0;
            if (eq < 0) {
                error = QStringLiteral("write: '%1' is not REG=VALUE").arg(w);
                return false;
            }
            if (!parseNumber(w.left(eq), 1, 131, reg)) {
                error = QStringLiteral("write: register '%1' is not a number in 1..131").arg(w.left(eq));
                return false;
            }
            if (!parseNumber(w.mid(eq + 1), 0, 65535, value)) {
                error = QStringLiteral("write: value '%1' is not a number in 0..65535").arg(w.mid(eq + 1));
                return false;
            }
            out.writes.append({reg, value});
        }
        if (out.writes.isEmpty()) {
            error = QStringLiteral("write: nothing to write (REG=VALUE ...)");
            return false;
        }
        if (out.writes.size() > WriteQueueCapacity) {
            error = QStringLiteral("write: at most %1 registers at a time").arg(WriteQueueCapacity);
            return false;
        }
    } else if (command == QLatin1String("log")) {
        out.command = CliArgs::Command::Log;
        for (; i < args.size(); ++i) {
            const QString &a = args[i];
            if (a == QLatin1String("--trace")) {
                out.trace = true;
                continue;
            }
            QString option = a;
            QString value;
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            if (a.startsWith(QLatin1String("--")) && eq > 0) {
                option = a.left(eq);
                value = a.mid(eq + 1);
            } else if (a == QLatin1String("--interval") || a == QLatin1String("--output-dir")) {
                if (i + 1 >= args.size()) {
                    error = QStringLiteral("log: %1 needs a value").arg(a);
                    return false;
                }
                value = args[++i];
            }
            if (option == QLatin1String("--interval")) {
                const qsizetype index = logIntervalNames().indexOf(value);
                if (index < 0) {
                    error = QStringLiteral("log: bad interval '%1' (%2)")
                                .arg(value, logIntervalNames().join(QLatin1Char('|')));
                    return false;
                }
                out.logInterval = int(index);
            } else if (option == QLatin1String("--output-dir")) {
                if (value.isEmpty()) {
                    error = QStringLiteral("log: --output-dir needs a folder");
                    return false;
                }
                out.outputDir = value;
            } else {
                error = QStringLiteral("log: unexpected argument '%1'").arg(a);
                return false;
            }
        }
    } else if (command == QLatin1String("history") || command == QLatin1String("clear-history")) {
        const bool clear = command == QLatin1String("clear-history");
        out.command = clear ? CliArgs::Command::ClearHistory : CliArgs::Command::History;
        bool yes = false;
        for (; i < args.size(); ++i) {
            const QString &a = args[i];
            if (a == QLatin1String("--trace")) {
                out.trace = true;
            } else if (clear && a == QLatin1String("--yes")) {
                yes = true;
            } else if (!clear && (a == QLatin1String("--out") || a.startsWith(QLatin1String("--out=")))) {
                if (a == QLatin1String("--out") && i + 1 >= args.size()) {
                    error = QStringLiteral("history: --out needs a file name");
                    return false;
                }
                out.outFile = a == QLatin1String("--out") ? args[++i] : a.mid(6);
                const QString suffix = QFileInfo(out.outFile).suffix().toLower();
                if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv")) {
                    error = QStringLiteral("history: --out '%1' must end in .xlsx or .csv").arg(out.outFile);
                    return false;
                }
                if (QFileInfo::exists(out.outFile)) {
                    error = QStringLiteral("history: '%1' exists already; no file is overwritten").arg(out.outFile);
                    return false;
                }
                if (!QFileInfo(QFileInfo(out.outFile).absolutePath()).isDir()) {
                    error = QStringLiteral("history: the folder of '%1' does not exist").arg(out.outFile);
                    return false;
                }
            } else if (out.historyKind == 0 && (a == QLatin1String("alarm") || a == QLatin1String("event"))) {
                out.historyKind = a == QLatin1String("alarm") ? 1 : 2;
            } else {
                error = QStringLiteral("%1: unexpected argument '%2'").arg(command, a);
                return false;
            }
        }
        if (out.historyKind == 0) {
            error = QStringLiteral("%1: say which log: alarm or event").arg(command);
            return false;
        }
        if (clear && !yes) {
            error = QStringLiteral("clear-history %1: nothing was sent; add --yes to confirm (the controller "
                                   "erases its %2 for good)")
                        .arg(out.historyKind == 1 ? QStringLiteral("alarm") : QStringLiteral("event"),
                             out.historyKind == 1 ? QStringLiteral("alarm history") : QStringLiteral("event log"));
            return false;
        }
    } else if (command == QLatin1String("settings") || command == QLatin1String("clock")
               || command == QLatin1String("calibrate") || command == QLatin1String("factory")) {
        if (!parseConfigCommand(command, args.mid(i), out, error))
            return false;
        if (out.command == CliArgs::Command::SettingsHelp)
            return true;
    } else if (command == QLatin1String("ip")) {
        if (!parseIpCommand(args.mid(i), out, error))
            return false;
    } else {
        error = QStringLiteral("unknown command '%1'").arg(command);
        return false;
    }
    if (!haveLink) {
        error = QStringLiteral("--link is required");
        return false;
    }
    return true;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: qeln-cli [--trace] --link LINK COMMAND [ARGS]\n"
        "\n"
        "Talks to a QELN plant controller with the console's link engine.\n"
        "\n"
        "LINK:\n"
        "  tcp:HOST[:PORT]     Modbus TCP (PORT defaults to 502; [IPv6]:PORT)\n"
        "  serial:DEVICE       Modbus ASCII at 115200 8N1 (/dev/ttyUSB0, /dev/pts/3)\n"
        "\n"
        "COMMANDS:\n"
        "  status [--json]     poll until the first status response (at most 5 s) and print\n"
        "                      the 131 registers: 'N VALUE' per line; with --json also the\n"
        "                      texts and visibility of the window's controls and the active\n"
        "                      alarms: {\"registers\", \"texts\", \"visible\", \"alarms\"}\n"
        "  write REG=VALUE ... write registers (REG 1..131, VALUE 0..65535, decimal or 0x-hex);\n"
        "                      the last one goes first, each next one after the previous\n"
        "                      acknowledgement; prints \" Setting Sucess!!\" at the end\n"
        "  log [--interval 2s|10s|1m|2m|5m|10m|30m] [--output-dir DIR]\n"
        "                      data logger: polls the status and writes the console's data-log\n"
        "                      lines (one per interval, default 2s, and one on each alarm\n"
        "                      change) to text files in DIR (default: the current folder),\n"
        "                      a new file after 5000 lines; on SIGINT or SIGTERM it saves what\n"
        "                      it holds and ends. Prints the path of each file written.\n"
        "\n"
        "  history alarm|event [--out FILE.xlsx|FILE.csv]\n"
        "                      download the controller's alarm history or event log, as\n"
        "                      the console's history window does, into a workbook or a\n"
        "                      CSV file (CSV on standard output without --out); an\n"
        "                      existing file is never replaced; nothing is written when\n"
        "                      the download fails\n"
        "  clear-history alarm|event --yes\n"
        "                      erase that log in the controller (one request); done when\n"
        "                      the controller acknowledges it; nothing is sent without --yes\n"
        "\n"
        "  settings show [--json]\n"
        "                      one status poll, then every setting with its value, unit and\n"
        "                      range (operation and alarm settings, contact options, the\n"
        "                      contacts' alarms, the alarm test)\n"
        "  settings diff FILE.json\n"
        "                      what apply would change; nothing is sent\n"
        "  settings apply FILE.json | KEY=VALUE ...\n"
        "                      write the changed settings as the dialogs write them, then\n"
        "                      read every written register back\n"
        "  settings --help     every key with its unit and range, and the file format\n"
        "  clock set YYYY-MM-DDTHH:MM:SS | clock sync\n"
        "                      set the controller's clock to this time or to the PC's clock\n"
        "  calibrate KEY=VALUE ...\n"
        "                      measurement calibration: the value a quantity should read\n"
        "                      (keys: ac_voltage, ac_current, dc_voltage, dc_current,\n"
        "                      battery_charge_current, battery_discharge_current)\n"
        "  factory reset|config --yes\n"
        "                      restart the controller (reset) or return its settings to the\n"
        "                      factory values (config); nothing is sent without --yes\n"
        "\n"
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
        "                      prints the block in hex instead of sending it\n"
        "\n"
        "OPTIONS:\n"
        "  --trace             write the console lines (requests, frames) to standard error\n"
        "  --help              show this text\n"
        "  --version           show the version\n"
        "\n"
        "Exit status: 0 done, 1 no valid answer from the controller, a write it refused or\n"
        "a setting that did not read back as written (or the data log could not be saved\n"
        "at the end, or a history download was given up), 2 usage error, bad setting or\n"
        "value (nothing sent), or unusable output folder or file.\n");
}

QStringList logIntervalNames()
{
    return {QStringLiteral("2s"), QStringLiteral("10s"), QStringLiteral("1m"), QStringLiteral("2m"),
            QStringLiteral("5m"), QStringLiteral("10m"), QStringLiteral("30m")};
}

} // namespace qeln
