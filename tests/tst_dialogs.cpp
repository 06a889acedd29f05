// The login, logout and connection dialogs as the operator uses them, and the main window's
// messages about the link and the home page: widgets found by their names, driven with
// clicks and keys, checked for texts, messages, the devices opened and what the session did.

#include "app/consolesession.h"
#include "app/loginform.h"
#include "app/logoutform.h"
#include "app/mainform.h"
#include "link/comportdialog.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"
#include "openrecorder.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <memory>

#include <pty.h>
#include <unistd.h>

using namespace qeln;

namespace {

const QString TryAgain = QStringLiteral(" Please try again ");

template <typename T>
T *child(QWidget *dialog, const char *name)
{
    return dialog->findChild<T *>(QLatin1String(name));
}

QList<QMessageBox *> openMessageBoxes()
{
    QList<QMessageBox *> boxes;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

// The texts of the open message boxes; the boxes are closed.
QStringList takeMessages()
{
    QStringList texts;
    for (QMessageBox *box : openMessageBoxes()) {
        texts.append(box->text());
        box->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return texts;
}

void replaceText(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// A pseudo-terminal whose slave path stands for a serial port nobody lists.
struct PseudoTerminal {
    PseudoTerminal()
    {
        char name[128] = {};
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            path = QString::fromLocal8Bit(name);
        }
    }
    ~PseudoTerminal()
    {
        if (master >= 0)
            ::close(master);
    }
    int master = -1;
    QString path;
};

std::unique_ptr<ConsoleSession> newSession()
{
    auto session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    return session;
}

// Logged in, with the Connect command given: the connection dialog is about to open.
std::unique_ptr<ConsoleSession> connectingSession()
{
    auto session = newSession();
    session->login();
    session->connectCommand();
    return session;
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

// A loopback port nobody listens on.
quint16 refusedPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

} // namespace

// Stands in for a browser that the desktop started.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestDialogs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void captions_data();
    void captions();

    void wrongPassword_data();
    void wrongPassword();
    void rightPassword_data();
    void rightPassword();
    void loginClose();

    void logout_data();
    void logout();

    void connectionChoices();
    void connectTypedDevicePath();
    void connectTcpHost();
    void presetChoosesNoLink();
    void onlyTheChosenPortOpens_data();
    void onlyTheChosenPortOpens();
    void deviceThatCannotOpen_data();
    void deviceThatCannotOpen();
    void hostTextThatNamesNoHost_data();
    void hostTextThatNamesNoHost();

    void connectingShownInStatusBar_data();
    void connectingShownInStatusBar();
    void homePage_data();
    void homePage();
};

void TestDialogs::initTestCase()
{
    // The machine's own serial lines are never opened by these tests, whatever a fault tries.
    openrecorder::refuse(SerialTransport::availablePorts());
}

void TestDialogs::cleanup()
{
    takeMessages();
}

void TestDialogs::captions_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("visible");
    const QString login = QStringLiteral("login");
    const QString logout = QStringLiteral("logout");
    const QString connect = QStringLiteral("connect");
    QTest::newRow("login caption") << login << QString() << QStringLiteral("로그인") << true;
    QTest::newRow("Label1") << login << QStringLiteral("Label1") << QStringLiteral("암호") << true;
    QTest::newRow("bbtnOK") << login << QStringLiteral("bbtnOK") << QStringLiteral("로그인") << true;
    QTest::newRow("login BitBtn2") << login << QStringLiteral("BitBtn2") << QStringLiteral("닫기") << true;
    QTest::newRow("lbLCB") << login << QStringLiteral("lbLCB") << QStringLiteral("ID ") << false;
    QTest::newRow("ID_Input") << login << QStringLiteral("ID_Input") << QString() << false;
    QTest::newRow("logout caption") << logout << QString() << QStringLiteral("Logout") << true;
    QTest::newRow("BitBtnI_OK") << logout << QStringLiteral("BitBtnI_OK") << QStringLiteral("OK") << true;
    QTest::newRow("BitBtnI_Cancel") << logout << QStringLiteral("BitBtnI_Cancel") << QStringLiteral("Close") << true;
    QTest::newRow("connect caption") << connect << QString() << QStringLiteral("Connect") << true;
    QTest::newRow("Serial") << connect << QStringLiteral("Serial") << QStringLiteral("Serial Port") << true;
    QTest::newRow("TCP") << connect << QStringLiteral("TCP") << QStringLiteral("TCP/IP (HOST)") << true;
    QTest::newRow("edtHostIP") << connect << QStringLiteral("edtHostIP") << QStringLiteral("192.168.50.92") << true;
    QTest::newRow("BitBtn1") << connect << QStringLiteral("BitBtn1") << QStringLiteral("Connect") << true;
    QTest::newRow("connect BitBtn2") << connect << QStringLiteral("BitBtn2") << QStringLiteral("Close") << true;
    QTest::newRow("Port") << connect << QStringLiteral("Port") << QStringLiteral("Port Refind") << true;
}

void TestDialogs::captions()
{
    QFETCH(QString, dialog);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, visible);
    auto session = newSession();
    std::unique_ptr<QDialog> d;
    if (dialog == QLatin1String("login"))
        d = std::make_unique<LoginForm>(*session);
    else if (dialog == QLatin1String("logout"))
        d = std::make_unique<LogoutForm>(*session);
    else
        d = std::make_unique<ComPortDialog>(*session);
    d->show();

