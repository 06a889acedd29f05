// The request/response discipline of the TCP link, over the in-memory fake and over a real
// loopback connection. Each row names the kind of link.

#include "link/faketransport.h"
#include "link/tcpexchange.h"
#include "link/tcptransport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>
#include <memory>

using namespace qeln;

namespace {

constexpr int Wait = 5000;
using Responder = std::function<QByteArray(const QByteArray &)>;

// The exchange's transport and the controller at its far end.
class Peer {
public:
    virtual ~Peer() = default;
    virtual Transport *transport() = 0;
    virtual QByteArray received() const = 0;
    virtual void send(const QByteArray &bytes) = 0;
    // Answers each request it receives; an empty answer sends nothing.
    virtual void setResponder(Responder responder) = 0;
    virtual void hangUp() = 0;
    // Refuses the connections that follow.
    virtual void refuse() = 0;
};

class FakePeer : public Peer {
public:
    Transport *transport() override { return &fake; }
    QByteArray received() const override { return fake.writtenBytes(); }
    void send(const QByteArray &bytes) override { fake.inject(bytes); }
    void setResponder(Responder responder) override { fake.setResponder(std::move(responder)); }
    void hangUp() override { fake.simulateDisconnect(); }
    void refuse() override { fake.setOpenFails(QStringLiteral("refused")); }

    FakeTransport fake;
};

class TcpPeer : public Peer {
public:
    TcpPeer()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, s = socket] {
                const QByteArray request = s->readAll();
                bytes += request;
                if (responder)
                    s->write(responder(request));
            });
        });
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(server.serverPort());
    }
    Transport *transport() override { return &tcp; }
    QByteArray received() const override { return bytes; }
    void send(const QByteArray &b) override { socket->write(b); }
    void setResponder(Responder r) override { responder = std::move(r); }
    void hangUp() override { socket->disconnectFromHost(); }
    void refuse() override { server.close(); }

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QByteArray bytes;
    Responder responder;
    TcpTransport tcp;
};

std::unique_ptr<Peer> openPeer(const QString &kind)
{
    std::unique_ptr<Peer> peer;
    if (kind == QLatin1String("tcp"))
        peer = std::make_unique<TcpPeer>();
    else
        peer = std::make_unique<FakePeer>();
    peer->transport()->open();
    if (!QTest::qWaitFor([&] { return peer->transport()->isOpen(); }, Wait))
        return nullptr;
    return peer;
}

const QStringList Kinds = {QStringLiteral("fake"), QStringLiteral("tcp")};

void addKindColumn()
{
    QTest::addColumn<QString>("kind");
}

void addKindRows()
{
    addKindColumn();
    for (const QString &kind : Kinds)
        QTest::newRow(qPrintable(kind)) << kind;
}

} // namespace

class TestTcpExchange : public QObject {
    Q_OBJECT

    // Sends the pieces one delivery at a time, as a slow controller would.
    static bool sendPieces(Peer &peer, const QList<QByteArray> &pieces)
    {
        QSignalSpy delivered(peer.transport(), &Transport::bytesReceived);
        for (const QByteArray &piece : pieces) {
            const qsizetype before = delivered.count();
            peer.send(piece);
            if (!QTest::qWaitFor([&] { return delivered.count() > before; }, Wait))
                return false;
        }
        return true;
    }

private Q_SLOTS:
    void collectsExactlyExpected_data()
    {
        addKindColumn();
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QByteArray>("response");
        const QByteArray answer("\x01\x04\x02\x01\x2A");
        for (const QString &kind : Kinds) {
            const QByteArray name = kind.toLatin1();
            const char *k = name.constData();
            QTest::addRow("%s whole", k) << kind << QList<QByteArray>{answer} << 5 << answer;
            QTest::addRow("%s three pieces", k)
                << kind << QList<QByteArray>{"\x01", "\x04\x02", "\x01\x2A"} << 5 << answer;
            QTest::addRow("%s surplus in last piece", k)
                << kind << QList<QByteArray>{"AB", "CDEFG"} << 4 << QByteArray("ABCD");
            QTest::addRow("%s surplus piece after", k)
                << kind << QList<QByteArray>{"ABC", "XYZ"} << 3 << QByteArray("ABC");
        }
    }
    void collectsExactlyExpected()
    {
        QFETCH(QString, kind);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, expected);
        QFETCH(QByteArray, response);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        QSignalSpy completed(&exchange, &TcpExchange::completed);
        QSignalSpy failed(&exchange, &TcpExchange::failed);
        QSignalSpy up(&exchange, &TcpExchange::linkUp);

