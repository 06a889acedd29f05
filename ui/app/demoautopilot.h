#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace qeln {

class ConsoleSession;
class MainForm;

// Drives a demo run without a hand on the mouse: logs in, connects to the in-process
// simulator over TCP, and reports how long the first status took. Optionally it saves a
// picture of the main window once the plant is on screen, and ends the run after a while
// with the resident memory it needed. Used for the README's screenshot and the figures.
class DemoAutopilot : public QObject {
    Q_OBJECT
public:
    DemoAutopilot(MainForm &window, ConsoleSession &session, QObject *parent = nullptr);

    void setScreenshot(const QString &file) { screenshot_ = file; }
    // How long after the first status the picture is taken (default 1500 ms).
    void setScreenshotDelay(int ms) { screenshotDelayMs_ = ms; }
    // The page of the main window's page control the picture shows: "Status" (default),
    // "log" or "trend" (the whole recording, with the cursors at a quarter and three quarters).
    void setScreenshotPage(const QString &page) { screenshotPage_ = page; }
    // Ends the run this many seconds after the first status (0: does not end it).
    void setQuitAfter(int seconds) { quitAfterSeconds_ = seconds; }
    // After the first status, starts the data log and fills its page with this many lines.
    void setFillLog(int lines) { fillLogLines_ = lines; }
    // After the first status, downloads the alarm history into its window and saves a
    // picture of that window once the download is complete.
    void setHistoryScreenshot(const QString &file) { historyScreenshot_ = file; }
    // Logs in and connects to hostText ("127.0.0.1:PORT").
    void start(const QString &hostText);

    // The resident memory of this process in KiB (VmRSS), or -1 when unknown.
    static qint64 residentKiB();
    // Milliseconds since the process was started (10 ms steps), or -1 when unknown.
    static qint64 processAgeMs();

Q_SIGNALS:
    // The run is over: the exit status of the process.
    void finished(int status);

private:
    void onStatusArrived();
    void onConnectFailed(const QString &reason);
    void onPictureDue();
    void onRunOver();
    void startHistoryDownload();
    void onHistoryPictureDue();

    MainForm &window_;
    ConsoleSession &session_;
    QString screenshot_;
    QString screenshotPage_;
    QString historyScreenshot_;
    int quitAfterSeconds_ = 0;
    int fillLogLines_ = 0;
    int screenshotDelayMs_ = 1500;
    QElapsedTimer sinceConnect_;
    bool statusSeen_ = false;
};

} // namespace qeln
