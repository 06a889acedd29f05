// Feeds arbitrary bytes to the serial and TCP receive paths in every request state.
//
// Input layout: byte 0 picks the link (bit 7), the history mode (bit 6) and the request state;
// byte 1 the function of the TCP request in flight; bytes 2-3 the transaction number; byte 4
// the write-queue count and the record count a history decoder reports; byte 5 the size of
// each read (1..255 bytes, or 255 for one read of everything); the rest is the received stream.
#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "link/hextext.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace qeln;

namespace {

constexpr std::uint8_t States[] = {0, 2, 10, 11, 20, 21, 22, 23};
constexpr int Functions[] = {0x04, 0x06, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};

class FuzzDecoders : public ResponseDecoders {
public:
    int total = 0;
    void DecodeHistoryCount(ConsoleState &s) override
    {
        s.RecordTotal = total;
        s.RecordIndex = 1;
        s.HistoryDownloadActive = 1;
    }
    void AdvanceHistoryRecord(ConsoleState &s) override { ++s.RecordIndex; }
    void DecodeIpSettings(ConsoleState &) override {}
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// What the status decoder may be handed: a frame a controller could have sent.
void checkStatusInput(const ConsoleState &s)
{
    if (s.RequestState != 0)
        fail("status decoded outside the poll state");
    if (s.LinkIsTcp == 0) {
        const QByteArray &t = s.ResponseText;
        if (t.size() != s.StatusFrameLength || t[0] != ':' || t.mid(3, 2) != "04")
            fail("serial status text malformed");
        unsigned sum = 0;
        for (int i = 1; i + 1 < t.size() - 2; i += 2)
            sum += unsigned(HexToInt(QByteArrayView(t).sliced(i, 2)));
        if (HexToInt(QByteArrayView(t).sliced(t.size() - 2, 2)) != int((256 - (sum & 0xFF)) & 0xFF))
            fail("serial status with a wrong LRC decoded");
    } else if (s.ResponseText.size() != s.StatusRegisterCount * 2) {
        fail("TCP status data of the wrong size decoded");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

namespace {

void runOne(const std::uint8_t *data, size_t size)
{
    ConsoleState state;
    const bool tcp = data[0] & 0x80;
    state.LinkIsTcp = tcp ? 1 : 0;
    state.SerialPortOpen = 1;
    state.RequestState = States[data[0] % sizeof(States)];
    state.HistoryMode = (data[0] & 0x40) ? 1 : 2;
    state.FrameFunction = Functions[data[1] % (sizeof(Functions) / sizeof(int))];
    state.TransactionId = (data[2] << 8) | data[3];
    state.WriteCount = data[4] % 4;

    LinkEngine engine(state);
    FuzzDecoders decoders;
    decoders.total = data[4] % 8;
    engine.setDecoders(&decoders);
    FakeTransport link;
    link.open();
    if (tcp) {
        engine.setTcpTransport(&link);
        engine.tcpExchange()->setReadTimeout(1000000);
    } else {
        engine.setSerialTransport(&link);
    }
    QObject::connect(&engine, &LinkEngine::statusDecodeStarted, [&state] { checkStatusInput(state); });

    const size_t chunk = data[5] == 255 ? size : size_t(data[5]) + 1;
    const auto *stream = reinterpret_cast<const char *>(data + 6);
    const size_t length = size - 6;
    for (size_t at = 0; at < length; at += chunk) {
        const QByteArray read(stream + at, qsizetype(std::min(chunk, length - at)));
        if (tcp) {
            engine.AssembleTcpFrame(read);
        } else {
            engine.ComPort11AfterRead(read);
        }
        // A dispatched answer may have sent the next TCP request; it stays unanswered.
        engine.abandonTcpRequests();
        state.FrameFunction = Functions[data[1] % (sizeof(Functions) / sizeof(int))];
    }
}

} // namespace

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
