#include "ipsettingslink.h"

#include "link/hextext.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcIpSettings, "qeln.network")

namespace qeln {

IpSettingsLink::IpSettingsLink(QObject *parent) : QObject(parent) {}

void IpSettingsLink::DecodeIpSettings(ConsoleState &state)
{
    auto decoded = decodeIpSettingsResponse(state.ResponseText, state.LinkIsTcp != 0);
    if (!decoded) {
        qCWarning(lcIpSettings, "IP settings answer not hexadecimal: nothing decoded");
        Q_EMIT readBackRejected(QStringLiteral("The IP settings answer was not hexadecimal; nothing was decoded."));
        return;
    }
    if (!decoded->complete())
        qCInfo(lcIpSettings, "%s", qUtf8Printable(decoded->cutShortMessage()));
    last_ = std::move(*decoded);
    ++generation_;
    Q_EMIT readBackDecoded(*last_, generation_);
}

void IpSettingsLink::invalidate()
{
    last_.reset();
}

quint64 IpSettingsLink::requestRead(LinkEngine &engine)
{
    ConsoleState &s = engine.state();
    s.FrameReady = 0;
    s.RxState = 0;
    s.RequestState = StateIpRead;
    s.ResponseTimer = 3;
    s.PollReady = 1;
    return generation_ + 1;
}

bool IpSettingsLink::sendWrite(LinkEngine &engine, const QByteArray &payload)
{
    if (payload.isEmpty() || payload.size() > IpWriteMaxPayload)
        return false;
    ConsoleState &s = engine.state();
    s.FrameReady = 0;
    s.RxState = 0;
    bool sent = false;
    if (s.LinkIsTcp == 0) {
        sent = engine.SendFrame("0123" "0000" + BytesToHex(payload));
    } else {
        s.RequestState = StateIpWrite;
        s.IpSettingsPayload = payload;
        sent = engine.SendFrame(QByteArray());
    }
    if (sent) {
        s.ResponseTimer = 3;
        s.PollReady = 1;
    }
    return sent;
}

} // namespace qeln
