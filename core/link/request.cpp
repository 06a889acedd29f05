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
    // ":" unit function count(4) registers(4 each) LRC.
    return {RequestKind::Status, Function::ReadInputRegisters, LogKind::Alarm, word(1) + word(registerCount),
            registerCount * 2 + 9, 11 + registerCount * 4};
}

Request ipBlockRead(LinkKind link)
{
    if (serial(link))
        return {RequestKind::IpBlockRead, Function::SerialIpBlockRead, LogKind::Alarm, {}, 0, 0};
    return {RequestKind::IpBlockRead, Function::TcpIpBlockRead, LogKind::Alarm, {}, 158, 0};
}

Request ipBlockWrite(LinkKind link, const QByteArray &block)
{
    // The TCP answer is a bare header with nothing to read: its arrival is the answer.
    if (serial(link))
        return {RequestKind::IpBlockWrite, Function::SerialIpBlockWrite, LogKind::Alarm, word(0) + block, 0, 0};
    return {RequestKind::IpBlockWrite, Function::TcpIpBlockWrite, LogKind::Alarm, block, 6, 0};
}

Request registerWrite(int address, int value)
{
    // ":" unit function register(4) value(4) LRC
    return {RequestKind::RegisterWrite, Function::WriteSingleRegister, LogKind::Alarm,
            word(address & 0xFFFF) + word(value & 0xFFFF), 12, 15};
}

Request historyCount(LinkKind link, LogKind log, int lastRecord)
{
    if (serial(link)) {
        // ":" unit function count(8) LRC
        return {RequestKind::HistoryCount, alarms(log) ? Function::SerialAlarmCount : Function::SerialEventCount,
                log, {}, 0, 15};
    }
    QByteArray payload;
    payload.append(char(log));
    payload.append(char(lastRecord & 0xFF));
    return {RequestKind::HistoryCount, alarms(log) ? Function::TcpAlarmCount : Function::TcpEventCount, log,
            payload, 12, 0};
}

Request historyRecord(LinkKind link, LogKind log, int record, int alarmAnswerBytes)
{
    if (serial(link)) {
        // ":" unit function, 34 (alarm) or 10 (event) data bytes, LRC
        return {RequestKind::HistoryRecord, alarms(log) ? Function::SerialAlarmRecord : Function::SerialEventRecord,
                log, word(record), 0, 5 + 2 * (alarms(log) ? 34 : 10) + 2};
    }
    return {RequestKind::HistoryRecord, alarms(log) ? Function::TcpAlarmRecord : Function::TcpEventRecord, log,
            char(log) + word(record), alarms(log) ? alarmAnswerBytes : 19, 0};
}

Request historyInitialisation(LinkKind link, LogKind log)
{
    // The serial event-log code is the TCP alarm-history code: the two links never mix.
    if (serial(link)) {
        return {RequestKind::HistoryInitialisation,
                alarms(log) ? Function::SerialAlarmInitialise : Function::SerialEventInitialise, log, {}, 0, 0};
    }
    return {RequestKind::HistoryInitialisation, alarms(log) ? Function::TcpAlarmInitialise : Function::TcpEventInitialise,
            log, QByteArray(1, char(log)), 9, 0};
}

} // namespace qeln::requests

namespace qeln {

QByteArray asciiFrame(const Request &request)
{
    const QByteArray body = "01" + IntToHexFixed(functionCode(request.function), 2) + BytesToHex(request.payload);
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
    frame.append(char(functionCode(request.function)));
    frame.append(request.payload);
    return frame;
}

bool requestMayRunTwice(const Request &request)
{
    switch (request.kind) {
    case RequestKind::Status:
    case RequestKind::IpBlockRead:
    case RequestKind::HistoryCount:
    case RequestKind::HistoryRecord:
        return true;
    case RequestKind::IpBlockWrite:
    case RequestKind::RegisterWrite:
    case RequestKind::HistoryInitialisation:
        return false;
    }
    return false;
}

Function Request::answerFunction(LinkKind link) const
{
    // The serial controller codes come back with 0x90 added; the standard ones and every
    // TCP code come back as sent.
    if (link == LinkKind::Serial && function != Function::ReadInputRegisters
        && function != Function::WriteSingleRegister)
        return Function(functionCode(function) + 0x90);
    return function;
}

} // namespace qeln
