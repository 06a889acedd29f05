// The status decode into texts, fed as a controller's answers: each 262 bytes of the input are
// one status answer (131 registers), framed as the link chosen by the first byte sends it, run
// through the engine's reception, the live monitor's decode steps (module tree, texts and
// indicators, alarm changes), the power-flow animation and the settings catalog's view of the
// same registers (`qeln-cli settings show`).
//
// Input layout: byte 0 bit 0 picks TCP, bits 1-3 the animation ticks per answer; the rest is
// the register bytes, big-endian, answer after answer (a short last answer keeps the previous
// answer's bytes where it ends), at most four answers.
#include "app/consolestate.h"
#include "config/settingscatalog.h"
#include "fuzzsupport.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "monitor/livemonitor.h"
#include "monitor/moduletree.h"
#include "monitor/powerflow.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>

using namespace qeln;
using fuzzsupport::fail;

namespace {

constexpr int Registers = 131;
constexpr int AnswerBytes = Registers * 2;
// Enough answers for the changes between them (alarms raised and cleared, modules coming and
// going); more only slow the run down.
constexpr size_t MaxAnswers = 4;

QByteArray tcpAnswer(int transaction, const QByteArray &data)
{
    QByteArray out;
    const int length = int(data.size()) + 3;
    out.append(char(transaction >> 8)).append(char(transaction & 0xFF)).append('\0').append('\0');
    out.append(char(length >> 8)).append(char(length & 0xFF)).append(char(1)).append(char(4));
    out.append(char(data.size() & 0xFF)).append(data);
    return out;
}

void runOne(const std::uint8_t *data, size_t size)
{
    const bool tcp = data[0] & 1;
    const int ticks = (data[0] >> 1) & 7;

    ConsoleState state;
    LinkEngine engine(state);
    FakeTransport link;
    link.open();
    if (tcp) {
        engine.setLink(LinkKind::Tcp);
        engine.setTcpTransport(&link);
        engine.setReadTimeout(1000000);
    } else {
        engine.setSerialTransport(&link);
    }
    LiveMonitor monitor(engine, state);
    int decoded = 0;
    QObject::connect(&engine, &LinkEngine::statusReceived, [&decoded] { ++decoded; });

    QByteArray registers(AnswerBytes, '\0');
    const auto *stream = reinterpret_cast<const char *>(data + 1);
    const size_t length = size - 1;
    int answers = 0;
    for (size_t at = 0; at < length && at < MaxAnswers * AnswerBytes; at += AnswerBytes) {
        const size_t n = std::min(size_t(AnswerBytes), length - at);
        std::memcpy(registers.data(), stream + at, n);
        // The poll goes out (transaction answers + 1 on TCP) and is answered.
        engine.pollNow();
        if (tcp) {
            link.injectNow(tcpAnswer(answers + 1, registers));
        } else {
            // ":" unit function, the byte count in four digits, the registers, LRC, CR LF.
            link.injectNow(fuzzsupport::serialText("01040106" + fuzzsupport::hexPairs(registers)) + "\r\n");
        }
        ++answers;
        if (decoded != answers)
            fail("a well-formed status answer was not decoded");
        for (int r = 0; r < Registers; ++r) {
            const int expected = (std::uint8_t(registers[2 * r]) << 8) | std::uint8_t(registers[2 * r + 1]);
            if (state.StatusRegisters[size_t(r)] != expected)
                fail("register decoded differently from the bytes sent");
        }
        const StatusView &view = monitor.view();
        if (view.contactCount != 4 && view.contactCount != 6)
            fail("contact count");
        for (int t = 0; t < ticks; ++t)
            monitor.onPowerFlowTick();
        monitor.tree().onBlinkTick();
    }
    (void)config::settings::toText(state);
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
    if (size < 2)
        return 0;
    runOne(data, size);
    QCoreApplication::sendPostedEvents();
    return 0;
}
