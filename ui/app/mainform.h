#pragma once

#include "app/menustate.h"
#include "common/screenfit.h"
#include "history/historyrecords.h"
#include "link/linkengine.h"
#include "monitor/statusview.h"

#include <QColor>
#include <QRect>
#include <QHash>
#include <QMainWindow>
#include <QString>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QTabWidget;

namespace qeln {

class ConsoleSession;
class LiveMonitor;
class LogPage;
class TrendPage;
namespace trend {
class Recorder;
}
class MsgForm;
class OperatorQuestions;
class StatusStrip;
class StatusPage;

namespace history {
class HistoryDownload;
}

// The maker's home page, opened by the "홈페이지" menu.
inline constexpr const char *HomePageUrl = "https://marvek-pelvart.example/";
// The version box's text.
inline constexpr const char *VersionText = "V2.3  2023-5-13";
inline constexpr const char *VersionSuffix = " (배포용)";

// The main window. It shows what the session decides (menu states, link indicators, the
// link text) and hands every menu command to the session or to a fresh dialog.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    // The window as designed, and the fixed layout inside it: on a smaller screen the window
    // takes what the screen has and the layout scrolls.
    static constexpr QSize DesignSize{878, 824};
    static constexpr QSize DesignArea{858, 738};
    // Where the monitoring pages sit at the design size; they grow with the window.
    static constexpr QRect MonitoringArea{1, 33, 856, 704};
    // How long the note that says where the data log went stays up on the way out.
    static constexpr int ExitNoteMs = 10000;

    explicit MainForm(ConsoleSession &session, QWidget *parent = nullptr);
    ~MainForm() override;

    ConsoleSession &session() { return session_; }

    // Demo mode: the connection dialog opens preset for the simulator running in this
    // process, and a banner says that no plant is attached.
    void setDemoLink(const QString &serialDevice, const QString &hostText);
    bool isDemo() const { return demo_; }

    // Where data logs and exports go; the log page can choose another one.
    void setOutputDirectory(const QString &dir);
    QString outputDirectory() const { return outputDir_; }

    // Where questions to the operator go (message boxes unless set; tests answer them).
    void setQuestions(OperatorQuestions *questions);
    OperatorQuestions &questions() const { return *questions_; }

    // The menu item by its name (mConnect, N3, ...); nullptr when there is none.
    QAction *menuItem(const QString &name) const;
    MsgForm *closingWindow() const { return msgForm_; }
    LiveMonitor &monitor() { return *monitor_; }
    trend::Recorder &recorder() { return *recorder_; }
    TrendPage *trendPage() const { return trendPage_; }
    StatusPage *statusPage() const { return statusPage_; }
    LogPage *logPage() const { return logPage_; }
    // The download behind the history windows; the engine's history decoder.
    history::HistoryDownload &historyDownload() { return *historyDownload_; }

Q_SIGNALS:
    // The main window has closed: the process is to end.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    void buildDemoBanner();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption);

    void applyMenus(const MenuState &menus);

    void onLoginTriggered();
    void onLogoutTriggered();
    void onConnectTriggered();
    void onDisconnectTriggered();
    void onExitTriggered();
    void onVersionTriggered();
    void onHomePageTriggered();
    void onMenusChanged(const MenuState &menus);
    void onMessageRequested(MessageKind kind, const QString &text);
    void buildMonitoring();
    void onViewDecoded(const StatusView &view);
    void onMonitorTriggered();
    void onImage1Clicked();
    void onAnswerMissing(const QDateTime &since);
    void onAnswerResumed();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void buildHistory();
    void onAlarmLogTriggered();
    void onEventLogTriggered();
    void onInitialLogTriggered();
    void openHistoryWindow(history::LogKind kind);
    void openConfigDialog(const QString &menuName);
    // The data log stops on a disconnect or the exit; a disconnect saves its unsaved lines.
    void onDataLogStopRequested();
    // Before the window closes: true when it may close now. With unsaved data-log lines it
    // saves them and says where (or asks what to do when the save failed), and the close
    // comes again once the operator has read it.
    bool readyToClose();
    void onExitNoteClosed();
    // The rest of the exit command once the data log is dealt with: the link, the closing
    // window, the close.
    void finishExit();
    // The close, or the exit command, that a note or an answer held.
    void continueClosing();
    // Shows the log page, where unsaved lines wait after a failed save.
    void showLogPage();
    void onExitAnswered(bool leave);

    ConsoleSession &session_;
    QHash<QString, QAction *> items_;

    QScrollArea *scroll_ = nullptr;
    QWidget *central_ = nullptr;
    QGroupBox *groupBox1_ = nullptr;
    StatusStrip *strip_ = nullptr;
    QLabel *demoBanner_ = nullptr;
    MsgForm *msgForm_ = nullptr;
    LiveMonitor *monitor_ = nullptr;
    QTabWidget *pageControl1_ = nullptr;
    StatusPage *statusPage_ = nullptr;
    LogPage *logPage_ = nullptr;
    TrendPage *trendPage_ = nullptr;
    trend::Recorder *recorder_ = nullptr;
    quint64 identityRead_ = 0; // the connection's read of the network block (its number)
    QLabel *image1_ = nullptr;
    QLineEdit *edtFwCnt_ = nullptr;
    history::HistoryDownload *historyDownload_ = nullptr;

    bool demo_ = false;
    QString demoSerial_;
    QString demoHost_;
    QString outputDir_;
    bool closedOnce_ = false;
    bool exitRequested_ = false; // "종료" waits for the data log's note or answer
    bool exiting_ = false;       // the exit command runs: its stop of the log saves nothing
    bool closePending_ = false;  // a note or question about the log holds the close
    bool closeApproved_ = false; // the log is dealt with: the next close goes through
    bool deciding_ = false;      // readyToClose() is asking
    OperatorQuestions *questions_ = nullptr;
};

} // namespace qeln
