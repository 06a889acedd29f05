#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "monitor/livemonitor.h"
#include "enginerig.h"
#include "testframes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

// The poll scheduler of the link engine, seen on the wire: its rhythm, holds, the IP read,
// one TCP request at a time, relink. The write sequences are in tst_writesequence.

using namespace qeln;
using namespace testframes;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestScheduler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Right after start-up nothing goes out until the poll timer is started; its first tick
    // (1 s) then polls, and the ticks follow the serial rhythm.
    void startUp()
    {
        ConsoleState state;
        QCOMPARE(state.StatusRegisterCount, 131);
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
        QVERIFY(!engine.pollingRunning());
        QVERIFY(!engine.pollingHeld());
        QCOMPARE(engine.pollTickMs(), 1000);
        QCoreApplication::processEvents();
        QVERIFY(port.written().isEmpty());

        QSignalSpy sent(&engine, &LinkEngine::requestSent);
        QElapsedTimer clock;
        clock.start();
        engine.startPolling();
        QVERIFY(sent.wait(5000));
        QVERIFY2(clock.elapsed() >= 990, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(port.written(), QList<QByteArray>{":01040001008377\r\n"});
        QCOMPARE(engine.pollTickMs(), 200);
        engine.stopPolling();
        QVERIFY(!engine.pollingRunning());
    }

    // The status poll goes out on every third tick, 200 ms ticks on serial (600 ms apart) and
    // 300 ms on TCP, whether or not answers come: an answer does not speed the rhythm up,
    // and on TCP a request given up (read time-out) does not either.
    void pollRhythm_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("tick");
        QTest::newRow("serial, silent") << false << false << 200;
        QTest::newRow("serial, answered") << false << true << 200;
        QTest::newRow("tcp, silent") << true << false << 300;
        QTest::newRow("tcp, answered") << true << true << 300;
    }
    void pollRhythm()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, answered);
        QFETCH(int, tick);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        engine.setReadTimeout(100);
        if (answered)
            link.setResponder([tcp](const QByteArray &request) { return controllerAnswer(tcp, request); });
        QSignalSpy decoded(&engine, &LinkEngine::statusReceived);
        QSignalSpy failed(&engine, &LinkEngine::requestFailed);
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        QList<qint64> sentAt;
        QElapsedTimer clock;
        clock.start();
        connect(&engine, &LinkEngine::requestSent, this, [&] { sentAt << clock.elapsed(); });
        engine.startPolling(1);
        QTRY_VERIFY_WITH_TIMEOUT(sentAt.size() >= 3, 10000);
        engine.stopPolling();
        QCOMPARE(engine.pollTickMs(), tick);
        // Three ticks from one poll to the next; timers never fire early.
        for (int i = 1; i < sentAt.size(); ++i)
            QVERIFY2(sentAt[i] - sentAt[i - 1] >= 3 * tick - 5,
                     qPrintable(QStringLiteral("poll %1 after %2 ms").arg(i).arg(sentAt[i] - sentAt[i - 1])));
        for (const QByteArray &frame : link.written())
            QCOMPARE(tcp ? frame.mid(6) : frame, tcp ? hex("010400010083") : QByteArray(":01040001008377\r\n"));
        int rectModes = 0;
        for (const auto &l : lines)
            rectModes += l.at(0).toByteArray() == "RectMode >>  [ 00 ]";
        QCOMPARE(rectModes, int(link.written().size()));
        if (answered)
            QTRY_COMPARE(decoded.size(), int(link.written().size()));
        else if (tcp)
            QTRY_COMPARE(failed.size(), int(link.written().size()));
        else
            QCOMPARE(decoded.size(), 0);
    }

    // The IP-settings block is read on the next due tick, once; the status polls follow. A read
    // asked for in a poll's place (the connection's own look at who the controller is) waits
    // while a dialog holds polling, and goes first when the hold ends.
    void ipReadGoesOutOnce_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("inPollSlot");
        QTest::addColumn<bool>("held");
        for (bool tcp : {false, true}) {
            const QByteArray link = tcp ? "tcp" : "serial";
            QTest::newRow(link.constData()) << tcp << false << false;
            QTest::newRow((link + " in a poll's place").constData()) << tcp << true << false;
            QTest::newRow((link + " in a poll's place, held").constData()) << tcp << true << true;
        }
    }
    void ipReadGoesOutOnce()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, inPollSlot);
        QFETCH(bool, held);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        link.setResponder([tcp](const QByteArray &request) { return controllerAnswer(tcp, request); });
        engine.setReadTimeout(100);
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        if (held)
            engine.hold();
        inPollSlot ? engine.requestIpBlockInPollSlot() : engine.requestIpBlock();
        engine.startPolling(1);
        if (held) {
            // The first held tick says so on the line; nothing goes out.
            QTRY_VERIFY(!lines.isEmpty());
            engine.pollNow();
            QCOMPARE(link.written().size(), 0);
            QCOMPARE(lines.first().at(0).toByteArray(), QByteArray("RectMode >>  [ 14 ]"));
            lines.clear();
            engine.release(HoldReason::Dialog);
        }
        QTRY_VERIFY_WITH_TIMEOUT(link.written().size() >= 3, 10000);
        engine.stopPolling();
        const QList<QByteArray> sent = link.written();
        QCOMPARE(tcp ? sent[0].mid(6) : sent[0], tcp ? hex("0141") : QByteArray(":0122DD\r\n"));
        for (int i = 1; i < sent.size(); ++i)
            QCOMPARE(tcp ? sent[i].mid(6) : sent[i], tcp ? hex("010400010083") : QByteArray(":01040001008377\r\n"));
        QCOMPARE(lines.first().at(0).toByteArray(), QByteArray("RectMode >>  [ 02 ]"));
    }

    // While polling is held (by a dialog, a history initialisation, a TCP IP-settings write)
    // no tick sends, however many pass; the holder's own request still goes out. Resumed, the
    // next tick polls.
    void nothingIsSentWhilePollingIsHeld_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("holder"); // 0 a dialog's hold, 1 the erase window's, 2 writeIpBlock
        QTest::addColumn<int>("ownFrames");
        for (bool tcp : {false, true}) {
            const QByteArray link = tcp ? "tcp " : "serial ";
            QTest::newRow((link + "hold").constData()) << tcp << 0 << 0;
            QTest::newRow((link + "history initialisation").constData()) << tcp << 1 << 1;
        }
        QTest::newRow("tcp ip settings write") << true << 2 << 1;
    }
    void nothingIsSentWhilePollingIsHeld()
    {
        QFETCH(bool, tcp);
        QFETCH(int, holder);
        QFETCH(int, ownFrames);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        // On TCP the holder's request is answered at once (the initialisation is echoed, the
        // settings write gets its bare header), so the link is free for polls.
        if (tcp) {
            link.setResponder([](const QByteArray &request) {
                return request[7] == 0x42 ? request.left(6) : request[7] == 0x04 ? QByteArray() : request;
            });
        }
        switch (holder) {
        case 0: engine.hold(); break;
        // The erase window holds the poll; the erase itself only until its answer.
        case 1: engine.hold(HoldReason::HistoryInitialisation), engine.initialiseHistory(LogKind::Event); break;
        case 2: QVERIFY(engine.writeIpBlock(hex("12345678"))); break;
        }
        QVERIFY(engine.pollingHeld());
        QCOMPARE(link.written().size(), ownFrames);
        QTRY_VERIFY(!engine.tcpBusy());
        engine.pollNow();
        QCOMPARE(link.written().size(), ownFrames);

        // Ticks every millisecond until the first poll sets the rhythm: hundreds pass held.
        bool sentWhileHeld = false;
        connect(&engine, &LinkEngine::requestSent, this, [&] { sentWhileHeld |= engine.pollingHeld(); });
        engine.startPolling(1);
        QTimer::singleShot(700, &engine, [&engine, holder] {
            if (holder == 2)
                engine.releaseIpWriteHold();
            else
                engine.release(holder == 0 ? HoldReason::Dialog : HoldReason::HistoryInitialisation);
        });
        QTRY_COMPARE(link.written().size(), ownFrames + 1);
        QVERIFY(!sentWhileHeld);
        const QByteArray poll = link.written().last();
        QCOMPARE(tcp ? poll.mid(6) : poll, tcp ? hex("010400010083") : QByteArray(":01040001008377\r\n"));
    }

    // Holds are counted: polling goes on only when the last one ends, in whichever order they
    // end. The first tick of a hold writes the scheduler's state ("RectMode >>  [ 14 ]" for a
    // dialog) and the held ticks after it nothing; an IP read asked for goes out all the same.
    void holdsAreCountedAndShowTheirState_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QByteArray>("line"); // of the first tick, while both are held
        QTest::newRow("dialog, then download") << int(HoldReason::Dialog) << int(HoldReason::HistoryDownload)
                                              << QByteArray("RectMode >>  [ 16 ]");
        QTest::newRow("download, then dialog") << int(HoldReason::HistoryDownload) << int(HoldReason::Dialog)
                                              << QByteArray("RectMode >>  [ 14 ]");
        QTest::newRow("erase window, then IP write") << int(HoldReason::HistoryInitialisation)
                                                     << int(HoldReason::IpSettings) << QByteArray("RectMode >>  [ 15 ]");
        QTest::newRow("two dialogs") << int(HoldReason::Dialog) << int(HoldReason::Dialog)
                                     << QByteArray("RectMode >>  [ 14 ]");
    }
    void holdsAreCountedAndShowTheirState()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QByteArray, line);
        EngineRig rig(false);
        auto &[state, engine, link] = rig;
        QSignalSpy lines(&engine, &LinkEngine::consoleLine);
        auto a = std::make_unique<PollHold>(engine, HoldReason(first));
        PollHold b(engine, HoldReason(second));
        engine.pollNow(); // held: nothing is due
        QVERIFY(lines.isEmpty());
        // Ticks every millisecond; the holds end one after the other, the first taken first.
        engine.startPolling(1);
        QTimer::singleShot(150, &engine, [&] {
            engine.requestIpBlock(); // goes out while held
        });
        QTimer::singleShot(300, &engine, [&] {
            a.reset();
            QVERIFY(engine.pollingHeld());
        });
        QTimer::singleShot(450, &engine, [&] {
            b.reset();
            b.reset(); // once only
            QCOMPARE(engine.holdCount(), 0);
        });
        QTRY_COMPARE(link.written().size(), 2);
        engine.stopPolling();
        QCOMPARE(link.written().value(0), QByteArray(":0122DD\r\n"));
        QCOMPARE(link.written().value(1), QByteArray(":01040001008377\r\n"));
        QList<QByteArray> seen;
        for (const auto &l : std::as_const(lines)) {
            if (l.at(0).toByteArray().startsWith("RectMode"))
                seen << l.at(0).toByteArray();
        }
        // One line for the hold, one for the IP read, one for the poll after the last hold.
        QCOMPARE(seen, (QList<QByteArray>{line, "RectMode >>  [ 02 ]", "RectMode >>  [ 00 ]"}));
        // A hold that outlives its engine touches nothing.
        auto engineGone = std::make_unique<LinkEngine>(state);
        PollHold orphan(*engineGone);
        engineGone.reset();
        orphan.reset();
    }

    // Never two requests on the TCP connection: a poll due while one is unanswered waits for
    // its answer, then goes with the next transaction number.
    void pollWaitsForTheTcpRequestInFlight()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.setReadTimeout(60000);
        QSignalSpy decoded(&engine, &LinkEngine::statusReceived);
        engine.pollNow();
        QCOMPARE(tcp.written().size(), 1);
        engine.pollNow();
        engine.pollNow();
        QCOMPARE(tcp.written().size(), 1);
        QVERIFY(engine.tcpBusy());
        tcp.injectNow(tcpStatusResponse(1, sampleRegisters()));
        QCOMPARE(decoded.size(), 1);
        QVERIFY(!engine.tcpBusy());
        engine.pollNow();
        QCOMPARE(tcp.written().size(), 2);
        QCOMPARE(tcp.written().at(1).left(2), hex("0002"));

        // With the real timer: the poll answered late is followed by the next one, never
        // overlapped by it.
        tcp.clearWritten();
        QTimer::singleShot(1000, &tcp, [&tcp] { tcp.injectNow(tcpStatusResponse(2, sampleRegisters())); });
        engine.startPolling(1);
        QTRY_COMPARE_WITH_TIMEOUT(tcp.written().size(), 1, 5000);
        QCOMPARE(decoded.size(), 2);
        QCOMPARE(tcp.written().at(0).left(2), hex("0003"));
        engine.stopPolling();
    }

    // relink() lets the write on its way be answered, then closes and re-opens the link once;
    // the poll timer stands still meanwhile and runs again afterwards.
    void relinkWaitsForTheRequestOnItsWay()
    {
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        engine.setReadTimeout(60000);
        int opens = 0;
        connect(&link, &Transport::opened, &link, [&opens] { ++opens; });
        engine.hold();
        engine.startPolling(1);
        QVERIFY(engine.writeIpBlock(hex("12345678")));
        engine.relink();
        QVERIFY(!engine.pollingRunning());
        QVERIFY(link.isOpen());
        QCOMPARE(opens, 0);
        QTimer::singleShot(100, &link, [&link] { link.injectNow(link.written().at(0).left(6)); });
        QTRY_COMPARE(opens, 1);
        QVERIFY(link.isOpen());
        QVERIFY(engine.pollingRunning());
        QCOMPARE(link.written().size(), 1);
        engine.relink(); // idle: at once
        QCOMPARE(opens, 2);
    }

    // The live monitor's alarm-test reminder: shown 3 s after its timer starts, for 1 s,
    // every 3 s (100 ms ticks).
    void alarmTestReminder()
    {
        ConsoleState state;
        LinkEngine engine(state);
        LiveMonitor monitor(engine, state);
        QSignalSpy changes(&monitor, &LiveMonitor::alarmTestReminderChanged);
        QList<QPair<int, bool>> seen;
        for (int tick = 1; tick <= 100; ++tick) {
            monitor.onReminderTick();
            if (!changes.isEmpty())
                seen << qMakePair(tick, changes.takeFirst().at(0).toBool());
        }
        const QList<QPair<int, bool>> expected{{11, false}, {31, true}, {41, false},
                                               {61, true}, {71, false}, {91, true}};
        QCOMPARE(seen, expected);
        QCOMPARE(monitor.reminderTimer()->interval(), 100);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
