// The console session against the simulated controller (qeln-sim) on TCP and on its
// pseudo-terminal: login and logout, the connection dialog's operations, connect and
// disconnect, and what each does to the menus, the lamps and the poll timer.

#include "app/consolesession.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace qeln;

namespace {

constexpr int Wait = 8000;

QString simPath()
{
    const QByteArray fromEnv = qgetenv("QELN_SIM");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
#ifdef QELN_SIM_PATH
    return QStringLiteral(QELN_SIM_PATH);
#else
    return QString();
#endif
}

MenuState loggedIn()
{
    MenuState m;
    m.mLogin = false;
    m.mLogout = true;
    m.mConnect = true;
    m.FlatPanel3 = true;
    m.ComSetting = true;
    m.pnlConnect = true;
    return m;
}

bool configMenusEnabled(const MenuState &m)
{
    return m.mMeasurementSet && m.mDataTimeSet && m.mIPSet && m.mAlarmManager && m.mSystemConfiguration
        && m.mAlarmLog && m.mEventLog && m.mInitialLog && m.mAlarmTest && m.mFactoryInitial;
}

bool anyConfigMenuEnabled(const MenuState &m)
{
    return m.mMeasurementSet || m.mDataTimeSet || m.mIPSet || m.mAlarmManager || m.mSystemConfiguration
        || m.mAlarmLog || m.mEventLog || m.mInitialLog || m.mAlarmTest || m.mFactoryInitial;
}

// A loopback port nobody listens on.
quint16 refusedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestConsoleSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void loginAndLogoutMenus();
    void passwordMatches_data();
    void passwordMatches();
    void parseHost_data();
    void parseHost();

    void tcpConnectEnablesMenusOnFirstStatus();
    void tcpConnectFailure_data();
    void tcpConnectFailure();
    void serialLinkOverPty();
    void serialPortThatCannotOpen();
    void tcpChoiceClosesSerialPort();
    void exitCommand_data();
    void exitCommand();

private:
    // A logged-in session with the connection dialog open.
    std::unique_ptr<ConsoleSession> dialogSession();
    void connectTcp(ConsoleSession &session);
    void connectSerial(ConsoleSession &session);

    QProcess sim;
    QString tcpTarget; // "127.0.0.1:PORT"
    QString ptyPath;
};

void TestConsoleSession::initTestCase()
{
    const QString path = simPath();
    if (path.isEmpty())
        QSKIP("no qeln-sim (QELN_SIM)");
    sim.setProgram(path);
    sim.setArguments({QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--pty"),
                      QStringLiteral("--seed"), QStringLiteral("7")});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), out.count('\n') >= 2), Wait);
    for (const QByteArray &line : out.split('\n')) {
        const QString text = QString::fromLocal8Bit(line).trimmed();
        if (text.startsWith(QLatin1String("tcp ")))
            tcpTarget = text.mid(4);
        else if (text.startsWith(QLatin1String("serial ")))
            ptyPath = text.mid(7);
    }
    QVERIFY2(!tcpTarget.isEmpty() && !ptyPath.isEmpty(), out.constData());
}

void TestConsoleSession::cleanupTestCase()
{
    if (sim.state() != QProcess::NotRunning) {
        sim.kill();
        sim.waitForFinished(3000);
    }
}

std::unique_ptr<ConsoleSession> TestConsoleSession::dialogSession()
{
    auto session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    session->login();
    session->connectCommand();
    session->dialogCreated();
    return session;
}

void TestConsoleSession::connectTcp(ConsoleSession &session)
{
    QSignalSpy lamp(&session, &ConsoleSession::tcpLampChanged);
    QSignalSpy status(&session, &ConsoleSession::statusArrived);
    session.chooseTcp();
    session.confirmConnect(tcpTarget);
    QTRY_VERIFY_WITH_TIMEOUT(!lamp.isEmpty() && lamp.first().at(0).toBool(), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, Wait);
}

