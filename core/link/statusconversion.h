#pragma once

#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace qeln {

// Converts the registers of a status response into `registers` (entry n-1 = register n),
// register 1 first, and stops at the first register that cannot be read: the entries before
// it keep their new values, the later ones their old. Returns the number converted.
//
// Serial: the verified frame text ":" unit function count(4) data LRC; the registers start at
// the tenth character, four hexadecimal digits each. TCP: the data bytes after the byte count,
// two bytes per register, most significant first.
int convertSerialStatus(QByteArrayView responseText, int count, std::int32_t *registers);
int convertTcpStatus(QByteArrayView responseText, int count, std::int32_t *registers);

} // namespace qeln
