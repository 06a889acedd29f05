#pragma once

#include <QByteArray>

#include <cstdint>

namespace qeln {

// The two links to a controller: Modbus ASCII on a serial line, Modbus TCP.
enum class LinkKind { Serial, Tcp };

// The controller's two logs. The values are the log number the TCP requests carry.
enum class LogKind : std::uint8_t { Alarm = 1, Event = 2 };

// One request as it goes to the controller, whatever the link: the function code, the bytes
// that follow it, and on TCP the size of the whole answer (header included), which is how
// the exchange knows the answer is complete. A serial answer ends with its CR LF.
struct Request {
    int function = 0;
    QByteArray payload;
    int answerBytes = 0;
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
bool requestMayRunTwice(int function);

// The longest IP-settings block the one-byte TCP length field can announce (length = block + 2).
inline constexpr int MaxIpSettingsPayload = 253;

} // namespace qeln
