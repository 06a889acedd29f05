// One suite, run against every Transport: the in-memory fake, TCP on loopback and a
// pseudo-terminal. Each row of a test names the kind of link.

#include "link/faketransport.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace qeln;

namespace {

constexpr int Wait = 5000;

// A link under test and the far end it talks to.
class Harness {
public:
    virtual ~Harness() = default;
    virtual Transport *transport() = 0;
    // False while the far end is not attached yet (TCP: not accepted).
    virtual bool peerReady() const { return true; }
    virtual QByteArray peerReceived() const = 0;
    virtual void peerSend(const QByteArray &bytes) = 0;
    virtual void peerHangUp() = 0;
};

class FakeHarness : public Harness {
public:
    Transport *transport() override { return &fake; }
    QByteArray peerReceived() const override { return fake.writtenBytes(); }
    void peerSend(const QByteArray &bytes) override { fake.inject(bytes); }
    void peerHangUp() override { fake.simulateDisconnect(); }

    FakeTransport fake;
};

class TcpHarness : public Harness {
public:
    TcpHarness()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            peer = server.nextPendingConnection();
            received.clear();
            QObject::connect(peer, &QTcpSocket::readyRead, peer,
                             [this, socket = peer] { received += socket->readAll(); });
        });
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(server.serverPort());
    }
    Transport *transport() override { return &tcp; }
    bool peerReady() const override { return peer && peer->state() == QAbstractSocket::ConnectedState; }
    QByteArray peerReceived() const override { return received; }
    void peerSend(const QByteArray &bytes) override { peer->write(bytes); }
    void peerHangUp() override { peer->disconnectFromHost(); }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QByteArray received;
    TcpTransport tcp;
};

class PtyHarness : public Harness {
public:
    PtyHarness()
    {
        char name[256] = {};
        QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
        // Raw from the start, so nothing the master writes is echoed or held for a line.
        termios mode{};
        ::tcgetattr(slave, &mode);
        ::cfmakeraw(&mode);
        ::tcsetattr(slave, TCSANOW, &mode);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
            char buffer[1024];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, n);
        });
        path = QString::fromLocal8Bit(name);
        serial.setDevice(path);
    }
    ~PtyHarness() override
    {
        serial.close();
        notifier.reset();
        if (master >= 0)
            ::close(master);
        ::close(slave);
    }
    Transport *transport() override { return &serial; }
    QByteArray peerReceived() const override { return received; }
    void peerSend(const QByteArray &bytes) override
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    void peerHangUp() override
    {
        notifier.reset();
        ::close(master);
        master = -1;
    }

    int master = -1;
    // Held open so the master sees no hang-up while the transport is closed between tests.
    int slave = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray received;
    QString path;
    SerialTransport serial;
};

std::unique_ptr<Harness> makeHarness(const QString &kind)
{
    if (kind == QLatin1String("tcp"))
        return std::make_unique<TcpHarness>();
    if (kind == QLatin1String("serial"))
        return std::make_unique<PtyHarness>();
    return std::make_unique<FakeHarness>();
}

// Opens the link and waits until both ends are attached.
bool openLink(Harness &h)
{
    QSignalSpy opened(h.transport(), &Transport::opened);
    h.transport()->open();
    return QTest::qWaitFor([&] { return opened.count() == 1 && h.peerReady(); }, Wait)
        && h.transport()->isOpen();
}

QByteArray joined(const QSignalSpy &spy)
{
    QByteArray all;
    for (const QList<QVariant> &args : spy)
        all += args.at(0).toByteArray();
    return all;
}

} // namespace

class TestTransports : public QObject {
    Q_OBJECT

    static void addKinds(const QStringList &kinds = {QStringLiteral("fake"), QStringLiteral("tcp"),
                                                     QStringLiteral("serial")})
    {
        QTest::addColumn<QString>("kind");
        for (const QString &kind : kinds)
            QTest::newRow(kind.toLatin1().constData()) << kind;
    }

private Q_SLOTS:
    void openCloseReopen_data() { addKinds(); }
    void openCloseReopen()
    {
        QFETCH(QString, kind);
        auto h = makeHarness(kind);
        Transport *t = h->transport();
        QSignalSpy down(t, &Transport::disconnected);
        QSignalSpy errors(t, &Transport::errorOccurred);
        QVERIFY(!t->isOpen());
        QVERIFY(!t->write("x"));

        QVERIFY(openLink(*h));
        t->close();
        QVERIFY(!t->isOpen());
        t->close();
        QVERIFY(!t->isOpen());
        QVERIFY(!t->write("x"));

        QVERIFY(openLink(*h));
        QVERIFY(t->write("again"));
        QTRY_COMPARE_WITH_TIMEOUT(h->peerReceived(), QByteArray("again"), Wait);
        t->close();
        QTest::qWait(50);
        QCOMPARE(down.count(), 0);
        QCOMPARE(errors.count(), 0);
    }

