#pragma once

#include <QByteArray>

#include <optional>

namespace qeln {

struct ConsoleState;

// ":" + body + two LRC digits + CR LF. Throws ConversionError when the body is not hexadecimal.
QByteArray serialRequestFrame(const QByteArray &body);

// A Modbus TCP request laid out from the console state, with the number of response bytes
// that answer it.
struct TcpRequest {
    QByteArray frame;
    int function = 0;
    int responseLength = 0;
};

// Lays out the TCP request for the state's RequestState (and its companions) with the given
// transaction number. Empty for a RequestState without a TCP layout, and for an IP-settings
// payload too long for the one-byte length field.
std::optional<TcpRequest> tcpRequestFor(const ConsoleState &state, int transactionId);

// A single-register write (function 06), whatever the RequestState.
TcpRequest tcpWriteRequest(int address, int value, int transactionId);

// A request whose answer is only read, so sending it twice is harmless: status and IP
// settings reads, history counts and records.
bool tcpRequestIsRead(int function);

// The longest IP-settings payload the length byte can announce (length = payload + 2).
inline constexpr int MaxIpSettingsPayload = 253;

} // namespace qeln
