#pragma once

#include <QChar>
#include <QString>

namespace qeln {

struct Reading;

// The value formatters of the monitoring display, the data log and the histories. Their
// texts are fixed: stored logs and exports are read by people and tools that expect them,
// odd corners included (a value of 10000 or more loses its point, FormatHundredthsUnit(0)
// is "0 V").

// Tenths with one decimal and a unit: 2205,'V' -> "220.5 V"; 5,'A' -> "0.5 A";
// negative or 10000 and more -> the plain number ("12345 V").
QString FormatTenthsUnit(int value, QChar unit);
// Hundredths with two decimals: 5400 -> "54.00 V", 345 -> "3.45 V", 7 -> "0.07 V";
// 0, negative or 10000 and more -> the plain number ("0 V").
QString FormatHundredthsUnit(int value, QChar unit);
// A 16-bit two's-complement value in tenths with its sign and two blanks before the unit:
// 250,"C" -> "+25.0  C"; 0xFFDD,"A" -> "-3.5  A"; 0x8000 -> "-32768  C".
QString FormatSignedTenths(int value, const QString &unit);
// Decimal with leading zeros up to width digits; a longer number is shown whole.
QString ZeroPad(int value, int width);
// A plant reading as the status page writes it, by its scale: tenths and hundredths with
// their points ("220.5 V", "53.05 V"), signed tenths with the sign and two blanks ("-3.5  A"),
// units as the plain count ("87 %").
QString readingText(const Reading &reading, const QString &unit);
// Tenths with one decimal and no unit: 0 -> "0.0", 7 -> "0.7", 123 -> "12.3";
// negative or 10000 and more -> the plain number.
QString FormatTenths(int value);

} // namespace qeln
