#pragma once

#include "request.h"

#include <QByteArray>
#include <QString>

#include <variant>

namespace qeln {

// One answer of the controller as both links deliver it: the function code and the bytes
// after it (on serial the hexadecimal pairs turned into bytes, without the LRC). Once the
// engine has matched it to its request, `kind` and `log` say what that request asked for.
struct Answer {
    Function function = Function::ReadInputRegisters;
    QByteArray payload;
    RequestKind kind = RequestKind::Status;
    LogKind log = LogKind::Alarm;
    // From the request's going out to this answer, when known (-1 otherwise).
    qint64 roundTripMs = -1;
};

// Why a request got no usable answer.
enum class AnswerFault {
    BadLrc,           // serial: the LRC does not match the pairs
    NotHexadecimal,   // serial: a pair is not two hexadecimal digits
    BadLength,        // too short, an odd number of digits, or a TCP length beyond the bytes
    WrongTransaction, // TCP: another transaction's answer, or another function's
    Exception,        // the controller refused it (function | 0x80) with an exception code
    TimedOut,         // no (complete) answer within the request's time-out
    LinkLost,         // refused connection, hang-up, no link, the link closed or changed
};

struct RequestFailure {
    AnswerFault fault = AnswerFault::TimedOut;
    // The function of the request, or of the spoilt or refusing answer when no request is
    // known; ReadInputRegisters with `known` false when nothing says which.
    Function function = Function::ReadInputRegisters;
    bool known = false;
    // What the request asked for (when `known`).
    RequestKind kind = RequestKind::Status;
    LogKind log = LogKind::Alarm;
    int exceptionCode = -1; // Exception only; -1 when the answer carries none
    // Serial: the frame's size from ':' up to the LRC, so a listener can tell which answer
    // a spoilt frame was; 0 on TCP.
    int length = 0;
    QString reason; // for the operator and the log
};

using ParsedAnswer = std::variant<Answer, RequestFailure>;

// A failure of `request`: its function, kind and log filled in.
RequestFailure failureOf(const Request &request, AnswerFault fault, const QString &reason);
// `failure` (of a spoilt or refusing answer) as the failure of `request`.
RequestFailure failureOf(const Request &request, RequestFailure failure);

// A serial frame from ':' up to (not including) CR.
ParsedAnswer parseAsciiFrame(QByteArrayView text);
// A whole TCP answer as the exchange collected it for the request with this transaction
// and function.
ParsedAnswer parseMbapAnswer(QByteArrayView bytes, quint16 transaction, Function requestFunction);

// "exception 04 (server device failure)".
QString exceptionText(int exceptionCode);

} // namespace qeln
