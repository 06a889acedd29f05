// Feeds arbitrary bytes to the serial and TCP receive paths, with each kind of request in
// flight, and checks what the engine reports and sends in reply.
//
// Input layout: byte 0 picks the link (bit 7), the log (bit 6: alarms) and the request
// (bits 0-2: status poll, IP-block read, write sequence, history count, history record,
// history initialisation, IP-block write, status poll answered while polling is held);
// byte 1 bit 0 asks the same request again after every read (on TCP once the link is free);
// bytes 2-3 the record number; byte 4 the number of writes in the sequence (1..4); byte 5 the
// size of each read (1..255 bytes, or 255 for one read of everything); the rest is the
// received stream. Writes go to registers 0x30.. with the value 0x8005; TCP transactions
// count from 1, one per request.
#include "app/consolestate.h"
#include "fuzzsupport.h"
#include "link/answer.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdint>
#include <variant>

using namespace qeln;
using fuzzsupport::fail;

namespace {

enum Kind { StatusPoll, IpRead, Writes, HistoryCount, HistoryRecord, HistoryInit, IpWrite, HeldPoll };

struct Input {
    bool tcp = false;
    LogKind log = LogKind::Event;
    Kind kind = StatusPoll;
    bool again = false;
    int record = 0;
    QList<RegisterWrite> writes;
};

void ask(LinkEngine &engine, const Input &in)
{
    switch (in.kind) {
    case StatusPoll: engine.pollNow(); break;
    case IpRead: engine.requestIpBlock(); engine.pollNow(); break;
    case Writes: engine.startWrites(in.writes); break;
    case HistoryCount: engine.requestHistoryCount(in.log); break;
    case HistoryRecord: engine.requestHistoryRecord(in.log, in.record); break;
    case HistoryInit: engine.initialiseHistory(in.log); break;
    case IpWrite: engine.writeIpBlock(QByteArray::fromHex("C0A8000A")); break;
    case HeldPoll: engine.release(); engine.pollNow(); engine.hold(); break;
    }
}

// The registers hold what the status answer carried, big-endian from `at`.
void checkRegisters(const ConsoleState &s, const QByteArray &payload, qsizetype at)
{
    if (payload.size() - at != qsizetype(s.StatusRegisterCount) * 2)
        fail("status decoded from data of the wrong size");
    for (int r = 0; r < s.StatusRegisterCount; ++r) {
        const int v = (std::uint8_t(payload[at + 2 * r]) << 8) | std::uint8_t(payload[at + 2 * r + 1]);
        if (s.StatusRegisters[size_t(r)] != v)
            fail("register decoded differently from the answer");
    }
}

void runOne(const std::uint8_t *data, size_t size)
{
    Input in;
    in.tcp = data[0] & 0x80;
    in.log = (data[0] & 0x40) ? LogKind::Alarm : LogKind::Event;
    in.kind = Kind(data[0] & 7);
    in.again = data[1] & 1;
    in.record = (data[2] << 8) | data[3];
    for (int i = 0; i <= data[4] % 4; ++i)
        in.writes.append({0x30 + i, 0x8005});

    ConsoleState state;
    LinkEngine engine(state);
    FakeTransport link;
    link.open();
    if (in.tcp) {
        engine.setLink(LinkKind::Tcp);
        engine.setTcpTransport(&link);
        engine.setReadTimeout(1000000);
    } else {
        engine.setSerialTransport(&link);
    }

    // A status decode is checked against the frame it came from: on serial the frame last
    // received, on TCP the answer the exchange completed with (seen right after the engine).
    QByteArray lastFrame;
    bool statusPending = false;
    int sequencesEnded = 0;
    int sequencesStarted = 0;
    // Gone before the values above: the link, dropped last, still makes the engine report.
    QObject checks;
    QObject::connect(&engine, &LinkEngine::consoleLine, &checks, [&lastFrame](const QByteArray &line) {
        if (line.startsWith("Receive >> "))
            lastFrame = line.mid(11);
    });
    QObject::connect(&engine, &LinkEngine::statusReceived, &checks, [&] {
        if (engine.pollingHeld())
            fail("status decoded while polling is held");
        if (in.tcp) {
            statusPending = true;
            return;
        }
        if (lastFrame.size() != state.StatusFrameLength + 2)
            fail("serial status decoded from a frame of the wrong size");
        const ParsedAnswer parsed = parseAsciiFrame(QByteArrayView(lastFrame).first(lastFrame.size() - 2));
        const auto *answer = std::get_if<Answer>(&parsed);
        if (!answer || answer->function != Function::ReadInputRegisters)
            fail("serial status decoded from a frame that is not a good status answer");
        checkRegisters(state, answer->payload, 2);
    });
    // The exchange is the engine's own: found as its child, for this check only.
    QObject::connect(engine.findChild<TcpExchange *>(), &TcpExchange::completed, &checks, [&](const QByteArray &response) {
        if (!std::exchange(statusPending, false))
            return;
        const QByteArray request = link.written().last();
        const quint16 transaction = quint16((std::uint8_t(request[0]) << 8) | std::uint8_t(request[1]));
        const ParsedAnswer parsed = parseMbapAnswer(response, transaction, Function::ReadInputRegisters);
        const auto *answer = std::get_if<Answer>(&parsed);
        if (request[7] != 0x04 || !answer || answer->payload.isEmpty() || answer->payload[0] != 0x06)
            fail("TCP status decoded from an answer that is not the poll's");
        checkRegisters(state, answer->payload, 1);
    });
    QObject::connect(&engine, &LinkEngine::writeAcknowledged, &checks, [&](RegisterWrite w) {
        if (!engine.writeSequenceRunning() || !in.writes.contains(w))
            fail("a write acknowledged that no running sequence sent");
    });
    QObject::connect(&engine, &LinkEngine::writeSequenceEnded, &checks, [&] {
        if (++sequencesEnded > sequencesStarted)
            fail("a write sequence ended twice");
    });
    QObject::connect(&engine, &LinkEngine::requestFailed, &checks, [](const RequestFailure &f) {
        if (f.fault == AnswerFault::Exception && (f.exceptionCode < -1 || f.exceptionCode > 255))
            fail("exception code out of range");
    });

    auto start = [&] {
        sequencesStarted += in.kind == Writes && !engine.writeSequenceRunning();
        ask(engine, in);
    };
    start();
    const size_t chunk = data[5] == 255 ? size : size_t(data[5]) + 1;
    const auto *stream = reinterpret_cast<const char *>(data + 6);
    const size_t length = size - 6;
    for (size_t at = 0; at < length; at += chunk) {
        link.injectNow(QByteArray(stream + at, qsizetype(std::min(chunk, length - at))));
        if (in.again && !(in.tcp && engine.tcpBusy()))
            start();
    }
    // Each entry of a sequence goes out at most once per sequence started.
    qsizetype writeFrames = 0;
    for (const QByteArray &frame : link.written())
        writeFrames += in.tcp ? (frame.size() > 7 && frame[7] == 0x06) : frame.startsWith(":0106");
    if (writeFrames > qsizetype(in.writes.size()) * sequencesStarted)
        fail("a write sent more often than it was queued");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    // A request left in flight when an input ends fails as its link goes: not worth a line.
    QLoggingCategory::setFilterRules(QStringLiteral("qeln.link.exchange.info=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    runOne(data, size);
    // There is no event loop here: flush what the objects of this input posted (their
    // queued signals were dropped when they were destroyed) so the queue does not grow.
    QCoreApplication::sendPostedEvents();
    return 0;
}
