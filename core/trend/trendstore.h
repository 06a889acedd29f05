#pragma once

#include "trend/channels.h"
#include "trend/sqlite.h"

#include <QList>
#include <QMap>
#include <QString>

#include <memory>

#include <map>
#include <memory>
#include <optional>

namespace qeln::trend {

inline constexpr qint64 MinuteMs = 60'000;
inline constexpr qint64 HourMs = 3'600'000;
inline constexpr qint64 DayMs = 24 * HourMs;
// Raw statuses are kept 90 days, the per-minute and per-hour summaries two years.
inline constexpr qint64 RawRetentionMs = 90 * DayMs;
inline constexpr qint64 SummaryRetentionMs = 731 * DayMs;

// One recorded status: its time (Unix milliseconds), its registers and its channels.
struct StatusRow {
    qint64 t = 0;
    Registers registers{};
    ChannelValues values{};
};

// The channel values of one span of time: how many, lowest, highest, mean. `t` is where the
// span starts; `first` and `last` are the times of its first and last sample as far as the
// store knows them (from summaries that do not keep them: the bucket's own start and end), so
// that a reader sees how long no status came between two buckets.
struct Bucket {
    qint64 t = 0;
    qint64 n = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
    qint64 first = 0;
    qint64 last = 0;
    friend bool operator==(const Bucket &, const Bucket &) = default;
};

// The bucket width for drawing `spanMs` in at most (and about) `buckets` buckets (each drawn as
// its min and max, two points): under a minute, from the raw statuses (at least a second); then whole
// minutes from the minute summaries; from 20 minutes on, whole hours from the hour summaries.
qint64 drawStepMs(qint64 spanMs, int buckets);

// The start of the step of `stepMs` that holds `t`: whole days start at local midnight, whole
// hours at a local hour (both follow daylight saving; a step of hours that does not divide a
// day starts again at midnight); other steps are multiples of `stepMs` since the epoch.
qint64 stepStart(qint64 t, qint64 stepMs);
// The start of the step after the one starting at `start`.
qint64 nextStepStart(qint64 start, qint64 stepMs);

// A time as ISO 8601 in local time with its UTC offset: "2026-12-07T09:30:00.000+09:00".
QString isoTime(qint64 ms);

enum class EventKind { AlarmStarted, AlarmCleared, Write };
QString eventKindName(EventKind kind); // "alarm-start", "alarm-clear", "write"

// An alarm that started or cleared (its name in the alarm table), or a write the console made
// ("register 12 = 530 (운전 설정)").
struct Event {
    qint64 t = 0;
    EventKind kind = EventKind::Write;
    QString text;
    friend bool operator==(const Event &, const Event &) = default;
};

struct ChannelSpan {
    qint64 first = 0;
    qint64 last = 0;
    qint64 samples = 0;
};

// A time without statuses longer than the gap threshold: `before` is the last status before
// it, `after` the first after it. No line is drawn and no export row made between them.
struct Gap {
    qint64 before = 0;
    qint64 after = 0;
    friend bool operator==(const Gap &, const Gap &) = default;
};

// A trend recording: one SQLite file (WAL) per controller.
// - `status` holds the statuses of the last minute or so, one row each (time, the 131
//   registers, the channel values); complete minutes are packed into `chunk`, one compressed
//   row per minute. Channels added later are decoded from the registers.
// - `minute` and `hour` hold min/max/count/sum and the first and last sample time of every
//   channel per minute and per hour, kept up to date with each write from the statuses that
//   were really stored (a status whose time is stored already is not counted again).
// - `event` holds alarm starts and clears and the console's writes.
// What is added is held in memory until flush(), which writes it in one transaction: a
// failure (a full disk) leaves the file as it was before.
// One recorder per file: Record takes `PATH.lock` beside it (left behind by a process that
// died, it is taken over); Read takes no lock. Every read is one read transaction; a Snapshot
// keeps one over several reads.
class TrendStore {
public:
    enum class Mode { Read, Record };

    TrendStore();
    ~TrendStore();

    // Opens a recording; Record makes the file when it is missing. False with `error` set when
    // the file cannot be opened (the reason and what to do: a folder or file that is not
    // writable, a file in use by another program or recorder, a disk error, a file of a newer
    // format, not a trend recording).
    bool open(const QString &path, Mode mode, QString &error);
    QString path() const { return path_; }
    Mode mode() const { return mode_; }
    // The format version of the file (1: summaries without sample times).
    int formatVersion() const { return version_; }

    // While one is alive, every read of the store sees the file as it was when it began (what
    // a recorder commits meanwhile is not seen). Not to be held by a recording store.
    class Snapshot {
    public:
        explicit Snapshot(TrendStore &store);
        ~Snapshot();
        Snapshot(const Snapshot &) = delete;
        Snapshot &operator=(const Snapshot &) = delete;

    private:
        sql::ReadTransaction tx_;
    };

    // The recording's own notes: "model", "link", "created", "poll_ms".
    QString meta(const QString &key);
    bool setMeta(const QString &key, const QString &value);

