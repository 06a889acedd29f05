#include "fleet.h"
#include "plant.h"
#include "requestlog.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using qeln::sim::Fleet;
using qeln::sim::FleetRole;
using qeln::sim::RequestLog;
using qeln::sim::SimOptions;

namespace {

constexpr int SettableRegister = 86;

QByteArray word(int value)
{
    QByteArray bytes;
    bytes.append(char(value >> 8 & 0xFF)).append(char(value & 0xFF));
    return bytes;
}

// An MBAP request for unit 1.
QByteArray tcpFrame(int transaction, std::uint8_t function, const QByteArray &data)
{
    return word(transaction) + word(0) + word(int(data.size()) + 2) + char(1) + char(function) + data;
}

// Whatever arrives until a whole MBAP answer is in, or nothing when the wait runs out.
QByteArray answer(QTcpSocket &socket, int waitMs)
{
    QByteArray in = socket.readAll();
    QSignalSpy ready(&socket, &QTcpSocket::readyRead);
    while (in.size() < 6 || in.size() < 6 + (quint8(in[4]) << 8 | quint8(in[5]))) {
        if (!ready.wait(waitMs))
            return in;
        in += socket.readAll();
    }
    return in;
}

QString roles(const QList<FleetRole> &list)
{
    QString text;
    for (FleetRole r : list)
        text += r == FleetRole::Live ? QLatin1Char('L') : r == FleetRole::Slow ? QLatin1Char('S') : QLatin1Char('D');
    return text;
}

} // namespace

class TestSimFleet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roles_data();
    void roles();
    void controllersAreTheirOwn();
    void plantsRunOnOneTimer();
    void requestLogNeverOverwrites();
};

void TestSimFleet::roles_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("dead");
    QTest::addColumn<int>("slow");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all live") << 4 << 0 << 0 << QStringLiteral("LLLL");
    QTest::newRow("last dead, one before slow") << 6 << 1 << 1 << QStringLiteral("LLLLSD");
    QTest::newRow("slow only") << 3 << 0 << 2 << QStringLiteral("LSS");
    QTest::newRow("dead only") << 3 << 2 << 0 << QStringLiteral("LDD");
    QTest::newRow("none live") << 3 << 1 << 2 << QStringLiteral("SSD");
    QTest::newRow("all dead") << 2 << 2 << 0 << QStringLiteral("DD");
    QTest::newRow("one, slow") << 1 << 0 << 1 << QStringLiteral("S");
}

void TestSimFleet::roles()
{
    QFETCH(int, size);
    QFETCH(int, dead);
    QFETCH(int, slow);
    QFETCH(QString, expected);
    QList<FleetRole> list;
    for (int i = 0; i < size; ++i)
        list << qeln::sim::fleetRole(i, size, dead, slow);
    QCOMPARE(::roles(list), expected);
}

// Six controllers, the fifth slow and the sixth dead: each port reaches a plant of its own, a
// write through one changes no other, the slow one answers late, the dead one never, and the
// request log names the controller of every request.
void TestSimFleet::controllersAreTheirOwn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimOptions options;
    options.tcpPort = 0;
    options.fleet = 6;
    options.fleetDead = 1;
    options.fleetSlow = 1;
    options.fleetSlowMs = 300;
    options.faults.seed = 40;
    Fleet fleet(options);
    QString error;
    QVERIFY2(fleet.setUp(&error), qPrintable(error));
    auto log = std::make_unique<RequestLog>();
    const QString logPath = dir.filePath(QStringLiteral("requests.log"));
    QVERIFY2(log->open(logPath, &error), qPrintable(error));
    QVERIFY2(fleet.listen(&error, log.get()), qPrintable(error));
    fleet.start();

    const QStringList lines = fleet.lines();
    QCOMPARE(lines.size(), 6);
    QSet<quint16> ports;
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(lines[i], QStringLiteral("tcp 127.0.0.1:%1").arg(fleet.port(i)));
        ports.insert(fleet.port(i));
    }
    QCOMPARE(ports.size(), 6);
    const int before = fleet.plant(0).inputRegister(SettableRegister);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(int(fleet.plant(i).inputRegister(SettableRegister)), before);

    QStringList expectedLog;
    for (int i = 0; i < 6; ++i) {
        const FleetRole role = fleet.role(i);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, fleet.port(i));
        QVERIFY2(socket.waitForConnected(5000), qPrintable(socket.errorString()));
        const QByteArray write = tcpFrame(i + 1, 0x06, word(SettableRegister) + word(200 + i));
        QElapsedTimer took;
        took.start();
        socket.write(write);
        if (role == FleetRole::Dead) {
            // It hangs: nothing within twice what the slow one takes, and its plant is as it was.
            QCOMPARE(answer(socket, 2 * options.fleetSlowMs), QByteArray());
            QCOMPARE(int(fleet.plant(i).inputRegister(SettableRegister)), before);
            expectedLog << QStringLiteral("%1 6").arg(i);
            continue;
        }
        QCOMPARE(answer(socket, 5000), write);
        if (role == FleetRole::Slow)
            QVERIFY2(took.elapsed() >= options.fleetSlowMs, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(int(fleet.plant(i).inputRegister(SettableRegister)), 200 + i);
        // The status read through the same port shows that plant's value.
        socket.write(tcpFrame(50 + i, 0x04, word(1) + word(131)));
        const QByteArray status = answer(socket, 5000);
        QCOMPARE(status.size(), 9 + 2 * 131);
        const int at = 9 + 2 * (SettableRegister - 1);
        QCOMPARE(quint8(status[at]) << 8 | quint8(status[at + 1]), 200 + i);
        expectedLog << QStringLiteral("%1 6").arg(i) << QStringLiteral("%1 4").arg(i);
    }
    // Each write reached its own plant only.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(int(fleet.plant(i).inputRegister(SettableRegister)), 200 + i);

    QCOMPARE(log->count(), qint64(expectedLog.size()));
    log.reset();
    QFile file(logPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> logLines = file.readAll().split('\n');
    QVERIFY(logLines.first().startsWith("# qeln-sim request log; start "));
    QStringList seen;
    double previous = -1;
    for (const QByteArray &line : logLines.mid(1)) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        QCOMPARE(fields.size(), 3);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3}$")).match(QString::fromLatin1(fields[0])).hasMatch(),
                 line.constData());
        const double ms = fields[0].toDouble();
        QVERIFY(ms >= previous);
        previous = ms;
        seen << QString::fromLatin1(fields[1] + ' ' + fields[2]);
    }
    QCOMPARE(seen, expectedLog);
}

void TestSimFleet::plantsRunOnOneTimer()
{
    SimOptions options;
    options.tcpPort = 0;
    options.fleet = 3;
    options.speed = 50;
    Fleet fleet(options);
    QString error;
    QVERIFY2(fleet.setUp(&error), qPrintable(error));
    QList<QDateTime> started;
    for (int i = 0; i < 3; ++i)
        started << fleet.plant(i).clock();
    fleet.start();
    // Every plant's clock moves on, without a timer of its own.
    for (int i = 0; i < 3; ++i)
        QTRY_VERIFY(fleet.plant(i).clock() > started[i].addSecs(2));
    fleet.stop();
}

void TestSimFleet::requestLogNeverOverwrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kept.log"));
    {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep me\n");
    }
    RequestLog log;
    QString error;
    QVERIFY(!log.open(path, &error));
    QVERIFY2(error.contains(QLatin1String("never overwritten")), qPrintable(error));
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me\n"));
}

QTEST_GUILESS_MAIN(TestSimFleet)
#include "tst_simfleet.moc"
