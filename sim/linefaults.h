#pragma once

// The line faults of the simulated controller's links, seeded so that a run can be repeated:
// answers lost, spoilt or late, and the pace of a slow serial line.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <random>

class QObject;
class QTimer;

namespace qeln::sim {

// Answers waiting for a peer that does not read are bounded: past this the line is taken to
// be blocked and further answers are lost, as on a real line with a full buffer.
constexpr qsizetype MaxUnsentBytes = 256 * 1024;

// What a spoilt TCP answer gets wrong. Each is something a master can tell from the answer
// itself (TCP carries its own checksum, so a flipped data bit is not a fault of this link).
enum class TcpSpoil : unsigned {
    Transaction = 1u << 0, // the transaction id is another
    Length = 1u << 1,      // the length field disagrees with what follows
    Function = 1u << 2,    // the function code is another (bit 7 as it was)
    Cut = 1u << 3,         // the answer stops short of its length, and nothing more comes
    Exception = 1u << 4,   // an exception answer, code 04 (server device failure)
};
constexpr unsigned AllTcpSpoils = 0x1F;

// "tid,length,function,cut,exception" or any part of it; 0 when a name is unknown.
unsigned parseTcpSpoils(QStringView list);
const char *tcpSpoilName(TcpSpoil spoil);

// What a spoilt serial answer gets wrong; each arrives whole, framed by ':' and CR LF.
enum class SerialSpoil : unsigned {
    Lrc = 1u << 0,    // the LRC is off
    NotHex = 1u << 1, // a data digit is not hexadecimal (the LRC as it was)
    Short = 1u << 2,  // one data byte short, the LRC right for what is left
};
constexpr unsigned AllSerialSpoils = 0x7;

// "lrc,hex,short" or any part of it; 0 when a name is unknown.
unsigned parseSerialSpoils(QStringView list);

struct FaultSettings {
    double dropRate = 0;     // share of answers that are never sent
    double corruptRate = 0;  // share of answers spoilt: wrong LRC (serial), see TcpSpoil (TCP)
    unsigned tcpSpoils = AllTcpSpoils; // what a spoilt TCP answer may get wrong
    unsigned serialSpoils = unsigned(SerialSpoil::Lrc); // what a spoilt serial answer may get wrong
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
    // Spoils a serial answer (":" pairs LRC CR LF, its LRC right) in one of the ways the
    // settings allow, chosen by the dice (none are rolled for the way when only one is
    // allowed, so a run with the LRC alone spoils as it always did); says which.
    SerialSpoil spoilSerial(QByteArray &frame);
    // Spoils a TCP answer (header and all) to the request with this function code in one of
    // the ways the settings allow, chosen by the dice; says which. The bare header of the IP
    // write's answer has no function code: when that is the only way allowed, its
    // transaction id is changed instead.
    TcpSpoil spoilTcp(QByteArray &adu, std::uint8_t requestFunction);

private:
    bool chance(double rate);

    FaultSettings config;
    std::mt19937 rng;
};

// Hands blocks of bytes on, each after its own delay: in the order they fall due, and those
// due at the same time in the order they came. A block without delay passes straight through
// unless an earlier one is due and still waiting.
class DelayLine {
public:
    using Sink = std::function<void(const QByteArray &)>;
    DelayLine(Sink sink, QObject *owner);
    ~DelayLine();
    DelayLine(const DelayLine &) = delete;
    DelayLine &operator=(const DelayLine &) = delete;
    void push(const QByteArray &bytes, int delayMs);

private:
    void release();

    struct Pending {
        qint64 due;
        QByteArray bytes;
    };
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

} // namespace qeln::sim
