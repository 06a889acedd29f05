#pragma once

#include "transport.h"

#include <QList>

#include <functional>

namespace qeln {

// In-memory link for tests: records what is written and plays back what the test injects.
// Injected bytes and responder answers arrive through the event loop, as from a device.
class FakeTransport : public Transport {
    Q_OBJECT
public:
    using Responder = std::function<QByteArray(const QByteArray &written)>;

    explicit FakeTransport(QObject *parent = nullptr);

    void open() override;
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes) override;
    void discardInput() override;
    QString description() const override;

    void setDescription(const QString &description);
    // A non-empty reason makes every open() fail with it; an empty one lets opens succeed.
    void setOpenFails(const QString &reason);
    // Called with each write; a non-empty answer is delivered after the write has finished.
    void setResponder(Responder responder);

    // One entry per successful write(), in order.
    QList<QByteArray> written() const;
    QByteArray writtenBytes() const;
    void clearWritten();

    // Queues one delivery of bytesReceived(bytes); bytes are dropped if the link is closed
    // by the time they are due.
    void inject(const QByteArray &bytes);
    // Delivers at once, inside this call (only while open).
    void injectNow(const QByteArray &bytes);
    // Drops the link as a peer would: closes it and emits disconnected() (only while open).
    void simulateDisconnect();
    // The peer closes its end without the link noticing yet (peerHasClosed() becomes true);
    // the next write then finds it gone: disconnected() instead of a delivery.
    void simulatePeerClose();
    bool peerHasClosed() const override;

private:
    void deliverNext();

    QString name = QStringLiteral("fake");
    QString openFailure;
    Responder responder;
    QList<QByteArray> writes;
    // Injected chunks not delivered yet; each queued delivery takes the first.
    QList<QByteArray> pendingInput;
    qsizetype staleDeliveries = 0;
    bool up = false;
    bool peerClosed = false;
};

} // namespace qeln
