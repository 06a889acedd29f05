#pragma once

#include "historyfaults.h"
#include "linefaults.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace qeln::sim {

// What the simulator's command line asks for, range-checked.
struct SimOptions {
    QHostAddress bind = QHostAddress(QHostAddress::LocalHost);
    quint16 tcpPort = 1502;
    bool tcp = true;
    bool pty = false;
    QString serialDevice;
    int model = 3;
    double speed = 1.0;
    int history = 0;
    int eventHistory = 0;
    QString logFile;
    QByteArray ipBlock; // null: the plant's own
    QDateTime clock;    // invalid: the host's time at start
    QString scenario;
    bool trace = false;
    FaultSettings faults; // its seed is the plant's seed too
    HistoryFaultSettings historyFaults;

    // A fleet: this many controllers in one process, each a plant of its own on a TCP port of
    // its own (0: one controller, as without --fleet). With a fleet, tcpPort is the first of
    // consecutive ports, or 0 for any free port each.
    int fleet = 0;
    int fleetDead = 0;   // the last ones: accept connections and never answer
    int fleetSlow = 0;   // the ones before the dead: every answer fleetSlowMs late
    int fleetSlowMs = 0;
    QString requestLog;  // a file to create with one line per request received; empty: none
};

struct SimCommandLine {
    enum Outcome {
        Run,     // options holds what to run
        Help,    // text: the help to print
        Version, // print the version
        Refused, // text: what is wrong (without the hint to --help)
    };
    Outcome outcome = Refused;
    SimOptions options;
    QString text;
};

// Reads the arguments (the program's name first). The first fault found is the one reported;
// --help and --version win over any option value, but not over an unknown option.
SimCommandLine parseSimCommandLine(const QStringList &arguments);

} // namespace qeln::sim
