#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;
using namespace testframes;

Q_DECLARE_METATYPE(qeln::MessageKind)

namespace {

// Stands in for the history decoders: reports a chosen record count and counts records.
class CountingDecoders : public ResponseDecoders {
public:
    int total = 0;
    int counts = 0;
    int records = 0;
    int ipBlocks = 0;
    QByteArray lastText;
    void DecodeHistoryCount(ConsoleState &s) override
    {
        ++counts;
        lastText = s.ResponseText;
        s.RecordTotal = total;
        s.RecordIndex = 1;
        s.HistoryDownloadActive = 1;
    }
    void AdvanceHistoryRecord(ConsoleState &s) override
    {
        ++records;
        lastText = s.ResponseText;
        ++s.RecordIndex;
    }
    void DecodeIpSettings(ConsoleState &s) override
    {
        ++ipBlocks;
        lastText = s.ResponseText;
    }
};

struct SerialRig {
    ConsoleState state;
    LinkEngine engine{state};
    FakeTransport port;
    CountingDecoders decoders;
    QSignalSpy decoded{&engine, &LinkEngine::statusDecoded};
    QSignalSpy messages{&engine, &LinkEngine::messageRequested};
    QSignalSpy lines{&engine, &LinkEngine::consoleLine};
    SerialRig()
    {
        port.open();
        engine.setSerialTransport(&port);
        engine.setDecoders(&decoders);
        state.SerialPortOpen = 1;
    }
    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.at(1).toString();
        return out;
    }
};

struct TcpRig {
    ConsoleState state;
    LinkEngine engine{state};
    CountingDecoders decoders;
    QSignalSpy decoded{&engine, &LinkEngine::statusDecoded};
    QSignalSpy messages{&engine, &LinkEngine::messageRequested};
    QSignalSpy lines{&engine, &LinkEngine::consoleLine};
    TcpRig()
    {
        state.LinkIsTcp = 1;
        engine.setDecoders(&decoders);
    }
    // As if the request with this function code had just gone out as transaction `id`.
    void sent(int function, int id = 1)
    {
        state.FrameFunction = function;
        state.TransactionId = id;
    }
    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.at(1).toString();
        return out;
    }
};

} // namespace

