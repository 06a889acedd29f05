// The history download on both links against a scripted controller: request order, the row
// each record lands in, lost, bad and late answers, and closing in the middle.

#include "enginerig.h"
#include "testframes.h"

#include "history/historydownload.h"

#include <QSignalSpy>
#include <QTest>

using namespace qeln;
using history::HistoryDownload;
using history::LogKind;

namespace {

// What the scripted controller does to the answer of one request.
enum class Fault { None, Drop, WrongSize, Garble, Slow, NotHex, OtherLog, Exception, Busy };

// A plan of faults, one letter per record request in order ('.' or beyond the end: none).
Fault planned(const QByteArray &plan, int k)
{
    switch (k <= plan.size() ? plan.at(k - 1) : '.') {
    case 'd': return Fault::Drop;
    case 's': return Fault::WrongSize;
    case 'l': return Fault::Garble;
    case 'x': return Fault::NotHex;
    case 'o': return Fault::OtherLog;
    case 'e': return Fault::Exception;
    case 'b': return Fault::Busy;
    default: return Fault::None;
    }
}

// A controller with n records in each log. Record r says r back: in the alarm log as its time
// of day (r seconds after midnight), in the event log as the value of an unlisted event code,
// whose text is the plain decimal value.
struct ScriptedController {
    bool tcp = false;
    int records = 0;
    // Fault on the answer to the k-th record request (1-based), and how often.
    int faultAt = 0;
    Fault fault = Fault::None;
    int faultTimes = 1;
    QByteArray plan;             // faults by record request, see planned()
    Fault countFault = Fault::None; // on every count answer
    bool answerCount = true;
    QList<int> recordRequests; // record numbers asked for, in order
    int countRequests = 0;
    int answers = 0;        // answers sent, spoilt ones included
    QList<QByteArray> held; // slow answers, delivered by the test

    static QByteArray hex(int value, int digits)
    {
        return QByteArray::number(value, 16).rightJustified(digits, '0').toUpper();
    }

    QByteArray recordFields(bool alarm, int r) const
    {
        QByteArray f; // raw bytes
        auto byte = [&f](int v) { f.append(char(v & 0xFF)); };
        auto word = [&f](int v) { f.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF)); };
        byte(24), byte(3), byte(7), byte(r / 3600), byte(r / 60 % 60), byte(r % 60);
        if (alarm) {
            for (int i = 0; i < 11; ++i)
                word(100 + i);
            for (int i = 0; i < 3; ++i)
                byte(0);
            byte(0), byte(1), byte(1); // detail, alarm code 1, occurred
        } else {
            word(100), word(r); // unlisted code 100: the value shown as it is
        }
        return f;
    }

    QByteArray answer(const QByteArray &request)
    {
        int tid = 0;
        int function = 0;
        int number = 0;
        if (tcp) {
            tid = (std::uint8_t(request[0]) << 8) | std::uint8_t(request[1]);
            function = std::uint8_t(request[7]);
            if (request.size() >= 11)
                number = (std::uint8_t(request[9]) << 8) | std::uint8_t(request[10]);
        } else {
            function = request.mid(3, 2).toInt(nullptr, 16);
            number = request.size() > 11 ? request.mid(5, 4).toInt(nullptr, 16) : 0;
        }
        const bool count = function == 0x30 || function == 0x40 || function == 0x43 || function == 0x46;
        bool alarm = function == 0x30 || function == 0x31 || function == 0x43 || function == 0x44;
        QByteArray data;
        Fault now = Fault::None;
        if (count) {
            ++countRequests;
            if (!answerCount)
                return {};
            now = countFault;
            data.append(char(records >> 8)).append(char(records & 0xFF)).append('\0').append('\0');
        } else {
            recordRequests << number;
            const int k = int(recordRequests.size());
            if (faultAt > 0 && k >= faultAt && k < faultAt + faultTimes)
                now = fault;
            else
                now = planned(plan, k);
            if (now == Fault::OtherLog) { // the other log's code and record: 0x44 <-> 0x47, 0x31 <-> 0x41
                const int step = tcp ? 3 : 0x10;
                function += alarm ? step : -step;
                alarm = !alarm;
            }
            data = recordFields(alarm, number);
        }
        if (now == Fault::Drop)
            return {};
        ++answers;
        if (now == Fault::WrongSize)
            data.chop(1);
        QByteArray frame;
        if (tcp && (now == Fault::Exception || now == Fault::Busy)) {
            frame = testframes::tcpResponse(tid, function | 0x80, QByteArray(1, now == Fault::Busy ? 6 : 4));
        } else if (tcp) {
            QByteArray pdu;
            if (!count)
                pdu.append(char(data.size()));
            pdu += data;
            frame = testframes::tcpResponse(now == Fault::Garble ? tid + 7 : tid, function, pdu);
        } else {
            QByteArray body = "01" + hex(function + 0x90, 2);
            for (char b : std::as_const(data))
                body += hex(std::uint8_t(b), 2);
            frame = testframes::serialFrame(body);
            if (now == Fault::Garble) // a wrong LRC
                frame.replace(frame.size() - 4, 2, frame.mid(frame.size() - 4, 2) == "00" ? "01" : "00");
            if (now == Fault::NotHex)
                frame[7] = 'G';
        }
        if (now == Fault::Slow) {
            held << frame;
            return {};
        }
        return frame;
    }
};