    if (name.isEmpty()) {
        QCOMPARE(d->windowTitle(), text);
        return;
    }
    QWidget *w = d->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->isVisible(), visible);
    if (auto *label = qobject_cast<QLabel *>(w))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
        QCOMPARE(button->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(w))
        QCOMPARE(edit->text(), text);
    else
        QFAIL("unexpected widget kind");
}

void TestDialogs::wrongPassword_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    const QStringList wrong{QStringLiteral("guard7351 "), QStringLiteral("GUARD7351"),
                            QStringLiteral("guard735"), QString()};
    for (const QString &text : wrong) {
        QTest::addRow("button '%s'", qPrintable(text)) << text << false;
        QTest::addRow("enter '%s'", qPrintable(text)) << text << true;
    }
}

void TestDialogs::wrongPassword()
{
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);
    auto session = newSession();
    LoginForm dialog(*session);
    dialog.show();
    auto *input = child<QLineEdit>(&dialog, "PW_Input");
    QVERIFY(input);
    QCOMPARE(input->echoMode(), QLineEdit::Normal);
    QTest::keyClicks(input, typed);

    if (byEnter)
        QTest::keyClick(input, Qt::Key_Return);
    else
        QTest::mouseClick(child<QPushButton>(&dialog, "bbtnOK"), Qt::LeftButton);

    QCOMPARE(takeMessages(), QStringList{TryAgain});
    QCOMPARE(dialog.isVisible(), byEnter);
    if (byEnter)
        QCOMPARE(input->text(), typed);
    QCOMPARE(session->menus(), MenuState{});
}

void TestDialogs::rightPassword_data()
{
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("typed, button") << false << false;
    QTest::newRow("typed, enter") << false << true;
    QTest::newRow("filled in, button") << true << false;
    QTest::newRow("filled in, enter") << true << true;
}

void TestDialogs::rightPassword()
{
    QFETCH(bool, doubleClick);
    QFETCH(bool, byEnter);
    auto session = newSession();
    LoginForm dialog(*session);
    dialog.show();
    auto *input = child<QLineEdit>(&dialog, "PW_Input");
    if (doubleClick) {
        QTest::mouseDClick(child<QLabel>(&dialog, "Label1"), Qt::LeftButton);
        QCOMPARE(input->text(), QStringLiteral("guard7351"));
        // Filling in does not log in by itself.
        QVERIFY(dialog.isVisible());
        QVERIFY(session->menus().mLogin);
    } else {
        QTest::keyClicks(input, QStringLiteral("guard7351"));
    }

    QSignalSpy changed(session.get(), &ConsoleSession::menusChanged);
    if (byEnter)
        QTest::keyClick(input, Qt::Key_Return);
    else
        QTest::mouseClick(child<QPushButton>(&dialog, "bbtnOK"), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(takeMessages(), QStringList{});
    QCOMPARE(changed.size(), 1);
    const MenuState m = session->menus();
    QVERIFY(!m.mLogin && m.mLogout && m.mConnect && !m.mDisconnect);
    QVERIFY(m.FlatPanel3 && m.ComSetting && m.pnlConnect);
}

void TestDialogs::loginClose()
{
    auto session = newSession();
    LoginForm dialog(*session);
    dialog.show();
    QTest::keyClicks(child<QLineEdit>(&dialog, "PW_Input"), QStringLiteral("guard7351"));
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn2"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(session->menus(), MenuState{});
    QCOMPARE(takeMessages(), QStringList{});
}

void TestDialogs::logout_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<bool>("loggedOut");
    QTest::newRow("OK") << QByteArray("BitBtnI_OK") << true;
    QTest::newRow("Close") << QByteArray("BitBtnI_Cancel") << false;
}

