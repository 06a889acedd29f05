#include "tcpexchange.h"

#include "transport.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <utility>

namespace qeln {

namespace {
Q_LOGGING_CATEGORY(lcExchange, "qeln.link.exchange")
}

TcpExchange::TcpExchange(QObject *parent)
    : QObject(parent)
    , readTimer(new QTimer(this))
    , settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    connect(settleTimer, &QTimer::timeout, this, &TcpExchange::onSettled);
    readTimer->setSingleShot(false);
    connect(readTimer, &QTimer::timeout, this, &TcpExchange::onReadTimeout);
}

void TcpExchange::setTransport(Transport *transport)
{
    if (transport == link)
        return;
    cancel();
    if (link)
        disconnect(link, nullptr, this, nullptr);
    link = transport;
    if (!link)
        return;
    connect(link, &Transport::opened, this, &TcpExchange::onOpened);
    connect(link, &Transport::openFailed, this, &TcpExchange::onOpenFailed);
    connect(link, &Transport::bytesReceived, this, &TcpExchange::onBytesReceived);
    connect(link, &Transport::disconnected, this, &TcpExchange::onDisconnected);
    connect(link, &QObject::destroyed, this, &TcpExchange::onTransportDestroyed);
}

Transport *TcpExchange::transport() const
{
    return link;
}

void TcpExchange::setReadTimeout(int ms)
{
    readTimeoutMs = qMax(0, ms);
}

int TcpExchange::readTimeout() const
{
    return readTimeoutMs;
}

bool TcpExchange::busy() const
{
    return state != State::Idle;
}

void TcpExchange::setResendHook(std::function<QByteArray(const QByteArray &)> hook)
{
    resendHook = std::move(hook);
}

bool TcpExchange::start(const QByteArray &frame, int expected, Resend resend)
{
    if (busy() || !link || expected <= 0)
        return false;
    const quint64 request = ++requestSerial;
    link->discardInput();
    response.clear();
    expectedBytes = expected;
    sentFrame = frame;
    resent = false;
    resendPolicy = resend;
    // A peer that hangs up right after its answer is seen to do so only a moment later. A
    // request that must not run twice waits for the connection to have been quiet that long
    // after the last answer, so it is not written into a connection that is going away.
    if (resend == Resend::Never && link->isOpen() && lastAnswer.isValid()
        && lastAnswer.elapsed() < SettleMs) {
        state = State::Settling;
        pendingFrame = frame;
        settleTimer->start(int(SettleMs - lastAnswer.elapsed()));
        return true;
    }
    pendingFrame = frame;
    proceed(request);
    return true;
}

void TcpExchange::onSettled()
{
    if (state != State::Settling)
        return;
    state = State::Idle;
    proceed(requestSerial);
}

void TcpExchange::proceed(quint64 request)
{
    const QByteArray frame = std::exchange(pendingFrame, QByteArray());
    if (!link) {
        const QString reason = QStringLiteral("The link was removed");
        finish(&reason);
        return;
    }
    if (link->isOpen() && link->peerHasClosed()) {
        // An idle connection the peer closed (its time-out, or a controller that hangs up
        // after each answer): a request written into it would be lost, and one that must not
        // run twice could not be sent again. A fresh connection takes it instead.
        qCInfo(lcExchange) << "peer closed the idle connection" << link->description();
        link->close();
    }
    if (link->isOpen()) {
        sendFrame(frame);
        // sendFrame() may already have failed (and a new request may have started from the
        // failed() slot); linkUp() still describes the link as it was found.
        Q_EMIT linkUp();
        return;
    }
    // Busy before anything is emitted, so a receiver cannot slip a second request in; if it
    // cancels this one (and perhaps starts another), this one stops here.
    state = State::Connecting;
    pendingFrame = frame;
    Q_EMIT linkDown();
    if (request != requestSerial || !link)
        return;
    qCInfo(lcExchange) << "re-opening" << link->description();
    // open() starts a fresh connection, or lets one already under way (the operator's own
    // connect, say) report for this request too instead of cutting it short.
    // opened() or openFailed() may arrive inside open(); both are handled by the slots.
    link->open();
}

void TcpExchange::cancel()
{
    ++requestSerial;
    readTimer->stop();
    settleTimer->stop();
    state = State::Idle;
    pendingFrame.clear();
    sentFrame.clear();
    response.clear();
}

