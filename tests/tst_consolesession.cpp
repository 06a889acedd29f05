// The console session against the simulated controller (qeln-sim) on TCP and on its
// pseudo-terminal: login and logout, the connection dialog's operations, connect and
// disconnect, and what each does to the menus, the lamps and the poll timer.

#include "app/consolesession.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"
#include "openrecorder.h"

#include <QProcess>
#include <QSerialPortInfo>
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
    void serialPortThatCannotOpen_data();
    void serialPortThatCannotOpen();
    void listingOpensNoPort();
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
    QSignalSpy connecting(&session, &ConsoleSession::connectingTo);
    session.chooseTcp();
    session.confirmConnect(tcpTarget);
    // Under way: the status bar is shown and says so, even after a disconnect hid it.
    const QString underWay = QStringLiteral("Connecting to %1 ...").arg(tcpTarget);
    QCOMPARE(session.connectingText(), underWay);
    QVERIFY(session.menus().ComSetting);
    QTRY_VERIFY_WITH_TIMEOUT(!lamp.isEmpty() && lamp.first().at(0).toBool(), Wait);
    QCOMPARE(session.connectingText(), QString());
    QCOMPARE(connecting.size(), 2);
    QCOMPARE(connecting.at(0).at(0).toString(), underWay);
    QCOMPARE(connecting.at(1).at(0).toString(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, Wait);
}

void TestConsoleSession::connectSerial(ConsoleSession &session)
{
    QSignalSpy status(&session, &ConsoleSession::statusArrived);
    session.chooseSerial();
    session.selectPort(ptyPath);
    session.confirmConnect(QStringLiteral("192.168.50.92"));
    QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, Wait);
}

void TestConsoleSession::loginAndLogoutMenus()
{
    ConsoleSession session;
    session.setConsoleStream(nullptr);
    QCOMPARE(session.menus(), MenuState{});
    QVERIFY(!session.engine().pollingRunning());

    QSignalSpy changed(&session, &ConsoleSession::menusChanged);
    session.login();
    QCOMPARE(session.menus(), loggedIn());
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
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    // What the operator is told when the text names no host (after "'TEXT' is not a host or
    // host:port: ").
    QTest::addColumn<QString>("problem");
    const QString portRange = QStringLiteral("the port must be 1..65535");
    const QString emptyHost = QStringLiteral("the host is empty");
    auto ok = [](const char *tag, const char *text, const char *host, int port) {
        QTest::newRow(tag) << QString::fromLatin1(text) << QString::fromLatin1(host) << port << QString();
    };
    auto bad = [](const char *tag, const char *text, const QString &problem) {
        QTest::newRow(tag) << QString::fromLatin1(text) << QString() << 0 << problem;
    };
    ok("preset", "192.168.50.92", "192.168.50.92", 502);
    ok("with port", "127.0.0.1:1502", "127.0.0.1", 1502);
    ok("name", "plant-7.local", "plant-7.local", 502);
    ok("blanks around", " 10.0.0.5:503 ", "10.0.0.5", 503);
    ok("v6 with port", "[::1]:1502", "::1", 1502);
    ok("v6 bracketed", "[fe80::1]", "fe80::1", 502);
    ok("v6 bare", "::1", "::1", 502);
    ok("highest port", "h:65535", "h", 65535);
    bad("empty", "", emptyHost);
    bad("blank", "   ", emptyHost);
    bad("port only", ":502", emptyHost);
    bad("empty port", "host:", portRange);
    bad("port 0", "host:0", portRange);
    bad("port too big", "abc:99999", portRange);
    bad("port 65536", "host:65536", portRange);
    bad("signed port", "host:+502", portRange);
    bad("port not a number", "host:50x", portRange);
    bad("v6 port too big", "[::1]:70000", portRange);
    bad("blank inside", "192.168 .50.92", QStringLiteral("' ' cannot be part of a host name"));
    bad("slash", "plant/7", QStringLiteral("'/' cannot be part of a host name"));
    bad("url", "tcp://host:502",
        QStringLiteral("more than one ':' (an IPv6 address with a port is written [::1]:502)"));
    bad("v6 unclosed", "[::1:502", QStringLiteral("the ']' after the IPv6 address is missing"));
    bad("v6 junk after", "[::1]x", QStringLiteral("only :PORT may follow ']'"));
    bad("v4 in brackets", "[1.2.3.4]:502", QStringLiteral("brackets hold an IPv6 address"));
    bad("empty brackets", "[]", QStringLiteral("brackets hold an IPv6 address"));
    QTest::newRow("too long") << QString(254, u'a') << QString() << 0
                              << QStringLiteral("a host name has at most 253 characters");
}

