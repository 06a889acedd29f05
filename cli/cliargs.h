#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <limits>
#include <utility>

namespace qeln {

struct LinkTarget {
    bool tcp = false;
    QString host;     // TCP
    quint16 port = 502;
    QString device;   // serial
};

// log: the data log's interval item (0 = 2 s ... 6 = 30 min) and output folder (empty: the
// current directory).
struct LogOptions {
    int interval = 0;
    QString outputDir;
};

// history and clear-history: which log (1 alarm history, 2 event log); history's --out file
// (empty: CSV on standard output).
struct HistoryOptions {
    int kind = 0;
    QString outFile;
};

// settings, clock, calibrate and factory.
struct ConfigOptions {
    // settings diff/apply: the settings document (empty for apply with assignments).
    QString file;
    // settings apply and calibrate: the KEY=VALUE arguments in the order given.
    QStringList assignments;
    // clock set: YYYY-MM-DDTHH:MM:SS as given (the form is checked, the ranges are not).
    QString clockTime;
    // factory: "reset" or "config"; only with --yes.
    QString factoryChoice;
};

// ip apply: the KEY=VALUE arguments, the JSON object of --file, and --dry-run (print the block
// in hex instead of sending it).
struct IpOptions {
    QStringList assignments;
    QString file;
    bool dryRun = false;
};

// serve: the config file, the listen address that overrides the config's, the web config
// (basic auth, TLS); help: serve --help was asked for (nothing else is read).
struct ServeOptions {
    QString config;
    QString listen;
    QString webConfig;
    QString shard; // "K/N", empty for the whole fleet
    bool help = false;
};

// record and trend: the recording, the span, the channels (indexes), the step and the file.
struct TrendOptions {
    QString db;
    qint64 from = std::numeric_limits<qint64>::min();
    qint64 to = std::numeric_limits<qint64>::max();
    QList<int> channels; // empty: all
    qint64 stepMs = 0;   // 0: one row per status
    QString out;
};

// doctor: the device or TCP address to examine; none given: every listed port.
struct DoctorOptions {
    bool given = false;
    LinkTarget target;
};

// The command line: the options every command shares, then the command's own options.
struct CliArgs {
    enum class Command {
        None, Help, Version, Status, Write, Log, History, ClearHistory,
        SettingsHelp, SettingsShow, SettingsDiff, SettingsApply, ClockSet, ClockSync, Calibrate, Factory,
        IpShow, IpApply, Serve, Record, TrendList, TrendExport, Doctor,
    };
    Command command = Command::None;
    // The command word as given: the key into the command table (cli/clicommands.h).
    QString commandName;
    LinkTarget link;
    bool trace = false;
    // status, settings show and ip show: the answer as JSON.
    bool json = false;
    // write: register, value; in the order given.
    QList<QPair<int, int>> writes;
    LogOptions log;
    HistoryOptions history;
    ConfigOptions config;
    IpOptions ip;
    ServeOptions serve;
    TrendOptions trend;
    DoctorOptions doctor;
};

// The data log's intervals as the command line names them: "2s", "10s", "1m", ... "30m".
QStringList logIntervalNames();

// Parses the command line (without the program name): the shared options up to the command
// word, then the command's own parser from the command table. On a usage error returns false
// and puts the message into `error`.
bool parseCliArgs(const QStringList &args, CliArgs &out, QString &error);
bool parseLinkTarget(const QString &text, LinkTarget &out, QString &error);

// What the command parsers share.
namespace cliargs {

// A register, a value or a port: decimal or 0x-hex, plain digits (no sign, no blanks), in
// min..max.
bool parseNumber(const QString &text, int min, int max, int &out);

// Sets `error` and returns false, so a parser can end with `return fail(error, ...)`.
bool fail(QString &error, const QString &message);
// fail() with "<where>: unexpected argument '<arg>'"; `where` is the command (and sub-command).
bool unexpected(QString &error, const QString &where, const QString &arg);

// Walks a command's arguments one by one. --trace may stand anywhere among them: the
// cursor takes it (it sets the shared flag) and never shows it to the command.
class ArgCursor {
public:
    ArgCursor(QStringList args, bool &trace) : args_(std::move(args)), trace_(trace) {}

    // Moves to the next argument that is not --trace; false past the last one.
    bool next();
    const QString &arg() const { return args_.at(index_); }
    // The arguments after the current one.
    QStringList rest() const { return args_.mid(index_ + 1); }

    // Whether the current argument is the value option `name`: "--name" or "--name=VALUE".
    bool isOption(QLatin1StringView name) const;
    // The value of the value option isOption() matched: after '=', else the next argument
    // (which the cursor then steps over, whatever it looks like). False when a bare --name
    // is the last argument.
    bool takeValue(QString &value);

private:
    QStringList args_;
    bool &trace_;
    qsizetype index_ = -1;
};

// The arguments without --trace (which sets `trace`), for commands that read their
// sub-command and arguments as a list of words.
QStringList wordsWithoutTrace(const QStringList &args, bool &trace);

} // namespace cliargs

} // namespace qeln
