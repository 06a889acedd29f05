#include "cliargs.h"

#include "clicommands.h"

#include <QHostAddress>

namespace qeln {

namespace cliargs {

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

bool fail(QString &error, const QString &message)
{
    error = message;
    return false;
}

bool unexpected(QString &error, const QString &where, const QString &arg)
{
    return fail(error, QStringLiteral("%1: unexpected argument '%2'").arg(where, arg));
}

bool ArgCursor::next()
{
    while (++index_ < args_.size()) {
        if (args_.at(index_) != QLatin1String("--trace"))
            return true;
        trace_ = true;
    }
    return false;
}

bool ArgCursor::isOption(QLatin1StringView name) const
{
    const QString &a = arg();
    return a == name || (a.startsWith(name) && a.size() > name.size() && a[name.size()] == QLatin1Char('='));
}

bool ArgCursor::takeValue(QString &value)
{
    const QString &a = arg();
    if (const qsizetype eq = a.indexOf(QLatin1Char('=')); eq >= 0) {
        value = a.mid(eq + 1);
        return true;
    }
    if (index_ + 1 >= args_.size())
        return false;
    value = args_.at(++index_);
    return true;
}

QStringList wordsWithoutTrace(const QStringList &args, bool &trace)
{
    QStringList words;
    for (ArgCursor c(args, trace); c.next();)
        words << c.arg();
    return words;
}

} // namespace cliargs

using cliargs::fail;

namespace {

// tcp:[ADDRESS] or tcp:[ADDRESS]:PORT; `rest` follows "tcp:".
bool splitBracketed(const QString &text, const QString &rest, QString &host, QString &port, QString &error)
{
    const qsizetype close = rest.indexOf(QLatin1Char(']'));
    if (close < 0)
        return fail(error, QStringLiteral("bad link '%1': missing ']'").arg(text));
    host = rest.mid(1, close - 1);
    const QString tail = rest.mid(close + 1);
    if (tail.isEmpty())
        return true;
    if (!tail.startsWith(QLatin1Char(':')))
        return fail(error, QStringLiteral("bad link '%1'").arg(text));
    port = tail.mid(1);
    if (port.contains(QLatin1Char(':')))
        return fail(error, QStringLiteral("bad link '%1': ':%2' after the port is not part of a link "
                                          "(tcp:[ADDRESS]:PORT)")
                               .arg(text, port.section(QLatin1Char(':'), 1)));
    if (port.isEmpty())
        return fail(error, QStringLiteral("bad link '%1': empty port").arg(text));
    return true;
}

// tcp:HOST, tcp:HOST:PORT or a bare IPv6 address; `rest` follows "tcp:".
bool splitHostPort(const QString &text, const QString &rest, QString &host, QString &port, QString &error)
{
    if (rest.count(QLatin1Char(':')) == 1) {
        host = rest.section(QLatin1Char(':'), 0, 0);
        port = rest.section(QLatin1Char(':'), 1);
        if (port.isEmpty())
            return fail(error, QStringLiteral("bad link '%1': empty port").arg(text));
        return true;
    }
    if (rest.contains(QLatin1Char(':')) && QHostAddress(rest).protocol() != QAbstractSocket::IPv6Protocol) {
        // Not an IPv6 address: HOST:PORT with something after the port.
        const QString extra = rest.section(QLatin1Char(':'), 2);
        return fail(error, QStringLiteral("bad link '%1': ':%2' after the port is not part of a link "
                                          "(tcp:HOST[:PORT], an IPv6 address as tcp:[ADDRESS]:PORT)")
                               .arg(text, extra));
    }
    host = rest; // a bare IPv6 address has several colons and no port
    return true;
}

bool parseTcpTarget(const QString &text, LinkTarget &out, QString &error)
{
    const QString rest = text.mid(4);
    QString host;
    QString port;
    if (!(rest.startsWith(QLatin1Char('[')) ? splitBracketed(text, rest, host, port, error)
                                            : splitHostPort(text, rest, host, port, error)))
        return false;
    if (host.isEmpty())
        return fail(error, QStringLiteral("bad link '%1': no host").arg(text));
    int portNumber = 502;
    if (!port.isEmpty() && !cliargs::parseNumber(port, 1, 65535, portNumber))
        return fail(error, QStringLiteral("bad port '%1' (1..65535)").arg(port));
    out.tcp = true;
    out.host = host;
    out.port = quint16(portNumber);
    return true;
}

// The command word and what follows it, by the command's own parser.
bool parseCommand(const QString &name, const QStringList &rest, bool haveLink, CliArgs &out, QString &error)
{
    const CliCommandSpec *command = findCliCommand(name);
    if (!command)
        return fail(error, QStringLiteral("unknown command '%1'").arg(name));
    out.commandName = name;
    if (!command->parse(rest, out, error))
        return false;
    // settings --help lists the keys: it needs no controller; serve takes its controllers
    // from its config.
    if (out.command == CliArgs::Command::Serve) {
        if (haveLink)
            return fail(error, QStringLiteral("serve: the controllers come from --config, not --link"));
        return true;
    }
    if (!haveLink && out.command != CliArgs::Command::SettingsHelp)
        return fail(error, QStringLiteral("--link is required"));
    return true;
}

} // namespace

bool parseLinkTarget(const QString &text, LinkTarget &out, QString &error)
{
    if (text.startsWith(QLatin1String("tcp:")))
        return parseTcpTarget(text, out, error);
    if (text.startsWith(QLatin1String("serial:"))) {
        out.tcp = false;
        out.device = text.mid(7);
        if (out.device.isEmpty())
            return fail(error, QStringLiteral("bad link '%1': no device").arg(text));
        return true;
    }
    return fail(error, QStringLiteral("bad link '%1': expected tcp:HOST[:PORT] or serial:DEVICE").arg(text));
}

bool parseCliArgs(const QStringList &args, CliArgs &out, QString &error)
{
    out = CliArgs();
    bool haveLink = false;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const QString &a = c.arg();
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out.command = CliArgs::Command::Help;
            return true;
        }
        if (a == QLatin1String("--version")) {
            out.command = CliArgs::Command::Version;
            return true;
        }
        if (c.isOption(QLatin1String("--link"))) {
            QString value;
            if (!c.takeValue(value))
                return fail(error, QStringLiteral("--link needs a value"));
            if (!parseLinkTarget(value, out.link, error))
                return false;
            haveLink = true;
        } else if (a.startsWith(QLatin1Char('-'))) {
            return fail(error, QStringLiteral("unknown option '%1'").arg(a));
        } else {
            return parseCommand(a, c.rest(), haveLink, out, error);
        }
    }
    return fail(error, QStringLiteral("no command given"));
}

QStringList logIntervalNames()
{
    return {QStringLiteral("2s"), QStringLiteral("10s"), QStringLiteral("1m"), QStringLiteral("2m"),
            QStringLiteral("5m"), QStringLiteral("10m"), QStringLiteral("30m")};
}

} // namespace qeln