void TestDialogs::logout()
{
    QFETCH(QByteArray, button);
    QFETCH(bool, loggedOut);
    auto session = newSession();
    session->login();
    LogoutForm dialog(*session);
    dialog.show();
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    QTest::mouseClick(child<QPushButton>(&dialog, button.constData()), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(session->menus().mLogin, loggedOut);
    QCOMPARE(session->menus().mLogout, !loggedOut);
    QCOMPARE(session->menus().mConnect, !loggedOut);
    QCOMPARE(lamp.size(), loggedOut ? 1 : 0);
}

void TestDialogs::connectionChoices()
{
    auto session = connectingSession();
    const QStringList ports = SerialTransport::availablePorts();
    ComPortDialog dialog(*session);
    dialog.show();
    auto *serial = child<QRadioButton>(&dialog, "Serial");
    auto *tcp = child<QRadioButton>(&dialog, "TCP");
    auto *portSelect = child<QComboBox>(&dialog, "PortSelect");
    auto *host = child<QLineEdit>(&dialog, "edtHostIP");
    auto *connect = child<QPushButton>(&dialog, "BitBtn1");
    QVERIFY(serial && tcp && portSelect && host && connect);

    QCOMPARE(session->engine().link(), LinkKind::Tcp); // none chosen yet: as on TCP
    QVERIFY(!session->linkChosen());
    QVERIFY(!serial->isChecked() && !tcp->isChecked());
    QVERIFY(portSelect->isEnabled() && portSelect->isEditable());
    QVERIFY(!host->isEnabled());
    QVERIFY(!connect->isEnabled());

    QTest::mouseClick(tcp, Qt::LeftButton);
    QVERIFY(tcp->isChecked() && !serial->isChecked());
    QVERIFY(!portSelect->isEnabled() && host->isEnabled() && connect->isEnabled());
    QCOMPARE(session->engine().link(), LinkKind::Tcp);
    QCOMPARE(takeMessages(), QStringList{});

    QTest::mouseClick(serial, Qt::LeftButton);
    QVERIFY(serial->isChecked() && !tcp->isChecked());
    QVERIFY(portSelect->isEnabled() && !host->isEnabled() && connect->isEnabled());
    QCOMPARE(session->engine().link(), LinkKind::Serial);
    QVERIFY(session->linkChosen());
    if (ports.isEmpty()) {
        QCOMPARE(takeMessages(), QStringList{QStringLiteral("Can not find the serial port")});
        QCOMPARE(portSelect->count(), 0);
    } else {
        QCOMPARE(takeMessages(), QStringList{});
        QCOMPARE(portSelect->count(), ports.size());
        QCOMPARE(portSelect->currentText(), ports.first());
    }

    // Close: nothing is connected and polling does not start.
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn2"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!session->engine().pollingRunning());
    QVERIFY(!session->engine().serialInUse());
}

void TestDialogs::connectTypedDevicePath()
{
    PseudoTerminal pty;
    QVERIFY(!pty.path.isEmpty());
    const QString path = pty.path;

    auto session = connectingSession();
    ComPortDialog dialog(*session);
    dialog.show();
    QTest::mouseClick(child<QRadioButton>(&dialog, "Serial"), Qt::LeftButton);
    takeMessages();
    auto *portSelect = child<QComboBox>(&dialog, "PortSelect");
    replaceText(portSelect->lineEdit(), path);
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(takeMessages(), QStringList{});
    QVERIFY(session->serialPort().isOpen());
    QCOMPARE(session->serialPort().device(), path);
    QVERIFY(session->engine().serialInUse());
    QCOMPARE(session->linkText(), path);
    QVERIFY(session->engine().pollingRunning());
    QVERIFY(session->menus().FlatPanel3 && !session->menus().pnlConnect);
    session->closing();
}

void TestDialogs::connectTcpHost()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const QString target = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());

    auto session = connectingSession();
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    ComPortDialog dialog(*session);
    dialog.show();
    QTest::mouseClick(child<QRadioButton>(&dialog, "TCP"), Qt::LeftButton);
    replaceText(child<QLineEdit>(&dialog, "edtHostIP"), target);
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(session->linkText(), target);
    QTRY_VERIFY(session->tcpClient().isOpen());
    QVERIFY(!lamp.isEmpty() && lamp.last().at(0).toBool());
    QCOMPARE(failed.size(), 0);
    QVERIFY(!session->menus().FlatPanel3 && session->menus().pnlConnect);
}

