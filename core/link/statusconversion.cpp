#include "statusconversion.h"

#include "hextext.h"

namespace qeln {

int convertSerialStatus(QByteArrayView text, int count, std::int32_t *registers)
{
    constexpr qsizetype first = 9; // ":" + unit (2) + function (2) + byte count (4)
    for (int n = 0; n < count; ++n) {
        const qsizetype at = first + 4 * qsizetype(n);
        if (at + 4 > text.size())
            return n;
        int value = 0;
        for (qsizetype i = at; i < at + 4; ++i) {
            const int digit = hexDigitValue(text[i]);
            if (digit < 0)
                return n;
            value = (value << 4) | digit;
        }
        registers[n] = value;
    }
    return count;
}

int convertTcpStatus(QByteArrayView data, int count, std::int32_t *registers)
{
    for (int n = 0; n < count; ++n) {
        const qsizetype at = 2 * qsizetype(n);
        if (at + 2 > data.size())
            return n;
        registers[n] = (std::uint8_t(data[at]) << 8) | std::uint8_t(data[at + 1]);
    }
    return count;
}

} // namespace qeln