void TestConsoleSession::connectSerial(ConsoleSession &session)
{
    QSignalSpy status(&session, &ConsoleSession::statusArrived);
    session.chooseSerial();
    QString error;
    QVERIFY2(session.selectPort(ptyPath, &error), qPrintable(error));
    session.confirmConnect(QStringLiteral("192.168.50.92"));
    QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, Wait);
}

void TestConsoleSession::loginAndLogoutMenus()
{
    ConsoleSession session;
    session.setConsoleStream(nullptr);
    QCOMPARE(session.menus(), MenuState{});
    QVERIFY(!session.engine().pollTimer()->isActive());

    QSignalSpy changed(&session, &ConsoleSession::menusChanged);
    session.state().PollReady = 0;
    session.login();
    QCOMPARE(session.menus(), loggedIn());
    QCOMPARE(session.state().PollReady, 1);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).value<MenuState>(), loggedIn());

    session.connectCommand();
    MenuState expected = loggedIn();
    expected.mConnect = false;
    expected.mDisconnect = true;
    expected.mMonitor = false;
    QCOMPARE(session.menus(), expected);

    // Logout leaves the event log and the alarm test as they were, and the lamps shown.
    QSignalSpy lamp(&session, &ConsoleSession::tcpLampChanged);
    session.logout();
    expected.mLogin = true;
    expected.mLogout = false;
    expected.mDisconnect = false;
    QCOMPARE(session.menus(), expected);
    QCOMPARE(lamp.size(), 1);
    QCOMPARE(lamp.first().at(0).toBool(), false);
}

void TestConsoleSession::passwordMatches_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");
    QTest::newRow("exact") << QStringLiteral("guard7351") << true;
    QTest::newRow("trailing space") << QStringLiteral("guard7351 ") << false;
    QTest::newRow("leading space") << QStringLiteral(" guard7351") << false;
    QTest::newRow("upper case") << QStringLiteral("GUARD7351") << false;
    QTest::newRow("one capital") << QStringLiteral("Guard7351") << false;
    QTest::newRow("prefix") << QStringLiteral("guard735") << false;
    QTest::newRow("longer") << QStringLiteral("guard73511") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestConsoleSession::passwordMatches()
{
    QFETCH(QString, text);
    QFETCH(bool, matches);
    ConsoleSession session;
    QCOMPARE(session.passwordMatches(text), matches);
}

void TestConsoleSession::parseHost_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("preset") << QStringLiteral("192.168.50.92") << true << QStringLiteral("192.168.50.92") << 502;
    QTest::newRow("with port") << QStringLiteral("127.0.0.1:1502") << true << QStringLiteral("127.0.0.1") << 1502;
    QTest::newRow("name") << QStringLiteral("plant-7.local") << true << QStringLiteral("plant-7.local") << 502;
    QTest::newRow("blanks around") << QStringLiteral(" 10.0.0.5:503 ") << true << QStringLiteral("10.0.0.5") << 503;
    QTest::newRow("v6 with port") << QStringLiteral("[::1]:1502") << true << QStringLiteral("::1") << 1502;
    QTest::newRow("v6 bracketed") << QStringLiteral("[fe80::1]") << true << QStringLiteral("fe80::1") << 502;
    QTest::newRow("v6 bare") << QStringLiteral("::1") << true << QStringLiteral("::1") << 502;
    QTest::newRow("highest port") << QStringLiteral("h:65535") << true << QStringLiteral("h") << 65535;
    QTest::newRow("empty") << QString() << false << QString() << 0;
    QTest::newRow("port only") << QStringLiteral(":502") << false << QString() << 0;
    QTest::newRow("empty port") << QStringLiteral("host:") << false << QString() << 0;
    QTest::newRow("port 0") << QStringLiteral("host:0") << false << QString() << 0;
    QTest::newRow("port too big") << QStringLiteral("host:65536") << false << QString() << 0;
    QTest::newRow("signed port") << QStringLiteral("host:+502") << false << QString() << 0;
    QTest::newRow("port not a number") << QStringLiteral("host:50x") << false << QString() << 0;
    QTest::newRow("blank inside") << QStringLiteral("192.168 .50.92") << false << QString() << 0;
    QTest::newRow("url") << QStringLiteral("tcp://host:502") << false << QString() << 0;
    QTest::newRow("v6 unclosed") << QStringLiteral("[::1:502") << false << QString() << 0;
    QTest::newRow("v6 junk after") << QStringLiteral("[::1]x") << false << QString() << 0;
    QTest::newRow("v4 in brackets") << QStringLiteral("[1.2.3.4]:502") << false << QString() << 0;
}

