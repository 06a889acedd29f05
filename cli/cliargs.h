#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace qeln {

struct LinkTarget {
    bool tcp = false;
    QString host;     // TCP
    quint16 port = 502;
    QString device;   // serial
};

struct CliArgs {
    enum class Command {
        None, Help, Version, Status, Write, Log, History, ClearHistory,
        SettingsHelp, SettingsShow, SettingsDiff, SettingsApply, ClockSet, ClockSync, Calibrate, Factory,
        IpShow, IpApply,
    };
    Command command = Command::None;
    LinkTarget link;
    bool trace = false;
    bool json = false;
    QList<QPair<int, int>> writes; // register, value; in the order given
    // log: the data log's interval item (0 = 2 s ... 6 = 30 min) and output folder
    // (empty: the current directory).
    int logInterval = 0;
    QString outputDir;
    // history and clear-history: 1 alarm history, 2 event log; history's --out file (empty:
    // CSV on standard output).
    int historyKind = 0;
    QString outFile;
    // settings diff/apply: the settings document (empty for apply with assignments);
    // settings apply and calibrate: the KEY=VALUE arguments in the order given.
    QString settingsFile;
    QStringList assignments;
    // clock set: YYYY-MM-DDTHH:MM:SS as given (the form is checked, the ranges are not).
    QString clockTime;
    // factory: "reset" or "config"; only with --yes.
    QString factoryChoice;
    // ip apply: print the block in hex instead of sending it (KEY=VALUE in assignments,
    // --file in settingsFile).
    bool dryRun = false;
};

// The data log's intervals as the command line names them: "2s", "10s", "1m", ... "30m".
QStringList logIntervalNames();

// Parses the command line (without the program name). On a usage error returns false and
// puts the message into `error`.
bool parseCliArgs(const QStringList &args, CliArgs &out, QString &error);
bool parseLinkTarget(const QString &text, LinkTarget &out, QString &error);

QString cliUsage();

} // namespace qeln
