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

// Request and answer codes: serial request, serial answer, TCP function (as two hex digits).
struct Codes {
    QByteArray serialCount, serialCountAnswer, serialRecord, serialRecordAnswer, tcpCount, tcpRecord;
};

const Codes &codes(LogKind kind)
{
    static const Codes alarm{"30", "C0", "31", "C1", "43", "44"};
    static const Codes event{"40", "D0", "41", "D1", "46", "47"};
    return kind == LogKind::Alarm ? alarm : event;
}

} // namespace

HistoryDownload::HistoryDownload(LinkEngine &engine, QObject *parent)
    : QObject(parent), engine_(engine)
{
    startTimer_.setInterval(100);
    connect(&startTimer_, &QTimer::timeout, this, &HistoryDownload::Timer1Timer);
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, &HistoryDownload::onAnswerOverdue);
    connect(&engine_, &LinkEngine::tcpRequestFailed, this, &HistoryDownload::onTcpFailed);
}

HistoryDownload::~HistoryDownload()
{
    if (engine_.decoders() == this)
        engine_.setDecoders(nullptr);
}

bool HistoryDownload::serial() const
{
    return engine_.state().LinkIsTcp == 0;
}

bool HistoryDownload::active() const
{
    return engine_.state().HistoryDownloadActive == 1;
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
    s.RequestState = StateTcpHistory; // the poll scheduler sends nothing while it lasts
    s.RecordIndex = 1;
    s.RecordTotal = 0;
    s.HistoryDownloadActive = 1;
    s.HistoryMode = std::uint8_t(kind);
    startTicks_ = 0;
    total_ = 0;
    rows_.clear();
    completed_ = false;
    waitingForCount_ = false;
    repeats_ = 0;
    outstanding_ = 0;
    draining_ = false;
    retryPending_ = false;
    answerWaitMs_ = answerMs_;
    engine_.abandonTcpRequests(); // a poll still in flight must not answer into the download
    startTimer_.start();
    return true;
}

void HistoryDownload::close()
{
    startTimer_.stop();
    answerTimer_.stop();
    ConsoleState &s = engine_.state();
    const bool wasActive = s.HistoryDownloadActive == 1;
    s.HistoryDownloadActive = 0;
    s.RecordIndex = 1;
    waitingForCount_ = false;
    draining_ = false;
    retryPending_ = false;
    if (wasActive && !serial())
        engine_.abandonTcpRequests();
    // Status polling resumes on the next tick.
    engine_.pollTimer()->start();
    s.RequestState = StatePoll;
    s.PollReady = 1;
}

void HistoryDownload::Timer1Timer()
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
    Timer1Timer();
}

void HistoryDownload::requestCount()
{
    waitingForCount_ = true;
    outstanding_ = serial() ? outstanding_ + 1 : 1;
    const Codes &c = codes(kind_);
    if (outstanding_ == 1)
        firstAsked_.start();
    engine_.SendHistoryRequest("01", serial() ? c.serialCount : c.tcpCount, 0);
    if (serial())
        answerTimer_.start(answerWaitMs_);
}

void HistoryDownload::requestRecord()
{
    ConsoleState &s = engine_.state();
    // On TCP an answer belongs to its request: one that failed cannot answer later.
    outstanding_ = serial() ? outstanding_ + 1 : 1;
    const Codes &c = codes(kind_);
    if (outstanding_ == 1)
        firstAsked_.start();
    engine_.SendHistoryRequest("01", serial() ? c.serialRecord : c.tcpRecord, s.RecordTotal - s.RecordIndex);
    if (serial())
        answerTimer_.start(answerWaitMs_);
}

void HistoryDownload::DecodeHistoryCount(ConsoleState &s)
{
    const Codes &c = codes(kind_);
    const bool mine = s.FunctionCodeText == (serial() ? c.serialCountAnswer : c.tcpCount);
    if (!active() || !waitingForCount_ || !mine) {
        // A count nobody waits for (a late one after the window closed, the other log's)
        // starts nothing.
        qCInfo(lcHistory) << "count answer dropped: no download of that log waits for it";
        return;
    }
    const std::optional<int> count = decodeCount(s.ResponseText, !serial());
    --outstanding_;
    if (!count) {
        qCInfo(lcHistory) << "count answer dropped: wrong size or not hexadecimal";
        askAgain(QStringLiteral("the count answer was of the wrong size"));
        return;
    }
    answerTimer_.stop();
    waitingForCount_ = false;
    repeats_ = 0;
    total_ = std::max(*count, 0);
    s.RecordTotal = total_;
    Q_EMIT countReceived(total_);
    Q_EMIT progressChanged(0, QStringLiteral("Total : 0 /0"));
    if (!active())
        return;
    if (total_ <= 0) {
        s.HistoryDownloadActive = 0;
        // The TCP event log says "No History data" as well: that is what operators know.
        Q_EMIT noData(kind_ == LogKind::Event && serial() ? NoEventLog : NoHistory);
        return;
    }
    outstanding_ = 0;
    requestRecord();
}

