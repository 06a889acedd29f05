#include "app/mainform.h"

#include "app/consolesession.h"
#include "app/loginform.h"
#include "app/logoutform.h"
#include "app/msgform.h"
#include "link/comportdialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

namespace qeln {

const QColor MainForm::SkyBlue{0xA6, 0xCA, 0xF0};
const QColor MainForm::TxIdle{0x00, 0x80, 0x80};
const QColor MainForm::TxBusy{0x00, 0x00, 0x80};
const QColor MainForm::RxIdle{0x00, 0x80, 0x00};
const QColor MainForm::RxActive{0x00, 0xFF, 0x00};
const QColor MainForm::LinkUp{0x00, 0xFF, 0x00};
const QColor MainForm::LinkDown{0x80, 0x80, 0x80};

namespace {

// A raised panel with a centred caption, the look of the link lamps.
QLabel *makeLamp(const char *name, const QString &caption, QWidget *parent)
{
    auto *lamp = new QLabel(caption, parent);
    lamp->setObjectName(QLatin1String(name));
    lamp->setAlignment(Qt::AlignCenter);
    lamp->setFrameShape(QFrame::Panel);
    lamp->setFrameShadow(QFrame::Raised);
    lamp->setAutoFillBackground(true);
    return lamp;
}

} // namespace

MainForm::MainForm(ConsoleSession &session, QWidget *parent)
    : QMainWindow(parent)
    , session_(session)
{
    setObjectName(QStringLiteral("Main_Form"));
    setWindowTitle(QStringLiteral("QELN "));
    resize(878, 824);

    QPalette sky = palette();
    sky.setColor(QPalette::Window, SkyBlue);
    setPalette(sky);
    setAutoFillBackground(true);

    central_ = new QWidget(this);
    central_->setObjectName(QStringLiteral("mainArea"));
    setCentralWidget(central_);

    // The monitoring area; the live-monitoring pages fill it.
    groupBox1_ = new QGroupBox(central_);
    groupBox1_->setObjectName(QStringLiteral("GroupBox1"));
    groupBox1_->setGeometry(1, 33, 856, 704);
    groupBox1_->hide();

    buildMenu();
    buildIndicators();
    buildStatusBar();

    msgForm_ = new MsgForm(this);
    msgForm_->hide();

    connect(&session_, &ConsoleSession::menusChanged, this, &MainForm::onMenusChanged);
    connect(&session_, &ConsoleSession::linkTextChanged, this, &MainForm::onLinkTextChanged);
    connect(&session_, &ConsoleSession::tcpLampChanged, this, &MainForm::onTcpLampChanged);
    connect(&session_, &ConsoleSession::txActivity, this, &MainForm::onTxActivity);
    connect(&session_, &ConsoleSession::rxActivity, this, &MainForm::onRxActivity);
    connect(&session_, &ConsoleSession::messageRequested, this, &MainForm::onMessageRequested);

    applyMenus(session_.menus());
    onLinkTextChanged(session_.linkText());
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
    // The monitor preview arrives with the live-monitoring display.
    addItem(link, "mMonitor", QStringLiteral("화면보기"));

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

void MainForm::buildIndicators()
{
    QFont lampFont = font();
    lampFont.setBold(true);
    lampFont.setItalic(true);

    flatPanel3_ = new QFrame(central_);
    flatPanel3_->setObjectName(QStringLiteral("FlatPanel3"));
    flatPanel3_->setFrameShape(QFrame::Panel);
    flatPanel3_->setFrameShadow(QFrame::Sunken);
    flatPanel3_->setGeometry(730, 5, 98, 26);
    auto *lamps = new QHBoxLayout(flatPanel3_);
    lamps->setContentsMargins(2, 2, 2, 2);
    lamps->setSpacing(2);
    pnlTx_ = makeLamp("pnl_TX", QStringLiteral("TX"), flatPanel3_);
    pnlRx_ = makeLamp("pnl_RX", QStringLiteral("RX"), flatPanel3_);
    for (QLabel *lamp : {pnlTx_, pnlRx_}) {
        lamp->setFont(lampFont);
        QPalette p = lamp->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        lamp->setPalette(p);
        lamps->addWidget(lamp);
    }
    paintLamp(pnlTx_, TxIdle);
    paintLamp(pnlRx_, RxIdle);
    flatPanel3_->hide();

    pnlConnect_ = makeLamp("pnlConnect", QStringLiteral("Connect"), central_);
    pnlConnect_->setGeometry(600, 5, 80, 26);
    paintLamp(pnlConnect_, LinkDown);
    pnlConnect_->hide();

    txHold_ = new QTimer(this);
    txHold_->setSingleShot(true);
    txHold_->setInterval(LampHoldMs);
    connect(txHold_, &QTimer::timeout, this, &MainForm::onTxHoldElapsed);
    rxHold_ = new QTimer(this);
    rxHold_->setSingleShot(true);
    rxHold_->setInterval(LampHoldMs);
    connect(rxHold_, &QTimer::timeout, this, &MainForm::onRxHoldElapsed);

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

void MainForm::buildStatusBar()
{
    comSetting_ = new QStatusBar(this);
    comSetting_->setObjectName(QStringLiteral("ComSetting"));
    comSetting_->setSizeGripEnabled(false);
    static constexpr int widths[3] = {500, 180, 50};
    for (int i = 0; i < 3; ++i) {
        auto *panel = new QLabel(comSetting_);
        panel->setObjectName(QStringLiteral("ComSettingPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // The last panel takes what is left of the bar, so a host address is not cut.
        if (i < 2)
            panel->setFixedWidth(widths[i]);
        else
            panel->setMinimumWidth(widths[i]);
        comSetting_->addPermanentWidget(panel, i == 2 ? 1 : 0);
        panels_[i] = panel;
    }
    setStatusBar(comSetting_);
    comSetting_->hide();
}

void MainForm::paintLamp(QLabel *lamp, const QColor &colour)
{
    QPalette p = lamp->palette();
    p.setColor(QPalette::Window, colour);
    lamp->setPalette(p);
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

    flatPanel3_->setVisible(m.FlatPanel3);
    comSetting_->setVisible(m.ComSetting);
    pnlConnect_->setVisible(m.pnlConnect);
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
    if (session_.exitCommand())
        msgForm_->start();
    close();
}

void MainForm::onVersionTriggered()
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, windowTitle(),
                                QLatin1String(VersionText) + QString::fromUtf8(VersionSuffix),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("versionBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainForm::onHomePageTriggered()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(HomePageUrl)));
}

void MainForm::onMenusChanged(const MenuState &menus)
{
    applyMenus(menus);
}

void MainForm::onLinkTextChanged(const QString &text)
{
    panels_[2]->setText(text);
}

void MainForm::onTcpLampChanged(bool up)
{
    paintLamp(pnlConnect_, up ? LinkUp : LinkDown);
}

void MainForm::onTxActivity()
{
    paintLamp(pnlTx_, TxBusy);
    txHold_->start();
}

void MainForm::onRxActivity()
{
    paintLamp(pnlRx_, RxActive);
    rxHold_->start();
}

void MainForm::onTxHoldElapsed()
{
    paintLamp(pnlTx_, TxIdle);
}

void MainForm::onRxHoldElapsed()
{
    paintLamp(pnlRx_, RxIdle);
}

void MainForm::onMessageRequested(MessageKind kind, const QString &text)
{
    auto *box = new QMessageBox(kind == MessageKind::Information ? QMessageBox::Information
                                                                 : QMessageBox::NoIcon,
                                windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainForm::closeEvent(QCloseEvent *event)
{
    if (!closedOnce_) {
        closedOnce_ = true;
        session_.closing();
    }
    event->accept();
    Q_EMIT closed();
}

} // namespace qeln
