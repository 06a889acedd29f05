#include "app/mainform.h"
#include "common/messagebox.h"
#include "common/skyblue.h"

#include "app/consolesession.h"
#include "app/loginform.h"
#include "app/logoutform.h"
#include "app/msgform.h"
#include "app/statusstrip.h"
#include "common/operatorquestions.h"
#include "history/historydownload.h"
#include "link/comportdialog.h"
#include "monitor/livemonitor.h"
#include "monitor/logpage.h"
#include "monitor/statuspage.h"
#include "trend/recorder.h"
#include "trend/trendpage.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScrollArea>
#include <QTabWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

namespace qeln {

namespace {

// The console's small emblem at the top right: a power bolt on a navy tile.
QPixmap makeLogo()
{
    QPixmap pixmap(25, 25);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, 25);
    tile.setColorAt(0, QColor(0x2A, 0x4B, 0x8D));
    tile.setColorAt(1, QColor(0x10, 0x22, 0x4A));
    p.setPen(QPen(QColor(0x0A, 0x16, 0x30), 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0.5, 0.5, 24, 24), 5, 5);
    const QPointF bolt[] = {{14, 3}, {6, 14}, {11.5, 14}, {9.5, 22}, {19, 10}, {13.5, 10}, {15.5, 3}};
    p.setPen(QPen(QColor(0xB0, 0x80, 0x00), 0.8));
    p.setBrush(QColor(0xFF, 0xD2, 0x3F));
    p.drawPolygon(bolt, int(std::size(bolt)));
    return pixmap;
}

} // namespace

MainForm::MainForm(ConsoleSession &session, QWidget *parent)
    : QMainWindow(parent)
    , session_(session)
{
    setObjectName(QStringLiteral("Main_Form"));
    setWindowTitle(QStringLiteral("QELN "));
    questions_ = &OperatorQuestions::boxes();

    paintSkyBlue(this);

    // The fixed layout keeps its positions and sizes; a screen too small for it scrolls it,
    // so that the status bar below stays in sight.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("mainScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->viewport()->setAutoFillBackground(false);
    central_ = new QWidget(scroll_);
    central_->setObjectName(QStringLiteral("mainArea"));
    central_->setMinimumSize(DesignArea);
    central_->setAutoFillBackground(false);
    scroll_->setWidget(central_);
    setCentralWidget(scroll_);

    // The monitoring area; the live-monitoring pages fill it.
    groupBox1_ = new QGroupBox(central_);
    groupBox1_->setObjectName(QStringLiteral("GroupBox1"));
    groupBox1_->setGeometry(MonitoringArea);
    groupBox1_->hide();
    central_->installEventFilter(this);

    buildMenu();
    // The link lamps sit in the fixed layout; the strip they belong to is the status bar.
    strip_ = new StatusStrip(central_, this);
    setStatusBar(strip_);
    buildDemoBanner();
    buildMonitoring();
    buildHistory();

    msgForm_ = new MsgForm(this);
    msgForm_->hide();

    connect(&session_, &ConsoleSession::menusChanged, this, &MainForm::onMenusChanged);
    connect(&session_, &ConsoleSession::linkTextChanged, strip_, &StatusStrip::onLinkTextChanged);
    connect(&session_, &ConsoleSession::tcpLampChanged, strip_, &StatusStrip::onTcpLampChanged);
    connect(&session_, &ConsoleSession::txActivity, strip_, &StatusStrip::onTxActivity);
    connect(&session_, &ConsoleSession::rxActivity, strip_, &StatusStrip::onRxActivity);
    connect(&session_, &ConsoleSession::connectingTo, strip_, &StatusStrip::onConnectingTo);
    connect(&session_, &ConsoleSession::connectionStarted, strip_, &StatusStrip::onConnectionStarted);
    connect(&session_, &ConsoleSession::messageRequested, this, &MainForm::onMessageRequested);

    applyMenus(session_.menus());
    strip_->onLinkTextChanged(session_.linkText());
    fitOnScreen(this, DesignSize);
    // The animation and the alarm-test reminder run from start-up to exit.
    monitor_->startDisplayTimers();
}

MainForm::~MainForm() = default;

QAction *MainForm::addItem(QMenu *menu, const char *name, const QString &caption)
{
    auto *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    items_.insert(action->objectName(), action);
    return action;
}

