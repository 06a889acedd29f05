#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "enginerig.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;
using namespace testframes;

namespace {

QByteArray echoAck(const QByteArray &tcpRequest)
{
    // A write acknowledgement echoes the request.
    return tcpRequest;
}

QList<int> ticksThatSent(LinkEngine &engine, FakeTransport &link, int ticks)
{
    QList<int> sent;
    for (int t = 1; t <= ticks; ++t) {
        const auto before = link.written().size();
        engine.Timer1Timer();
        if (link.written().size() != before)
            sent << t;
    }
    return sent;
}

} // namespace

class TestScheduler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Right after start-up the state says "poll", but nothing goes out until a link is chosen
    // and the poll timer started.
    void startUpState()
    {
        ConsoleState state;
        QCOMPARE(int(state.RequestState), 0);
        QCOMPARE(int(state.PollReady), 1);
        QCOMPARE(state.TransactionId, 0);
        QCOMPARE(state.StatusRegisterCount, 131);
        QCOMPARE(state.StatusCountHex, QByteArray("0083"));
        QCOMPARE(state.StatusFrameLength, 535);
        QCOMPARE(state.StatusByteCountHex, QByteArray("06"));
        QCOMPARE(state.HistoryRecordLength, 43);
        QCOMPARE(state.AcAlarms.names, QStringList{QStringLiteral("AC Input Fail")});
        QCOMPARE(state.OutputAlarms.lastIndex, 2);
        QCOMPARE(state.ModuleAlarms.names.value(1), QStringLiteral("Temperature High"));
        QCOMPARE(state.BatteryAlarms.lastIndex, 9);
        QCOMPARE(state.BatteryAlarms.names.size(), 10);
        QCOMPARE(state.BatteryAlarms.names.value(9), QStringLiteral("Battery BMS Alarm"));

        LinkEngine engine(state);
        FakeTransport port;
        port.open();
        engine.setSerialTransport(&port);
        QVERIFY(!engine.pollTimer()->isActive());
        QCOMPARE(engine.pollTimer()->interval(), 1000);
        QTest::qWait(50);
        QVERIFY(port.written().isEmpty());
    }

    // The queue holds 100 entries; a 101st is refused and the sequence sends exactly 100.
    void writeQueueCapacity()
    {
        ConsoleState state;
        state.clearWriteQueue();
        for (int i = 0; i < 100; ++i)
            QVERIFY(state.queueWrite(i + 1, i));
        QVERIFY(!state.queueWrite(101, 0));
        QCOMPARE(state.WriteCount, 101);
        state.RequestState = StateWrite;
        state.SerialPortOpen = 1;
        LinkEngine engine(state);
        FakeTransport port;
        port.open();
        engine.setSerialTransport(&port);
        engine.StartWriteSequence();
        for (int i = 0; i < 120 && port.written().size() > i; ++i)
            engine.ComPort11AfterRead(port.written().at(i));
        QCOMPARE(port.written().size(), 100);
        QCOMPARE(port.written().first(), serialFrame("01060064" "0063"));
        QCOMPARE(port.written().last(), serialFrame("01060001" "0000"));
    }

    // With no answers at all the status poll goes out on every third tick; ticks are 200 ms
    // on the serial link (600 ms apart) and 300 ms on TCP.
    void silentPollRhythm_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("interval");
        QTest::newRow("serial") << false << 200;
        QTest::newRow("tcp") << true << 300;
    }
    void silentPollRhythm()
    {
        QFETCH(bool, tcp);
        QFETCH(int, interval);
        ConsoleState state;
        state.LinkIsTcp = tcp ? 1 : 0;
        LinkEngine engine(state);
        FakeTransport link;
        link.open();
        if (tcp) {
            engine.setTcpTransport(&link);
            engine.tcpExchange()->setReadTimeout(60000);
        } else {
            engine.setSerialTransport(&link);
        }
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        engine.pollTimer()->setInterval(300);

        if (tcp) {
            // Each unanswered TCP request is given up before the next is due.
            QList<int> sent;
            for (int t = 1; t <= 10; ++t) {
                const auto before = link.written().size();
                engine.Timer1Timer();
                if (link.written().size() != before) {
                    sent << t;
                    engine.abandonTcpRequests();
                }
            }
            QCOMPARE(sent, (QList<int>{1, 4, 7, 10}));
        } else {
            QCOMPARE(ticksThatSent(engine, link, 10), (QList<int>{1, 4, 7, 10}));
            QCOMPARE(link.written().value(0), QByteArray(":01040001008377\r\n"));
        }
        QCOMPARE(engine.pollTimer()->interval(), interval);
        int rectModes = 0;
        for (const auto &l : lines)
            if (l.at(0).toByteArray() == "RectMode >>  [ 00 ]")
                ++rectModes;
        QCOMPARE(rectModes, 4);
    }

    // Answers do not speed the rhythm up.
    void answersDoNotTriggerPolls()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        QSignalSpy decoded(&engine, &LinkEngine::statusDecoded);
        const QByteArray answer = serialStatusFrame(sampleRegisters());
        QList<int> sent;
        for (int t = 1; t <= 6; ++t) {
            const auto before = port.written().size();
            engine.Timer1Timer();
            if (port.written().size() != before) {
                sent << t;
                engine.ComPort11AfterRead(answer);
            }
        }
        QCOMPARE(sent, (QList<int>{1, 4}));
        QCOMPARE(decoded.size(), 2);
    }

    void ipReadGoesOutOnce()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.RequestState = StateIpRead;
        QCOMPARE(ticksThatSent(engine, port, 4), (QList<int>{1, 4}));
        QCOMPARE(port.written().value(0), QByteArray(":0122DD\r\n"));
        QCOMPARE(port.written().value(1), QByteArray(":01040001008377\r\n"));
        QCOMPARE(int(state.RequestState), 0);
    }

    void nothingIsSentWhileADialogHoldsTheLink_data()
    {
        QTest::addColumn<int>("requestState");
        for (int s : {20, 21, 22, 23})
            QTest::newRow(qPrintable(QString::number(s))) << s;
    }
    void nothingIsSentWhileADialogHoldsTheLink()
    {
        QFETCH(int, requestState);
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.RequestState = std::uint8_t(requestState);
        QCOMPARE(ticksThatSent(engine, port, 20), QList<int>{});
    }

    // A serial record download repeats the current record request every second tick; entered
    // with the count-down at 2 it falls to state 20 and stops repeating.
    void serialRecordRepeats()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.RequestState = StateSerialHistoryRecords;
        state.RecordTotal = 5;
        state.RecordIndex = 2;
        state.ResponseTimer = 0;
        QCOMPARE(ticksThatSent(engine, port, 5), (QList<int>{1, 3, 5}));
        QCOMPARE(port.written().value(0), serialFrame("01310003"));

        ConsoleState entering;
        entering.RequestState = StateSerialEventRecords;
        entering.PollReady = 0;
        entering.ResponseTimer = 2;
        LinkEngine engine2(entering);
        engine2.setSerialTransport(&port);
        engine2.Timer1Timer();
        QCOMPARE(int(entering.RequestState), 20);
    }

    void ticksInsideATcpRequestWait()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.tcpExchange()->setReadTimeout(60000);
        QSignalSpy decoded(&engine, &LinkEngine::statusDecoded);
        engine.Timer1Timer();
        QCOMPARE(tcp.written().size(), 1);
        engine.Timer1Timer();
        engine.Timer1Timer();
        QCOMPARE(state.PollReady, std::uint8_t(1));
        engine.Timer1Timer(); // the first request is still unanswered
        engine.Timer1Timer();
        QCOMPARE(tcp.written().size(), 1);
        tcp.injectNow(tcpStatusResponse(1, sampleRegisters()));
        QCOMPARE(decoded.size(), 1);
        engine.Timer1Timer(); // the first tick after the answer sends
        QCOMPARE(tcp.written().size(), 2);
        QCOMPARE(tcp.written().at(1).left(2), QByteArray::fromHex("0002"));
    }

    // Three entries A, B, C go out as C, B, A, each after the previous acknowledgement, with
    // one success message after the last.
    void writeQueueOrder_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("tcp") << true;
    }
    void writeQueueOrder()
    {
        QFETCH(bool, tcp);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        state.RequestState = StateWrite;
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);

        state.clearWriteQueue();
        state.queueWrite(54, 0xA);
        state.queueWrite(55, 0xB);
        state.queueWrite(56, 0xC);
        engine.StartWriteSequence();

        const QList<QByteArray> serialExpected{serialFrame("01060038000C"), serialFrame("01060037000B"),
                                               serialFrame("01060036000A")};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(link.written().size(), i + 1);
            QCOMPARE(messages.size(), 0);
            const QByteArray request = link.written().at(i);
            if (tcp) {
                QCOMPARE(request.mid(6).toHex(), serialExpected[i].mid(1, 12).toLower());
                link.injectNow(echoAck(request));
            } else {
                QCOMPARE(request, serialExpected[i]);
                engine.ComPort11AfterRead(request);
            }
        }
        QCOMPARE(link.written().size(), 3);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral(" Setting Sucess!!"));
        QCOMPARE(state.WriteCount, 0);
    }

    // Only the echo of the write acknowledges it; any other answer stops the sequence without
    // a success message, and on TCP fails the request at once.
    void acknowledgementMustEcho_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QByteArray>("fields"); // register and value of the answer
        QTest::addColumn<bool>("acknowledged");
        for (bool tcp : {false, true}) {
            const char *link = tcp ? "tcp " : "serial ";
            QTest::newRow(QByteArray(link + QByteArray("echo")).constData()) << tcp << QByteArray("00378005") << true;
            QTest::newRow(QByteArray(link + QByteArray("other register")).constData()) << tcp << QByteArray("00388005") << false;
            QTest::newRow(QByteArray(link + QByteArray("other value")).constData()) << tcp << QByteArray("003780FD") << false;
        }
    }
    void acknowledgementMustEcho()
    {
        QFETCH(bool, tcp);
        QFETCH(QByteArray, fields);
        QFETCH(bool, acknowledged);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        state.RequestState = StateWrite;
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        state.clearWriteQueue();
        state.queueWrite(55, 0x8005);
        engine.StartWriteSequence();
        QCOMPARE(link.written().size(), 1);
        if (tcp)
            link.injectNow(tcpResponse(1, 0x06, QByteArray::fromHex(fields)));
        else
            engine.ComPort11AfterRead(serialFrame("0106" + fields));
        QCOMPARE(messages.size(), acknowledged ? 1 : 0);
        QCOMPARE(failed.size(), tcp && !acknowledged ? 1 : 0);
        QVERIFY(!engine.tcpBusy());
    }

    void tcpAnswerToAnotherRequestFailsAtOnce()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.tcpExchange()->setReadTimeout(60000);
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        QSignalSpy decoded(&engine, &LinkEngine::statusDecoded);
        engine.Timer1Timer();
        tcp.injectNow(tcpStatusResponse(7, sampleRegisters()));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(decoded.size(), 0);
        QVERIFY(!engine.tcpBusy());
    }

    void emptyConfirmSendsNothing()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.RequestState = StateWrite;
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        state.clearWriteQueue();
        engine.StartWriteSequence();
        state.WriteCount = 0; // never filled at all
        engine.StartWriteSequence();
        QVERIFY(port.written().isEmpty());
        QVERIFY(messages.isEmpty());
    }

    void unacknowledgedWriteStopsTheSequence()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        state.RequestState = StateWrite;
        engine.tcpExchange()->setReadTimeout(50);
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        state.clearWriteQueue();
        state.queueWrite(1, 1);
        state.queueWrite(2, 2);
        engine.StartWriteSequence();
        QTRY_COMPARE(failed.size(), 1);
        QTest::qWait(150);
        QCOMPARE(tcp.written().size(), 1);
        QVERIFY(messages.isEmpty());
        QVERIFY(!engine.tcpBusy());
    }

    // A write started while a status poll is under way waits for it instead of interleaving.
    void writeWaitsForPollInFlight()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.tcpExchange()->setReadTimeout(60000);
        engine.Timer1Timer();
        state.RequestState = StateWrite;
        state.clearWriteQueue();
        state.queueWrite(48, 0x8005);
        engine.StartWriteSequence();
        QCOMPARE(tcp.written().size(), 1);
        tcp.injectNow(tcpStatusResponse(1, sampleRegisters()));
        QCOMPARE(tcp.written().size(), 2);
        QCOMPARE(tcp.written().at(1).toHex(), QByteArray("000200000006010600308005"));
    }

    // The reminder shows 3 s after the timer starts with the counter at 0, for 1 s, every 3 s.
    void alarmTestReminder()
    {
        ConsoleState state;
        LinkEngine engine(state);
        QSignalSpy changes(&engine, &LinkEngine::alarmTestReminderChanged);
        QList<QPair<int, bool>> seen;
        for (int tick = 1; tick <= 100; ++tick) {
            engine.Timer6Timer();
            if (!changes.isEmpty())
                seen << qMakePair(tick, changes.takeFirst().at(0).toBool());
        }
        const QList<QPair<int, bool>> expected{{11, false}, {31, true}, {41, false},
                                               {61, true}, {71, false}, {91, true}};
        QCOMPARE(seen, expected);
        QCOMPARE(engine.reminderTimer()->interval(), 100);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
