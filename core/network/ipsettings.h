#pragma once

#include <QByteArray>
#include <QList>
#include <QFlags>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace qeln {

// The controller's network and identity block: the read-back decoder and the write-block
// builder. Pure functions over bytes; the link side lives in ipsettingslink.h.
//
// Read-back block (offsets in bytes; n and m are the two length bytes):
//   0 prefix(2)  2 MAC(6)  8 IP(4)  12 mask(4)  16 gateway(4)  20 item flags(1)
//   21 stored IP(4)  25 reserved(4)  29 n(1)  30 hardware description(n, CP949)
//   30+n serial number(10, CP949)  40+n separator(2)  42+n hardware version(4)
//   46+n stored MAC(6)  52+n stored IP-MAC(6)  58+n reserved(6)  64+n rectifier ID(4)
//   68+n stored rectifier ID(4)  72+n firmware version(4)  76+n firmware build(4)
//   80+n m(1)  81+n site text(m, UTF-8)                              total 81+n+m
//
// Write block:
//   0 marker 12 34 56 78  4 MAC(6)  10 IP(4)  14 mask(4)  18 gateway(4)  22 item flags(1)
//   23 IP again(4)  27 zero(4)  31 n(1)  32 description(n)  32+n serial number(10) + "; "
//   44+n hardware version(4)  48+n MAC again(6)  54+n zero(12)  66+n rectifier ID(4, big-endian)
//   70+n zero(12)  82+n m(1)  83+n site text(m)                      total 83+n+m

// The fields of the read-back block that carry a value, in block order.
enum class IpField : std::uint16_t {
    Mac = 1 << 0,
    Ip = 1 << 1,
    Mask = 1 << 2,
    Gateway = 1 << 3,
    Flags = 1 << 4,
    SavedIp = 1 << 5,
    HwDescription = 1 << 6, // with its length byte
    SerialNumber = 1 << 7,
    HwVersion = 1 << 8,
    SavedMac = 1 << 9,
    SavedIpMac = 1 << 10,
    RectifierId = 1 << 11,
    SavedRectifierId = 1 << 12,
    Firmware = 1 << 13, // version and build together
    Site = 1 << 14,     // with its length byte
};
Q_DECLARE_FLAGS(IpFields, IpField)
Q_DECLARE_OPERATORS_FOR_FLAGS(IpFields)

inline constexpr IpFields AllIpFields = IpFields(0x7FFF);

// Item flag bits of the write block (byte 22).
enum IpItemBit : std::uint8_t {
    IpBitIp = 0x01,
    IpBitHwDescription = 0x02,
    IpBitSerialNumber = 0x04,
    IpBitHwVersion = 0x08,
    IpBitMac = 0x10,
    IpBitRectifierId = 0x20,
    IpBitSite = 0x40,
};

inline constexpr int IpSerialNumberBytes = 10;
inline constexpr int IpReadBackFixedBytes = 81; // read-back block without the two texts
inline constexpr int IpWriteFixedBytes = 83;    // write block without the two texts
inline constexpr int IpWriteMaxPayload = 253;   // the TCP length byte holds payload + 2

using Octets4 = std::array<std::uint8_t, 4>;
using Octets6 = std::array<std::uint8_t, 6>;

// One decoded read-back. The texts are what the dialog shows; the raw values are what a
// write takes for the items that are not selected. A field the block did not reach keeps its
// default (zero / empty) and is absent from `filled`: nothing is carried over from an
// earlier read.
struct IpSettingsReadBack {
    // Raw values.
    Octets6 mac{};
    Octets4 ip{};
    Octets4 mask{};
    Octets4 gateway{};
    std::uint8_t flags = 0;
    Octets4 savedIp{};
    QByteArray hwDescriptionBytes; // CP949, as sent
    QByteArray serialNumberBytes;  // CP949, 10 bytes when filled
    Octets4 hwVersion{};
    Octets6 savedMac{};
    Octets6 savedIpMac{};
    std::uint32_t rectifierId = 0;
    std::uint32_t savedRectifierId = 0;
    Octets4 firmwareVersion{};
    std::uint32_t firmwareBuild = 0;
    QByteArray siteBytes; // UTF-8, as sent