void MainForm::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu *link = bar->addMenu(QStringLiteral("접속"));
    link->setObjectName(QStringLiteral("mLink"));
    connect(addItem(link, "mLogin", QStringLiteral("로그인")), &QAction::triggered, this,
            &MainForm::onLoginTriggered);
    connect(addItem(link, "mLogout", QStringLiteral("로그아웃")), &QAction::triggered, this,
            &MainForm::onLogoutTriggered);
    link->addSeparator();
    connect(addItem(link, "mConnect", QStringLiteral("연결하기")), &QAction::triggered, this,
            &MainForm::onConnectTriggered);
    connect(addItem(link, "mDisconnect", QStringLiteral("연결끊기")), &QAction::triggered, this,
            &MainForm::onDisconnectTriggered);
    link->addSeparator();
    connect(addItem(link, "mMonitor", QStringLiteral("화면보기")), &QAction::triggered, this,
            &MainForm::onMonitorTriggered);

    // The configuration dialogs arrive with their own changes; the items stand here with
    // the states the session gives them.
    QMenu *settings = bar->addMenu(QStringLiteral("조회/설정"));
    settings->setObjectName(QStringLiteral("mSettings"));
    addItem(settings, "mSystemConfiguration", QStringLiteral("운용/알람 설정"));
    addItem(settings, "mAlarmManager", QStringLiteral("경보접점 설정"));
    addItem(settings, "mMeasurementSet", QStringLiteral("계측값 설정"));
    addItem(settings, "mDataTimeSet", QStringLiteral("날짜/시간 설정"));
    addItem(settings, "mIPSet", QStringLiteral("IP 설정"));
    addItem(settings, "mFactoryInitial", QStringLiteral("공장 초기화 "));

    QMenu *history = bar->addMenu(QStringLiteral("이력"));
    history->setObjectName(QStringLiteral("mHistory"));
    addItem(history, "mAlarmLog", QStringLiteral("알람 이력"));
    addItem(history, "mEventLog", QStringLiteral("이벤트 로그"));
    addItem(history, "mInitialLog", QStringLiteral("이력 초기화"));

    QMenu *test = bar->addMenu(QStringLiteral("시험"));
    test->setObjectName(QStringLiteral("mTest"));
    addItem(test, "mAlarmTest", QStringLiteral("경보 시험"));

    // "버전" is a command of the menu bar itself, not a menu.
    QAction *version = bar->addAction(QStringLiteral("버전"));
    version->setObjectName(QStringLiteral("N3"));
    items_.insert(version->objectName(), version);
    connect(version, &QAction::triggered, this, &MainForm::onVersionTriggered);

    QMenu *home = bar->addMenu(QStringLiteral("홈페이지"));
    home->setObjectName(QStringLiteral("mHomePage"));
    connect(addItem(home, "MarvekPelvart1", QStringLiteral("Marvek Pelvart")),
            &QAction::triggered, this, &MainForm::onHomePageTriggered);

    QMenu *leave = bar->addMenu(QStringLiteral("나가기"));
    leave->setObjectName(QStringLiteral("mLeave"));
    connect(addItem(leave, "mExit", QStringLiteral("종료")), &QAction::triggered, this,
            &MainForm::onExitTriggered);

    // Kept out of sight from the start; status decodes only ever enable them.
    items_.value(QStringLiteral("mMeasurementSet"))->setVisible(false);
    items_.value(QStringLiteral("mEventLog"))->setVisible(false);
    items_.value(QStringLiteral("mFactoryInitial"))->setVisible(false);
}

void MainForm::buildDemoBanner()
{
    demoBanner_ = new QLabel(central_);
    demoBanner_->setObjectName(QStringLiteral("demoBanner"));
    demoBanner_->setGeometry(4, 4, 590, 26);
    demoBanner_->setAutoFillBackground(true);
    QPalette bannerPalette = demoBanner_->palette();
    bannerPalette.setColor(QPalette::Window, QColor(0xFF, 0xE0, 0x60));
    bannerPalette.setColor(QPalette::WindowText, Qt::black);
    demoBanner_->setPalette(bannerPalette);
    QFont bannerFont = font();
    bannerFont.setBold(true);
    demoBanner_->setFont(bannerFont);
    demoBanner_->setFrameShape(QFrame::Box);
    demoBanner_->setIndent(6);
    demoBanner_->hide();
}

