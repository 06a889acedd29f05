#include "app/consolestate.h"
#include "link/answer.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "link/tcpexchange.h"
#include "enginerig.h"
#include "testframes.h"

#include <QSignalSpy>
#include <algorithm>
#include <QTest>

using namespace qeln;
using namespace testframes;

Q_DECLARE_METATYPE(qeln::AnswerFault)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// An engine on an open link with spies on everything it reports.
struct Rig : EngineRig {
    explicit Rig(bool tcp) : EngineRig(tcp)
    {
        // A test that waits for nothing must not see a read time-out either.
        engine.setReadTimeout(60000);
    }
    QSignalSpy decoded{&engine, &LinkEngine::statusReceived};
    QSignalSpy messages{&engine, &LinkEngine::messageRequested};
    QSignalSpy lines{&engine, &LinkEngine::consoleLine};
    QSignalSpy failed{&engine, &LinkEngine::requestFailed};
    QSignalSpy answers{&engine, &LinkEngine::answered};
    QSignalSpy ticketFailures{&engine, &LinkEngine::failed};

    // The answers to tickets as "count LOG payload", "record LOG payload" or "ip payload".
    QList<QByteArray> seenAnswers() const
    {
        QList<QByteArray> seen;
        for (const auto &a : answers) {
            const auto answer = a.at(1).value<Answer>();
            const QByteArray log = QByteArray::number(int(answer.log));
            if (answer.kind == RequestKind::HistoryCount)
                seen << "count " + log + " " + answer.payload.toHex();
            else if (answer.kind == RequestKind::HistoryRecord)
                seen << "record " + log + " " + answer.payload.toHex();
            else if (answer.kind == RequestKind::IpBlockRead)
                seen << "ip " + answer.payload.toHex();
        }
        return seen;
    }

    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto &m : messages)
            out << m.at(1).toString();
        return out;
    }
    QList<QByteArray> linesStarting(const QByteArray &prefix) const
    {
        QList<QByteArray> out;
        for (const auto &l : lines)
            if (l.at(0).toByteArray().startsWith(prefix))
                out << l.at(0).toByteArray().mid(prefix.size());
        return out;
    }
    RequestFailure lastFailure() const { return failed.last().at(0).value<RequestFailure>(); }
};

// What a parse gives, written as one string: "answer FF payload-hex" or "fault N function".
QByteArray describe(const ParsedAnswer &parsed)
{
    if (const auto *a = std::get_if<Answer>(&parsed))
        return "answer " + QByteArray::number(functionCode(a->function), 16) + " " + a->payload.toHex();
    const auto &f = std::get<RequestFailure>(parsed);
    QByteArray out = "fault " + QByteArray::number(int(f.fault)) + " "
        + QByteArray::number(f.known ? functionCode(f.function) : 0, 16);
    if (f.fault == AnswerFault::Exception)
        out += " code " + QByteArray::number(f.exceptionCode);
    return out;
}

QByteArray answerText(int function, const QByteArray &payload)
{
    return "answer " + QByteArray::number(function, 16) + " " + payload.toHex();
}

QByteArray faultText(AnswerFault fault, int function, int code = -2)
{
    QByteArray out = "fault " + QByteArray::number(int(fault)) + " " + QByteArray::number(function, 16);
    if (code != -2)
        out += " code " + QByteArray::number(code);
    return out;
}

} // namespace