void TestDialogs::presetChoosesNoLink()
{
    auto session = newSession();
    ComPortDialog dialog(*session);
    dialog.preset(QStringLiteral("/dev/pts/42"), QStringLiteral("127.0.0.1:1502"));
    dialog.show();
    QCOMPARE(child<QComboBox>(&dialog, "PortSelect")->currentText(), QStringLiteral("/dev/pts/42"));
    QCOMPARE(child<QLineEdit>(&dialog, "edtHostIP")->text(), QStringLiteral("127.0.0.1:1502"));
    QVERIFY(!child<QRadioButton>(&dialog, "Serial")->isChecked());
    QVERIFY(!child<QRadioButton>(&dialog, "TCP")->isChecked());
    QVERIFY(!child<QPushButton>(&dialog, "BitBtn1")->isEnabled());
    QCOMPARE(session->engine().link(), LinkKind::Tcp); // none chosen yet: as on TCP
    QVERIFY(!session->linkChosen());
    QVERIFY(!session->serialPort().isOpen());
}

void TestDialogs::onlyTheChosenPortOpens_data()
{
    QTest::addColumn<bool>("demo");
    // How the operator goes on after choosing the serial link: "connect" at once, "pick" the
    // second entry of the list, "type" the simulator's path, or "close" the dialog.
    QTest::addColumn<QString>("how");
    // The one device opened: the simulator, the first or the second listed port; none.
    QTest::addColumn<QString>("opened");
    const QString sim = QStringLiteral("simulator");
    const QString first = QStringLiteral("first");
    const QString second = QStringLiteral("second");
    QTest::newRow("demo: the simulator heads the list") << true << QStringLiteral("connect") << sim;
    QTest::newRow("demo: a listed port picked") << true << QStringLiteral("pick") << first;
    QTest::newRow("demo: closed") << true << QStringLiteral("close") << QString();
    QTest::newRow("first listed port") << false << QStringLiteral("connect") << first;
    QTest::newRow("picked from the list") << false << QStringLiteral("pick") << second;
    QTest::newRow("typed path") << false << QStringLiteral("type") << sim;
    QTest::newRow("closed") << false << QStringLiteral("close") << QString();
}

// Choosing the serial link lists ports and opens none; Connect opens the one port the
// operator chose, and no other line of the machine is opened, reconfigured or flushed. The
// listed ports are pseudo-terminals standing for the machine's own serial lines (the real
// ones are listed after them and never opened either).
void TestDialogs::onlyTheChosenPortOpens()
{
    QFETCH(bool, demo);
    QFETCH(QString, how);
    QFETCH(QString, opened);
    PseudoTerminal sim;
    PseudoTerminal firstPort;
    PseudoTerminal secondPort;
    QVERIFY(!sim.path.isEmpty() && !firstPort.path.isEmpty() && !secondPort.path.isEmpty());
    const QHash<QString, QString> devices{{QStringLiteral("simulator"), sim.path},
                                          {QStringLiteral("first"), firstPort.path},
                                          {QStringLiteral("second"), secondPort.path}};
    const QStringList listed =
        QStringList{firstPort.path, secondPort.path} + SerialTransport::availablePorts();

    auto session = connectingSession();
    session->setPortLister([&] { return listed; });
    openrecorder::reset();
    ComPortDialog dialog(*session);
    if (demo)
        dialog.preset(sim.path, QStringLiteral("127.0.0.1:1502"));
    dialog.show();
    QTest::mouseClick(child<QRadioButton>(&dialog, "Serial"), Qt::LeftButton);
    QCOMPARE(takeMessages(), QStringList{});
    auto *portSelect = child<QComboBox>(&dialog, "PortSelect");
    const QStringList expected = demo ? QStringList{sim.path} + listed : listed;
    QCOMPARE(itemTexts(portSelect), expected);
    QCOMPARE(portSelect->currentText(), expected.first());

    if (how == QLatin1String("pick")) {
        portSelect->setFocus();
        QTest::keyClick(portSelect, Qt::Key_Down);
        QCOMPARE(portSelect->currentIndex(), 1);
    } else if (how == QLatin1String("type")) {
        replaceText(portSelect->lineEdit(), sim.path);
    }
    QCOMPARE(openrecorder::opened(), QStringList{});
    QVERIFY(!session->serialPort().isOpen());

    if (how == QLatin1String("close")) {
        QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn2"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(openrecorder::opened(), QStringList{});
        QVERIFY(!session->engine().pollingRunning());
        QVERIFY(!session->engine().serialInUse());
        return;
    }
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(takeMessages(), QStringList{});
    const QString device = devices.value(opened);
    QCOMPARE(openrecorder::opened(), QStringList{device});
    QVERIFY(session->serialPort().isOpen());
    QCOMPARE(session->serialPort().device(), device);
    QCOMPARE(session->linkText(), device);
    QVERIFY(session->engine().serialInUse());
    session->closing();
}

