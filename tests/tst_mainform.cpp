// The main window under the offscreen platform, driven through its menu and the real
// dialogs, against the simulated controller serving TCP and a pseudo-terminal in-process.

#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "app/msgform.h"
#include "app/statusstrip.h"
#include "common/skyblue.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"
#include "monitor/livemonitor.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <memory>

using qeln::ConsoleSession;
using qeln::MainForm;
using qeln::StatusStrip;

// Catches what the home-page command hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestMainForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startUpItems_data();
    void startUpItems();
    void startUpWindow();
    void loginConnectStatusDisconnectLogout();
    void refusedConnectShowsLanMessage();
    void serialLampsFollowTraffic();
    void exitCommand_data();
    void exitCommand();
    void titleBarCloseReleasesSerialPort();
    void closingWindowProgress();
    void versionBoxAndHomePage();
    void messageKindShowsItsIcon_data();
    void statusStripTimePanel_data();
    void statusStripTimePanel();
    void messageKindShowsItsIcon();
    void demoPresetConnects();
    void monitorPreviewAndFirmwareCounter();
    void liveTextsReachTheWindow();

private:
    QAction *item(const char *name) const { return window->menuItem(QLatin1String(name)); }
    template <typename T> T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    // The visible dialog of that name, opened by the last command.
    QDialog *dialog(const char *name) const;
    void login();
    void connectTcp(const QString &hostText);
    void connectSerial(const QString &device);
    QColor colour(const char *lamp) const
    {
        return widget<QLabel>(lamp)->palette().color(QPalette::Window);
    }

    qeln::DemoSimulator simulator;
    std::unique_ptr<ConsoleSession> session;
    std::unique_ptr<MainForm> window;
};

QDialog *TestMainForm::dialog(const char *name) const
{
    for (QDialog *d : window->findChildren<QDialog *>(QLatin1String(name))) {
        if (d->isVisible())
            return d;
    }
    return nullptr;
}

void TestMainForm::initTestCase()
{
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
}

void TestMainForm::init()
{
    session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    window = std::make_unique<MainForm>(*session);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestMainForm::cleanup()
{
    window.reset();
    session.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMainForm::login()
{
    item("mLogin")->trigger();
    QDialog *form = dialog("frmRecControl");
    QVERIFY(form);
    form->findChild<QLineEdit *>(QStringLiteral("PW_Input"))->setText(QStringLiteral("guard7351"));
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("bbtnOK")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("frmRecControl"));
}

void TestMainForm::connectTcp(const QString &hostText)
{
    item("mConnect")->trigger();
    QDialog *form = dialog("frmComPort");
    QVERIFY(form);
    QTest::mouseClick(form->findChild<QRadioButton *>(QStringLiteral("TCP")), Qt::LeftButton);
    form->findChild<QLineEdit *>(QStringLiteral("edtHostIP"))->setText(hostText);
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("frmComPort"));
}

void TestMainForm::connectSerial(const QString &device)
{
    item("mConnect")->trigger();
    QDialog *form = dialog("frmComPort");
    QVERIFY(form);
    QTest::mouseClick(form->findChild<QRadioButton *>(QStringLiteral("Serial")), Qt::LeftButton);
    // A pseudo-terminal is never listed: its path is typed.
    form->findChild<QComboBox *>(QStringLiteral("PortSelect"))->setEditText(device);
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("frmComPort"));
}

void TestMainForm::startUpItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");

    auto row = [](const char *name, const char *caption, bool enabled, bool visible) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(caption) << enabled << visible;
    };
    row("mLogin", "로그인", true, true);
    row("mLogout", "로그아웃", false, true);
    row("mConnect", "연결하기", false, true);
    row("mDisconnect", "연결끊기", false, true);
    row("mMonitor", "화면보기", true, true);
    row("mSystemConfiguration", "운용/알람 설정", false, true);
    row("mAlarmManager", "경보접점 설정", false, true);
    row("mMeasurementSet", "계측값 설정", false, false);
    row("mDataTimeSet", "날짜/시간 설정", false, true);
    row("mIPSet", "IP 설정", false, true);
    row("mFactoryInitial", "공장 초기화 ", false, false);
    row("mAlarmLog", "알람 이력", false, true);
    row("mEventLog", "이벤트 로그", false, false);
    row("mInitialLog", "이력 초기화", false, true);
    row("mAlarmTest", "경보 시험", false, true);
    row("N3", "버전", true, true);
    row("MarvekPelvart1", "Marvek Pelvart", true, true);
    row("mExit", "종료", true, true);
}

