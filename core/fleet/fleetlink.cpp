#include "fleetlink.h"

#include <QHostAddress>

namespace qeln::fleet {

namespace {

bool fail(QString &error, const QString &message)
{
    error = message;
    return false;
}

// Decimal or 0x hexadecimal digits, no sign, no blanks: as the command line reads numbers.
bool parsePort(const QString &text, quint16 &out)
{
    bool ok = false;
    int value = 0;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? text.mid(2) : text;
    if (digits.isEmpty())
        return false;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        const bool digit = u >= u'0' && u <= u'9';
        const bool hexLetter = (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!(digit || (hex && hexLetter)))
            return false;
    }
    value = digits.toInt(&ok, hex ? 16 : 10);
    if (!ok || value < 1 || value > 65535)
        return false;
    out = quint16(value);
    return true;
}

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
        const QString extra = rest.section(QLatin1Char(':'), 2);
        return fail(error, QStringLiteral("bad link '%1': ':%2' after the port is not part of a link "
                                          "(tcp:HOST[:PORT], an IPv6 address as tcp:[ADDRESS]:PORT)")
                               .arg(text, extra));
    }
    host = rest; // a bare IPv6 address has several colons and no port
    return true;
}

} // namespace

bool parseFleetLink(const QString &text, FleetLink &out, QString &error)
{
    FleetLink link;
    if (text.startsWith(QLatin1String("tcp:"))) {
        const QString rest = text.mid(4);
        QString port;
        if (!(rest.startsWith(QLatin1Char('[')) ? splitBracketed(text, rest, link.host, port, error)
                                                : splitHostPort(text, rest, link.host, port, error)))
            return false;
        if (link.host.isEmpty())
            return fail(error, QStringLiteral("bad link '%1': no host").arg(text));
        if (!port.isEmpty() && !parsePort(port, link.port))
            return fail(error, QStringLiteral("bad port '%1' (1..65535)").arg(port));
        link.tcp = true;
    } else if (text.startsWith(QLatin1String("serial:"))) {
        link.device = text.mid(7);
        if (link.device.isEmpty())
            return fail(error, QStringLiteral("bad link '%1': no device").arg(text));
    } else {
        return fail(error, QStringLiteral("bad link '%1': expected tcp:HOST[:PORT] or serial:DEVICE").arg(text));
    }
    out = link;
    return true;
}

QString ListenAddress::toString() const
{
    const bool v6 = host.contains(QLatin1Char(':'));
    return (v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') + QString::number(port);
}

bool parseListenAddress(const QString &text, ListenAddress &out, QString &error)
{
    const auto bad = [&](const QString &why) {
        return fail(error, QStringLiteral("bad listen address '%1': %2 (expected ADDRESS:PORT, "
                                          "e.g. 127.0.0.1:9782 or [::1]:9782)")
                               .arg(text, why));
    };
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return bad(QStringLiteral("no port"));
    QString host = text.left(colon);
    const QString port = text.mid(colon + 1);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return bad(QStringLiteral("no address"));
    QHostAddress address;
    if (!address.setAddress(host) || !address.scopeId().isEmpty())
        return bad(QStringLiteral("'%1' is not an IP address").arg(host));
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6 != bracketed)
        return bad(v6 ? QStringLiteral("an IPv6 address goes in brackets")
                      : QStringLiteral("only an IPv6 address goes in brackets"));
    ListenAddress result;
    if (!parsePort(port, result.port))
        return bad(QStringLiteral("bad port '%1' (1..65535)").arg(port));
    result.host = address.toString();
    out = result;
    return true;
}

} // namespace qeln::fleet
