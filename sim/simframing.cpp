#include "simframing.h"

namespace qeln::sim {

namespace ascii {

namespace {

constexpr char Digits[] = "0123456789ABCDEF";

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void appendHex(QByteArray &out, std::uint8_t byte)
{
    out.append(Digits[byte >> 4]);
    out.append(Digits[byte & 0xF]);
}

} // namespace

std::uint8_t lrc(QByteArrayView bytes)
{
    std::uint8_t sum = 0;
    for (char c : bytes)
        sum = std::uint8_t(sum + std::uint8_t(c));
    return std::uint8_t(-sum);
}

QByteArray hexEncode(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        appendHex(out, std::uint8_t(c));
    return out;
}

std::optional<QByteArray> hexDecode(QByteArrayView text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size() / 2);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]);
        const int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(char(hi << 4 | lo));
    }
    return out;
}

QByteArray buildFrame(const UnitPdu &message, bool spoilLrc, std::uint8_t lrcOffset)
{
    QByteArray bytes;
    bytes.reserve(message.pdu.size() + 1);
    bytes.append(char(message.unit));
    bytes.append(message.pdu);
    std::uint8_t check = lrc(bytes);
    if (spoilLrc)
        check = std::uint8_t(check + (lrcOffset ? lrcOffset : 1));

    QByteArray frame;
    frame.reserve(bytes.size() * 2 + 5);
    frame.append(':');
    frame.append(hexEncode(bytes));
    appendHex(frame, check);
    frame.append("\r\n");
    return frame;
}

std::optional<UnitPdu> parseFrame(QByteArrayView text, FrameError *error)
{
    auto fail = [error](FrameError e) -> std::optional<UnitPdu> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    const std::optional<QByteArray> bytes = hexDecode(text);
    if (!bytes)
        return fail(FrameError::NotHex);
    // Unit, function code and LRC at the least.
    if (bytes->size() < 3)
        return fail(FrameError::TooShort);
    // The LRC makes the sum of all bytes, itself included, zero.
    if (lrc(*bytes) != 0)
        return fail(FrameError::BadLrc);
    if (error)
        *error = FrameError::None;
    UnitPdu message;
    message.unit = std::uint8_t(bytes->at(0));
    message.pdu = bytes->mid(1, bytes->size() - 2);
    return message;
}

void FrameReader::feed(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (c == ':') {
            if (inFrame)
                ++discarded;
            current.clear();
            inFrame = true;
            continue;
        }
        if (!inFrame)
            continue;
        if (c == '\n') {
            if (current.endsWith('\r'))
                current.chop(1);
            complete.append(current);
            current.clear();
            inFrame = false;
            continue;
        }
        // ":" itself and the LF are not kept, so the text may hold MaxFrameChars - 2.
        if (current.size() >= MaxFrameChars - 2) {
            ++discarded;
            current.clear();
            inFrame = false;
            continue;
        }
        current.append(c);
    }
}

std::optional<QByteArray> FrameReader::next()
{
    if (complete.isEmpty())
        return std::nullopt;
    return complete.takeFirst();
}

void FrameReader::reset()
{
    current.clear();
    inFrame = false;
    complete.clear();
}

} // namespace ascii

namespace mbap {

namespace {

void appendWord(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

int wordAt(const QByteArray &bytes, qsizetype at)
{
    return std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]);
}

} // namespace

QByteArray build(std::uint16_t transaction, const UnitPdu &message)
{
    QByteArray out;
    out.reserve(HeaderSize + 1 + message.pdu.size());
    appendWord(out, transaction);
    appendWord(out, 0);
    appendWord(out, int(message.pdu.size()) + 1);
    out.append(char(message.unit));
    out.append(message.pdu);
    return out;
}

QByteArray buildBare(std::uint16_t transaction)
{
    QByteArray out;
    appendWord(out, transaction);
    appendWord(out, 0);
    appendWord(out, 0);
    return out;
}

void AduReader::feed(QByteArrayView bytes)
{
    buffer.append(bytes.data(), bytes.size());
}

std::optional<Adu> AduReader::next()
{
    if (buffer.size() < HeaderSize)
        return std::nullopt;
    const int protocol = wordAt(buffer, 2);
    const int length = wordAt(buffer, 4);
    // At least the unit and a function code must follow.
    if (protocol != 0 || length < 2 || length > MaxLength) {
        ++lost;
        buffer.clear();
        return std::nullopt;
    }
    if (buffer.size() < HeaderSize + length)
        return std::nullopt;

    Adu adu;
    adu.transaction = std::uint16_t(wordAt(buffer, 0));
    adu.message.unit = std::uint8_t(buffer[HeaderSize]);
    adu.message.pdu = buffer.mid(HeaderSize + 1, length - 1);
    buffer.remove(0, HeaderSize + length);
    return adu;
}

} // namespace mbap

} // namespace qeln::sim