void MainForm::applyMenus(const MenuState &m)
{
    const std::pair<const char *, bool> enabled[] = {
        {"mLogin", m.mLogin},
        {"mLogout", m.mLogout},
        {"mConnect", m.mConnect},
        {"mDisconnect", m.mDisconnect},
        {"mMonitor", m.mMonitor},
        {"mSystemConfiguration", m.mSystemConfiguration},
        {"mAlarmManager", m.mAlarmManager},
        {"mMeasurementSet", m.mMeasurementSet},
        {"mDataTimeSet", m.mDataTimeSet},
        {"mIPSet", m.mIPSet},
        {"mFactoryInitial", m.mFactoryInitial},
        {"mAlarmLog", m.mAlarmLog},
        {"mEventLog", m.mEventLog},
        {"mInitialLog", m.mInitialLog},
        {"mAlarmTest", m.mAlarmTest},
    };
    for (const auto &[name, on] : enabled)
        items_.value(QLatin1String(name))->setEnabled(on);

    strip_->applyMenus(m);
    groupBox1_->setVisible(m.GroupBox1);
}

QAction *MainForm::menuItem(const QString &name) const
{
    return items_.value(name, nullptr);
}

void MainForm::setDemoLink(const QString &serialDevice, const QString &hostText)
{
    demo_ = true;
    demoSerial_ = serialDevice;
    demoHost_ = hostText;
    demoBanner_->setText(
        QStringLiteral("DEMO: simulated controller, not a plant (TCP %1, serial %2)")
            .arg(hostText, serialDevice));
    demoBanner_->setToolTip(QStringLiteral(
        "The controller is simulated inside this process. Log in (접속 > 로그인; a double "
        "click on the caption 암호 fills in the password), then 접속 > 연결하기: the "
        "connection dialog is preset for the simulator."));
    demoBanner_->show();
}

