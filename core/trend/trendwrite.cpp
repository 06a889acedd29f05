#include "trendstore.h"
#include "trendstoreinternal.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>

namespace qeln::trend {

using namespace detail;

void TrendStore::Acc::add(double v, qint64 t)
{
    if (n == 0) {
        min = max = v;
        first = last = t;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
        first = std::min(first, t);
        last = std::max(last, t);
    }
    sum += v;
    ++n;
}

void TrendStore::Acc::merge(const Acc &other)
{
    if (other.n == 0)
        return;
    if (n == 0) {
        *this = other;
        return;
    }
    min = std::min(min, other.min);
    max = std::max(max, other.max);
    first = std::min(first, other.first);
    last = std::max(last, other.last);
    sum += other.sum;
    n += other.n;
}

void TrendStore::add(const StatusRow &row)
{
    pendingRows_.push_back(row);
}

void TrendStore::addEvent(const Event &event)
{
    pendingEvents_.push_back(event);
}

bool TrendStore::isStored(qint64 t)
{
    {
        sql::Stmt raw(db_, "SELECT 1 FROM status WHERE t = ?");
        raw.bind(1, std::int64_t(t));
        if (raw.step())
            return true;
    }
    // A packed minute whose span holds t: its times are read (and kept for the next status).
    sql::Stmt chunk(db_, "SELECT t0 FROM chunk WHERE t0 <= ? AND t0 > ? AND t1 >= ?");
    chunk.bind(1, std::int64_t(t)).bind(2, std::int64_t(t - MinuteMs)).bind(3, std::int64_t(t));
    while (chunk.step()) {
        const qint64 t0 = chunk.integer(0);
        if (t0 != cachedChunk_) {
            cachedTimes_.clear();
            sql::Stmt data(db_, "SELECT data FROM chunkdata WHERE t0 = ?");
            data.bind(1, std::int64_t(t0));
            QList<StatusRow> rows;
            if (data.step())
                unpackRows(data.blob(0), rows);
            for (const StatusRow &r : rows)
                cachedTimes_.push_back(r.t);
            cachedChunk_ = t0;
        }
        if (std::find(cachedTimes_.cbegin(), cachedTimes_.cend(), t) != cachedTimes_.cend())
            return true;
    }
    return false;
}

bool TrendStore::insertRow(const StatusRow &row, std::map<AccKey, Acc> &minutes, std::map<AccKey, Acc> &hours, bool &inserted)
{
    inserted = false;
    if (isStored(row.t))
        return true;
    sql::Stmt put(db_, "INSERT OR IGNORE INTO status(t, registers, vals) VALUES(?, ?, ?)");
    put.bind(1, std::int64_t(row.t)).bind(2, registerBytes(row.registers)).bind(3, valueBytes(row.values));
    if (!put.run())
        return false;
    inserted = db_.changes() > 0;
    if (!inserted)
        return true;
    for (int c = 0; c < ChannelCount; ++c) {
        const double v = row.values[size_t(c)];
        if (!hasValue(v))
            continue;
        minutes[{c, floorTo(row.t, MinuteMs)}].add(v, row.t);
        hours[{c, floorTo(row.t, HourMs)}].add(v, row.t);
    }
    return true;
}

bool TrendStore::writeSummaries(const char *table, const std::map<AccKey, Acc> &accs)
{
    // A summary whose sample times are unknown (written by an older version) keeps them so.
    const QByteArray sql = QByteArray("INSERT INTO ") + table
                           + (sampleTimes_ ? "(channel, t, n, lo, hi, total, first, last) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"
                                           : "(channel, t, n, lo, hi, total) VALUES(?, ?, ?, ?, ?, ?)")
                           + " ON CONFLICT(t, channel) DO UPDATE SET"
                             " n = n + excluded.n, lo = min(lo, excluded.lo), hi = max(hi, excluded.hi),"
                             " total = total + excluded.total"
                           + (sampleTimes_ ? ", first = min(first, excluded.first), last = max(last, excluded.last)" : "");
    sql::Stmt put(db_, sql.constData());
    for (const auto &[key, acc] : accs) {
        put.bind(1, std::int64_t(key.first)).bind(2, std::int64_t(key.second)).bind(3, std::int64_t(acc.n));
        put.bind(4, acc.min).bind(5, acc.max).bind(6, acc.sum);
        if (sampleTimes_)
            put.bind(7, std::int64_t(acc.first)).bind(8, std::int64_t(acc.last));
        if (!put.run())
            return false;
    }
    return true;
}

bool TrendStore::writeEvent(const Event &e, bool unlessThere)
{
    if (unlessThere) {
        sql::Stmt there(db_, "SELECT 1 FROM event WHERE t = ? AND kind = ? AND text = ?");
        there.bind(1, std::int64_t(e.t)).bindText(2, eventKindName(e.kind)).bindText(3, e.text);
        if (there.step())
            return true;
        if (!there.ok())
            return false;
    }
    sql::Stmt put(db_, "INSERT INTO event(t, kind, text) VALUES(?, ?, ?)");
    put.bind(1, std::int64_t(e.t)).bindText(2, eventKindName(e.kind)).bindText(3, e.text);
    return put.run();
}

bool TrendStore::packCompleteMinutes(qint64 before)
{
    // The minutes that have raw statuses before `before`, packed one at a time.
    std::vector<qint64> minutes;
    {
        sql::Stmt get(db_, "SELECT t FROM status WHERE t < ? ORDER BY t");
        get.bind(1, std::int64_t(before));
        while (get.step()) {
            const qint64 m = floorTo(get.integer(0), MinuteMs);
            if (minutes.empty() || minutes.back() != m)
                minutes.push_back(m);
        }
        if (!get.ok())
            return false;
    }
    for (const qint64 minute : minutes) {
        QList<StatusRow> rows;
        sql::Stmt get(db_, "SELECT t, registers, vals FROM status WHERE t >= ? AND t < ? ORDER BY t");
        get.bind(1, std::int64_t(minute)).bind(2, std::int64_t(std::min(minute + MinuteMs, before)));
        while (get.step()) {
            StatusRow row;
            row.t = get.integer(0);
            registersFromBytes(get.blob(1), row.registers);
            valuesFromBytes(get.blob(2), row.values);
            rows.append(row);
        }
        if (!get.ok() || !packMinute(minute, rows))
            return false;
    }
    return true;
}

bool TrendStore::packMinute(qint64 minute, QList<StatusRow> rows)
{
    if (rows.isEmpty())
        return true;
    cachedChunk_ = -1;
    // A minute packed before (a recording that resumed within it, a clock set back) is
    // packed again whole. A packed minute this program cannot read is never replaced: the
    // new statuses of that minute stay raw beside it.
    std::vector<qint64> known;
    QList<StatusRow> earlier;
    {
        sql::Stmt old(db_, "SELECT t0, data FROM chunkdata WHERE t0 >= ? AND t0 < ?");
        old.bind(1, std::int64_t(minute)).bind(2, std::int64_t(minute + MinuteMs));
        while (old.step()) {
            if (!unpackRows(old.blob(1), earlier))
                return true;
            known.push_back(old.integer(0));
        }
        if (!old.ok())
            return false;
    }
    for (const qint64 t0 : known) {
        for (const char *sql : {"DELETE FROM chunk WHERE t0 = ?", "DELETE FROM chunkdata WHERE t0 = ?"}) {
            sql::Stmt drop(db_, sql);
            drop.bind(1, std::int64_t(t0));
            if (!drop.run())
                return false;
        }
    }
    QList<StatusRow> part = earlier + rows;
    std::stable_sort(part.begin(), part.end(), [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; });
    // A time packed before stays as it was packed.
    part.erase(std::unique(part.begin(), part.end(), [](const StatusRow &a, const StatusRow &b) { return a.t == b.t; }),
               part.end());
    qint64 maxGap = 0;
    for (qsizetype i = 1; i < part.size(); ++i)
        maxGap = std::max(maxGap, part.at(i).t - part.at(i - 1).t);
    sql::Stmt put(db_, "INSERT INTO chunk(t0, t1, n, maxgap) VALUES(?, ?, ?, ?)");
    sql::Stmt putData(db_, "INSERT INTO chunkdata(t0, data) VALUES(?, ?)");
    put.bind(1, std::int64_t(part.first().t)).bind(2, std::int64_t(part.last().t));
    put.bind(3, std::int64_t(part.size())).bind(4, std::int64_t(maxGap));
    putData.bind(1, std::int64_t(part.first().t)).bind(2, packRows(part));
    sql::Stmt drop(db_, "DELETE FROM status WHERE t >= ? AND t <= ?");
    drop.bind(1, std::int64_t(minute)).bind(2, std::int64_t(rows.last().t));
    return put.run() && putData.run() && drop.run();
}

bool TrendStore::flush(QString &error, bool *diskProblem)
{
    if (diskProblem)
        *diskProblem = false;
    if (!hasPending())
        return true;
    bool ok = false;
    {
        sql::Transaction tx(db_);
        ok = tx.begun();
        std::map<AccKey, Acc> minutes, hours;
        std::optional<qint64> last;
        for (const StatusRow &row : pendingRows_) {
            if (!ok)
                break;
            bool inserted = false;
            ok = insertRow(row, minutes, hours, inserted);
            if (inserted)
                last = row.t;
        }
        for (const Event &e : pendingEvents_) {
            if (!ok)
                break;
            ok = writeEvent(e, false);
        }
        ok = ok && writeSummaries("minute", minutes) && writeSummaries("hour", hours);
        if (ok && last)
            ok = setMeta(QStringLiteral("last_written"), QString::number(*last));
        // Minutes before the newest status's are complete: packed now.
        if (ok && !pendingRows_.empty()) {
            const qint64 newest = std::max_element(pendingRows_.cbegin(), pendingRows_.cend(),
                                                   [](const StatusRow &a, const StatusRow &b) { return a.t < b.t; })->t;
            ok = packCompleteMinutes(floorTo(newest, MinuteMs));
        }
        ok = ok && tx.commit();
    }
    pendingRows_.clear();
    pendingEvents_.clear();
    cachedChunk_ = -1;
    if (!ok) {
        error = db_.error();
        if (diskProblem)
            *diskProblem = db_.lastWasDiskProblem();
    }
    return ok;
}

bool TrendStore::prune(qint64 nowMs, qint64 rawKeepMs, qint64 summaryKeepMs)
{
    const qint64 rawCut = nowMs - rawKeepMs;
    const qint64 summaryCut = nowMs - summaryKeepMs;
    {
        sql::Transaction tx(db_);
        if (!tx.begun())
            return false;
        // A packed minute ends less than a minute after it starts: those starting a minute before
        // the cut are wholly older (found by the key, without reading the packed data).
        sql::Stmt chunks(db_, "DELETE FROM chunk WHERE t0 < ?");
        sql::Stmt chunkData(db_, "DELETE FROM chunkdata WHERE t0 < ?");
        sql::Stmt raw(db_, "DELETE FROM status WHERE t < ?");
        sql::Stmt minutes(db_, "DELETE FROM minute WHERE t < ?");
        sql::Stmt hours(db_, "DELETE FROM hour WHERE t < ?");
        sql::Stmt events(db_, "DELETE FROM event WHERE t < ?");
        chunks.bind(1, std::int64_t(rawCut - MinuteMs));
        chunkData.bind(1, std::int64_t(rawCut - MinuteMs));
        raw.bind(1, std::int64_t(rawCut));
        minutes.bind(1, std::int64_t(summaryCut));
        hours.bind(1, std::int64_t(summaryCut));
        events.bind(1, std::int64_t(summaryCut));
        if (!(chunks.run() && chunkData.run() && raw.run() && minutes.run() && hours.run() && events.run() && tx.commit()))
            return false;
    }
    cachedChunk_ = -1;
    giveBackPages();
    return true;
}

void TrendStore::giveBackPages()
{
    if (db_.integer("PRAGMA auto_vacuum") == 2) {
        db_.exec("PRAGMA incremental_vacuum");
    } else {
        // A file made before pages were given back: rewritten once, when a quarter of it is free.
        const std::int64_t free = db_.integer("PRAGMA freelist_count");
        const std::int64_t pages = db_.integer("PRAGMA page_count");
        if (free <= 0 || free * 4 < pages)
            return;
        if (!db_.exec("PRAGMA auto_vacuum=INCREMENTAL; VACUUM"))
            return;
    }
    // The file shrinks when the log is copied back into it.
    db_.exec("PRAGMA wal_checkpoint(PASSIVE)");
}

bool TrendStore::absorb(const QString &otherPath, QString &error)
{
    if (mode_ != Mode::Record) {
        error = QStringLiteral("%1 is not open for recording").arg(path_);
        return false;
    }
    if (QFileInfo(otherPath).absoluteFilePath() == QFileInfo(path_).absoluteFilePath()) {
        error = QStringLiteral("%1 cannot take itself in").arg(path_);
        return false;
    }
    // A file that is being recorded goes on changing: it is left to its recorder.
    QLockFile otherLock(otherPath + QStringLiteral(".lock"));
    otherLock.setStaleLockTime(0);
    if (!otherLock.tryLock(0) && otherLock.error() == QLockFile::LockFailedError) {
        error = QStringLiteral("%1 is being recorded by %2; it is taken in once that recording stops")
                    .arg(QDir::toNativeSeparators(otherPath), lockHolder(otherLock));
        return false;
    }
    TrendStore other;
    if (!other.open(otherPath, Mode::Read, error))
        return false;
    if (hasPending() && !flush(error))
        return false;
    Snapshot snapshot(other);
    const auto otherSpan = other.span();
    const auto ownSpan = span();
    bool ok = false;
    {
        sql::Transaction tx(db_);
        ok = tx.begun();
        // An hour at a time: memory stays small whatever the other file holds.
        for (qint64 from = otherSpan ? otherSpan->first : 1, to = otherSpan ? otherSpan->last : 0; ok && from <= to;
             from += HourMs) {
            std::map<AccKey, Acc> minutes, hours;
            for (const StatusRow &row : other.statuses(from, std::min(to, from + HourMs - 1))) {
                bool inserted = false;
                if (!(ok = insertRow(row, minutes, hours, inserted)))
                    break;
            }
            ok = ok && writeSummaries("minute", minutes) && writeSummaries("hour", hours);
        }
        if (ok) {
            for (const Event &e : other.events(0, LatestMs)) {
                if (!(ok = writeEvent(e, true)))
                    break;
            }
        }
        // What came in is packed up to the minute this recording is writing now.
        if (ok && otherSpan) {
            const qint64 newest = ownSpan ? std::max(ownSpan->last, otherSpan->last) : otherSpan->last;
            ok = packCompleteMinutes(floorTo(ownSpan ? ownSpan->last : newest + MinuteMs, MinuteMs));
        }
        if (ok && !ownSpan && otherSpan) {
            if (const auto last = other.lastWritten())
                ok = setMeta(QStringLiteral("last_written"), QString::number(*last));
        }
        ok = ok && tx.commit();
    }
    cachedChunk_ = -1;
    if (!ok)
        error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path_), db_.error());
    return ok;
}

} // namespace qeln::trend
