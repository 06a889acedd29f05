#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/request.h"
#include "enginerig.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Every request the console sends, by what asks for it.
enum Kind { Status, IpRead, IpWrite, Write, AlarmCount, AlarmRecord, EventCount, EventRecord, AlarmInit, EventInit };

const QByteArray IpBlock = hex("123456780102");

// The request as its builder makes it; `arg` is the record (for a count, the last record
// asked for before it).
Request build(Kind kind, LinkKind link, int arg)
{
    switch (kind) {
    case Status: return requests::status(link, 131);
    case IpRead: return requests::ipBlockRead(link);
    case IpWrite: return requests::ipBlockWrite(link, IpBlock);
    case Write: return requests::registerWrite(0x30, 0x8005);
    case AlarmCount: return requests::historyCount(link, LogKind::Alarm, arg);
    case AlarmRecord: return requests::historyRecord(link, LogKind::Alarm, arg, 43);
    case EventCount: return requests::historyCount(link, LogKind::Event, arg);
    case EventRecord: return requests::historyRecord(link, LogKind::Event, arg, 43);
    case AlarmInit: return requests::historyInitialisation(link, LogKind::Alarm);
    case EventInit: return requests::historyInitialisation(link, LogKind::Event);
    }
    return {};
}

// Asks the engine for the same request through its API. A count is preceded by the record
// request it follows (on TCP it carries that record's low byte); only the count is kept.
void drive(LinkEngine &engine, FakeTransport &link, Kind kind, int arg)
{
    const LogKind log = kind == EventCount || kind == EventRecord || kind == EventInit ? LogKind::Event : LogKind::Alarm;
    switch (kind) {
    case Status: engine.pollNow(); break;
    case IpRead: engine.requestIpBlock(); engine.pollNow(); break;
    case IpWrite: QVERIFY(engine.writeIpBlock(IpBlock)); break;
    case Write: QVERIFY(engine.startWrites({{0x30, 0x8005}})); break;
    case AlarmCount:
    case EventCount:
        engine.requestHistoryRecord(log, arg);
        engine.abandonTcpRequests();
        link.clearWritten();
        engine.requestHistoryCount(log);
        break;
    case AlarmRecord:
    case EventRecord: engine.requestHistoryRecord(log, arg); break;
    case AlarmInit:
    case EventInit: engine.initialiseHistory(log); break;
    }
}

} // namespace

class TestRequestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The bytes of every request on both links. The expected frames are the ones the console
    // has always sent (transaction 1 on TCP): they must not change.
    void requestBytes_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("arg");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("answerBytes"); // TCP: the whole answer, header included
        auto serial = [](const char *name, Kind kind, int arg, const char *frame) {
            QTest::newRow((QByteArray("serial ") + name).constData()) << false << int(kind) << arg << QByteArray(frame) << 0;
        };
        serial("status poll", Status, 0, ":01040001008377\r\n");
        serial("ip settings read", IpRead, 0, ":0122DD\r\n");
        serial("ip settings write", IpWrite, 0, ":01230000123456780102C5\r\n");
        serial("register write", Write, 0, ":01060030800544\r\n");
        serial("alarm history count", AlarmCount, 7, ":0130CF\r\n");
        serial("alarm history record", AlarmRecord, 5, ":01310005C9\r\n");
        serial("event log count", EventCount, 7, ":0140BF\r\n");
        serial("event log record", EventRecord, 300, ":0141012C91\r\n");
        serial("alarm history init", AlarmInit, 0, ":0135CA\r\n");
        serial("event log init", EventInit, 0, ":0145BA\r\n");
        auto tcp = [](const char *name, Kind kind, int arg, const char *frame, int answer) {
            QTest::newRow((QByteArray("tcp ") + name).constData()) << true << int(kind) << arg << hex(frame) << answer;
        };
        tcp("status poll", Status, 0, "000100000006010400010083", 271);
        tcp("ip read", IpRead, 0, "0001000000020141", 158);
        tcp("ip write", IpWrite, 0, "000100000008014212345678" "0102", 6);
        tcp("write", Write, 0, "000100000006010600308005", 12);
        tcp("alarm count after record 300", AlarmCount, 0x12C, "0001000000040143012C", 12);
        tcp("alarm count after record 0", AlarmCount, 0, "00010000000401430100", 12);
        tcp("alarm record 300", AlarmRecord, 300, "0001000000050144" "01012C", 43);
        tcp("event count after record 5", EventCount, 5, "00010000000401460205", 12);
        tcp("event record", EventRecord, 5, "0001000000050147020005", 19);
        tcp("alarm init", AlarmInit, 0, "000100000003014501", 9);
        tcp("event init", EventInit, 0, "000100000003014802", 9);
    }
    void requestBytes()
    {
        QFETCH(bool, tcp);
        QFETCH(int, kind);
        QFETCH(int, arg);
        QFETCH(QByteArray, frame);
        QFETCH(int, answerBytes);
        const Request request = build(Kind(kind), tcp ? LinkKind::Tcp : LinkKind::Serial, arg);
        if (tcp) {
            QCOMPARE(mbapFrame(request, 1).toHex(), frame.toHex());
            QCOMPARE(request.answerBytes, answerBytes);
        } else {
            QCOMPARE(asciiFrame(request), frame);
        }
    }

    // The engine puts exactly those bytes on the wire when asked through its API, one frame
    // per request, and logs each serial frame as it went.
    void engineSendsTheSameBytes_data() { requestBytes_data(); }
    void engineSendsTheSameBytes()
    {
        QFETCH(bool, tcp);
        QFETCH(int, kind);
        QFETCH(int, arg);
        QFETCH(QByteArray, frame);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        QSignalSpy sent(&engine, &LinkEngine::requestSent);
        drive(engine, link, Kind(kind), arg);
        QCOMPARE(link.written().size(), 1);
        QByteArray wire = link.written().at(0);
        if (tcp && (kind == AlarmCount || kind == EventCount)) {
            // The record request before it took transaction 1.
            QCOMPARE(wire.left(2), hex("0002"));
            wire.replace(0, 2, hex("0001"));
        }
        QCOMPARE(wire.toHex(), frame.toHex());
        QCOMPARE(sent.last().at(0).toByteArray(), link.written().at(0));
        QCOMPARE(sent.last().at(1).toBool(), tcp);
        if (!tcp) {
            QCOMPARE(lines.last().at(0).toByteArray(),
                     "Send data >>[" + QByteArray::number(frame.size()) + "]" + frame);
        }
    }

    // The settings block fits the one-byte TCP length field (block + 2) or is not sent at all.
    void ipSettingsWriteLength_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("payload");
        QTest::addColumn<bool>("sent");
        for (bool tcp : {false, true}) {
            const QByteArray link = tcp ? "tcp " : "serial ";
            QTest::newRow((link + "empty").constData()) << tcp << 0 << false;
            QTest::newRow((link + "one byte").constData()) << tcp << 1 << true;
            QTest::newRow((link + "largest").constData()) << tcp << 253 << true;
            QTest::newRow((link + "one too many").constData()) << tcp << 254 << false;
        }
    }
    void ipSettingsWriteLength()
    {
        QFETCH(bool, tcp);
        QFETCH(int, payload);
        QFETCH(bool, sent);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        const QByteArray block(payload, '\x5A');
        QCOMPARE(engine.writeIpBlock(block), sent);
        QCOMPARE(link.written().size(), sent ? 1 : 0);
        if (!sent)
            return;
        const QByteArray wire = link.written().at(0);
        if (tcp) {
            QCOMPARE(wire.size(), 8 + payload);
            QCOMPARE(int(std::uint8_t(wire[5])), payload + 2);
            QCOMPARE(wire.mid(8), block);
        } else {
            QCOMPARE(wire.left(9), QByteArray(":01230000"));
            QCOMPARE(wire.mid(9, 2 * payload), QByteArray("5A").repeated(payload));
        }
    }

    void firstTcpPollCarriesTransactionOne()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        QCOMPARE(engine.pollTickMs(), 1000);
        engine.pollNow();
        QCOMPARE(tcp.written(), QList<QByteArray>{hex("000100000006010400010083")});
        QCOMPARE(engine.pollTickMs(), 300);
    }

    // One transaction counter for both links: every serial request advances it too, and it
    // wraps from FFFF to 0000.
    void transactionCounterIsSharedAndWraps()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        // A closed port takes nothing, but each request still counts.
        port.close();
        for (int i = 0; i < 0xFFFF; ++i)
            engine.pollNow();
        QVERIFY(port.written().isEmpty());

        engine.setLink(LinkKind::Tcp);
        FakeTransport tcp;
        tcp.open();
        engine.setTcpTransport(&tcp);
        engine.pollNow();
        QCOMPARE(tcp.written().value(0).left(2), hex("0000"));
        engine.abandonTcpRequests();
        engine.pollNow();
        QCOMPARE(tcp.written().value(1).left(2), hex("0001"));
    }

    // A count request carries the low byte of the last record number asked for, whichever
    // log that was.
    void tcpCountCarriesLeftoverIndex()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.requestHistoryCount(LogKind::Alarm);
        QCOMPARE(tcp.written().value(0).mid(7).toHex(), QByteArray("430100"));
        engine.abandonTcpRequests();
        engine.requestHistoryRecord(LogKind::Alarm, 300);
        QCOMPARE(tcp.written().value(1).mid(5).toHex(), QByteArray("05014401012c"));
        engine.abandonTcpRequests();
        engine.requestHistoryCount(LogKind::Alarm);
        QCOMPARE(tcp.written().value(2).mid(7).toHex(), QByteArray("43012c"));
        engine.abandonTcpRequests();
        engine.requestHistoryCount(LogKind::Event);
        QCOMPARE(tcp.written().value(3).mid(7).toHex(), QByteArray("46022c"));
    }

    // Only reads may be sent twice (after a hang-up); writes, the IP-settings write and the
    // initialisations never, on either link.
    void onlyReadsMayRunTwice_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("twice");
        for (bool tcp : {false, true}) {
            const char *link = tcp ? "tcp" : "serial";
            for (int k : {Status, IpRead, AlarmCount, AlarmRecord, EventCount, EventRecord})
                QTest::addRow("%s read %d", link, k) << k << tcp << true;
            for (int k : {Write, IpWrite, AlarmInit, EventInit})
                QTest::addRow("%s once %d", link, k) << k << tcp << false;
        }
    }
    void onlyReadsMayRunTwice()
    {
        QFETCH(int, kind);
        QFETCH(bool, tcp);
        QFETCH(bool, twice);
        QCOMPARE(requestMayRunTwice(build(Kind(kind), tcp ? LinkKind::Tcp : LinkKind::Serial, 3)), twice);
    }
};

QTEST_GUILESS_MAIN(TestRequestFrame)
#include "tst_requestframe.moc"
