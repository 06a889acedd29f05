#include "devicetransport.h"

#include <QIODevice>
#include <QLoggingCategory>

namespace qeln {

namespace {
Q_LOGGING_CATEGORY(lcTransport, "qeln.link.transport", QtInfoMsg)
}

DeviceTransport::DeviceTransport(QIODevice *device, QObject *parent)
    : Transport(parent)
    , io(device)
{
    io->setParent(this);
    connect(io, &QIODevice::readyRead, this, &DeviceTransport::onReadyRead);
    connect(io, &QIODevice::bytesWritten, this, &DeviceTransport::onBytesWritten);
}

void DeviceTransport::open()
{
    if (up) {
        Q_EMIT opened();
        return;
    }
    openDevice();
}

void DeviceTransport::close()
{
    const bool wasOpening = abandonOpen();
    if (!up && !wasOpening && !io->isOpen())
        return;
    goDown();
    closeDevice();
}

bool DeviceTransport::isOpen() const
{
    return up;
}

bool DeviceTransport::write(const QByteArray &bytes)
{
    if (!up)
        return false;
    if (bytes.isEmpty())
        return true;
    Q_EMIT writeStarted();
    // The device's buffer takes everything while it is open.
    const qint64 queued = io->write(bytes);
    if (queued < 0) {
        qCWarning(lcTransport) << description() << "write refused" << io->errorString();
        if (pendingWrite == 0)
            Q_EMIT writeFinished();
        return false;
    }
    pendingWrite += queued;
    return true;
}

void DeviceTransport::discardInput()
{
    if (up)
        dropWaitingInput();
}

void DeviceTransport::dropWaitingInput()
{
    io->skip(io->bytesAvailable());
}

void DeviceTransport::linkUp()
{
    pendingWrite = 0;
    ++sessionCount;
    up = true;
    Q_EMIT opened();
}

void DeviceTransport::linkLost()
{
    if (!up)
        return;
    goDown();
    Q_EMIT disconnected();
}

void DeviceTransport::goDown()
{
    // What was queued and not handed over is not waited for any more.
    pendingWrite = 0;
    ++sessionCount;
    up = false;
}

void DeviceTransport::onReadyRead()
{
    const QByteArray bytes = io->readAll();
    if (!bytes.isEmpty())
        Q_EMIT bytesReceived(bytes);
}

void DeviceTransport::onBytesWritten(qint64 bytes)
{
    if (pendingWrite <= 0)
        return;
    pendingWrite -= bytes;
    if (pendingWrite <= 0) {
        pendingWrite = 0;
        Q_EMIT writeFinished();
    }
}

} // namespace qeln
