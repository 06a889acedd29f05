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
enum class Fault { None, Drop, WrongSize, Garble, Slow };

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
    bool answerCount = true;
    QList<int> recordRequests; // record numbers asked for, in order
    int countRequests = 0;
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
        const bool alarm = function == 0x30 || function == 0x31 || function == 0x43 || function == 0x44;
        QByteArray data;
        if (count) {
            ++countRequests;
            if (!answerCount)
                return {};
            data.append(char(records >> 8)).append(char(records & 0xFF)).append('\0').append('\0');
        } else {
            recordRequests << number;
            data = recordFields(alarm, number);
        }
        const int k = int(recordRequests.size());
        Fault now = Fault::None;
        if (!count && faultAt > 0 && k >= faultAt && k < faultAt + faultTimes)
            now = fault;
        if (now == Fault::Drop)
            return {};
        if (now == Fault::WrongSize)
            data.chop(1);
        QByteArray frame;
        if (tcp) {
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
        rig.engine.setDecoders(&download);
        rig.link.setResponder([this](const QByteArray &request) { return controller.answer(request); });
        download.setSerialAnswerMs(60);
    }
    void begin(LogKind kind)
    {
        QVERIFY(download.start(kind));
        for (int i = 0; i < HistoryDownload::StartTicks; ++i)
            download.Timer1Timer();
    }
    bool over() const { return !download.active(); }

    EngineRig rig;
    ScriptedController controller;
    HistoryDownload download{rig.engine};
    QSignalSpy finished{&download, &HistoryDownload::finished};
    QSignalSpy failed{&download, &HistoryDownload::failed};
    QSignalSpy noData{&download, &HistoryDownload::noData};
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
    r.rig.engine.pollTimer()->start(300);
    r.begin(LogKind(kind));
    QCOMPARE(r.rig.state.RequestState, StateTcpHistory);
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
        QVERIFY(!r.rig.engine.pollTimer()->isActive()); // polling waits for the window to close
    }
    QCOMPARE(r.failed.size(), 0);
    r.download.close();
    QCOMPARE(r.rig.state.RequestState, StatePoll);
    QCOMPARE(r.rig.state.PollReady, 1);
    QVERIFY(r.rig.engine.pollTimer()->isActive());
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

void TestHistoryDownload::slowSerialAnswersNeverShiftRows()
{
    // Answers slower than the repeat period: the record is asked again, then both answers
    // come. The second must not become the next row.
    DownloadRig r(false, 5);
    r.download.setSerialAnswerMs(200);
    r.controller.faultAt = 2;
    r.controller.fault = Fault::Slow;
    r.controller.faultTimes = 2; // the request and its repeat are both held back
    r.begin(LogKind::Event);
    QTRY_COMPARE_WITH_TIMEOUT(r.controller.held.size(), 2, 5000);
    QCOMPARE(r.controller.recordRequests, (QList<int>{4, 3, 3}));
    r.rig.link.inject(r.controller.held.takeFirst());
    QTRY_COMPARE(r.download.rows().size(), 2);
    QTest::qWait(20);
    QCOMPARE(r.controller.recordRequests.size(), 3); // nothing asked while the late answer is due
    r.rig.link.inject(r.controller.held.takeFirst());
    QTRY_VERIFY_WITH_TIMEOUT(r.finished.size() == 1, 5000);
    QCOMPARE(r.controller.recordRequests, (QList<int>{4, 3, 3, 2, 1, 0}));
    checkRows(r, LogKind::Event, 5);
}

void TestHistoryDownload::lateCountAfterClose()
{
    for (bool tcp : {false, true}) {
        DownloadRig r(tcp, 4);
        r.controller.answerCount = false;
        r.begin(LogKind::Alarm);
        QCOMPARE(r.controller.countRequests, 1);
        r.download.close();
        QCOMPARE(r.rig.state.RequestState, StatePoll);
        // The count arrives after the window closed: it starts nothing.
        r.rig.state.FunctionCodeText = tcp ? "43" : "C0";
        r.rig.state.ResponseText = tcp ? QByteArray("\x00\x04\x00\x00", 4) : QByteArray(":01C00004000037");
        r.download.DecodeHistoryCount(r.rig.state);
        QTest::qWait(100);
        QVERIFY(r.controller.recordRequests.isEmpty());
        QCOMPARE(r.rig.state.RequestState, StatePoll);
        QCOMPARE(r.rig.state.RecordTotal, 0);
    }
}

void TestHistoryDownload::silentControllerGivesUp_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<bool>("countLost");
    QTest::newRow("serial count") << false << true;
    QTest::newRow("serial record") << false << false;
    QTest::newRow("tcp count") << true << true;
    QTest::newRow("tcp record") << true << false;
}

void TestHistoryDownload::silentControllerGivesUp()
{
    QFETCH(bool, tcp);
    QFETCH(bool, countLost);
    DownloadRig r(tcp, 3);
    r.controller.answerCount = !countLost;
    r.controller.faultAt = 2;
    r.controller.fault = Fault::Drop;
    r.controller.faultTimes = 100;
    r.begin(LogKind::Alarm);
    QTRY_VERIFY_WITH_TIMEOUT(r.failed.size() == 1, 20000);
    QCOMPARE(r.failed.at(0).at(0).toString(), QStringLiteral(" Please try again "));
    QVERIFY(!r.failed.at(0).at(1).toString().isEmpty());
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
    const auto sent = r.rig.link.written().size();
    QTest::qWait(300);
    QCOMPARE(r.rig.link.written().size(), sent);
}

void TestHistoryDownload::unknownModelOpensNothing()
{
    DownloadRig r(true, 3);
    r.rig.state.StatusRegisters[25] = 5;
    QVERIFY(!r.download.start(LogKind::Event));
    QCOMPARE(r.rig.state.RequestState, StatePoll);
    QCOMPARE(r.rig.state.HistoryDownloadActive, 0);
}

QTEST_GUILESS_MAIN(TestHistoryDownload)
#include "tst_historydownload.moc"
