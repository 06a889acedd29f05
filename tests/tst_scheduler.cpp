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
            // On TCP a write follows an answer after the connection has settled a moment.
            QTRY_COMPARE(link.written().size(), i + 1);
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
    // a success message, and on TCP fails the request at once and says so. A TCP length field
    // that the assembler's end offset still completes (7 for a write) is an acknowledgement.
    // An exception answer ends the sequence at once, naming the register and the exception.
    void acknowledgementMustEcho_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QByteArray>("answer"); // function and fields of the answer
        QTest::addColumn<int>("lengthDelta");   // added to the TCP length field
        QTest::addColumn<QString>("message");   // what the operator is shown, if anything
        const QString ok = QStringLiteral(" Setting Sucess!!");
        const QString failed = QStringLiteral("The write of register 55 (value 32773) failed: ");
        const QString refused = QStringLiteral("The controller refused the write of register 55 "
                                               "(value 32773): exception 02 (illegal data address). "
                                               "0 of 1 settings were written; the rest were not sent.");
        for (bool tcp : {false, true}) {
            const char *link = tcp ? "tcp " : "serial ";
            auto row = [&](const char *name) -> QTestData & { return QTest::newRow((QByteArray(link) + name).constData()) << tcp; };
            row("echo") << QByteArray("0600378005") << 0 << ok;
            row("other register") << QByteArray("0600388005") << 0 << (tcp ? failed : QString());
            row("other value") << QByteArray("06003780FD") << 0 << (tcp ? failed : QString());
            row("exception 02") << QByteArray("8602") << 0 << refused;
        }
        QTest::newRow("tcp length 7") << true << QByteArray("0600378005") << 1 << ok;
        QTest::newRow("tcp length 8") << true << QByteArray("0600378005") << 2 << QString();
    }
    void acknowledgementMustEcho()
    {
        QFETCH(bool, tcp);
        QFETCH(QByteArray, answer);
        QFETCH(int, lengthDelta);
        QFETCH(QString, message);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        engine.tcpExchange()->setReadTimeout(100);
        state.RequestState = StateWrite;
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QVERIFY(engine.startWrites({{55, 0x8005}}));
        QCOMPARE(link.written().size(), 1);
        if (tcp) {
            QByteArray frame = tcpResponse(1, std::uint8_t(QByteArray::fromHex(answer.left(2))[0]),
                                           QByteArray::fromHex(answer.mid(2)));
            frame[5] = char(frame[5] + lengthDelta);
            link.injectNow(frame);
        } else {
            engine.ComPort11AfterRead(serialFrame("01" + answer));
        }
        if (tcp && message.isEmpty()) // a length that never completes: the read time-out
            QTRY_COMPARE(ended.size(), 1);
        if (message.isEmpty() && !tcp) {
            QVERIFY(messages.isEmpty());
            QVERIFY(engine.writeSequenceRunning()); // until the acknowledgement time-out
            return;
        }
        QCOMPARE(messages.size(), 1);
        const QString shown = messages.at(0).at(1).toString();
        if (message.isEmpty())
            QVERIFY2(shown.startsWith(QStringLiteral("The write of register 55")), qPrintable(shown));
        else
            QVERIFY2(message.endsWith(QLatin1String(": ")) ? shown.startsWith(message) : shown == message, qPrintable(shown));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), message == QLatin1String(" Setting Sucess!!"));
        QCOMPARE(ended.at(0).at(1).toString(), shown);
        QVERIFY(!engine.writeSequenceRunning());
        QVERIFY(!engine.tcpBusy());
        QCOMPARE(link.written().size(), 1);
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

    // A write that is never acknowledged ends the sequence with a message that says how far
    // it got; nothing is sent again.
    void unacknowledgedWriteStopsTheSequence_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("tcp") << true;
    }
    void unacknowledgedWriteStopsTheSequence()
    {
        QFETCH(bool, tcp);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        state.RequestState = StateWrite;
        engine.tcpExchange()->setReadTimeout(50);
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QVERIFY(engine.startWrites({{1, 1}, {2, 2}}));
        QVERIFY(!engine.startWrites({{3, 3}})); // one sequence at a time
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, LinkEngine::SerialAckTimeoutMs + 2000);
        QTest::qWait(150);
        QCOMPARE(link.written().size(), 1);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(0).value<MessageKind>(), MessageKind::Warning);
        const QString text = messages.at(0).at(1).toString();
        QVERIFY2(text.contains(QLatin1String("register 2 (value 2)")) && text.contains(QLatin1String("0 of 2 settings")),
                 qPrintable(text));
        QVERIFY(!engine.tcpBusy());
        QVERIFY(engine.startWrites({{3, 3}})); // the next sequence may start
    }

    // A TCP link that cannot be re-opened for a write shows the link's own error; a status
    // poll that meets the same link stays silent.
    void failedConnectDuringAWriteIsShown_data()
    {
        QTest::addColumn<bool>("write");
        QTest::newRow("write") << true;
        QTest::newRow("status poll") << false;
    }
    void failedConnectDuringAWriteIsShown()
    {
        QFETCH(bool, write);
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        link.close();
        link.setOpenFails(QStringLiteral("Connection refused by 10.0.0.9:502"));
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        if (write) {
            state.RequestState = StateWrite;
            QVERIFY(engine.startWrites({{57, 570}, {58, 440}}));
        } else {
            engine.Timer1Timer();
        }
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(link.written().isEmpty());
        QCOMPARE(messages.size(), write ? 1 : 0);
        if (write) {
            QCOMPARE(messages.at(0).at(1).toString(),
                     QStringLiteral("The write of register 58 (value 440) failed: Connection refused by "
                                    "10.0.0.9:502. 0 of 2 settings were written; the rest were not sent."));
            QVERIFY(!engine.writeSequenceRunning());
        }
    }

    // Only a sequence that was started sends on acknowledgements: a dialog that stopped before
    // sending (a conversion error, nothing ticked) leaves nothing for a stray one to send.
    void strayAcknowledgementSendsNothing_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("queued"); // entries filled in, never started; -1: queue untouched
        QTest::addColumn<bool>("success"); // the old queue state still shows the success box
        for (bool tcp : {false, true}) {
            const char *link = tcp ? "tcp " : "serial ";
            QTest::newRow((QByteArray(link) + "cleared").constData()) << tcp << 0 << false;
            QTest::newRow((QByteArray(link) + "filled").constData()) << tcp << 2 << false;
            QTest::newRow((QByteArray(link) + "after a sequence").constData()) << tcp << -1 << true;
        }
    }
    void strayAcknowledgementSendsNothing()
    {
        QFETCH(bool, tcp);
        QFETCH(int, queued);
        QFETCH(bool, success);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        state.RequestState = StateWrite;
        if (queued >= 0) {
            state.clearWriteQueue();
            for (int i = 0; i < queued; ++i)
                state.queueWrite(60 + i, 540);
        }
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        if (tcp) {
            // Nothing was asked on TCP, so the answer can only come through the assembler.
            state.FrameFunction = 6;
            engine.AssembleTcpFrame(tcpResponse(state.TransactionId, 0x06, QByteArray::fromHex("00000000")));
        } else {
            engine.ComPort11AfterRead(serialFrame("010600000000"));
        }
        QCoreApplication::processEvents();
        QVERIFY(link.written().isEmpty());
        QCOMPARE(messages.size(), success ? 1 : 0);
    }

    // Writes are framed as writes whatever RequestState says (the dialog may have closed and
    // polling resumed while its writes still go out), and each is acknowledged in turn.
    void tcpWritesStayWritesAfterTheDialogCloses()
    {
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        link.setResponder([](const QByteArray &request) {
            QByteArray answer = request.left(12);
            return answer.size() == 12 && request[7] == 0x06 ? answer : QByteArray();
        });
        state.RequestState = StateWrite;
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QVERIFY(engine.startWrites({{54, 170}, {55, 270}, {56, 460}}));
        state.RequestState = StatePoll; // the dialog closed
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(ended.at(0).at(0).toBool());
        const QList<QByteArray> sent = link.written();
        QCOMPARE(sent.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(int(sent[i][7]), 0x06);
            QCOMPARE(int(sent[i][9]), 56 - i);
        }
    }

    // A hang-up before any answer: a read goes out once more with a new transaction number,
    // a write is reported as failed and never repeated. A connection the peer closed while it
    // was idle is noticed before a write goes out, which then takes a fresh connection once.
    void hangUpResendsOnlyReads_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<bool>("closedWhileIdle");
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("answered");
        QTest::newRow("read, hang-up on the request") << false << false << 2 << true;
        QTest::newRow("write, hang-up on the request") << true << false << 1 << false;
        QTest::newRow("read, closed while idle") << false << true << 1 << true;
        QTest::newRow("write, closed while idle") << true << true << 1 << true;
    }
    void hangUpResendsOnlyReads()
    {
        QFETCH(bool, write);
        QFETCH(bool, closedWhileIdle);
        QFETCH(int, sent);
        QFETCH(bool, answered);
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        engine.tcpExchange()->setReadTimeout(60000);
        int opens = 0;
        connect(&link, &Transport::opened, &link, [&opens] { ++opens; });
        bool hangUpNext = !closedWhileIdle;
        link.setResponder([&](const QByteArray &request) -> QByteArray {
            if (std::exchange(hangUpNext, false)) {
                QMetaObject::invokeMethod(&link, &FakeTransport::simulateDisconnect, Qt::QueuedConnection);
                return {};
            }
            if (request[7] == 0x06)
                return request.left(12);
            return tcpStatusResponse((std::uint8_t(request[0]) << 8) | std::uint8_t(request[1]), sampleRegisters());
        });
        if (closedWhileIdle)
            link.simulatePeerClose();
        QSignalSpy decoded(&engine, &LinkEngine::statusDecoded);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        if (write) {
            state.RequestState = StateWrite;
            QVERIFY(engine.startWrites({{127, 1}}));
            QTRY_COMPARE(ended.size(), 1);
            QCOMPARE(ended.at(0).at(0).toBool(), answered);
        } else {
            engine.Timer1Timer();
            QTRY_COMPARE(decoded.size() + failed.size(), 1);
            QCOMPARE(decoded.size(), answered ? 1 : 0);
        }
        QCOMPARE(link.written().size(), sent);
        QCOMPARE(opens, sent == 2 || closedWhileIdle ? 1 : 0);
        if (sent == 2) {
            const QList<QByteArray> frames = link.written();
            QCOMPARE(frames[1].mid(2), frames[0].mid(2));
            QCOMPARE(std::uint8_t(frames[1][1]), std::uint8_t(frames[0][1] + 1));
        }
    }

    // The IP-settings write is answered with a bare 6-byte header: that is its answer, not a
    // failure (the lamp and the dialog would otherwise report a write the controller took).
    void tcpIpWriteAnswerIsTaken()
    {
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        link.setResponder([](const QByteArray &request) { return request.left(6); });
        QSignalSpy failed(&engine, &LinkEngine::tcpRequestFailed);
        state.RequestState = StateIpWrite;
        state.IpSettingsPayload = QByteArray::fromHex("12345678");
        QVERIFY(engine.SendFrame(QByteArray()));
        QTRY_VERIFY(!engine.tcpBusy());
        QCOMPARE(link.written().size(), 1);
        QCOMPARE(int(link.written().at(0)[7]), 0x42);
        QVERIFY(failed.isEmpty());
    }

    // After a verified acknowledgement of a contact's masks the console holds what was
    // written; an answer that does not echo the write changes nothing.
    void contactMasksFollowTheAcknowledgement()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.RequestState = StateWrite;
        state.ContactAlarmMasks.fill(0x1111);
        QVERIFY(engine.startWrites({{86, 0x0040}, {87, 0x3B60}}));
        engine.ComPort11AfterRead(serialFrame("010600573B61")); // not the echo
        QCOMPARE(state.ContactAlarmMasks[7], 0x1111);
        engine.ComPort11AfterRead(serialFrame("010600573B60"));
        engine.ComPort11AfterRead(serialFrame("0106005600" "40"));
        QCOMPARE(state.ContactAlarmMasks[6], 0x0040);
        QCOMPARE(state.ContactAlarmMasks[7], 0x3B60);
        QCOMPARE(state.ContactAlarmMasks[5], 0x1111);
        QVERIFY(!engine.writeSequenceRunning());
        QCOMPARE(engine.pollTimer()->timerType(), Qt::PreciseTimer);
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
        QTRY_COMPARE(tcp.written().size(), 2);
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
