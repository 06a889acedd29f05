#pragma once

#include "history/historyrecords.h"
#include "link/linkengine.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace qeln::history {

// The download of one of the controller's logs into grid rows, on either link: the window's
// start timer (count request on its fourth 100 ms tick), the count, the records from the
// highest number down (row k holds record N - k exactly once), progress, completion and close.
// It submits the count and record requests to the engine and takes the answers to its own
// tickets; the windows and qeln-cli only show what it emits.
//
// A request whose answer is lost, spoilt or refused is asked again a bounded number of times,
// then the download stops with " Please try again " instead of stalling. On the serial link
// the wait for an answer is learnt from answers that came to a request asked once, and from
// the late answers the engine reports for requests given up (a few times the slowest recent
// one); a request asked again waits longer each time, but that never carries over to the next
// record. The engine keeps a late answer from ever being taken for the next record's.
class HistoryDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int StartTicks = 4;        // start timer ticks before the count request
    static constexpr int SerialAnswerMs = 1600; // the wait for a serial answer before any came
    static constexpr int MaxRepeats = 5;        // repeats of one request before giving up
    static constexpr int MinAnswerWaitMs = 100;  // the shortest learnt serial wait
    static constexpr int MaxAnswerWaitMs = 3000; // the longest wait for one serial answer
    static constexpr int RoundTripFactor = 3;    // learnt wait: this many times the slowest recent answer
    static constexpr int RoundTripSamples = 16;  // recent answers the wait is learnt from
    // TCP: a request that failed goes again at once; after an answer that says the
    // controller is busy, 100 ms later, then 200 ms, ...
    static constexpr int TcpBusyBackoffMs = 100;

    explicit HistoryDownload(LinkEngine &engine, QObject *parent = nullptr);
    ~HistoryDownload() override;

    // The menu command: polling is held, and the count is asked for after the start timer's
    // delay. False (and nothing changed) when the controller's model code is not 1..4 and
    // the window would stay empty.
    bool start(LogKind kind);
    // Sends the count request at once instead of after the window's start delay (a caller
    // with no window to draw first).
    void skipStartDelay();
    // The window closes, by any way: the start timer stops, the download ends, polling resumes.
    void close();

    QTimer *startTimer() { return &startTimer_; }
    // How long a serial answer may take before it is asked for again while no answer has come
    // yet to learn from, and the shortest wait learnt (tests shorten or lengthen them).
    void setSerialAnswerMs(int ms, int shortestMs = MinAnswerWaitMs)
    {
        initialWaitMs_ = ms;
        shortestWaitMs_ = shortestMs;
    }
    // The wait for the next serial answer as learnt so far (before any repeat of it).
    int answerWaitMs() const;

    LogKind kind() const { return kind_; }
    bool active() const;
    bool completed() const { return completed_; }
    int total() const { return total_; }
    // The record rows so far; rows()[k - 1] is grid row k.
    const QList<QStringList> &rows() const { return rows_; }
    QStringList headers() const;

Q_SIGNALS:
    // The count arrived: the grid gets total + 1 rows; "Total : 0 /0".
    void countReceived(int total);
    // Row `row` (1-based) holds these cells; percent and label are the progress display.
    void rowStored(int row, const QStringList &cells);
    void progressChanged(int percent, const QString &label);
    // Every record is in: the completion text (CR between the lines); "Save File" may go on.
    void finished(const QString &message);
    // An empty log: "No History data" or "No Event log data".
    void noData(const QString &message);
    // The download was given up: " Please try again ", with why in reason.
    void failed(const QString &message, const QString &reason);
    // The controller answered a request of the download, usable or not (a sign of life even
    // when no row follows).
    void answerArrived();

private:
    void onStartTick();
    void onAnswered(Ticket ticket, const Answer &answer);
    void onFailed(Ticket ticket, const RequestFailure &failure);
    void onAnsweredLate(Ticket ticket, qint64 roundTripMs);
    void takeCount(const Answer &answer);
    void takeRecord(const Answer &answer);
    void requestCount();
    void requestRecord();
    // A record number, or -1 for the count.
    void send(int record);
    void learn(qint64 roundTripMs);
    int tryWaitMs() const;
    // A lost, spoilt or refused answer: the same request once more, up to MaxRepeats, then
    // giveUp(). A controller that says it is busy (TCP) gets a moment first.
    void askAgain(const QString &reason, bool busy = false);
    void repeatRequest(const QString &reason);
    void giveUp(const QString &reason);
    void finishDownload();
    void dropTicket();
    bool serial() const;

    LinkEngine &engine_;
    PollHold hold_;
    bool active_ = false;
    int recordTotal_ = 0;
    int recordIndex_ = 1;       // the grid row the next record fills
    QTimer startTimer_;
    QTimer retryTimer_;        // TCP: a repeat after a busy answer waits a moment
    LogKind kind_ = LogKind::Alarm;
    int total_ = 0;
    QList<QStringList> rows_;
    bool waitingForCount_ = false;
    bool completed_ = false;
    int initialWaitMs_ = SerialAnswerMs;
    int shortestWaitMs_ = MinAnswerWaitMs;
    QList<int> roundTrips_;     // recent round trips of serial answers
    QElapsedTimer asked_;       // when the current request went
    Ticket ticket_ = 0;         // the request waited for
    QList<Ticket> earlier_;     // this download's requests given up (their late answers teach)
    int startTicks_ = 0;        // HistoryStartTicks
    int repeats_ = 0;           // repeats of the current request
};

} // namespace qeln::history
