#pragma once

#include "transport.h"

class QIODevice;

namespace qeln {

// A link over a QIODevice: the serial port or the TCP socket. What is the same for both
// lives here: reading (everything waiting, as one bytesReceived()), writing (writeStarted()
// when queued, writeFinished() once the device has handed every queued byte over), and the
// link's state: up from linkUp() until close() or linkLost(), with disconnected() only for a
// link that was up and went down by itself. A subclass opens and closes its device and says
// when the link is up or lost.
class DeviceTransport : public Transport {
    Q_OBJECT
public:
    // Reports opened() at once for a link that is up; otherwise starts openDevice().
    void open() final;
    void close() final;
    bool isOpen() const final;
    bool write(const QByteArray &bytes) override;
    void discardInput() final;

protected:
    // Adopts `device` as a child; it is read and written only through this class.
    DeviceTransport(QIODevice *device, QObject *parent);
    QIODevice *ioDevice() const { return io; }

    // Opens the device; ends in linkUp() or openFailed(), now or later.
    virtual void openDevice() = 0;
    // Gives up an open under way, if any, and says whether there was one.
    virtual bool abandonOpen() { return false; }
    // Closes the device at once, emitting nothing.
    virtual void closeDevice() = 0;
    // Drops the bytes the device holds unread (by default, those in its buffer).
    virtual void dropWaitingInput();

    // The device is open and usable: the link is up, with nothing queued; emits opened().
    void linkUp();
    // The link went down by itself: emits disconnected() if it was up. The subclass closes
    // its device first where the device does not close itself.
    void linkLost();
    // Changes whenever the link goes up or down, so a loss noticed in one session can be told
    // apart from a later one.
    quint64 session() const { return sessionCount; }

private:
    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void goDown();

    QIODevice *io;
    // Bytes queued on the device and not handed over yet.
    qint64 pendingWrite = 0;
    quint64 sessionCount = 0;
    bool up = false;
};

} // namespace qeln