void TestDialogs::deviceThatCannotOpen_data()
{
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("Connect clicked") << false;
    QTest::newRow("Enter in the field") << true;
}

// A typed path that does not open is reported once, on Connect, naming the device and the
// reason; leaving the field says nothing. The dialog stays with the path as typed, and the
// next Connect, with the path mended, goes through.
void TestDialogs::deviceThatCannotOpen()
{
    QFETCH(bool, byEnter);
    PseudoTerminal pty;
    QVERIFY(!pty.path.isEmpty());
    const QString missing = QStringLiteral("/dev/qeln-no-such-port");

    auto session = connectingSession();
    session->setPortLister([] { return QStringList{}; });
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    ComPortDialog dialog(*session);
    dialog.show();
    // Active, so that the focus really leaves the field.
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::mouseClick(child<QRadioButton>(&dialog, "Serial"), Qt::LeftButton);
    QCOMPARE(takeMessages(), QStringList{QStringLiteral("Can not find the serial port")});
    auto *portSelect = child<QComboBox>(&dialog, "PortSelect");
    auto *connect = child<QPushButton>(&dialog, "BitBtn1");
    replaceText(portSelect->lineEdit(), missing);
    QVERIFY(portSelect->lineEdit()->hasFocus());
    connect->setFocus();
    QVERIFY(connect->hasFocus());
    QCOMPARE(takeMessages(), QStringList{});

    const auto pressConnect = [&] {
        if (byEnter)
            QTest::keyClick(portSelect->lineEdit(), Qt::Key_Return);
        else
            QTest::mouseClick(connect, Qt::LeftButton);
    };
    portSelect->lineEdit()->setFocus();
    pressConnect();
    QCOMPARE(takeMessages(),
             QStringList{QStringLiteral("Cannot open %1: No such file or directory").arg(missing)});
    QVERIFY(dialog.isVisible());
    QCOMPARE(portSelect->currentText(), missing);
    QCOMPARE(failed.size(), 0);
    QVERIFY(!session->engine().pollingRunning());
    QVERIFY(!session->serialPort().isOpen());

    replaceText(portSelect->lineEdit(), pty.path);
    pressConnect();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(takeMessages(), QStringList{});
    QVERIFY(session->serialPort().isOpen());
    QCOMPARE(session->serialPort().device(), pty.path);
    QVERIFY(session->engine().pollingRunning());
    session->closing();
}

void TestDialogs::hostTextThatNamesNoHost_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("port over 65535")
        << QStringLiteral("abc:99999")
        << QStringLiteral("'abc:99999' is not a host or host:port: the port must be 1..65535");
    QTest::newRow("no port after ':'")
        << QStringLiteral("192.168.50.92:")
        << QStringLiteral("'192.168.50.92:' is not a host or host:port: the port must be 1..65535");
    QTest::newRow("blank inside") << QStringLiteral("192.168 .50.92")
                                  << QStringLiteral("'192.168 .50.92' is not a host or host:port: ' ' "
                                                    "cannot be part of a host name");
    QTest::newRow("empty") << QString()
                           << QStringLiteral("'' is not a host or host:port: the host is empty");
}