void TestConsoleSession::parseHost()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    QString gotHost;
    quint16 gotPort = 0;
    QCOMPARE(ConsoleSession::parseHost(text, &gotHost, &gotPort), ok);
    if (ok) {
        QCOMPARE(gotHost, host);
        QCOMPARE(int(gotPort), port);
    }
}

void TestConsoleSession::tcpConnectEnablesMenusOnFirstStatus()
{
    auto session = dialogSession();
    QCOMPARE(session->state().LinkIsTcp, 2);
    connectTcp(*session);

    const MenuState up = session->menus();
    QVERIFY(configMenusEnabled(up));
    QVERIFY(up.ComSetting && up.GroupBox1 && up.pnlConnect && !up.FlatPanel3);
    QVERIFY(up.mDisconnect && !up.mConnect);
    QCOMPARE(session->linkText(), tcpTarget);
    QCOMPARE(session->state().SerialPortOpen, 0);
    QCOMPARE(session->engine().pollTimer()->interval(), 300);

    // Disconnect: polling stops, the link drops, and a later status cannot come back.
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    QSignalSpy dataLog(session.get(), &ConsoleSession::dataLogStopRequested);
    session->disconnectCommand();
    const MenuState down = session->menus();
    QVERIFY(!anyConfigMenuEnabled(down));
    QVERIFY(down.mConnect && !down.mDisconnect && down.mMonitor && !down.ComSetting && !down.GroupBox1);
    QVERIFY(!session->engine().pollTimer()->isActive());
    QVERIFY(!session->tcpClient().isOpen());
    QCOMPARE(session->state().RequestState, 0);
    QVERIFY(!lamp.isEmpty() && !lamp.last().at(0).toBool());
    QCOMPARE(dataLog.size(), 1);
    QTest::qWait(700);
    QVERIFY(!anyConfigMenuEnabled(session->menus()));

    // Connecting again: the status arrives once more and logout keeps event log and alarm test.
    session->connectCommand();
    session->dialogCreated();
    connectTcp(*session);
    QVERIFY(configMenusEnabled(session->menus()));
    session->logout();
    const MenuState out = session->menus();
    QVERIFY(out.mEventLog && out.mAlarmTest);
    QVERIFY(!out.mAlarmLog && !out.mIPSet && !out.mFactoryInitial && !out.GroupBox1);
    QVERIFY(out.mLogin && !out.mLogout && !out.mConnect && !out.mDisconnect);
    QVERIFY(!session->tcpClient().isOpen());
    QVERIFY(!session->engine().pollTimer()->isActive());
}

void TestConsoleSession::tcpConnectFailure_data()
{
    QTest::addColumn<QString>("hostText");
    QTest::newRow("refused") << QStringLiteral("127.0.0.1:%1").arg(refusedPort());
    QTest::newRow("not a host") << QStringLiteral("127.0.0.1:70000");
}

void TestConsoleSession::tcpConnectFailure()
{
    QFETCH(QString, hostText);
    auto session = dialogSession();
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    QSignalSpy message(session.get(), &ConsoleSession::messageRequested);
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    session->chooseTcp();
    session->confirmConnect(hostText);
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, Wait);
    QCOMPARE(message.size(), 1);
    QCOMPARE(message.first().at(0).value<MessageKind>(), MessageKind::Plain);
    QCOMPARE(message.first().at(1).toString(), QStringLiteral("Please, Check PC Lan Port Connection!"));
    QVERIFY(!session->engine().pollTimer()->isActive());
    QCOMPARE(session->linkText(), hostText);
    for (const auto &args : lamp)
        QVERIFY(!args.at(0).toBool());
    // Only Disconnect is offered; nothing more is reported later.
    QVERIFY(session->menus().mDisconnect && !session->menus().mConnect);
    QTest::qWait(500);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(message.size(), 1);
}

