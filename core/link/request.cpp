#include "request.h"

#include "hextext.h"

namespace qeln::requests {

namespace {

void appendWord(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

QByteArray word(int value)
{
    QByteArray out;
    appendWord(out, value);
    return out;
}

bool serial(LinkKind link)
{
    return link == LinkKind::Serial;
}

bool alarms(LogKind log)
{
    return log == LogKind::Alarm;
}

} // namespace

Request status(LinkKind, int registerCount)
{
    // The same request on both links; only the TCP answer's size depends on the count.
    return {0x04, word(1) + word(registerCount), registerCount * 2 + 9};
}

Request ipBlockRead(LinkKind link)
{
    return serial(link) ? Request{0x22, {}, 0} : Request{0x41, {}, 158};
}

Request ipBlockWrite(LinkKind link, const QByteArray &block)
{
    // The TCP answer is a bare header with nothing to read: its arrival is the answer.
    return serial(link) ? Request{0x23, word(0) + block, 0} : Request{0x42, block, 6};
}

Request registerWrite(int address, int value)
{
    return {0x06, word(address & 0xFFFF) + word(value & 0xFFFF), 12};
}

Request historyCount(LinkKind link, LogKind log, int lastRecord)
{
    if (serial(link))
        return {alarms(log) ? 0x30 : 0x40, {}, 0};
    QByteArray payload;
    payload.append(char(log));
    payload.append(char(lastRecord & 0xFF));
    return {alarms(log) ? 0x43 : 0x46, payload, 12};
}

Request historyRecord(LinkKind link, LogKind log, int record, int alarmAnswerBytes)
{
    if (serial(link))
        return {alarms(log) ? 0x31 : 0x41, word(record), 0};
    return {alarms(log) ? 0x44 : 0x47, char(log) + word(record), alarms(log) ? alarmAnswerBytes : 19};
}

Request historyInitialisation(LinkKind link, LogKind log)
{
    // The serial event-log code is the TCP alarm-history code: the two links never mix.
    if (serial(link))
        return {alarms(log) ? 0x35 : 0x45, {}, 0};
    return {alarms(log) ? 0x45 : 0x48, QByteArray(1, char(log)), 9};
}

} // namespace qeln::requests

namespace qeln {

QByteArray asciiFrame(const Request &request)
{
    const QByteArray body = "01" + IntToHexFixed(request.function & 0xFF, 2) + BytesToHex(request.payload);
    const std::uint8_t lrc = ComputeLrc(body);
    QByteArray frame;
    frame.reserve(body.size() + 5);
    frame.append(':');
    frame.append(body);
    frame.append(HexDigits[lrc >> 4]);
    frame.append(HexDigits[lrc & 0xF]);
    frame.append("\r\n");
    return frame;
}

QByteArray mbapFrame(const Request &request, quint16 transaction)
{
    const int length = int(request.payload.size()) + 2; // unit identifier, function code, payload
    QByteArray frame;
    frame.reserve(6 + length);
    frame.append(char(transaction >> 8));
    frame.append(char(transaction & 0xFF));
    frame.append('\0');
    frame.append('\0');
    frame.append('\0');
    frame.append(char(length & 0xFF));
    frame.append(char(0x01));
    frame.append(char(request.function));
    frame.append(request.payload);
    return frame;
}

bool requestMayRunTwice(int function)
{
    switch (function) {
    case 0x04: case 0x41: case 0x43: case 0x44: case 0x46: case 0x47:
        return true;
    default:
        return false;
    }
}

} // namespace qeln
