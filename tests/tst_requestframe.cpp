#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/hextext.h"
#include "link/linkengine.h"
#include "link/requestframe.h"
#include "enginerig.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestRequestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every request kind on the serial link, as the engine sends it.
    void serialRequests_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("status poll") << 0 << QByteArray(":01040001008377\r\n");
        QTest::newRow("ip settings read") << 1 << QByteArray(":0122DD\r\n");
        QTest::newRow("register write") << 2 << QByteArray(":01060030800544\r\n");
        QTest::newRow("alarm history count") << 3 << QByteArray(":0130CF\r\n");
        QTest::newRow("alarm history record") << 4 << QByteArray(":01310005C9\r\n");
        QTest::newRow("event log count") << 5 << QByteArray(":0140BF\r\n");
        QTest::newRow("event log record") << 6 << QByteArray(":0141012C91\r\n");
        QTest::newRow("alarm history init") << 7 << QByteArray(":0135CA\r\n");
        QTest::newRow("event log init") << 8 << QByteArray(":0145BA\r\n");
    }
    void serialRequests()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, frame);
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        switch (kind) {
        case 0: engine.SendReadRequest("0001", state.StatusCountHex); break;
        case 1: engine.SendCommand("22"); break;
        case 2: engine.SendWriteRequest(0x30, 0x8005); break;
        case 3: engine.SendHistoryRequest("01", "30", 7); break;
        case 4: engine.SendHistoryRequest("01", "31", 5); break;
        case 5: engine.SendHistoryRequest("01", "40", 7); break;
        case 6: engine.SendHistoryRequest("01", "41", 300); break;
        case 7: engine.SendFrame("0135"); break;
        case 8: engine.SendFrame("0145"); break;
        }
        QCOMPARE(port.written(), QList<QByteArray>{frame});
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.at(0).at(0).toByteArray(),
                 "Send data >>[" + QByteArray::number(frame.size()) + "]" + frame);
        QCOMPARE(state.TransactionId, 1);
    }

    // Every TCP layout by RequestState, with the response length it reads back.
    void tcpLayouts_data()
    {
        QTest::addColumn<int>("requestState");
        QTest::addColumn<int>("historyMode");
        QTest::addColumn<int>("requestKind");
        QTest::addColumn<int>("recordIndex");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("responseLength");
        QTest::newRow("status poll") << 0 << 0 << 0 << 0 << hex("000100000006010400010083") << 271;
        QTest::newRow("ip read") << 2 << 0 << 0 << 0 << hex("0001000000020141") << 158;
        QTest::newRow("write") << 20 << 0 << 0 << 0 << hex("000100000006010600308005") << 12;
        QTest::newRow("alarm count") << 22 << 1 << 1 << 0x12C << hex("0001000000040143012C") << 12;
        QTest::newRow("alarm record 300") << 22 << 1 << 2 << 300 << hex("0001000000050144" "01012C") << 43;
        QTest::newRow("event count") << 22 << 2 << 1 << 5 << hex("00010000000401460205") << 12;
        QTest::newRow("event record") << 22 << 2 << 2 << 5 << hex("0001000000050147020005") << 19;
        QTest::newRow("alarm init") << 23 << 1 << 0 << 0 << hex("000100000003014501") << 9;
        QTest::newRow("event init") << 23 << 2 << 0 << 0 << hex("000100000003014802") << 9;
    }
    void tcpLayouts()
    {
        QFETCH(int, requestState);
        QFETCH(int, historyMode);
        QFETCH(int, requestKind);
        QFETCH(int, recordIndex);
        QFETCH(QByteArray, frame);
        QFETCH(int, responseLength);
        ConsoleState state;
        state.RequestState = std::uint8_t(requestState);
        state.HistoryMode = std::uint8_t(historyMode);
        state.HistoryRequestKind = requestKind;
        state.HistoryRecordIndex = recordIndex;
        state.PendingWriteAddr = 0x30;
        state.PendingWriteValue = 0x8005;
        const auto request = tcpRequestFor(state, 1);
        QVERIFY(request);
        QCOMPARE(request->frame.toHex(), frame.toHex());
        QCOMPARE(request->responseLength, responseLength);
        QCOMPARE(request->function, int(std::uint8_t(frame[7])));
    }

    void ipSettingsWriteLength_data()
    {
        QTest::addColumn<int>("payload");
        QTest::addColumn<bool>("laidOut");
        QTest::newRow("empty") << 0 << true;
        QTest::newRow("largest") << 253 << true;
        QTest::newRow("one too many") << 254 << false;
    }
    void ipSettingsWriteLength()
    {
        QFETCH(int, payload);
        QFETCH(bool, laidOut);
        ConsoleState state;
        state.RequestState = StateIpWrite;
        state.IpSettingsPayload = QByteArray(payload, '\x5A');
        const auto request = tcpRequestFor(state, 7);
        QCOMPARE(bool(request), laidOut);
        if (request) {
            QCOMPARE(request->frame.size(), 8 + payload);
            QCOMPARE(int(std::uint8_t(request->frame[5])), payload + 2);
            QCOMPARE(request->frame.mid(8), state.IpSettingsPayload);
            QCOMPARE(request->responseLength, 6);
        }
    }

    // States without a TCP layout are refused: nothing is sent, the counter does not move.
    void tcpRefusesUnlistedStates_data()
    {
        QTest::addColumn<int>("requestState");
        for (int s : {1, 3, 10, 11, 19, 24, 255})
            QTest::newRow(qPrintable(QString::number(s))) << s;
    }
    void tcpRefusesUnlistedStates()
    {
        QFETCH(int, requestState);
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        state.RequestState = std::uint8_t(requestState);
        QVERIFY(!engine.SendFrame("0131012C"));
        QVERIFY(tcp.written().isEmpty());
        QCOMPARE(state.TransactionId, 0);
        QVERIFY(!engine.tcpBusy());
    }

    void firstTcpPollCarriesTransactionOne()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.Timer1Timer();
        QCOMPARE(tcp.written(), QList<QByteArray>{hex("000100000006010400010083")});
        QCOMPARE(engine.pollTimer()->interval(), 300);
    }

    void transactionCounterWraps()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.TransactionId = 0xFFFE;
        engine.SendReadRequest("0001", "0083");
        QCOMPARE(state.TransactionId, 0xFFFF);
        engine.SendReadRequest("0001", "0083");
        QCOMPARE(state.TransactionId, 0);

        // On TCP the header then starts 00 00.
        state.LinkIsTcp = 1;
        state.TransactionId = 0xFFFF;
        FakeTransport tcp;
        tcp.open();
        engine.setTcpTransport(&tcp);
        engine.SendReadRequest("0001", "0083");
        QCOMPARE(tcp.written().value(0).left(2), hex("0000"));
    }

    void tcpWriteRestoresPendingFields()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        state.RequestState = StateWrite;
        engine.SendWriteRequest(0x30, 0x8005);
        QCOMPARE(tcp.written().value(0).mid(6), hex("010600308005"));
        QCOMPARE(state.PendingWriteAddr, 0);
        QCOMPARE(state.PendingWriteValue, 0);
    }

    // A count request carries the low byte of the record index left over from the last record.
    void tcpCountCarriesLeftoverIndex()
    {
        ConsoleState state;
        state.LinkIsTcp = 1;
        state.RequestState = StateTcpHistory;
        state.HistoryMode = 1;
        LinkEngine engine(state);
        FakeTransport tcp;
        tcp.setResponder([](const QByteArray &) { return QByteArray(); });
        tcp.open();
        engine.setTcpTransport(&tcp);
        engine.SendHistoryRequest("01", "43", 0);
        QCOMPARE(tcp.written().value(0).mid(7), hex("430100"));
        engine.abandonTcpRequests();
        engine.SendHistoryRequest("01", "44", 300);
        QCOMPARE(tcp.written().value(1).mid(5), hex("05014401012C"));
        engine.abandonTcpRequests();
        engine.SendHistoryRequest("01", "43", 0);
        QCOMPARE(tcp.written().value(2).mid(7), hex("43012C"));
    }

    void nonHexBodyIsRefused()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        QVERIFY(!engine.SendFrame("01XY"));
        QVERIFY(port.written().isEmpty());
        QCOMPARE(state.TransactionId, 0);
    }
};

QTEST_GUILESS_MAIN(TestRequestFrame)
#include "tst_requestframe.moc"
