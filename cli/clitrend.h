#pragma once

#include "clicommand.h"

#include <memory>

namespace qeln {

class LiveMonitor;
class SignalWatcher;

namespace trend {
class Recorder;
}

// qeln-cli's "record" command: polls the status as the console does and records every
// decoded status into a trend file (--db FILE, or trends/ under the current folder, one file
// per controller) until SIGINT or SIGTERM.
class CliRecord : public CliCommand {
    Q_OBJECT
public:
    explicit CliRecord(const CliArgs &args, QObject *parent = nullptr);
    ~CliRecord() override;

    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);
    void start() override;

    static constexpr int FirstStatusWaitMs = 5000;

protected:
    void linkOpened() override;
    void linkFailed(const QString &reason) override;
    void deadlinePassed() override;
    void stopping() override;

private:
    void onSignal();

    std::unique_ptr<LiveMonitor> monitor_;
    std::unique_ptr<trend::Recorder> recorder_;
    SignalWatcher *signals_ = nullptr;
    bool answered_ = false;
};

// "trend list" and "trend export": read a recording; no controller is involved.
bool parseTrendArgs(const QStringList &args, CliArgs &out, QString &error);
int runTrend(const CliArgs &args);

} // namespace qeln
