#pragma once

#include "trend/channels.h"
#include "trend/sqlite.h"

#include <QList>
#include <QMap>
#include <QString>

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

// A trend recording: one SQLite file (WAL) per controller.
// - `status` holds the statuses of the last minute or so, one row each (time, the 131
//   registers, the channel values); complete minutes are packed into `chunk`, one compressed
//   row per minute. Channels added later are decoded from the registers.
// - `minute` and `hour` hold min/max/count/sum of every channel per minute and per hour, kept
//   up to date with each write.
// - `event` holds alarm starts and clears and the console's writes.
// What is added is held in memory until flush(), which writes it in one transaction: a
// failure (a full disk) leaves the file as it was before.
class TrendStore {
public:
    enum class Mode { Read, Record };

    TrendStore();
    ~TrendStore();

    // Opens a recording; Record makes the file when it is missing. False with `error` set when
    // the file cannot be opened or is not a trend recording.
    bool open(const QString &path, Mode mode, QString &error);
    QString path() const { return path_; }

    // The recording's own notes: "model", "link", "created".
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
    bool prune(qint64 nowMs, qint64 rawKeepMs = RawRetentionMs, qint64 summaryKeepMs = SummaryRetentionMs);

    // Reading.
    // The first and last status time and the number of statuses; nothing when empty.
    std::optional<ChannelSpan> span();
    // Per channel: its first and last sample and how many (from the minute summaries).
    std::map<int, ChannelSpan> channelSpans();
    // Every raw status with from <= t <= to, in time order.
    QList<StatusRow> statuses(qint64 from, qint64 to);
    // The stored per-minute (`stepMs` MinuteMs) or per-hour (HourMs) summaries of a channel
    // with from <= t <= to.
    QList<Bucket> summaries(int channel, qint64 stepMs, qint64 from, qint64 to);
    // The channels' values over [from, to] in buckets of `stepMs` aligned on multiples of it:
    // from the hour or minute summaries when the step is a multiple of them, otherwise from
    // the raw statuses. Empty buckets are left out. One list per asked channel.
    QList<QList<Bucket>> buckets(const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs);
    QList<Event> events(qint64 from, qint64 to);

    QString lastError() const { return db_.error(); }

private:
    struct Acc {
        qint64 n = 0;
        double min = 0, max = 0, sum = 0;
        qint64 first = 0, last = 0;
        void add(double v, qint64 t);
        void merge(const Acc &other);
    };
    using AccKey = std::pair<int, qint64>; // channel, bucket start

    bool createSchema(QString &error);
    bool writeRow(const StatusRow &row);
    bool writeSummaries(const char *table, const std::map<AccKey, Acc> &accs);
    bool packCompleteMinutes(qint64 before);
    static QByteArray packRows(const QList<StatusRow> &rows);
    static bool unpackRows(const QByteArray &data, QList<StatusRow> &rows);

    sql::Db db_;
    QString path_;
    Mode mode_ = Mode::Read;
    std::vector<StatusRow> pendingRows_;
    std::vector<Event> pendingEvents_;
    std::map<AccKey, Acc> pendingMinutes_;
    std::map<AccKey, Acc> pendingHours_;
};

// Packs and unpacks one status row's registers and values (the `status` table's blobs).
QByteArray registerBytes(const Registers &registers);
bool registersFromBytes(const QByteArray &bytes, Registers &registers);
QByteArray valueBytes(const ChannelValues &values);
// Channels the bytes do not hold (a recording older than the channel) stay NaN.
void valuesFromBytes(const QByteArray &bytes, ChannelValues &values);

} // namespace qeln::trend