    // Display texts (empty for a field not filled).
    QString macText;              // "00.1A.3A.E0.00.01"
    QString ipText;               // "192.168.00.05": at least two digits per part
    QString maskText;
    QString gatewayText;
    QString savedIpText;
    QString hwDescriptionText;    // CP949 decoded; CR LF shown as a line feed
    QString serialNumberText;     // CP949 decoded (trailing NUL bytes dropped)
    QString hwVersionText;        // as ipText
    QString savedMacText;
    QString savedIpMacText;
    QString rectifierIdText;      // 8 upper-case hex digits
    QString savedRectifierIdText;
    QString firmwareText;         // "V01.02.00.03(00000000)"
    QString siteText;             // UTF-8 decoded; CR LF shown as a line feed

    IpFields filled;
    int blockBytes = 0; // bytes of block the decode was given

    bool complete() const { return filled == AllIpFields; }
    bool has(IpField f) const { return filled.testFlag(f); }
    // Names of the fields the block did not reach, in block order ("site", "firmware", ...).
    QStringList missingFields() const;
    // Empty when complete; otherwise a one-line account of the short block for the operator.
    QString cutShortMessage() const;
};

// Decodes the block bytes (after the function code). Never fails: a short block fills what
// it holds.
IpSettingsReadBack decodeIpSettingsBlock(const QByteArray &block);

// Text helpers shared by the dialog and the CLI.
QString ipDottedPadded(const Octets4 &o); // "192.168.00.05"
QString ipDottedPlain(const Octets4 &o);  // "192.168.0.5"
QString macDotted(const Octets6 &o);      // "00.1A.3A.E0.00.01"
QString hex8(std::uint32_t v);            // "0000ABCD"

// What the dialog (or the CLI) holds when "설정" is pressed: the edit texts and the nine
// selection check boxes. Unselected items are taken from the last read, not from these texts,
// except the description and the serial number (see buildIpSettingsWrite).
struct IpSettingsForm {
    std::array<QString, 6> mac;       // each 1-2 hex digits
    std::array<QString, 4> ip;        // each a decimal 0..255 ("08" is eight)
    std::array<QString, 4> mask;
    std::array<QString, 4> gateway;
    std::array<QString, 4> hwVersion;
    QString hwDescription; // memo text; line breaks (LF, CR or CR LF) go out as CR LF
    QString serialNumber;  // exactly 10 bytes in CP949; one trailing ';' (as the default
                           // "2200000001;" has) is dropped before counting
    QString rectifierId;   // 1..8 hex digits
    QString site;          // memo text; line breaks go out as CR LF; UTF-8

    bool macSelected = false;
    bool ipSelected = false;
    bool maskSelected = false;
    bool gatewaySelected = false;
    bool hwVersionSelected = false;
    bool serialNumberSelected = false;
    bool hwDescriptionSelected = false;
    bool rectifierIdSelected = false;
    bool siteSelected = false;

    bool anySelected() const;
    void selectAll(bool on); // all nine, MAC included
};

// The form filled from a read-back, every item unselected (what the dialog shows after a read).
IpSettingsForm formFromReadBack(const IpSettingsReadBack &readBack);

// The write block, or the reason it was refused (never a partial block).
struct IpWriteBlock {
    QByteArray payload;
    QString error; // every value refused, one per line
    // The values refused: the field, and for an address the part (0-based; -1 the whole field).
    QList<std::pair<IpField, int>> refused;
    bool ok() const { return error.isEmpty(); }
};

// Builds the write block. Refused: no read decoded (lastRead empty) or the last read lacks a
// field an unselected item needs; an octet that is not decimal or above 255; a MAC part that
// is not hexadecimal or longer than two digits; a rectifier ID that is not hexadecimal or
// longer than 8 digits; a serial number that is not exactly 10 CP949 bytes; a description
// over 255 CP949 bytes; a site text over 255 UTF-8 bytes; text without a CP949 encoding;
// a payload over 253 bytes. Items not selected take the raw value of the last read (the site
// text byte for byte); the description and the serial number go out as the form holds them,
// selected or not, and as the read's own bytes when the form holds them as they were read.
IpWriteBlock buildIpSettingsWrite(const IpSettingsForm &form, const std::optional<IpSettingsReadBack> &lastRead);

// Line breaks as the controller keeps them (CR LF) and as a Qt text widget gives them (LF).
QString toCrLf(const QString &text);
QString fromCrLf(const QString &text);

} // namespace qeln