void TestMainForm::startUpItems()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);

    // Found by name under the window, as any window of the console would find it.
    QAction *action = window->findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(action->isVisible(), visible);
}

void TestMainForm::startUpWindow()
{
    QCOMPARE(window->objectName(), QStringLiteral("Main_Form"));
    QCOMPARE(window->windowTitle(), QStringLiteral("QELN "));
    QCOMPARE(window->size(), qeln::fittedGeometry(MainForm::DesignSize, qeln::availableArea(window.get())).size());
    QCOMPARE(window->palette().color(QPalette::Window), qeln::SkyBlue);

    QStringList tops;
    for (QAction *a : window->menuBar()->actions())
        tops << a->text();
    QCOMPARE(tops, (QStringList{QStringLiteral("접속"), QStringLiteral("조회/설정"),
                                QStringLiteral("이력"), QStringLiteral("시험"),
                                QStringLiteral("버전"), QStringLiteral("홈페이지"),
                                QStringLiteral("나가기")}));

    for (const char *hidden : {"ComSetting", "GroupBox1", "FlatPanel3", "pnlConnect", "frmMsg", "demoBanner"})
        QVERIFY2(!widget<QWidget>(hidden)->isVisible(), hidden);
    QCOMPARE(widget<QGroupBox>("GroupBox1")->geometry(), QRect(1, 33, 856, 704));
    QCOMPARE(widget<QWidget>("FlatPanel3")->pos(), QPoint(730, 5));
    // A larger window: the monitoring pages take the room, the fixed layout keeps its places;
    // back at the design size, nothing is left larger.
    const QSize designed = window->size();
    window->resize(1600, 1100);
    auto *area = widget<QWidget>("mainArea");
    QTRY_VERIFY(area->width() > 1400 && area->height() > 900);
    QTRY_COMPARE(widget<QGroupBox>("GroupBox1")->size(), area->size() - QSize(2, 34));
    QCOMPARE(widget<QGroupBox>("GroupBox1")->pos(), QPoint(1, 33));
    QCOMPARE(widget<QWidget>("FlatPanel3")->pos(), QPoint(730, 5));
    // The log's memo takes the room, what is below it follows.
    widget<QGroupBox>("GroupBox1")->show();
    widget<QTabWidget>("PageControl1")->setCurrentIndex(1);
    auto *memo = widget<QWidget>("mmLogo");
    QTRY_VERIFY(memo->isVisible());
    auto *folderButton = widget<QWidget>("btnLogFolder");
    QVERIFY(memo->width() > 794 + 400 && memo->height() > 441 + 200);
    QCOMPARE(folderButton->geometry().top(), memo->geometry().bottom() + 1);
    QCOMPARE(folderButton->geometry().right(), memo->geometry().right());
    window->resize(designed);
    QTRY_COMPARE(widget<QGroupBox>("GroupBox1")->geometry(), QRect(1, 33, 856, 704));
    QTRY_COMPARE(memo->geometry(), QRect(8, 58, 794, 441));
    widget<QTabWidget>("PageControl1")->setCurrentIndex(0);
    widget<QGroupBox>("GroupBox1")->hide();
    QCOMPARE(widget<QLabel>("pnl_TX")->text(), QStringLiteral("TX"));
    QCOMPARE(widget<QLabel>("pnl_RX")->text(), QStringLiteral("RX"));
    QCOMPARE(colour("pnl_TX"), StatusStrip::TxIdle);
    QCOMPARE(colour("pnl_RX"), StatusStrip::RxIdle);
    QVERIFY(widget<QLabel>("pnl_TX")->font().bold() && widget<QLabel>("pnl_TX")->font().italic());

    auto *bar = widget<QStatusBar>("ComSetting");
    QCOMPARE(bar->findChild<QLabel *>(QStringLiteral("ComSettingPanel0"))->width(), 500);
    QCOMPARE(bar->findChild<QLabel *>(QStringLiteral("ComSettingPanel1"))->width(), 180);
    QVERIFY(bar->findChild<QLabel *>(QStringLiteral("ComSettingPanel2"))->minimumWidth() >= 50);
}

