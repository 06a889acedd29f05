#pragma once

#include <QByteArray>

#include <cstdint>

namespace qeln {

// The two links to a controller: Modbus ASCII on a serial line, Modbus TCP.
enum class LinkKind { Serial, Tcp };

// The controller's two logs. The values are the log number the TCP requests carry.
enum class LogKind : std::uint8_t { Alarm = 1, Event = 2 };

// Every function code the console sends or takes. The history and IP-settings codes differ
// between the links (serial 0x41 is an event record, TCP 0x41 the IP-settings read); the
// serial controller codes are answered with the code + 0x90.
enum class Function : std::uint8_t {
    ReadInputRegisters = 0x04,   // the status block, both links
    WriteSingleRegister = 0x06,  // both links

    SerialIpBlockRead = 0x22,
    SerialIpBlockWrite = 0x23,
    SerialAlarmCount = 0x30,
    SerialAlarmRecord = 0x31,
    SerialAlarmInitialise = 0x35,
    SerialEventCount = 0x40,
    SerialEventRecord = 0x41,
    SerialEventInitialise = 0x45,
    SerialIpBlockAnswer = 0xB2,
    SerialAlarmCountAnswer = 0xC0,
    SerialAlarmRecordAnswer = 0xC1,
    SerialAlarmInitialiseAnswer = 0xC5,
    SerialEventCountAnswer = 0xD0,
    SerialEventRecordAnswer = 0xD1,
    SerialEventInitialiseAnswer = 0xD5,

    TcpIpBlockRead = 0x41,
    TcpIpBlockWrite = 0x42,
    TcpAlarmCount = 0x43,
    TcpAlarmRecord = 0x44,
    TcpAlarmInitialise = 0x45,
    TcpEventCount = 0x46,
    TcpEventRecord = 0x47,
    TcpEventInitialise = 0x48,

    // A refusal: the request's code with this bit set, then the exception code.
    ExceptionBit = 0x80,
};

inline constexpr std::uint8_t functionCode(Function f) { return std::uint8_t(f); }
// The exception answer to a request of this function.
inline constexpr Function exceptionOf(Function f) { return Function(functionCode(f) | 0x80); }
inline constexpr bool isException(Function f) { return (functionCode(f) & 0x80) != 0; }
// The request function an exception answer refuses.
inline constexpr Function refusedFunction(Function f) { return Function(functionCode(f) & 0x7F); }

// What a request asks for, whatever its link and code.
enum class RequestKind : std::uint8_t {
    Status,
    IpBlockRead,
    IpBlockWrite,
    RegisterWrite,
    HistoryCount,
    HistoryRecord,
    HistoryInitialisation,
};

// One request as it goes to the controller, whatever the link: what it asks for, the function
// code, the bytes that follow it, and on TCP the size of the whole answer (header included),
// which is how the exchange knows the answer is complete. A serial answer ends with its CR LF.
struct Request {
    RequestKind kind = RequestKind::Status;
    Function function = Function::ReadInputRegisters;
    LogKind log = LogKind::Alarm; // history requests
    QByteArray payload;
    int answerBytes = 0;
    // Serial: the answer's size from ':' up to the LRC when it is fixed, else 0. A spoilt
    // frame of this size is taken as this request's answer gone wrong.
    int serialAnswerLength = 0;
    // The function code the answer carries.
    Function answerFunction(LinkKind link) const;
};

// The requests of the console. The function codes and layouts differ between the links
// (the serial history codes are not the TCP ones), so each takes the link it is for.
namespace requests {
// Read input registers 1..registerCount: the status block.
Request status(LinkKind link, int registerCount);
Request ipBlockRead(LinkKind link);
// The settings block as built for a write; on serial two zero bytes go in front of it.
Request ipBlockWrite(LinkKind link, const QByteArray &block);
Request registerWrite(int address, int value);
// A TCP count request carries the low byte of the last record number asked for.
Request historyCount(LinkKind link, LogKind log, int lastRecord);
// `alarmAnswerBytes`: the size of a TCP alarm record answer.
Request historyRecord(LinkKind link, LogKind log, int record, int alarmAnswerBytes);
Request historyInitialisation(LinkKind link, LogKind log);
} // namespace requests

// Modbus ASCII: ":" + unit 01 + function + payload in upper-case hexadecimal + LRC + CR LF.
QByteArray asciiFrame(const Request &request);
// Modbus TCP (MBAP): transaction, protocol 0, length, unit 01, function, payload.
QByteArray mbapFrame(const Request &request, quint16 transaction);

// A request whose answer is only read, so sending it twice is harmless: status and IP
// settings reads, history counts and records.
bool requestMayRunTwice(const Request &request);

// The longest IP-settings block the one-byte TCP length field can announce (length = block + 2).
inline constexpr int MaxIpSettingsPayload = 253;

} // namespace qeln
