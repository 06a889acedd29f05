#include "historydownload.h"

#include "link/hextext.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHistory, "qeln.history", QtInfoMsg)

namespace qeln::history {

namespace {

const QString NoHistory = QStringLiteral("No History data");
const QString NoEventLog = QStringLiteral("No Event log data");
const QString PleaseTryAgain = QStringLiteral(" Please try again ");

} // namespace

HistoryDownload::HistoryDownload(LinkEngine &engine, QObject *parent)
    : QObject(parent), engine_(engine)
{
    startTimer_.setInterval(100);
    connect(&startTimer_, &QTimer::timeout, this, &HistoryDownload::onStartTick);
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, &HistoryDownload::onAnswerOverdue);
    retryTimer_.setSingleShot(true);
    connect(&engine_, &LinkEngine::historyCountReceived, this, &HistoryDownload::onCountReceived);
    connect(&engine_, &LinkEngine::historyRecordReceived, this, &HistoryDownload::onRecordReceived);
    connect(&engine_, &LinkEngine::requestFailed, this, &HistoryDownload::onRequestFailed);
}

HistoryDownload::~HistoryDownload() = default;

bool HistoryDownload::serial() const
{
    return engine_.state().LinkIsTcp == 0;
}

bool HistoryDownload::active() const
{
    return active_;
}

QStringList HistoryDownload::headers() const
{
    return kind_ == LogKind::Alarm ? alarmHeaders() : eventHeaders();
}

bool HistoryDownload::start(LogKind kind)
{
    ConsoleState &s = engine_.state();
    const int model = s.ModelCode();
    if (model < 1 || model > 4)
        return false;
    kind_ = kind;
    engine_.holdPolling(); // no status poll while it lasts
    recordIndex_ = 1;
    recordTotal_ = 0;
    active_ = true;
    startTicks_ = 0;
    total_ = 0;
    rows_.clear();
    completed_ = false;
    waitingForCount_ = false;
    repeats_ = 0;
    outstanding_ = 0;
    draining_ = false;
    answerTimer_.stop();
    retryTimer_.stop();
    roundTrips_.clear();
    engine_.abandonTcpRequests(); // a poll still in flight must not answer into the download
    startTimer_.start();
    return true;
}

void HistoryDownload::close()
{
    startTimer_.stop();
    answerTimer_.stop();
    retryTimer_.stop();
    const bool wasActive = active_;
    active_ = false;
    recordIndex_ = 1;
    waitingForCount_ = false;
    draining_ = false;
    if (wasActive && !serial())
        engine_.abandonTcpRequests();
    // Status polling resumes on the next tick.
    engine_.resumePolling();
    engine_.startPolling();
}

void HistoryDownload::onStartTick()
{
    if (++startTicks_ < StartTicks)
        return;
    startTicks_ = 0;
    startTimer_.stop();
    if (!active())
        return;
    repeats_ = 0;
    outstanding_ = 0;
    requestCount();
}

void HistoryDownload::skipStartDelay()
{
    if (!startTimer_.isActive())
        return;
    startTicks_ = StartTicks - 1;
    onStartTick();
}

int HistoryDownload::answerWaitMs() const
{
    if (roundTrips_.isEmpty())
        return initialWaitMs_;
    const int slowest = *std::max_element(roundTrips_.cbegin(), roundTrips_.cend());
    return std::max(shortestWaitMs_, std::min(slowest * RoundTripFactor, MaxAnswerWaitMs));
}

int HistoryDownload::tryWaitMs() const
{
    // Each repeat of one request waits twice as long as the one before: a controller that
    // is busy for a moment is not given up on after a few short waits.
    const int wait = answerWaitMs();
    return int(std::min<qint64>(qint64(wait) << std::min(repeats_, 16), std::max(wait, MaxAnswerWaitMs)));
}

void HistoryDownload::learn(qint64 roundTripMs)
{
    roundTrips_.append(int(std::clamp<qint64>(roundTripMs, 0, MaxAnswerWaitMs)));
    if (roundTrips_.size() > RoundTripSamples)
        roundTrips_.removeFirst();
}

void HistoryDownload::requestCount()
{
    waitingForCount_ = true;
    send(-1);
}

void HistoryDownload::requestRecord()
{
    send(recordTotal_ - recordIndex_);
}

void HistoryDownload::send(int record)
{
    const auto request = [this, record] {
        if (record < 0)
            engine_.requestHistoryCount(kind_);
        else
            engine_.requestHistoryRecord(kind_, record);
    };
    if (serial()) {
        if (++outstanding_ == 1) {
            firstAsked_.start();
            spacingMs_ = 0;
        } else {
            spacingMs_ = std::max(spacingMs_, int(lastAsked_.elapsed()));
        }
        lastAsked_.start();
        const int wait = tryWaitMs();
        request();
        answerTimer_.start(wait);
        return;
    }
    // On TCP an answer belongs to its request: one that failed cannot answer later.
    outstanding_ = 1;
    answerTimer_.start(TcpGuardMs);
    request();
}

