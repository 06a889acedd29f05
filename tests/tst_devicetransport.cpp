// What a link over a device does alike on a pseudo-terminal and on a loopback socket: the write
// signals stay paired across a close with bytes still queued and the reopen after it; the
// peer's last bytes arrive whole before its hang-up, which is reported once.

#include "link/serialtransport.h"
#include "link/tcptransport.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace qeln;

namespace {

constexpr int Wait = 5000;

// The link under test and its far end: a pseudo-terminal's master or an accepted socket.
struct FarEnd {
    virtual ~FarEnd() = default;
    virtual Transport &link() = 0;
    virtual bool attached() const = 0;
    virtual void send(const QByteArray &bytes) = 0;
    virtual void hangUp() = 0;
    QByteArray received;
};

struct PtyEnd : FarEnd {
    PtyEnd()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios mode{};
        ::tcgetattr(slave, &mode);
        ::cfmakeraw(&mode);
        ::tcsetattr(slave, TCSANOW, &mode);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        reader = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
        QObject::connect(reader.get(), &QSocketNotifier::activated, reader.get(), [this] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                received.append(buffer, n);
        });
        serial.setDevice(QString::fromLocal8Bit(name));
    }
    ~PtyEnd() override
    {
        serial.close();
        hangUp();
        if (slave >= 0)
            ::close(slave);
    }
    Transport &link() override { return serial; }
    bool attached() const override { return master >= 0; }
    void send(const QByteArray &bytes) override
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    void hangUp() override
    {
        reader.reset();
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    int master = -1;
    int slave = -1;
    std::unique_ptr<QSocketNotifier> reader;
    SerialTransport serial;
};

struct SocketEnd : FarEnd {
    SocketEnd()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            peer = server.nextPendingConnection();
            received.clear();
            // What an earlier connection still drains is not counted.
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, s = peer] {
                const QByteArray bytes = s->readAll();
                if (s == peer)
                    received += bytes;
            });
        });
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(server.serverPort());
    }
    Transport &link() override { return tcp; }
    bool attached() const override { return peer && peer->state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes) override { peer->write(bytes); }
    void hangUp() override { peer->disconnectFromHost(); }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
    TcpTransport tcp;
};

std::unique_ptr<FarEnd> makeEnd(const QString &kind)
{
    if (kind == QLatin1String("tcp"))
        return std::make_unique<SocketEnd>();
    return std::make_unique<PtyEnd>();
}

bool openLink(FarEnd &end)
{
    QSignalSpy opened(&end.link(), &Transport::opened);
    end.link().open();
    return QTest::qWaitFor([&] { return opened.count() == 1 && end.attached(); }, Wait) && end.link().isOpen();
}

// The link's signals in the order they came: 'S' started, 'F' finished, 'R' received, 'D' down.
void record(Transport &link, QByteArray &events)
{
    QObject::connect(&link, &Transport::writeStarted, &link, [&events] { events += 'S'; });
    QObject::connect(&link, &Transport::writeFinished, &link, [&events] { events += 'F'; });
    QObject::connect(&link, &Transport::bytesReceived, &link, [&events] { events += 'R'; });
    QObject::connect(&link, &Transport::disconnected, &link, [&events] { events += 'D'; });
}

QByteArray joined(const QSignalSpy &spy)
{
    QByteArray all;
    for (const QList<QVariant> &args : spy)
        all += args.at(0).toByteArray();
    return all;
}

// At no point more writeFinished() than writeStarted() so far.
bool paired(const QByteArray &events)
{
    int open = 0;
    for (char e : events) {
        open += e == 'S' ? 1 : e == 'F' ? -1 : 0;
        if (open < 0)
            return false;
    }
    return true;
}

} // namespace

class TestDeviceTransport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesAfterReopen_data() { kinds(); }
    void writesAfterReopen()
    {
        // Bytes still queued when the link is closed are never handed over: the next session
        // must not wait for them before its own writes count as finished.
        QFETCH(QString, kind);
        auto end = makeEnd(kind);
        Transport &link = end->link();
        QVERIFY(openLink(*end));
        QVERIFY(link.write(QByteArray(8 << 20, 'x')));
        link.close();
        QVERIFY(!link.write("lost"));

        QByteArray events;
        record(link, events);
        QVERIFY(openLink(*end));
        for (const QByteArray &w : {QByteArray(":0104"), QByteArray("0001"), QByteArray("\r\n")})
            QVERIFY(link.write(w));
        QTRY_VERIFY_WITH_TIMEOUT(end->received.endsWith(":01040001\r\n") && events.endsWith('F'), Wait);
        QVERIFY2(paired(events), events.constData());
        QCOMPARE(events.count('S'), 3);
    }

    void lastBytesBeforeHangUp_data() { kinds(); }
    void lastBytesBeforeHangUp()
    {
        QFETCH(QString, kind);
        const bool serial = kind == QLatin1String("serial");
        auto end = makeEnd(kind);
        Transport &link = end->link();
        QVERIFY(openLink(*end));
        QByteArray events;
        record(link, events);
        QSignalSpy received(&link, &Transport::bytesReceived);
        QSignalSpy errors(&link, &Transport::errorOccurred);

        const QByteArray answer = ":0104" + QByteArray(500, 'A') + "\r\n";
        end->send(answer.left(7));
        end->send(answer.mid(7));
        // A pseudo-terminal drops what its reader has not taken yet when the other end closes.
        if (serial)
            QTRY_COMPARE_WITH_TIMEOUT(joined(received), answer, Wait);
        end->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(events.contains('D'), Wait);
        QCOMPARE(joined(received), answer);
        QVERIFY2(events.endsWith('D') && events.count('D') == 1, events.constData());
        QVERIFY(!link.isOpen());
        QVERIFY(!link.write("x"));
        // A serial port says it lost its device; a socket's hang-up is no error.
        QCOMPARE(errors.count(), serial ? 1 : 0);
        if (serial)
            QCOMPARE(errors.at(0).at(0).toString(),
                     QStringLiteral("Lost the connection to ") + static_cast<SerialTransport &>(link).device());

        // Closing what is already down reports nothing more; a socket opens again (the
        // pseudo-terminal has no master any more).
        link.close();
        if (!serial) {
            QVERIFY(openLink(*end));
            QVERIFY(link.write("again"));
            QTRY_COMPARE_WITH_TIMEOUT(end->received, QByteArray("again"), Wait);
            QTRY_VERIFY_WITH_TIMEOUT(events.endsWith("SF"), Wait);
        }
        QCOMPARE(events.count('D'), 1);
    }

private:
    static void kinds()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("serial") << QStringLiteral("serial");
        QTest::newRow("tcp") << QStringLiteral("tcp");
    }
};

QTEST_GUILESS_MAIN(TestDeviceTransport)
#include "tst_devicetransport.moc"
