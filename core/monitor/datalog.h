#pragma once

#include "app/consolestate.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace qeln {

// The data log of the "log" page: the memo's lines (mmLogo), the periodic line on the log timer,
// the "[al]" line on an alarm change, the header, saving to text files in CP949 with CR LF,
// and the automatic save-and-empty at 5000 lines (periodic) and 1000 lines (alarm change).
// The page and qeln-cli's logger only present it.
//
// Saving never replaces a file: a name that is taken gets "-2", "-3", ... before ".txt";
// a file counts as saved only when it was written whole, and always starts with the header.
// A failed save keeps the lines and the logging going and is reported through saveFailed().
//
// While the status poll is held (a dialog or a download has the link), a periodic tick that
// finds no status decoded since the last line writes nothing: the file shows a gap rather
// than the same old reading again and again.
class DataLog : public QObject {
    Q_OBJECT
public:
    static constexpr int IntervalCount = 7;
    static constexpr int PeriodicLimit = 5000;
    static constexpr int AlarmLimit = 1000;

    explicit DataLog(const ConsoleState &state, QObject *parent = nullptr);
    // Tells whether the status poll is held now (no hold when unset).
    void setHoldCheck(std::function<bool()> held) { holdCheck_ = std::move(held); }

    // Where the files go (the output folder).
    void setOutputDirectory(const QString &dir) { outputDir_ = dir; }
    QString outputDirectory() const { return outputDir_; }
    // The last sentence of a failed save's message: what the operator can do about it, in the
    // terms of the program that shows it (a control of the window, an option of the command).
    void setFailureRemedy(const QString &remedy) { remedy_ = remedy; }
    // The clock that names the files (tests set their own).
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

    // The periodic line's timer (the form's Timer2).
    QTimer *logTimer() { return &logTimer_; }
    bool active() const { return active_; }
    // "Log 시작" while stopped, "Log 중지" while running.
    QString buttonCaption() const;

    // Starts logging (the header first); nothing when already running.
    void start();
    // Stops logging as "Log 중지" does (disconnect); nothing when already stopped.
    void stop();
    // The log button ("Log 시작" / "Log 중지"): starts or stops.
    void toggle();
    // The interval choice 0..6 (2 s, 10 s, 1 min, 2 min, 5 min, 10 min, 30 min).
    void setIntervalIndex(int index);
    int intervalIndex() const { return intervalIndex_; }
    static int intervalMs(int index);
    static QStringList intervalCaptions(); // "2초", "10초", ...
    // "저장": saves the memo to a new file; the memo keeps its lines. The path written, or
    // an empty text on failure (reported through saveFailed() as well).
    QString save();
    // "삭제": empties the memo; while logging runs the header starts it again.
    // The page asks the operator first when unsavedLines() is not 0.
    void clear();
    // Record lines added since the memo was last saved or emptied (header lines do not count).
    int unsavedLines() const { return unsaved_; }
    // The automatic save (disconnect, exit): writes only the memo's lines that no file holds
    // yet, after the header, so that the files of a disconnect and of the exit hold each line
    // once; the memo keeps all its lines. The path written; empty when there was nothing to
    // save or the save failed (saveFailed() says why; the lines stay unsaved for the next save).
    QString saveUnsaved();
    // The message of the last failed save (empty before any).
    QString lastFailure() const { return lastFailure_; }
    // A status response was decoded: the next periodic line has something new to show.
    void statusDecoded() { ++decoded_; }
    // The log timer's tick: the periodic line.
    void onLogTick();
    // The alarm words changed in a status decode: the "[al]" line while logging runs.
    void alarmWordsChanged();

    const QStringList &lines() const { return lines_; }
    // The five header lines.
    static QStringList header();
    // The record of the last status response (without "[al]"): its readings decoded from the
    // state's registers, with the time, set voltage and alarm words the decode kept.
    QString record() const;
    // "QELN-2KN(A)_yyyyMMddhhmmss.txt" for the given local time.
    static QString fileName(const QDateTime &time);
    // The bytes of a saved file: every line in CP949, each ended by CR LF.
    static QByteArray fileBytes(const QStringList &lines);

Q_SIGNALS:
    // Lines were appended to the memo.
    void linesAppended(const QStringList &lines);
    // The memo was emptied (by "삭제" or by an automatic save).
    void memoCleared();
    // Logging started or stopped (the button caption changes).
    void activeChanged(bool active);
    void saved(const QString &path, int lineCount);
    // Says what failed and what to do; the lines are kept.
    void saveFailed(const QString &message);

private:
    void append(const QString &line);
    void appendHeader();
    // Saves the lines no automatic save has written yet, and on success empties the memo and
    // appends the header.
    bool saveAndRestart();
    // Writes the memo's lines from `from` on, after the header when they do not start with it,
    // to a new file in the output folder: its path, or an empty text after reporting the
    // failure through saveFailed(). On success every line of the memo counts as saved, and with
    // `automatic` as written by an automatic save as well.
    QString writeFile(qsizetype from = 0, bool automatic = false);
    QString failureMessage(const QString &where, const QString &reason) const;

    // The status poll is held (a dialog or a download has the link).
    bool pollingHeld() const;

    const ConsoleState &s_;
    std::function<bool()> holdCheck_;
    QStringList lines_;
    int unsaved_ = 0;
    qsizetype savedUpTo_ = 0;      // the memo's first lines that a file holds already
    qsizetype autoSavedUpTo_ = 0;  // the memo's first lines that an automatic save wrote
    quint64 decoded_ = 0;          // status decodes so far
    quint64 decodedAtLine_ = 0;    // decoded_ when the last periodic or alarm line was written
    bool skippingStale_ = false;   // the last tick wrote nothing for want of a new status
    QString remedy_;
    QString lastFailure_;
    QTimer logTimer_;
    bool active_ = false;
    int intervalIndex_ = 0;
    QString outputDir_;
    std::function<QDateTime()> clock_;
};

} // namespace qeln