bool HistoryDownload::answerCame()
{
    Q_EMIT answerArrived();
    const bool alone = outstanding_ == 1;
    if (outstanding_ > 0)
        --outstanding_;
    return alone;
}

void HistoryDownload::answerSpoilt(const QString &reason, bool busy)
{
    if (!active())
        return;
    qCInfo(lcHistory) << "answer spoilt:" << reason;
    if (!serial()) {
        askAgain(reason, busy);
        return;
    }
    if (draining_) {
        // A further answer to the record already stored: spoilt or not, it is accounted for.
        drainAnswer();
        return;
    }
    // Another request for the same count or record is still unanswered: its answer may yet
    // come (the answer timer runs); asking now would put a third answer on the line.
    if (outstanding_ > 0)
        return;
    answerTimer_.stop();
    repeatRequest(reason);
}

void HistoryDownload::onCountReceived(LogKind log, const QByteArray &payload)
{
    if (!active() || !waitingForCount_) {
        // A count nobody waits for (a late one after the window closed, the answer to a
        // repeated count request) starts nothing.
        qCInfo(lcHistory) << "count answer dropped: no download of that log waits for it";
        return;
    }
    const bool alone = answerCame();
    if (log != kind_) {
        answerSpoilt(QStringLiteral("the count answer was the other log's"));
        return;
    }
    const std::optional<int> count = decodeCount(payload, !serial());
    if (!count) {
        answerSpoilt(QStringLiteral("the count answer was of the wrong size"));
        return;
    }
    answerTimer_.stop();
    if (serial() && alone)
        learn(firstAsked_.elapsed());
    waitingForCount_ = false;
    repeats_ = 0;
    total_ = std::max(*count, 0);
    recordTotal_ = total_;
    Q_EMIT countReceived(total_);
    Q_EMIT progressChanged(0, QStringLiteral("Total : 0 /0"));
    if (!active())
        return;
    if (total_ <= 0) {
        active_ = false;
        // The TCP event log says "No History data" as well: that is what operators know.
        Q_EMIT noData(kind_ == LogKind::Event && serial() ? NoEventLog : NoHistory);
        return;
    }
    // Answers still due to a repeated count request are count answers: they are told apart
    // from the records by their code and dropped above.
    outstanding_ = 0;
    requestRecord();
}

void HistoryDownload::onRecordReceived(LogKind log, const QByteArray &payload)
{
    if (!active() || waitingForCount_ || recordTotal_ < recordIndex_) {
        qCInfo(lcHistory) << "record answer dropped: no download of that log waits for it";
        return;
    }
    const bool alone = answerCame();
    if (draining_) {
        // An answer to a request that was repeated, for the record already stored.
        drainAnswer();
        return;
    }
    if (log != kind_) {
        answerSpoilt(QStringLiteral("a record answer was the other log's"));
        return;
    }

    QStringList cells;
    if (kind_ == LogKind::Alarm) {
        if (const auto record = decodeAlarmRecord(payload, !serial()))
            cells = alarmRow(recordIndex_, *record);
    } else if (const auto record = decodeEventRecord(payload, !serial())) {
        cells = eventRow(recordIndex_, *record);
    }
    if (cells.isEmpty()) {
        answerSpoilt(QStringLiteral("a record answer was of the wrong size"));
        return;
    }

    answerTimer_.stop();
    const qint64 roundTrip = firstAsked_.elapsed();
    if (serial() && alone)
        learn(roundTrip);
    repeats_ = 0;
    rows_.append(cells);
    const int row = recordIndex_;
    Q_EMIT rowStored(row, cells);
    Q_EMIT progressChanged(row * 100 / total_, QStringLiteral("Total : %1 /%2").arg(row).arg(total_));
    // A receiver may have closed the window meanwhile: then nothing more goes out.
    if (!active())
        return;
    if (row >= recordTotal_) {
        finishDownload();
        return;
    }
    ++recordIndex_;
    if (serial() && outstanding_ > 0) {
        // The record was asked for more than once and another answer may still come: it must
        // not be taken for the next record. Late answers follow one another as far apart as
        // their requests went out, or one answer time apart when the controller queued them.
        draining_ = true;
        drainRoundTrip_ = roundTrip;
        drainWaitMs_ = std::max(answerWaitMs(), spacingMs_ * 3 / 2);
        answerTimer_.start(drainWaitMs_);
        return;
    }
    requestRecord();
}

void HistoryDownload::drainAnswer()
{
    if (outstanding_ <= 0)
        endDrain(true);
    else
        answerTimer_.start(drainWaitMs_);
}

void HistoryDownload::endDrain(bool allCame)
{
    draining_ = false;
    outstanding_ = 0;
    answerTimer_.stop();
    // Every answer came: the first was the answer to the first request, only late. That is
    // this controller's time, and the wait follows it. A lost one teaches nothing.
    if (allCame && drainRoundTrip_ >= 0)
        learn(drainRoundTrip_);
    drainRoundTrip_ = -1;
    if (active())
        requestRecord();
}

