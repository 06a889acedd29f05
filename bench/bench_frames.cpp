// Nanoseconds per status frame through the serial and TCP receive paths: assembling, frame
// check and dispatch into the status registers; one decode of the registers into texts, and
// one into the exporter's samples.
// The frames, their reads and what is timed are the same as they have always been, so the
// figures compare across versions.
#include "app/consolestate.h"
#include "fleet/statussamples.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "monitor/statusview.h"
#include "testframes.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace qeln;

static void SerialStatusFrame(benchmark::State &bench)
{
    ConsoleState state;
    LinkEngine engine(state);
    FakeTransport port;
    port.open();
    engine.setSerialTransport(&port);
    int decoded = 0;
    QObject::connect(&engine, &LinkEngine::statusReceived, [&decoded] { ++decoded; });
    const QByteArray frame = testframes::serialStatusFrame(testframes::sampleRegisters());
    // As a 115200-baud line delivers it: a few reads per frame.
    const QByteArray parts[] = {frame.left(200), frame.mid(200, 200), frame.mid(400)};
    for (auto _ : bench) {
        for (const QByteArray &part : parts)
            port.injectNow(part);
    }
    if (decoded != int(bench.iterations()))
        bench.SkipWithError("a frame was not decoded");
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(SerialStatusFrame);

// The whole answer as the TCP exchange hands it on for the status poll in flight: parse,
// dispatch and conversion into the registers (the exchange's byte collection is not timed,
// as before).
static void TcpStatusFrame(benchmark::State &bench)
{
    ConsoleState state;
    LinkEngine engine(state);
    engine.setLink(LinkKind::Tcp);
    FakeTransport link;
    link.open();
    engine.setTcpTransport(&link);
    engine.setReadTimeout(1000000);
    engine.pollNow(); // the status request with transaction 1 goes out
    int decoded = 0;
    QObject::connect(&engine, &LinkEngine::statusReceived, [&decoded] { ++decoded; });
    // The engine's own exchange, reached as its child to time what follows it alone.
    auto *exchange = engine.findChild<TcpExchange *>();
    exchange->cancel();
    const QByteArray response = testframes::tcpStatusResponse(1, testframes::sampleRegisters());
    for (auto _ : bench)
        Q_EMIT exchange->completed(response);
    if (decoded != int(bench.iterations()))
        bench.SkipWithError("a frame was not decoded");
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(TcpStatusFrame);

// One whole decode of stored registers into the texts, visibility and alarms of the display.
static void StatusDecodeIntoTexts(benchmark::State &bench)
{
    ConsoleState state;
    const QList<int> regs = testframes::sampleRegisters();
    for (int n = 0; n < regs.size(); ++n)
        state.StatusRegisters[size_t(n)] = regs[n];
    state.StatusRegisters[25] = 4; // model 4: the CAN texts as well
    qsizetype texts = 0;
    for (auto _ : bench) {
        const StatusView view = decodeStatusView(state);
        texts += view.texts.size();
        benchmark::DoNotOptimize(texts);
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(StatusDecodeIntoTexts);

// One decode of the same registers into the plant status alone, with the exporter's samples:
// what the fleet exporter does per poll, without the texts.
static void StatusDecodeIntoSamples(benchmark::State &bench)
{
    ConsoleState state;
    const QList<int> regs = testframes::sampleRegisters();
    for (int n = 0; n < regs.size(); ++n)
        state.StatusRegisters[size_t(n)] = regs[n];
    state.StatusRegisters[25] = 4;
    qsizetype samples = 0;
    for (auto _ : bench) {
        samples += fleet::statusSamples(decodePlantStatus(state)).size();
        benchmark::DoNotOptimize(samples);
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(StatusDecodeIntoSamples);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
