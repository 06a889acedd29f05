#pragma once

// Framing of the controller's two links, written for the controller side alone: Modbus ASCII
// on the serial line and Modbus TCP (MBAP) on the network. Frames go in and out as bytes; the
// readers keep the receive state and are safe against any input (bounded buffers, no
// exceptions, no assumption about how the bytes were split into reads).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>

namespace qeln::sim {

// A request or answer without its link framing: the unit address and the PDU (function code
// and data).
struct UnitPdu {
    std::uint8_t unit = 0;
    QByteArray pdu;
};

namespace ascii {

// The longest frame accepted, ":" to LF. The IP settings write is the longest request the
// console sends (a few hundred bytes as hex text); anything far longer is noise.
constexpr qsizetype MaxFrameChars = 4096;

// Two's complement of the byte sum, modulo 256.
std::uint8_t lrc(QByteArrayView bytes);
// Upper-case hex text, two digits per byte.
QByteArray hexEncode(QByteArrayView bytes);
// Hex text (either case) to bytes; nothing for an odd length or a non-hex character.
std::optional<QByteArray> hexDecode(QByteArrayView text);

// ":" + hex(unit, pdu) + LRC + CR LF. With spoilLrc the LRC is off by lrcOffset (1..255),
// so the frame is well formed but fails its check.
QByteArray buildFrame(const UnitPdu &message, bool spoilLrc = false, std::uint8_t lrcOffset = 1);

enum class FrameError { None, NotHex, TooShort, BadLrc };

// Checks and decodes the text between ":" and the line end: hex pairs of the unit, the PDU
// and the LRC. Nothing (with the reason in *error) unless all of it holds.
std::optional<UnitPdu> parseFrame(QByteArrayView text, FrameError *error = nullptr);

// Cuts frames out of a character stream. A ":" always starts a new frame (a partial one
// before it is discarded, as a line that lost characters would need); the frame ends at LF,
// with or without the CR before it; characters outside a frame are ignored; a frame longer
// than MaxFrameChars is discarded.
class FrameReader {
public:
    void feed(QByteArrayView bytes);
    // The next complete frame's text between ":" and CR LF, oldest first.
    std::optional<QByteArray> next();

    // Frames dropped because they were cut short by a new ":" or grew too long.
    int discardedFrames() const { return discarded; }
    void reset();

private:
    QByteArray current;
    bool inFrame = false;
    QList<QByteArray> complete;
    int discarded = 0;
};

} // namespace ascii

namespace mbap {

constexpr int HeaderSize = 6;    // transaction, protocol, length
// The length field counts the unit byte and the PDU. A standard PDU is at most 253 bytes;
// the console's IP settings write uses the whole one-byte length (255). Anything above this
// bound cannot be a request.
constexpr int MaxLength = 260;

struct Adu {
    std::uint16_t transaction = 0;
    UnitPdu message;
};

// Transaction, protocol 0, length, unit, PDU.
QByteArray build(std::uint16_t transaction, const UnitPdu &message);
// The six header bytes alone with the length field 0: an answer that carries nothing.
QByteArray buildBare(std::uint16_t transaction);

// Cuts ADUs out of a TCP byte stream by their length fields, however the stream was split or
// merged into reads. A header that cannot start a request (protocol not 0, length out of
// range) means the stream has lost its framing: everything buffered is discarded and reading
// starts afresh with the next bytes that arrive.
class AduReader {
public:
    void feed(QByteArrayView bytes);
    std::optional<Adu> next();

    // How often the framing was lost.
    int resyncs() const { return lost; }
    qsizetype buffered() const { return buffer.size(); }

private:
    QByteArray buffer;
    int lost = 0;
};

} // namespace mbap

} // namespace qeln::sim
