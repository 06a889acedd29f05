#include "processcollector.h"

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>

#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

namespace qeln::fleet {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily family(const char *name, const char *help, MetricType type, double value)
{
    ClientMetric m;
    if (type == MetricType::Counter)
        m.counter.value = value;
    else
        m.gauge.value = value;
    return MetricFamily{name, help, type, {m}};
}

QByteArray readProc(const char *path)
{
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

std::vector<MetricFamily> ProcessCollector::Collect() const
{
    std::vector<MetricFamily> out;
    // /proc/self/stat: the fields after the command's closing parenthesis, from field 3 on.
    const QByteArray stat = readProc("/proc/self/stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return out;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // Field n (1-based in proc(5)) is fields[n - 3].
    const auto field = [&fields](int n) { return n - 3 < fields.size() ? fields[n - 3].toDouble() : 0.0; };
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    const double page = double(::sysconf(_SC_PAGESIZE));
    out.push_back(family("process_cpu_seconds_total", "User and system CPU time spent in seconds.",
                         MetricType::Counter, (field(14) + field(15)) / ticks));
    out.push_back(family("process_virtual_memory_bytes", "Virtual memory size in bytes.", MetricType::Gauge,
                         field(23)));
    out.push_back(family("process_resident_memory_bytes", "Resident memory size in bytes.", MetricType::Gauge,
                         field(24) * page));
    double bootTime = 0;
    for (const QByteArray &line : readProc("/proc/stat").split('\n')) {
        if (line.startsWith("btime "))
            bootTime = line.mid(6).trimmed().toDouble();
    }
    if (bootTime > 0)
        out.push_back(family("process_start_time_seconds", "Start time of the process since the epoch in seconds.",
                             MetricType::Gauge, bootTime + field(22) / ticks));
    const QDir fds(QStringLiteral("/proc/self/fd"));
    out.push_back(family("process_open_fds", "Number of open file descriptors.", MetricType::Gauge,
                         double(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size())));
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        out.push_back(family("process_max_fds", "Maximum number of open file descriptors.", MetricType::Gauge,
                             double(limit.rlim_cur)));
    return out;
}

} // namespace qeln::fleet