void MainForm::onLoginTriggered()
{
    auto *dialog = new LoginForm(session_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainForm::onLogoutTriggered()
{
    auto *dialog = new LogoutForm(session_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainForm::onConnectTriggered()
{
    session_.connectCommand();
    auto *dialog = new ComPortDialog(session_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (demo_)
        dialog->preset(demoSerial_, demoHost_);
    dialog->open();
}

void MainForm::onDisconnectTriggered()
{
    session_.disconnectCommand();
}

void MainForm::onExitTriggered()
{
    // The data log comes first: an operator who stays to save it elsewhere keeps the link.
    exitRequested_ = true;
    if (readyToClose())
        finishExit();
}

void MainForm::finishExit()
{
    exiting_ = true;
    if (session_.exitCommand())
        msgForm_->start();
    close();
}

void MainForm::onVersionTriggered()
{
    openMessageBox(this, QMessageBox::NoIcon, windowTitle(),
                   QLatin1String(VersionText) + QString::fromUtf8(VersionSuffix),
                   QStringLiteral("versionBox"));
}

void MainForm::onHomePageTriggered()
{
    const QString url = QLatin1String(HomePageUrl);
    if (QDesktopServices::openUrl(QUrl(url)))
        return;
    // No browser could be started: the operator gets the address to open elsewhere.
    const QString text = QStringLiteral("No web browser could be started. The home page is:\n%1");
    openMessageBox(this, QMessageBox::Information, windowTitle(), text.arg(url),
                   QStringLiteral("homePageBox"), BoxText::Selectable);
}

void MainForm::onMenusChanged(const MenuState &menus)
{
    applyMenus(menus);
}

void MainForm::onMessageRequested(MessageKind kind, const QString &text)
{
    openMessageBox(this, kind, windowTitle(), text, QStringLiteral("messageBox"));
}

void MainForm::closeEvent(QCloseEvent *event)
{
    if (!readyToClose()) {
        event->ignore();
        return;
    }
    if (!closedOnce_) {
        closedOnce_ = true;
        session_.closing();
    }
    event->accept();
    Q_EMIT closed();
}

// ---- Live monitoring -------------------------------------------------------------------

void MainForm::buildMonitoring()
{
    monitor_ = new LiveMonitor(session_.engine(), session_.state(), this);
    monitor_->dataLog().setOutputDirectory(outputDir_);

    auto *area = new QVBoxLayout(groupBox1_);
    area->setContentsMargins(2, 2, 2, 2);
    pageControl1_ = new QTabWidget(groupBox1_);
    pageControl1_->setObjectName(QStringLiteral("PageControl1"));
    statusPage_ = new StatusPage(*monitor_, session_.state(), pageControl1_);
    logPage_ = new LogPage(monitor_->dataLog(), pageControl1_);
    // Every status of the connection goes into its trend recording under the output folder.
    recorder_ = new trend::Recorder(this);
    recorder_->setOutputFolder(outputDir_);
    trendPage_ = new TrendPage(*recorder_, pageControl1_);
    trendPage_->setOutputFolder(outputDir_);
    pageControl1_->addTab(statusPage_, QStringLiteral("Status"));
    pageControl1_->addTab(logPage_, QStringLiteral("log"));
    pageControl1_->addTab(trendPage_, QStringLiteral("trend"));
    area->addWidget(pageControl1_);

    // The firmware counter, behind a click on the small picture at the top right.
    image1_ = new QLabel(central_);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(832, 8, 25, 25);
    image1_->setPixmap(makeLogo());
    image1_->setCursor(Qt::PointingHandCursor);
    image1_->setToolTip(QStringLiteral("Firmware counter"));
    image1_->installEventFilter(this);
    edtFwCnt_ = new QLineEdit(central_);
    edtFwCnt_->setObjectName(QStringLiteral("edtFwCnt"));
    edtFwCnt_->setGeometry(684, 6, 41, 21);
    edtFwCnt_->setReadOnly(true);
    edtFwCnt_->hide();

    connect(monitor_, &LiveMonitor::viewDecoded, this, &MainForm::onViewDecoded);
    connect(monitor_, &LiveMonitor::answerMissing, this, &MainForm::onAnswerMissing);
    connect(monitor_, &LiveMonitor::answerResumed, this, &MainForm::onAnswerResumed);
    connect(monitor_, &LiveMonitor::alarmTestReminderChanged, statusPage_,
            &StatusPage::setAlarmTestReminderVisible);
    connect(&session_, &ConsoleSession::dataLogStopRequested, this, &MainForm::onDataLogStopRequested);
    connect(logPage_, &LogPage::outputFolderChosen, this, [this](const QString &dir) { setOutputDirectory(dir); });
    connect(&session_.engine(), &LinkEngine::writeAcknowledged, this, [this](const RegisterWrite &write) {
        recorder_->addWrite(write, session_.engine().writeSource(), QDateTime::currentMSecsSinceEpoch());
    });
    connect(recorder_, &trend::Recorder::paused, this, [this](const QString &text) {
        openMessageBox(this, QMessageBox::Warning, windowTitle(), text, QStringLiteral("trendPausedBox"));
    });
    connect(trendPage_, &TrendPage::messageRequested, this, [this](const QString &text, bool warning) {
        openMessageBox(this, warning ? QMessageBox::Warning : QMessageBox::Information, windowTitle(), text,
                       QStringLiteral("trendMessageBox"));
    });
}

void MainForm::setOutputDirectory(const QString &dir)
{
    outputDir_ = dir;
    monitor_->dataLog().setOutputDirectory(dir);
    recorder_->setOutputFolder(dir);
    trendPage_->setOutputFolder(dir);
}

void MainForm::onViewDecoded(const StatusView &view)
{
    setWindowTitle(view.texts.value(QStringLiteral("Main_Form")));
    strip_->applyView(view, monitor_->answerOverdue());
    edtFwCnt_->setText(view.texts.value(QStringLiteral("edtFwCnt")));
    if (QAction *factory = items_.value(QStringLiteral("mFactoryInitial")); factory && view.visible.contains(factory->objectName()))
        factory->setVisible(view.visible.value(factory->objectName()));
    logPage_->applyTexts(view.texts, view.visible, view.colours);
    recorder_->setLink(session_.linkId());
    recorder_->addStatus(view.plant, QDateTime::currentMSecsSinceEpoch());
}

void MainForm::onMonitorTriggered()
{
    // A look at the display without a controller: whatever the registers hold.
    statusPage_->preview();
    monitor_->preview();
    session_.monitorPreview();
}

void MainForm::onImage1Clicked()
{
    edtFwCnt_->setVisible(!edtFwCnt_->isVisible());
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == central_ && event->type() == QEvent::Resize) {
        // The monitoring area takes the room a larger window gives: the status page keeps its
        // fixed layout at the top left, the log and trend pages grow with it.
        const QSize area = static_cast<QResizeEvent *>(event)->size();
        groupBox1_->setGeometry(MonitoringArea.x(), MonitoringArea.y(),
                                std::max(MonitoringArea.width(), area.width() - MonitoringArea.x() - 1),
                                std::max(MonitoringArea.height(), area.height() - MonitoringArea.y() - 1));
    }
    if (watched == image1_ && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        onImage1Clicked();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::onAnswerMissing(const QDateTime &since)
{
    // The last values stay on screen, greyed, and the status bar says since when nothing came.
    strip_->onAnswerMissing(since);
    statusPage_->setAnswerMissing(true);
}

void MainForm::onAnswerResumed()
{
    strip_->onAnswerResumed();
    statusPage_->setAnswerMissing(false);
}

} // namespace qeln
