#pragma once

#include "app/consolelines.h"
#include "app/consolestate.h"
#include "cliargs.h"
#include "link/linkengine.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace qeln {

class Transport;

// What every qeln-cli command that talks to a controller shares: the console state and link
// engine, the link of --link, the trace of --trace, one deadline, and the end with an exit
// code. Nothing in it blocks; the command runs on the event loop and reports through
// finished().
class CliCommand : public QObject {
    Q_OBJECT
public:
    explicit CliCommand(const CliArgs &args, QObject *parent = nullptr);
    ~CliCommand() override;

    // Attaches and opens the link; linkOpened() follows (or the command ends with exit 1).
    virtual void start();

Q_SIGNALS:
    void finished(int exitCode);

protected:
    // The link is open for the first time (the engine re-opens a TCP link by itself later;
    // that does not start the command over).
    virtual void linkOpened() = 0;
    virtual void linkFailed(const QString &reason);
    // Called once as the command ends, before the poll stops and the link's requests are
    // dropped.
    virtual void stopping() {}
    virtual void deadlinePassed() {}

    // Polls the status as the console does (300 ms ticks); the first poll goes out at once
    // when `now`, else on the first tick as in the window.
    void startStatusPoll(bool now);
    // No status poll goes out (as while a settings dialog is open) until startStatusPoll().
    void holdPolling();
    void finish(int code, const QString &error = QString());
    bool done() const { return done_; }

    CliArgs args_;
    ConsoleState state_;
    LinkEngine engine_;
    ConsoleLineWriter trace_;
    std::unique_ptr<Transport> transport_;
    QTimer deadline_;

private:
    PollHold hold_;
    void onOpened();

    bool started_ = false;
    bool done_ = false;
};

class SignalWatcher;

// A command that polls the status as the console does until SIGINT or SIGTERM ("log",
// "record"): the controller has FirstStatusWaitMs to answer a first time; after that the link
// engine re-opens a TCP link by itself and the command runs on.
class CliWatchCommand : public CliCommand {
    Q_OBJECT
public:
    using CliCommand::CliCommand;
    void start() override;

    static constexpr int FirstStatusWaitMs = 5000;

protected:
    // What must hold before anything is sent: false with the reason and the exit code.
    virtual bool prepare(QString &reason, int &exitCode);
    // SIGINT or SIGTERM came (once; not after the command ended).
    virtual void stopRequested() = 0;
    // The first status was decoded: the start deadline is over. False when it came before.
    bool firstAnswer();
    bool answered() const { return answered_; }

    void linkOpened() override;
    void linkFailed(const QString &reason) override;
    void deadlinePassed() override;

private:
    SignalWatcher *signals_ = nullptr;
    bool answered_ = false;
};

} // namespace qeln
