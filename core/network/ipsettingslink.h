#pragma once

#include "link/linkengine.h"
#include "network/ipsettings.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <optional>

namespace qeln {

// The items the IP dialog selects for a write, in the order of its rows.
enum class IpItem { Ip, Gateway, Mask, Mac, HwVersion, SerialNumber, HwDescription, RectifierId, Site };
inline constexpr IpItem AllIpItems[] = {IpItem::Ip,           IpItem::Gateway,      IpItem::Mask,
                                        IpItem::Mac,          IpItem::HwVersion,    IpItem::SerialNumber,
                                        IpItem::HwDescription, IpItem::RectifierId, IpItem::Site};
// The item as the dialog names it: "정류기 IP 주소", "Site 정보", ...
QString ipItemName(IpItem item);
bool ipItemSelected(const IpSettingsForm &form, IpItem item);

// What the read-back that follows a write says about it.
struct IpWriteCheck {
    enum Outcome {
        Written,   // every item reads back as the block carried it (selected) or as before
        Refused,   // nothing changed: every item reads back as before, although some were sent new
        Different, // otherwise: `items` read back other than expected
    };
    Outcome outcome = Written;
    QList<IpItem> items;  // Refused: the selected items that were sent new; Different: the
                          // items that read back other than expected (a field the answer did
                          // not reach counts as different)
    QString names() const; // the items' names joined by ", "
};
// `payload` is the block that was sent for `form`'s selection, built on the read `before`;
// `after` is the next read. An item expected back is the block's value when selected, the
// value of `before` when not (the controller takes the description and the serial number only
// when selected).
IpWriteCheck checkIpWrite(const IpSettingsForm &form, const QByteArray &payload,
                          const IpSettingsReadBack &before, const IpSettingsReadBack &after);

// The engine side of the IP-settings block: it asks for reads and writes and decodes the
// blocks that answer its reads.
//
// Generations: every read asked for gets the next number (1, 2, ...), and a decoded read-back
// carries the number of the read it answers. requestRead() returns that number, so a dialog
// takes a read-back as its own when generation >= its number (the answer to its read, or to a
// read asked for after it); invalidate() (link closed or changed) forgets the last read so no
// write can take values from another controller.
class IpSettingsLink : public QObject {
    Q_OBJECT
public:
    explicit IpSettingsLink(LinkEngine &engine, QObject *parent = nullptr);

    // The last decoded read-back since the last invalidate(); empty before.
    const std::optional<IpSettingsReadBack> &lastReadBack() const { return last_; }
    quint64 generation() const { return generation_; }
    void invalidate();

    // Asks for the block on the engine's next poll tick ("22" on serial, 0x41 on TCP);
    // polling goes on after it. Returns the read's number described above. The read fails
    // (readFailed()) when no answer came within `timeoutMs` of its going out; 0 waits on
    // TCP the engine's read time-out, on serial ReadWaitMs.
    quint64 requestRead(int timeoutMs = 0);
    static constexpr int ReadWaitMs = 8000;
    // The same read in the place of a status poll that is due and not held (see
    // LinkEngine::requestIpBlockInPollSlot): for a caller that wants to know the controller (its
    // serial number) while monitoring goes on, without meeting a dialog's hold or write.
    quint64 readInPollSlot(int timeoutMs = 0);

    // Sends a write block built by buildIpSettingsWrite (LinkEngine::writeIpBlock: on TCP
    // polling is held until the dialog resumes it). The write is never repeated after a
    // hang-up. Returns false and sends nothing for an empty block or one over 253 bytes.
    bool sendWrite(const QByteArray &payload);

Q_SIGNALS:
    // A read-back was decoded (possibly cut short: see readBack.complete()).
    void readBackDecoded(const qeln::IpSettingsReadBack &readBack, quint64 generation);
    // The read of this number got no answer (time-out, link lost, refusal).
    void readFailed(quint64 generation, const qeln::RequestFailure &failure);

private:
    int readWait(int timeoutMs) const;
    quint64 track(Ticket ticket);
    void onAnswered(Ticket ticket, const Answer &answer);
    void onFailed(Ticket ticket, const RequestFailure &failure);

    LinkEngine &engine_;
    std::optional<IpSettingsReadBack> last_;
    quint64 generation_ = 0;   // the newest read answered
    quint64 requested_ = 0;    // reads asked for
    QHash<Ticket, quint64> reads_; // the engine's tickets of the reads waiting, with their numbers
};

} // namespace qeln
