#include "answer.h"

#include "hextext.h"

#include <optional>

namespace qeln {

namespace {

RequestFailure failure(AnswerFault fault, std::optional<Function> function, const QString &reason, int length = 0)
{
    RequestFailure f;
    f.fault = fault;
    f.function = function.value_or(Function::ReadInputRegisters);
    f.known = function.has_value();
    f.reason = reason;
    f.length = length;
    return f;
}

} // namespace

RequestFailure failureOf(const Request &request, AnswerFault fault, const QString &reason)
{
    RequestFailure f;
    f.fault = fault;
    f.reason = reason;
    return failureOf(request, f);
}

RequestFailure failureOf(const Request &request, RequestFailure failure)
{
    failure.function = request.function;
    failure.known = true;
    failure.kind = request.kind;
    failure.log = request.log;
    return failure;
}

QString exceptionText(int exceptionCode)
{
    QString name;
    switch (exceptionCode) {
    case 1: name = QStringLiteral("illegal function"); break;
    case 2: name = QStringLiteral("illegal data address"); break;
    case 3: name = QStringLiteral("illegal data value"); break;
    case 4: name = QStringLiteral("server device failure"); break;
    case 5: name = QStringLiteral("acknowledge"); break;
    case 6: name = QStringLiteral("server device busy"); break;
    case 8: name = QStringLiteral("memory parity error"); break;
    case 10: name = QStringLiteral("gateway path unavailable"); break;
    case 11: name = QStringLiteral("gateway target device failed to respond"); break;
    default: name = QStringLiteral("unknown exception"); break;
    }
    const QString code = exceptionCode < 0
        ? QStringLiteral("?")
        : QString::fromLatin1(IntToHexFixed(exceptionCode & 0xFF, 2));
    return QStringLiteral("exception %1 (%2)").arg(code, name);
}

ParsedAnswer parseAsciiFrame(QByteArrayView text)
{
    const int length = int(text.size());
    // ':' unit(2) function(2) pairs... LRC(2); an odd digit is no pair.
    if (length < 7 || (length - 1) % 2 != 0)
        return failure(AnswerFault::BadLength, std::nullopt, QStringLiteral("a frame of %1 characters").arg(length), length);
    QByteArray bytes((length - 1) / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigitValue(text[1 + 2 * i]);
        const int low = hexDigitValue(text[2 + 2 * i]);
        if (high < 0 || low < 0)
            return failure(AnswerFault::NotHexadecimal, std::nullopt, QStringLiteral("a frame that is not hexadecimal"), length);
        bytes[i] = char(high * 16 + low);
    }
    unsigned sum = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i)
        sum += std::uint8_t(bytes[i]);
    const auto function = Function(std::uint8_t(bytes[1]));
    if (std::uint8_t(bytes.back()) != ((256 - (sum & 0xFF)) & 0xFF))
        return failure(AnswerFault::BadLrc, function, QStringLiteral("a frame with a wrong LRC"), length);
    return Answer{function, bytes.mid(2, bytes.size() - 3)};
}

ParsedAnswer parseMbapAnswer(QByteArrayView bytes, quint16 transaction, Function requestFunction)
{
    // transaction (2), protocol (2), length (2), unit (1), function (1), payload
    const qsizetype n = bytes.size();
    if (n < 8)
        return failure(AnswerFault::BadLength, requestFunction, QStringLiteral("the answer is too short"));
    if (std::uint8_t(bytes[0]) != (transaction >> 8) || std::uint8_t(bytes[1]) != (transaction & 0xFF)
        || bytes[2] != 0 || bytes[3] != 0)
        return failure(AnswerFault::WrongTransaction, requestFunction,
                       QStringLiteral("the answer does not match the request"));
    // The length field is taken as complete once the byte at the length plus the function's
    // end offset has come. Controllers in the field announce a write acknowledgement with 7.
    const int length = std::uint8_t(bytes[4]) * 256 + std::uint8_t(bytes[5]);
    const int end = requestFunction == Function::WriteSingleRegister ? 5 : 6;
    if (length + end > n)
        return failure(AnswerFault::BadLength, requestFunction,
                       QStringLiteral("its length field points beyond the %1 bytes received").arg(n));
    const auto function = Function(std::uint8_t(bytes[7]));
    if (refusedFunction(function) != requestFunction)
        return failure(AnswerFault::WrongTransaction, requestFunction,
                       QStringLiteral("the answer does not match the request"));
    const QByteArray payload = bytes.sliced(8).toByteArray();
    if (isException(function)) {
        RequestFailure f = failure(AnswerFault::Exception, requestFunction, QString());
        f.exceptionCode = payload.isEmpty() ? -1 : std::uint8_t(payload[0]);
        f.reason = QStringLiteral("the controller refused it: ") + exceptionText(f.exceptionCode);
        return f;
    }
    return Answer{function, payload};
}

} // namespace qeln
