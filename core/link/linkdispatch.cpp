#include "linkengine.h"

#include "hextext.h"
#include "statusconversion.h"
#include "transport.h"

#include <algorithm>
#include <limits>
#include <optional>

// Reception and the one dispatcher: serial bytes are framed and parsed here, TCP answers
// arrive parsed from the exchange (linkengine.cpp); both end in dispatch().

namespace qeln {

namespace {

// No answer of the controller comes near this; a frame that never ends (a line that keeps
// sending without CR) is dropped here instead of growing without bound.
constexpr qsizetype MaxSerialFrame = 8192;
// The least time a request given up keeps its place for its late answer.
constexpr int MinLateAnswerWaitMs = 50;

const QString AlarmInitSuccess = QStringLiteral(" Alarm Initial Sucess!!");
const QString EventLogInitSuccess = QStringLiteral(" Event log Initial Sucess!!");
const QString EventInitSuccess = QStringLiteral(" Event Initial Sucess!!");

bool sameRequest(const Request &a, const Request &b)
{
    return a.function == b.function && a.payload == b.payload;
}

QByteArray functionHex(Function f)
{
    return IntToHexFixed(functionCode(f), 2);
}

} // namespace

// ---- Serial requests -----------------------------------------------------------------------

void LinkEngine::sendSerial(const Outgoing &out)
{
    // A request that could be taken for the late answer of one given up waits until that
    // answer came or its time is over.
    if (out.ticket != 0 && (!serialQueue_.isEmpty() || serialMustWait(out))) {
        serialQueue_.enqueue(out);
        return;
    }
    writeSerial(out);
    armSerialDeadline();
}

void LinkEngine::writeSerial(const Outgoing &out)
{
    const QByteArray frame = asciiFrame(out.request);
    nextTransaction();
    const bool written = serial_ && serial_->write(frame);
    if (written)
        Q_EMIT requestSent(frame, false);
    line("Send data >>[" + QByteArray::number(frame.size()) + "]" + frame);
    if (out.ticket == 0)
        return;
    if (!written)
        fail(failureOf(out.request, AnswerFault::LinkLost, QStringLiteral("the serial port is not open")), out.ticket);
    else if (out.request.kind == RequestKind::IpBlockWrite)
        // The controller's answer to a settings write is not read: sent is done.
        finishTicket(out.ticket, Answer{out.request.function, {}, out.request.kind, out.request.log});
    else
        serialPending_.append(pending(out));
}

LinkEngine::SerialPending LinkEngine::pending(const Outgoing &out) const
{
    SerialPending p{out, out.request.answerFunction(LinkKind::Serial), QDeadlineTimer(out.timeoutMs), false, {}, -1};
    p.sent.start();
    return p;
}

bool LinkEngine::serialMustWait(const Outgoing &out) const
{
    const Function answer = out.request.answerFunction(LinkKind::Serial);
    for (const SerialPending &p : serialPending_) {
        // The same request asked again goes at once: whichever answer comes first is its.
        if (p.givenUp && p.answer == answer && !sameRequest(p.out.request, out.request))
            return true;
    }
    return false;
}

void LinkEngine::pumpSerialQueue()
{
    while (!serialQueue_.isEmpty() && !serialMustWait(serialQueue_.head()))
        writeSerial(serialQueue_.dequeue());
    armSerialDeadline();
}

void LinkEngine::armSerialDeadline()
{
    if (serialPending_.isEmpty()) {
        serialDeadline_.stop();
        return;
    }
    qint64 soonest = std::numeric_limits<qint64>::max();
    for (const SerialPending &p : std::as_const(serialPending_))
        soonest = std::min(soonest, p.deadline.remainingTime());
    serialDeadline_.start(int(std::clamp<qint64>(soonest, 0, std::numeric_limits<int>::max())));
}

void LinkEngine::onSerialDeadline()
{
    QList<SerialPending> timedOut;
    for (auto it = serialPending_.begin(); it != serialPending_.end();) {
        if (!it->deadline.hasExpired()) {
            ++it;
            continue;
        }
        if (it->givenUp) {
            // While the same request is still asked again, its answer may yet come: it keeps
            // its place until that one is answered or given up as well.
            const auto twin = std::find_if(serialPending_.cbegin(), serialPending_.cend(), [&](const SerialPending &p) {
                return !p.givenUp && sameRequest(p.out.request, it->out.request);
            });
            if (twin != serialPending_.cend()) {
                it->deadline = QDeadlineTimer(twin->deadline.remainingTime() + it->out.timeoutMs);
                ++it;
                continue;
            }
            // Its late answer did not come either.
            it = serialPending_.erase(it);
            continue;
        }
        // Given up, but kept as long again: its late answer must not reach a later request.
        it->givenUp = true;
        it->deadline = QDeadlineTimer(std::max(it->out.timeoutMs, MinLateAnswerWaitMs));
        timedOut.append(*it);
        ++it;
    }
    for (const SerialPending &p : std::as_const(timedOut)) {
        const RequestFailure f = failureOf(p.out.request, AnswerFault::TimedOut,
            QStringLiteral("no answer within %1 ms").arg(p.out.timeoutMs));
        fail(f, p.out.ticket);
    }
    pumpSerialQueue();
}

void LinkEngine::failAllSerial(const QString &reason)
{
    QList<Outgoing> dropped;
    for (const SerialPending &p : std::as_const(serialPending_)) {
        if (!p.givenUp)
            dropped.append(p.out);
    }
    for (const Outgoing &o : std::as_const(serialQueue_))
        dropped.append(o);
    serialPending_.clear();
    serialQueue_.clear();
    serialDeadline_.stop();
    for (const Outgoing &o : std::as_const(dropped)) {
        const RequestFailure f = failureOf(o.request, AnswerFault::LinkLost,
            reason);
        failTicket(o.ticket, f);
    }
}

// ---- Serial reception ----------------------------------------------------------------------

void LinkEngine::onSerialBytes(const QByteArray &bytes)
{
    // After a disconnect the port stays open until the next character arrives: that closes it.
    if (!serialInUse_) {
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
        takeSerialAnswer(*answer);
        return;
    }
    const auto &failure = std::get<RequestFailure>(parsed);
    line("Drop >> " + failure.reason.toUtf8());
    takeSpoiltSerialFrame(failure);
}

std::optional<LinkEngine::SerialPending> LinkEngine::claimSerialAnswer(qsizetype first)
{
    // Answers come in the order the requests went: the first waiting for this kind of answer
    // takes it. One given up takes its late answer, unless the same request was asked again:
    // then that one takes the first answer to come, and the one given up still waits for the
    // other (two requests went out, so two answers may come).
    const SerialPending oldest = serialPending_[first];
    if (!oldest.givenUp) {
        serialPending_.removeAt(first);
        armSerialDeadline();
        return oldest;
    }
    // The controller answers, only late: the other requests given up for the same thing wait
    // for their answers as long again as this one took, from now.
    const qint64 late = oldest.sent.elapsed();
    for (SerialPending &p : serialPending_) {
        if (p.givenUp && sameRequest(p.out.request, oldest.out.request))
            p.deadline = QDeadlineTimer(std::max<qint64>({late, p.out.timeoutMs, MinLateAnswerWaitMs}));
    }
    for (qsizetype j = first + 1; j < serialPending_.size(); ++j) {
        if (!serialPending_[j].givenUp && sameRequest(serialPending_[j].out.request, oldest.out.request)) {
            const SerialPending twin = serialPending_[j];
            serialPending_.removeAt(j);
            serialPending_[first].twinAnsweredMs = late;
            armSerialDeadline();
            return twin;
        }
    }
    serialPending_.removeAt(first);
    armSerialDeadline();
    line("Drop >> late answer to a request given up");
    const qint64 roundTrip = oldest.twinAnsweredMs >= 0 ? oldest.twinAnsweredMs : oldest.sent.elapsed();
    if (oldest.out.ticket != 0)
        Q_EMIT answeredLate(oldest.out.ticket, roundTrip);
    return std::nullopt;
}

void LinkEngine::takeSerialAnswer(const Answer &received)
{
    // A refusal names the refused code with the high bit set and carries one byte: the
    // exception code. (Some serial answer codes have that bit too; their answers are longer.)
    if (received.payload.size() == 1) {
        for (qsizetype i = 0; i < serialPending_.size(); ++i) {
            if (exceptionOf(serialPending_[i].out.request.function) != received.function)
                continue;
            if (const auto p = claimSerialAnswer(i)) {
                const int code = std::uint8_t(received.payload[0]);
                RequestFailure f = failureOf(p->out.request, AnswerFault::Exception,
                                             QStringLiteral("the controller refused it: ") + exceptionText(code));
                f.exceptionCode = code;
                fail(f, p->out.ticket);
            }
            pumpSerialQueue();
            return;
        }
    }
    if (dispatchWriteAnswer(received))
        return;
    for (qsizetype i = 0; i < serialPending_.size(); ++i) {
        if (serialPending_[i].answer != received.function)
            continue;
        if (const auto p = claimSerialAnswer(i)) {
            Answer answer = received;
            answer.kind = p->out.request.kind;
            answer.log = p->out.request.log;
            answer.roundTripMs = p->sent.elapsed();
            dispatch(answer, &p->out);
        }
        pumpSerialQueue();
        return;
    }
    if (received.function == Function::ReadInputRegisters) {
        dispatch(received, nullptr);
        return;
    }
    if (received.payload.size() == 1 && received.function == exceptionOf(Function::ReadInputRegisters)) {
        RequestFailure f;
        f.fault = AnswerFault::Exception;
        f.function = Function::ReadInputRegisters;
        f.known = true;
        f.exceptionCode = std::uint8_t(received.payload[0]);
        f.reason = QStringLiteral("the controller refused the status read: ") + exceptionText(f.exceptionCode);
        fail(f);
        return;
    }
    // A whole answer that no request waits for, while one does wait for another: the line
    // has one conversation, so it is that request's answer gone wrong (the other log's code,
    // say), and it is asked again rather than waited out.
    for (qsizetype i = 0; i < serialPending_.size(); ++i) {
        if (serialPending_[i].out.ticket == 0)
            continue;
        const Function expected = serialPending_[i].answer;
        if (const auto p = claimSerialAnswer(i)) {
            const RequestFailure f = failureOf(p->out.request, AnswerFault::WrongTransaction,
                QStringLiteral("an answer with code %1 where %2 was expected")
                    .arg(QString::fromLatin1(functionHex(received.function)),
                    QString::fromLatin1(functionHex(expected))));
            line("Drop >> answer " + functionHex(received.function) + " where " + functionHex(expected)
                 + " was expected");
            fail(f, p->out.ticket);
        }
        pumpSerialQueue();
        return;
    }
    line("Drop >> answer " + functionHex(received.function) + " to no request waiting for it");
}

void LinkEngine::takeSpoiltSerialFrame(const RequestFailure &failure)
{
    // A spoilt frame of the size a waiting request's answer has is that answer gone wrong.
    for (qsizetype i = 0; i < serialPending_.size(); ++i) {
        const int length = serialPending_[i].out.request.serialAnswerLength;
        if (length == 0 || length != failure.length)
            continue;
        if (const auto p = claimSerialAnswer(i)) {
            const RequestFailure f = failureOf(p->out.request, failure);
            fail(f, p->out.ticket);
        }
        pumpSerialQueue();
        return;
    }
    fail(failure);
}

// ---- The dispatcher ------------------------------------------------------------------------

bool LinkEngine::dispatchWriteAnswer(const Answer &answer)
{
    if (answer.function == exceptionOf(Function::WriteSingleRegister)) {
        refuseWrite(answer.payload.isEmpty() ? -1 : std::uint8_t(answer.payload[0]));
        return true;
    }
    if (answer.function != Function::WriteSingleRegister)
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
        if (link_ == LinkKind::Tcp) {
            RequestFailure f;
            f.fault = AnswerFault::WrongTransaction;
            f.function = Function::WriteSingleRegister;
            f.known = true;
            f.kind = RequestKind::RegisterWrite;
            f.reason = QStringLiteral("the answer does not match the request");
            failTcpInFlight(f);
        }
        return true;
    }
    ackWrite(address, value);
    return true;
}

