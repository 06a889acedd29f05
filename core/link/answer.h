#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

namespace qeln {

// One answer of the controller as both links deliver it: the function code and the bytes
// after it (on serial the hexadecimal pairs turned into bytes, without the LRC).
struct Answer {
    int function = 0;
    QByteArray payload;
};

// Why a request got no usable answer.
enum class AnswerFault {
    BadLrc,           // serial: the LRC does not match the pairs
    NotHexadecimal,   // serial: a pair is not two hexadecimal digits
    BadLength,        // too short, an odd number of digits, or a TCP length beyond the bytes
    WrongTransaction, // TCP: another transaction's answer, or another function's
    Exception,        // the controller refused it (function | 0x80) with an exception code
    TimedOut,         // TCP: no (complete) answer within the read time-out
    LinkLost,         // TCP: refused connection, hang-up, no link
};

struct RequestFailure {
    AnswerFault fault = AnswerFault::TimedOut;
    // The function of the request (TCP), or of the spoilt or refusing answer; 0 when unknown.
    int function = 0;
    int exceptionCode = -1; // Exception only; -1 when the answer carries none
    // Serial: the frame's size from ':' up to the LRC, so a listener can tell which answer
    // a spoilt frame was; 0 on TCP.
    int length = 0;
    QString reason; // for the operator and the log
};

using ParsedAnswer = std::variant<Answer, RequestFailure>;

// A serial frame from ':' up to (not including) CR.
ParsedAnswer parseAsciiFrame(QByteArrayView text);
// A whole TCP answer as the exchange collected it for the request with this transaction
// and function.
ParsedAnswer parseMbapAnswer(QByteArrayView bytes, quint16 transaction, int requestFunction);

// "exception 04 (server device failure)".
QString exceptionText(int exceptionCode);

} // namespace qeln
