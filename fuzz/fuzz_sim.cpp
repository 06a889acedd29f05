// Feeds arbitrary bytes to the simulator's readers and protocol, both links at once: the
// controller side must survive any line noise, keep its buffers bounded and answer only with
// frames that parse back, also while the history faults reshape its answers.
#include "historyfaults.h"
#include "plant.h"
#include "simframing.h"
#include "simprotocol.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace qeln::sim;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The history fault set-ups an input can choose with the top bits of its first byte.
HistoryFaultSettings faultSetup(int which)
{
    using Target = HistoryFaultRule::Target;
    HistoryFaultSettings s;
    switch (which) {
    case 1:
        s.rules = {{Target::Record, 0, HistoryFault::Short, 0}, {Target::Record, 1, HistoryFault::Long, 0},
                   {Target::Record, 2, HistoryFault::OtherLog, 0}, {Target::Record, 3, HistoryFault::Drop, 2}};
        break;
    case 2:
        s.rules = {{Target::Count, 0, HistoryFault::OtherLog, 0}, {Target::Request, 2, HistoryFault::OtherLog, 3},
                   {Target::Request, 6, HistoryFault::Short, 0}};
        break;
    case 3:
        s.rules = {{Target::Count, 0, HistoryFault::Long, 2}, {Target::Count, 0, HistoryFault::Short, 0},
                   {Target::Request, 1, HistoryFault::Corrupt, 0}};
        break;
    default:
        break;
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The plant is shared by both links, as in the running simulator; a few records in each
    // log give the record requests something to answer.
    static Plant plant;
    static Protocol protocol(plant);
    static const bool filled = [] {
        plant.prefillHistory(8);
        plant.prefillEvents(8);
        return true;
    }();
    (void)filled;
    protocol.setHistoryFaults(faultSetup(data[0] >> 6));

    const size_t chunk = size_t(data[0] % 64) + 1;
    const auto *stream = reinterpret_cast<const char *>(data + 1);
    const size_t length = size - 1;

    ascii::FrameReader serial;
    mbap::AduReader tcp;
    for (size_t at = 0; at < length; at += chunk) {
        const QByteArrayView read(stream + at, qsizetype(std::min(chunk, length - at)));
        serial.feed(read);
        tcp.feed(read);
        while (const auto text = serial.next()) {
            if (text->size() > ascii::MaxFrameChars)
                fail("serial frame over the limit");
            const auto request = ascii::parseFrame(*text);
            if (!request)
                continue;
            const Reply reply = protocol.answer(LinkKind::Serial, request->pdu);
            if (reply.kind == Reply::Kind::Pdu) {
                const QByteArray frame = ascii::buildFrame({request->unit, reply.pdu});
                if (!ascii::parseFrame(QByteArrayView(frame).sliced(1, frame.size() - 3)))
                    fail("serial answer does not parse back");
            }
        }
        while (const auto adu = tcp.next()) {
            const Reply reply = protocol.answer(LinkKind::Tcp, adu->message.pdu);
            if (reply.kind == Reply::Kind::Pdu && mbap::build(adu->transaction, {adu->message.unit, reply.pdu}).size()
                                                        != mbap::HeaderSize + 1 + reply.pdu.size())
                fail("TCP answer length");
        }
        if (tcp.buffered() > mbap::HeaderSize + mbap::MaxLength)
            fail("TCP buffer over the limit");
    }
    return 0;
}
