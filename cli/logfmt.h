#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace qeln {

// A logfmt value: bare when it is one plain word, else quoted with escapes. Values may come from
// a client (a user name): cut short and with control characters escaped, they cannot forge lines.
QByteArray logfmtValue(const QString &value);

// One line "level=L msg=M key=value ..." with its line break.
QByteArray logfmtLine(const QString &level, const QString &message, const QList<QPair<QString, QString>> &fields = {});

} // namespace qeln