void TestMainForm::loginConnectStatusDisconnectLogout()
{
    const char *configuration[] = {"mSystemConfiguration", "mAlarmManager", "mDataTimeSet",
                                   "mIPSet", "mAlarmLog", "mInitialLog", "mAlarmTest"};

    login();
    QVERIFY(!item("mLogin")->isEnabled());
    QVERIFY(item("mLogout")->isEnabled());
    QVERIFY(item("mConnect")->isEnabled());
    QVERIFY(!item("mDisconnect")->isEnabled());
    for (const char *shown : {"ComSetting", "FlatPanel3", "pnlConnect"})
        QVERIFY2(widget<QWidget>(shown)->isVisible(), shown);
    for (const char *name : configuration)
        QVERIFY2(!item(name)->isEnabled(), name);

    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    connectTcp(simulator.hostText());
    QVERIFY(!item("mConnect")->isEnabled());
    QVERIFY(item("mDisconnect")->isEnabled());
    QVERIFY(!item("mMonitor")->isEnabled());
    QCOMPARE(widget<QLabel>("ComSettingPanel2")->text(), simulator.hostText());
    QVERIFY(!widget<QWidget>("FlatPanel3")->isVisible());

    QVERIFY(status.wait(5000));
    QTRY_COMPARE(colour("pnlConnect"), StatusStrip::LinkUp);
    // The window's caption, panels and firmware field follow the decode (the simulator is a
    // model 3).
    QTRY_COMPARE(window->windowTitle(), QStringLiteral(" QELN-2KN"));
    QVERIFY(widget<QLabel>("ComSettingPanel0")->text().startsWith(QStringLiteral(" QELN-2KN  F/W V")));
    QVERIFY(widget<QLabel>("ComSettingPanel1")->text().startsWith(QStringLiteral("[  ")));
    for (const char *name : configuration)
        QVERIFY2(item(name)->isEnabled(), name);
    QVERIFY(widget<QWidget>("GroupBox1")->isVisible());
    // Enabled with the others, yet still out of sight.
    for (const char *name : {"mMeasurementSet", "mEventLog", "mFactoryInitial"})
        QVERIFY2(!item(name)->isVisible(), name);

    item("mDisconnect")->trigger();
    QVERIFY(item("mConnect")->isEnabled());
    QVERIFY(!item("mDisconnect")->isEnabled());
    QVERIFY(item("mMonitor")->isEnabled());
    for (const char *name : configuration)
        QVERIFY2(!item(name)->isEnabled(), name);
    QVERIFY(!widget<QWidget>("ComSetting")->isVisible());
    QVERIFY(!widget<QWidget>("GroupBox1")->isVisible());
    QCOMPARE(colour("pnlConnect"), StatusStrip::LinkDown);
    // No status is decoded once the link is dropped: the poll stands still, a request still in
    // flight is dealt with, and the menus stay withdrawn.
    QVERIFY(!session->engine().pollingRunning());
    QTRY_VERIFY(!session->engine().tcpBusy());
    QVERIFY(!item("mAlarmLog")->isEnabled());

    item("mLogout")->trigger();
    QDialog *form = dialog("Form3");
    QVERIFY(form);
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("BitBtnI_OK")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("Form3"));
    QVERIFY(item("mLogin")->isEnabled());
    QVERIFY(!item("mLogout")->isEnabled());
    QVERIFY(!item("mConnect")->isEnabled());
    QVERIFY(!item("mDisconnect")->isEnabled());
    // The link indicators stay after logout.
    QVERIFY(widget<QWidget>("pnlConnect")->isVisible());
}