        QVERIFY(exchange.start("REQ", expected));
        QVERIFY(exchange.busy());
        QCOMPARE(up.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(peer->received(), QByteArray("REQ"), Wait);
        QVERIFY(sendPieces(*peer, pieces));
        QCOMPARE(completed.count(), 1);
        QCOMPARE(completed.at(0).at(0).toByteArray(), response);
        QCOMPARE(failed.count(), 0);
        QVERIFY(!exchange.busy());
    }

    void staleInputIsDiscarded_data() { addKindRows(); }
    void staleInputIsDiscarded()
    {
        QFETCH(QString, kind);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        QSignalSpy completed(&exchange, &TcpExchange::completed);

        QVERIFY(sendPieces(*peer, {"OLD"}));
        // Bytes that have arrived but not been delivered yet go too (only the fake can hold them).
        if (kind == QLatin1String("fake"))
            peer->send("OLDER");
        QVERIFY(exchange.start("REQ", 3));
        QVERIFY(sendPieces(*peer, {"NEW"}));
        QCOMPARE(completed.count(), 1);
        QCOMPARE(completed.at(0).at(0).toByteArray(), QByteArray("NEW"));
    }

    void failures_data()
    {
        addKindColumn();
        QTest::addColumn<QByteArray>("partial");
        QTest::addColumn<bool>("hangUp");
        for (const QString &kind : Kinds) {
            QTest::addRow("%s silent", qPrintable(kind)) << kind << QByteArray() << false;
            QTest::addRow("%s partial", qPrintable(kind)) << kind << QByteArray("ABCD") << false;
            QTest::addRow("%s hang-up", qPrintable(kind)) << kind << QByteArray("AB") << true;
        }
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, partial);
        QFETCH(bool, hangUp);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        const int timeout = 200;
        exchange.setReadTimeout(hangUp ? 60000 : timeout);
        QSignalSpy completed(&exchange, &TcpExchange::completed);
        QSignalSpy failed(&exchange, &TcpExchange::failed);

