#pragma once

#include "clicommand.h"
#include "network/ipsettings.h"
#include "network/ipsettingslink.h"

#include <QJsonObject>
#include <QMap>
#include <QTimer>

namespace qeln {

// qeln-cli ip show / ip apply: the controller's network block.
//   - show reads the block once (as the dialog does) and prints every field;
//     a block cut short prints what it held and ends with exit 1;
//   - apply checks every given value before the link opens (exit 2, nothing sent), reads the
//     block, builds the write with the dialog's builder (given keys changed and selected,
//     every other field as read), sends it (or prints it with --dry-run), reads the block
//     again and reports each writable field that does not read back as written (exit 1).
class CliIp : public CliCommand {
    Q_OBJECT
public:
    explicit CliIp(const CliArgs &args, QObject *parent = nullptr);

    // ip show [--json] | ip apply KEY=VALUE... [--file F.json] [--dry-run]: the arguments
    // after the command word.
    static bool parseArgs(const QStringList &args, CliArgs &out, QString &error);

    void start() override;

    // The writable keys, in block order.
    static QStringList writableKeys();
    // Every field of a read-back as the CLI shows it (JSON keys; a field the block did not
    // reach is null).
    static QJsonObject toJson(const IpSettingsReadBack &readBack);
    // KEY=VALUE assignments (and the JSON object of --file, command line first) onto the form:
    // each given key's texts set and its item selected. False with a message on an unknown
    // or read-only key or a value of the wrong shape.
    // The JSON object of `ip apply --file`: KEY: "VALUE" (the read-only keys of 'ip show
    // --json' are skipped). False with a message: not an object, a key given twice, a value
    // that is not a string. Keys are checked by applyChanges.
    static bool parseDocument(const QByteArray &json, QMap<QString, QString> &changes, QString &error);
    static bool applyChanges(const QMap<QString, QString> &changes, IpSettingsForm &form, QString &error);

    static constexpr int ReadWaitMs = 5000;
    // Between the write and the read that checks it.
    static constexpr int SettleMs = 400;

protected:
    void linkOpened() override;
    void deadlinePassed() override;

private:
    enum class Phase { Idle, Read, Writing, ReadBack };

    bool prepare();
    void sendRead();
    void onReadBackDecoded(const IpSettingsReadBack &readBack, quint64 generation);
    void onReadFailed(quint64 generation, const RequestFailure &failure);
    void apply(const IpSettingsReadBack &readBack);
    void readBackWhenIdle();
    void check(const IpSettingsReadBack &readBack);
    void printReadBack(const IpSettingsReadBack &readBack);

    Phase phase_ = Phase::Idle;
    IpSettingsLink ip_;
    quint64 ticket_ = 0;
    QMap<QString, QString> changes_;
    QByteArray written_;
    QTimer settle_;
};

} // namespace qeln
