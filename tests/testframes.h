#pragma once

// Controller answers built independently of the engine's framing code, for tests and
// benchmarks.

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace testframes {

inline QByteArray lrcDigits(const QByteArray &body)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i + 1 < body.size(); i += 2)
        sum += body.mid(i, 2).toUInt(nullptr, 16);
    const unsigned lrc = (0x100 - (sum & 0xFF)) & 0xFF;
    return QByteArray::number(lrc, 16).rightJustified(2, '0').toUpper();
}

// ":" + body + LRC + CR LF
inline QByteArray serialFrame(const QByteArray &body)
{
    return ":" + body + lrcDigits(body) + "\r\n";
}

inline QList<int> sampleRegisters(int count = 131)
{
    QList<int> regs;
    for (int n = 1; n <= count; ++n)
        regs.append((n * 977 + 13) & 0xFFFF);
    return regs;
}

inline QByteArray serialStatusFrame(const QList<int> &regs)
{
    QByteArray body = "0104" + QByteArray::number(qsizetype(regs.size()) * 2, 16).rightJustified(4, '0').toUpper();
    for (int v : regs)
        body += QByteArray::number(v, 16).rightJustified(4, '0').toUpper();
    return serialFrame(body);
}

inline QByteArray tcpResponse(int transactionId, int function, const QByteArray &data)
{
    QByteArray out;
    const int length = int(data.size()) + 2;
    out.append(char(transactionId >> 8)).append(char(transactionId & 0xFF));
    out.append('\0').append('\0');
    out.append(char(length >> 8)).append(char(length & 0xFF));
    out.append(char(1)).append(char(function));
    out.append(data);
    return out;
}

inline QByteArray tcpStatusResponse(int transactionId, const QList<int> &regs, int byteCount = 0x06)
{
    QByteArray data;
    data.append(char(byteCount));
    for (int v : regs)
        data.append(char(v >> 8)).append(char(v & 0xFF));
    return tcpResponse(transactionId, 0x04, data);
}

// A controller on a fake link: echoes writes and answers status polls, on either link.
inline QByteArray controllerAnswer(bool tcp, const QByteArray &request)
{
    if (tcp) {
        if (request.size() >= 12 && request[7] == 0x06)
            return request.left(12);
        if (request.size() >= 8 && request[7] == 0x04)
            return tcpStatusResponse((std::uint8_t(request[0]) << 8) | std::uint8_t(request[1]), sampleRegisters());
        return {};
    }
    if (request.startsWith(":0106"))
        return request;
    if (request.startsWith(":0104"))
        return serialStatusFrame(sampleRegisters());
    return {};
}

} // namespace testframes
