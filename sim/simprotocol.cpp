#include "simprotocol.h"

#include "plant.h"

#include <QLoggingCategory>

#include <array>

namespace qeln::sim {

namespace {

Q_LOGGING_CATEGORY(lcHistory, "qeln.sim.history")

// Function codes of the controller's own requests.
namespace serialfn {
constexpr std::uint8_t IpRead = 0x22, IpWrite = 0x23;
constexpr std::uint8_t AlarmCount = 0x30, AlarmRecord = 0x31, AlarmInit = 0x35;
constexpr std::uint8_t EventCount = 0x40, EventRecord = 0x41, EventInit = 0x45;
// On the serial line an answer's code is the request's plus 0x90; the IP write's answer
// follows the same rule.
constexpr std::uint8_t answerTo(std::uint8_t request) { return std::uint8_t(request + 0x90); }
// Every answer code of the serial line's own requests. An exception answer sets bit 7 of the
// request's code, and for some requests that lands on one of these codes (0x40 | 0x80 is
// 0xC0, the alarm count's answer), which a master would take for that answer.
constexpr std::array<std::uint8_t, 8> AnswerCodes = {
    answerTo(IpRead), answerTo(IpWrite), answerTo(AlarmCount), answerTo(AlarmRecord),
    answerTo(AlarmInit), answerTo(EventCount), answerTo(EventRecord), answerTo(EventInit)};
} // namespace serialfn

namespace tcpfn {
constexpr std::uint8_t IpRead = 0x41, IpWrite = 0x42;
constexpr std::uint8_t AlarmCount = 0x43, AlarmRecord = 0x44, AlarmInit = 0x45;
constexpr std::uint8_t EventCount = 0x46, EventRecord = 0x47, EventInit = 0x48;
} // namespace tcpfn

constexpr std::uint8_t ReadInput = 0x04, WriteSingle = 0x06;

// The console sends "0000" before the block in the serial write.
constexpr char SerialIpWritePrefix[2] = {0, 0};

int wordAt(QByteArrayView bytes, qsizetype at)
{
    return std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]);
}

void appendWord(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

QByteArray withCode(std::uint8_t code, QByteArrayView data = {})
{
    QByteArray pdu;
    pdu.reserve(1 + data.size());
    pdu.append(char(code));
    pdu.append(data.data(), data.size());
    return pdu;
}

} // namespace

Protocol::Protocol(Plant &plant)
    : plant(plant)
{
}

bool Protocol::servesUnit(LinkKind link, std::uint8_t unit)
{
    if (link == LinkKind::Serial)
        return unit == UnitAddress;
    return unit == UnitAddress || unit == 0 || unit == 0xFF;
}

Reply Protocol::exception(LinkKind link, std::uint8_t function, ExceptionCode code)
{
    const std::uint8_t answerCode = std::uint8_t(function | 0x80);
    if (link == LinkKind::Serial) {
        for (std::uint8_t taken : serialfn::AnswerCodes) {
            if (answerCode == taken)
                return Reply::silent();
        }
    }
    QByteArray pdu;
    pdu.append(char(answerCode));
    pdu.append(char(code));
    return Reply::answer(pdu);
}

Reply Protocol::answer(LinkKind link, QByteArrayView request)
{
    if (request.isEmpty())
        return Reply::silent();
    const std::uint8_t function = std::uint8_t(request[0]);
    const QByteArrayView data = request.sliced(1);
    switch (function) {
    case ReadInput:
        return readInputRegisters(link, data);
    case WriteSingle:
        return writeSingleRegister(link, request);
    default:
        return link == LinkKind::Serial ? serialRequest(function, data) : tcpRequest(function, data);
    }
}

Reply Protocol::readInputRegisters(LinkKind link, QByteArrayView data)
{
    if (data.size() != 4)
        return exception(link, ReadInput, IllegalDataValue);
    const int start = wordAt(data, 0);
    const int count = wordAt(data, 2);
    const bool statusBlock = start == StatusStart && count == StatusCount;
    // Quantity first, then the addresses, as a standard server checks them.
    if (!statusBlock && (count < 1 || count > MaxReadRegisters))
        return exception(link, ReadInput, IllegalDataValue);
    if (start < StatusStart || start + count - 1 > StatusStart + StatusCount - 1)
        return exception(link, ReadInput, IllegalDataAddress);

    QByteArray pdu;
    pdu.reserve(3 + count * 2);
    pdu.append(char(ReadInput));
    const int byteCount = count * 2;
    if (statusBlock && link == LinkKind::Serial)
        appendWord(pdu, byteCount); // "0106": the full count in two bytes
    else
        pdu.append(char(byteCount & 0xFF)); // 262 leaves its low byte, 0x06, on TCP
    for (int address = start; address < start + count; ++address)
        appendWord(pdu, plant.inputRegister(address));
    return Reply::answer(pdu);
}