void TestMainForm::refusedConnectShowsLanMessage()
{
    // A port nobody listens on: bound, then released.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    login();
    connectTcp(QStringLiteral("127.0.0.1:%1").arg(port));
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = window->findChild<QMessageBox *>()) && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("Please, Check PC Lan Port Connection!"));
    // The box does not hold the event loop: the window still takes commands.
    QVERIFY(item("mDisconnect")->isEnabled());
    QVERIFY(!item("mConnect")->isEnabled());
    QCOMPARE(colour("pnlConnect"), StatusStrip::LinkDown);
    box->close();
}

void TestMainForm::serialLampsFollowTraffic()
{
    // Colours as they stand the moment each event reaches the window.
    QList<QColor> txSeen;
    QList<QColor> rxSeen;
    connect(session.get(), &ConsoleSession::txActivity, this, [&] { txSeen << colour("pnl_TX"); });
    connect(session.get(), &ConsoleSession::rxActivity, this, [&] { rxSeen << colour("pnl_RX"); });

    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    login();
    connectSerial(simulator.serialDevice());
    QVERIFY(status.wait(5000));

    QVERIFY(widget<QWidget>("FlatPanel3")->isVisible());
    QVERIFY(!widget<QWidget>("pnlConnect")->isVisible());
    // With QELN_SHOT_DIR set, the window on the serial link is saved there as a picture.
    if (const QByteArray dir = qgetenv("QELN_SHOT_DIR"); !dir.isEmpty())
        window->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/main-window-serial.png"));
    QCOMPARE(widget<QLabel>("ComSettingPanel2")->text(), simulator.serialDevice());
    QVERIFY(!txSeen.isEmpty());
    QVERIFY(!rxSeen.isEmpty());
    QVERIFY(txSeen.contains(StatusStrip::TxBusy));
    QVERIFY(rxSeen.contains(StatusStrip::RxActive));

    // The lamps go dark with the disconnect.
    session->disconnectCommand();
    QCOMPARE(colour("pnl_TX"), StatusStrip::TxIdle);
    QCOMPARE(colour("pnl_RX"), StatusStrip::RxIdle);
    QVERIFY(widget<QLabel>("ComSettingPanel0")->text().startsWith(QStringLiteral(" QELN-2KN")));

    // A controller that never answers: the status bar does not keep the last one's model and
    // firmware, nor its time, beside "No answer since".
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    connectTcp(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    QTRY_COMPARE(colour("pnlConnect"), StatusStrip::LinkUp);
    QVERIFY2(!widget<QLabel>("ComSettingPanel0")->text().contains(QStringLiteral("QELN")),
             qPrintable(widget<QLabel>("ComSettingPanel0")->text()));
    QVERIFY(!widget<QLabel>("ComSettingPanel1")->text().startsWith(QStringLiteral("[")));
}

void TestMainForm::exitCommand_data()
{
    QTest::addColumn<bool>("tcpLink");
    QTest::newRow("TCP link up: closing window") << true;
    QTest::newRow("no link: no closing window") << false;
}

void TestMainForm::exitCommand()
{
    QFETCH(bool, tcpLink);
    if (tcpLink) {
        login();
        QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
        connectTcp(simulator.hostText());
        QVERIFY(status.wait(5000));
    }
    QSignalSpy closed(window.get(), &MainForm::closed);
    QAction *exit = item("mExit");
    exit->trigger();

    QCOMPARE(closed.size(), 1);
    QVERIFY(!window->isVisible());
    auto *msg = widget<qeln::MsgForm>("frmMsg");
    QCOMPARE(msg->isVisible(), tcpLink);
    QVERIFY(!session->tcpClient().isOpen());
    if (tcpLink) {
        QCOMPARE(msg->findChild<QLabel *>(QStringLiteral("lbMsg"))->text(),
                 QStringLiteral("Now Closing... Plase, wait 5~20 Seconds!!"));
        // The progress runs on its own timer.
        QTRY_VERIFY_WITH_TIMEOUT(msg->closingTicks() >= 1, 2000);
    }
}

void TestMainForm::titleBarCloseReleasesSerialPort()
{
    login();
    connectSerial(simulator.serialDevice());
    QVERIFY(session->serialPort().isOpen());

    QSignalSpy closed(window.get(), &MainForm::closed);
    QVERIFY(window->close());
    QCOMPARE(closed.size(), 1);
    QVERIFY(!session->serialPort().isOpen());
    QVERIFY(!widget<QWidget>("frmMsg")->isVisible());
}

void TestMainForm::closingWindowProgress()
{
    qeln::MsgForm msg;
    auto *bar = msg.findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    msg.start();
    msg.tick();
    QCOMPARE(bar->value(), 11);
    for (int i = 0; i < 9; ++i)
        msg.tick();
    QCOMPARE(bar->value(), 20);
    // A shutdown longer than the bar foresaw leaves it full.
    for (int i = 0; i < 200; ++i)
        msg.tick();
    QCOMPARE(bar->value(), 100);
    // Starting again starts from the beginning.
    msg.start();
    msg.tick();
    QCOMPARE(bar->value(), 11);
}

void TestMainForm::versionBoxAndHomePage()
{
    item("N3")->trigger();
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = window->findChild<QMessageBox *>()) && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("V2.3  2023-5-13 (배포용)"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    box->close();

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    item("MarvekPelvart1")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QStringLiteral("https://marvek-pelvart.example/"))});
}

