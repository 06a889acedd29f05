#pragma once

// The controller's links: Modbus TCP on a listening port, Modbus ASCII on a pseudo-terminal
// it creates or on a real serial device. Each link cuts requests out of its byte stream,
// has the protocol answer them and sends the answers, through the line faults that the
// robustness tests ask for.

#include "linefaults.h"
#include "simframing.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QSerialPort;
class QSocketNotifier;
class QTcpServer;

namespace qeln::sim {

class Protocol;
class TcpSession;

// Told of every request a link receives (framed and parsed, whatever its unit), before it is
// answered: the function code.
using RequestObserver = std::function<void(std::uint8_t function)>;

class TcpLink : public QObject {
    Q_OBJECT
public:
    // Connections served at the same time; further ones are closed at once.
    static constexpr int MaxClients = 32;

    TcpLink(Protocol &protocol, Faults &faults, QObject *parent = nullptr);
    ~TcpLink() override;

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // "tcp ADDRESS:PORT", with the port actually bound.
    QString description() const;
    quint16 port() const;
    int clientCount() const { return int(sessions.size()); }
    // Connections served since the link started listening (refused ones not counted).
    int connectionsServed() const { return served; }

    void setRequestObserver(RequestObserver observer) { requestObserver = std::move(observer); }
    // A hung controller: connections are accepted and requests read, but never answered.
    void setHung(bool on) { hung = on; }

private:
    friend class TcpSession;
    void onNewConnection();

    Protocol &protocol;
    Faults &faults;
    QTcpServer *server;
    QList<TcpSession *> sessions;
    RequestObserver requestObserver;
    bool hung = false;
    int served = 0;
};

class SerialLink : public QObject {
    Q_OBJECT
public:
    SerialLink(Protocol &protocol, Faults &faults, QObject *parent = nullptr);
    ~SerialLink() override;

    // Creates a pseudo-terminal; clients open devicePath().
    bool openPty(QString *error);
    // Opens a real port at 115200 8N1.
    bool openDevice(const QString &device, QString *error);
    QString devicePath() const { return path; }
    // "serial DEVICE"
    QString description() const;
    void setRequestObserver(RequestObserver observer) { requestObserver = std::move(observer); }

private:
    void received(QByteArrayView bytes);
    void answerFrame(const QByteArray &text);
    void transmit(const QByteArray &bytes, int extraDelayMs);
    void writeOut(const QByteArray &bytes);
    void onMasterReadable();
    void onMasterWritable();
    void onPortReadyRead();
    void onPortError();

    Protocol &protocol;
    Faults &faults;
    QString path;

    // Pseudo-terminal: the master is ours to read and write; the slave end stays open here
    // too, so the master lives on while clients open and close the device.
    int masterFd = -1;
    int slaveFd = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray unwritten;

    QSerialPort *port = nullptr;

    ascii::FrameReader reader;
    std::unique_ptr<DelayLine> delay;
    std::unique_ptr<Pacer> pacer;
    RequestObserver requestObserver;
};

} // namespace qeln::sim