// Host text that names no host says so on Connect, instead of sending the operator to check
// the LAN cable; nothing is started, and the dialog stays with the text as typed.
void TestDialogs::hostTextThatNamesNoHost()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    auto session = connectingSession();
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    QSignalSpy connecting(session.get(), &ConsoleSession::connectingTo);
    ComPortDialog dialog(*session);
    dialog.show();
    QTest::mouseClick(child<QRadioButton>(&dialog, "TCP"), Qt::LeftButton);
    auto *host = child<QLineEdit>(&dialog, "edtHostIP");
    replaceText(host, text);
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);

    QCOMPARE(takeMessages(), QStringList{message});
    QVERIFY(dialog.isVisible());
    QCOMPARE(host->text(), text);
    QCOMPARE(failed.size(), 0);
    QCOMPARE(connecting.size(), 0);
    QVERIFY(!session->engine().pollingRunning());
    QCOMPARE(session->linkText(), QString());

    const QString target = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
    replaceText(host, target);
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QTRY_VERIFY(session->tcpClient().isOpen());
    QCOMPARE(takeMessages(), QStringList{});
}

void TestDialogs::connectingShownInStatusBar_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("accepted") << true;
    QTest::newRow("refused") << false;
}

// While the operator's TCP connect is under way the status bar is shown, after a disconnect
// had hidden it, and says, readable in full, where the console is connecting to; the text
// goes once the connect is decided. The link panel shows the host all along.
void TestDialogs::connectingShownInStatusBar()
{
    QFETCH(bool, listening);
    QTcpServer server;
    quint16 port = 0;
    if (listening) {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        port = server.serverPort();
    } else {
        port = refusedPort();
    }
    const QString target = QStringLiteral("127.0.0.1:%1").arg(port);

    auto session = newSession();
    MainForm window(*session);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    session->login();
    session->connectCommand();
    session->disconnectCommand();
    auto *bar = window.findChild<QStatusBar *>(QStringLiteral("ComSetting"));
    auto *panel = window.findChild<QLabel *>(QStringLiteral("ComSettingPanel0"));
    auto *linkPanel = window.findChild<QLabel *>(QStringLiteral("ComSettingPanel2"));
    QVERIFY(bar && panel && linkPanel);
    QVERIFY(!bar->isVisible());

    window.menuItem(QStringLiteral("mConnect"))->trigger();
    auto *dialog = window.findChild<QDialog *>(QStringLiteral("frmComPort"));
    QVERIFY(dialog);
    QTest::mouseClick(child<QRadioButton>(dialog, "TCP"), Qt::LeftButton);
    replaceText(child<QLineEdit>(dialog, "edtHostIP"), target);
    QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);

    QVERIFY(bar->isVisible());
    QCOMPARE(panel->text(), QStringLiteral("Connecting to %1 ...").arg(target));
    QCOMPARE(linkPanel->text(), target);
    QVERIFY(panel->contentsRect().width() >= panel->fontMetrics().horizontalAdvance(panel->text()));
    QTRY_COMPARE(panel->text(), QString());
    QCOMPARE(linkPanel->text(), target);
    QVERIFY(bar->isVisible());
    if (listening)
        QTRY_VERIFY(session->tcpClient().isOpen());
    else
        QCOMPARE(takeMessages(), QStringList{QStringLiteral("Please, Check PC Lan Port Connection!")});
}

void TestDialogs::homePage_data()
{
    QTest::addColumn<bool>("browser");
    QTest::newRow("no browser can be started") << false;
    QTest::newRow("browser started") << true;
}

// When no browser can be started, the address is shown in a message the operator can copy
// it from; the message does not hold the window up.
void TestDialogs::homePage()
{
    QFETCH(bool, browser);
    const QString url = QStringLiteral("https://marvek-pelvart.example/");
    // Headless, the desktop has no browser to start; anywhere else the catcher stands in,
    // so no test ever starts a real one.
    if (!browser && QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("a browser could be started on this platform");
    UrlCatcher catcher;
    if (browser)
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");

    auto session = newSession();
    MainForm window(*session);
    window.show();
    window.menuItem(QStringLiteral("MarvekPelvart1"))->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    auto *box = window.findChild<QMessageBox *>(QStringLiteral("homePageBox"));
    if (browser) {
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(url)});
        QVERIFY(!box);
        return;
    }
    QVERIFY(box && box->isVisible());
    QVERIFY2(box->text().contains(url), qPrintable(box->text()));
    QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    // Shown with open(): the window goes on taking commands meanwhile.
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QVERIFY(window.menuItem(QStringLiteral("N3"))->isEnabled());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