    // Recording.
    void add(const StatusRow &row);
    void addEvent(const Event &event);
    bool hasPending() const { return !pendingRows_.empty() || !pendingEvents_.empty(); }
    // Writes what was added: false with `error` set (and `diskProblem` when the disk is full
    // or the file not writable); what was pending is dropped then, the file keeps what it had.
    bool flush(QString &error, bool *diskProblem = nullptr);
    // Removes raw statuses older than `rawKeepMs` and summaries and events older than
    // `summaryKeepMs` before `nowMs`.
    // Then gives the freed pages back to the file system.
    bool prune(qint64 nowMs, qint64 rawKeepMs = RawRetentionMs, qint64 summaryKeepMs = SummaryRetentionMs);
    // Commits wait for the disk (FULL, the default: a power cut loses at most the second being
    // recorded) or only for the operating system (NORMAL: a power cut may lose the last
    // commits; for measuring).
    bool setFullSync(bool full);
    // Folds the recording `otherPath` (the same controller recorded under another name) into
    // this one, in one transaction: its statuses whose times are not here yet (with their
    // summaries) and its events not here yet. The other file is left as it was; one being
    // recorded by a live process is refused. False with `error` set.
    bool absorb(const QString &otherPath, QString &error);

    // Reading.
    // The first and last status time and the number of statuses; nothing when empty.
    std::optional<ChannelSpan> span();
    // The time of the status written last (in the order written, whatever the clock did);
    // for a file that does not note it, the newest time; nothing when empty.
    std::optional<qint64> lastWritten();
    // Longer than this without a status is a gap: three poll periods ("poll_ms", 1000 when
    // the recording does not note it).
    qint64 gapThresholdMs();
    // The gaps that overlap [from, to], in time order: exact where the raw statuses are
    // kept, from the summaries' first and last sample times of each minute beyond. (Minutes
    // packed by the first format are looked into for spans up to a day.)
    QList<Gap> gaps(qint64 from, qint64 to);
    // Per channel: its first and last sample and how many (from the minute summaries).
    std::map<int, ChannelSpan> channelSpans();
    // Every raw status with from <= t <= to, in time order.
    QList<StatusRow> statuses(qint64 from, qint64 to);
    // The stored per-minute (`stepMs` MinuteMs) or per-hour (HourMs) summaries of a channel
    // with from <= t <= to.
    QList<Bucket> summaries(int channel, qint64 stepMs, qint64 from, qint64 to);
    // The channels' values over [from, to] in buckets of `stepMs` starting at stepStart()
    // (whole hours and days on local time): from the hour summaries where local hours are
    // whole UTC hours, else the minute summaries when the step is a multiple of them,
    // otherwise from the raw statuses. Empty buckets are left out. One list per asked channel.
    QList<QList<Bucket>> buckets(const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs);
    QList<Event> events(qint64 from, qint64 to);

    QString lastError() const { return db_.error(); }

private:
    struct Lock;
    struct Acc {
        qint64 n = 0;
        double min = 0, max = 0, sum = 0;
        qint64 first = 0, last = 0;
        void add(double v, qint64 t);
        void merge(const Acc &other);
    };
    using AccKey = std::pair<int, qint64>; // channel, bucket start

    bool createSchema(QString &error);
    bool checkVersion(QString &error);
    bool migrate(QString &error);
    bool isStored(qint64 t);
    // Inserts a status unless its time is stored already; its channels go into `minutes` and
    // `hours` only when it was inserted.
    bool insertRow(const StatusRow &row, std::map<AccKey, Acc> &minutes, std::map<AccKey, Acc> &hours, bool &inserted);
    bool writeSummaries(const char *table, const std::map<AccKey, Acc> &accs);
    bool writeEvent(const Event &e, bool unlessThere);
    bool packCompleteMinutes(qint64 before);
    bool packMinute(qint64 minute, QList<StatusRow> rows);
    void giveBackPages();
    QList<StatusRow> readStatuses(qint64 from, qint64 to);
    static QByteArray packRows(const QList<StatusRow> &rows);
    static bool unpackRows(const QByteArray &data, QList<StatusRow> &rows);

    sql::Db db_;
    QString path_;
    Mode mode_ = Mode::Read;
    int version_ = 0;
    bool sampleTimes_ = false; // the summaries have first/last columns
    std::unique_ptr<Lock> lock_;
    // The times of the packed minute looked at last (finding stored times), its start or -1.
    qint64 cachedChunk_ = -1;
    std::vector<qint64> cachedTimes_;
    std::vector<StatusRow> pendingRows_;
    std::vector<Event> pendingEvents_;
};


// Packs and unpacks one status row's registers and values (the `status` table's blobs).
QByteArray registerBytes(const Registers &registers);
bool registersFromBytes(const QByteArray &bytes, Registers &registers);
QByteArray valueBytes(const ChannelValues &values);
// Channels the bytes do not hold (a recording older than the channel) stay NaN.
void valuesFromBytes(const QByteArray &bytes, ChannelValues &values);

} // namespace qeln::trend