void TestConsoleSession::parseHost()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, problem);
    QString gotHost;
    quint16 gotPort = 0;
    QString gotProblem;
    QCOMPARE(ConsoleSession::parseHost(text, &gotHost, &gotPort, &gotProblem), problem.isEmpty());
    if (problem.isEmpty()) {
        QCOMPARE(gotHost, host);
        QCOMPARE(int(gotPort), port);
        QCOMPARE(gotProblem, QString());
    } else {
        QCOMPARE(gotProblem, QStringLiteral("'%1' is not a host or host:port: %2").arg(text, problem));
    }
}

void TestConsoleSession::tcpConnectEnablesMenusOnFirstStatus()
{
    auto session = dialogSession();
    QCOMPARE(session->engine().link(), LinkKind::Tcp); // none chosen yet: as on TCP
    QVERIFY(!session->linkChosen());
    connectTcp(*session);

    const MenuState up = session->menus();
    QVERIFY(configMenusEnabled(up));
    QVERIFY(up.ComSetting && up.GroupBox1 && up.pnlConnect && !up.FlatPanel3);
    QVERIFY(up.mDisconnect && !up.mConnect);
    QCOMPARE(session->linkText(), tcpTarget);
    QVERIFY(!session->engine().serialInUse());
    QCOMPARE(session->engine().pollTickMs(), 300);

    // Disconnect: polling stops, the link drops, and a later status cannot come back.
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    QSignalSpy dataLog(session.get(), &ConsoleSession::dataLogStopRequested);
    QSignalSpy menusChanged(session.get(), &ConsoleSession::menusChanged);
    session->disconnectCommand();
    const MenuState down = session->menus();
    QVERIFY(!anyConfigMenuEnabled(down));
    QVERIFY(down.mConnect && !down.mDisconnect && down.mMonitor && !down.ComSetting && !down.GroupBox1);
    QVERIFY(!session->engine().pollingRunning());
    QVERIFY(!session->tcpClient().isOpen());
    QVERIFY(!session->engine().pollingHeld());
    QVERIFY(!lamp.isEmpty() && !lamp.last().at(0).toBool());
    QCOMPARE(dataLog.size(), 1);
    // Two poll periods: no status comes back to enable the menus again.
    menusChanged.clear();
    QVERIFY(!menusChanged.wait(700));
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
    QVERIFY(!session->engine().pollingRunning());
}

void TestConsoleSession::tcpConnectFailure_data()
{
    QTest::addColumn<QString>("hostText");
    QTest::addColumn<QString>("message");
    // What the status bar said while the connect was under way; empty when none started.
    QTest::addColumn<QString>("underWay");
    const QString lanCheck = QStringLiteral("Please, Check PC Lan Port Connection!");
    const quint16 port = refusedPort();
    const QString v4 = QStringLiteral("127.0.0.1:%1").arg(port);
    QTest::newRow("refused") << v4 << lanCheck << QStringLiteral("Connecting to %1 ...").arg(v4);
    // Refused, or unreachable where the machine has no IPv6 loopback: the LAN message either way.
    const QString v6 = QStringLiteral("[::1]:%1").arg(port);
    QTest::newRow("refused v6") << v6 << lanCheck << QStringLiteral("Connecting to %1 ...").arg(v6);
    // A text that names no host is not the network's fault: the operator is told what is wrong.
    QTest::newRow("port over 65535")
        << QStringLiteral("abc:99999")
        << QStringLiteral("'abc:99999' is not a host or host:port: the port must be 1..65535") << QString();
    QTest::newRow("not a host") << QStringLiteral("plant 7")
                                << QStringLiteral("'plant 7' is not a host or host:port: ' ' cannot be "
                                                  "part of a host name")
                                << QString();
}

void TestConsoleSession::tcpConnectFailure()
{
    QFETCH(QString, hostText);
    QFETCH(QString, message);
    QFETCH(QString, underWay);
    auto session = dialogSession();
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    QSignalSpy messages(session.get(), &ConsoleSession::messageRequested);
    QSignalSpy lamp(session.get(), &ConsoleSession::tcpLampChanged);
    QSignalSpy connecting(session.get(), &ConsoleSession::connectingTo);
    session->chooseTcp();
    session->confirmConnect(hostText);
    QCOMPARE(session->connectingText(), underWay);
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, Wait);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().at(0).value<MessageKind>(), MessageKind::Plain);
    QCOMPARE(messages.first().at(1).toString(), message);
    QVERIFY(!session->engine().pollingRunning());
    QCOMPARE(session->connectingText(), QString());
    if (underWay.isEmpty()) {
        // Nothing was started: no connect, no link text, no "Connecting to".
        QCOMPARE(connecting.size(), 0);
        QCOMPARE(session->linkText(), QString());
        QCOMPARE(failed.first().at(0).toString(), message);
    } else {
        QCOMPARE(connecting.size(), 2);
        QCOMPARE(connecting.at(0).at(0).toString(), underWay);
        QCOMPARE(connecting.at(1).at(0).toString(), QString());
        QCOMPARE(session->linkText(), hostText);
    }
    for (const auto &args : lamp)
        QVERIFY(!args.at(0).toBool());
    // Only Disconnect is offered; nothing more is reported later.
    QVERIFY(session->menus().mDisconnect && !session->menus().mConnect);
    QVERIFY(!failed.wait(500));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(messages.size(), 1);
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
    QCOMPARE(session->engine().link(), LinkKind::Serial);
    QVERIFY(session->engine().serialInUse());
    QCOMPARE(session->linkText(), ptyPath);
    QVERIFY(!session->tcpClient().isOpen());
    QVERIFY(!tx.isEmpty());
    QVERIFY(!rx.isEmpty());

    // Disconnect leaves the port to be closed by its next arrival or the next dialog.
    session->disconnectCommand();
    QVERIFY(!session->engine().serialInUse());
    QVERIFY(!session->engine().pollingRunning());
    session->dialogCreated();
    QVERIFY(!session->serialPort().isOpen());
}

