#include "ipblock.h"

namespace qeln::sim {

namespace {

// Bytes of the read-back block other than the description (n) and the site text (m):
// 150 − 81 leaves 69 for n + m together; what is left of the 69 is zero padding at the end.
constexpr int IpFixedBytes = 81;
constexpr int IpTextRoom = IpBlock::Size - IpFixedBytes;

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

void appendWord(QByteArray &b, std::uint16_t w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

} // namespace

IpSettings IpSettings::factory()
{
    IpSettings s;
    s.mac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    s.ip = bytesOf({192, 168, 50, 92});
    s.mask = bytesOf({255, 255, 255, 0});
    s.gateway = bytesOf({192, 168, 50, 1});
    s.storedIp = bytesOf({192, 168, 50, 92});
    // "QELN 정류기 54V/37A;PSU_6S;" in the console's code page (CP949): 27 bytes, Korean
    // included, so a reader that counts characters instead of bytes shifts every later field.
    s.hardwareDescription = QByteArrayLiteral("QELN \xC1\xA4\xB7\xF9\xB1\xE2 54V/37A;PSU_6S;");
    s.serial = QByteArrayLiteral("2200000001");
    s.separator = QByteArrayLiteral("; ");
    s.hardwareVersion = bytesOf({0, 0, 0, 1});
    s.storedMac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    s.storedIpMac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    s.site = QByteArrayLiteral("서울 국사 3층 QELN"); // UTF-8 (the source's encoding)
    return s;
}

IpBlock::IpBlock() : s(IpSettings::factory())
{
}

QByteArray IpBlock::readBack(const Firmware &firmware) const
{
    if (!readBackOverride.isNull())
        return readBackOverride;
    QByteArray b;
    b.reserve(Size);
    b.append(2, '\0');
    b.append(s.mac).append(s.ip).append(s.mask).append(s.gateway);
    b.append(char(s.flags));
    b.append(s.storedIp);
    b.append(4, '\0');
    b.append(char(s.hardwareDescription.size())).append(s.hardwareDescription);
    b.append(s.serial).append(s.separator);
    b.append(s.hardwareVersion).append(s.storedMac).append(s.storedIpMac);
    b.append(6, '\0');
    for (quint32 v : {s.rectifierId, s.storedRectifierId}) {
        appendWord(b, std::uint16_t(v >> 16));
        appendWord(b, std::uint16_t(v & 0xFFFF));
    }
    for (std::uint16_t w : firmware)
        appendWord(b, w);
    b.append(char(s.site.size())).append(s.site);
    b.append(Size - int(b.size()), '\0');
    return b;
}

// The write block: marker, then the read-back order with the stored values and the
// controller's own fields (stored rectifier ID, firmware) as zeros. The description and the
// serial number are taken only when their item flags say so; the other items always carry
// either the new value or the value of the last read. The block is refused whole when it is
// malformed or when description and site text together would not fit the 150-byte read
// answer (69 bytes for both).
bool IpBlock::write(const QByteArray &block)
{
    auto at = [&](int i) { return quint8(block.at(i)); };
    if (block.size() < 32 || block.left(4) != bytesOf({0x12, 0x34, 0x56, 0x78}))
        return false;
    const int n = at(31);
    const int o = 32 + n;
    if (block.size() < o + 51)
        return false;
    const int m2 = at(o + 50);
    if (block.size() != 83 + n + m2)
        return false;

    IpSettings next = s;
    next.mac = block.mid(4, 6);
    next.ip = block.mid(10, 4);
    next.mask = block.mid(14, 4);
    next.gateway = block.mid(18, 4);
    next.flags = at(22);
    next.storedIp = block.mid(23, 4);
    if (next.flags & 0x02)
        next.hardwareDescription = block.mid(32, n);
    if (next.flags & 0x04) {
        next.serial = block.mid(o, 10);
        next.separator = block.mid(o + 10, 2);
    }
    next.hardwareVersion = block.mid(o + 12, 4);
    next.storedMac = block.mid(o + 16, 6);
    next.rectifierId = quint32(at(o + 34)) << 24 | quint32(at(o + 35)) << 16 | quint32(at(o + 36)) << 8 | at(o + 37);
    next.storedRectifierId = next.rectifierId;
    next.site = block.mid(o + 51, m2);
    if (next.hardwareDescription.size() + next.site.size() > IpTextRoom)
        return false;

    s = next;
    readBackOverride = QByteArray();
    return true;
}

void IpBlock::setReadBack(const QByteArray &block)
{
    readBackOverride = block.left(Size);
    readBackOverride.resize(Size, '\0');
}

} // namespace qeln::sim
