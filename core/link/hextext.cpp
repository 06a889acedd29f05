#include "hextext.h"

namespace qeln {

int HexToInt(QByteArrayView text)
{
    if (text.isEmpty())
        return 0;
    if (text.size() > 8)
        throw ConversionError("'" + text.toByteArray().toStdString() + "' is not a valid integer value");
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            throw ConversionError("'" + text.toByteArray().toStdString() + "' is not a valid integer value");
        value = (value << 4) | std::uint32_t(digit);
    }
    return int(value);
}

QByteArray Int64ToHexFixed(std::int64_t value, std::int64_t digits)
{
    QByteArray out(qsizetype(digits > 0 ? digits : 0), '0');
    auto v = std::uint64_t(value);
    for (qsizetype i = out.size() - 1; i >= 0; --i) {
        out[i] = HexDigits[v & 0xF];
        v >>= 4;
    }
    return out;
}

QByteArray IntToHexFixed(int value, int digits)
{
    return Int64ToHexFixed(std::int64_t(std::uint32_t(value)), digits);
}

QByteArray BytesToHex(QByteArrayView bytes, int count)
{
    if (count > bytes.size())
        count = int(bytes.size());
    QByteArray out;
    out.reserve(count * 2);
    for (int i = 0; i < count; ++i) {
        const auto b = std::uint8_t(bytes[i]);
        out.append(HexDigits[b >> 4]);
        out.append(HexDigits[b & 0xF]);
    }
    return out;
}

std::uint8_t ComputeLrc(QByteArrayView body)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i + 1 < body.size(); i += 2)
        sum += unsigned(HexToInt(body.sliced(i, 2)));
    return std::uint8_t((256 - (sum & 0xFF)) & 0xFF);
}

} // namespace qeln
