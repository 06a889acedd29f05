#include "transport.h"

#include <QIODevice>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcTransport, "qeln.link.transport", QtInfoMsg)

namespace qeln {

bool Transport::queueWrite(QIODevice *device, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    Q_EMIT writeStarted();
    // The device's buffer takes everything while it is open.
    const qint64 queued = device->write(bytes);
    if (queued < 0) {
        qCWarning(lcTransport) << description() << "write refused" << device->errorString();
        if (pendingWrite_ == 0)
            Q_EMIT writeFinished();
        return false;
    }
    pendingWrite_ += queued;
    return true;
}

void Transport::bytesHandedOver(qint64 bytes)
{
    if (pendingWrite_ <= 0)
        return;
    pendingWrite_ -= bytes;
    if (pendingWrite_ <= 0) {
        pendingWrite_ = 0;
        Q_EMIT writeFinished();
    }
}

void Transport::deliverAvailable(QIODevice *device)
{
    const QByteArray bytes = device->readAll();
    if (!bytes.isEmpty())
        Q_EMIT bytesReceived(bytes);
}

} // namespace qeln