class TestReception : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The serial assembler fed read by read: which frames reach the dispatcher.
    void serialAssembler_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<QByteArray>>("frames");
        const QByteArray a = serialFrame("010600308005");
        const QByteArray b = serialFrame("010600310001");
        QTest::newRow("one read") << QList<QByteArray>{a} << QList<QByteArray>{a};
        QTest::newRow("split in three")
            << QList<QByteArray>{a.left(3), a.mid(3, 9), a.mid(12)} << QList<QByteArray>{a};
        QTest::newRow("noise before colon") << QList<QByteArray>{"xx\r\n" + a} << QList<QByteArray>{a};
        QTest::newRow("second frame of same read lost")
            << QList<QByteArray>{a + b} << QList<QByteArray>{a};
        QTest::newRow("second frame in later read kept")
            << QList<QByteArray>{a, b} << QList<QByteArray>{a, b};
        QTest::newRow("tail after LF dropped, next colon starts over")
            << QList<QByteArray>{a + b.left(5), b} << QList<QByteArray>{a, b};
        QTest::newRow("colon inside a frame is data")
            << QList<QByteArray>{":01:06\r\n"} << QList<QByteArray>{":01:06\r\n"};
        QTest::newRow("cut-off frame keeps collecting")
            << QList<QByteArray>{":0106", b} << QList<QByteArray>{":0106" + b};
        QTest::newRow("only LF may follow CR")
            << QList<QByteArray>{":0106\rX\n"} << QList<QByteArray>{":0106\r\n"};
        QTest::newRow("no CR no frame") << QList<QByteArray>{":0106\n"} << QList<QByteArray>{};
    }
    void serialAssembler()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<QByteArray>, frames);
        SerialRig rig;
        QList<QByteArray> received;
        for (const QByteArray &read : reads) {
            rig.engine.ComPort11AfterRead(read);
            for (const auto &l : rig.lines) {
                const QByteArray text = l.at(0).toByteArray();
                if (text.startsWith("Receive >> "))
                    received << text.mid(11);
            }
            rig.lines.clear();
            QCOMPARE(rig.state.FrameReady, std::uint8_t(0)); // the dispatcher took it
        }
        QCOMPARE(received, frames);
    }

    void bytesWhileFrameReadyAreDropped()
    {
        SerialRig rig;
        rig.state.LastFrame = "stale";
        rig.state.FrameReady = 1;
        rig.engine.ComPort11AfterRead(serialFrame("010600308005"));
        QVERIFY(rig.state.RxFrame.isEmpty());
        QCOMPARE(rig.state.RxState, std::uint8_t(0));
    }

    void overlongFrameIsDropped()
    {
        SerialRig rig;
        rig.engine.ComPort11AfterRead(":" + QByteArray(20000, '0'));
        QVERIFY(rig.state.RxFrame.size() <= 8192);
        rig.engine.ComPort11AfterRead(serialFrame("010600310001"));
        QCOMPARE(rig.lines.last().at(0).toByteArray(), "Receive >> " + serialFrame("010600310001"));
    }

    void checkFrame_data()
    {
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<QByteArray>("responseText");
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("good") << QByteArray(":01060030800544\r\n") << true
                              << QByteArray(":01060030800544") << QByteArray("06");
        QTest::newRow("wrong lrc") << QByteArray(":01060030800545\r\n") << false << QByteArray() << QByteArray();
        QTest::newRow("no colon") << QByteArray("01060030800544\r\n") << false << QByteArray() << QByteArray();
        QTest::newRow("no CR") << QByteArray(":01060030800544") << false << QByteArray() << QByteArray();
        QTest::newRow("not hex") << QByteArray(":0106003G800544\r\n") << false << QByteArray() << QByteArray();
        QTest::newRow("lower-case lrc") << QByteArray(":0122dd\r\n") << true << QByteArray(":0122dd")
                                        << QByteArray("22");
        QTest::newRow("bare colon") << QByteArray(":\r\n") << false << QByteArray() << QByteArray();
    }
    void checkFrame()
    {
        QFETCH(QByteArray, last);
        QFETCH(bool, passes);
        QFETCH(QByteArray, responseText);
        QFETCH(QByteArray, function);
        SerialRig rig;
        rig.state.ResponseText = "before";
        rig.state.LastFrame = last;
        QCOMPARE(rig.engine.CheckFrame(), passes);
        QCOMPARE(rig.state.ResponseText, passes ? responseText : QByteArray("before"));
        if (passes)
            QCOMPARE(rig.state.FunctionCodeText, function);
    }

    // Which serial status answers reach the decoder.
    void serialStatus_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("requestState");
        QTest::addColumn<bool>("decoded");
        const QList<int> regs = sampleRegisters();
        QTest::newRow("535 characters") << serialStatusFrame(regs) << 0 << true;
        QTest::newRow("130 registers") << serialStatusFrame(regs.mid(0, 130)) << 0 << false;
        QByteArray shortened = "0104" "0106";
        for (int i = 0; i < 131; ++i)
            shortened += i == 130 ? QByteArray("00") : QByteArray("0001");
        QTest::newRow("533 with count 0106") << serialFrame(shortened) << 0 << false;
        QTest::newRow("while writing") << serialStatusFrame(regs) << 20 << false;
        QTest::newRow("bad lrc") << QByteArray(serialStatusFrame(regs)).replace(535 - 2, 2, "00") << 0 << false;
    }
    void serialStatus()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, requestState);
        QFETCH(bool, decoded);
        SerialRig rig;
        rig.state.RequestState = std::uint8_t(requestState);
        rig.engine.ComPort11AfterRead(frame);
        QCOMPARE(rig.decoded.size(), decoded ? 1 : 0);
        if (decoded) {
            const QList<int> regs = sampleRegisters();
            for (int n = 0; n < 131; ++n)
                QCOMPARE(rig.state.StatusRegisters[n], regs[n]);
        } else {
            QCOMPARE(rig.state.StatusRegisters[0], 0);
        }
    }

    void serialMessagesAndHistory_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("recordTotal");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("stateAfter");
        QTest::newRow("alarm init") << QByteArray("01C5") << 0 << QStringList{QStringLiteral(" Alarm Initial Sucess!!")} << QByteArray() << 0;
        QTest::newRow("event init") << QByteArray("01D5") << 0 << QStringList{QStringLiteral(" Event log Initial Sucess!!")} << QByteArray() << 0;
        QTest::newRow("empty history") << QByteArray("01C00000") << 0 << QStringList{QStringLiteral("No History data")} << QByteArray() << 10;
        QTest::newRow("empty event log") << QByteArray("01D00000") << 0 << QStringList{QStringLiteral("No Event log data")} << QByteArray() << 11;
        QTest::newRow("history count 3") << QByteArray("01C00003") << 3 << QStringList{} << serialFrame("01310002") << 10;
        QTest::newRow("event count 3") << QByteArray("01D00003") << 3 << QStringList{} << serialFrame("01410002") << 11;
        QTest::newRow("unknown code") << QByteArray("01E1") << 0 << QStringList{} << QByteArray() << 0;
    }
    void serialMessagesAndHistory()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, recordTotal);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, sent);
        QFETCH(int, stateAfter);
        SerialRig rig;
        rig.decoders.total = recordTotal;
        rig.engine.ComPort11AfterRead(serialFrame(body));
        QCOMPARE(rig.messageTexts(), messages);
        QCOMPARE(rig.port.written(), sent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{sent});
        QCOMPARE(int(rig.state.RequestState), stateAfter);
        if (stateAfter == 10 || stateAfter == 11)
            QCOMPARE(rig.engine.pollTimer()->interval(), 800);
    }

    void serialRecordAfterWindowClosedSendsNothing()
    {
        SerialRig rig;
        rig.state.RecordTotal = 5;
        rig.state.RecordIndex = 2;
        rig.state.HistoryDownloadActive = 0;
        rig.engine.ComPort11AfterRead(serialFrame("01C1" + QByteArray(68, '0')));
        QCOMPARE(rig.decoders.records, 1);
        QVERIFY(rig.port.written().isEmpty());
    }

    void afterDisconnectFirstCharacterClosesPort()
    {
        SerialRig rig;
        rig.state.SerialPortOpen = 0;
        rig.engine.ComPort11RxChar(serialFrame("01C5"));
        QVERIFY(!rig.port.isOpen());
        QVERIFY(rig.messages.isEmpty());
        QVERIFY(rig.state.LastFrame.isEmpty());
    }

    // Which TCP answers reach the status decoder.
    void tcpStatus_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<int>("requestState");
        QTest::addColumn<bool>("decoded");
        const QList<int> regs = sampleRegisters();
        QTest::newRow("good") << tcpStatusResponse(1, regs) << 0 << true;
        QTest::newRow("byte count 0x07") << tcpStatusResponse(1, regs, 0x07) << 0 << false;
        QTest::newRow("other transaction") << tcpStatusResponse(2, regs) << 0 << false;
        QTest::newRow("while writing") << tcpStatusResponse(1, regs) << 20 << false;
        QByteArray badProtocol = tcpStatusResponse(1, regs);
        badProtocol[3] = 1;
        QTest::newRow("protocol not zero") << badProtocol << 0 << false;
        QByteArray badLength = tcpStatusResponse(1, regs);
        badLength[5] = char(badLength[5] - 1);
        // The assembler completes an answer once the byte at length + 6 has arrived: a
        // short length field still completes it, a long one never does.
        QTest::newRow("length field short, completed") << badLength << 0 << true;
        QByteArray longLength = tcpStatusResponse(1, regs);
        longLength[5] = char(longLength[5] + 1);
        QTest::newRow("length field long, never completed") << longLength << 0 << false;
        QByteArray exception = tcpResponse(1, 0x84, QByteArray("\x02", 1));
        QTest::newRow("exception answer") << exception << 0 << false;
    }
    void tcpStatus()
    {
        QFETCH(QByteArray, response);
        QFETCH(int, requestState);
        QFETCH(bool, decoded);
        TcpRig rig;
        rig.state.RequestState = std::uint8_t(requestState);
        rig.sent(0x04);
        rig.engine.AssembleTcpFrame(response);
        QCOMPARE(rig.decoded.size(), decoded ? 1 : 0);
        const QList<int> regs = sampleRegisters();
        QCOMPARE(rig.state.StatusRegisters[130], decoded ? regs[130] : 0);
        QCOMPARE(rig.state.StatusRegisters[0], decoded ? regs[0] : 0);
        QCOMPARE(rig.state.FrameReady, std::uint8_t(0));
    }

    // A TCP status answer is decoded only when its data is exactly the 262 bytes asked for,
    // as a serial one only at exactly 535 characters; any other size is dropped with a line.
    void tcpStatusSize_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("decoded");
        const QList<int> regs = sampleRegisters();
        const QByteArray exact = tcpStatusResponse(1, regs);
        QTest::newRow("exact size") << exact << true;
        QByteArray more = exact + QByteArray(1, '\x5A');
        more[5] = char(more[5] + 1);
        QTest::newRow("one byte more, in the length field") << more << false;
        QTest::newRow("one byte more in the same read") << exact + QByteArray(1, '\x5A') << false;
        QTest::newRow("a second answer in the same read") << exact + exact << false;
        QByteArray less = exact.chopped(1);
        less[5] = char(less[5] - 1);
        QTest::newRow("one byte less, in the length field") << less << false;
        // 130 registers are 260 bytes (0x104): an honest low byte 04 and one that lies (06).
        QTest::newRow("130 registers, count 0x04") << tcpStatusResponse(1, regs.mid(0, 130), 0x04) << false;
        QTest::newRow("130 registers, count lies 0x06") << tcpStatusResponse(1, regs.mid(0, 130)) << false;
        QTest::newRow("132 registers, count lies 0x06") << tcpStatusResponse(1, regs + QList<int>{7}) << false;
    }
    void tcpStatusSize()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, decoded);
        TcpRig rig;
        rig.sent(0x04);
        rig.state.StatusRegisters.fill(0x1111);
        rig.engine.AssembleTcpFrame(response);
        QCOMPARE(rig.decoded.size(), decoded ? 1 : 0);
        const QList<int> regs = sampleRegisters();
        for (int n = 0; n < 131; ++n)
            QCOMPARE(rig.state.StatusRegisters[n], decoded ? regs[n] : 0x1111);
        bool dropLine = false;
        for (const auto &l : rig.lines)
            dropLine = dropLine || l.at(0).toByteArray().startsWith("Drop >> TCP status answer with byte count ");
        QCOMPARE(dropLine, !decoded);
    }

    // A response cut short leaves the assembler waiting; the next request starts afresh and
    // its own answer is decoded alone.
    void tcpStaleHalfFrameDoesNotLeak()
    {
        TcpRig rig;
        FakeTransport tcp;
        tcp.open();
        rig.engine.setTcpTransport(&tcp);
        rig.sent(0x04, 1);
        const QList<int> regs = sampleRegisters();
        QByteArray longLength = tcpStatusResponse(1, regs);
        longLength[5] = char(longLength[5] + 20);
        rig.engine.AssembleTcpFrame(longLength);
        QCOMPARE(rig.decoded.size(), 0);
        rig.engine.SendReadRequest("0001", "0083"); // transaction 2
        QList<int> other = regs;
        other[0] = 4242;
        rig.engine.abandonTcpRequests();
        rig.engine.AssembleTcpFrame(tcpStatusResponse(2, other));
        QCOMPARE(rig.decoded.size(), 1);
        QCOMPARE(rig.state.StatusRegisters[0], 4242);
        QCOMPARE(rig.state.StatusRegisters[1], regs[1]);
    }

    void tcpResponses_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("recordTotal");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("sentTail"); // function code and fields of the next request
        QTest::newRow("alarm init") << 0x45 << QByteArray("\x01", 1) << 0 << QStringList{QStringLiteral(" Alarm Initial Sucess!!")} << QByteArray();
        QTest::newRow("event init kind 2") << 0x45 << QByteArray("\x02", 1) << 0 << QStringList{QStringLiteral(" Event Initial Sucess!!")} << QByteArray();
        QTest::newRow("event init 0x48") << 0x48 << QByteArray("\x02", 1) << 0 << QStringList{QStringLiteral(" Event Initial Sucess!!")} << QByteArray();
        QTest::newRow("init other kind") << 0x48 << QByteArray("\x03", 1) << 0 << QStringList{} << QByteArray();
        QTest::newRow("alarm count 0") << 0x43 << QByteArray("\x01\x00\x00", 3) << 0 << QStringList{QStringLiteral("No History data")} << QByteArray();
        QTest::newRow("event count 0") << 0x46 << QByteArray("\x02\x00\x00", 3) << 0 << QStringList{QStringLiteral("No History data")} << QByteArray();
        QTest::newRow("alarm count 3") << 0x43 << QByteArray("\x01\x00\x03", 3) << 3 << QStringList{} << QByteArray::fromHex("4401" "0002");
        QTest::newRow("event count 3") << 0x46 << QByteArray("\x02\x00\x03", 3) << 3 << QStringList{} << QByteArray::fromHex("4702" "0002");
        QTest::newRow("unknown function") << 0x49 << QByteArray("\x01", 1) << 0 << QStringList{} << QByteArray();
    }
    void tcpResponses()
    {
        QFETCH(int, function);
        QFETCH(QByteArray, data);
        QFETCH(int, recordTotal);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, sentTail);
        TcpRig rig;
        FakeTransport tcp;
        tcp.open();
        rig.engine.setTcpTransport(&tcp);
        rig.state.RequestState = function == 0x45 || function == 0x48 ? StateHistoryInit : StateTcpHistory;
        rig.state.HistoryMode = data.isEmpty() ? 0 : std::uint8_t(data[0]);
        rig.decoders.total = recordTotal;
        rig.sent(function);
        rig.engine.AssembleTcpFrame(tcpResponse(1, function, data));
        QCOMPARE(rig.messageTexts(), messages);
        if (sentTail.isEmpty()) {
            QVERIFY(tcp.written().isEmpty());
        } else {
            QCOMPARE(tcp.written().size(), 1);
            QCOMPARE(tcp.written().at(0).mid(7).toHex(), sentTail.toHex());
            QCOMPARE(rig.decoders.lastText, data);
        }
    }

    void tcpHistoryLinesAreTraced()
    {
        TcpRig rig;
        rig.sent(0x44);
        rig.state.RecordTotal = 1;
        rig.state.RecordIndex = 1;
        rig.engine.AssembleTcpFrame(tcpResponse(1, 0x44, QByteArray("AB", 2)));
        QCOMPARE(rig.decoders.records, 1);
        const QByteArray expected = "TcpStr >> " + QByteArray::fromHex("0100000004014441") + "B ["
            + "0100000004014441" "42" "]";
        QCOMPARE(rig.lines.last().at(0).toByteArray(), expected);
    }

    void writeAckWithEmptyQueueStillReportsSuccess()
    {
        TcpRig tcpRig;
        tcpRig.sent(0x06);
        tcpRig.engine.AssembleTcpFrame(tcpResponse(1, 0x06, QByteArray::fromHex("00308005")));
        QCOMPARE(tcpRig.messageTexts(), QStringList{QStringLiteral(" Setting Sucess!!")});

        SerialRig serialRig;
        serialRig.engine.ComPort11AfterRead(serialFrame("010600308005"));
        QCOMPARE(serialRig.messageTexts(), QStringList{QStringLiteral(" Setting Sucess!!")});

        SerialRig below;
        below.state.WriteCount = -1;
        below.engine.ComPort11AfterRead(serialFrame("010600308005"));
        QVERIFY(below.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestReception)
#include "tst_reception.moc"
