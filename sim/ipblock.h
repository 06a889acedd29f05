#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

namespace qeln::sim {

// The controller's network settings, field by field as the block carries them.
struct IpSettings {
    QByteArray mac;
    QByteArray ip;
    QByteArray mask;
    QByteArray gateway;
    quint8 flags = 0;
    QByteArray storedIp;
    QByteArray hardwareDescription; // the console's code page (CP949)
    QByteArray serial;
    QByteArray separator;
    QByteArray hardwareVersion;
    QByteArray storedMac;
    QByteArray storedIpMac;
    quint32 rectifierId = 1;
    quint32 storedRectifierId = 1;
    QByteArray site; // UTF-8

    static IpSettings factory();
};

// The network block as the controller reads it back (150 bytes after the function code) and
// takes it in a write (the block behind its 0x12345678 marker).
class IpBlock {
public:
    static constexpr int Size = 150;
    // Firmware words high, low, year and date: the read-back carries them, a write cannot
    // change them.
    using Firmware = std::array<std::uint16_t, 4>;

    IpBlock();

    QByteArray readBack(const Firmware &firmware) const;
    // False when the block is malformed or its texts do not fit the read answer; nothing
    // changes then.
    bool write(const QByteArray &block);
    // The read answers these bytes (cut or zero-padded to Size) until a write is accepted.
    void setReadBack(const QByteArray &block);
    const IpSettings &settings() const { return s; }

private:
    IpSettings s;
    QByteArray readBackOverride; // null: the read answers from s
};

} // namespace qeln::sim
