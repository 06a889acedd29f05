#include "linkengine.h"

#include "hextext.h"
#include "monitor/statusconversion.h"
#include "requestframe.h"
#include "tcpexchange.h"
#include "transport.h"

#include <QMetaMethod>

#include <algorithm>
#include <utility>

namespace qeln {

namespace {

// No response of the controller comes near this; a frame that never ends (a line that keeps
// sending without CR) is dropped here instead of growing without bound.
constexpr qsizetype MaxSerialFrame = 8192;

const QString AlarmInitSuccess = QStringLiteral(" Alarm Initial Sucess!!");
const QString EventLogInitSuccess = QStringLiteral(" Event log Initial Sucess!!");
const QString EventInitSuccess = QStringLiteral(" Event Initial Sucess!!");
const QString NoHistory = QStringLiteral("No History data");
const QString NoEventLog = QStringLiteral("No Event log data");

} // namespace

LinkEngine::LinkEngine(ConsoleState &state, QObject *parent)
    : QObject(parent), s_(state), exchange_(new TcpExchange(this))
{
    timer1_.setInterval(1000);
    // The poll rhythm is the controller's timing: 600 ms on serial, not 570..630.
    timer1_.setTimerType(Qt::PreciseTimer);
    timer6_.setInterval(100);
    serialAckTimer_.setSingleShot(true);
    serialAckTimer_.setInterval(SerialAckTimeoutMs);
    connect(&serialAckTimer_, &QTimer::timeout, this, &LinkEngine::onSerialAckTimeout);
    // A read sent again after a hang-up is a new request: it takes a new transaction number,
    // and the assembler waits for that one.
    exchange_->setResendHook([this](const QByteArray &frame) {
        QByteArray again = frame;
        advanceTransaction();
        if (again.size() >= 2) {
            again[0] = char((s_.TransactionId >> 8) & 0xFF);
            again[1] = char(s_.TransactionId & 0xFF);
        }
        s_.RxState = 0;
        s_.RxFrame.clear();
        s_.FrameComplete = 0;
        return again;
    });
    connect(&timer1_, &QTimer::timeout, this, &LinkEngine::Timer1Timer);
    connect(&timer6_, &QTimer::timeout, this, &LinkEngine::Timer6Timer);
    connect(exchange_, &TcpExchange::completed, this, &LinkEngine::onTcpCompleted);
    connect(exchange_, &TcpExchange::failed, this, &LinkEngine::onTcpFailed);
    connect(exchange_, &TcpExchange::linkUp, this, &LinkEngine::tcpLinkUp);
    connect(exchange_, &TcpExchange::linkDown, this, &LinkEngine::tcpLinkDown);
}

LinkEngine::~LinkEngine() = default;

void LinkEngine::setSerialTransport(Transport *transport)
{
    if (serial_)
        disconnect(serial_, nullptr, this, nullptr);
    serial_ = transport;
    if (serial_)
        connect(serial_, &Transport::bytesReceived, this, &LinkEngine::onSerialBytes);
}

void LinkEngine::setTcpTransport(Transport *transport)
{
    abandonTcpRequests();
    exchange_->setTransport(transport);
}

Transport *LinkEngine::serialTransport() const
{
    return serial_;
}

Transport *LinkEngine::tcpTransport() const
{
    return exchange_->transport();
}

bool LinkEngine::tcpBusy() const
{
    return tcpInFlight_ || !tcpQueue_.isEmpty();
}

void LinkEngine::abandonTcpRequests()
{
    const bool writing = s_.LinkIsTcp != 0 && writeSequence_.running;
    outstandingWrite_.pending = false;
    tcpQueue_.clear();
    tcpInFlight_ = false;
    exchange_->cancel();
    if (writing)
        endWriteSequence(false, QStringLiteral("The link was closed before every setting was acknowledged; "
                                               "check the controller's settings."));
}

void LinkEngine::line(const QByteArray &text)
{
    Q_EMIT consoleLine(text);
}

void LinkEngine::show(MessageKind kind, const QString &text)
{
    Q_EMIT messageRequested(kind, text);
}

void LinkEngine::advanceTransaction()
{
    s_.TransactionId = s_.TransactionId == 0xFFFF ? 0 : s_.TransactionId + 1;
}

// ---- Request framing -------------------------------------------------------------------

bool LinkEngine::SendFrame(const QByteArray &body)
{
    QByteArray frame;
    try {
        frame = serialRequestFrame(body);
    } catch (const ConversionError &) {
        line("Drop >> request body not hexadecimal: " + body);
        return false;
    }

    if (s_.LinkIsTcp == 0) {
        advanceTransaction();
        if (serial_ && serial_->write(frame))
            Q_EMIT requestSent(frame, false);
        line("Send data >>[" + QByteArray::number(frame.size()) + "]" + frame);
        return true;
    }

    const auto request = tcpRequestFor(s_, 0);
    if (!request) {
        line("Drop >> no TCP request for state " + IntToHexFixed(s_.RequestState, 2));
        return false;
    }
    enqueueTcp({request->frame, request->function, request->responseLength});
    return true;
}

void LinkEngine::enqueueTcp(const PendingTcp &request)
{
    tcpQueue_.enqueue(request);
    startNextTcp();
}

void LinkEngine::startNextTcp()
{
    while (!tcpInFlight_ && !tcpQueue_.isEmpty()) {
        PendingTcp next = tcpQueue_.dequeue();
        // The transaction number is taken when the request really goes out, so numbers on
        // the wire stay consecutive and the response is matched against its own request.
        advanceTransaction();
        next.frame[0] = char((s_.TransactionId >> 8) & 0xFF);
        next.frame[1] = char(s_.TransactionId & 0xFF);
        s_.FrameFunction = next.function;
        // Whatever a previous, unanswered request left in the assembler is stale.
        s_.RxState = 0;
        s_.RxFrame.clear();
        s_.FrameComplete = 0;
        tcpInFlight_ = true;
        tcpInFlightFunction_ = next.function;
        const quint64 serial = ++tcpSerial_;
        const auto resend = tcpRequestIsRead(next.function) ? TcpExchange::Resend::OnceAfterHangUp
                                                            : TcpExchange::Resend::Never;
        if (exchange_->start(next.frame, next.responseLength, resend)) {
            // A request that already failed inside start() was not sent.
            if (tcpInFlight_ && serial == tcpSerial_)
                Q_EMIT requestSent(next.frame, true);
        } else {
            tcpInFlight_ = false;
            tcpRequestFailedInFlight(QStringLiteral("no TCP link"));
        }
    }
}

void LinkEngine::onTcpCompleted(const QByteArray &response)
{
    tcpInFlight_ = false;
    // The IP-settings write is answered with a bare header that carries nothing to read:
    // its arrival is the whole answer.
    if (tcpInFlightFunction_ == 0x42) {
        tcpInFlightFunction_ = 0;
        startNextTcp();
        return;
    }
    // The dispatch may send the next request; a nested answer reports into its own flag.
    bool taken = false;
    bool *outer = std::exchange(tcpAnswerTaken_, &taken);
    AssembleTcpFrame(response);
    tcpAnswerTaken_ = outer;
    // An answer of the right size that is not the answer to this request (another
    // transaction, a garbled header, another function) fails the request at once instead of
    // leaving the caller to wait for an answer that will not come.
    if (!taken)
        tcpRequestFailedInFlight(QStringLiteral("the answer does not match the request"));
    startNextTcp();
}

void LinkEngine::onTcpFailed(const QString &reason)
{
    tcpInFlight_ = false;
    tcpRequestFailedInFlight(reason);
    startNextTcp();
}

void LinkEngine::tcpRequestFailedInFlight(const QString &reason)
{
    const int function = std::exchange(tcpInFlightFunction_, 0);
    Q_EMIT tcpRequestFailed(reason);
    // A status poll that fails stays silent (the next one follows); a write that fails ends
    // its sequence, and the operator learns why and how far it got.
    if (function == 0x06 && writeSequence_.running && outstandingWrite_.pending) {
        const int done = writeSequence_.total - s_.WriteCount - 1;
        endWriteSequence(false, QStringLiteral("The write of register %1 (value %2) failed: %3. "
                                               "%4 of %5 settings were written; the rest were not sent.")
                                    .arg(outstandingWrite_.address)
                                    .arg(outstandingWrite_.value)
                                    .arg(reason)
                                    .arg(std::max(done, 0))
                                    .arg(writeSequence_.total));
    }
}

void LinkEngine::SendCommand(const QByteArray &code)
{
    SendFrame("01" + code);
}

void LinkEngine::SendReadRequest(const QByteArray &start, const QByteArray &count)
{
    int first = 0;
    int number = 0;
    try {
        first = HexToInt(start);
        number = HexToInt(count);
    } catch (const ConversionError &) {
        line("Drop >> read request fields not hexadecimal: " + start + " " + count);
        return;
    }
    SendFrame("0104" + IntToHexFixed(first, 4) + IntToHexFixed(number, 4));
}

void LinkEngine::SendWriteRequest(int address, int value)
{
    outstandingWrite_ = {address & 0xFFFF, value & 0xFFFF, true};
    if (s_.LinkIsTcp == 0) {
        SendFrame("0106" + IntToHexFixed(address, 4) + IntToHexFixed(value, 4));
        if (writeSequence_.running)
            serialAckTimer_.start();
        return;
    }
    // Laid out as a write whatever RequestState says: writes still queued when a dialog has
    // closed (RequestState back at 0) must not leave as status reads.
    const TcpRequest request = tcpWriteRequest(address & 0xFFFF, value & 0xFFFF, 0);
    enqueueTcp({request.frame, request.function, request.responseLength});
}

void LinkEngine::SendHistoryRequest(const QByteArray &unit, const QByteArray &code, int record)
{
    QByteArray body;
    if (s_.LinkIsTcp == 0) {
        body = unit + code;
        if (code == "31" || code == "41")
            body += IntToHexFixed(record, 4);
    } else if (code == "44" || code == "47") {
        s_.HistoryRequestKind = 2;
        s_.HistoryRecordIndex = record;
    } else {
        s_.HistoryRequestKind = 1;
    }
    s_.FrameReady = 0;
    s_.RxState = 0;
    SendFrame(body);
}

// ---- Serial reception ------------------------------------------------------------------

void LinkEngine::onSerialBytes(const QByteArray &bytes)
{
    ComPort11RxChar(bytes);
}

void LinkEngine::ComPort11RxChar(const QByteArray &waiting)
{
    if (s_.SerialPortOpen == 1) {
        ComPort11AfterRead(waiting);
    } else if (serial_) {
        serial_->close();
    }
}

void LinkEngine::ComPort11AfterRead(const QByteArray &bytes)
{
    if (s_.FrameReady == 0) {
        for (const char b : bytes) {
            switch (s_.RxState) {
            case 0:
                if (b == ':') {
                    s_.RxFrame = QByteArrayLiteral(":");
                    s_.RxState = 1;
                }
                break;
            case 1:
                if (s_.RxFrame.size() >= MaxSerialFrame) {
                    line("Drop >> frame longer than " + QByteArray::number(MaxSerialFrame));
                    s_.RxFrame.clear();
                    s_.RxState = 0;
                    break;
                }
                s_.RxFrame.append(b);
                if (b == '\r')
                    s_.RxState = 2;
                break;
            case 2:
                if (b == '\n') {
                    s_.RxFrame.append(b);
                    s_.FrameComplete = 1;
                    s_.RxState = 3;
                }
                break;
            default: // the rest of a read after the LF
                break;
            }
        }
    }
    if (s_.FrameComplete == 1) {
        s_.FrameComplete = 0;
        s_.RxState = 0;
        if (!s_.RxFrame.isEmpty()) {
            s_.LastFrame = s_.RxFrame;
            s_.FrameReady = 1;
            line("Receive >> " + s_.LastFrame);
        }
    }
    DispatchSerialResponse();
}

bool LinkEngine::CheckFrame()
{
    const QByteArray &last = s_.LastFrame;
    const qsizetype p = last.indexOf(':');
    if (p < 0)
        return false;
    const qsizetype q = last.indexOf('\r');
    const qsizetype length = p < q ? q - p : 0;
    const QByteArray text = last.mid(p, length);

    const qsizetype pairs = length >= 3 ? (length - 3) / 2 : 0;
    const qsizetype lrcAt = 1 + 2 * pairs;
    if (lrcAt + 2 > text.size())
        return false;
    try {
        unsigned sum = 0;
        for (qsizetype i = 0; i < pairs; ++i)
            sum += unsigned(HexToInt(QByteArrayView(text).sliced(1 + 2 * i, 2)));
        const int received = HexToInt(QByteArrayView(text).sliced(lrcAt, 2));
        if (received != int((256 - (sum & 0xFF)) & 0xFF)) {
            Q_EMIT serialFrameSpoilt(FrameFault::BadLrc, int(text.size()));
            return false;
        }
    } catch (const ConversionError &) {
        line("Drop >> frame not hexadecimal");
        Q_EMIT serialFrameSpoilt(FrameFault::NotHexadecimal, int(text.size()));
        return false;
    }
    s_.ResponseText = text;
    s_.FunctionCodeText = text.mid(3, 2);
    return true;
}

void LinkEngine::DispatchSerialResponse()
{
    if (s_.FrameReady != 1)
        return;
    s_.FrameReady = 0;
    if (!CheckFrame())
        return;

    const QByteArray &code = s_.FunctionCodeText;
    if (code == "04") {
        if (s_.RequestState == StatePoll && s_.ResponseText.size() == s_.StatusFrameLength)
            StatusDecode();
    } else if (code == "B2") {
        if (decoders_)
            decoders_->DecodeIpSettings(s_);
    } else if (code == "06") {
        // ":" unit(2) function(2) address(4) value(4) LRC(2)
        const QByteArray &t = s_.ResponseText;
        int address = -1;
        int value = -1;
        if (t.size() == 15) {
            try {
                address = HexToInt(QByteArrayView(t).sliced(5, 4));
                value = HexToInt(QByteArrayView(t).sliced(9, 4));
            } catch (const ConversionError &) {
            }
        }
        if (echoesOutstandingWrite(address, value))
            writeAcknowledged(false);
    } else if (code == "86") {
        // ":" unit(2) function(2) exception(2) LRC(2)
        int exception = -1;
        if (s_.ResponseText.size() >= 7) {
            try {
                exception = HexToInt(QByteArrayView(s_.ResponseText).sliced(5, 2));
            } catch (const ConversionError &) {
            }
        }
        writeRefused(0x86, exception);
    } else if ((code == "C0" || code == "D0" || code == "C1" || code == "D1") && decoders_
               && decoders_->sequencesHistory()) {
        if (code.endsWith('0'))
            decoders_->DecodeHistoryCount(s_);
        else
            decoders_->AdvanceHistoryRecord(s_);
    } else if (code == "C0" || code == "D0") {
        const bool alarms = code == "C0";
        if (decoders_)
            decoders_->DecodeHistoryCount(s_);
        s_.RequestState = alarms ? StateSerialHistoryRecords : StateSerialEventRecords;
        timer1_.setInterval(800);
        if (s_.RecordTotal > 0)
            SendHistoryRequest("01", alarms ? "31" : "41", s_.RecordTotal - s_.RecordIndex);
        else
            show(MessageKind::Plain, alarms ? NoHistory : NoEventLog);
    } else if (code == "C1" || code == "D1") {
        if (decoders_)
            decoders_->AdvanceHistoryRecord(s_);
        if (s_.HistoryDownloadActive == 1 && s_.RecordTotal >= s_.RecordIndex)
            SendHistoryRequest("01", code == "C1" ? "31" : "41", s_.RecordTotal - s_.RecordIndex);
    } else if (code == "C5") {
        show(MessageKind::Information, AlarmInitSuccess);
    } else if (code == "D5") {
        show(MessageKind::Information, EventLogInitSuccess);
    }
}

// ---- TCP reception ---------------------------------------------------------------------

void LinkEngine::AssembleTcpFrame(const QByteArray &bytes)
{
    const int end = s_.FrameFunction == 6 ? 5 : 6;
    const auto h = char((s_.TransactionId >> 8) & 0xFF);
    const auto l = char(s_.TransactionId & 0xFF);
    int length = 0;
    const qsizetype n = bytes.size();

    if (s_.FrameReady == 0) {
        // i counts from 1 as the bytes s1..sn do.
        for (qsizetype i = 1; i <= n; ++i) {
            const char si = bytes[i - 1];
            if (s_.RxState == 0 && i + 3 <= n && si == h && bytes[i] == l && bytes[i + 1] == 0
                && bytes[i + 2] == 0) {
                s_.RxFrame.clear();
                s_.RxState = 1;
            } else if (s_.RxState == 1 && i == 5) {
                length = std::uint8_t(bytes[4]) * 256 + (n >= 6 ? std::uint8_t(bytes[5]) : 0);
                s_.RxFrame.append(si);
                s_.RxState = 2;
            } else if (s_.RxState == 2 && i >= length + end) {
                s_.RxFrame.append(si);
                s_.FrameComplete = 1;
            } else {
                s_.RxFrame.append(si);
            }
        }
    }
    if (s_.FrameComplete == 1) {
        s_.FrameComplete = 0;
        s_.RxState = 0;
        if (!s_.RxFrame.isEmpty()) {
            s_.ResponseText = s_.RxFrame;
            // Built only when someone reads the console lines: a download makes one per record.
            static const QMetaMethod lineSignal = QMetaMethod::fromSignal(&LinkEngine::consoleLine);
            if ((s_.FrameFunction == 0x43 || s_.FrameFunction == 0x44) && isSignalConnected(lineSignal))
                line("TcpStr >> " + s_.ResponseText + " [" + BytesToHex(s_.ResponseText) + "]");
            s_.FrameReady = 1;
        }
    }
    DispatchTcpResponse();
}

void LinkEngine::DispatchTcpResponse()
{
    if (s_.FrameReady != 1)
        return;
    s_.FrameReady = 0;

    // transaction low byte (1), protocol (2), length (2), unit (1), function (1)
    const QByteArray frame = s_.ResponseText;
    if (frame.size() < 7) {
        line("Drop >> TCP response too short: [" + BytesToHex(frame) + "]");
        return;
    }
    // The length field is taken as the assembler takes it: the answer is complete once the
    // byte at the length plus the function's end offset has arrived. Controllers in the
    // field announce a write acknowledgement with 7 and are answered; a length that points
    // beyond the bytes received never completes and is refused.
    const int length = std::uint8_t(frame[3]) * 256 + std::uint8_t(frame[4]);
    const int end = s_.FrameFunction == 6 ? 5 : 6;
    if (length + end > frame.size() + 1) {
        line("Drop >> TCP length field " + QByteArray::number(length) + " points beyond the "
             + QByteArray::number(frame.size() + 1) + " bytes received");
        return;
    }
    const QByteArray code = BytesToHex(QByteArrayView(frame).sliced(6, 1));
    const QByteArray rest = frame.mid(7);
    if (tcpAnswerTaken_ && (std::uint8_t(frame[6]) & 0x7F) == s_.FrameFunction)
        *tcpAnswerTaken_ = true;

    if (code == "04") {
        if (rest.isEmpty())
            return;
        const QByteArray byteCount = BytesToHex(QByteArrayView(rest).first(1));
        s_.ResponseText = rest.mid(1);
        if (s_.RequestState != StatePoll)
            return;
        // As on serial, only an answer of exactly the size asked for is decoded: a read that
        // carries more (or fewer) bytes would shift every register after the first stray byte.
        const qsizetype expected = qsizetype(s_.StatusRegisterCount) * 2;
        if (byteCount != s_.StatusByteCountHex || s_.ResponseText.size() != expected) {
            line("Drop >> TCP status answer with byte count " + byteCount + " and "
                 + QByteArray::number(s_.ResponseText.size()) + " data bytes, expected "
                 + s_.StatusByteCountHex + " and " + QByteArray::number(expected));
            return;
        }
        StatusDecode();
    } else if (code == "41") {
        s_.ResponseText = rest;
        if (decoders_)
            decoders_->DecodeIpSettings(s_);
    } else if ((code == "43" || code == "46" || code == "44" || code == "47") && decoders_
               && decoders_->sequencesHistory()) {
        s_.ResponseText = rest;
        s_.FunctionCodeText = code;
        if (code == "43" || code == "46")
            decoders_->DecodeHistoryCount(s_);
        else
            decoders_->AdvanceHistoryRecord(s_);
    } else if (code == "43" || code == "46") {
        s_.ResponseText = rest;
        if (decoders_)
            decoders_->DecodeHistoryCount(s_);
        if (s_.RecordTotal > 0)
            SendHistoryRequest("01", code == "43" ? "44" : "47", s_.RecordTotal - s_.RecordIndex);
        else
            show(MessageKind::Plain, NoHistory);
    } else if (code == "44" || code == "47") {
        s_.ResponseText = rest;
        if (decoders_)
            decoders_->AdvanceHistoryRecord(s_);
        if (s_.HistoryDownloadActive == 1 && s_.RecordTotal >= s_.RecordIndex)
            SendHistoryRequest("01", code, s_.RecordTotal - s_.RecordIndex);
    } else if (code == "45" || code == "48") {
        s_.ResponseText = rest;
        const int kind = rest.isEmpty() ? -1 : std::uint8_t(rest[0]);
        if (kind == 1)
            show(MessageKind::Information, AlarmInitSuccess);
        else if (kind == 2)
            show(MessageKind::Information, EventInitSuccess);
    } else if (code == "06") {
        const int address = rest.size() == 4 ? (std::uint8_t(rest[0]) << 8) | std::uint8_t(rest[1]) : -1;
        const int value = rest.size() == 4 ? (std::uint8_t(rest[2]) << 8) | std::uint8_t(rest[3]) : -1;
        if (echoesOutstandingWrite(address, value))
            writeAcknowledged(true);
        else if (tcpAnswerTaken_)
            *tcpAnswerTaken_ = false;
    } else if (code == "86") {
        writeRefused(0x86, rest.isEmpty() ? -1 : std::uint8_t(rest[0]));
    } else if ((std::uint8_t(frame[6]) & 0x80) != 0) {
        // Any other exception answer: whoever waits for the request hears of it at once
        // instead of waiting out its time.
        Q_EMIT requestRefused(std::uint8_t(frame[6]) & 0x7F, rest.isEmpty() ? -1 : std::uint8_t(rest[0]));
    }
}

void LinkEngine::StatusDecode()
{
    Q_EMIT statusDecodeStarted();
    const int count = std::clamp(s_.StatusRegisterCount, 0, StatusRegisterSlots);
    const int converted = s_.LinkIsTcp == 0
        ? convertSerialStatus(s_.ResponseText, count, s_.StatusRegisters.data())
        : convertTcpStatus(s_.ResponseText, count, s_.StatusRegisters.data());
    if (converted == count)
        Q_EMIT statusDecoded();
    else
        Q_EMIT statusDecodeStopped(converted);
}

// ---- Poll scheduler (the write queue: writequeue.cpp) ------------------------------------

void LinkEngine::Timer1Timer()
{
    // Never two requests on the TCP connection: a tick that finds one under way leaves
    // PollReady set, so the request goes out on the first tick after the answer.
    const bool tcpHeld = s_.LinkIsTcp != 0 && tcpBusy();
    if (s_.PollReady == 1 && !tcpHeld) {
        s_.PollReady = 0;
        s_.ResponseTimer = 3;
        line("RectMode >> " + QByteArray(" [ ") + IntToHexFixed(s_.RequestState, 2) + " ]");
        switch (s_.RequestState) {
        case StatePoll:
            timer1_.setInterval(s_.LinkIsTcp == 0 ? 200 : 300);
            SendReadRequest("0001", s_.StatusCountHex);
            break;
        case StateIpRead:
            SendCommand(s_.LinkIsTcp == 0 ? "22" : "41");
            s_.RequestState = StatePoll;
            break;
        case StateSerialHistoryRecords:
        case StateSerialEventRecords:
            if (s_.RecordTotal >= s_.RecordIndex)
                SendHistoryRequest("01", s_.RequestState == StateSerialHistoryRecords ? "31" : "41",
                                   s_.RecordTotal - s_.RecordIndex);
            break;
        default:
            break;
        }
    }
    if (s_.RequestState <= 11) {
        --s_.ResponseTimer;
        if (s_.ResponseTimer == 0)
            s_.PollReady = 1;
    }
    if ((s_.RequestState >= 4 && s_.RequestState <= 17) || (s_.RequestState >= 31 && s_.RequestState <= 52)) {
        --s_.ResponseTimer;
        if (s_.ResponseTimer == 0)
            s_.RequestState = StateWrite;
    }
}

void LinkEngine::Timer6Timer()
{
    if (s_.AlarmTestBlinkCount == 30) {
        s_.AlarmTestBlinkCount = 0;
        Q_EMIT alarmTestReminderChanged(true);
    } else if (s_.AlarmTestBlinkCount == 10) {
        Q_EMIT alarmTestReminderChanged(false);
    }
    ++s_.AlarmTestBlinkCount;
}

} // namespace qeln
