#pragma once

#include "clicommand.h"

#include <memory>



namespace qeln {

class SignalWatcher;

class LiveMonitor;

// qeln-cli's "log" command: the console's data log without windows. It polls the status as
// the console does, starts the log with the first decoded status (so no line is written
// from values nobody read), writes the same lines and files, and on SIGINT or SIGTERM
// saves what it holds and ends. Each file written is printed on standard output.
class CliLogger : public CliCommand {
    Q_OBJECT
public:
    explicit CliLogger(const CliArgs &args, QObject *parent = nullptr);
    ~CliLogger() override;

    // log [--interval I] [--output-dir DIR]: the arguments after the command word.
    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);

    void start() override;

    // How long the controller has to answer the first status poll.
    static constexpr int FirstStatusWaitMs = 5000;

protected:
    void linkOpened() override;
    void linkFailed(const QString &reason) override;
    void stopping() override;
    void deadlinePassed() override;

private:
    bool checkOutputFolder(QString &reason) const;
    bool installSignalHandlers(QString &reason);
    void onFirstView();
    void onSignal();

    std::unique_ptr<LiveMonitor> monitor_;
    SignalWatcher *signals_ = nullptr;
    bool answered_ = false;
    bool silenceReported_ = false;
};

} // namespace qeln
