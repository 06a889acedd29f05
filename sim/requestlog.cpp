#include "requestlog.h"

#include <cstdio>
#include <ctime>

namespace qeln::sim {

namespace {
constexpr qsizetype FlushAtBytes = 256 * 1024;
}

RequestLog::RequestLog(QObject *parent) : QObject(parent)
{
    flushTimer.setInterval(1000);
    connect(&flushTimer, &QTimer::timeout, this, [this] { flush(); });
}

RequestLog::~RequestLog()
{
    flush();
}

bool RequestLog::open(const QString &path, QString *error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = QStringLiteral("--request-log: cannot create %1: %2%3")
                     .arg(path, file.errorString(),
                          file.exists() ? QStringLiteral(" (it is never overwritten: give a new name)") : QString());
        return false;
    }
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    clock.start();
    char header[160];
    const int n = std::snprintf(header, sizeof header,
                                "# qeln-sim request log; start %lld.%03ld ms Unix time; ms index function\n",
                                static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000,
                                (now.tv_nsec / 1000) % 1000);
    pending.append(header, n);
    flushTimer.start();
    return flush();
}

void RequestLog::record(int controller, std::uint8_t function)
{
    const qint64 us = clock.nsecsElapsed() / 1000;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%lld.%03lld %d %u\n", us / 1000, us % 1000, controller,
                                unsigned(function));
    pending.append(line, n);
    ++records;
    if (pending.size() >= FlushAtBytes)
        flush();
}

bool RequestLog::flush()
{
    if (pending.isEmpty() || !file.isOpen())
        return !failed;
    const bool written = file.write(pending) == pending.size() && file.flush();
    pending.clear();
    if (!written && !failed) {
        failed = true;
        std::fprintf(stderr, "qeln-sim: request log %s: %s; requests from now on may be missing\n",
                     qPrintable(file.fileName()), qPrintable(file.errorString()));
    }
    return written;
}

} // namespace qeln::sim
