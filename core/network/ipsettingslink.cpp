#include "ipsettingslink.h"

#include "link/hextext.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcIpSettings, "qeln.network")

namespace qeln {

namespace {

template <std::size_t N> QByteArray bytesOf(const std::array<std::uint8_t, N> &octets)
{
    return QByteArray(reinterpret_cast<const char *>(octets.data()), qsizetype(N));
}

QByteArray bigEndian(std::uint32_t v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

// The item's bytes in a read-back, and whether the answer reached them.
QByteArray readBytes(const IpSettingsReadBack &r, IpItem item, bool *present)
{
    const auto field = [&](IpField f, const QByteArray &bytes) {
        *present = r.has(f);
        return bytes;
    };
    switch (item) {
    case IpItem::Ip: return field(IpField::Ip, bytesOf(r.ip));
    case IpItem::Gateway: return field(IpField::Gateway, bytesOf(r.gateway));
    case IpItem::Mask: return field(IpField::Mask, bytesOf(r.mask));
    case IpItem::Mac: return field(IpField::Mac, bytesOf(r.mac));
    case IpItem::HwVersion: return field(IpField::HwVersion, bytesOf(r.hwVersion));
    case IpItem::SerialNumber: return field(IpField::SerialNumber, r.serialNumberBytes);
    case IpItem::HwDescription: return field(IpField::HwDescription, r.hwDescriptionBytes);
    case IpItem::RectifierId: return field(IpField::RectifierId, bigEndian(r.rectifierId));
    case IpItem::Site: return field(IpField::Site, r.siteBytes);
    }
    *present = false;
    return QByteArray();
}

// The item's bytes in a write block (see the layout in ipsettings.h).
QByteArray sentBytes(const QByteArray &payload, IpItem item)
{
    const int n = payload.size() > 31 ? quint8(payload.at(31)) : 0;
    const int m = payload.size() > 82 + n ? quint8(payload.at(82 + n)) : 0;
    switch (item) {
    case IpItem::Ip: return payload.mid(10, 4);
    case IpItem::Gateway: return payload.mid(18, 4);
    case IpItem::Mask: return payload.mid(14, 4);
    case IpItem::Mac: return payload.mid(4, 6);
    case IpItem::HwVersion: return payload.mid(44 + n, 4);
    case IpItem::SerialNumber: return payload.mid(32 + n, IpSerialNumberBytes);
    case IpItem::HwDescription: return payload.mid(32, n);
    case IpItem::RectifierId: return payload.mid(66 + n, 4);
    case IpItem::Site: return payload.mid(83 + n, m);
    }
    return QByteArray();
}

} // namespace

QString ipItemName(IpItem item)
{
    switch (item) {
    case IpItem::Ip: return QStringLiteral("정류기 IP 주소");
    case IpItem::Gateway: return QStringLiteral("GATEWAY");
    case IpItem::Mask: return QStringLiteral("SUBNET MASK");
    case IpItem::Mac: return QStringLiteral("Mac 주소");
    case IpItem::HwVersion: return QStringLiteral("HW 버전");
    case IpItem::SerialNumber: return QStringLiteral("Serial 번호");
    case IpItem::HwDescription: return QStringLiteral("HW 설명");
    case IpItem::RectifierId: return QStringLiteral("정류기 ID");
    case IpItem::Site: return QStringLiteral("Site 정보");
    }
    return QString();
}

bool ipItemSelected(const IpSettingsForm &f, IpItem item)
{
    switch (item) {
    case IpItem::Ip: return f.ipSelected;
    case IpItem::Gateway: return f.gatewaySelected;
    case IpItem::Mask: return f.maskSelected;
    case IpItem::Mac: return f.macSelected;
    case IpItem::HwVersion: return f.hwVersionSelected;
    case IpItem::SerialNumber: return f.serialNumberSelected;
    case IpItem::HwDescription: return f.hwDescriptionSelected;
    case IpItem::RectifierId: return f.rectifierIdSelected;
    case IpItem::Site: return f.siteSelected;
    }
    return false;
}

QString IpWriteCheck::names() const
{
    QStringList out;
    for (IpItem item : items)
        out << ipItemName(item);
    return out.join(QStringLiteral(", "));
}

IpWriteCheck checkIpWrite(const IpSettingsForm &form, const QByteArray &payload,
                          const IpSettingsReadBack &before, const IpSettingsReadBack &after)
{
    IpWriteCheck check;
    QList<IpItem> sentNew;
    bool allAsBefore = true;
    for (IpItem item : AllIpItems) {
        bool wasThere = false;
        bool isThere = false;
        const QByteArray was = readBytes(before, item, &wasThere);
        const QByteArray now = readBytes(after, item, &isThere);
        const bool selected = ipItemSelected(form, item);
        const QByteArray expected = selected ? sentBytes(payload, item) : was;
        if (selected && (expected != was || !wasThere))
            sentNew << item;
        if (!isThere || now != was)
            allAsBefore = false;
        if (!isThere || now != expected)
            check.items << item;
    }
    if (check.items.isEmpty()) {
        check.outcome = IpWriteCheck::Written;
    } else if (allAsBefore && !sentNew.isEmpty()) {
        check.outcome = IpWriteCheck::Refused;
        check.items = sentNew;
    } else {
        check.outcome = IpWriteCheck::Different;
    }
    return check;
}

IpSettingsLink::IpSettingsLink(LinkEngine &engine, QObject *parent) : QObject(parent), engine_(engine)
{
    connect(&engine_, &LinkEngine::answered, this, &IpSettingsLink::onAnswered);
    connect(&engine_, &LinkEngine::failed, this, &IpSettingsLink::onFailed);
}

void IpSettingsLink::onAnswered(Ticket ticket, const Answer &answer)
{
    const auto read = reads_.constFind(ticket);
    if (read == reads_.cend())
        return;
    const quint64 number = *read;
    reads_.erase(read);
    IpSettingsReadBack decoded = decodeIpSettingsBlock(answer.payload);
    if (!decoded.complete())
        qCInfo(lcIpSettings, "%s", qUtf8Printable(decoded.cutShortMessage()));
    last_ = std::move(decoded);
    generation_ = std::max(generation_, number);
    Q_EMIT readBackDecoded(*last_, number);
}

void IpSettingsLink::onFailed(Ticket ticket, const RequestFailure &failure)
{
    const auto read = reads_.constFind(ticket);
    if (read == reads_.cend())
        return;
    const quint64 number = *read;
    reads_.erase(read);
    Q_EMIT readFailed(number, failure);
}

void IpSettingsLink::invalidate()
{
    last_.reset();
}

quint64 IpSettingsLink::requestRead(int timeoutMs)
{
    return track(engine_.requestIpBlock(readWait(timeoutMs)));
}

quint64 IpSettingsLink::readInPollSlot(int timeoutMs)
{
    return track(engine_.requestIpBlockInPollSlot(readWait(timeoutMs)));
}

int IpSettingsLink::readWait(int timeoutMs) const
{
    return timeoutMs <= 0 && engine_.link() == LinkKind::Serial ? ReadWaitMs : timeoutMs;
}

quint64 IpSettingsLink::track(Ticket ticket)
{
    // A read asked for again before the first went out is the same read: the newer number.
    reads_.insert(ticket, ++requested_);
    return requested_;
}

bool IpSettingsLink::sendWrite(const QByteArray &payload)
{
    if (payload.isEmpty() || payload.size() > IpWriteMaxPayload)
        return false;
    return engine_.writeIpBlock(payload);
}

} // namespace qeln
