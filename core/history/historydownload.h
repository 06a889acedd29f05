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
// It is the engine's history decoder; the windows and qeln-cli only show what it emits.
//
// Lost answers are asked for again a bounded number of times, then the download stops with
// " Please try again " instead of stalling; on the serial link a record is asked again only
// when its answer is missing or bad, and an answer that comes after its repeat is never taken
// for the next record.
class HistoryDownload : public QObject, public ResponseDecoders {
    Q_OBJECT
public:
    static constexpr int StartTicks = 4;        // start timer ticks before the count request
    static constexpr int SerialAnswerMs = 1600; // a serial answer missing this long is asked again
    static constexpr int MaxRepeats = 3;        // repeats of one request before giving up
    static constexpr int MaxAnswerWaitMs = 10000; // the longest a slow controller is waited for

    explicit HistoryDownload(LinkEngine &engine, QObject *parent = nullptr);
    ~HistoryDownload() override;

    // The menu command: RequestState 22 (polling pauses), RecordIndex 1, the flag set,
    // HistoryMode, and the start timer running. False (and nothing changed) when the
    // controller's model code is not 1..4 and the window would stay empty.
    bool start(LogKind kind);
    // Sends the count request at once instead of after the window's start delay (a caller
    // with no window to draw first).
    void skipStartDelay();
    // The window closes, by any way: the start timer stops, the download ends, polling resumes.
    void close();

    QTimer *startTimer() { return &startTimer_; }
    // How long a serial answer may take before it is asked for again (tests shorten it).
    void setSerialAnswerMs(int ms) { answerMs_ = ms; }
    void Timer1Timer();

    LogKind kind() const { return kind_; }
    bool active() const;
    bool completed() const { return completed_; }
    int total() const { return total_; }
    // The record rows so far; rows()[k - 1] is grid row k.
    const QList<QStringList> &rows() const { return rows_; }
    QStringList headers() const;

    // ResponseDecoders
    void DecodeHistoryCount(ConsoleState &state) override;
    void AdvanceHistoryRecord(ConsoleState &state) override;
    void DecodeIpSettings(ConsoleState &state) override;
    bool sequencesHistory() const override { return true; }

    // Another decoder for the IP-settings answers (the history decoder takes the engine's one
    // slot; it hands those answers on).
    void setIpDecoder(ResponseDecoders *decoder) { ipDecoder_ = decoder; }

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

private:
    void requestCount();
    void requestRecord();
    void onAnswerOverdue();
    void onTcpFailed(const QString &reason);
    // A lost or bad answer: the same request once more, up to MaxRepeats, then giveUp().
    void askAgain(const QString &reason);
    void repeatRequest(const QString &reason);
    void endDrain();
    void giveUp(const QString &reason);
    void finishDownload();
    bool serial() const;

    LinkEngine &engine_;
    ResponseDecoders *ipDecoder_ = nullptr;
    QTimer startTimer_;
    QTimer answerTimer_;       // serial: an answer overdue; quiet time after a repeat
    LogKind kind_ = LogKind::Alarm;
    int total_ = 0;
    QList<QStringList> rows_;
    bool waitingForCount_ = false;
    bool completed_ = false;
    int answerMs_ = SerialAnswerMs;
    int answerWaitMs_ = SerialAnswerMs; // grows for a controller that answers slower
    QElapsedTimer firstAsked_;          // when the current count or record was first asked for
    int startTicks_ = 0;       // HistoryStartTicks
    int repeats_ = 0;          // repeats of the current request
    int outstanding_ = 0;      // requests for the current count or record not answered yet
    bool draining_ = false;    // serial: waiting for answers to a repeated request already answered
    bool retryPending_ = false; // TCP: a repeat is queued
};

} // namespace qeln::history