void TestMainForm::messageKindShowsItsIcon_data()
{
    QTest::addColumn<qeln::MessageKind>("kind");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::newRow("information") << qeln::MessageKind::Information << QMessageBox::Information;
    QTest::newRow("plain") << qeln::MessageKind::Plain << QMessageBox::NoIcon;
    QTest::newRow("warning") << qeln::MessageKind::Warning << QMessageBox::Warning;
}

void TestMainForm::messageKindShowsItsIcon()
{
    QFETCH(qeln::MessageKind, kind);
    QFETCH(QMessageBox::Icon, icon);
    const QString text = QStringLiteral("a message of its kind");
    Q_EMIT session->messageRequested(kind, text);
    // The box opens without holding up the sender, over the main window, and goes once closed.
    QPointer<QMessageBox> box = window->findChild<QMessageBox *>(QStringLiteral("messageBox"));
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->text(), text);
    QCOMPARE(box->icon(), icon);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(box.isNull());
}

void TestMainForm::statusStripTimePanel_data()
{
    QTest::addColumn<bool>("overdue");
    QTest::newRow("answering") << false;
    QTest::newRow("answer overdue") << true;
}

void TestMainForm::statusStripTimePanel()
{
    QFETCH(bool, overdue);
    QWidget host;
    StatusStrip strip(&host, nullptr);
    auto *model = strip.findChild<QLabel *>(QStringLiteral("ComSettingPanel0"));
    auto *time = strip.findChild<QLabel *>(QStringLiteral("ComSettingPanel1"));
    auto *tx = host.findChild<QLabel *>(QStringLiteral("pnl_TX"));
    QVERIFY(model && time && tx);
    qeln::StatusView view;
    view.texts[QStringLiteral("ComSetting.0")] = QStringLiteral(" QELN-2KN  F/W V1.2.0.5");
    view.texts[QStringLiteral("ComSetting.1")] = QStringLiteral("[  2026-12-07  10:00:00 ]");
    view.colours[QStringLiteral("pnl_TX")] = 0xFFFF00;

    // A status decoded while the answer is overdue does not cover up since when nothing came.
    if (overdue)
        strip.onAnswerMissing(QDateTime(QDate(2026, 12, 7), QTime(9, 59, 58)));
    strip.applyView(view, overdue);
    QCOMPARE(model->text(), view.texts.value(QStringLiteral("ComSetting.0")));
    QCOMPARE(time->text(), overdue ? QStringLiteral("No answer since 09:59:58") : view.texts.value(QStringLiteral("ComSetting.1")));
    QCOMPARE(time->palette().color(QPalette::WindowText) == QColor(Qt::red), overdue);
    QCOMPARE(time->toolTip().contains(QStringLiteral("2026-12-07 09:59:58")), overdue);
    QCOMPARE(tx->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0x00));

    // The answer is back: the time last decoded, in the ordinary colour, without the tip.
    strip.onAnswerResumed();
    QCOMPARE(time->text(), view.texts.value(QStringLiteral("ComSetting.1")));
    QVERIFY(time->palette().color(QPalette::WindowText) != QColor(Qt::red));
    QVERIFY(time->toolTip().isEmpty());
}

