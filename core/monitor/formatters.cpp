// Texts are built in one allocation each: the decode runs for every status response.
#define QT_USE_QSTRINGBUILDER

#include "formatters.h"

#include "plant/plantstatus.h"

namespace qeln {

QString FormatTenthsUnit(int value, QChar unit)
{
    return FormatTenths(value) % QLatin1Char(' ') % unit;
}

QString FormatHundredthsUnit(int value, QChar unit)
{
    const QString d = QString::number(value);
    QString number;
    if (value >= 1 && value <= 9)
        number = QStringLiteral("0.0") + d;
    else if (value >= 10 && value <= 99)
        number = QStringLiteral("0.") + d;
    else if (value >= 100 && value <= 9999)
        number = d.left(d.size() - 2) + QLatin1Char('.') + d.right(2);
    else
        number = d;
    return number + QLatin1Char(' ') + unit;
}

QString FormatSignedTenths(int value, const QString &unit)
{
    QChar sign = u'+';
    int magnitude = value;
    if (value & 0x8000) {
        sign = u'-';
        magnitude = ((value ^ 0xFFFF) & 0xFFFF) + 1;
    }
    return sign + FormatTenthsUnit(magnitude, u' ') + unit;
}

QString readingText(const Reading &reading, const QString &unit)
{
    switch (reading.scale) {
    case Scale::Tenths:
        return FormatTenthsUnit(reading.count, unit.front());
    case Scale::Hundredths:
        return FormatHundredthsUnit(reading.count, unit.front());
    case Scale::SignedTenths:
        return FormatSignedTenths(reading.count, unit);
    case Scale::Units:
        break;
    }
    return QString::number(reading.count) % QLatin1Char(' ') % unit;
}

QString ZeroPad(int value, int width)
{
    QString d = QString::number(value);
    if (value >= 0 && d.size() < width)
        d.prepend(QString(width - d.size(), u'0'));
    return d;
}

QString FormatTenths(int value)
{
    const QString d = QString::number(value);
    if (value == 0)
        return QStringLiteral("0.0");
    if (value >= 1 && value <= 9)
        return QStringLiteral("0.") + d;
    if (value >= 10 && value <= 9999)
        return d.left(d.size() - 1) + QLatin1Char('.') + d.right(1);
    return d;
}

} // namespace qeln
