#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QTimer;

namespace qeln {

class Transport;

// One request at a time over the TCP link: write a frame, then collect exactly the number of
// bytes the answer must have, or give up after the read time-out. A link found closed is
// re-opened first. Works over any Transport.
class TcpExchange : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultReadTimeout = 1000;
    // How long after an answer a request that must not run twice waits before it goes out.
    static constexpr qint64 SettleMs = 30;

    // What happens to a request when the peer hangs up before any byte of its answer came.
    // Only a request that may run twice (a read) is sent once more on a fresh connection;
    // any other is reported as failed, since the controller may have carried it out.
    enum class Resend { Never, OnceAfterHangUp };

    explicit TcpExchange(QObject *parent = nullptr);

    // Not owned; may be nullptr. Changing it abandons a request in flight.
    void setTransport(Transport *transport);
    Transport *transport() const;
    // Takes effect at the next request.
    void setReadTimeout(int ms);
    int readTimeout() const;
    // A request is in flight: connecting, or waiting for bytes.
    bool busy() const;

    // Discards stale input, then writes `frame` (re-opening the link first if it is closed,
    // or if the peer has already closed its end) and collects `expected` bytes; bytes beyond
    // them are dropped. A Modbus exception answer to the request's function (function code
    // with the high bit set and one exception byte, 9 bytes), or any answer whose header
    // announces fewer bytes than `expected`, completes it once those have come. The outcome
    // is completed() or failed(), possibly before start() returns. Returns false and does
    // nothing when busy, without a transport, or when `expected` is not positive.
    bool start(const QByteArray &frame, int expected, Resend resend = Resend::Never);
    // Gives the frame a request is sent again with (a fresh transaction number).
    void setResendHook(std::function<QByteArray(const QByteArray &)> hook);
    // Abandons the request in flight without a signal; its late bytes are dropped.
    void cancel();
    // The last failed() was the read time-out (not a refused connection or a hang-up).
    bool lastFailureTimedOut() const { return timedOut; }

Q_SIGNALS:
    void linkUp();
    void linkDown();
    // Exactly `expected` bytes. busy() is already false, so the receiver may start the next one.
    void completed(const QByteArray &response);
    void failed(const QString &reason);

private Q_SLOTS:
    void onOpened();
    void onOpenFailed(const QString &reason);
    void onBytesReceived(const QByteArray &bytes);
    void onDisconnected();
    void onTransportDestroyed();
    void onReadTimeout();
    void onSettled();

private:
    enum class State { Idle, Settling, Connecting, Waiting };

    void proceed(quint64 request);
    void sendFrame(const QByteArray &frame);
    void finish(const QString *failure, bool timeout = false);

    QPointer<Transport> link;
    // The read time-out is a deadline checked by a timer that keeps running while requests
    // follow one another: re-arming a timer for every request of a download costs more than
    // the request itself.
    QTimer *readTimer;
    QDeadlineTimer readDeadline;
    QTimer *settleTimer;
    QElapsedTimer lastAnswer;
    int readTimeoutMs = DefaultReadTimeout;
    State state = State::Idle;
    QByteArray pendingFrame;
    QByteArray sentFrame; // the request in flight, for one re-send on a fresh connection
    bool resent = false;
    bool timedOut = false;
    Resend resendPolicy = Resend::Never;
    std::function<QByteArray(const QByteArray &)> resendHook;
    QByteArray response;
    int expectedBytes = 0;
    // Tells start() whether the request it began is still the one in flight after a signal.
    quint64 requestSerial = 0;
};

} // namespace qeln