struct DownloadRig {
    DownloadRig(bool tcp, int records)
        : rig(tcp)
    {
        controller.tcp = tcp;
        controller.records = records;
        rig.state.StatusRegisters[25] = 3; // model 3
        rig.link.setResponder([this](const QByteArray &request) { return controller.answer(request); });
        download.setSerialAnswerMs(60, 60);
        rig.engine.setReadTimeout(100);
    }
    void begin(LogKind kind)
    {
        QVERIFY(download.start(kind));
        download.skipStartDelay();
    }
    bool over() const { return !download.active(); }

    EngineRig rig;
    ScriptedController controller;
    HistoryDownload download{rig.engine};
    QSignalSpy finished{&download, &HistoryDownload::finished};
    QSignalSpy failed{&download, &HistoryDownload::failed};
    QSignalSpy noData{&download, &HistoryDownload::noData};
    QSignalSpy answered{&download, &HistoryDownload::answerArrived};
};

// Row k holds record n - k: the number the scripted controller wrote into it.
int recordOfRow(LogKind kind, const QStringList &cells)
{
    if (kind == LogKind::Event)
        return cells.value(4).toInt();
    const QStringList t = cells.value(2).split(QLatin1Char(':'));
    return t.value(0).toInt() * 3600 + t.value(1).toInt() * 60 + t.value(2).toInt();
}

void checkRows(const DownloadRig &r, LogKind kind, int n)
{
    QCOMPARE(r.download.rows().size(), n);
    for (int k = 1; k <= n; ++k) {
        const QStringList &cells = r.download.rows().at(k - 1);
        QCOMPARE(cells.size(), kind == LogKind::Alarm ? 16 : 5);
        QCOMPARE(cells.value(0), QString::number(k).rightJustified(3, u'0'));
        QCOMPARE(recordOfRow(kind, cells), n - k);
    }
}

} // namespace

class TestHistoryDownload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wholeLog_data();
    void wholeLog();
    void lostAndBadAnswers_data();
    void lostAndBadAnswers();
    void noisyLine_data();
    void noisyLine();
    void slowSerialAnswersNeverShiftRows();
    void lateCountAfterClose();
    void silentControllerGivesUp_data();
    void silentControllerGivesUp();
    void unknownModelOpensNothing();
};

void TestHistoryDownload::wholeLog_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("records");
    for (bool tcp : {false, true}) {
        for (int kind : {1, 2}) {
            for (int n : {0, 1, 3, 250})
                QTest::addRow("%s %s %d", tcp ? "tcp" : "serial", kind == 1 ? "alarm" : "event", n) << tcp << kind << n;
        }
    }
}

void TestHistoryDownload::wholeLog()
{
    QFETCH(bool, tcp);
    QFETCH(int, kind);
    QFETCH(int, records);
    DownloadRig r(tcp, records);
    r.rig.engine.startPolling(300);
    r.begin(LogKind(kind));
    QVERIFY(r.rig.engine.pollingHeld());
    QTRY_VERIFY_WITH_TIMEOUT(r.finished.size() + r.noData.size() > 0, 10000);
    QCOMPARE(r.controller.countRequests, 1);
    QList<int> expected;
    for (int k = 1; k <= records; ++k)
        expected << records - k;
    QCOMPARE(r.controller.recordRequests, expected);
    checkRows(r, LogKind(kind), records);
    QVERIFY(r.over());
    if (records == 0) {
        const bool eventText = kind == 2 && !tcp;
        QCOMPARE(r.noData.at(0).at(0).toString(), eventText ? QStringLiteral("No Event log data") : QStringLiteral("No History data"));
        QVERIFY(!r.download.completed());
    } else {
        QCOMPARE(r.finished.at(0).at(0).toString(), QStringLiteral("%1 History data\rare Saved!!").arg(records));
        QVERIFY(r.download.completed());
        QVERIFY(!r.rig.engine.pollingRunning()); // polling waits for the window to close
    }
    QCOMPARE(r.failed.size(), 0);
    r.download.close();
    QVERIFY(!r.rig.engine.pollingHeld());
    QVERIFY(r.rig.engine.pollingRunning());
    // The next tick polls the status again.
    const auto sent = r.rig.link.written().size();
    r.rig.engine.pollNow();
    QCOMPARE(r.rig.link.written().size(), sent + 1);
    QCOMPARE(quint8(r.rig.link.written().last().at(tcp ? 7 : 4)), quint8(tcp ? 0x04 : '4'));
}

