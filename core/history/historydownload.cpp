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
    retryTimer_.setSingleShot(true);
    connect(&engine_, &LinkEngine::answered, this, &HistoryDownload::onAnswered);
    connect(&engine_, &LinkEngine::failed, this, &HistoryDownload::onFailed);
    connect(&engine_, &LinkEngine::answeredLate, this, &HistoryDownload::onAnsweredLate);
}

HistoryDownload::~HistoryDownload()
{
    dropTicket();
}

bool HistoryDownload::serial() const
{
    return engine_.link() == LinkKind::Serial;
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
    const int model = engine_.statusBlock().ModelCode();
    if (model < 1 || model > 4)
        return false;
    kind_ = kind;
    hold_.take(engine_, HoldReason::HistoryDownload); // no status poll while it lasts
    recordIndex_ = 1;
    recordTotal_ = 0;
    active_ = true;
    startTicks_ = 0;
    total_ = 0;
    rows_.clear();
    completed_ = false;
    waitingForCount_ = false;
    repeats_ = 0;
    dropTicket();
    earlier_.clear();
    retryTimer_.stop();
    roundTrips_.clear();
    engine_.abandonTcpRequests(); // a poll still in flight must not answer into the download
    startTimer_.start();
    return true;
}

void HistoryDownload::close()
{
    startTimer_.stop();
    retryTimer_.stop();
    const bool wasActive = active_;
    active_ = false;
    recordIndex_ = 1;
    waitingForCount_ = false;
    dropTicket();
    if (wasActive && !serial())
        engine_.abandonTcpRequests();
    // Status polling resumes on the next tick.
    hold_.reset();
    engine_.startPolling();
}

void HistoryDownload::dropTicket()
{
    if (ticket_ != 0)
        engine_.cancel(std::exchange(ticket_, 0));
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
    // On TCP the engine's read time-out ends a request; on serial the learnt wait does.
    const int wait = serial() ? tryWaitMs() : 0;
    dropTicket();
    asked_.start();
    ticket_ = record < 0 ? engine_.requestHistoryCount(kind_, wait) : engine_.requestHistoryRecord(kind_, record, wait);
}

void HistoryDownload::onAnswered(Ticket ticket, const Answer &answer)
{
    if (ticket == 0 || ticket != ticket_)
        return;
    ticket_ = 0;
    if (!active())
        return;
    Q_EMIT answerArrived();
    if (waitingForCount_)
        takeCount(answer);
    else
        takeRecord(answer);
}

void HistoryDownload::onAnsweredLate(Ticket ticket, qint64 roundTripMs)
{
    // Every answer to a request asked again came: the first was the answer to the first
    // request, only late. That is this controller's time, and the wait follows it.
    if (!active() || !serial() || !earlier_.removeOne(ticket))
        return;
    Q_EMIT answerArrived();
    learn(roundTripMs);
}

void HistoryDownload::takeCount(const Answer &answer)
{
    if (answer.log != kind_) {
        askAgain(QStringLiteral("the count answer was the other log's"));
        return;
    }
    const std::optional<int> count = decodeCount(answer.payload, !serial());
    if (!count) {
        askAgain(QStringLiteral("the count answer was of the wrong size"));
        return;
    }
    if (serial() && repeats_ == 0)
        learn(answer.roundTripMs >= 0 ? answer.roundTripMs : asked_.elapsed());
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
    requestRecord();
}

void HistoryDownload::takeRecord(const Answer &answer)
{
    if (recordTotal_ < recordIndex_)
        return;
    if (answer.log != kind_) {
        askAgain(QStringLiteral("a record answer was the other log's"));
        return;
    }
    QStringList cells;
    if (kind_ == LogKind::Alarm) {
        if (const auto record = decodeAlarmRecord(answer.payload, !serial()))
            cells = alarmRow(recordIndex_, *record);
    } else if (const auto record = decodeEventRecord(answer.payload, !serial())) {
        cells = eventRow(recordIndex_, *record);
    }
    if (cells.isEmpty()) {
        askAgain(QStringLiteral("a record answer was of the wrong size"));
        return;
    }
    if (serial() && repeats_ == 0)
        learn(answer.roundTripMs >= 0 ? answer.roundTripMs : asked_.elapsed());
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
    requestRecord();
}

void HistoryDownload::finishDownload()
{
    retryTimer_.stop();
    engine_.stopPolling();
    const int count = recordIndex_;
    recordTotal_ = 0;
    active_ = false;
    completed_ = true;
    Q_EMIT finished(completionText(count));
}

void HistoryDownload::onFailed(Ticket ticket, const RequestFailure &failure)
{
    if (ticket == 0 || ticket != ticket_)
        return;
    ticket_ = 0;
    if (!active())
        return;
    if (failure.fault == AnswerFault::TimedOut && serial())
        earlier_.append(ticket);
    switch (failure.fault) {
    case AnswerFault::Exception: {
        Q_EMIT answerArrived();
        // 05 (acknowledge: still working on it) and 06 (busy) ask for the request later.
        const int code = failure.exceptionCode;
        askAgain(code < 0 ? QStringLiteral("the controller answered with an exception without a code")
                          : QStringLiteral("the controller answered with ") + exceptionText(code),
                 code == 5 || code == 6);
        return;
    }
    case AnswerFault::BadLrc:
    case AnswerFault::NotHexadecimal:
    case AnswerFault::BadLength:
    case AnswerFault::WrongTransaction:
        // On serial a spoilt frame is an answer that came; on TCP an answer of another
        // transaction or function is no answer to this request.
        if (serial())
            Q_EMIT answerArrived();
        askAgain(failure.fault == AnswerFault::BadLrc ? QStringLiteral("an answer with a wrong LRC")
                 : failure.fault == AnswerFault::NotHexadecimal ? QStringLiteral("an answer that was not hexadecimal")
                                                                 : failure.reason);
        return;
    case AnswerFault::TimedOut:
    case AnswerFault::LinkLost:
        askAgain(failure.reason);
        return;
    }
}

void HistoryDownload::askAgain(const QString &reason, bool busy)
{
    if (!active())
        return;
    qCInfo(lcHistory) << "answer lost or spoilt:" << reason;
    if (busy && !serial()) {
        // A controller that says it is busy gets a moment, longer each time.
        if (retryTimer_.isActive())
            return;
        const int backoff = TcpBusyBackoffMs << std::min(repeats_, 8);
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
    retryTimer_.stop();
    active_ = false;
    recordTotal_ = 0;
    waitingForCount_ = false;
    dropTicket();
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
