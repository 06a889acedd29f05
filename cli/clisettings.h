#pragma once

#include "clicommand.h"
#include "config/settingscatalog.h"
#include "config/writeplan.h"

namespace qeln {

// qeln-cli's configuration commands: settings show/diff/apply, clock set/sync, calibrate and
// factory. Each holds the poll while it writes, as the dialogs do, and
// writes through the same plan functions as the dialogs.
//   - settings show/diff/apply and calibrate poll the status once first (current values,
//     model code);
//   - settings apply reads every written register back with one more status poll; a register
//     that does not hold what was written is reported and the exit status is 1;
//   - a write sequence that fails (refused by the controller, link failure, no
//     acknowledgement) ends the command at once with the engine's message, exit 1;
//   - a bad key or value ends it with exit 2 before anything is sent.
class CliSettings : public CliCommand {
    Q_OBJECT
public:
    explicit CliSettings(const CliArgs &args, QObject *parent = nullptr);

    // settings show|diff|apply (or --help), clock set|sync, calibrate KEY=VALUE... and
    // factory reset|config --yes: the arguments after the command word.
    static bool parseSettings(const QStringList &args, CliArgs &out, QString &error);
    static bool parseClock(const QStringList &args, CliArgs &out, QString &error);
    static bool parseCalibrate(const QStringList &args, CliArgs &out, QString &error);
    static bool parseFactory(const QStringList &args, CliArgs &out, QString &error);

    void start() override;

    // `qeln-cli settings --help`.
    static QString helpText();

    static constexpr int StatusWaitMs = 5000;
    // Guards a write sequence that neither ends nor fails; the engine's own time-outs
    // (1 s TCP read, 3 s serial acknowledgement) normally end it long before.
    static constexpr int WriteGuardMs = 10000;

protected:
    void linkOpened() override;
    void deadlinePassed() override;

private:
    enum class Phase { Idle, Poll, Writing, ReadBack };

    bool needsStatus() const;
    bool prepare(); // reads and checks what needs no controller; false: finished with 2
    void onStatusDecoded();
    void onRequestSent();
    void onWriteSequenceEnded(bool ok, const QString &message);
    void afterPoll();
    void startWriting(const config::WritePlan &plan);
    void readBack();
    void checkReadBack();

    Phase phase_ = Phase::Idle;
    bool readBackSent_ = false;
    config::settings::Values wanted_;
    config::WritePlan plan_; // clock and factory: planned before the link opens
    QList<RegisterWrite> written_;
};

} // namespace qeln