void HistoryDownload::AdvanceHistoryRecord(ConsoleState &s)
{
    const Codes &c = codes(kind_);
    const bool mine = s.FunctionCodeText == (serial() ? c.serialRecordAnswer : c.tcpRecord);
    if (!active() || waitingForCount_ || !mine || s.RecordTotal < s.RecordIndex) {
        qCInfo(lcHistory) << "record answer dropped: no download of that log waits for it";
        return;
    }
    if (outstanding_ > 0)
        --outstanding_;
    if (draining_) {
        // An answer to a request that was repeated, for the record already stored.
        if (outstanding_ <= 0)
            endDrain();
        return;
    }

    QStringList cells;
    if (kind_ == LogKind::Alarm) {
        if (const auto record = decodeAlarmRecord(s.ResponseText, !serial()))
            cells = alarmRow(s.RecordIndex, *record);
    } else if (const auto record = decodeEventRecord(s.ResponseText, !serial())) {
        cells = eventRow(s.RecordIndex, *record);
    }
    if (cells.isEmpty()) {
        qCInfo(lcHistory) << "record answer dropped: wrong size or not hexadecimal";
        if (outstanding_ <= 0)
            askAgain(QStringLiteral("a record answer was of the wrong size"));
        return;
    }

    answerTimer_.stop();
    repeats_ = 0;
    rows_.append(cells);
    const int row = s.RecordIndex;
    Q_EMIT rowStored(row, cells);
    Q_EMIT progressChanged(row * 100 / total_, QStringLiteral("Total : %1 /%2").arg(row).arg(total_));
    // A receiver may have closed the window meanwhile: then nothing more goes out.
    if (!active())
        return;
    if (row >= s.RecordTotal) {
        finishDownload();
        return;
    }
    ++s.RecordIndex;
    if (outstanding_ > 0) {
        // The record was asked for more than once and another answer may still come: it must
        // not be taken for the next record. The answers to the repeats come about as far apart
        // as the repeats went out: wait for them that long and half as much again.
        draining_ = true;
        answerTimer_.start(answerWaitMs_ * 3 / 2);
        // This controller answers slower than the wait: the next requests wait longer, so it
        // is not asked twice for every record.
        answerWaitMs_ = int(std::min<qint64>(std::max<qint64>(answerWaitMs_, firstAsked_.elapsed() * 3 / 2),
                                             MaxAnswerWaitMs));
        return;
    }
    requestRecord();
}

void HistoryDownload::endDrain()
{
    draining_ = false;
    outstanding_ = 0;
    answerTimer_.stop();
    if (active())
        requestRecord();
}

void HistoryDownload::finishDownload()
{
    ConsoleState &s = engine_.state();
    answerTimer_.stop();
    engine_.pollTimer()->stop();
    const int count = s.RecordIndex;
    s.RecordTotal = 0;
    s.HistoryDownloadActive = 0;
    completed_ = true;
    Q_EMIT finished(completionText(count));
}

void HistoryDownload::onAnswerOverdue()
{
    if (!active())
        return;
    if (draining_) {
        // The repeated request's second answer did not come: it was lost.
        endDrain();
        return;
    }
    askAgain(QStringLiteral("no answer within %1 ms").arg(answerWaitMs_));
}

void HistoryDownload::onTcpFailed(const QString &reason)
{
    if (!active() || serial() || startTimer_.isActive())
        return;
    askAgain(reason);
}

void HistoryDownload::askAgain(const QString &reason)
{
    if (!active())
        return;
    if (!serial()) {
        // The failure and a dropped answer may both report one lost request: ask once, when
        // the link is free.
        if (retryPending_)
            return;
        retryPending_ = true;
        QMetaObject::invokeMethod(this, [this, reason] {
            retryPending_ = false;
            repeatRequest(reason);
        }, Qt::QueuedConnection);
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
    ConsoleState &s = engine_.state();
    answerTimer_.stop();
    s.HistoryDownloadActive = 0;
    s.RecordTotal = 0;
    waitingForCount_ = false;
    draining_ = false;
    const QString what = rows_.isEmpty() && total_ == 0 ? QStringLiteral("the record count")
                                                         : QStringLiteral("record %1 of %2").arg(rows_.size() + 1).arg(total_);
    Q_EMIT failed(PleaseTryAgain, QStringLiteral("The controller did not answer for %1 after %2 tries (%3). "
                                                 "%4 of %5 records arrived; close the window and try again.")
                                      .arg(what)
                                      .arg(MaxRepeats + 1)
                                      .arg(reason)
                                      .arg(rows_.size())
                                      .arg(total_));
}

void HistoryDownload::DecodeIpSettings(ConsoleState &state)
{
    if (ipDecoder_)
        ipDecoder_->DecodeIpSettings(state);
}

} // namespace qeln::history