void TestConsoleSession::serialLinkOverPty()
{
    auto session = dialogSession();
    QSignalSpy tx(session.get(), &ConsoleSession::txActivity);
    QSignalSpy rx(session.get(), &ConsoleSession::rxActivity);
    connectSerial(*session);

    const MenuState up = session->menus();
    QVERIFY(configMenusEnabled(up));
    QVERIFY(up.FlatPanel3 && !up.pnlConnect && up.GroupBox1);
    QCOMPARE(session->state().LinkIsTcp, 0);
    QCOMPARE(session->state().SerialPortOpen, 1);
    QCOMPARE(session->linkText(), ptyPath);
    QVERIFY(!session->tcpClient().isOpen());
    QVERIFY(!tx.isEmpty());
    QVERIFY(!rx.isEmpty());

    // Disconnect leaves the port to be closed by its next arrival or the next dialog.
    session->disconnectCommand();
    QCOMPARE(session->state().SerialPortOpen, 0);
    QVERIFY(!session->engine().pollTimer()->isActive());
    session->dialogCreated();
    QVERIFY(!session->serialPort().isOpen());
}

void TestConsoleSession::serialPortThatCannotOpen()
{
    auto session = dialogSession();
    session->chooseSerial();
    QString error;
    QVERIFY(!session->selectPort(QStringLiteral("/dev/qeln-no-such-port"), &error));
    QVERIFY(!error.isEmpty());

    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    QSignalSpy message(session.get(), &ConsoleSession::messageRequested);
    session->confirmConnect(QString());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(message.size(), 1);
    QVERIFY(!message.first().at(1).toString().isEmpty());
    QCOMPARE(session->state().SerialPortOpen, 0);
    QVERIFY(!session->engine().pollTimer()->isActive());
}

void TestConsoleSession::tcpChoiceClosesSerialPort()
{
    auto session = dialogSession();
    session->chooseSerial();
    QVERIFY(session->selectPort(ptyPath));
    QVERIFY(session->serialPort().isOpen());
    session->chooseTcp();
    QCOMPARE(session->state().LinkIsTcp, 1);
    QVERIFY(!session->serialPort().isOpen());

    // Closing the dialog after picking the serial option keeps the port open, without polling.
    session->dialogCreated();
    session->chooseSerial();
    QVERIFY(session->selectPort(ptyPath));
    QVERIFY(session->serialPort().isOpen());
    QVERIFY(!session->engine().pollTimer()->isActive());
    QCOMPARE(session->state().SerialPortOpen, 0);
}

void TestConsoleSession::exitCommand_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("closingWindow");
    QTest::newRow("no link") << QStringLiteral("none") << false;
    QTest::newRow("tcp") << QStringLiteral("tcp") << true;
    QTest::newRow("serial") << QStringLiteral("serial") << false;
}

void TestConsoleSession::exitCommand()
{
    QFETCH(QString, link);
    QFETCH(bool, closingWindow);
    auto session = dialogSession();
    if (link == QLatin1String("tcp"))
        connectTcp(*session);
    else if (link == QLatin1String("serial"))
        connectSerial(*session);
    if (QTest::currentTestFailed())
        return;

    QSignalSpy dataLog(session.get(), &ConsoleSession::dataLogStopRequested);
    QCOMPARE(session->exitCommand(), closingWindow);
    QVERIFY(!session->engine().pollTimer()->isActive());
    QVERIFY(!session->tcpClient().isOpen());
    QCOMPARE(dataLog.size(), 1);
    session->closing();
    QVERIFY(!session->serialPort().isOpen());
}

QTEST_GUILESS_MAIN(TestConsoleSession)
#include "tst_consolesession.moc"
