#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "enginerig.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QTest>

// The link engine's write sequences on both links: order, acknowledgements, refusals,
// failures and what the operator is shown.

using namespace qeln;
using namespace testframes;

Q_DECLARE_METATYPE(qeln::MessageKind)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QStringList texts(const QSignalSpy &messages)
{
    QStringList out;
    for (const auto &m : messages)
        out << m.at(1).toString();
    return out;
}

} // namespace

class TestWriteSequence : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A write started while a status poll is under way waits for it instead of interleaving.
    void writeWaitsForPollInFlight()
    {
        EngineRig rig(true);
        auto &[state, engine, tcp] = rig;
        engine.setReadTimeout(60000);
        engine.pollNow();
        QVERIFY(engine.startWrites({{48, 0x8005}}));
        QCOMPARE(tcp.written().size(), 1);
        tcp.injectNow(tcpStatusResponse(1, sampleRegisters()));
        QTRY_COMPARE(tcp.written().size(), 2);
        QCOMPARE(tcp.written().at(1).toHex(), QByteArray("000200000006010600308005"));
    }

    // Three entries A, B, C go out as C, B, A, each after the previous acknowledgement, with
    // one success message after the last. 100 entries fit the queue and all go out.
    void writeQueueOrder_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("entries");
        QTest::newRow("serial 3") << false << 3;
        QTest::newRow("tcp 3") << true << 3;
        QTest::newRow("serial 100") << false << WriteQueueCapacity;
        QTest::newRow("tcp 100") << true << WriteQueueCapacity;
    }
    void writeQueueOrder()
    {
        QFETCH(bool, tcp);
        QFETCH(int, entries);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        link.setResponder([tcp](const QByteArray &request) { return controllerAnswer(tcp, request); });
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy acked(&engine, &LinkEngine::writeAcknowledged);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QList<RegisterWrite> writes;
        for (int i = 0; i < entries; ++i)
            writes.append({54 + i, 0xA + i});
        QVERIFY(engine.startWrites(writes));
        QVERIFY(engine.writeSequenceRunning());
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        QVERIFY(ended.at(0).at(0).toBool());
        QCOMPARE(texts(messages), QStringList{QStringLiteral(" Setting Sucess!!")});
        QCOMPARE(messages.at(0).at(0).value<MessageKind>(), MessageKind::Information);
        const QList<QByteArray> sent = link.written();
        QCOMPARE(sent.size(), entries);
        QCOMPARE(acked.size(), entries);
        for (int i = 0; i < entries; ++i) {
            const RegisterWrite w = writes[entries - 1 - i];
            const QByteArray body = "0106" + QByteArray::number(w.address, 16).rightJustified(4, '0').toUpper()
                + QByteArray::number(w.value, 16).rightJustified(4, '0').toUpper();
            if (tcp)
                QCOMPARE(sent[i].mid(6).toHex().toUpper(), body);
            else
                QCOMPARE(sent[i], serialFrame(body));
            const auto ack = acked.at(i).at(0).value<RegisterWrite>();
            QCOMPARE(ack.address, w.address);
            QCOMPARE(ack.value, w.value);
        }
        QVERIFY(!engine.writeSequenceRunning());
    }

    // What startWrites refuses: nothing is sent and nothing is shown.
    void refusedWriteLists_data()
    {
        QTest::addColumn<QList<RegisterWrite>>("writes");
        QTest::newRow("empty") << QList<RegisterWrite>{};
        QTest::newRow("101 entries") << QList<RegisterWrite>(WriteQueueCapacity + 1, RegisterWrite{1, 1});
        QTest::newRow("register 65536") << QList<RegisterWrite>{{1, 1}, {65536, 0}};
        QTest::newRow("value -1") << QList<RegisterWrite>{{1, -1}};
        QTest::newRow("value 65536") << QList<RegisterWrite>{{1, 65536}, {2, 2}};
    }
    void refusedWriteLists()
    {
        QFETCH(QList<RegisterWrite>, writes);
        for (bool tcp : {false, true}) {
            EngineRig rig(tcp);
            auto &[state, engine, link] = rig;
            QSignalSpy messages(&engine, &LinkEngine::messageRequested);
            QVERIFY(!engine.startWrites(writes));
            QVERIFY(!engine.writeSequenceRunning());
            QCoreApplication::processEvents();
            QVERIFY(link.written().isEmpty());
            QVERIFY(messages.isEmpty());
        }
    }

    // Only the echo of the write acknowledges it; any other answer stops the sequence without
    // a success message, and on TCP fails the request at once and says so. A TCP length field
    // that the exchange still completes (7 for a write) is an acknowledgement. An exception
    // answer ends the sequence at once, naming the register and the exception.
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
        QTest::newRow("tcp length 8") << true << QByteArray("0600378005") << 2 << failed;
    }
    void acknowledgementMustEcho()
    {
        QFETCH(bool, tcp);
        QFETCH(QByteArray, answer);
        QFETCH(int, lengthDelta);
        QFETCH(QString, message);
        EngineRig rig(tcp);
        auto &[state, engine, link] = rig;
        engine.setReadTimeout(100);
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QSignalSpy refusals(&engine, &LinkEngine::writeRefused);
        QVERIFY(engine.startWrites({{55, 0x8005}}));
        QCOMPARE(link.written().size(), 1);
        if (tcp) {
            QByteArray frame = tcpResponse(1, std::uint8_t(QByteArray::fromHex(answer.left(2))[0]),
                                           QByteArray::fromHex(answer.mid(2)));
            frame[5] = char(frame[5] + lengthDelta);
            link.injectNow(frame);
        } else {
            link.injectNow(serialFrame("01" + answer));
        }
        if (message.isEmpty()) {
            // Serial: not the acknowledgement; the sequence waits for the real one.
            QVERIFY(messages.isEmpty());
            QVERIFY(engine.writeSequenceRunning());
            return;
        }
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(messages.size(), 1);
        const QString shown = messages.at(0).at(1).toString();
        QVERIFY2(message.endsWith(QLatin1String(": ")) ? shown.startsWith(message) : shown == message, qPrintable(shown));
        const bool ok = message == QLatin1String(" Setting Sucess!!");
        QCOMPARE(messages.at(0).at(0).value<MessageKind>(), ok ? MessageKind::Information : MessageKind::Warning);
        QCOMPARE(ended.at(0).at(0).toBool(), ok);
        QCOMPARE(ended.at(0).at(1).toString(), shown);
        QCOMPARE(refusals.size(), answer.startsWith("86") ? 1 : 0);
        if (!refusals.isEmpty()) {
            QCOMPARE(refusals.at(0).at(0).value<RegisterWrite>().address, 55);
            QCOMPARE(refusals.at(0).at(1).toInt(), 2);
        }
        QVERIFY(!engine.writeSequenceRunning());
        QVERIFY(!engine.tcpBusy());
        QCOMPARE(link.written().size(), 1);
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
        engine.setReadTimeout(50);
        QSignalSpy messages(&engine, &LinkEngine::messageRequested);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QVERIFY(engine.startWrites({{1, 1}, {2, 2}}));
        QVERIFY(!engine.startWrites({{3, 3}})); // one sequence at a time
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, LinkEngine::SerialAckTimeoutMs + 2000);
        QTRY_VERIFY(!engine.tcpBusy());
        QCOMPARE(link.written().size(), 1);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(0).value<MessageKind>(), MessageKind::Warning);
        const QString text = messages.at(0).at(1).toString();
        QVERIFY2(text.contains(QLatin1String("register 2 (value 2)")) && text.contains(QLatin1String("0 of 2 settings")),
                 qPrintable(text));
        if (!tcp) {
            // The acknowledgement comes after all: the operator learns that the write was made,
            // and nothing more is sent for it.
            link.injectNow(testframes::serialFrame("010600020002"));
            QCOMPARE(messages.size(), 2);
            QCOMPARE(messages.at(1).at(0).value<MessageKind>(), MessageKind::Warning);
            const QString late = messages.at(1).at(1).toString();
            QVERIFY2(late.contains(QLatin1String("acknowledged register 2 late: it was written")), qPrintable(late));
            QCOMPARE(link.written().size(), 1);
        }
        QVERIFY(engine.startWrites({{3, 3}})); // the next sequence may start
        QCOMPARE(link.written().size(), 2);
    }

    // A TCP link that cannot be re-opened for a write shows the link's own error; a status
    // poll that meets the same link only reports the failed request.
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
        QSignalSpy failed(&engine, &LinkEngine::requestFailed);
        if (write)
            QVERIFY(engine.startWrites({{57, 570}, {58, 440}}));
        else
            engine.pollNow();
        QTRY_COMPARE(failed.size(), 1);
        const auto failure = failed.at(0).at(0).value<RequestFailure>();
        QCOMPARE(failure.fault, AnswerFault::LinkLost);
        QCOMPARE(failure.function, write ? Function::WriteSingleRegister : Function::ReadInputRegisters);
        QVERIFY(link.written().isEmpty());
        QCOMPARE(messages.size(), write ? 1 : 0);
        if (write) {
            QCOMPARE(messages.at(0).at(1).toString(),
                     QStringLiteral("The write of register 58 (value 440) failed: Connection refused by "
                                    "10.0.0.9:502. 0 of 2 settings were written; the rest were not sent."));
            QVERIFY(!engine.writeSequenceRunning());
        }
    }

    // Writes stay writes when the dialog that started them resumes polling while they still
    // go out, and each is acknowledged in turn.
    void writesGoOnAfterTheDialogResumesPolling()
    {
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        link.setResponder([](const QByteArray &request) { return controllerAnswer(true, request); });
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        engine.hold();
        QVERIFY(engine.startWrites({{54, 170}, {55, 270}, {56, 460}}));
        engine.release(); // the dialog closed
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
        engine.setReadTimeout(60000);
        int opens = 0;
        connect(&link, &Transport::opened, &link, [&opens] { ++opens; });
        bool hangUpNext = !closedWhileIdle;
        link.setResponder([&](const QByteArray &request) -> QByteArray {
            if (std::exchange(hangUpNext, false)) {
                QMetaObject::invokeMethod(&link, &FakeTransport::simulateDisconnect, Qt::QueuedConnection);
                return {};
            }
            return controllerAnswer(true, request);
        });
        if (closedWhileIdle)
            link.simulatePeerClose();
        QSignalSpy decoded(&engine, &LinkEngine::statusReceived);
        QSignalSpy ended(&engine, &LinkEngine::writeSequenceEnded);
        QSignalSpy failed(&engine, &LinkEngine::requestFailed);
        if (write) {
            QVERIFY(engine.startWrites({{127, 1}}));
            QTRY_COMPARE(ended.size(), 1);
            QCOMPARE(ended.at(0).at(0).toBool(), answered);
        } else {
            engine.pollNow();
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
        if (write && !answered)
            QCOMPARE(failed.at(0).at(0).value<RequestFailure>().fault, AnswerFault::LinkLost);
    }

    // The IP-settings write is answered with a bare 6-byte header: that is its answer, not a
    // failure. Polling stays held on TCP until resumed (the link is renewed first).
    void tcpIpWriteAnswerIsTaken()
    {
        EngineRig rig(true);
        auto &[state, engine, link] = rig;
        link.setResponder([](const QByteArray &request) { return request.left(6); });
        QSignalSpy failed(&engine, &LinkEngine::requestFailed);
        QVERIFY(engine.writeIpBlock(hex("12345678")));
        QTRY_VERIFY(!engine.tcpBusy());
        QCOMPARE(link.written().size(), 1);
        QCOMPARE(int(link.written().at(0)[7]), 0x42);
        QVERIFY(failed.isEmpty());
        QVERIFY(engine.pollingHeld());
        engine.pollNow();
        QCOMPARE(link.written().size(), 1);
    }

    // After a verified acknowledgement of a contact's masks the console holds what was
    // written; an answer that does not echo the write changes nothing.
    void contactMasksFollowTheAcknowledgement()
    {
        EngineRig rig(false);
        auto &[state, engine, port] = rig;
        state.ContactAlarmMasks.fill(0x1111);
        QVERIFY(engine.startWrites({{86, 0x0040}, {87, 0x3B60}}));
        port.injectNow(serialFrame("010600573B61")); // not the echo
        QCOMPARE(state.ContactAlarmMasks[7], 0x1111);
        port.injectNow(serialFrame("010600573B60"));
        port.injectNow(serialFrame("0106005600" "40"));
        QCOMPARE(state.ContactAlarmMasks[6], 0x0040);
        QCOMPARE(state.ContactAlarmMasks[7], 0x3B60);
        QCOMPARE(state.ContactAlarmMasks[5], 0x1111);
        QVERIFY(!engine.writeSequenceRunning());
    }

};

QTEST_GUILESS_MAIN(TestWriteSequence)
#include "tst_writesequence.moc"
