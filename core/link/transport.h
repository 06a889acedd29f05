#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace qeln {

// A byte link to the controller: a serial port, a TCP connection or an in-memory fake.
// Everything is delivered on the thread that owns the object (the GUI thread); no call blocks.
class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Transport() override = default;

    // Opens the link. The result arrives as opened() or openFailed(); a serial port reports
    // before open() returns, a TCP connection later (connect time-out included).
    virtual void open() = 0;
    // Releases the link; closing a closed link does nothing and emits nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues the bytes and returns without waiting for them to leave; successive writes go
    // out whole and in order. Returns false when the link is not open (nothing is queued).
    virtual bool write(const QByteArray &bytes) = 0;
    // Drops whatever arrived and was not delivered yet.
    virtual void discardInput() = 0;
    // What the operator knows the link by: "/dev/ttyUSB0", "192.168.50.92:502".
    virtual QString description() const = 0;
    // The peer has closed its end although the link still looks open (its end-of-stream is
    // waiting to be noticed). Asked before a request that must not be sent twice goes out.
    virtual bool peerHasClosed() const { return false; }

Q_SIGNALS:
    void opened();
    void openFailed(const QString &reason);
    // The bytes that were waiting when the link noticed them, in arrival order.
    void bytesReceived(const QByteArray &bytes);
    // Around each write, for the TX lamp: started when queued, finished when handed over.
    void writeStarted();
    void writeFinished();
    // The link went down without close() being called (peer hang-up, device removed).
    void disconnected();
    void errorOccurred(const QString &reason);
};

} // namespace qeln