void TestHistoryDownload::lostAndBadAnswers_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("times");
    for (bool tcp : {false, true}) {
        const char *link = tcp ? "tcp" : "serial";
        QTest::addRow("%s dropped", link) << tcp << int(Fault::Drop) << 1;
        QTest::addRow("%s dropped thrice", link) << tcp << int(Fault::Drop) << 3;
        QTest::addRow("%s wrong size", link) << tcp << int(Fault::WrongSize) << 1;
        QTest::addRow("%s garbled", link) << tcp << int(Fault::Garble) << 2;
    }
}

void TestHistoryDownload::lostAndBadAnswers()
{
    QFETCH(bool, tcp);
    QFETCH(int, fault);
    QFETCH(int, times);
    DownloadRig r(tcp, 6);
    r.controller.faultAt = 3;
    r.controller.fault = Fault(fault);
    r.controller.faultTimes = times;
    r.begin(LogKind::Alarm);
    QTRY_VERIFY_WITH_TIMEOUT(r.finished.size() + r.failed.size() > 0, 15000);
    QCOMPARE(r.failed.size(), 0);
    // Record 3 (the third asked for) is asked once more per spoilt answer; nothing else twice.
    QCOMPARE(r.controller.recordRequests, (QList<int>{5, 4} + QList<int>(times + 1, 3) + QList<int>{2, 1, 0}));
    checkRows(r, LogKind::Alarm, 6);
}

void TestHistoryDownload::noisyLine_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("plan");
    // Losses and spoilt answers in one download, some on the same record, some in a row.
    // Letters: d lost, l wrong LRC (TCP: wrong transaction), x not hexadecimal, s wrong size,
    // o the other log's answer, e exception 04, b exception 06 (busy).
    QTest::newRow("serial lost") << false << QByteArray("..d...dd..d.d");
    QTest::newRow("serial spoilt") << false << QByteArray(".l..xs..o.ll.sxo");
    QTest::newRow("serial mixed") << false << QByteArray("d.l.dx..sd.o.ld");
    QTest::newRow("tcp lost") << true << QByteArray("..d...dd..d");
    QTest::newRow("tcp spoilt") << true << QByteArray(".l..es..o.ee.b.l");
    QTest::newRow("tcp mixed") << true << QByteArray("d.l.de..sd.o.bd");
}

void TestHistoryDownload::noisyLine()
{
    QFETCH(bool, tcp);
    QFETCH(QByteArray, plan);
    DownloadRig r(tcp, 12);
    // A spoilt answer is asked again at once: with only spoilt ones, a wait of a minute would
    // show as a test that never ends. Losses need a wait; it must not grow with them.
    const bool lost = plan.contains('d');
    const int wait = lost ? 150 : 60000;
    r.download.setSerialAnswerMs(wait, wait);
    r.controller.plan = plan;
    r.begin(LogKind::Alarm);
    QTRY_VERIFY_WITH_TIMEOUT(r.finished.size() + r.failed.size() > 0, 20000);
    QCOMPARE(r.failed.size(), 0);
    checkRows(r, LogKind::Alarm, 12);
    // Each record is asked once more for each fault on its answers, nothing else twice.
    QList<int> expected;
    for (int record = 11, k = 1; record >= 0; ++k) {
        expected << record;
        if (planned(plan, k) == Fault::None)
            --record;
    }
    QCOMPARE(r.controller.recordRequests, expected);
    // Every answer that came, spoilt or repeated, was a sign of life (on TCP, one of another
    // transaction or another function is the request's failure instead).
    const auto mismatched = tcp ? plan.count('l') + plan.count('o') : 0;
    QCOMPARE(r.answered.size(), r.controller.answers - mismatched);
    if (!tcp)
        QCOMPARE(r.download.answerWaitMs(), wait);
}