class TestReception : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // One serial frame from ':' up to the CR, parsed.
    void parseAscii_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("parsed");
        QTest::addColumn<int>("length"); // of a spoilt frame, as reported
        QTest::newRow("good") << QByteArray(":01060030800544") << answerText(0x06, hex("00308005")) << 0;
        QTest::newRow("no payload") << QByteArray(":0122DD") << answerText(0x22, {}) << 0;
        QTest::newRow("lower-case digits") << QByteArray(":0122dd") << answerText(0x22, {}) << 0;
        QTest::newRow("exception answer is an answer") << QByteArray(":018602" "77") << answerText(0x86, hex("02")) << 0;
        QTest::newRow("wrong lrc") << QByteArray(":01060030800545") << faultText(AnswerFault::BadLrc, 0x06) << 15;
        QTest::newRow("not hex") << QByteArray(":0106003G800544") << faultText(AnswerFault::NotHexadecimal, 0) << 15;
        QTest::newRow("odd digit count") << QByteArray(":010600308005441") << faultText(AnswerFault::BadLength, 0) << 16;
        QTest::newRow("bare colon") << QByteArray(":") << faultText(AnswerFault::BadLength, 0) << 1;
        QTest::newRow("unit and function only") << QByteArray(":0106") << faultText(AnswerFault::BadLength, 0) << 5;
        QTest::newRow("shortest: unit function lrc") << QByteArray(":0130CF") << answerText(0x30, {}) << 0;
    }
    void parseAscii()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, parsed);
        QFETCH(int, length);
        const ParsedAnswer result = parseAsciiFrame(text);
        QCOMPARE(describe(result), parsed);
        if (const auto *f = std::get_if<RequestFailure>(&result)) {
            QCOMPARE(f->length, length);
            QVERIFY(!f->reason.isEmpty());
        }
    }

    // One whole TCP answer as the exchange collected it, for transaction 1.
    void parseMbap_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("function"); // of the request
        QTest::addColumn<QByteArray>("parsed");
        const QByteArray status = tcpStatusResponse(1, sampleRegisters());
        const QByteArray statusPayload = status.mid(8);
        QTest::newRow("status") << status << 0x04 << answerText(0x04, statusPayload);
        QTest::newRow("other transaction") << tcpStatusResponse(2, sampleRegisters()) << 0x04
                                           << faultText(AnswerFault::WrongTransaction, 0x04);
        QByteArray protocol = status;
        protocol[3] = 1;
        QTest::newRow("protocol not zero") << protocol << 0x04 << faultText(AnswerFault::WrongTransaction, 0x04);
        QTest::newRow("answer to another function") << tcpResponse(1, 0x41, QByteArray(150, 'x')) << 0x04
                                                    << faultText(AnswerFault::WrongTransaction, 0x04);
        QByteArray shortLength = status;
        shortLength[5] = char(shortLength[5] - 1);
        // A length field that the bytes already cover is taken; the status size check
        // downstream judges the payload.
        QTest::newRow("length field short") << shortLength << 0x04 << answerText(0x04, statusPayload);
        QByteArray longLength = status;
        longLength[5] = char(longLength[5] + 1);
        QTest::newRow("length field beyond the bytes") << longLength << 0x04 << faultText(AnswerFault::BadLength, 0x04);
        QTest::newRow("seven bytes") << status.left(7) << 0x04 << faultText(AnswerFault::BadLength, 0x04);
        QTest::newRow("exception 02") << tcpResponse(1, 0x84, hex("02")) << 0x04
                                      << faultText(AnswerFault::Exception, 0x04, 2);
        QTest::newRow("exception without its code") << tcpResponse(1, 0x84, {}) << 0x04
                                                    << faultText(AnswerFault::Exception, 0x04, -1);
        QTest::newRow("write echo") << tcpResponse(1, 0x06, hex("00308005")) << 0x06 << answerText(0x06, hex("00308005"));
        // Controllers in the field announce a write acknowledgement with length 7.
        QByteArray seven = tcpResponse(1, 0x06, hex("00308005"));
        seven[5] = 7;
        QTest::newRow("write echo, length 7") << seven << 0x06 << answerText(0x06, hex("00308005"));
        seven[5] = 8;
        QTest::newRow("write echo, length 8") << seven << 0x06 << faultText(AnswerFault::BadLength, 0x06);
        QTest::newRow("history count") << tcpResponse(1, 0x43, hex("010003")) << 0x43 << answerText(0x43, hex("010003"));
    }
    void parseMbap()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, function);
        QFETCH(QByteArray, parsed);
        QCOMPARE(describe(parseMbapAnswer(bytes, 1, Function(function))), parsed);
    }

    // The serial assembler fed read by read: which frames it hands on.
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
        // No answer comes near 8192 characters: a line that never ends is dropped, and the
        // next frame is received whole.
        QTest::newRow("overlong frame dropped")
            << QList<QByteArray>{":" + QByteArray(20000, '0'), b} << QList<QByteArray>{b};
        QTest::newRow("overlong frame over many reads")
            << QList<QByteArray>{":" + QByteArray(5000, '0'), QByteArray(5000, '0'), "\r\n", b}
            << QList<QByteArray>{b};
    }
    void serialAssembler()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<QByteArray>, frames);
        Rig rig(false);
        for (const QByteArray &read : reads)
            rig.link.injectNow(read);
        QCOMPARE(rig.linesStarting("Receive >> "), frames);
        const bool overlong = reads.first().size() > 8192 || reads.size() == 4;
        QCOMPARE(rig.linesStarting("Drop >> frame longer than 8192").size(), overlong ? 1 : 0);
    }

    // A spoilt serial frame is one typed failure, with the frame's size up to its LRC so a
    // listener can tell which answer it was; nothing else is reported for it.
    void spoiltSerialFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<AnswerFault>("fault");
        QTest::addColumn<int>("length");
        QByteArray badStatus = serialStatusFrame(sampleRegisters());
        badStatus.replace(535 - 2, 2, "00");
        QTest::newRow("status with a wrong lrc") << badStatus << AnswerFault::BadLrc << 535;
        QTest::newRow("write echo not hex") << QByteArray(":0106003G800544\r\n") << AnswerFault::NotHexadecimal << 15;
        QTest::newRow("odd digits") << QByteArray(":0130CF0\r\n") << AnswerFault::BadLength << 8;
    }
    void spoiltSerialFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(AnswerFault, fault);
        QFETCH(int, length);
        Rig rig(false);
        rig.link.injectNow(frame);
        QCOMPARE(rig.failed.size(), 1);
        QCOMPARE(rig.lastFailure().fault, fault);
        QCOMPARE(rig.lastFailure().length, length);
        QCOMPARE(rig.decoded.size(), 0);
        QVERIFY(rig.messages.isEmpty());
        QCOMPARE(rig.linesStarting("Drop >> ").size(), 1);
    }

    // Which serial status answers are decoded into the registers.
    void serialStatus_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("mode"); // 0 polling, 1 polling held, 2 the IP read is due
        QTest::addColumn<bool>("decoded");
        const QList<int> regs = sampleRegisters();
        QTest::newRow("535 characters") << serialStatusFrame(regs) << 0 << true;
        QTest::newRow("130 registers") << serialStatusFrame(regs.mid(0, 130)) << 0 << false;
        QTest::newRow("132 registers") << serialStatusFrame(regs + QList<int>{7}) << 0 << false;
        QByteArray shortened = "0104" "0106";
        for (int i = 0; i < 131; ++i)
            shortened += i == 130 ? QByteArray("00") : QByteArray("0001");
        QTest::newRow("533 with count 0106") << serialFrame(shortened) << 0 << false;
        QTest::newRow("while polling is held") << serialStatusFrame(regs) << 1 << false;
        QTest::newRow("while the IP read is due") << serialStatusFrame(regs) << 2 << false;
        QTest::newRow("bad lrc") << QByteArray(serialStatusFrame(regs)).replace(535 - 2, 2, "00") << 0 << false;
    }
    void serialStatus()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, mode);
        QFETCH(bool, decoded);
        Rig rig(false);
        if (mode == 1)
            rig.engine.hold();
        else if (mode == 2)
            rig.engine.requestIpBlock();
        rig.link.injectNow(frame);
        QCOMPARE(rig.decoded.size(), decoded ? 1 : 0);
        const QList<int> regs = sampleRegisters();
        for (int n = 0; n < 131; ++n)
            QCOMPARE(rig.state.StatusRegisters[n], decoded ? regs[n] : 0);
    }

    // What each serial answer to the request waiting for it is reported as (an answer no
    // request waits for reaches nobody). The engine sends nothing in reply: the history
    // download sequences its own requests. A refusal of a status read is a failure.
    void serialAnswers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("signal"); // "count 1 payload" etc., or empty
        QTest::newRow("alarm init") << QByteArray("01C5") << QStringList{QStringLiteral(" Alarm Initial Sucess!!")} << QByteArray();
        QTest::newRow("event init") << QByteArray("01D5") << QStringList{QStringLiteral(" Event log Initial Sucess!!")} << QByteArray();
        QTest::newRow("empty history") << QByteArray("01C00000") << QStringList{} << QByteArray("count 1 0000");
        QTest::newRow("event count 3") << QByteArray("01D00003") << QStringList{} << QByteArray("count 2 0003");
        QTest::newRow("alarm record") << QByteArray("01C1" "0102A0B0") << QStringList{} << QByteArray("record 1 0102a0b0");
        QTest::newRow("event record") << QByteArray("01D1" "0C") << QStringList{} << QByteArray("record 2 0c");
        QTest::newRow("ip block") << QByteArray("01B2" "C0A80001") << QStringList{} << QByteArray("ip c0a80001");
        QTest::newRow("unknown code") << QByteArray("01E1") << QStringList{} << QByteArray();
        QTest::newRow("tcp-only code 43") << QByteArray("0143010003") << QStringList{} << QByteArray();
        QTest::newRow("exception to a read") << QByteArray("018402") << QStringList{} << QByteArray("failed 4 code 2");
    }
    void serialAnswers()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, signal);
        Rig rig(false);
        // The request each answer code answers.
        const QByteArray code = body.mid(2, 2);
        if (code == "C5" || code == "D5")
            rig.engine.initialiseHistory(code == "C5" ? LogKind::Alarm : LogKind::Event);
        else if (code == "C0" || code == "D0")
            rig.engine.requestHistoryCount(code == "C0" ? LogKind::Alarm : LogKind::Event);
        else if (code == "C1" || code == "D1")
            rig.engine.requestHistoryRecord(code == "C1" ? LogKind::Alarm : LogKind::Event, 1);
        else if (code == "B2")
            rig.engine.requestIpBlock(), rig.engine.pollNow();
        const qsizetype sent = rig.link.written().size();
        rig.link.injectNow(serialFrame(body));
        QCOMPARE(rig.messageTexts(), messages);
        QList<QByteArray> seen = rig.seenAnswers();
        for (const auto &f : rig.failed) {
            const auto failure = f.at(0).value<RequestFailure>();
            seen << "failed " + QByteArray::number(functionCode(failure.function), 16) + " code "
                    + QByteArray::number(failure.exceptionCode);
        }
        QCOMPARE(seen, signal.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{signal});
        QVERIFY(rig.ticketFailures.isEmpty());
        QCOMPARE(rig.link.written().size(), sent);
    }

    // After a disconnect the serial port stays open until the next character: that closes
    // it, and the character is not read.
    void afterDisconnectFirstCharacterClosesPort()
    {
        Rig rig(false);
        rig.engine.releaseSerial();
        rig.link.injectNow(serialFrame("01C5"));
        QVERIFY(!rig.link.isOpen());
        QVERIFY(rig.messages.isEmpty());
        QVERIFY(rig.linesStarting("Receive >> ").isEmpty());
    }

    // A TCP status answer, as the link delivers it to the poll in flight: decoded only when
    // its data is exactly the 262 bytes asked for with the byte count's low byte 06; any
    // other size is dropped with a line, an answer that is not the poll's fails the request.
    void tcpStatus_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("held"); // polling held after the poll went out
        QTest::addColumn<int>("outcome"); // 0 decoded, 1 size dropped, 2 request failed
        const QList<int> regs = sampleRegisters();
        const QByteArray exact = tcpStatusResponse(1, regs);
        QTest::newRow("good") << exact << false << 0;
        QTest::newRow("good, in three reads") << exact << false << 0;
        QTest::newRow("while polling is held") << exact << true << -1;
        QTest::newRow("byte count 0x07") << tcpStatusResponse(1, regs, 0x07) << false << 1;
        QByteArray more = exact + QByteArray(1, '\x5A');
        more[5] = char(more[5] + 1);
        QTest::newRow("one byte more, in the length field") << more << false << 2;
        QByteArray less = exact.chopped(1);
        less[5] = char(less[5] - 1);
        QTest::newRow("one byte less, in the length field") << less << false << 1;
        QByteArray shortLength = exact;
        shortLength[5] = char(shortLength[5] - 1);
        // Delivered in one read, the whole answer is there before the short length is looked at.
        QTest::newRow("length field one short, one read") << shortLength << false << 0;
        QTest::newRow("130 registers, count 0x04") << tcpStatusResponse(1, regs.mid(0, 130), 0x04) << false << 1;
        QTest::newRow("130 registers, count lies 0x06") << tcpStatusResponse(1, regs.mid(0, 130)) << false << 1;
        QTest::newRow("other transaction") << tcpStatusResponse(2, regs) << false << 2;
        QByteArray badProtocol = exact;
        badProtocol[3] = 1;
        QTest::newRow("protocol not zero") << badProtocol << false << 2;
        QTest::newRow("exception answer") << tcpResponse(1, 0x84, hex("02")) << false << 2;
    }
    void tcpStatus()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, held);
        QFETCH(int, outcome);
        Rig rig(true);
        rig.state.StatusRegisters.fill(0x1111);
        rig.engine.pollNow();
        QCOMPARE(rig.link.written().size(), 1);
        if (held)
            rig.engine.hold();
        if (QByteArray(QTest::currentDataTag()).contains("three reads")) {
            rig.link.injectNow(response.left(5));
            rig.link.injectNow(response.mid(5, 100));
            QCOMPARE(rig.decoded.size(), 0);
            rig.link.injectNow(response.mid(105));
        } else {
            rig.link.injectNow(response);
        }
        QCOMPARE(rig.decoded.size(), outcome == 0 ? 1 : 0);
        const QList<int> regs = sampleRegisters();
        for (int n = 0; n < 131; ++n)
            QCOMPARE(rig.state.StatusRegisters[n], outcome == 0 ? regs[n] : 0x1111);
        QCOMPARE(rig.linesStarting("Drop >> TCP status answer with byte count ").size(), outcome == 1 ? 1 : 0);
        QCOMPARE(rig.failed.size(), outcome == 2 ? 1 : 0);
        if (outcome == 2)
            QCOMPARE(rig.lastFailure().function, Function::ReadInputRegisters);
        // The answer ended the request either way: the next poll may go.
        QVERIFY(!rig.engine.tcpBusy());
        QVERIFY(rig.messages.isEmpty());
    }

    // An answer cut short never completes: the request times out, and the next request's
    // own answer is decoded alone, nothing of the half answer mixed in.
    void tcpStaleHalfFrameDoesNotLeak()
    {
        Rig rig(true);
        rig.engine.setReadTimeout(50);
        rig.engine.pollNow();
        const QList<int> regs = sampleRegisters();
        QByteArray cut = tcpStatusResponse(1, regs).left(100);
        rig.link.injectNow(cut);
        QVERIFY(rig.failed.wait());
        QCOMPARE(rig.lastFailure().fault, AnswerFault::TimedOut);
        QCOMPARE(rig.decoded.size(), 0);
        rig.engine.setReadTimeout(60000);
        rig.engine.pollNow();
        QCOMPARE(rig.link.written().size(), 2);
        QCOMPARE(rig.link.written().at(1).left(2), hex("0002"));
        QList<int> other = regs;
        other[0] = 4242;
        rig.link.injectNow(tcpStatusResponse(2, other));
        QCOMPARE(rig.decoded.size(), 1);
        QCOMPARE(rig.state.StatusRegisters[0], 4242);
        QCOMPARE(rig.state.StatusRegisters[1], regs[1]);
    }

    // What each TCP answer to the request in flight is reported as.
    void tcpAnswers_data()
    {
        QTest::addColumn<int>("request"); // 0 alarm init, 1 event init, 2 alarm count, 3 event count,
                                          // 4 alarm record, 5 event record, 6 ip read
        QTest::addColumn<QByteArray>("answer"); // the whole answer after the header's unit
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("signal");
        auto row = [](const char *name, int request, const char *answer, QStringList messages, const char *signal) {
            QTest::newRow(name) << request << hex(answer) << messages << QByteArray(signal);
        };
        row("alarm init", 0, "4501", {QStringLiteral(" Alarm Initial Sucess!!")}, "");
        row("event init", 1, "4802", {QStringLiteral(" Event Initial Sucess!!")}, "");
        row("init of another log", 1, "4803", {}, "");
        row("alarm count 0", 2, "43010000", {}, "count 1 010000");
        row("event count 3", 3, "46020003", {}, "count 2 020003");
        row("event record", 5, "47020005" "1122334455667788", {}, "record 2 020005" "1122334455667788");
        row("ip block", 6, "41" "C0A80001", {}, "ip c0a80001");
        row("exception to a count", 2, "C304", {}, "failed 43 code 4");
    }
    void tcpAnswers()
    {
        QFETCH(int, request);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, signal);
        Rig rig(true);
        switch (request) {
        case 0: rig.engine.initialiseHistory(LogKind::Alarm); break;
        case 1: rig.engine.initialiseHistory(LogKind::Event); break;
        case 2: rig.engine.requestHistoryCount(LogKind::Alarm); break;
        case 3: rig.engine.requestHistoryCount(LogKind::Event); break;
        case 4: rig.engine.requestHistoryRecord(LogKind::Alarm, 5); break;
        case 5: rig.engine.requestHistoryRecord(LogKind::Event, 5); break;
        case 6: rig.engine.requestIpBlock(); rig.engine.pollNow(); break;
        }
        QCOMPARE(rig.link.written().size(), 1);
        // An answer shorter than the request's size is complete once its header's length has come.
        rig.link.injectNow(tcpResponse(1, std::uint8_t(answer[0]), answer.mid(1)));
        QCOMPARE(rig.messageTexts(), messages);
        QList<QByteArray> seen = rig.seenAnswers();
        for (const auto &f : rig.failed) {
            const auto failure = f.at(0).value<RequestFailure>();
            seen << "failed " + QByteArray::number(functionCode(failure.function), 16) + " code "
                    + QByteArray::number(failure.exceptionCode);
        }
        QCOMPARE(seen, signal.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{signal});
        QCOMPARE(rig.link.written().size(), 1);
        QVERIFY(!rig.engine.tcpBusy());
    }

    // Alarm-history counts and records are traced on the console, the bytes after the
    // transaction's high byte as text and as hex.
    void tcpHistoryLinesAreTraced()
    {
        Rig rig(true);
        rig.engine.requestHistoryRecord(LogKind::Alarm, 1);
        rig.link.injectNow(tcpResponse(1, 0x44, QByteArray("AB", 2)));
        QCOMPARE(rig.seenAnswers().size(), 1);
        const QByteArray expected = QByteArray::fromHex("0100000004014441") + "B ["
            + "0100000004014441" "42" "]";
        QCOMPARE(rig.linesStarting("TcpStr >> "), QList<QByteArray>{expected});
    }

    // Every submitted request ends in exactly one outcome under its ticket, never before
    // submit() returns: a refusal at once (on serial as on TCP, not after a time-out), the
    // time-out, a link closed under it; a cancelled ticket hears nothing.
    void ticketOutcomes_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QByteArray>("outcome"); // "fault N code C", or empty for none
        for (bool tcp : {false, true}) {
            const char *link = tcp ? "tcp" : "serial";
            QTest::addRow("%s refusal", link) << tcp << QByteArray("refuse") << QByteArray("fault 4 code 4");
            QTest::addRow("%s time-out", link) << tcp << QByteArray("silence") << QByteArray("fault 5 code -1");
            // A time-out of 0 is the engine's read time-out.
            QTest::addRow("%s read time-out", link) << tcp << QByteArray("default") << QByteArray("fault 5 code -1");
            QTest::addRow("%s link closed", link) << tcp << QByteArray("close") << QByteArray("fault 6 code -1");
            QTest::addRow("%s cancelled", link) << tcp << QByteArray("cancel") << QByteArray();
        }
    }
    void ticketOutcomes()
    {
        QFETCH(bool, tcp);
        QFETCH(QByteArray, event);
        QFETCH(QByteArray, outcome);
        Rig rig(tcp);
        if (event == "default")
            rig.engine.setReadTimeout(30);
        const Ticket ticket = rig.engine.submit(requests::historyCount(tcp ? LinkKind::Tcp : LinkKind::Serial,
                                                                       LogKind::Alarm, 0),
                                                event == "silence" ? 30 : event == "cancel" ? 200
                                                    : event == "default" ? 0 : 60000);
        QVERIFY(ticket != 0);
        if (event == "refuse")
            rig.link.injectNow(tcp ? tcpResponse(1, 0xC3, hex("04")) : serialFrame("01B004"));
        else if (event == "close")
            tcp ? rig.engine.abandonTcpRequests() : rig.engine.releaseSerial();
        else if (event == "cancel")
            rig.engine.cancel(ticket);
        // A second request's outcome marks the moment the first's would have come by.
        const Ticket marker = rig.engine.submit(requests::historyCount(tcp ? LinkKind::Tcp : LinkKind::Serial,
                                                                       LogKind::Event, 0), 40);
        QTRY_VERIFY(std::any_of(rig.ticketFailures.cbegin(), rig.ticketFailures.cend(),
                                [marker](const QList<QVariant> &f) { return f.at(0).value<Ticket>() == marker; }));
        QList<QByteArray> seen;
        for (const auto &f : std::as_const(rig.ticketFailures)) {
            if (f.at(0).value<Ticket>() != ticket)
                continue;
            const auto failure = f.at(1).value<RequestFailure>();
            QCOMPARE(failure.kind, RequestKind::HistoryCount);
            seen << "fault " + QByteArray::number(int(failure.fault)) + " code " + QByteArray::number(failure.exceptionCode);
        }
        QCOMPARE(seen, outcome.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{outcome});
        QVERIFY(rig.answers.isEmpty());
    }

    // On serial an answer carries no request number: a request given up keeps its place, so its
    // late answer never reaches the next request (which waits for it), while the same request
    // asked again takes the first answer that comes.
    void lateSerialAnswerNeverReachesTheNextRequest()
    {
        Rig rig(false);
        QSignalSpy late(&rig.engine, &LinkEngine::answeredLate);
        const auto record = [&](int n, int timeoutMs) {
            return rig.engine.submit(requests::historyRecord(LinkKind::Serial, LogKind::Event, n, 43), timeoutMs);
        };
        const QByteArray answerOf5 = serialFrame("01D1" "18030700000500640005");
        const QByteArray answerOf4 = serialFrame("01D1" "18030700000400640004");
        const Ticket first = record(5, 30);
        QTRY_COMPARE(rig.ticketFailures.size(), 1);
        const Ticket twin = record(5, 60000);  // asked again: goes at once
        QCOMPARE(rig.link.written().size(), 2);
        rig.link.injectNow(answerOf5);       // the first answer to come is the twin's
        QCOMPARE(rig.answers.size(), 1);
        QCOMPARE(rig.answers.at(0).at(0).value<Ticket>(), twin);
        const Ticket next = record(4, 60000); // another record waits for the other answer
        QCOMPARE(rig.link.written().size(), 2);
        rig.link.injectNow(answerOf5);       // the late one: taken by the request given up
        QCOMPARE(late.size(), 1);
        QCOMPARE(late.at(0).at(0).value<Ticket>(), first);
        QCOMPARE(rig.answers.size(), 1);
        QCOMPARE(rig.link.written().size(), 3); // now the next record goes
        rig.link.injectNow(answerOf4);
        QCOMPARE(rig.answers.size(), 2);
        QCOMPARE(rig.answers.at(1).at(0).value<Ticket>(), next);
        QCOMPARE(rig.answers.at(1).at(1).value<Answer>().payload, hex("18030700000400640004"));
    }

    // An acknowledgement that no write sequence waits for sends nothing and shows nothing: on
    // serial it is dropped with a console line (no bare success box for a write nobody sent),
    // also when entries are left over from a sequence that stopped early; on TCP nothing
    // unasked reaches the engine at all.
    void strayAcknowledgement_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("afterRefusal");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("serial, empty queue") << false << false << QStringList{};
        QTest::newRow("serial, entries left by a refused sequence") << false << true << QStringList{};
        QTest::newRow("tcp, empty queue") << true << false << QStringList{};
        QTest::newRow("tcp, entries left by a refused sequence") << true << true << QStringList{};
    }
    void strayAcknowledgement()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, afterRefusal);
        QFETCH(QStringList, messages);
        Rig rig(tcp);
        if (afterRefusal) {
            QVERIFY(rig.engine.startWrites({{60, 540}, {61, 540}, {62, 540}}));
            rig.link.injectNow(tcp ? tcpResponse(1, 0x86, hex("02")) : serialFrame("018602"));
            QVERIFY(!rig.engine.writeSequenceRunning());
            QVERIFY(!rig.engine.tcpBusy());
            rig.link.clearWritten();
            rig.messages.clear();
        }
        rig.link.injectNow(tcp ? tcpResponse(1, 0x06, hex("00308005")) : serialFrame("010600308005"));
        QCoreApplication::processEvents();
        QCOMPARE(rig.messageTexts(), messages);
        QVERIFY(rig.link.written().isEmpty());
        if (!tcp)
            QCOMPARE(rig.linesStarting("Drop >> acknowledgement 0030 8005").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReception)
#include "tst_reception.moc"