        QElapsedTimer clock;
        clock.start();
        QVERIFY(exchange.start("REQ", 5));
        if (!partial.isEmpty())
            QVERIFY(sendPieces(*peer, {partial}));
        if (hangUp)
            peer->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, Wait);
        if (!hangUp)
            QVERIFY2(clock.elapsed() >= timeout * 9 / 10, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!exchange.busy());
        if (!hangUp) {
            // The rest of a late answer belongs to nobody.
            QVERIFY(sendPieces(*peer, {"EFGHI"}));
        }
        QCOMPARE(completed.count(), 0);
    }

    // A peer that hangs up before any of the answer arrived gets a read once more on a
    // fresh connection, in the frame the resend hook gives; hanging up again fails it. A
    // request that must not run twice fails at the first hang-up.
    void resendsOnceWhenHungUpBeforeTheAnswer_data()
    {
        addKindColumn();
        QTest::addColumn<int>("hangUps");
        QTest::addColumn<bool>("read");
        for (const QString &kind : Kinds) {
            QTest::addRow("%s once", qPrintable(kind)) << kind << 1 << true;
            QTest::addRow("%s twice", qPrintable(kind)) << kind << 2 << true;
            QTest::addRow("%s once, not a read", qPrintable(kind)) << kind << 1 << false;
        }
    }
    void resendsOnceWhenHungUpBeforeTheAnswer()
    {
        QFETCH(QString, kind);
        QFETCH(int, hangUps);
        QFETCH(bool, read);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        int requests = 0;
        peer->setResponder([&requests](const QByteArray &) {
            ++requests;
            return QByteArray();
        });
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        exchange.setReadTimeout(60000);
        exchange.setResendHook([](const QByteArray &frame) { return frame + "2"; });
        QSignalSpy completed(&exchange, &TcpExchange::completed);
        QSignalSpy failed(&exchange, &TcpExchange::failed);
        QVERIFY(exchange.start("REQ", 3, read ? TcpExchange::Resend::OnceAfterHangUp : TcpExchange::Resend::Never));
        for (int i = 1; i <= hangUps; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(requests, i, Wait);
            peer->hangUp();
        }
        if (!read) {
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, Wait);
            QTest::qWait(100);
            QCOMPARE(requests, 1);
            QCOMPARE(peer->received(), QByteArray("REQ"));
        } else if (hangUps == 1) {
            QTRY_COMPARE_WITH_TIMEOUT(requests, 2, Wait);
            QVERIFY(sendPieces(*peer, {"ANS"}));
            QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, Wait);
            QCOMPARE(peer->received(), QByteArray("REQREQ2"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, Wait);
            QCOMPARE(requests, 2);
            QCOMPARE(completed.count(), 0);
        }
        QVERIFY(!exchange.busy());
    }

    // A request made while the link's own connect is under way waits for that connect
    // instead of cutting it short with a second one.
    void requestDuringConnectUsesThatConnect()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        int connections = 0;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                ++connections;
                QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
                    if (s->readAll() == "REQ")
                        s->write("ANS");
                });
            }
        });
        TcpTransport tcp;
        tcp.setHost(QStringLiteral("127.0.0.1"));
        tcp.setPort(server.serverPort());
        TcpExchange exchange;
        exchange.setTransport(&tcp);
        QSignalSpy completed(&exchange, &TcpExchange::completed);
        tcp.open();
        QVERIFY(!tcp.isOpen());
        QVERIFY(exchange.start("REQ", 3));
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, Wait);
        QCOMPARE(completed.at(0).at(0).toByteArray(), QByteArray("ANS"));
        QTest::qWait(100);
        QCOMPARE(connections, 1);
    }

    void refusesWhatItCannotStart()
    {
        auto peer = openPeer(QStringLiteral("fake"));
        QVERIFY(peer);
        TcpExchange exchange;
        QVERIFY(!exchange.start("REQ", 3));
        exchange.setTransport(peer->transport());
        QVERIFY(!exchange.start("REQ", 0));
        QCOMPARE(peer->received(), QByteArray());

        QSignalSpy completed(&exchange, &TcpExchange::completed);
        QSignalSpy failed(&exchange, &TcpExchange::failed);
        QVERIFY(exchange.start("REQ", 3));
        QVERIFY(!exchange.start("SECOND", 3));
        QCOMPARE(peer->received(), QByteArray("REQ"));

        exchange.cancel();
        QVERIFY(!exchange.busy());
        QVERIFY(sendPieces(*peer, {"ANS"}));
        QCOMPARE(completed.count(), 0);
        QCOMPARE(failed.count(), 0);
    }

    void reconnects_data()
    {
        addKindColumn();
        QTest::addColumn<bool>("refused");
        for (const QString &kind : Kinds) {
            QTest::addRow("%s reopens", qPrintable(kind)) << kind << false;
            QTest::addRow("%s refused", qPrintable(kind)) << kind << true;
        }
    }
    void reconnects()
    {
        QFETCH(QString, kind);
        QFETCH(bool, refused);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        peer->setResponder([](const QByteArray &request) { return request == "REQ" ? QByteArray("ANS") : QByteArray(); });
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        QSignalSpy completed(&exchange, &TcpExchange::completed);
        QSignalSpy failed(&exchange, &TcpExchange::failed);
        QSignalSpy up(&exchange, &TcpExchange::linkUp);
        QSignalSpy down(&exchange, &TcpExchange::linkDown);

        peer->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!peer->transport()->isOpen(), Wait);
        if (refused)
            peer->refuse();
        QVERIFY(exchange.start("REQ", 3));
        QCOMPARE(down.count(), 1);
        QCOMPARE(up.count(), 0);
        if (refused) {
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, Wait);
            QVERIFY(!exchange.busy());
            QCOMPARE(completed.count(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, Wait);
            QCOMPARE(completed.at(0).at(0).toByteArray(), QByteArray("ANS"));
            QCOMPARE(peer->received(), QByteArray("REQ"));
            QCOMPARE(failed.count(), 0);
        }
    }

    void nextRequestFromCompletedSlot_data() { addKindRows(); }
    void nextRequestFromCompletedSlot()
    {
        QFETCH(QString, kind);
        auto peer = openPeer(kind);
        QVERIFY(peer);
        peer->setResponder([](const QByteArray &request) { return "A" + request.mid(1); });
        TcpExchange exchange;
        exchange.setTransport(peer->transport());
        QList<QByteArray> answers;
        QList<bool> accepted;
        connect(&exchange, &TcpExchange::completed, this, [&](const QByteArray &answer) {
            answers.append(answer);
            if (answers.size() < 3)
                accepted.append(exchange.start("Q" + QByteArray::number(answers.size() + 1), 2));
        });
        QVERIFY(exchange.start("Q1", 2));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 3, Wait);
        QCOMPARE(answers, QList<QByteArray>({"A1", "A2", "A3"}));
        QCOMPARE(accepted, QList<bool>({true, true}));
        QCOMPARE(peer->received(), QByteArray("Q1Q2Q3"));
        QVERIFY(!exchange.busy());
    }
};

QTEST_GUILESS_MAIN(TestTcpExchange)
#include "tst_tcpexchange.moc"
