#pragma once

#include <QByteArray>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qeln {

// Raised when a text that should be hexadecimal is not.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string &what) : std::runtime_error(what) {}
};

inline constexpr char HexDigits[] = "0123456789ABCDEF";

// Parses hexadecimal text (either case, at most eight digits); an empty text is 0.
// Throws ConversionError for anything else.
int HexToInt(QByteArrayView text);

// Value of one hexadecimal digit, or -1.
inline int hexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Exactly `digits` upper-case digits, most significant first (0 <= value < 16^digits).
QByteArray IntToHexFixed(int value, int digits);
QByteArray Int64ToHexFixed(std::int64_t value, std::int64_t digits);

// The first `count` bytes of `bytes`, two upper-case digits each.
QByteArray BytesToHex(QByteArrayView bytes, int count);
inline QByteArray BytesToHex(QByteArrayView bytes)
{
    return BytesToHex(bytes, int(bytes.size()));
}

// LRC of a hexadecimal body: the two's complement of the byte sum of its pairs
// (a trailing odd character is ignored). Throws ConversionError on a non-hex pair.
std::uint8_t ComputeLrc(QByteArrayView body);

} // namespace qeln