void TestMainForm::demoPresetConnects()
{
    window->setDemoLink(simulator.serialDevice(), simulator.hostText());
    auto *banner = widget<QLabel>("demoBanner");
    QVERIFY(banner->isVisible());
    QVERIFY(banner->text().contains(QStringLiteral("DEMO")));
    QVERIFY(banner->text().contains(simulator.hostText()));

    login();
    item("mConnect")->trigger();
    QDialog *form = dialog("frmComPort");
    QVERIFY(form);
    QCOMPARE(form->findChild<QLineEdit *>(QStringLiteral("edtHostIP"))->text(), simulator.hostText());
    // The operator only picks the link and confirms.
    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    QTest::mouseClick(form->findChild<QRadioButton *>(QStringLiteral("TCP")), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QVERIFY(status.wait(5000));
    QVERIFY(item("mAlarmLog")->isEnabled());
}

void TestMainForm::monitorPreviewAndFirmwareCounter()
{
    // 화면보기 needs neither login nor link: the display on the registers as they are.
    QVERIFY(item("mMonitor")->isEnabled());
    item("mMonitor")->trigger();
    for (const char *shown : {"GroupBox1", "FlatPanel3", "FlatGroupBox1", "Lable_BCA", "Image_BattCh", "TreeViewM"})
        QVERIFY2(widget<QWidget>(shown)->isVisible(), shown);
    QCOMPARE(session->state().StatusRegisters[65], 1);
    QVERIFY(!window->monitor().reminderTimer()->isActive());
    QCOMPARE(widget<QTreeWidget>("TreeViewM")->topLevelItemCount(), 1);
    // The animation runs on from the preview's pictures.
    QTRY_VERIFY(!widget<QWidget>("Image_Sys1")->isVisible());

    auto *counter = widget<QLineEdit>("edtFwCnt");
    QVERIFY(!counter->isVisible());
    QCOMPARE(widget<QLabel>("Image1")->geometry(), QRect(832, 8, 25, 25));
    QTest::mouseClick(widget<QLabel>("Image1"), Qt::LeftButton);
    QVERIFY(counter->isVisible());
    QCOMPARE(counter->geometry(), QRect(684, 6, 41, 21));
    QTest::mouseClick(widget<QLabel>("Image1"), Qt::LeftButton);
    QVERIFY(!counter->isVisible());
}

void TestMainForm::liveTextsReachTheWindow()
{
    login();
    connectTcp(simulator.hostText());
    QTRY_VERIFY_WITH_TIMEOUT(!window->monitor().view().texts.isEmpty(), 5000);
    // Every text of the decode is on the control of that name, on whichever page it is.
    const qeln::StatusView view = window->monitor().view();
    int checked = 0;
    for (auto it = view.texts.cbegin(); it != view.texts.cend(); ++it) {
        const QString &name = it.key();
        if (name == QLatin1String("Main_Form") || name.startsWith(QLatin1String("ComSetting.")))
            continue;
        QWidget *control = window->findChild<QWidget *>(name);
        QVERIFY2(control, qPrintable(name));
        const auto *label = qobject_cast<QLabel *>(control);
        const auto *edit = qobject_cast<QLineEdit *>(control);
        QVERIFY2(label || edit, qPrintable(name));
        QCOMPARE(label ? label->text() : edit->text(), it.value());
        ++checked;
    }
    QCOMPARE(checked, 48); // a model 3: no CAN processor texts
    for (auto it = view.visible.cbegin(); it != view.visible.cend(); ++it) {
        if (it.key().startsWith(QLatin1Char('m')) || it.key() == QLatin1String("ComSetting"))
            continue; // menu items and the status bar: the session's
        QWidget *control = window->findChild<QWidget *>(it.key());
        QVERIFY2(control, qPrintable(it.key()));
        // The control's own flag: the battery alarm group that holds some pairs is never shown.
        QVERIFY2(!control->isHidden() == it.value(), qPrintable(it.key()));
    }
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
