#include "ipsettings.h"

#include "app/textcodec.h"
#include "link/hextext.h"

namespace qeln {

namespace {

struct FieldName {
    IpField field;
    const char *name;
};

// Block order; the names are those of the CLI's JSON keys.
constexpr FieldName FieldNames[] = {
    {IpField::Mac, "mac"},
    {IpField::Ip, "ip"},
    {IpField::Mask, "mask"},
    {IpField::Gateway, "gateway"},
    {IpField::Flags, "flags"},
    {IpField::SavedIp, "saved_ip"},
    {IpField::HwDescription, "hw_description"},
    {IpField::SerialNumber, "serial_number"},
    {IpField::HwVersion, "hw_version"},
    {IpField::SavedMac, "saved_mac"},
    {IpField::SavedIpMac, "saved_ip_mac"},
    {IpField::RectifierId, "rectifier_id"},
    {IpField::SavedRectifierId, "saved_rectifier_id"},
    {IpField::Firmware, "firmware"},
    {IpField::Site, "site"},
};

// Takes fields off the front of the block; every take fails once the block has run out.
class Cursor {
public:
    explicit Cursor(const QByteArray &b) : bytes(b) {}
    bool take(int count, QByteArray &out)
    {
        if (count < 0 || pos + count > bytes.size())
            return false;
        out = bytes.mid(pos, count);
        pos += count;
        return true;
    }
    bool skip(int count)
    {
        QByteArray ignored;
        return take(count, ignored);
    }
    template <std::size_t N>
    bool take(std::array<std::uint8_t, N> &out)
    {
        QByteArray b;
        if (!take(int(N), b))
            return false;
        for (std::size_t i = 0; i < N; ++i)
            out[i] = std::uint8_t(b[qsizetype(i)]);
        return true;
    }
    bool take(std::uint8_t &out)
    {
        std::array<std::uint8_t, 1> a{};
        if (!take(a))
            return false;
        out = a[0];
        return true;
    }
    bool take(std::uint32_t &out)
    {
        Octets4 a{};
        if (!take(a))
            return false;
        out = std::uint32_t(a[0]) << 24 | std::uint32_t(a[1]) << 16 | std::uint32_t(a[2]) << 8 | a[3];
        return true;
    }

private:
    const QByteArray &bytes;
    qsizetype pos = 0;
};

QString joined(const QStringList &parts)
{
    return parts.join(QLatin1Char('.'));
}

} // namespace

// ---- read-back ---------------------------------------------------------------------------

QString ipDottedPadded(const Octets4 &o)
{
    QStringList parts;
    for (const std::uint8_t b : o)
        parts << QStringLiteral("%1").arg(int(b), 2, 10, QLatin1Char('0'));
    return joined(parts);
}

QString ipDottedPlain(const Octets4 &o)
{
    QStringList parts;
    for (const std::uint8_t b : o)
        parts << QString::number(b);
    return joined(parts);
}

QString macDotted(const Octets6 &o)
{
    QStringList parts;
    for (const std::uint8_t b : o)
        parts << QString::fromLatin1(IntToHexFixed(b, 2));
    return joined(parts);
}

QString hex8(std::uint32_t v)
{
    return QString::fromLatin1(Int64ToHexFixed(std::int64_t(v), 8));
}

QString toCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            out += QLatin1String("\r\n");
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

QString fromCrLf(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return out;
}

QStringList IpSettingsReadBack::missingFields() const
{
    QStringList out;
    for (const FieldName &f : FieldNames) {
        if (!filled.testFlag(f.field))
            out << QString::fromLatin1(f.name);
    }
    return out;
}

QString IpSettingsReadBack::cutShortMessage() const
{
    if (complete())
        return QString();
    return QStringLiteral("The IP settings answer was cut short (%1 bytes); not received: %2")
        .arg(blockBytes)
        .arg(missingFields().join(QLatin1String(", ")));
}

IpSettingsReadBack decodeIpSettingsBlock(const QByteArray &block)
{
    IpSettingsReadBack r;
    r.blockBytes = int(block.size());
    Cursor c(block);
    auto done = [&] { return r; };

    if (!c.skip(2))
        return done();
    if (!c.take(r.mac))
        return done();
    r.macText = macDotted(r.mac);
    r.filled |= IpField::Mac;
    if (!c.take(r.ip))
        return done();
    r.ipText = ipDottedPadded(r.ip);
    r.filled |= IpField::Ip;
    if (!c.take(r.mask))
        return done();
    r.maskText = ipDottedPadded(r.mask);
    r.filled |= IpField::Mask;
    if (!c.take(r.gateway))
        return done();
    r.gatewayText = ipDottedPadded(r.gateway);
    r.filled |= IpField::Gateway;
    if (!c.take(r.flags))
        return done();
    r.filled |= IpField::Flags;
    if (!c.take(r.savedIp))
        return done();
    r.savedIpText = ipDottedPadded(r.savedIp);
    r.filled |= IpField::SavedIp;
    std::uint8_t n = 0;
    if (!c.skip(4) || !c.take(n) || !c.take(n, r.hwDescriptionBytes))
        return done();
    r.hwDescriptionText = fromCrLf(textcodec::fromCp949(r.hwDescriptionBytes));
    r.filled |= IpField::HwDescription;
    if (!c.take(IpSerialNumberBytes, r.serialNumberBytes))
        return done();
    {
        QByteArray shown = r.serialNumberBytes;
        while (shown.endsWith('\0'))
            shown.chop(1);
        r.serialNumberText = textcodec::fromCp949(shown);
    }
    r.filled |= IpField::SerialNumber;
    if (!c.skip(2) || !c.take(r.hwVersion))
        return done();
    r.hwVersionText = ipDottedPadded(r.hwVersion);
    r.filled |= IpField::HwVersion;
    if (!c.take(r.savedMac))
        return done();
    r.savedMacText = macDotted(r.savedMac);
    r.filled |= IpField::SavedMac;
    if (!c.take(r.savedIpMac))
        return done();
    r.savedIpMacText = macDotted(r.savedIpMac);
    r.filled |= IpField::SavedIpMac;
    if (!c.skip(6) || !c.take(r.rectifierId))
        return done();
    r.rectifierIdText = hex8(r.rectifierId);
    r.filled |= IpField::RectifierId;
    if (!c.take(r.savedRectifierId))
        return done();
    r.savedRectifierIdText = hex8(r.savedRectifierId);
    r.filled |= IpField::SavedRectifierId;
    if (!c.take(r.firmwareVersion) || !c.take(r.firmwareBuild))
        return done();
    r.firmwareText = QStringLiteral("V%1(%2)").arg(ipDottedPadded(r.firmwareVersion), hex8(r.firmwareBuild));
    r.filled |= IpField::Firmware;
    std::uint8_t m = 0;
    if (!c.take(m) || !c.take(m, r.siteBytes))
        return done();
    r.siteText = fromCrLf(textcodec::fromUtf8(r.siteBytes));
    r.filled |= IpField::Site;
    return done();
}

// ---- write block -------------------------------------------------------------------------

bool IpSettingsForm::anySelected() const
{
    return macSelected || ipSelected || maskSelected || gatewaySelected || hwVersionSelected
        || serialNumberSelected || hwDescriptionSelected || rectifierIdSelected || siteSelected;
}

void IpSettingsForm::selectAll(bool on)
{
    macSelected = ipSelected = maskSelected = gatewaySelected = hwVersionSelected = on;
    serialNumberSelected = hwDescriptionSelected = rectifierIdSelected = siteSelected = on;
}

IpSettingsForm formFromReadBack(const IpSettingsReadBack &r)
{
    IpSettingsForm f;
    for (std::size_t i = 0; i < 6; ++i)
        f.mac[i] = QString::fromLatin1(IntToHexFixed(r.mac[i], 2));
    for (std::size_t i = 0; i < 4; ++i) {
        f.ip[i] = QString::number(r.ip[i]);
        f.mask[i] = QString::number(r.mask[i]);
        f.gateway[i] = QString::number(r.gateway[i]);
        f.hwVersion[i] = QString::number(r.hwVersion[i]);
    }
    f.hwDescription = r.hwDescriptionText;
    f.serialNumber = r.serialNumberText;
    f.rectifierId = r.rectifierIdText;
    f.site = r.siteText;
    return f;
}

} // namespace qeln
