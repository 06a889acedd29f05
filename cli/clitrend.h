#pragma once

#include "clicommand.h"

#include <QString>

#include <memory>

namespace qeln {

class IpSettingsLink;
class LiveMonitor;

namespace trend {
class Recorder;
}

// qeln-cli's "record" command: polls the status as the console does and records every
// decoded status into a trend file (--db FILE, or trends/ under the current folder, one file
// per controller, named by the serial number its network block gives at the first answer)
// until SIGINT or SIGTERM.
class CliRecord : public CliWatchCommand {
    Q_OBJECT
public:
    explicit CliRecord(const CliArgs &args, QObject *parent = nullptr);
    ~CliRecord() override;

    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);
protected:
    bool prepare(QString &reason, int &exitCode) override;
    void stopRequested() override;
    void stopping() override;

private:
    std::unique_ptr<LiveMonitor> monitor_;
    std::unique_ptr<trend::Recorder> recorder_;
    std::unique_ptr<IpSettingsLink> ip_;
    quint64 identityRead_ = 0;
    QString namedFile_; // the file last named on stdout
};

// "trend list" and "trend export": read a recording; no controller is involved.
bool parseTrendArgs(const QStringList &args, CliArgs &out, QString &error);
int runTrend(const CliArgs &args);

} // namespace qeln
