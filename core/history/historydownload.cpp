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
    retryTimer_.setSingleShot(true);
    connect(&engine_, &LinkEngine::tcpRequestFailed, this, &HistoryDownload::onTcpFailed);
    connect(&engine_, &LinkEngine::serialFrameSpoilt, this, &HistoryDownload::onSerialFrameSpoilt);
    connect(&engine_, &LinkEngine::requestRefused, this, &HistoryDownload::onRequestRefused);
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
    ConsoleState &s = engine_.state();
    const bool wasActive = s.HistoryDownloadActive == 1;
    s.HistoryDownloadActive = 0;
    s.RecordIndex = 1;
    waitingForCount_ = false;
    draining_ = false;
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
    const Codes &c = codes(kind_);
    send(serial() ? c.serialCount : c.tcpCount, 0);
}

void HistoryDownload::requestRecord()
{
    const ConsoleState &s = engine_.state();
    const Codes &c = codes(kind_);
    send(serial() ? c.serialRecord : c.tcpRecord, s.RecordTotal - s.RecordIndex);
}

void HistoryDownload::send(const QByteArray &code, int record)
{
    if (serial()) {
        if (++outstanding_ == 1) {
            firstAsked_.start();
            spacingMs_ = 0;
        } else {
            spacingMs_ = std::max(spacingMs_, int(lastAsked_.elapsed()));
        }
        lastAsked_.start();
        const int wait = tryWaitMs();
        engine_.SendHistoryRequest("01", code, record);
        answerTimer_.start(wait);
        return;
    }
    // On TCP an answer belongs to its request: one that failed cannot answer later.
    outstanding_ = 1;
    answerTimer_.start(TcpGuardMs);
    engine_.SendHistoryRequest("01", code, record);
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

void HistoryDownload::DecodeHistoryCount(ConsoleState &s)
{
    const Codes &c = codes(kind_);
    const Codes &other = codes(kind_ == LogKind::Alarm ? LogKind::Event : LogKind::Alarm);
    const QByteArray &mine = serial() ? c.serialCountAnswer : c.tcpCount;
    const QByteArray &theirs = serial() ? other.serialCountAnswer : other.tcpCount;
    if (!active() || !waitingForCount_ || (s.FunctionCodeText != mine && s.FunctionCodeText != theirs)) {
        // A count nobody waits for (a late one after the window closed, the answer to a
        // repeated count request) starts nothing.
        qCInfo(lcHistory) << "count answer dropped: no download of that log waits for it";
        return;
    }
    const bool alone = answerCame();
    if (s.FunctionCodeText != mine) {
        answerSpoilt(QStringLiteral("the count answer was the other log's"));
        return;
    }
    const std::optional<int> count = decodeCount(s.ResponseText, !serial());
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
    // Answers still due to a repeated count request are count answers: they are told apart
    // from the records by their code and dropped above.
    outstanding_ = 0;
    requestRecord();
}

void HistoryDownload::AdvanceHistoryRecord(ConsoleState &s)
{
    const Codes &c = codes(kind_);
    const Codes &other = codes(kind_ == LogKind::Alarm ? LogKind::Event : LogKind::Alarm);
    const QByteArray &mine = serial() ? c.serialRecordAnswer : c.tcpRecord;
    const QByteArray &theirs = serial() ? other.serialRecordAnswer : other.tcpRecord;
    if (!active() || waitingForCount_ || s.RecordTotal < s.RecordIndex
        || (s.FunctionCodeText != mine && s.FunctionCodeText != theirs)) {
        qCInfo(lcHistory) << "record answer dropped: no download of that log waits for it";
        return;
    }
    const bool alone = answerCame();
    if (draining_) {
        // An answer to a request that was repeated, for the record already stored.
        drainAnswer();
        return;
    }
    if (s.FunctionCodeText != mine) {
        answerSpoilt(QStringLiteral("a record answer was the other log's"));
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
        answerSpoilt(QStringLiteral("a record answer was of the wrong size"));
        return;
    }

    answerTimer_.stop();
    const qint64 roundTrip = firstAsked_.elapsed();
    if (serial() && alone)
        learn(roundTrip);
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
    ConsoleState &s = engine_.state();
    answerTimer_.stop();
    retryTimer_.stop();
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

void HistoryDownload::onTcpFailed(const QString &reason)
{
    if (!active() || serial() || startTimer_.isActive())
        return;
    askAgain(reason);
}

int HistoryDownload::expectedSerialLength() const
{
    // ":" unit function, the data as hexadecimal pairs, the LRC.
    constexpr int CountBytes = 4, AlarmBytes = 34, EventBytes = 10;
    const int data = waitingForCount_ ? CountBytes : kind_ == LogKind::Alarm ? AlarmBytes : EventBytes;
    return 5 + 2 * data + 2;
}

void HistoryDownload::onSerialFrameSpoilt(FrameFault fault, int length)
{
    if (!active() || !serial() || outstanding_ <= 0)
        return;
    // Only a frame of the size of the answer awaited is taken for it; anything else (a status
    // answer that was on its way, a frame that lost characters) lets the answer timer decide.
    if (length != expectedSerialLength())
        return;
    answerCame();
    answerSpoilt(fault == FrameFault::BadLrc ? QStringLiteral("an answer with a wrong LRC")
                                             : QStringLiteral("an answer that was not hexadecimal"));
}

namespace {

QString exceptionName(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("server device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("server device busy");
    case 8: return QStringLiteral("memory parity error");
    case 10: return QStringLiteral("gateway path unavailable");
    case 11: return QStringLiteral("gateway target device failed to respond");
    default: return QStringLiteral("unknown exception");
    }
}

} // namespace

void HistoryDownload::onRequestRefused(int function, int exceptionCode)
{
    if (!active() || serial() || startTimer_.isActive())
        return;
    const Codes &c = codes(kind_);
    const QByteArray expected = waitingForCount_ ? c.tcpCount : c.tcpRecord;
    if (IntToHexFixed(function, 2) != expected)
        return;
    answerCame();
    // 05 (acknowledge: still working on it) and 06 (busy) ask for the request later.
    const bool busy = exceptionCode == 5 || exceptionCode == 6;
    answerSpoilt(exceptionCode < 0
                     ? QStringLiteral("the controller answered with an exception without a code")
                     : QStringLiteral("the controller answered with exception %1 (%2)")
                           .arg(QString::fromLatin1(IntToHexFixed(exceptionCode, 2)), exceptionName(exceptionCode)),
                 busy);
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
    ConsoleState &s = engine_.state();
    answerTimer_.stop();
    retryTimer_.stop();
    s.HistoryDownloadActive = 0;
    s.RecordTotal = 0;
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

void HistoryDownload::DecodeIpSettings(ConsoleState &state)
{
    if (ipDecoder_)
        ipDecoder_->DecodeIpSettings(state);
}

} // namespace qeln::history
