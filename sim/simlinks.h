#pragma once

// The controller's links: Modbus TCP on a listening port, Modbus ASCII on a pseudo-terminal
// it creates or on a real serial device. Each link cuts requests out of its byte stream,
// has the protocol answer them and sends the answers, through the line faults that the
// robustness tests ask for.

#include "simframing.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>

class QSerialPort;
class QSocketNotifier;
class QTcpServer;
class QTimer;

namespace qeln::sim {

class Protocol;
class TcpSession;

struct FaultSettings {
    double dropRate = 0;     // share of answers that are never sent
    double corruptRate = 0;  // share of answers spoilt: wrong LRC (serial), a garbled byte (TCP)
    int delayMs = 0;         // every answer leaves this much later
    double disconnectEverySeconds = 0; // TCP: each connection is closed this long after it opened
    int paceBaud = 0;        // serial: answers leave at the pace of this line speed (8N1)
    std::uint32_t seed = 1;
};

// The seeded dice behind the faults, shared by the links so a run is reproducible.
class Faults {
public:
    explicit Faults(const FaultSettings &settings);
    const FaultSettings &settings() const { return config; }

    bool dropNow();
    bool corruptNow();
    // 1..255: how far a spoilt LRC is off.
    std::uint8_t lrcOffset();
    // Flips bits in one byte of a TCP answer.
    void garble(QByteArray &bytes);

private:
    bool chance(double rate);

    FaultSettings config;
    std::mt19937 rng;
};

// Hands blocks of bytes on after a fixed delay, in the order they came.
class DelayLine {
public:
    using Sink = std::function<void(const QByteArray &)>;
    DelayLine(int delayMs, Sink sink, QObject *owner);
    ~DelayLine();
    DelayLine(const DelayLine &) = delete;
    DelayLine &operator=(const DelayLine &) = delete;
    void push(const QByteArray &bytes);

private:
    void release();

    struct Pending {
        qint64 due;
        QByteArray bytes;
    };
    int delayMs;
    Sink sink;
    QTimer *timer;
    QElapsedTimer clock;
    QList<Pending> queue;
    qsizetype queuedBytes = 0;
};

// Hands bytes on no faster than a serial line of the given speed (8N1: ten bit times a
// byte) would carry them, so that answer timings over a pseudo-terminal are those of a
// real line.
class Pacer {
public:
    using Sink = std::function<void(const QByteArray &)>;
    Pacer(int baud, Sink sink, QObject *owner);
    ~Pacer();
    Pacer(const Pacer &) = delete;
    Pacer &operator=(const Pacer &) = delete;
    void push(const QByteArray &bytes);
    qsizetype backlog() const { return queue.size(); }

private:
    void pump();

    qint64 byteNs;
    Sink sink;
    QTimer *timer;
    QElapsedTimer clock;
    QByteArray queue;
    qint64 lineFreeAtNs = 0; // when the byte now on the line has left
};

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

private:
    void onNewConnection();

    Protocol &protocol;
    Faults &faults;
    QTcpServer *server;
    QList<TcpSession *> sessions;
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

private:
    void received(QByteArrayView bytes);
    void answerFrame(const QByteArray &text);
    void transmit(const QByteArray &bytes);
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
};

} // namespace qeln::sim
