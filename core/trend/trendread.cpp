#include "trendstore.h"
#include "trendstoreinternal.h"

#include <algorithm>
#include <vector>

namespace qeln::trend {

using namespace detail;

namespace {

std::optional<EventKind> eventKindFromName(const QString &name)
{
    for (EventKind k : {EventKind::AlarmStarted, EventKind::AlarmCleared, EventKind::Write}) {
        if (eventKindName(k) == name)
            return k;
    }
    return std::nullopt;
}

} // namespace

std::optional<ChannelSpan> TrendStore::span()
{
    sql::ReadTransaction read(db_);
    ChannelSpan s;
    bool any = false;
    sql::Stmt chunks(db_, "SELECT min(t0), max(t1), sum(n), count(*) FROM chunk");
    if (chunks.step() && chunks.integer(3) > 0) {
        s = {chunks.integer(0), chunks.integer(1), chunks.integer(2)};
        any = true;
    }
    sql::Stmt raw(db_, "SELECT min(t), max(t), count(*) FROM status");
    if (raw.step() && raw.integer(2) > 0) {
        s.first = any ? std::min<qint64>(s.first, raw.integer(0)) : raw.integer(0);
        s.last = any ? std::max<qint64>(s.last, raw.integer(1)) : raw.integer(1);
        s.samples += raw.integer(2);
        any = true;
    }
    return any ? std::optional<ChannelSpan>(s) : std::nullopt;
}

std::optional<qint64> TrendStore::lastWritten()
{
    sql::ReadTransaction read(db_);
    bool ok = false;
    const qint64 noted = meta(QStringLiteral("last_written")).toLongLong(&ok);
    if (ok)
        return noted;
    const auto s = span();
    return s ? std::optional<qint64>(s->last) : std::nullopt;
}

qint64 TrendStore::gapThresholdMs()
{
    bool ok = false;
    const qint64 poll = meta(QStringLiteral("poll_ms")).toLongLong(&ok);
    return 3 * (ok && poll > 0 ? poll : 1000);
}

QList<Gap> TrendStore::gaps(qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<Gap> out;
    if (to < from)
        return out;
    sql::ReadTransaction read(db_);
    const qint64 threshold = gapThresholdMs();
    // Spans of time known to hold no gap (a status is a span of no length), from a little
    // before `from` to a little after `to` so that gaps reaching over either end are found.
    struct Part {
        qint64 a, b;
    };
    std::vector<Part> parts;
    // Where raw statuses begin; before it only the summaries are left.
    qint64 rawStart = LatestMs;
    if (const auto s = db_.integer("SELECT coalesce(min(t0), -1) FROM chunk", -1); s >= 0)
        rawStart = s;
    if (const auto s = db_.integer("SELECT coalesce(min(t), -1) FROM status", -1); s >= 0)
        rawStart = std::min<qint64>(rawStart, s);
    // The statuses nearest outside [from, to] (the raw ones; a minute's summary times beyond).
    qint64 lo = from, hi = to;
    {
        sql::Stmt before(db_, "SELECT max(t) FROM status WHERE t < ?");
        before.bind(1, std::int64_t(from));
        qint64 b = -1;
        if (before.step() && !before.isNull(0))
            b = before.integer(0);
        sql::Stmt chunkBefore(db_, "SELECT t0 FROM chunk WHERE t0 < ? ORDER BY t0 DESC LIMIT 1");
        chunkBefore.bind(1, std::int64_t(from));
        if (chunkBefore.step())
            b = std::max<qint64>(b, chunkBefore.integer(0));
        if (b < 0) {
            sql::Stmt minute(db_, "SELECT max(t) FROM minute WHERE t < ?");
            minute.bind(1, std::int64_t(from));
            if (minute.step() && !minute.isNull(0))
                b = minute.integer(0);
        }
        if (b >= 0)
            lo = b;
        sql::Stmt after(db_, "SELECT min(t) FROM status WHERE t > ?");
        after.bind(1, std::int64_t(to));
        qint64 a = -1;
        if (after.step() && !after.isNull(0))
            a = after.integer(0);
        sql::Stmt chunkAfter(db_, "SELECT t0 FROM chunk WHERE t0 > ? ORDER BY t0 LIMIT 1");
        chunkAfter.bind(1, std::int64_t(to));
        if (chunkAfter.step())
            a = a < 0 ? chunkAfter.integer(0) : std::min<qint64>(a, chunkAfter.integer(0));
        if (a < 0) {
            sql::Stmt minute(db_, "SELECT min(t) FROM minute WHERE t > ?");
            minute.bind(1, std::int64_t(to));
            if (minute.step() && !minute.isNull(0))
                a = minute.integer(0) + MinuteMs - 1;
        }
        if (a >= 0)
            hi = a;
    }
    {
        sql::Stmt raw(db_, "SELECT t FROM status WHERE t >= ? AND t <= ?");
        raw.bind(1, std::int64_t(lo)).bind(2, std::int64_t(hi));
        while (raw.step())
            parts.push_back({raw.integer(0), raw.integer(0)});
    }
    {
        sql::Stmt chunks(db_, "SELECT t0, t1, maxgap FROM chunk WHERE t0 > ? AND t0 <= ?");
        chunks.bind(1, std::int64_t(lo - MinuteMs)).bind(2, std::int64_t(hi));
        sql::Stmt data(db_, "SELECT data FROM chunkdata WHERE t0 = ?");
        while (chunks.step()) {
            const qint64 t0 = chunks.integer(0), t1 = chunks.integer(1);
            // A minute packed before its longest interval was noted is read for spans up to a
            // day; over longer ones (drawn in steps of minutes or more) it counts as a whole.
            const bool unnoted = chunks.isNull(2);
            if ((!unnoted && chunks.integer(2) <= threshold) || (unnoted && hi - lo > DayMs)) {
                parts.push_back({t0, t1});
                continue;
            }
            // A minute with a long interval inside (or written before it was noted): its times.
            data.reset();
            data.bind(1, std::int64_t(t0));
            QList<StatusRow> rows;
            if (data.step() && unpackRows(data.blob(0), rows)) {
                for (const StatusRow &r : rows)
                    parts.push_back({r.t, r.t});
            } else {
                parts.push_back({t0, t1});
            }
        }
    }
    if (lo < rawStart) {
        sql::Stmt minutes(db_, sampleTimes_ ? "SELECT t, min(first), max(last) FROM minute WHERE t >= ? AND t <= ? AND t < ? GROUP BY t"
                                            : "SELECT t, NULL, NULL FROM minute WHERE t >= ? AND t <= ? AND t < ? GROUP BY t");
        minutes.bind(1, std::int64_t(floorTo(lo, MinuteMs))).bind(2, std::int64_t(hi)).bind(3, std::int64_t(rawStart));
        while (minutes.step()) {
            const qint64 t = minutes.integer(0);
            parts.push_back({minutes.isNull(1) ? t : minutes.integer(1), minutes.isNull(2) ? t + MinuteMs - 1 : minutes.integer(2)});
        }
    }
    std::sort(parts.begin(), parts.end(), [](const Part &x, const Part &y) { return x.a < y.a; });
    qint64 end = -1;
    for (const Part &p : parts) {
        if (end >= 0 && p.a - end > threshold && p.a >= from && end <= to)
            out.append({end, p.a});
        end = std::max(end, p.b);
    }
    return out;
}

std::map<int, ChannelSpan> TrendStore::channelSpans()
{
    sql::ReadTransaction read(db_);
    std::map<int, ChannelSpan> out;
    sql::Stmt get(db_, "SELECT channel, min(t), max(t), sum(n) FROM minute GROUP BY channel");
    while (get.step())
        out[int(get.integer(0))] = {get.integer(1), get.integer(2) + MinuteMs - 1, get.integer(3)};
    // The first and last sample exactly, from the statuses at either end of each minute.
    for (auto &[channel, s] : out) {
        for (qint64 *edge : {&s.first, &s.last}) {
            const qint64 minute = floorTo(*edge, MinuteMs);
            const QList<StatusRow> rows = readStatuses(minute, minute + MinuteMs - 1);
            qint64 found = -1;
            for (const StatusRow &row : rows) {
                if (!hasValue(row.values[size_t(channel)]))
                    continue;
                if (edge == &s.first) {
                    found = row.t;
                    break;
                }
                found = row.t;
            }
            if (found >= 0)
                *edge = found;
        }
    }
    return out;
}

QList<StatusRow> TrendStore::statuses(qint64 from, qint64 to)
{
    sql::ReadTransaction read(db_);
    return readStatuses(from, to);
}

QList<StatusRow> TrendStore::readStatuses(qint64 from, qint64 to)
{
    clampSpan(from, to);
    QList<StatusRow> rows;
    if (to < from)
        return rows;
    // A chunk holds one minute: those that can hold [from, to] start at most a minute before it.
    sql::Stmt chunks(db_, "SELECT data FROM chunkdata WHERE t0 > ? AND t0 <= ? ORDER BY t0");
    chunks.bind(1, std::int64_t(from - MinuteMs)).bind(2, std::int64_t(to));
    QList<StatusRow> packed;
    while (chunks.step())
        unpackRows(chunks.blob(0), packed);
    for (const StatusRow &row : packed) {
        if (row.t >= from && row.t <= to)
            rows.append(row);
    }
    sql::Stmt raw(db_, "SELECT t, registers, vals FROM status WHERE t >= ? AND t <= ? ORDER BY t");
    raw.bind(1, std::int64_t(from)).bind(2, std::int64_t(to));
    while (raw.step()) {
        StatusRow row;
        row.t = raw.integer(0);
        registersFromBytes(raw.blob(1), row.registers);
        const QByteArray vals = raw.blob(2);
        if (storedChannels(vals) < ChannelCount)
            row.values = decodeChannels(row.registers, row.t);
        else
            valuesFromBytes(vals, row.values);
        rows.append(row);
    }
    // Packed and raw statuses interleave after the clock was set back: time order all the same.
    std::stable_sort(rows.begin(), rows.end(), [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; });
    return rows;
}

QList<Bucket> TrendStore::summaries(int channel, qint64 stepMs, qint64 from, qint64 to)
{
    clampSpan(from, to);
    sql::ReadTransaction read(db_);
    QList<Bucket> out;
    const char *sql = stepMs == HourMs
                          ? (sampleTimes_ ? "SELECT t, n, lo, hi, total, first, last FROM hour WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t"
                                          : "SELECT t, n, lo, hi, total, NULL, NULL FROM hour WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t")
                          : (sampleTimes_ ? "SELECT t, n, lo, hi, total, first, last FROM minute WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t"
                                          : "SELECT t, n, lo, hi, total, NULL, NULL FROM minute WHERE channel = ? AND t >= ? AND t <= ? ORDER BY t");
    sql::Stmt get(db_, sql);
    get.bind(1, std::int64_t(channel)).bind(2, std::int64_t(from)).bind(3, std::int64_t(to));
    while (get.step()) {
        const qint64 n = get.integer(1);
        const qint64 t = get.integer(0);
        const qint64 first = get.isNull(5) ? t : get.integer(5);
        const qint64 last = get.isNull(6) ? t + stepMs - 1 : get.integer(6);
        out.append({t, n, get.real(2), get.real(3), n > 0 ? get.real(4) / double(n) : 0, first, last});
    }
    return out;
}

QList<QList<Bucket>> TrendStore::buckets(const QList<int> &channels, qint64 from, qint64 to, qint64 stepMs)
{
    clampSpan(from, to);
    QList<QList<Bucket>> out(channels.size());
    if (stepMs <= 0 || to < from)
        return out;
    sql::ReadTransaction read(db_);
    // Steps of whole hours follow local time: their starts are listed, and a time belongs to
    // the last start at or before it. Other steps are multiples of the step.
    const bool local = stepMs % HourMs == 0;
    std::vector<qint64> starts;
    if (local) {
        // Only the steps that can hold a summary are listed (an open end asks for none).
        // Each end found by the key (one aggregate per query): no scan of the summaries.
        sql::Stmt bounds(db_, "SELECT (SELECT min(t) FROM minute), (SELECT max(t) FROM minute)");
        if (!bounds.step() || bounds.isNull(0))
            return out;
        from = std::max<qint64>(from, bounds.integer(0));
        to = std::min<qint64>(to, bounds.integer(1) + MinuteMs - 1);
        if (to < from)
            return out;
        for (qint64 s = stepStart(from, stepMs); s <= to; s = nextStepStart(s, stepMs))
            starts.push_back(s);
    }
    auto bucketOf = [&](qint64 t) {
        if (!local)
            return floorTo(t, stepMs);
        const auto at = std::upper_bound(starts.cbegin(), starts.cend(), t);
        return at == starts.cbegin() ? starts.front() : *(at - 1);
    };
    const qint64 first = local ? starts.front() : floorTo(from, stepMs);
    auto allMultiplesOf = [&](qint64 unit) {
        return std::all_of(starts.cbegin(), starts.cend(), [unit](qint64 s) { return s % unit == 0; });
    };
    const qint64 source = local ? (allMultiplesOf(HourMs) ? HourMs : allMultiplesOf(MinuteMs) ? MinuteMs : 0)
                                : (stepMs % MinuteMs == 0 ? MinuteMs : 0);
    auto fold = [](QList<Bucket> &series, const std::map<qint64, Acc> &accs) {
        for (const auto &[t, acc] : accs) {
            if (acc.n > 0)
                series.append({t, acc.n, acc.min, acc.max, acc.sum / double(acc.n), acc.first, acc.last});
        }
    };
    if (source != 0) {
        for (qsizetype i = 0; i < channels.size(); ++i) {
            std::map<qint64, Acc> accs;
            for (const Bucket &b : summaries(channels.at(i), source, first, to)) {
                Acc part{b.n, b.min, b.max, b.mean * double(b.n), b.first, b.last};
                accs[bucketOf(b.t)].merge(part);
            }
            fold(out[i], accs);
        }
        return out;
    }
    std::vector<std::map<qint64, Acc>> accs(size_t(channels.size()));
    for (const StatusRow &row : readStatuses(from, to)) {
        const qint64 bucket = bucketOf(row.t);
        for (qsizetype i = 0; i < channels.size(); ++i) {
            const int c = channels.at(i);
            if (c >= 0 && c < ChannelCount && hasValue(row.values[size_t(c)]))
                accs[size_t(i)][bucket].add(row.values[size_t(c)], row.t);
        }
    }
    for (qsizetype i = 0; i < channels.size(); ++i)
        fold(out[i], accs[size_t(i)]);
    return out;
}

QList<Event> TrendStore::events(qint64 from, qint64 to)
{
    clampSpan(from, to);
    sql::ReadTransaction read(db_);
    QList<Event> out;
    sql::Stmt get(db_, "SELECT t, kind, text FROM event WHERE t >= ? AND t <= ? ORDER BY t, id");
    get.bind(1, std::int64_t(from)).bind(2, std::int64_t(to));
    while (get.step()) {
        const auto kind = eventKindFromName(get.text(1));
        if (kind)
            out.append({get.integer(0), *kind, get.text(2)});
    }
    return out;
}

} // namespace qeln::trend
