#include "faketransport.h"

#include <utility>

namespace qeln {

FakeTransport::FakeTransport(QObject *parent)
    : Transport(parent)
{
}

void FakeTransport::open()
{
    if (!openFailure.isEmpty()) {
        up = false;
        Q_EMIT openFailed(openFailure);
        return;
    }
    up = true;
    peerClosed = false;
    Q_EMIT opened();
}

void FakeTransport::close()
{
    up = false;
    discardInput();
}

bool FakeTransport::isOpen() const
{
    return up;
}

bool FakeTransport::write(const QByteArray &bytes)
{
    if (!up)
        return false;
    if (bytes.isEmpty())
        return true;
    writes.append(bytes);
    Q_EMIT writeStarted();
    QMetaObject::invokeMethod(this, &FakeTransport::writeFinished, Qt::QueuedConnection);
    if (peerClosed) {
        // The bytes leave, nobody reads them, and the link learns that it is gone.
        QMetaObject::invokeMethod(this, &FakeTransport::simulateDisconnect, Qt::QueuedConnection);
        return true;
    }
    if (responder) {
        // The answer is queued behind writeFinished, so a receiver sees the same order as
        // with a real device: the request leaves, then the reply comes in.
        const QByteArray answer = responder(bytes);
        if (!answer.isEmpty())
            inject(answer);
    }
    return true;
}

void FakeTransport::discardInput()
{
    // Their queued deliveries come first; they are let go empty-handed.
    staleDeliveries += pendingInput.size();
    pendingInput.clear();
}

QString FakeTransport::description() const
{
    return name;
}

void FakeTransport::setDescription(const QString &description)
{
    name = description;
}

void FakeTransport::setOpenFails(const QString &reason)
{
    openFailure = reason;
}

void FakeTransport::setResponder(Responder newResponder)
{
    responder = std::move(newResponder);
}

QList<QByteArray> FakeTransport::written() const
{
    return writes;
}

QByteArray FakeTransport::writtenBytes() const
{
    QByteArray all;
    for (const QByteArray &chunk : writes)
        all += chunk;
    return all;
}

void FakeTransport::clearWritten()
{
    writes.clear();
}

void FakeTransport::inject(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    pendingInput.append(bytes);
    QMetaObject::invokeMethod(this, &FakeTransport::deliverNext, Qt::QueuedConnection);
}

void FakeTransport::injectNow(const QByteArray &bytes)
{
    if (up && !bytes.isEmpty())
        Q_EMIT bytesReceived(bytes);
}

void FakeTransport::simulateDisconnect()
{
    if (!up)
        return;
    close();
    Q_EMIT disconnected();
}

void FakeTransport::simulatePeerClose()
{
    if (up)
        peerClosed = true;
}

bool FakeTransport::peerHasClosed() const
{
    return up && peerClosed;
}

void FakeTransport::deliverNext()
{
    if (staleDeliveries > 0) {
        --staleDeliveries;
        return;
    }
    if (pendingInput.isEmpty())
        return;
    const QByteArray bytes = pendingInput.takeFirst();
    if (up)
        Q_EMIT bytesReceived(bytes);
}

} // namespace qeln
