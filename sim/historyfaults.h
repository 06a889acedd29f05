#pragma once

// Faults of the history download, for the tests of a master's download: answers to count and
// record requests that are lost, spoilt, of the wrong size, of the other log, or late. Each
// rule names which answers it hits; nothing is random here except how an answer is spoilt,
// which the link's seeded dice choose.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

namespace qeln::sim {

enum class HistoryFault {
    None,
    Drop,     // no answer
    Corrupt,  // spoilt as the link spoils answers: a wrong LRC (serial); a wrong transaction
              // id, length or function, a cut answer or an exception (TCP)
    Short,    // one data byte short, well framed
    Long,     // one data byte too many, well framed
    OtherLog, // the answer the same request of the other log would get: its code and layout
};

struct HistoryFaultRule {
    enum class Target {
        Count,   // the count answers of each log, from the first on
        Record,  // the answers for record number `at` in each download
        Request, // the answers to the record requests of each download from the `at`-th on
    };
    Target target = Target::Record;
    int at = 0;
    HistoryFault fault = HistoryFault::None;
    int times = 1; // how many answers in a row; 0: every one
};

struct HistoryFaultSettings {
    QList<HistoryFaultRule> rules; // the first rule that hits an answer decides
    int countDelayMs = 0;          // count answers leave this much later
    int recordDelayMs = 0;         // answers to record requests leave this much later
};

// Reads the option texts "KIND[:TIMES]" (count) and "N:KIND[:TIMES]" (record, request), with
// KIND one of drop, corrupt, short, long, other-log and TIMES a number 1..65535 or "all".
// On a fault *error says what is wrong.
bool parseHistoryFault(QStringView text, HistoryFaultRule::Target target, HistoryFaultRule *out,
                       QString *error);
QString historyFaultName(HistoryFault fault);

// Keeps count of the history answers and applies the rules. A download of a log starts with
// each count request of that log; record and request rules count within it.
class HistoryFaults {
public:
    HistoryFaults() = default;
    explicit HistoryFaults(const HistoryFaultSettings &settings);
    const HistoryFaultSettings &settings() const { return config; }

    // A count request of log 1 (alarm) or 2 (event) is being answered.
    HistoryFault countAnswered(int log);
    // A record request of the log for this record number is being answered.
    HistoryFault recordAnswered(int log, int number);

private:
    struct Download {
        int counts = 0;      // count answers of this log since the start
        int requests = 0;    // record requests of the current download
        QHash<int, int> perRecord; // record number: answers given in this download
    };
    Download &download(int log) { return log == 2 ? event : alarm; }
    static bool hits(const HistoryFaultRule &rule, int ordinal);

    HistoryFaultSettings config;
    Download alarm;
    Download event;
};

} // namespace qeln::sim
