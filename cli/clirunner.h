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

// Runs one command of qeln-cli on the event loop and reports its exit code through
// finished(); nothing in it blocks.
class CliRunner : public QObject {
    Q_OBJECT
public:
    explicit CliRunner(const CliArgs &args, QObject *parent = nullptr);
    ~CliRunner() override;

    void start();

    // How long `status` waits for the first decoded status, and `write` on a serial link for
    // each acknowledgement.
    static constexpr int StatusWaitMs = 5000;
    static constexpr int SerialAckWaitMs = 2000;
    static constexpr int TcpAckGuardMs = 10000;

Q_SIGNALS:
    void finished(int exitCode);

private:
    void onOpened();
    void onOpenFailed(const QString &reason);
    void onStatusDecoded();
    void onMessage(qeln::MessageKind kind, const QString &text);
    void onTcpFailed(const QString &reason);
    void onDeadline();
    void finish(int code, const QString &error = QString());
    void printStatus();

    CliArgs args_;
    ConsoleState state_;
    LinkEngine engine_;
    ConsoleLineWriter trace_;
    std::unique_ptr<Transport> transport_;
    QTimer deadline_;
    bool started_ = false;
    bool done_ = false;
};

} // namespace qeln
