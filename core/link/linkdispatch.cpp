#include "linkengine.h"

#include "hextext.h"
#include "monitor/statusconversion.h"
#include "transport.h"

#include <algorithm>

// Reception and the one dispatcher: serial bytes are framed and parsed here, TCP answers
// arrive parsed from the exchange (linkengine.cpp); both end in dispatch().

namespace qeln {

namespace {

// No answer of the controller comes near this; a frame that never ends (a line that keeps
// sending without CR) is dropped here instead of growing without bound.
constexpr qsizetype MaxSerialFrame = 8192;

const QString AlarmInitSuccess = QStringLiteral(" Alarm Initial Sucess!!");
const QString EventLogInitSuccess = QStringLiteral(" Event log Initial Sucess!!");
const QString EventInitSuccess = QStringLiteral(" Event Initial Sucess!!");

// What an answer's function code is, on either link.
enum class AnswerKind { Status, IpBlock, RegisterWrite, HistoryCount, HistoryRecord, AlarmInit, EventInit, TcpInit, Other };

struct AnswerCode {
    AnswerKind kind;
    LogKind log;
};

AnswerCode classify(int function, LinkKind link)
{
    const bool serial = link == LinkKind::Serial;
    switch (function) {
    case 0x04: return {AnswerKind::Status, LogKind::Alarm};
    case 0x06: return {AnswerKind::RegisterWrite, LogKind::Alarm};
    default: break;
    }
    if (serial) {
        switch (function) {
        case 0xB2: return {AnswerKind::IpBlock, LogKind::Alarm};
        case 0xC0: return {AnswerKind::HistoryCount, LogKind::Alarm};
        case 0xD0: return {AnswerKind::HistoryCount, LogKind::Event};
        case 0xC1: return {AnswerKind::HistoryRecord, LogKind::Alarm};
        case 0xD1: return {AnswerKind::HistoryRecord, LogKind::Event};
        case 0xC5: return {AnswerKind::AlarmInit, LogKind::Alarm};
        case 0xD5: return {AnswerKind::EventInit, LogKind::Event};
        default: return {AnswerKind::Other, LogKind::Alarm};
        }
    }
    switch (function) {
    case 0x41: return {AnswerKind::IpBlock, LogKind::Alarm};
    case 0x43: return {AnswerKind::HistoryCount, LogKind::Alarm};
    case 0x46: return {AnswerKind::HistoryCount, LogKind::Event};
    case 0x44: return {AnswerKind::HistoryRecord, LogKind::Alarm};
    case 0x47: return {AnswerKind::HistoryRecord, LogKind::Event};
    case 0x45: case 0x48: return {AnswerKind::TcpInit, LogKind::Alarm};
    default: return {AnswerKind::Other, LogKind::Alarm};
    }
}

} // namespace

// ---- Serial reception ----------------------------------------------------------------------

void LinkEngine::onSerialBytes(const QByteArray &bytes)
{
    // After a disconnect the port stays open until the next character arrives: that closes it.
    if (s_.SerialPortOpen != 1) {
        if (serial_)
            serial_->close();
        return;
    }
    assembleSerial(bytes);
}

void LinkEngine::assembleSerial(const QByteArray &bytes)
{
    bool complete = false;
    for (const char b : bytes) {
        switch (rxState_) {
        case RxState::Idle:
            if (b == ':') {
                rxFrame_ = QByteArrayLiteral(":");
                rxState_ = RxState::InFrame;
            }
            break;
        case RxState::InFrame:
            if (rxFrame_.size() >= MaxSerialFrame) {
                line("Drop >> frame longer than " + QByteArray::number(MaxSerialFrame));
                rxFrame_.clear();
                rxState_ = RxState::Idle;
                break;
            }
            rxFrame_.append(b);
            if (b == '\r')
                rxState_ = RxState::AfterCr;
            break;
        case RxState::AfterCr:
            if (b == '\n') {
                rxFrame_.append(b);
                complete = true;
                rxState_ = RxState::AfterLf;
            }
            break;
        case RxState::AfterLf: // the rest of a read after the LF is not looked at
            break;
        }
    }
    if (!complete)
        return;
    rxState_ = RxState::Idle;
    const QByteArray frame = std::exchange(rxFrame_, QByteArray());
    line("Receive >> " + frame);
    const ParsedAnswer parsed = parseAsciiFrame(QByteArrayView(frame).first(frame.indexOf('\r')));
    if (const auto *answer = std::get_if<Answer>(&parsed)) {
        if (!dispatchWriteAnswer(*answer))
            dispatch(*answer);
        return;
    }
    const auto &failure = std::get<RequestFailure>(parsed);
    line("Drop >> " + failure.reason.toUtf8());
    fail(failure);
}

// ---- The dispatcher ------------------------------------------------------------------------

bool LinkEngine::dispatchWriteAnswer(const Answer &answer)
{
    if (answer.function == 0x86) {
        refuseWrite(answer.payload.isEmpty() ? -1 : std::uint8_t(answer.payload[0]));
        return true;
    }
    if (answer.function != 0x06)
        return false;
    // register (2) value (2)
    const QByteArray &p = answer.payload;
    const int address = p.size() == 4 ? (std::uint8_t(p[0]) << 8) | std::uint8_t(p[1]) : -1;
    const int value = p.size() == 4 ? (std::uint8_t(p[2]) << 8) | std::uint8_t(p[3]) : -1;
    if (outstandingWrite_.pending
        && (address != outstandingWrite_.write.address || value != outstandingWrite_.write.value)) {
        // An answer that names another register or value is not the acknowledgement of this
        // write: taking it as one would report a setting as made that was not made.
        line("Drop >> acknowledgement " + IntToHexFixed(std::max(address, 0), 4) + " "
             + IntToHexFixed(std::max(value, 0), 4) + " does not echo the write of "
             + IntToHexFixed(outstandingWrite_.write.address, 4) + " "
             + IntToHexFixed(outstandingWrite_.write.value, 4));
        if (link() == LinkKind::Tcp) {
            RequestFailure f;
            f.fault = AnswerFault::WrongTransaction;
            f.function = 0x06;
            f.reason = QStringLiteral("the answer does not match the request");
            failTcpInFlight(f);
        }
        return true;
    }
    ackWrite(address, value);
    return true;
}

void LinkEngine::dispatch(const Answer &answer)
{
    const AnswerCode code = classify(answer.function, link());
    switch (code.kind) {
    case AnswerKind::Status:
        dispatchStatus(answer);
        break;
    case AnswerKind::IpBlock:
        Q_EMIT ipBlockReceived(answer.payload);
        break;
    case AnswerKind::HistoryCount:
        Q_EMIT historyCountReceived(code.log, answer.payload);
        break;
    case AnswerKind::HistoryRecord:
        Q_EMIT historyRecordReceived(code.log, answer.payload);
        break;
    case AnswerKind::AlarmInit:
        show(MessageKind::Information, AlarmInitSuccess);
        break;
    case AnswerKind::EventInit:
        show(MessageKind::Information, EventLogInitSuccess);
        break;
    case AnswerKind::TcpInit: {
        // The TCP acknowledgement names the log it erased.
        const int log = answer.payload.isEmpty() ? -1 : std::uint8_t(answer.payload[0]);
        if (log == 1)
            show(MessageKind::Information, AlarmInitSuccess);
        else if (log == 2)
            show(MessageKind::Information, EventInitSuccess);
        break;
    }
    case AnswerKind::RegisterWrite:
    case AnswerKind::Other:
        break;
    }
}

void LinkEngine::dispatchStatus(const Answer &answer)
{
    // Only an answer to the poll, of exactly the size asked for, is decoded: a read that
    // carries more (or fewer) bytes would shift every register after the first stray byte.
    if (mode_ != PollMode::Polling)
        return;
    const int count = std::clamp(s_.StatusRegisterCount, 0, StatusRegisterSlots);
    QByteArrayView data;
    if (link() == LinkKind::Serial) {
        // byte count (2 bytes), then the registers
        if (answer.payload.size() * 2 + 7 != s_.StatusFrameLength)
            return;
        data = QByteArrayView(answer.payload).sliced(2);
    } else {
        // byte count (its low byte), then the registers
        const QByteArray byteCount = answer.payload.isEmpty() ? QByteArray() : BytesToHex(answer.payload.first(1));
        const qsizetype bytes = answer.payload.size() - 1;
        if (byteCount != s_.StatusByteCountHex || bytes != qsizetype(count) * 2) {
            line("Drop >> TCP status answer with byte count " + byteCount + " and "
                 + QByteArray::number(std::max<qsizetype>(bytes, 0)) + " data bytes, expected "
                 + s_.StatusByteCountHex + " and " + QByteArray::number(count * 2));
            return;
        }
        data = QByteArrayView(answer.payload).sliced(1);
    }
    if (convertTcpStatus(data, count, s_.StatusRegisters.data()) == count)
        Q_EMIT statusReceived();
}

} // namespace qeln