Reply Protocol::writeSingleRegister(LinkKind link, QByteArrayView request)
{
    // Both links use the standard layout; the answer echoes the request.
    if (request.size() != 5)
        return exception(link, WriteSingle, IllegalDataValue);
    const int address = wordAt(request, 1);
    const int value = wordAt(request, 3);
    if (!plant.writeRegister(address, std::uint16_t(value)))
        return exception(link, WriteSingle, IllegalDataAddress);
    return Reply::answer(request.toByteArray());
}

QByteArray Protocol::ipBlock() const
{
    // Fixed size on the wire: the console's TCP read takes exactly this many bytes, so a
    // shorter block would leave it waiting and a longer one would spill into the next answer.
    QByteArray block = plant.ipSettingsReadBack();
    block.resize(IpBlockSize, '\0');
    return block;
}

namespace {

int otherLog(int kind)
{
    return kind == Plant::AlarmLog ? Plant::EventLog : Plant::AlarmLog;
}

std::uint8_t countAnswerCode(LinkKind link, int kind)
{
    const bool alarm = kind == Plant::AlarmLog;
    if (link == LinkKind::Serial)
        return serialfn::answerTo(alarm ? serialfn::AlarmCount : serialfn::EventCount);
    return alarm ? tcpfn::AlarmCount : tcpfn::EventCount;
}

std::uint8_t recordAnswerCode(LinkKind link, int kind)
{
    const bool alarm = kind == Plant::AlarmLog;
    if (link == LinkKind::Serial)
        return serialfn::answerTo(alarm ? serialfn::AlarmRecord : serialfn::EventRecord);
    return alarm ? tcpfn::AlarmRecord : tcpfn::EventRecord;
}

int recordSize(int kind)
{
    return kind == Plant::AlarmLog ? 34 : 10;
}

} // namespace

void Protocol::setHistoryFaults(const HistoryFaultSettings &settings)
{
    historyFaults = HistoryFaults(settings);
}

Reply Protocol::logCount(LinkKind link, int kind)
{
    const HistoryFault fault = historyFaults.countAnswered(kind);
    if (fault != HistoryFault::None)
        qCInfo(lcHistory).noquote() << "count answer of log" << kind << "gets the fault" << historyFaultName(fault);
    if (fault == HistoryFault::Drop)
        return Reply::silent();
    // The other log's answer: its code and its count.
    const int answered = fault == HistoryFault::OtherLog ? otherLog(kind) : kind;
    QByteArray data;
    appendWord(data, plant.logCount(Plant::LogKind(answered)));
    // The second word of the count answer carries nothing the console uses.
    appendWord(data, 0);
    if (fault == HistoryFault::Short)
        data.chop(1);
    else if (fault == HistoryFault::Long)
        data.append('\0');
    Reply reply = Reply::answer(withCode(countAnswerCode(link, answered), data));
    reply.spoil = fault == HistoryFault::Corrupt;
    reply.delayMs = historyFaults.settings().countDelayMs;
    return reply;
}