void TestConsoleSession::serialPortThatCannotOpen_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("message");
    QTest::newRow("no such device")
        << QStringLiteral("/dev/qeln-no-such-port")
        << QStringLiteral("Cannot open /dev/qeln-no-such-port: No such file or directory");
    QTest::newRow("not a device") << QStringLiteral("/") << QString();
    QTest::newRow("none chosen") << QString() << QStringLiteral("Can not find the serial port");
}

// A device that does not open is reported once, naming it and the reason: by the check the
// dialog makes on Connect (nothing starts, the dialog stays), or by the connect itself.
void TestConsoleSession::serialPortThatCannotOpen()
{
    QFETCH(QString, device);
    QFETCH(QString, message);
    auto session = dialogSession();
    QCOMPARE(session->chooseSerial().contains(device), false);
    QSignalSpy failed(session.get(), &ConsoleSession::connectFailed);
    QSignalSpy messages(session.get(), &ConsoleSession::messageRequested);

    QString problem;
    QVERIFY(!session->prepareConnect(device, QString(), &problem));
    if (message.isEmpty())
        QVERIFY2(problem.startsWith(QStringLiteral("Cannot open %1: ").arg(device)) && problem.size() > 14,
                 qPrintable(problem));
    else
        QCOMPARE(problem, message);
    QCOMPARE(failed.size(), 0);
    QCOMPARE(messages.size(), 0);
    QVERIFY(!session->serialPort().isOpen());
    QVERIFY(!session->engine().pollingRunning());

    session->confirmConnect(QString());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().at(1).toString(), problem);
    QVERIFY(!session->engine().serialInUse());
    QVERIFY(!session->engine().pollingRunning());
}

// Listing the serial ports, choosing the serial link and selecting a port open no device:
// the machine's own lines (a modem, a UPS, another controller) are neither reconfigured nor
// flushed, nor have DTR dropped. The port opens when the operator connects.
void TestConsoleSession::listingOpensNoPort()
{
    QStringList listed;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        listed.append(info.systemLocation());
    // Should a fault try to open them, they stay untouched all the same.
    openrecorder::refuse(listed);
    openrecorder::reset();

    QCOMPARE(SerialTransport::availablePorts(), listed);
    auto session = dialogSession();
    QCOMPARE(session->chooseSerial(), listed);
    session->selectPort(listed.value(0, ptyPath));
    session->chooseTcp();
    session->chooseSerial();
    QCOMPARE(openrecorder::opened(), QStringList{});
    QVERIFY(!session->engine().pollingRunning());
    QVERIFY(!session->engine().serialInUse());

    // The recorder does see the port the operator connects to. Switching to TCP after the
    // port was opened closes it again.
    QString problem;
    QVERIFY2(session->prepareConnect(ptyPath, QString(), &problem), qPrintable(problem));
    QCOMPARE(openrecorder::opened(), QStringList{ptyPath});
    session->chooseTcp();
    QVERIFY(!session->serialPort().isOpen());
    session->chooseSerial();
    QVERIFY(session->prepareConnect(ptyPath, QString(), &problem));
    session->confirmConnect(QString());
    QVERIFY(session->engine().serialInUse());
    QCOMPARE(openrecorder::opened(), (QStringList{ptyPath, ptyPath}));
    session->closing();
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
    QVERIFY(!session->engine().pollingRunning());
    QVERIFY(!session->tcpClient().isOpen());
    QCOMPARE(dataLog.size(), 1);
    session->closing();
    QVERIFY(!session->serialPort().isOpen());
}

QTEST_GUILESS_MAIN(TestConsoleSession)
#include "tst_consolesession.moc"
