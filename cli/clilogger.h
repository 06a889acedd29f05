#pragma once

#include "app/consolelines.h"
#include "app/consolestate.h"
#include "cliargs.h"
#include "link/linkengine.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace qeln {

class LiveMonitor;
class Transport;

// qeln-cli's "log" command: the console's data log without windows. It polls the status as
// the console does, starts the log with the first decoded status (so no line is written
// from values nobody read), writes the same lines and files, and on SIGINT or SIGTERM
// saves what it holds and ends. Each file written is printed on standard output.
class CliLogger : public QObject {
    Q_OBJECT
public:
    explicit CliLogger(const CliArgs &args, QObject *parent = nullptr);
    ~CliLogger() override;

    void start();

    // How long the controller has to answer the first status poll.
    static constexpr int FirstStatusWaitMs = 5000;

Q_SIGNALS:
    void finished(int exitCode);

private:
    bool checkOutputFolder(QString &reason) const;
    bool installSignalHandlers(QString &reason);
    void onOpened();
    void onOpenFailed(const QString &reason);
    void onFirstView();
    void onSignal();
    void onDeadline();
    void finish(int code, const QString &error = QString());

    CliArgs args_;
    ConsoleState state_;
    LinkEngine engine_;
    ConsoleLineWriter trace_;
    std::unique_ptr<LiveMonitor> monitor_;
    std::unique_ptr<Transport> transport_;
    QSocketNotifier *signals_ = nullptr;
    QTimer deadline_;
    bool opened_ = false;
    bool answered_ = false;
    bool silenceReported_ = false;
    bool done_ = false;
};

} // namespace qeln
