#include "cliargs.h"

#include "app/consolestate.h"

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
        "                      the 131 registers: 'N VALUE' per line, or {\"registers\": [...]}\n"
        "  write REG=VALUE ... write registers (REG 1..131, VALUE 0..65535, decimal or 0x-hex);\n"
        "                      the last one goes first, each next one after the previous\n"
        "                      acknowledgement; prints \" Setting Sucess!!\" at the end\n"
        "\n"
        "OPTIONS:\n"
        "  --trace             write the console lines (requests, frames) to standard error\n"
        "  --help              show this text\n"
        "  --version           show the version\n"
        "\n"
        "Exit status: 0 done, 1 no valid answer from the controller, 2 usage error.\n");
}

} // namespace qeln
