#pragma once

#include "link/registerwrite.h"

#include <QList>
#include <QString>

namespace qeln::config {

// What one "설정" of a configuration dialog (or one qeln-cli command) asks of the link.
// - writes empty, refusal empty: nothing to send and nothing to say (no box ticked);
// - refusal set: nothing may be sent; the text is the message for the operator;
// - otherwise the writes in the dialog's own order. The engine sends the last one first
//   (LinkEngine::startWrites), so the controller receives them in reverse.
struct WritePlan {
    QList<RegisterWrite> writes;
    QString refusal;

    bool refused() const { return !refusal.isEmpty(); }
    static WritePlan refuse(const QString &message)
    {
        WritePlan p;
        p.refusal = message;
        return p;
    }
};

// The standard conversion errors: "'abc' is not a valid integer value",
// "'abc' is not a valid floating point value".
QString notIntegerMessage(const QString &text);
QString notFloatMessage(const QString &text);

// A register holds 0..65535; anything else is refused, never truncated.
inline bool fitsRegister(long long value)
{
    return value >= 0 && value <= 0xFFFF;
}

// "'<caption>': <value> does not fit its register (0..65535); nothing was sent."
QString doesNotFitMessage(const QString &caption, long long value);

} // namespace qeln::config
