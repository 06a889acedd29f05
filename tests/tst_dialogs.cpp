// The login, logout and connection dialogs as the operator uses them: widgets found by
// their names, driven with clicks and keys, checked for texts, messages and what the
// session did.

#include "app/consolesession.h"
#include "app/loginform.h"
#include "app/logoutform.h"
#include "link/comportdialog.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

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

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
    void presetDeviceHeadsThePortList();
};

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

    QCOMPARE(session->state().LinkIsTcp, 2);
    QVERIFY(!serial->isChecked() && !tcp->isChecked());
    QVERIFY(portSelect->isEnabled() && portSelect->isEditable());
    QVERIFY(!host->isEnabled());
    QVERIFY(!connect->isEnabled());

    QTest::mouseClick(tcp, Qt::LeftButton);
    QVERIFY(tcp->isChecked() && !serial->isChecked());
    QVERIFY(!portSelect->isEnabled() && host->isEnabled() && connect->isEnabled());
    QCOMPARE(session->state().LinkIsTcp, 1);
    QCOMPARE(takeMessages(), QStringList{});

    QTest::mouseClick(serial, Qt::LeftButton);
    QVERIFY(serial->isChecked() && !tcp->isChecked());
    QVERIFY(portSelect->isEnabled() && !host->isEnabled() && connect->isEnabled());
    QCOMPARE(session->state().LinkIsTcp, 0);
    QCOMPARE(session->state().LinkChoice, 1);
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
    QVERIFY(!session->engine().pollTimer()->isActive());
    QCOMPARE(session->state().SerialPortOpen, 0);
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
    QCOMPARE(session->state().SerialPortOpen, 1);
    QCOMPARE(session->linkText(), path);
    QVERIFY(session->engine().pollTimer()->isActive());
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
    QCOMPARE(session->state().LinkIsTcp, 2);
    QVERIFY(!session->serialPort().isOpen());
}

// In demo mode the simulator's pseudo-terminal is the port meant: picking the serial link
// selects and opens it, whatever ports the machine lists, and no "no port" message appears.
void TestDialogs::presetDeviceHeadsThePortList()
{
    PseudoTerminal pty;
    QVERIFY(!pty.path.isEmpty());
    const QString path = pty.path;

    auto session = connectingSession();
    ComPortDialog dialog(*session);
    dialog.preset(path, QStringLiteral("127.0.0.1:1502"));
    dialog.show();
    QTest::mouseClick(child<QRadioButton>(&dialog, "Serial"), Qt::LeftButton);
    QCOMPARE(takeMessages(), QStringList{});
    auto *portSelect = child<QComboBox>(&dialog, "PortSelect");
    QCOMPARE(portSelect->itemText(0), path);
    QCOMPARE(portSelect->currentText(), path);
    QVERIFY(session->serialPort().isOpen());
    QCOMPARE(session->serialPort().device(), path);
    QTest::mouseClick(child<QPushButton>(&dialog, "BitBtn1"), Qt::LeftButton);
    QCOMPARE(session->linkText(), path);
    QCOMPARE(session->state().SerialPortOpen, 1);
    session->closing();
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
