#include "clicommand.h"

#include "clilink.h"
#include "link/transport.h"

namespace qeln {

CliCommand::CliCommand(const CliArgs &args, QObject *parent)
    : QObject(parent), args_(args), engine_(state_), trace_(args.trace ? stderr : nullptr)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (!done_)
            deadlinePassed();
    });
    // Without --trace nobody reads the console lines: they are not even made.
    if (args_.trace) {
        connect(&engine_, &LinkEngine::consoleLine, &trace_, &ConsoleLineWriter::onLine);
        connect(&engine_, &LinkEngine::tcpRequestFailed, this, [](const QString &reason) {
            printLine(stderr, QStringLiteral("request failed: ") + reason);
        });
    }
}

CliCommand::~CliCommand()
{
    engine_.pollTimer()->stop();
    engine_.abandonTcpRequests();
    if (transport_)
        transport_->close();
}

void CliCommand::start()
{
    transport_ = attachLink(args_, state_, engine_);
    connect(transport_.get(), &Transport::opened, this, &CliCommand::onOpened);
    connect(transport_.get(), &Transport::openFailed, this, &CliCommand::linkFailed);
    transport_->open();
}

void CliCommand::onOpened()
{
    if (done_ || started_)
        return;
    started_ = true;
    if (!args_.link.tcp)
        state_.SerialPortOpen = 1;
    linkOpened();
}

void CliCommand::linkFailed(const QString &reason)
{
    finish(1, QStringLiteral("cannot open %1: %2").arg(transport_->description(), reason));
}

void CliCommand::startStatusPoll(bool now)
{
    state_.RequestState = StatePoll;
    state_.PollReady = 1;
    engine_.pollTimer()->setInterval(300);
    engine_.pollTimer()->start();
    if (now)
        engine_.Timer1Timer();
}

void CliCommand::finish(int code, const QString &error)
{
    if (done_)
        return;
    done_ = true;
    deadline_.stop();
    stopping();
    engine_.pollTimer()->stop();
    engine_.abandonTcpRequests();
    if (!error.isEmpty())
        printLine(stderr, QStringLiteral("qeln-cli: ") + error);
    Q_EMIT finished(code);
}

} // namespace qeln
