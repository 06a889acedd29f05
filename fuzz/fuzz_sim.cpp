// Feeds arbitrary bytes to the simulator's readers and protocol, both links at once: the
// controller side must survive any line noise, keep its buffers bounded and answer only with
// frames that parse back.
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
    // The plant is shared by both links, as in the running simulator.
    static Plant plant;
    static Protocol protocol(plant);

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