Reply Protocol::logRecord(LinkKind link, int kind, int number, std::uint8_t function)
{
    const HistoryFault fault = historyFaults.recordAnswered(kind, number);
    QByteArray record = plant.logRecord(Plant::LogKind(kind), number);
    if (record.isEmpty()) {
        // A record that is not there: the refusal, as late as any answer to a record request.
        Reply reply = exception(link, function, IllegalDataAddress);
        reply.delayMs = historyFaults.settings().recordDelayMs;
        return reply;
    }
    if (fault != HistoryFault::None)
        qCInfo(lcHistory).noquote() << "answer for record" << number << "of log" << kind << "gets the fault"
                                    << historyFaultName(fault);
    if (fault == HistoryFault::Drop)
        return Reply::silent();
    // Records go out at their log's fixed size, or a byte off it, or at the other log's size
    // under the other log's code (the first bytes of this record, or this record padded).
    const int answered = fault == HistoryFault::OtherLog ? otherLog(kind) : kind;
    int size = recordSize(answered);
    if (fault == HistoryFault::Short)
        --size;
    else if (fault == HistoryFault::Long)
        ++size;
    record.resize(size, '\0');
    QByteArray pdu;
    pdu.append(char(recordAnswerCode(link, answered)));
    // On TCP one byte precedes the record; it carries the record's size, as a byte count
    // would, and the console skips it. The serial answer has no byte count.
    if (link == LinkKind::Tcp)
        pdu.append(char(record.size()));
    pdu.append(record);
    Reply reply = Reply::answer(pdu);
    reply.spoil = fault == HistoryFault::Corrupt;
    reply.delayMs = historyFaults.settings().recordDelayMs;
    return reply;
}

Reply Protocol::serialRequest(std::uint8_t function, QByteArrayView data)
{
    using namespace serialfn;
    constexpr LinkKind link = LinkKind::Serial;
    switch (function) {
    case IpRead:
        if (!data.isEmpty())
            return exception(link, function, IllegalDataValue);
        return Reply::answer(withCode(answerTo(function), ipBlock()));
    case IpWrite: {
        if (!data.startsWith(QByteArrayView(SerialIpWritePrefix, 2)))
            return exception(link, function, IllegalDataValue);
        if (!plant.writeIpSettings(data.sliced(2).toByteArray()))
            return exception(link, function, IllegalDataValue);
        return Reply::answer(withCode(answerTo(function)));
    }
    case AlarmCount:
    case EventCount:
        if (!data.isEmpty())
            return exception(link, function, IllegalDataValue);
        return logCount(link, function == AlarmCount ? Plant::AlarmLog : Plant::EventLog);
    case AlarmRecord:
    case EventRecord:
        if (data.size() != 2)
            return exception(link, function, IllegalDataValue);
        return logRecord(link, function == AlarmRecord ? Plant::AlarmLog : Plant::EventLog,
                         wordAt(data, 0), function);
    case AlarmInit:
    case EventInit:
        if (!data.isEmpty())
            return exception(link, function, IllegalDataValue);
        plant.clearLog(function == AlarmInit ? Plant::AlarmLog : Plant::EventLog);
        return Reply::answer(withCode(answerTo(function)));
    default:
        return exception(link, function, IllegalFunction);
    }
}

Reply Protocol::tcpRequest(std::uint8_t function, QByteArrayView data)
{
    using namespace tcpfn;
    constexpr LinkKind link = LinkKind::Tcp;
    // The history requests carry the log kind they mean as their first byte; a request whose
    // kind disagrees with its function code is refused rather than guessed at.
    auto kindOf = [](std::uint8_t f) {
        return f <= AlarmInit ? Plant::AlarmLog : Plant::EventLog;
    };
    switch (function) {
    case IpRead:
        if (!data.isEmpty())
            return exception(link, function, IllegalDataValue);
        return Reply::answer(withCode(function, ipBlock()));
    case IpWrite:
        if (!plant.writeIpSettings(data.toByteArray()))
            return exception(link, function, IllegalDataValue);
        return Reply::bare();
    case AlarmCount:
    case EventCount:
        // The second byte is whatever record number the console asked for last.
        if (data.size() != 2 || std::uint8_t(data[0]) != kindOf(function))
            return exception(link, function, IllegalDataValue);
        return logCount(link, kindOf(function));
    case AlarmRecord:
    case EventRecord:
        if (data.size() != 3 || std::uint8_t(data[0]) != kindOf(function))
            return exception(link, function, IllegalDataValue);
        return logRecord(link, kindOf(function), wordAt(data, 1), function);
    case AlarmInit:
    case EventInit: {
        const Plant::LogKind kind = kindOf(function);
        if (data.size() != 1 || std::uint8_t(data[0]) != kind)
            return exception(link, function, IllegalDataValue);
        plant.clearLog(kind);
        // The answer names the log that was cleared.
        return Reply::answer(withCode(function, QByteArray(1, char(kind))));
    }
    default:
        return exception(link, function, IllegalFunction);
    }
}

} // namespace qeln::sim