void TestHistoryDownload::slowSerialAnswersNeverShiftRows()
{
    // Answers slower than the wait: the record is asked again, then every answer comes. Only
    // the first becomes a row; the wait then follows this controller's time.
    DownloadRig r(false, 5);
    r.download.setSerialAnswerMs(200, 200);
    r.controller.faultAt = 2;
    r.controller.fault = Fault::Slow;
    r.controller.faultTimes = 1000; // every request for record 3 is held back
    r.begin(LogKind::Event);
    QTRY_VERIFY_WITH_TIMEOUT(r.controller.held.size() >= 2, 5000);
    const qsizetype injected = r.controller.held.size();
    for (const QByteArray &answer : std::as_const(r.controller.held))
        r.rig.link.inject(answer);
    r.controller.faultTimes = 0;
    QTRY_VERIFY_WITH_TIMEOUT(r.finished.size() == 1, 10000);
    const qsizetype repeats = r.controller.held.size();
    QCOMPARE(r.controller.recordRequests, (QList<int>{4} + QList<int>(repeats, 3) + QList<int>{2, 1, 0}));
    checkRows(r, LogKind::Event, 5);
    if (repeats == injected) // every answer came (none went out after the test let them go)
        QVERIFY(r.download.answerWaitMs() > 200);
}

void TestHistoryDownload::lateCountAfterClose()
{
    for (bool tcp : {false, true}) {
        DownloadRig r(tcp, 4);
        r.controller.answerCount = false;
        r.begin(LogKind::Alarm);
        QCOMPARE(r.controller.countRequests, 1);
        r.download.close();
        QVERIFY(!r.rig.engine.pollingHeld());
        // The count arrives after the window closed, as the controller sends it: it starts
        // nothing.
        QSignalSpy sent(&r.rig.engine, &LinkEngine::requestSent);
        const QByteArray count = QByteArray::fromHex("00040000");
        r.rig.link.injectNow(tcp ? testframes::tcpResponse(1, 0x43, count)
                                 : testframes::serialFrame("01C0" + count.toHex().toUpper()));
        QVERIFY(!sent.wait(100));
        QVERIFY(r.controller.recordRequests.isEmpty());
        QVERIFY(!r.rig.engine.pollingHeld());
        QVERIFY(!r.download.active());
    }
}

void TestHistoryDownload::silentControllerGivesUp_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<bool>("countLost");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("why");
    const int drop = int(Fault::Drop);
    QTest::newRow("serial count lost") << false << true << drop << "no answer";
    QTest::newRow("serial record lost") << false << false << drop << "no answer";
    QTest::newRow("serial record wrong LRC") << false << false << int(Fault::Garble) << "wrong LRC";
    QTest::newRow("tcp count lost") << true << true << drop << "No response";
    QTest::newRow("tcp record lost") << true << false << drop << "No response";
    QTest::newRow("tcp count exception") << true << true << int(Fault::Exception) << "exception 04 (server device failure)";
    QTest::newRow("tcp record exception") << true << false << int(Fault::Exception) << "exception 04 (server device failure)";
    QTest::newRow("tcp record busy") << true << false << int(Fault::Busy) << "exception 06 (server device busy)";
}

void TestHistoryDownload::silentControllerGivesUp()
{
    QFETCH(bool, tcp);
    QFETCH(bool, countLost);
    QFETCH(int, fault);
    QFETCH(QString, why);
    DownloadRig r(tcp, 3);
    r.download.setSerialAnswerMs(20, 20); // each repeat waits twice as long as the one before
    if (countLost)
        r.controller.countFault = Fault(fault);
    r.controller.faultAt = 2;
    r.controller.fault = Fault(fault);
    r.controller.faultTimes = 100;
    r.begin(LogKind::Alarm);
    QTRY_VERIFY_WITH_TIMEOUT(r.failed.size() == 1, 20000);
    QCOMPARE(r.failed.at(0).at(0).toString(), QStringLiteral(" Please try again "));
    const QString details = r.failed.at(0).at(1).toString();
    QVERIFY2(details.contains(why), qPrintable(details));
    QVERIFY2(details.contains(countLost ? QStringLiteral("the record count") : QStringLiteral("record 2 of 3")),
             qPrintable(details));
    QCOMPARE(r.finished.size(), 0);
    QVERIFY(!r.download.completed());
    const int tries = HistoryDownload::MaxRepeats + 1;
    if (countLost) {
        QCOMPARE(r.controller.countRequests, tries);
    } else {
        QCOMPARE(r.controller.recordRequests, (QList<int>{2} + QList<int>(tries, 1)));
        QCOMPARE(r.download.rows().size(), 1);
    }
    // Nothing more goes out once given up.
    QSignalSpy sent(&r.rig.engine, &LinkEngine::requestSent);
    QVERIFY(!sent.wait(300));
}

void TestHistoryDownload::unknownModelOpensNothing()
{
    DownloadRig r(true, 3);
    r.rig.state.StatusRegisters[25] = 5;
    QVERIFY(!r.download.start(LogKind::Event));
    QVERIFY(!r.rig.engine.pollingHeld());
    QVERIFY(!r.download.active());
}

QTEST_GUILESS_MAIN(TestHistoryDownload)
#include "tst_historydownload.moc"