void HistoryDownload::finishDownload()
{
    answerTimer_.stop();
    retryTimer_.stop();
    engine_.stopPolling();
    const int count = recordIndex_;
    recordTotal_ = 0;
    active_ = false;
    completed_ = true;
    Q_EMIT finished(completionText(count));
}

void HistoryDownload::onAnswerOverdue()
{
    if (!active())
        return;
    if (draining_) {
        // The repeated request's other answer did not come: it was lost.
        endDrain(false);
        return;
    }
    if (!serial()) {
        // Neither an answer nor a failure: whatever holds the request is dropped first, so
        // that two requests for one record are never on the way.
        engine_.abandonTcpRequests();
        askAgain(QStringLiteral("the link reported nothing within %1 s").arg(TcpGuardMs / 1000));
        return;
    }
    askAgain(QStringLiteral("no answer within %1 ms").arg(answerTimer_.interval()));
}

int HistoryDownload::expectedSerialLength() const
{
    // ":" unit function, the data as hexadecimal pairs, the LRC.
    constexpr int CountBytes = 4, AlarmBytes = 34, EventBytes = 10;
    const int data = waitingForCount_ ? CountBytes : kind_ == LogKind::Alarm ? AlarmBytes : EventBytes;
    return 5 + 2 * data + 2;
}

void HistoryDownload::onRequestFailed(const RequestFailure &failure)
{
    if (!active())
        return;
    if (serial()) {
        onSerialFrameSpoilt(failure);
        return;
    }
    if (startTimer_.isActive())
        return;
    if (failure.fault != AnswerFault::Exception) {
        askAgain(failure.reason);
        return;
    }
    const Request awaited = waitingForCount_ ? requests::historyCount(LinkKind::Tcp, kind_, 0)
                                             : requests::historyRecord(LinkKind::Tcp, kind_, 0, 0);
    if (failure.function != awaited.function)
        return;
    answerCame();
    // 05 (acknowledge: still working on it) and 06 (busy) ask for the request later.
    const int code = failure.exceptionCode;
    answerSpoilt(code < 0 ? QStringLiteral("the controller answered with an exception without a code")
                          : QStringLiteral("the controller answered with ") + exceptionText(code),
                 code == 5 || code == 6);
}

void HistoryDownload::onSerialFrameSpoilt(const RequestFailure &failure)
{
    if (outstanding_ <= 0)
        return;
    // Only a frame of the size of the answer awaited is taken for it; anything else (a status
    // answer that was on its way, a frame that lost characters) lets the answer timer decide.
    if (failure.length != expectedSerialLength())
        return;
    answerCame();
    answerSpoilt(failure.fault == AnswerFault::BadLrc ? QStringLiteral("an answer with a wrong LRC")
                                                      : QStringLiteral("an answer that was not hexadecimal"));
}

void HistoryDownload::askAgain(const QString &reason, bool busy)
{
    if (!active())
        return;
    if (!serial()) {
        // The failure and a dropped answer may both report one lost request: ask once, when
        // the link is free. A controller that says it is busy gets a moment, longer each time.
        if (retryTimer_.isActive())
            return;
        answerTimer_.stop();
        const int backoff = busy ? TcpBusyBackoffMs << std::min(repeats_, 8) : 0;
        disconnect(&retryTimer_, &QTimer::timeout, this, nullptr);
        connect(&retryTimer_, &QTimer::timeout, this, [this, reason] { repeatRequest(reason); });
        retryTimer_.start(backoff);
        return;
    }
    repeatRequest(reason);
}

void HistoryDownload::repeatRequest(const QString &reason)
{
    if (!active())
        return;
    if (++repeats_ > MaxRepeats) {
        giveUp(reason);
        return;
    }
    qCInfo(lcHistory) << "asking again:" << reason;
    if (waitingForCount_)
        requestCount();
    else
        requestRecord();
}

void HistoryDownload::giveUp(const QString &reason)
{
    answerTimer_.stop();
    retryTimer_.stop();
    active_ = false;
    recordTotal_ = 0;
    waitingForCount_ = false;
    draining_ = false;
    if (!serial())
        engine_.abandonTcpRequests();
    const QString what = rows_.isEmpty() && total_ == 0 ? QStringLiteral("the record count")
                                                         : QStringLiteral("record %1 of %2").arg(rows_.size() + 1).arg(total_);
    Q_EMIT failed(PleaseTryAgain, QStringLiteral("No usable answer came for %1 after %2 tries (the last: %3). "
                                                 "%4 of %5 records arrived; close the window and try again.")
                                      .arg(what)
                                      .arg(MaxRepeats + 1)
                                      .arg(reason)
                                      .arg(rows_.size())
                                      .arg(total_));
}

} // namespace qeln::history
