#include "historyfaults.h"

#include <QStringList>

namespace qeln::sim {

namespace {

struct FaultName {
    const char *name;
    HistoryFault fault;
};

constexpr FaultName faultNames[] = {
    {"drop", HistoryFault::Drop},   {"corrupt", HistoryFault::Corrupt},
    {"short", HistoryFault::Short}, {"long", HistoryFault::Long},
    {"other-log", HistoryFault::OtherLog},
};

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// A plain decimal number in low..high: no sign, no blanks, no other base.
bool wholeNumber(QStringView text, int low, int high, int *out)
{
    if (text.isEmpty() || text.size() > 6)
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int value = text.toInt();
    if (value < low || value > high)
        return false;
    *out = value;
    return true;
}

} // namespace

QString historyFaultName(HistoryFault fault)
{
    for (const FaultName &f : faultNames) {
        if (f.fault == fault)
            return QLatin1String(f.name);
    }
    return QStringLiteral("none");
}

bool parseHistoryFault(QStringView text, HistoryFaultRule::Target target, HistoryFaultRule *out,
                       QString *error)
{
    const bool numbered = target != HistoryFaultRule::Target::Count;
    const QString form = numbered ? QStringLiteral("N:KIND[:TIMES]") : QStringLiteral("KIND[:TIMES]");
    const QList<QStringView> parts = text.split(u':');
    const qsizetype first = numbered ? 1 : 0;
    if (parts.size() < first + 1 || parts.size() > first + 2)
        return fail(error, QStringLiteral("not of the form %1").arg(form));

    HistoryFaultRule rule;
    rule.target = target;
    if (numbered) {
        // Record numbers run 0..4999; requests are counted from 1.
        const bool request = target == HistoryFaultRule::Target::Request;
        if (!wholeNumber(parts[0], request ? 1 : 0, request ? 65535 : 4999, &rule.at))
            return fail(error, request ? QStringLiteral("the request's place must be a number 1..65535")
                                       : QStringLiteral("the record number must be 0..4999"));
    }
    const QStringView kind = parts[first];
    for (const FaultName &f : faultNames) {
        if (kind == QLatin1String(f.name))
            rule.fault = f.fault;
    }
    if (rule.fault == HistoryFault::None) {
        QStringList names;
        for (const FaultName &f : faultNames)
            names << QLatin1String(f.name);
        return fail(error, QStringLiteral("the kind must be one of %1").arg(names.join(QStringLiteral(", "))));
    }
    if (parts.size() == first + 2) {
        const QStringView times = parts[first + 1];
        if (times == QLatin1String("all"))
            rule.times = 0;
        else if (!wholeNumber(times, 1, 65535, &rule.times))
            return fail(error, QStringLiteral("the times must be a number 1..65535 or \"all\""));
    }
    *out = rule;
    return true;
}

HistoryFaults::HistoryFaults(const HistoryFaultSettings &settings)
    : config(settings)
{
}

bool HistoryFaults::hits(const HistoryFaultRule &rule, int ordinal)
{
    // ordinal counts from 1: the first answer (or request) the rule looks at.
    return ordinal >= 1 && (rule.times == 0 || ordinal <= rule.times);
}

HistoryFault HistoryFaults::countAnswered(int log)
{
    Download &d = download(log);
    d.requests = 0;
    d.perRecord.clear();
    ++d.counts;
    for (const HistoryFaultRule &rule : std::as_const(config.rules)) {
        if (rule.target == HistoryFaultRule::Target::Count && hits(rule, d.counts))
            return rule.fault;
    }
    return HistoryFault::None;
}

HistoryFault HistoryFaults::recordAnswered(int log, int number)
{
    Download &d = download(log);
    ++d.requests;
    const int forThisRecord = ++d.perRecord[number];
    for (const HistoryFaultRule &rule : std::as_const(config.rules)) {
        switch (rule.target) {
        case HistoryFaultRule::Target::Count:
            break;
        case HistoryFaultRule::Target::Record:
            if (rule.at == number && hits(rule, forThisRecord))
                return rule.fault;
            break;
        case HistoryFaultRule::Target::Request:
            if (hits(rule, d.requests - rule.at + 1))
                return rule.fault;
            break;
        }
    }
    return HistoryFault::None;
}

} // namespace qeln::sim
