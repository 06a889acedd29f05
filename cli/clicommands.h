#pragma once

#include "cliargs.h"

#include <QString>
#include <QStringList>

namespace qeln {

// One qeln-cli command: its word, its own argument parser, how it runs, and its part of the
// usage text.
struct CliCommandEntry {
    QLatin1StringView name;
    // Parses the arguments after the command word into `out` and sets out.command. On a usage
    // error returns false with the message in `error`.
    bool (*parse)(const QStringList &args, CliArgs &out, QString &error);
    // Runs the parsed command on the event loop to its end; returns the exit status.
    int (*run)(const CliArgs &args);
    // The usage text lists related commands in groups with a blank line between them; this
    // command opens one.
    bool opensGroup;
    const char *help;
};

// The command of that word; nullptr when there is none.
const CliCommandEntry *findCliCommand(const QString &name);

// `qeln-cli --help`: the shared options, every command's help in table order, the exit codes.
QString cliUsage();

} // namespace qeln
