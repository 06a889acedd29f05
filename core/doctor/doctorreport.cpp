#include "doctorreport.h"

namespace qeln::doctor {

bool Report::allPassed() const
{
    return problems() == 0;
}

int Report::problems() const
{
    int count = 0;
    for (const Check &check : checks)
        count += check.passed ? 0 : 1;
    return count;
}

namespace {

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString indented(const QString &text, const QString &first, const QString &next)
{
    QString out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i)
        out += (i == 0 ? first : next) + lines.at(i) + QLatin1Char('\n');
    return out;
}

} // namespace

QString Report::text() const
{
    QString out;
    if (listsPorts) {
        out += QStringLiteral("Serial ports:\n");
        if (ports.isEmpty())
            out += QStringLiteral("  none found\n");
        for (const PortInfo &port : ports) {
            const QString usb = port.vendorId.isEmpty() ? QStringLiteral("-")
                                                        : port.vendorId + QLatin1Char(':') + port.productId;
            out += QStringLiteral("  %1  by-id: %2  usb: %3  serial: %4  driver: %5%6\n")
                       .arg(port.device, orDash(port.byId), usb, orDash(port.serial), orDash(port.driver),
                            port.product.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(port.product));
        }
        if (!target.isEmpty())
            out += QLatin1Char('\n');
    }
    if (!target.isEmpty())
        out += QStringLiteral("%1:\n").arg(target);
    for (const Check &check : checks) {
        const QString mark = check.passed ? QStringLiteral("  [ok]   ") : QStringLiteral("  [FAIL] ");
        out += indented(check.name + QStringLiteral(": ") + check.text, mark, QStringLiteral("         "));
        if (!check.fix.isEmpty())
            out += indented(check.fix, QStringLiteral("         fix: "), QStringLiteral("              "));
    }
    const int count = problems();
    out += count == 0 ? QStringLiteral("\nNo problem found.\n")
                      : QStringLiteral("\n%1 problem%2 found.\n").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
    return out;
}

} // namespace qeln::doctor
