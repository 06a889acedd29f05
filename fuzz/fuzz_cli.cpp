// The readers of `qeln-cli settings apply` and `qeln-cli ip apply`, run as the command line
// runs them: the arguments through the argument parser, the command's own check of its file
// or its KEY=VALUE arguments (nothing is sent when they are refused), and for the settings the
// write list they make against a controller's status.
//
// Input layout: byte 0 bits 0-1 pick the reader: 0 `settings apply FILE`, 1 `settings apply
// KEY=VALUE...`, 2 `ip apply --file FILE`, 3 `ip apply KEY=VALUE...`; the rest is the file,
// or the arguments one a line.
#include "cliargs.h"
#include "cliip.h"
#include "clisettings.h"
#include "config/settingscatalog.h"
#include "fuzzsupport.h"
#include "monitor/statusview.h"
#include "plant.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

using namespace qeln;
using fuzzsupport::fail;

namespace {

// A controller's status as the simulator's plant reports it after start-up, decoded as the
// console decodes it (the contacts' alarm masks included): what `settings apply` plans against.
const ConsoleState &plantStatus()
{
    static const ConsoleState state = [] {
        sim::Plant plant;
        plant.advance(5000);
        ConsoleState s;
        for (int r = 1; r <= sim::Plant::StatusRegisters; ++r)
            s.StatusRegisters[size_t(r - 1)] = plant.inputRegister(r);
        (void)decodeStatusView(s);
        return s;
    }();
    return state;
}

// The command's messages go to standard error; here they are kept to be checked.
class CapturedStderr {
public:
    CapturedStderr() : saved_(stderr)
    {
        stream_ = open_memstream(&text_, &size_);
        if (!stream_)
            fail("open_memstream");
        stderr = stream_;
    }
    ~CapturedStderr()
    {
        stderr = saved_;
        std::fclose(stream_);
        std::free(text_);
    }
    QByteArray text()
    {
        std::fflush(stream_);
        return QByteArray(text_, qsizetype(size_));
    }

private:
    std::FILE *saved_;
    std::FILE *stream_ = nullptr;
    char *text_ = nullptr;
    size_t size_ = 0;
};

template<typename Command>
void runCommand(const QStringList &argv, bool withFile)
{
    CliArgs args;
    QString error;
    if (!parseCliArgs(argv, args, error)) {
        // KEY=VALUE lines may be refused by the parser itself; a file name never is.
        if (withFile)
            fail("the command line with a file was refused");
        return;
    }
    // No device: a command whose input passes its checks ends when it tries to open the link,
    // and nothing is ever sent.
    args.link = LinkTarget{};
    int finished = 0;
    int code = -1;
    QByteArray messages;
    {
        CapturedStderr captured;
        Command command(args);
        QObject::connect(&command, &CliCommand::finished, [&](int c) {
            ++finished;
            code = c;
        });
        command.start();
        messages = captured.text();
    }
    if (finished != 1)
        fail("the command did not end exactly once");
    if (code == 2 && !messages.contains("nothing was sent"))
        fail("a refused input does not say that nothing was sent");
    if (code != 1 && code != 2)
        fail("the command ended with neither a refusal nor the missing link");
}

void plan(const QByteArray &document, const QStringList &assignments, bool file)
{
    config::settings::Values wanted;
    QString error;
    const bool ok = file ? config::settings::parseDocument(document, wanted, error)
                         : config::settings::parseAssignments(assignments, wanted, error);
    if (!ok)
        return;
    const config::settings::Diff d = config::settings::diff(plantStatus(), wanted);
    if (d.plan.refused() && d.plan.refusal.isEmpty())
        fail("a refused plan without a reason");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    (void)plantStatus();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static fuzzsupport::MemoryFile file;
    const int reader = data[0] & 3;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // Arguments only, never a file name: the file readers get their input through `file`.
    QStringList lines;
    for (const QString &line : QString::fromUtf8(rest).split(QLatin1Char('\n')))
        if (line.indexOf(QLatin1Char('=')) > 0 && !line.startsWith(QLatin1Char('-')))
            lines << line;
    const QStringList head{QStringLiteral("--link"), QStringLiteral("serial:/dev/qeln-fuzz-none")};

    switch (reader) {
    case 0: {
        const QString &path = file.write(data + 1, size - 1);
        runCommand<CliSettings>(head + QStringList{QStringLiteral("settings"), QStringLiteral("apply"), path}, true);
        plan(rest, {}, true);
        break;
    }
    case 1:
        runCommand<CliSettings>(head + QStringList{QStringLiteral("settings"), QStringLiteral("apply")} + lines, false);
        plan({}, lines, false);
        break;
    case 2: {
        const QString &path = file.write(data + 1, size - 1);
        runCommand<CliIp>(head + QStringList{QStringLiteral("ip"), QStringLiteral("apply"), QStringLiteral("--file"), path}, true);
        break;
    }
    default:
        runCommand<CliIp>(head + QStringList{QStringLiteral("ip"), QStringLiteral("apply")} + lines, false);
        break;
    }
    QCoreApplication::sendPostedEvents();
    return 0;
}
