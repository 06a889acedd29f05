// The IP-settings write: what the operator entered (or the CLI was given), checked item by
// item, then encoded into the block the controller takes.

#include "ipsettings.h"

#include "app/textcodec.h"
#include "config/writeplan.h"
#include "link/hextext.h"

#include <functional>

namespace qeln {

namespace {

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

// Every part is checked: the parts refused go to `badParts`, their messages to `error`, one
// per line.
template <std::size_t N>
bool octets(const std::array<QString, N> &texts, const QString &label, std::array<std::uint8_t, N> &out,
            QString &error, QList<int> &badParts)
{
    QStringList problems;
    for (std::size_t i = 0; i < N; ++i) {
        QString problem;
        const auto v = octet(texts[i], label, problem);
        if (v) {
            out[i] = *v;
            continue;
        }
        problems << problem;
        badParts << int(i);
    }
    error = problems.join(QLatin1Char('\n'));
    return problems.isEmpty();
}

bool macOctets(const std::array<QString, 6> &texts, Octets6 &out, QString &error, QList<int> &badParts)
{
    const QString label = QStringLiteral("Mac 주소");
    QStringList problems;
    for (std::size_t i = 0; i < 6; ++i) {
        QString problem;
        auto v = hexValue(texts[i], 8, label, problem);
        if (v && *v > 0xFF) {
            problem = QStringLiteral("%1: %2 is above FF").arg(label, texts[i].trimmed());
            v.reset();
        }
        if (v) {
            out[i] = std::uint8_t(*v);
            continue;
        }
        problems << problem;
        badParts << int(i);
    }
    error = problems.join(QLatin1Char('\n'));
    return problems.isEmpty();
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

// What a write carries: each value from the form where its item is taken, else as last read.
struct IpWriteValues {
    Octets6 mac{};
    Octets4 ip{};
    Octets4 mask{};
    Octets4 gateway{};
    Octets4 hwVersion{};
    QByteArray description; // CP949
    QByteArray serial;      // CP949, 10 bytes
    std::uint32_t rectifierId = 0;
    QByteArray site; // UTF-8
};

// Why the form cannot be written at all, before any value is looked at: no read of this
// controller, nothing selected, or a read cut short before an item that goes out as read.
QString refusalBeforeValues(const IpSettingsForm &form, const std::optional<IpSettingsReadBack> &lastRead)
{
    if (!lastRead)
        return QStringLiteral("The IP settings have not been read from this controller yet; "
                              "read them first (조회). Nothing was sent.");
    if (!form.anySelected())
        return QStringLiteral("No item is selected. Nothing was sent.");
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
        if (!n.selected && !lastRead->has(n.field))
            missing << QString::fromLatin1(n.name);
    }
    if (!missing.isEmpty())
        return QStringLiteral("The last read of the IP settings was cut short and lacks %1; "
                              "read them again (조회). Nothing was sent.")
            .arg(missing.join(QLatin1String(", ")));
    return {};
}

QString chopSemicolon(QString text)
{
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text;
}

// Unchanged is the text exactly as the read gave it (the CLI's form), or that text with its
// line breaks as a text widget gives them back. Not the text converted a second time: a
// description that holds CR CR LF reads as CR LF, and converting that again would turn the
// unchanged field into an edited one and write it back changed.
bool descriptionEdited(const IpSettingsForm &form, const IpSettingsReadBack &last)
{
    const QString shown = fromCrLf(form.hwDescription);
    return form.hwDescription != last.hwDescriptionText && shown != last.hwDescriptionText
        && shown != fromCrLf(last.hwDescriptionText);
}

bool encodeDescription(const QString &boxText, QByteArray &out, QString &error)
{
    const QString text = toCrLf(boxText);
    bool ok = false;
    out = textcodec::toCp949(text, &ok);
    if (!ok)
        error = QStringLiteral("HW 설명: '%1' cannot be written in the controller's code page (CP949)")
                    .arg(firstUnencodable(text));
    else if (out.size() > 255)
        error = QStringLiteral("HW 설명: %1 bytes; at most 255 fit").arg(out.size());
    return error.isEmpty();
}

bool encodeSerial(const QString &boxText, QByteArray &out, QString &error)
{
    const QString text = chopSemicolon(boxText); // "; " is added by the encoding
    bool ok = false;
    out = textcodec::toCp949(text, &ok);
    if (!ok)
        error = QStringLiteral("Serial 번호: '%1' cannot be written in the controller's code page (CP949)")
                    .arg(firstUnencodable(text));
    else if (out.size() != IpSerialNumberBytes)
        error = QStringLiteral("Serial 번호: '%1' is %2 bytes; it must be exactly 10").arg(text).arg(out.size());
    return error.isEmpty();
}

bool encodeSite(const QString &boxText, QByteArray &out, QString &error)
{
    const QString text = toCrLf(boxText);
    if (hasLoneSurrogate(text)) {
        error = QStringLiteral("Site 정보: the text holds a character that cannot be written in UTF-8");
        return false;
    }
    out = textcodec::toUtf8(text);
    if (out.size() > 255)
        error = QStringLiteral("Site 정보: %1 bytes in UTF-8; at most 255 fit").arg(out.size());
    return error.isEmpty();
}

bool rectifierIdValue(const QString &text, std::uint32_t &out, QString &error)
{
    const auto v = hexValue(text, 8, QStringLiteral("정류기 ID"), error);
    if (v)
        out = std::uint32_t(*v);
    return v.has_value();
}

// The values of the write, checked item by item in the table's order: every item that does
// not convert is named (its message, and the field and part in `refused`). An item not taken
// from the form goes out as last read.
//
// The description and the serial number go out as the boxes hold them whether or not their
// items are ticked (the flags tell the controller what to take). Text the operator left as it
// was read goes out as the very bytes that were read, so bytes that do not survive a round
// trip through text cannot change or shift a later field.
QString takeValues(const IpSettingsForm &form, const IpSettingsReadBack &last, IpWriteValues &v,
                   QList<std::pair<IpField, int>> &refused)
{
    v = IpWriteValues{last.mac,
                      last.ip,
                      last.mask,
                      last.gateway,
                      last.hwVersion,
                      last.hwDescriptionBytes,
                      last.serialNumberBytes,
                      last.rectifierId,
                      last.siteBytes};
    QString error;
    QList<int> parts;
    const struct {
        bool taken;
        IpField field;
        std::function<bool()> convert;
    } items[] = {
        {form.macSelected, IpField::Mac, [&] { return macOctets(form.mac, v.mac, error, parts); }},
        {form.ipSelected, IpField::Ip, [&] { return octets(form.ip, QStringLiteral("정류기 IP 주소"), v.ip, error, parts); }},
        {form.maskSelected, IpField::Mask,
         [&] { return octets(form.mask, QStringLiteral("SUBNET MASK"), v.mask, error, parts); }},
        {form.gatewaySelected, IpField::Gateway,
         [&] { return octets(form.gateway, QStringLiteral("GATEWAY"), v.gateway, error, parts); }},
        {form.hwVersionSelected, IpField::HwVersion,
         [&] { return octets(form.hwVersion, QStringLiteral("HW 버전"), v.hwVersion, error, parts); }},
        {form.hwDescriptionSelected || descriptionEdited(form, last), IpField::HwDescription,
         [&] { return encodeDescription(form.hwDescription, v.description, error); }},
        {form.serialNumberSelected || chopSemicolon(form.serialNumber) != chopSemicolon(last.serialNumberText),
         IpField::SerialNumber, [&] { return encodeSerial(form.serialNumber, v.serial, error); }},
        {form.rectifierIdSelected, IpField::RectifierId, [&] { return rectifierIdValue(form.rectifierId, v.rectifierId, error); }},
        {form.siteSelected, IpField::Site, [&] { return encodeSite(form.site, v.site, error); }},
    };
    QStringList problems;
    for (const auto &item : items) {
        parts.clear();
        if (!item.taken || item.convert())
            continue;
        problems << error;
        if (parts.isEmpty())
            refused.append({item.field, -1});
        for (int part : std::as_const(parts))
            refused.append({item.field, part});
    }
    return problems.join(QLatin1Char('\n'));
}

std::uint8_t selectionFlags(const IpSettingsForm &form)
{
    std::uint8_t flags = 0;
    const std::pair<bool, std::uint8_t> bits[] = {
        {form.ipSelected, IpBitIp},
        {form.hwDescriptionSelected, IpBitHwDescription},
        {form.serialNumberSelected, IpBitSerialNumber},
        {form.hwVersionSelected, IpBitHwVersion},
        {form.macSelected, IpBitMac},
        {form.rectifierIdSelected, IpBitRectifierId},
        {form.siteSelected, IpBitSite},
    };
    for (const auto &[selected, bit] : bits) {
        if (selected)
            flags |= bit;
    }
    return flags;
}

// The block in the order the controller reads it.
QByteArray encodeIpWrite(const IpWriteValues &v, std::uint8_t flags)
{
    QByteArray b;
    b.reserve(IpWriteFixedBytes + v.description.size() + v.site.size());
    b.append("\x12\x34\x56\x78", 4);
    append(b, v.mac);
    append(b, v.ip);
    append(b, v.mask);
    append(b, v.gateway);
    b.append(char(flags));
    append(b, v.ip);
    b.append(4, '\0');
    b.append(char(v.description.size()));
    b.append(v.description);
    b.append(v.serial);
    b.append("; ", 2);
    append(b, v.hwVersion);
    append(b, v.mac);
    b.append(12, '\0');
    append(b, Octets4{std::uint8_t(v.rectifierId >> 24), std::uint8_t(v.rectifierId >> 16),
                      std::uint8_t(v.rectifierId >> 8), std::uint8_t(v.rectifierId)});
    b.append(12, '\0');
    b.append(char(v.site.size()));
    b.append(v.site);
    return b;
}

} // namespace

IpWriteBlock buildIpSettingsWrite(const IpSettingsForm &form, const std::optional<IpSettingsReadBack> &lastRead)
{
    IpWriteBlock out;
    out.error = refusalBeforeValues(form, lastRead);
    if (!out.error.isEmpty())
        return out;
    IpWriteValues values;
    out.error = takeValues(form, *lastRead, values, out.refused);
    if (!out.error.isEmpty())
        return out;
    const qsizetype total = IpWriteFixedBytes + values.description.size() + values.site.size();
    if (total > IpWriteMaxPayload) {
        out.error = QStringLiteral("The IP settings block would be %1 bytes; at most %2 can be sent. "
                                   "Shorten the HW 설명 or the Site 정보.")
                        .arg(total)
                        .arg(IpWriteMaxPayload);
        return out;
    }
    out.payload = encodeIpWrite(values, selectionFlags(form));
    Q_ASSERT(out.payload.size() == total);
    return out;
}

} // namespace qeln
