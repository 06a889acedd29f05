#pragma once

#include "clicommand.h"

#include <memory>



namespace qeln {

class LiveMonitor;

// qeln-cli's "log" command: the console's data log without windows. It polls the status as
// the console does, starts the log with the first decoded status (so no line is written
// from values nobody read), writes the same lines and files, and on SIGINT or SIGTERM
// saves what it holds and ends. Each file written is printed on standard output.
class CliLogger : public CliWatchCommand {
    Q_OBJECT
public:
    explicit CliLogger(const CliArgs &args, QObject *parent = nullptr);
    ~CliLogger() override;

    // log [--interval I] [--output-dir DIR]: the arguments after the command word.
    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);

protected:
    bool prepare(QString &reason, int &exitCode) override;
    void stopRequested() override;
    void stopping() override;

private:
    bool checkOutputFolder(QString &reason) const;
    void onFirstView();

    std::unique_ptr<LiveMonitor> monitor_;
    bool silenceReported_ = false;
};

} // namespace qeln
