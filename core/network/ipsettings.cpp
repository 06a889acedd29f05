#include "ipsettings.h"

#include "app/textcodec.h"
#include "config/writeplan.h"
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

// ---- builder helpers ---------------------------------------------------------------------

// A decimal octet: digits only (leading zeros allowed: "08" is eight), 0..255.
std::optional<std::uint8_t> octet(const QString &raw, const QString &label, QString &error)
{
    const QString text = raw.trimmed();
    bool digits = !text.isEmpty();
    for (const QChar c : text)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!digits) {
        error = QStringLiteral("%1: %2").arg(label, config::notIntegerMessage(raw));
        return std::nullopt;
    }
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok);
    if (!ok || v > 255) {
        error = QStringLiteral("%1: %2 does not fit in one byte (0..255)").arg(label, text);
        return std::nullopt;
    }
    return std::uint8_t(v);
}

// Hexadecimal text of at most maxDigits digits (either case), non-empty.
std::optional<quint64> hexValue(const QString &raw, int maxDigits, const QString &label, QString &error)
{
    const QString text = raw.trimmed();
    bool hex = !text.isEmpty();
    for (const QChar c : text)
        hex = hex && c.unicode() < 0x80 && hexDigitValue(char(c.unicode())) >= 0;
    if (!hex) {
        error = QStringLiteral("%1: %2").arg(label, config::notIntegerMessage(raw));
        return std::nullopt;
    }
    if (text.size() > maxDigits) {
        error = QStringLiteral("%1: '%2' has more than %3 hexadecimal digits").arg(label, text).arg(maxDigits);
        return std::nullopt;
    }
    quint64 v = 0;
    for (const QChar c : text)
        v = v * 16 + quint64(hexDigitValue(char(c.unicode())));
    return v;
}

template <std::size_t N>
bool octets(const std::array<QString, N> &texts, const QString &label, std::array<std::uint8_t, N> &out,
            QString &error)
{
    for (std::size_t i = 0; i < N; ++i) {
        const auto v = octet(texts[i], label, error);
        if (!v)
            return false;
        out[i] = *v;
    }
    return true;
}

bool macOctets(const std::array<QString, 6> &texts, Octets6 &out, QString &error)
{
    const QString label = QStringLiteral("Mac 주소");
    for (std::size_t i = 0; i < 6; ++i) {
        const auto v = hexValue(texts[i], 8, label, error);
        if (!v)
            return false;
        if (*v > 0xFF) {
            error = QStringLiteral("%1: %2 is above FF").arg(label, texts[i].trimmed());
            return false;
        }
        out[i] = std::uint8_t(*v);
    }
    return true;
}

template <std::size_t N>
void append(QByteArray &out, const std::array<std::uint8_t, N> &a)
{
    for (const std::uint8_t b : a)
        out.append(char(b));
}

// The first character of text that CP949 cannot encode, for the message.
QString firstUnencodable(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, len);
        if (!textcodec::canEncodeCp949(one))
            return one;
        i += len - 1;
    }
    return QString();
}

bool hasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return true;
    }
    return false;
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

