#include "writeplan.h"

namespace qeln::config {

QString notIntegerMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString notFloatMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid floating point value").arg(text);
}

QString doesNotFitMessage(const QString &caption, long long value)
{
    return QStringLiteral("%1: %2 does not fit its register (0..65535); nothing was sent.")
        .arg(caption.trimmed())
        .arg(value);
}

} // namespace qeln::config