void LinkEngine::dispatch(const Answer &answer, const Outgoing *to)
{
    const Ticket ticket = to ? to->ticket : 0;
    const RequestKind kind = to ? to->request.kind : RequestKind::Status;
    if (!to && answer.function != Function::ReadInputRegisters) {
        line("Drop >> answer " + functionHex(answer.function) + " to no request waiting for it");
        return;
    }
    switch (kind) {
    case RequestKind::Status:
        // A poll's answer of the wrong size is dropped (the next poll follows); a status read
        // asked for with a ticket fails.
        if (dispatchStatus(answer, ticket != 0)) {
            finishTicket(ticket, answer);
        } else if (ticket != 0) {
            RequestFailure f;
            f.fault = AnswerFault::BadLength;
            f.function = answer.function;
            f.known = true;
            f.reason = QStringLiteral("a status answer of another size than asked for");
            failTicket(ticket, f);
        }
        return;
    case RequestKind::HistoryInitialisation:
        if (link_ == LinkKind::Serial) {
            show(MessageKind::Information, to->request.log == LogKind::Alarm ? AlarmInitSuccess : EventLogInitSuccess);
        } else {
            // The TCP acknowledgement names the log it erased.
            const int log = answer.payload.isEmpty() ? -1 : std::uint8_t(answer.payload[0]);
            if (log == 1)
                show(MessageKind::Information, AlarmInitSuccess);
            else if (log == 2)
                show(MessageKind::Information, EventInitSuccess);
        }
        finishTicket(ticket, answer);
        return;
    case RequestKind::IpBlockRead:
    case RequestKind::IpBlockWrite:
    case RequestKind::HistoryCount:
    case RequestKind::HistoryRecord:
    case RequestKind::RegisterWrite:
        finishTicket(ticket, answer);
        return;
    }
}