IpWriteBlock buildIpSettingsWrite(const IpSettingsForm &form, const std::optional<IpSettingsReadBack> &lastRead)
{
    IpWriteBlock out;
    auto refuse = [&](const QString &message) {
        out.payload.clear();
        out.error = message;
        return out;
    };
    if (!lastRead)
        return refuse(QStringLiteral("The IP settings have not been read from this controller yet; "
                                     "read them first (조회). Nothing was sent."));
    const IpSettingsReadBack &last = *lastRead;
    if (!form.anySelected())
        return refuse(QStringLiteral("No item is selected. Nothing was sent."));

    // Items not selected go out as last read: the read must have reached them.
    QStringList missing;
    const struct {
        bool selected;
        IpField field;
        const char *name;
    } needs[] = {
        {form.macSelected, IpField::Mac, "mac"},
        {form.ipSelected, IpField::Ip, "ip"},
        {form.maskSelected, IpField::Mask, "mask"},
        {form.gatewaySelected, IpField::Gateway, "gateway"},
        {form.hwDescriptionSelected, IpField::HwDescription, "hw_description"},
        {form.serialNumberSelected, IpField::SerialNumber, "serial_number"},
        {form.hwVersionSelected, IpField::HwVersion, "hw_version"},
        {form.rectifierIdSelected, IpField::RectifierId, "rectifier_id"},
        {form.siteSelected, IpField::Site, "site"},
    };
    for (const auto &n : needs) {
        if (!n.selected && !last.has(n.field))
            missing << QString::fromLatin1(n.name);
    }
    if (!missing.isEmpty())
        return refuse(QStringLiteral("The last read of the IP settings was cut short and lacks %1; "
                                     "read them again (조회). Nothing was sent.")
                          .arg(missing.join(QLatin1String(", "))));

    QString error;
    Octets6 mac = last.mac;
    Octets4 ip = last.ip, mask = last.mask, gateway = last.gateway, hwVersion = last.hwVersion;
    if (form.macSelected && !macOctets(form.mac, mac, error))
        return refuse(error);
    if (form.ipSelected && !octets(form.ip, QStringLiteral("정류기 IP 주소"), ip, error))
        return refuse(error);
    if (form.maskSelected && !octets(form.mask, QStringLiteral("SUBNET MASK"), mask, error))
        return refuse(error);
    if (form.gatewaySelected && !octets(form.gateway, QStringLiteral("GATEWAY"), gateway, error))
        return refuse(error);
    if (form.hwVersionSelected && !octets(form.hwVersion, QStringLiteral("HW 버전"), hwVersion, error))
        return refuse(error);

    // The description and the serial number go out as the boxes hold them whether or not
    // their items are ticked (the flags tell the controller what to take). Text the operator
    // left as it was read goes out as the very bytes that were read, so bytes that do not
    // survive a round trip through text cannot change or shift a later field.
    const auto chopSemicolon = [](QString text) {
        if (text.endsWith(QLatin1Char(';')))
            text.chop(1);
        return text;
    };
    // Unchanged is the text exactly as the read gave it (the CLI's form), or that text with its
    // line breaks as a text widget gives them back. Not the text converted a second time: a
    // description that holds CR CR LF reads as CR LF, and converting that again would turn the
    // unchanged field into an edited one and write it back changed.
    const QString shownDescription = fromCrLf(form.hwDescription);
    const bool descriptionEdited = form.hwDescription != last.hwDescriptionText
        && shownDescription != last.hwDescriptionText && shownDescription != fromCrLf(last.hwDescriptionText);
    const bool serialEdited = chopSemicolon(form.serialNumber) != chopSemicolon(last.serialNumberText);

    QByteArray description = last.hwDescriptionBytes;
    if (form.hwDescriptionSelected || descriptionEdited) {
        const QString text = toCrLf(form.hwDescription);
        bool ok = false;
        description = textcodec::toCp949(text, &ok);
        if (!ok)
            return refuse(QStringLiteral("HW 설명: '%1' cannot be written in the controller's code page (CP949)")
                              .arg(firstUnencodable(text)));
        if (description.size() > 255)
            return refuse(QStringLiteral("HW 설명: %1 bytes; at most 255 fit").arg(description.size()));
    }

    QByteArray serial = last.serialNumberBytes;
    if (form.serialNumberSelected || serialEdited) {
        const QString text = chopSemicolon(form.serialNumber); // "; " is added below
        bool ok = false;
        serial = textcodec::toCp949(text, &ok);
        if (!ok)
            return refuse(QStringLiteral("Serial 번호: '%1' cannot be written in the controller's code page (CP949)")
                              .arg(firstUnencodable(text)));
        if (serial.size() != IpSerialNumberBytes)
            return refuse(QStringLiteral("Serial 번호: '%1' is %2 bytes; it must be exactly 10")
                              .arg(text)
                              .arg(serial.size()));
    }

    std::uint32_t rectifierId = last.rectifierId;
    if (form.rectifierIdSelected) {
        const auto v = hexValue(form.rectifierId, 8, QStringLiteral("정류기 ID"), error);
        if (!v)
            return refuse(error);
        rectifierId = std::uint32_t(*v);
    }

    QByteArray site = last.siteBytes;
    if (form.siteSelected) {
        const QString text = toCrLf(form.site);
        if (hasLoneSurrogate(text))
            return refuse(QStringLiteral("Site 정보: the text holds a character that cannot be written in UTF-8"));
        site = textcodec::toUtf8(text);
        if (site.size() > 255)
            return refuse(QStringLiteral("Site 정보: %1 bytes in UTF-8; at most 255 fit").arg(site.size()));
    }

    const qsizetype total = IpWriteFixedBytes + description.size() + site.size();
    if (total > IpWriteMaxPayload)
        return refuse(QStringLiteral("The IP settings block would be %1 bytes; at most %2 can be sent. "
                                     "Shorten the HW 설명 or the Site 정보.")
                          .arg(total)
                          .arg(IpWriteMaxPayload));

    std::uint8_t flags = 0;
    if (form.ipSelected)
        flags |= IpBitIp;
    if (form.hwDescriptionSelected)
        flags |= IpBitHwDescription;
    if (form.serialNumberSelected)
        flags |= IpBitSerialNumber;
    if (form.hwVersionSelected)
        flags |= IpBitHwVersion;
    if (form.macSelected)
        flags |= IpBitMac;
    if (form.rectifierIdSelected)
        flags |= IpBitRectifierId;
    if (form.siteSelected)
        flags |= IpBitSite;

    QByteArray &b = out.payload;
    b.reserve(total);
    b.append("\x12\x34\x56\x78", 4);
    append(b, mac);
    append(b, ip);
    append(b, mask);
    append(b, gateway);
    b.append(char(flags));
    append(b, ip);
    b.append(4, '\0');
    b.append(char(description.size()));
    b.append(description);
    b.append(serial);
    b.append("; ", 2);
    append(b, hwVersion);
    append(b, mac);
    b.append(12, '\0');
    append(b, Octets4{std::uint8_t(rectifierId >> 24), std::uint8_t(rectifierId >> 16),
                      std::uint8_t(rectifierId >> 8), std::uint8_t(rectifierId)});
    b.append(12, '\0');
    b.append(char(site.size()));
    b.append(site);
    Q_ASSERT(b.size() == total);
    return out;
}

} // namespace qeln
