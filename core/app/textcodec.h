#pragma once

#include <QByteArray>
#include <QString>

namespace qeln {

// The console's code page (CP949) and UTF-8, the two encodings of its files and of the
// controller's texts. Conversions never guess: a text that cannot be encoded is refused.
namespace textcodec {

// True when every character of text has a CP949 encoding.
bool canEncodeCp949(const QString &text);
// The CP949 bytes of text; characters without an encoding become '?' (check first with
// canEncodeCp949 where that matters). ok, when given, says whether all were encoded.
QByteArray toCp949(const QString &text, bool *ok = nullptr);
// Decodes CP949 bytes; invalid sequences become U+FFFD.
QString fromCp949(const QByteArray &bytes);

QByteArray toUtf8(const QString &text);
QString fromUtf8(const QByteArray &bytes);

} // namespace textcodec
} // namespace qeln