void TcpExchange::sendFrame(const QByteArray &frame)
{
    state = State::Waiting;
    readDeadline.setRemainingTime(readTimeoutMs);
    // Checked a few times per time-out, so it fails at most a quarter of it late.
    const int check = std::clamp(readTimeoutMs / 4, 1, 100);
    if (!readTimer->isActive() || readTimer->interval() != check)
        readTimer->start(check);
    if (!link->write(frame)) {
        const QString reason = QStringLiteral("Cannot send on %1").arg(link->description());
        finish(&reason);
    }
}

void TcpExchange::finish(const QString *failure, bool timeout)
{
    // The check timer runs on while the receiver starts the next request from the signal (a
    // download does, and re-arming the timer for every record would cost more than the record);
    // an exchange left idle stops it, so an idle link costs no wake-ups.
    state = State::Idle;
    pendingFrame.clear();
    timedOut = timeout;
    const QPointer<TcpExchange> self(this);
    if (failure) {
        response.clear();
        qCInfo(lcExchange) << "request failed:" << *failure;
        Q_EMIT failed(*failure);
    } else {
        lastAnswer.start();
        const QByteArray answer = std::exchange(response, QByteArray());
        Q_EMIT completed(answer);
    }
    if (self && state == State::Idle)
        readTimer->stop();
}

void TcpExchange::onOpened()
{
    if (state != State::Connecting)
        return;
    sendFrame(std::exchange(pendingFrame, QByteArray()));
}

void TcpExchange::onOpenFailed(const QString &reason)
{
    if (state == State::Connecting)
        finish(&reason);
}

void TcpExchange::onBytesReceived(const QByteArray &bytes)
{
    if (state != State::Waiting)
        return;
    response += bytes.left(expectedBytes - response.size());
    // MBAP header (7 bytes), then the function; an exception answer is function | 0x80 and
    // one exception code.
    constexpr int ExceptionAnswer = 9;
    if (response.size() >= ExceptionAnswer && response.size() < expectedBytes && sentFrame.size() > 7
        && std::uint8_t(response[7]) == (std::uint8_t(sentFrame[7]) | 0x80)) {
        response.truncate(ExceptionAnswer);
        finish(nullptr);
        return;
    }
    // The header announces the answer's size: an answer shorter than the request's (a spoilt
    // one) is complete once that much has come, and is told at once, not after the read
    // time-out.
    constexpr int LengthEnd = 6;
    if (response.size() >= LengthEnd && response.size() < expectedBytes) {
        const int announced = LengthEnd + (std::uint8_t(response[4]) << 8 | std::uint8_t(response[5]));
        if (response.size() >= announced) {
            response.truncate(announced);
            finish(nullptr);
            return;
        }
    }
    if (response.size() == expectedBytes)
        finish(nullptr);
}

void TcpExchange::onDisconnected()
{
    // Nothing was written yet: the request takes a fresh connection when it goes on.
    if (!busy() || state == State::Settling)
        return;
    // A connection the peer had already closed (idle time-out, a controller that hangs up
    // after each answer) may only show it when the request is written into it. Nothing of an
    // answer has arrived: a read is sent once more on a fresh connection, as one that finds
    // the link down would be; anything else fails, for the controller may have done it.
    if (state == State::Waiting && response.isEmpty() && !resent && resendPolicy == Resend::OnceAfterHangUp) {
        resent = true;
        readTimer->stop();
        state = State::Connecting;
        if (resendHook)
            sentFrame = resendHook(sentFrame);
        pendingFrame = sentFrame;
        const quint64 request = requestSerial;
        Q_EMIT linkDown();
        if (request != requestSerial || !link)
            return;
        qCInfo(lcExchange) << "connection lost before the answer; re-opening" << link->description();
        link->open();
        return;
    }
    const QString reason = QStringLiteral("%1 closed the connection").arg(link->description());
    finish(&reason);
}

void TcpExchange::onTransportDestroyed()
{
    if (!busy())
        return;
    const QString reason = QStringLiteral("The link was removed");
    finish(&reason);
}

void TcpExchange::onReadTimeout()
{
    if (state != State::Waiting) {
        if (state == State::Idle)
            readTimer->stop();
        return;
    }
    if (!readDeadline.hasExpired())
        return;
    const QString reason = QStringLiteral("No response within %1 ms (%2 of %3 bytes)")
                               .arg(readTimeoutMs)
                               .arg(response.size())
                               .arg(expectedBytes);
    finish(&reason, true);
}

} // namespace qeln
