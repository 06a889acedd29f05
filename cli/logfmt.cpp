#include "logfmt.h"

#include <QRegularExpression>

namespace qeln {

QByteArray logfmtValue(const QString &value)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._:@/+-]+$"));
    const QString text = value.left(64);
    if (plain.match(text).hasMatch())
        return text.toUtf8();
    QByteArray out = "\"";
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += '\\' + QString(c).toUtf8();
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
        else
            out += QString(c).toUtf8();
    }
    return out + '"';
}

QByteArray logfmtLine(const QString &level, const QString &message, const QList<QPair<QString, QString>> &fields)
{
    QByteArray line = "level=" + logfmtValue(level) + " msg=" + logfmtValue(message);
    for (const auto &[key, value] : fields)
        line += ' ' + key.toUtf8() + '=' + logfmtValue(value);
    return line + '\n';
}

} // namespace qeln
