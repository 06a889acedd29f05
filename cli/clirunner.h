#pragma once

#include "clicommand.h"

namespace qeln {

// qeln-cli's "status" and "write" commands.
class CliRunner : public CliCommand {
    Q_OBJECT
public:
    explicit CliRunner(const CliArgs &args, QObject *parent = nullptr);

    // status [--json] and write REG=VALUE...: the arguments after the command word.
    static bool parseStatus(const QStringList &args, CliArgs &out, QString &error);
    static bool parseWrite(const QStringList &args, CliArgs &out, QString &error);

    // How long `status` waits for the first decoded status, and `write` on a serial link for
    // each acknowledgement.
    static constexpr int StatusWaitMs = 5000;
    static constexpr int SerialAckWaitMs = 2000;
    static constexpr int TcpAckGuardMs = 10000;

protected:
    void linkOpened() override;
    void deadlinePassed() override;

private:
    void onStatusDecoded();
    void onMessage(qeln::MessageKind kind, const QString &text);
    void onWriteSequenceEnded(bool ok, const QString &message);
    void onRequestFailed(const RequestFailure &failure);
    void printStatus();

    bool refused_ = false; // the controller refused a write of the sequence
};

} // namespace qeln
