// What a month of trend recording costs: a synthetic recording of 30 days at one status a
// second, its file size, the time to open it and to draw spans of one minute to 30 days, the
// resident memory after drawing, and the CPU that recording takes while connected.
//
// Figures are printed, not judged. The recording is made once and kept (`--db`); a run that
// has to make it starts itself again afterwards, so that the memory figures are those of a
// process that only opened and drew.
//
// Usage: trend_bench [--db FILE] [--days 30] [--repeats 15] [--record 3600] [--seed 1]

#include "monitor/statusview.h"
#include "trend/recorder.h"
#include "trend/trendstore.h"

#include "plant.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <numbers>
#include <random>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace qeln;
using namespace qeln::trend;

namespace {

// ---------------------------------------------------------------------------------------------
// Small helpers

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// "VmHWM" or "VmRSS" of this process, in MB.
double procStatusMb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

// A counter of /proc/self/io: "wchar" (bytes handed to write calls), "write_bytes" (bytes
// sent to the storage).
double procIo(const char *key)
{
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().toDouble();
    }
    return 0;
}

double fileMb(const QString &path)
{
    return double(QFileInfo(path).size()) / (1024 * 1024);
}

// Drops the recording's pages from the operating system's cache, so the next read comes
// from the disk as after a reboot (this file only; nothing else is touched).
void dropFromCache(const QString &path)
{
    for (const QString &p : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        const int fd = ::open(QFile::encodeName(p).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

quint16 word(double v)
{
    return quint16(std::clamp<long>(std::lround(v), 0, 0xFFFF));
}

quint16 signedWord(double v)
{
    return quint16(std::clamp<long>(std::lround(v), -32768, 32767) & 0xFFFF);
}

double fromSigned(quint16 w)
{
    return (w & 0x8000) ? -double(((w ^ 0xFFFF) & 0xFFFF) + 1) : double(w);
}

// ---------------------------------------------------------------------------------------------
// The synthetic plant: a 48 V rectifier with a 15-cell battery pack over a month. Its values
// vary slowly (a daily swing and noise), with an AC failure of two hours (the battery carries
// the load and is charged again afterwards) and a day without the battery pack (its channels
// have no value then). The status block starts from the simulated plant's own and carries
// the synthetic values in the registers the status page reads them from; the other registers
// stay as a real block keeps them (settings, identity) or count on (clock, uptime).
class SyntheticPlant {
public:
    SyntheticPlant(qint64 startMs, qint64 days, quint32 seed)
        : start_(startMs)
        , random_(seed)
    {
        sim::Plant plant;
        plant.setSeed(seed);
        plant.advance(60'000);
        for (int r = 1; r <= StatusRegisterSlots; ++r)
            base_[size_t(r - 1)] = plant.inputRegister(r);
        const qint64 day = std::max<qint64>(days, 1);
        outageFrom_ = startMs + day * 2 / 3 * DayMs + 3 * HourMs;
        outageTo_ = outageFrom_ + 2 * HourMs;
        noPackFrom_ = startMs + day / 6 * DayMs + 9 * HourMs;
        noPackTo_ = noPackFrom_ + DayMs;
        for (double &o : cellOffset_)
            o = noise(0.01);
    }

    // The status block at time t (one status a second, in time order).
    Registers at(qint64 t)
    {
        Registers reg = base_;
        auto set = [&reg](int n, quint16 v) { reg[size_t(n - 1)] = v; };
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC);
        set(1, quint16(when.date().year()));
        set(2, quint16(when.date().month()));
        set(3, quint16(when.date().day()));
        set(4, quint16(when.time().hour()));
        set(5, quint16(when.time().minute()));
        set(6, quint16(when.time().second()));
        set(14, quint16(((t - start_) / 1000) & 0xFFFF));

        const double daily = std::sin(2 * std::numbers::pi * double(t % DayMs) / double(DayMs));
        const bool outage = t >= outageFrom_ && t < outageTo_;
        const bool pack = !(t >= noPackFrom_ && t < noPackTo_);
        const double load = 30 + 5 * daily + noise(0.3);
        double battery = 0.4 + noise(0.05); // float charge
        double dc = 54.0 + noise(0.05);
        if (outage) {
            const double f = double(t - outageFrom_) / double(outageTo_ - outageFrom_);
            soc_ = std::max(0.0, soc_ - load / 100.0 / 3600.0 * 100.0 / 1.0);
            battery = -load;
            dc = 51.5 - 3.0 * f + noise(0.05);
        } else if (soc_ < 100) {
            battery = 20 * (100 - soc_) / 60 + 0.4 + noise(0.1);
            soc_ = std::min(100.0, soc_ + battery / 100.0 / 3600.0 * 100.0);
            dc = 54.0 + noise(0.05);
        }
        const double ac = outage ? 0 : 220 + 3 * daily + noise(0.5);
        const double acAmps = outage ? 0 : dc * (load + std::max(battery, 0.0)) / 0.93 / ac;
        set(7, word(ac * 10));
        set(8, word(acAmps * 10));
        set(9, word(dc * 10));
        set(10, signedWord(load * 10));
        set(11, pack && std::abs(battery) > 0.05 ? signedWord(battery * 10) : 0);
        set(12, signedWord((25 + 3 * daily) * 10 + noise(1)));
        set(13, signedWord((35 + 5 * daily + load / 10) * 10 + noise(1)));
        set(66, pack ? base_[65] ? base_[65] : 1 : 0);
        if (pack) {
            set(97, word(dc * 100));
            set(98, word(dc * 100));
            set(99, signedWord(battery * 10));
            set(100, word(soc_));
            double hi = 0, lo = 100;
            for (int c = 0; c < 15; ++c) {
                const double cell = dc / 15 + cellOffset_[size_t(c)] + noise(0.003);
                hi = std::max(hi, cell);
                lo = std::min(lo, cell);
                set(110 + c, word(cell * 100));
            }
            set(104, word(hi * 100));
            set(105, word(lo * 100));
        } else {
            for (int n : {97, 98, 99, 100, 104, 105})
                set(n, 0);
            for (int c = 0; c < 15; ++c)
                set(110 + c, 0);
        }
        return reg;
    }

    // The channels of a block as the status page shows them (the store keeps both; this is
    // checked against the page's own decode while generating).
    static ChannelValues values(const Registers &reg, qint64 t)
    {
        auto r = [&reg](int n) { return reg[size_t(n - 1)]; };
        ChannelValues v;
        v.fill(NoValue);
        const bool pack = r(66) != 0;
        v[0] = r(7) / 10.0;
        v[1] = r(8) / 10.0;
        v[2] = r(9) / 10.0;
        v[3] = fromSigned(r(10)) / 10.0;
        v[4] = r(61) <= 1000 ? r(61) / 10.0 : r(61) / 100.0;
        v[5] = fromSigned(r(13)) / 10.0;
        if (r(67) != 0 && r(12) != 1250)
            v[6] = fromSigned(r(12)) / 10.0;
        if (pack) {
            v[7] = fromSigned(r(11)) / 10.0;
            v[8] = r(98) / 100.0;
            v[9] = r(100);
            for (int c = 0; c < 15; ++c)
                v[size_t(10 + c)] = r(110 + c) / 100.0;
        }
        const ControllerClock clock{r(1), r(2), r(3), r(4), r(5), r(6)};
        const auto offset = clockOffsetSeconds(clock, double(t) / 1000.0);
        v[size_t(ClockOffsetChannel)] = offset ? *offset : NoValue;
        return v;
    }

    bool outageStartsIn(qint64 from, qint64 to) const { return outageFrom_ >= from && outageFrom_ < to; }
    bool outageEndsIn(qint64 from, qint64 to) const { return outageTo_ >= from && outageTo_ < to; }

private:
    double noise(double sigma) { return std::normal_distribution<double>(0, sigma)(random_); }

    qint64 start_;
    std::mt19937 random_;
    Registers base_{};
    std::array<double, 15> cellOffset_{};
    qint64 outageFrom_ = 0, outageTo_ = 0, noPackFrom_ = 0, noPackTo_ = 0;
    double soc_ = 100;
};

bool sameValues(const ChannelValues &a, const ChannelValues &b, int *channel)
{
    for (int c = 0; c < ChannelCount; ++c) {
        const double x = a[size_t(c)], y = b[size_t(c)];
        if (hasValue(x) != hasValue(y) || (hasValue(x) && std::abs(x - y) > 1e-9)) {
            *channel = c;
            return false;
        }
    }
    return true;
}

// Writes the recording: `days` days at 1 Hz ending now, in transactions of 60..3600 statuses,
// each written with add() and flush() as the recorder does. Made under a temporary name and
// renamed when complete, so an interrupted run never leaves a recording that looks whole.
bool generate(const QString &path, int days, quint32 seed)
{
    const QString part = path + QStringLiteral(".part");
    for (const QString &p : {part, part + QStringLiteral("-wal"), part + QStringLiteral("-shm")})
        QFile::remove(p); // what an interrupted run of this program left
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
    const qint64 count = qint64(days) * DayMs / 1000;
    const qint64 start = end - (count - 1) * 1000;
    std::printf("generating %lld statuses (%d days at 1 Hz) into %s ...\n", count, days, qPrintable(path));
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    const double cpu0 = cpuSeconds();
    SyntheticPlant plant(start, days, seed);
    std::mt19937 sizes(seed + 1);
    QString error;
    {
        TrendStore store;
        if (!store.open(part, TrendStore::Mode::Record, error)) {
            std::fprintf(stderr, "trend_bench: %s\n", qPrintable(error));
            return false;
        }
        store.setMeta(QStringLiteral("model"), QStringLiteral("synthetic"));
        qint64 i = 0;
        qint64 nextReport = count / 10;
        while (i < count) {
            const qint64 batch = std::uniform_int_distribution<qint64>(60, 3600)(sizes);
            const qint64 batchFrom = start + i * 1000;
            for (qint64 k = 0; k < batch && i < count; ++k, ++i) {
                StatusRow row;
                row.t = start + i * 1000;
                row.registers = plant.at(row.t);
                row.values = SyntheticPlant::values(row.registers, row.t);
                if (i % 997 == 0) {
                    int channel = 0;
                    if (!sameValues(row.values, decodeChannels(row.registers, row.t), &channel)) {
                        std::fprintf(stderr, "trend_bench: status %lld: channel %s differs from the page's decode\n", i,
                                     channels()[size_t(channel)].name);
                        return false;
                    }
                }
                store.add(row);
            }
            const qint64 batchTo = start + i * 1000;
            if (plant.outageStartsIn(batchFrom, batchTo))
                store.addEvent({batchFrom, EventKind::AlarmStarted, QStringLiteral("AC Fail")});
            if (plant.outageEndsIn(batchFrom, batchTo))
                store.addEvent({batchFrom, EventKind::AlarmCleared, QStringLiteral("AC Fail")});
            if (!store.flush(error)) {
                std::fprintf(stderr, "trend_bench: writing the recording: %s\n", qPrintable(error));
                return false;
            }
            if (i >= nextReport) {
                std::printf("  %3lld %%  %.0f s\n", i * 100 / count, double(clock.elapsed()) / 1000);
                std::fflush(stdout);
                nextReport += count / 10;
            }
        }
    }
    if (QFileInfo::exists(path) || !QFile::rename(part, path)) {
        std::fprintf(stderr, "trend_bench: cannot move %s to %s\n", qPrintable(part), qPrintable(path));
        return false;
    }
    std::printf("generation took %.1f s wall, %.1f s CPU (%.1f us CPU per status)\n", double(clock.elapsed()) / 1000,
                cpuSeconds() - cpu0, (cpuSeconds() - cpu0) * 1e6 / double(count));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Opening and drawing

struct DrawSpan {
    const char *name;
    qint64 ms;
};

void measureOpenAndDraw(const QString &path, int repeats)
{
    std::printf("\nrecording %s\n", qPrintable(path));
    std::printf("  file size         %.1f MB + %.1f MB -wal\n", fileMb(path), fileMb(path + QStringLiteral("-wal")));

    QString error;
    QElapsedTimer clock;
    std::vector<double> opens;
    double coldOpen = 0;
    for (int i = 0; i <= repeats; ++i) {
        if (i == 0)
            dropFromCache(path);
        TrendStore store;
        clock.start();
        if (!store.open(path, TrendStore::Mode::Read, error)) {
            std::fprintf(stderr, "trend_bench: %s\n", qPrintable(error));
            std::exit(1);
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (i == 0)
            coldOpen = ms;
        else
            opens.push_back(ms);
    }
    std::printf("  open              median %.2f ms, cold %.2f ms\n", median(opens), coldOpen);

    TrendStore store;
    store.open(path, TrendStore::Mode::Read, error);
    const auto span = store.span();
    if (!span) {
        std::fprintf(stderr, "trend_bench: the recording is empty\n");
        std::exit(1);
    }
    std::printf("  statuses          %lld, %.1f days\n", span->samples, double(span->last - span->first) / double(DayMs));
    // What `trend list` asks first: the recording's span and each channel's.
    for (const char *what : {"span()", "channelSpans()"}) {
        std::vector<double> times;
        double cold = 0, read = 0;
        for (int i = 0; i <= std::min(repeats, 5); ++i) {
            if (i == 0)
                dropFromCache(path);
            TrendStore fresh;
            fresh.open(path, TrendStore::Mode::Read, error);
            const double read0 = procIo("rchar");
            clock.start();
            const bool any = what[0] == 's' ? fresh.span().has_value() : !fresh.channelSpans().empty();
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            if (!any)
                std::exit(1);
            if (i == 0) {
                cold = ms;
                read = procIo("rchar") - read0;
            } else {
                times.push_back(ms);
            }
        }
        std::printf("  %-17s median %.1f ms, cold %.1f ms, reads %.1f MB of the file\n", what, median(times), cold,
                    read / (1024 * 1024));
    }

    const QList<int> one{channelIndex(QStringLiteral("dc_voltage"))};
    const QList<int> page{channelIndex(QStringLiteral("dc_voltage")), channelIndex(QStringLiteral("battery_current")),
                          channelIndex(QStringLiteral("battery_soc")), channelIndex(QStringLiteral("cell_1"))};
    const DrawSpan spans[] = {{"1 min", MinuteMs}, {"1 h", HourMs}, {"1 day", DayMs}, {"30 days", 30 * DayMs}};
    std::printf("  draws ending at the newest status, 1000 buckets asked (median of %d, cold: the first read after\n"
                "  the file left the OS cache, in a newly opened store):\n",
                repeats);
    double worst = 0;
    for (const DrawSpan &s : spans) {
        const qint64 step = drawStepMs(s.ms, 1000);
        const qint64 from = span->last - s.ms + 1;
        for (const QList<int> *set : {&one, &page}) {
            double cold = 0;
            qsizetype points = 0;
            {
                dropFromCache(path);
                TrendStore fresh;
                fresh.open(path, TrendStore::Mode::Read, error);
                clock.start();
                const auto out = fresh.buckets(*set, from, span->last, step);
                cold = double(clock.nsecsElapsed()) / 1e6;
                for (const auto &series : out)
                    points += series.size();
            }
            std::vector<double> times;
            for (int i = 0; i < repeats; ++i) {
                clock.start();
                const auto out = store.buckets(*set, from, span->last, step);
                times.push_back(double(clock.nsecsElapsed()) / 1e6);
                if (out.isEmpty())
                    std::exit(1);
            }
            const double m = median(times);
            worst = std::max(worst, m);
            std::printf("  draw %-7s %d ch  median %7.2f ms, cold %7.2f ms, step %6lld s, %5lld buckets   (goal < 50 ms)\n",
                        s.name, int(set->size()), m, cold, step / 1000, qlonglong(points));
            std::fflush(stdout);
        }
    }
    std::printf("  slowest draw      %.2f ms (median)   (goal < 50 ms)\n", worst);
    // The gaps a draw breaks its lines at.
    for (const DrawSpan &s : spans) {
        std::vector<double> times;
        qsizetype found = 0;
        for (int i = 0; i < repeats; ++i) {
            clock.start();
            found = store.gaps(span->last - s.ms + 1, span->last).size();
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::printf("  gaps %-7s      median %7.2f ms, %lld gaps\n", s.name, median(times), qlonglong(found));
    }
    std::printf("  resident memory   peak (VmHWM) %.1f MB, now (VmRSS) %.1f MB   (goal < 300 MB)\n", procStatusMb("VmHWM"),
                procStatusMb("VmRSS"));
}

// ---------------------------------------------------------------------------------------------
// What durability costs: a commit a second with the store's setting (FULL: each commit waits
// for the disk) and with NORMAL (waits only for the operating system; a power cut may lose
// the last commits), into a new file beside the recording.

void measureCommitCost(const QString &folder, int commits, quint32 seed)
{
    std::printf("\ncommit cost: %d commits of one status each, into a new file in %s\n", commits, qPrintable(folder));
    for (const bool full : {true, false}) {
        QTemporaryDir dir(QDir(folder).filePath(QStringLiteral("commit-XXXXXX")));
        TrendStore store;
        QString error;
        if (!store.open(dir.filePath(QStringLiteral("c.trend.sqlite")), TrendStore::Mode::Record, error)) {
            std::fprintf(stderr, "trend_bench: %s\n", qPrintable(error));
            return;
        }
        store.setFullSync(full);
        SyntheticPlant plant(0, 1, seed);
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
        std::vector<double> ms;
        QElapsedTimer clock;
        const double cpu0 = cpuSeconds();
        for (int i = 0; i < commits; ++i) {
            StatusRow row;
            row.t = t0 + qint64(i) * 1000;
            row.registers = plant.at(row.t);
            row.values = SyntheticPlant::values(row.registers, row.t);
            store.add(row);
            clock.start();
            store.flush(error);
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  synchronous=%-6s  commit median %.2f ms, 99th %.2f ms, max %.2f ms; CPU %.0f us per commit\n",
                    full ? "FULL" : "NORMAL", median(ms), ms[size_t(double(ms.size() - 1) * 0.99)], ms.back(),
                    (cpuSeconds() - cpu0) * 1e6 / commits);
    }
}

// The file before and after pruning its oldest month of statuses (in a copy).
void measurePruning(const QString &path)
{
    QTemporaryDir dir(QFileInfo(path).absolutePath() + QStringLiteral("/prune-XXXXXX"));
    const QString copy = dir.filePath(QStringLiteral("p.trend.sqlite"));
    if (!QFile::copy(path, copy)) {
        std::fprintf(stderr, "trend_bench: cannot copy %s\n", qPrintable(path));
        return;
    }
    TrendStore store;
    QString error;
    if (!store.open(copy, TrendStore::Mode::Record, error)) {
        std::fprintf(stderr, "trend_bench: %s\n", qPrintable(error));
        return;
    }
    const auto span = store.span();
    if (!span)
        return;
    const double before = fileMb(copy);
    QElapsedTimer clock;
    clock.start();
    // Raw statuses kept for the span less a month: the oldest 30 days go.
    store.prune(span->last, span->last - span->first - 30 * DayMs);
    const double ms = double(clock.elapsed());
    const double rightAfter = fileMb(copy), walAfter = fileMb(copy + QStringLiteral("-wal"));
    // The next commit starts the log again, cut back to its limit.
    StatusRow row = store.statuses(span->last, span->last).value(0);
    row.t = span->last + 1000;
    store.add(row);
    store.flush(error);
    const qint64 left = store.span()->samples;
    std::printf("\npruning the oldest month of raw statuses (%lld of %lld statuses left)\n", left, span->samples);
    std::printf("  file before %.1f MB; right after %.1f MB + %.1f MB -wal, %.1f s; after the next commit %.1f MB + %.1f MB -wal\n",
                before, rightAfter, walAfter, ms / 1000, fileMb(copy), fileMb(copy + QStringLiteral("-wal")));
}

// ---------------------------------------------------------------------------------------------
// Recording while connected

// Records `statuses` statuses into a new file, or with `onto` into a copy of that recording
// (after its newest status), as a console does once a month is recorded.
void measureRecording(int statuses, quint32 seed, const QString &onto)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("record.trend.sqlite"));
    qint64 t0 = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000 - qint64(statuses) * 1000;
    if (!onto.isEmpty()) {
        if (!QFile::copy(onto, path)) {
            std::fprintf(stderr, "trend_bench: cannot copy %s into %s\n", qPrintable(onto), qPrintable(dir.path()));
            return;
        }
        TrendStore store;
        QString error;
        if (store.open(path, TrendStore::Mode::Read, error)) {
            if (const auto span = store.span())
                t0 = std::max(t0, span->last + 1000);
        }
    }
    sim::Plant plant;
    plant.setSeed(seed);
    trend::Recorder recorder;
    recorder.setFile(path);
    double decodeCpu = 0, recordCpu = 0;
    std::vector<double> commitMs;
    QElapsedTimer wall;
    // The first status opens the file (schema, pruning): counted apart, it happens once per
    // connection.
    double openCpu = 0;
    double wchar0 = 0, written0 = 0;
    for (int i = 0; i <= statuses; ++i) {
        if (i == 1) {
            wchar0 = procIo("wchar");
            written0 = procIo("write_bytes");
        }
        plant.advance(1000);
        ConsoleState state;
        for (int r = 1; r <= StatusRegisterSlots; ++r)
            state.StatusRegisters[size_t(r - 1)] = plant.inputRegister(r);
        const double c0 = cpuSeconds();
        const StatusView view = decodeStatusView(state);
        const double c1 = cpuSeconds();
        wall.start();
        recorder.addStatus(view.plant, t0 + qint64(i) * 1000);
        recorder.flushNow(); // the recorder commits once a second
        const double c2 = cpuSeconds();
        if (i == 0) {
            openCpu = c2 - c1;
            continue;
        }
        commitMs.push_back(double(wall.nsecsElapsed()) / 1e6);
        decodeCpu += c1 - c0;
        recordCpu += c2 - c1;
    }
    const double wchar = (procIo("wchar") - wchar0) / statuses;
    const double written = (procIo("write_bytes") - written0) / statuses;
    recorder.close();
    // The recorder prunes when it opens the file and once an hour after.
    double pruneCpu = 0, pruneRead = 0;
    {
        TrendStore store;
        QString error;
        store.open(path, TrendStore::Mode::Record, error);
        dropFromCache(path);
        const double c0 = cpuSeconds();
        const double read0 = procIo("rchar");
        store.prune(QDateTime::currentMSecsSinceEpoch());
        pruneCpu = cpuSeconds() - c0;
        pruneRead = procIo("rchar") - read0;
    }
    const double perDecode = decodeCpu / statuses, perRecord = recordCpu / statuses;
    std::printf("\nrecording while connected: %d statuses of the simulated plant at 1 Hz, a commit after each,\n"
                "into %s\n",
                statuses, onto.isEmpty() ? "a new file" : "a copy of the recording above, after its newest status");
    std::printf("  decode (the console does it anyway)  %.1f us CPU per status = %.3f %% of one core at 1 Hz\n",
                perDecode * 1e6, perDecode * 100);
    std::printf("  recording (addStatus + commit)       %.1f us CPU per status = %.3f %% of one core at 1 Hz   (goal < 0.2 %%)\n",
                perRecord * 1e6, perRecord * 100);
    std::printf("  one commit, wall                     median %.2f ms, max %.2f ms\n", median(commitMs),
                commitMs.empty() ? 0.0 : *std::max_element(commitMs.begin(), commitMs.end()));
    std::printf("  written per status                   %.1f kB to write calls, %.1f kB to the storage\n", wchar / 1024,
                written / 1024);
    std::printf("  opening the file at the first status %.1f ms CPU (once per connection)\n", openCpu * 1e3);
    std::printf("  pruning (at open and once an hour)   %.1f ms CPU = %.4f %% of one core, reads %.1f MB of the file\n",
                pruneCpu * 1e3, pruneCpu * 100 / 3600, pruneRead / (1024 * 1024));
    std::printf("  file                                 %.2f MB + %.2f MB -wal\n", fileMb(path), fileMb(path + QStringLiteral("-wal")));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Trend recording figures: file size, open, draw, memory, recording CPU."));
    parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("The synthetic recording, made when missing."),
                                QStringLiteral("file"), QStringLiteral("trend-bench-30d.trend.sqlite"));
    const QCommandLineOption days(QStringLiteral("days"), QStringLiteral("Days of the recording made (30)."),
                                  QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption repeats(QStringLiteral("repeats"), QStringLiteral("Repeats of each timing (15)."),
                                     QStringLiteral("n"), QStringLiteral("15"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Statuses recorded for the CPU figure (3600; 0 skips it)."),
                                    QStringLiteral("n"), QStringLiteral("3600"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Noise seed (1)."), QStringLiteral("n"),
                                  QStringLiteral("1"));
    const QCommandLineOption commits(QStringLiteral("commits"),
                                     QStringLiteral("Commits timed with each durability setting (300; 0 skips it)."),
                                     QStringLiteral("n"), QStringLiteral("300"));
    const QCommandLineOption prune(QStringLiteral("prune"), QStringLiteral("Also measure pruning a month (in a copy)."));
    parser.addOptions({db, days, repeats, record, seed, commits, prune});
    parser.process(app);

    const QString path = QFileInfo(parser.value(db)).absoluteFilePath();
    const int dayCount = std::max(1, parser.value(days).toInt());
    const int repeatCount = std::max(1, parser.value(repeats).toInt());
    const int recordCount = std::max(0, parser.value(record).toInt());
    const quint32 seedValue = parser.value(seed).toUInt();

    if (!QFileInfo::exists(path)) {
        if (!generate(path, dayCount, seedValue))
            return 1;
        // Measured in a fresh process: its memory holds nothing of the generation.
        std::fflush(stdout);
        ::execv("/proc/self/exe", argv);
        std::perror("trend_bench: execv");
        return 1;
    }
    std::printf("using the recording %s (remove it to make a new one)\n", qPrintable(path));
    measureOpenAndDraw(path, repeatCount);
    if (recordCount > 0) {
        measureRecording(recordCount, seedValue, QString());
        measureRecording(recordCount, seedValue, path);
    }
    if (const int n = parser.value(commits).toInt(); n > 0)
        measureCommitCost(QFileInfo(path).absolutePath(), n, seedValue);
    if (parser.isSet(prune))
        measurePruning(path);
    return 0;
}