bool LinkEngine::dispatchStatus(const Answer &answer, bool asked)
{
    // Only an answer to the poll, of exactly the size asked for, is decoded: a read that
    // carries more (or fewer) bytes would shift every register after the first stray byte.
    // A poll's answer that arrives while polling is held (a dialog has the link) or the IP
    // read is due is not taken; a status read asked for with a ticket always is.
    if (!asked && (mode_ != PollMode::Polling || pollingHeld()))
        return false;
    const int count = std::clamp(s_.StatusRegisterCount, 0, StatusRegisterSlots);
    QByteArrayView data;
    if (link_ == LinkKind::Serial) {
        // byte count (2 bytes), then the registers
        if (answer.payload.size() * 2 + 7 != s_.StatusFrameLength)
            return false;
        data = QByteArrayView(answer.payload).sliced(2);
    } else {
        // byte count (its low byte), then the registers
        const QByteArray byteCount = answer.payload.isEmpty() ? QByteArray() : BytesToHex(answer.payload.first(1));
        const qsizetype bytes = answer.payload.size() - 1;
        if (byteCount != s_.StatusByteCountHex || bytes != qsizetype(count) * 2) {
            line("Drop >> TCP status answer with byte count " + byteCount + " and "
                 + QByteArray::number(std::max<qsizetype>(bytes, 0)) + " data bytes, expected "
                 + s_.StatusByteCountHex + " and " + QByteArray::number(count * 2));
            return false;
        }
        data = QByteArrayView(answer.payload).sliced(1);
    }
    if (convertTcpStatus(data, count, s_.StatusRegisters.data()) != count)
        return false;
    Q_EMIT statusReceived();
    return true;
}

} // namespace qeln
