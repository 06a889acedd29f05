#include "requestframe.h"

#include "app/consolestate.h"
#include "hextext.h"

namespace qeln {

QByteArray serialRequestFrame(const QByteArray &body)
{
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

namespace {

void appendWord(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

} // namespace

namespace {

void frameHeader(TcpRequest &r, const QByteArray &fields, int transactionId)
{
    const int length = int(fields.size()) + 2; // unit identifier, function code, fields
    r.frame.reserve(6 + length);
    appendWord(r.frame, transactionId);
    r.frame.append('\0');
    r.frame.append('\0');
    r.frame.append('\0');
    r.frame.append(char(length & 0xFF));
    r.frame.append(char(0x01));
    r.frame.append(char(r.function));
    r.frame.append(fields);
}

} // namespace

TcpRequest tcpWriteRequest(int address, int value, int transactionId)
{
    TcpRequest r;
    QByteArray fields;
    r.function = 0x06;
    appendWord(fields, address);
    appendWord(fields, value);
    r.responseLength = 12;
    frameHeader(r, fields, transactionId);
    return r;
}

bool tcpRequestIsRead(int function)
{
    switch (function) {
    case 0x04: case 0x41: case 0x43: case 0x44: case 0x46: case 0x47:
        return true;
    default:
        return false;
    }
}

std::optional<TcpRequest> tcpRequestFor(const ConsoleState &s, int transactionId)
{
    TcpRequest r;
    QByteArray fields;
    switch (s.RequestState) {
    case StatePoll:
        r.function = 0x04;
        appendWord(fields, 1);
        appendWord(fields, s.StatusRegisterCount);
        r.responseLength = s.StatusRegisterCount * 2 + 9;
        break;
    case StateIpRead:
        r.function = 0x41;
        r.responseLength = 158;
        break;
    case StateWrite:
        return tcpWriteRequest(s.PendingWriteAddr, s.PendingWriteValue, transactionId);
    case StateIpWrite:
        if (s.IpSettingsPayload.size() > MaxIpSettingsPayload)
            return std::nullopt;
        r.function = 0x42;
        fields = s.IpSettingsPayload;
        r.responseLength = 6;
        break;
    case StateTcpHistory: {
        const bool alarms = s.HistoryMode == 1;
        const bool count = s.HistoryRequestKind == 1;
        r.function = alarms ? (count ? 0x43 : 0x44) : (count ? 0x46 : 0x47);
        fields.append(char(s.HistoryMode));
        if (count) {
            fields.append(char(s.HistoryRecordIndex & 0xFF));
            r.responseLength = 12;
        } else {
            appendWord(fields, s.HistoryRecordIndex);
            r.responseLength = alarms ? s.HistoryRecordLength : 19;
        }
        break;
    }
    case StateHistoryInit:
        r.function = s.HistoryMode == 1 ? 0x45 : 0x48;
        fields.append(char(s.HistoryMode));
        r.responseLength = 9;
        break;
    default:
        return std::nullopt;
    }

    frameHeader(r, fields, transactionId);
    return r;
}

} // namespace qeln
