#include "clicommand.h"

#include "clilink.h"
#include "clisignals.h"
#include "link/transport.h"

#include <csignal>

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
        connect(&engine_, &LinkEngine::requestFailed, this, [](const RequestFailure &failure) {
            printLine(stderr, QStringLiteral("request failed: ") + failure.reason);
        });
    }
}

CliCommand::~CliCommand()
{
    engine_.stopPolling();
    engine_.abandonTcpRequests();
    if (transport_)
        transport_->close();
}

void CliCommand::start()
{
    transport_ = attachLink(args_, engine_);
    connect(transport_.get(), &Transport::opened, this, &CliCommand::onOpened);
    connect(transport_.get(), &Transport::openFailed, this, &CliCommand::linkFailed);
    transport_->open();
}

void CliCommand::onOpened()
{
    if (done_ || started_)
        return;
    started_ = true;
    linkOpened();
}

void CliCommand::linkFailed(const QString &reason)
{
    finish(1, QStringLiteral("cannot open %1: %2").arg(transport_->description(), reason));
}

void CliCommand::holdPolling()
{
    hold_.take(engine_);
}

void CliCommand::startStatusPoll(bool now)
{
    hold_.reset();
    engine_.startPolling(300);
    if (now)
        engine_.pollNow();
}

void CliCommand::finish(int code, const QString &error)
{
    if (done_)
        return;
    done_ = true;
    deadline_.stop();
    stopping();
    engine_.stopPolling();
    engine_.abandonTcpRequests();
    if (!error.isEmpty())
        printLine(stderr, QStringLiteral("qeln-cli: ") + error);
    Q_EMIT finished(code);
}

void CliWatchCommand::start()
{
    QString reason;
    int code = 2;
    if (!prepare(reason, code)) {
        finish(code, reason);
        return;
    }
    signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, [this] {
        if (!done())
            stopRequested();
    });
    if (!signals_->watch({SIGINT, SIGTERM}, reason)) {
        finish(1, reason);
        return;
    }
    deadline_.start(FirstStatusWaitMs);
    CliCommand::start();
}

bool CliWatchCommand::prepare(QString &, int &)
{
    return true;
}

bool CliWatchCommand::firstAnswer()
{
    if (answered_ || done())
        return false;
    answered_ = true;
    deadline_.stop();
    return true;
}

void CliWatchCommand::linkOpened()
{
    // The link engine re-opens a TCP link that it finds closed; the poll runs on.
    startStatusPoll(false);
}

void CliWatchCommand::linkFailed(const QString &reason)
{
    if (!answered_)
        CliCommand::linkFailed(reason);
}

void CliWatchCommand::deadlinePassed()
{
    if (!answered_)
        finish(1, QStringLiteral("no valid status response from %1 within %2 s")
                      .arg(transport_->description())
                      .arg(FirstStatusWaitMs / 1000));
}

} // namespace qeln
