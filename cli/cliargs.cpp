#include "cliargs.h"

#include "fleet/fleetlink.h"

#include "clicommands.h"

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

// The command word and what follows it, by the command's own parser.
bool parseCommand(const QString &name, const QStringList &rest, bool haveLink, CliArgs &out, QString &error)
{
    const CliCommandEntry *command = findCliCommand(name);
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
    if (out.command == CliArgs::Command::TrendList || out.command == CliArgs::Command::TrendExport) {
        if (haveLink)
            return fail(error, QStringLiteral("trend: it reads a recording (--db), not a controller"));
        return true;
    }
    // doctor examines a port rather than talking to a controller: --link may name the port.
    if (out.command == CliArgs::Command::Doctor) {
        if (haveLink && out.doctor.given)
            return fail(error, QStringLiteral("doctor: give the port either with --link or after doctor"));
        if (haveLink) {
            out.doctor.given = true;
            out.doctor.target = out.link;
        }
        return true;
    }
    if (!haveLink && out.command != CliArgs::Command::SettingsHelp)
        return fail(error, QStringLiteral("--link is required"));
    return true;
}

} // namespace

bool parseLinkTarget(const QString &text, LinkTarget &out, QString &error)
{
    // One syntax and one set of messages for --link and the fleet exporter's config.
    fleet::FleetLink link;
    if (!fleet::parseFleetLink(text, link, error))
        return false;
    out.tcp = link.tcp;
    out.host = link.host;
    out.port = link.port;
    out.device = link.device;
    return true;
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