    void writesArriveWholeAndInOrder_data() { addKinds(); }
    void writesArriveWholeAndInOrder()
    {
        QFETCH(QString, kind);
        auto h = makeHarness(kind);
        Transport *t = h->transport();
        QVERIFY(openLink(*h));
        QSignalSpy started(t, &Transport::writeStarted);
        QSignalSpy finished(t, &Transport::writeFinished);

        QByteArray big(600, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char('0' + i % 43);
        const QList<QByteArray> writes = {":0104000100837", big, "7\r\n", QByteArray(1, '\0')};
        QByteArray all;
        for (const QByteArray &w : writes) {
            QVERIFY(t->write(w));
            all += w;
        }
        QCOMPARE(started.count(), writes.size());
        QTRY_COMPARE_WITH_TIMEOUT(h->peerReceived(), all, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 1, Wait);
    }

    void peerBytesArriveInOrder_data() { addKinds(); }
    void peerBytesArriveInOrder()
    {
        QFETCH(QString, kind);
        auto h = makeHarness(kind);
        QVERIFY(openLink(*h));
        QSignalSpy received(h->transport(), &Transport::bytesReceived);
        QByteArray all;
        for (const QByteArray &piece : {QByteArray(":0104"), QByteArray(300, 'A'), QByteArray("\r\n")}) {
            h->peerSend(piece);
            all += piece;
        }
        QTRY_COMPARE_WITH_TIMEOUT(joined(received), all, Wait);
    }

    void peerHangUpIsReported_data() { addKinds(); }
    void peerHangUpIsReported()
    {
        QFETCH(QString, kind);
        auto h = makeHarness(kind);
        QVERIFY(openLink(*h));
        QSignalSpy down(h->transport(), &Transport::disconnected);
        h->peerHangUp();
        QTRY_COMPARE_WITH_TIMEOUT(down.count(), 1, Wait);
        QVERIFY(!h->transport()->isOpen());
        QVERIFY(!h->transport()->write("x"));
    }

    void tcpOpenToClosedPortFails()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 freePort = probe.serverPort();
        probe.close();

        TcpTransport tcp;
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(freePort);
        QSignalSpy failed(&tcp, &Transport::openFailed);
        QSignalSpy opened(&tcp, &Transport::opened);
        tcp.open();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, Wait);
        QCOMPARE(opened.count(), 0);
        QVERIFY(!tcp.isOpen());
    }

    void tcpConnectTimesOut()
    {
        // A listener with a backlog of 0 that never accepts: its queue holds one connection and
        // the kernel drops later handshakes, so a second connect hangs until our time-out.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
        const auto cleanup = qScopeGuard([&] {
            ::close(filler);
            ::close(listener);
        });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), length) == 0);
        QVERIFY(::listen(listener, 0) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        QVERIFY(::connect(filler, reinterpret_cast<sockaddr *>(&address), length) == 0);

        TcpTransport tcp;
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(ntohs(address.sin_port));
        tcp.setConnectTimeout(300);
        QSignalSpy failed(&tcp, &Transport::openFailed);
        QSignalSpy opened(&tcp, &Transport::opened);
        tcp.open();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count() + opened.count(), 1, Wait);
        if (opened.count() == 1)
            QSKIP("this kernel completed a handshake beyond the listen backlog");
        QVERIFY(failed.at(0).at(0).toString().contains(QLatin1String("timed out")));
        QVERIFY(!tcp.isOpen());
        QTest::qWait(100);
        QCOMPARE(opened.count(), 0);
    }

    void serialOpenIsExclusive()
    {
        PtyHarness h;
        QVERIFY(openLink(h));
        SerialTransport second;
        second.setDevice(h.path);
        QSignalSpy failed(&second, &Transport::openFailed);
        QSignalSpy opened(&second, &Transport::opened);
        second.open();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(opened.count(), 0);
        QVERIFY(!second.isOpen());
        QVERIFY(!h.serial.setDevice(QStringLiteral("/dev/null")));
        QCOMPARE(h.serial.device(), h.path);
    }

    void serialOpenPurgesStaleInput()
    {
        PtyHarness h;
        h.peerSend("stale");
        QVERIFY(openLink(h));
        QSignalSpy received(&h.serial, &Transport::bytesReceived);
        h.peerSend("fresh");
        QTRY_COMPARE_WITH_TIMEOUT(joined(received), QByteArray("fresh"), Wait);
    }

    void fakeScriptedBehaviour()
    {
        FakeTransport fake;
        QSignalSpy failed(&fake, &Transport::openFailed);
        fake.setOpenFails(QStringLiteral("busy"));
        fake.open();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("busy"));
        QVERIFY(!fake.isOpen());
        fake.setOpenFails(QString());
        fake.open();
        QVERIFY(fake.isOpen());

        // Undelivered bytes go with discardInput(); the responder's answer follows the write.
        QSignalSpy received(&fake, &Transport::bytesReceived);
        QStringList order;
        connect(&fake, &Transport::writeFinished, this, [&] { order << QStringLiteral("finished"); });
        connect(&fake, &Transport::bytesReceived, this, [&] { order << QStringLiteral("answer"); });
        fake.inject("stale");
        fake.discardInput();
        fake.setResponder([](const QByteArray &request) { return request == "ping" ? QByteArray("pong") : QByteArray(); });
        QVERIFY(fake.write("ping"));
        QVERIFY(fake.write("other"));
        QCOMPARE(fake.written(), QList<QByteArray>({"ping", "other"}));
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, Wait);
        QCOMPARE(joined(received), QByteArray("pong"));
        QCOMPARE(order, QStringList({QStringLiteral("finished"), QStringLiteral("answer"), QStringLiteral("finished")}));
    }
};

QTEST_GUILESS_MAIN(TestTransports)
#include "tst_transports.moc"
