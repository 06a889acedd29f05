// The data log: its header and record lines, the automatic save at 1000 / 5000 lines, file
// names that never replace an earlier file, failed saves that keep the lines, the intervals
// and start/stop; and the CP949 text unit that writes the files.

#include "app/consolestate.h"
#include "app/textcodec.h"
#include "monitor/datalog.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln;

namespace {

const QDateTime FixedTime(QDate(2024, 3, 7), QTime(9, 5, 0));

// The first header line in CP949, as an independent encoder (Python's cp949 codec) gives it.
const QByteArray HeaderLine1Cp949 = QByteArray::fromHex(
    "2020bdc3b0a33b2020c0d4b7c2c0fcbed03b2020c0d4b7c2c0fcb7f93b2020c3e2b7c2c0fcbed03b2020c3e2b7c2bace"
    "c7cf3b2020c3e0c0fcc1f6c0fcb7f93b2020c3e0c0fcc1f6bdc7bfc2b5b53b2020b7a2bfc2b5b53b2020c3e2b7c2bcb3"
    "c1a43b2020becbb6f7bbf3c5c23b2020b9e8c5cdb8ae20c0fcbed03b2020bcbfc0fcbed020313b2020bcbfc0fcbed020"
    "323b2020bcbfc0fcbed020333b2020bcbfc0fcbed020343b2020bcbfc0fcbed020353b2020bcbfc0fcbed020363b2020"
    "bcbfc0fcbed020373b2020bcbfc0fcbed020383b2020bcbfc0fcbed020393b2020bcbfc0fcbed02031303b2020bcbfc0"
    "fcbed02031313b2020bcbfc0fcbed02031323b2020bcbfc0fcbed02031333b2020bcbfc0fcbed02031343b2020bcbfc0"
    "fcbed02031353b2020b9e8c5cdb8ae20bab8c8a33b");

using Registers = QMap<int, int>;

void setRegisters(ConsoleState &state, const Registers &regs)
{
    state.StatusRegisters.fill(0);
    for (auto it = regs.cbegin(); it != regs.cend(); ++it)
        state.StatusRegisters[size_t(it.key() - 1)] = it.value();
}

// A log with a state of its own, a fixed clock and a fresh output folder.
struct Rig {
    ConsoleState state;
    QTemporaryDir dir;
    DataLog log{state};

    Rig()
    {
        log.setOutputDirectory(dir.path());
        log.setClock([] { return FixedTime; });
        state.StatusTimeText = QStringLiteral("[  2024-03-07  09:05:00 ]");
        state.SetVoltageText = QStringLiteral("54.0 V");
        state.AlarmWordsText = QStringLiteral("0001 0000");
    }

    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    }
    QByteArray fileBytes(const QString &name) const
    {
        QFile f(QDir(dir.path()).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return f.readAll();
    }
    // Starts logging and adds periodic lines until the memo holds `count` lines.
    void fillTo(int count)
    {
        if (!log.active())
            log.toggle();
        while (log.lines().size() < count)
            log.onLogTick();
    }
};

QStringList splitCrLf(const QByteArray &bytes)
{
    QStringList lines;
    const QList<QByteArray> parts = bytes.split('\n');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        if (!parts[i].endsWith('\r'))
            return {QStringLiteral("<line %1 does not end in CR LF>").arg(i + 1)};
        lines << textcodec::fromCp949(parts[i].chopped(1));
    }
    if (!parts.last().isEmpty())
        lines << QStringLiteral("<unterminated last line>");
    return lines;
}

} // namespace

class TestDataLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void codecRoundTrip_data();
    void codecRoundTrip();
    void codecDecodesBrokenBytes_data();
    void codecDecodesBrokenBytes();

    void headerBytes();
    void record_data();
    void record();
    void fileName();

    void rotation_data();
    void rotation();
    void neverOverwrites();
    void failedSaveKeepsLinesAndLogging_data();
    void failedSaveKeepsLinesAndLogging();

    void startStop();
    void staleLines_data();
    void staleLines();
    void unsavedLinesAndHeader();
    void automaticSavesWriteEachLineOnce_data();
    void automaticSavesWriteEachLineOnce();
    void disconnectDuringPeriodicSave_data();
    void disconnectDuringPeriodicSave();
    void intervals_data();
    void intervals();
    void intervalChangeRestartsPeriod();
};

void TestDataLog::codecRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("encodable");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << QStringLiteral("ALARM1 //0x0001:AC FAIL;\t~") << true
                           << QByteArray("ALARM1 //0x0001:AC FAIL;\t~");
    QTest::newRow("korean") << QStringLiteral("  시간; ") << true << QByteArray::fromHex("2020bdc3b0a33b20");
    // Syllables outside the 2350 of the base set come from the extension of the code page.
    QTest::newRow("extended syllable") << QStringLiteral("똠방각하") << true
                                       << QByteArray::fromHex("8c63b9e6b0a2c7cf");
    QTest::newRow("euro sign") << QStringLiteral("€") << true << QByteArray::fromHex("a2e6");
    QTest::newRow("middle dot") << QStringLiteral("·") << true << QByteArray::fromHex("a1a4");
    QTest::newRow("empty") << QString() << true << QByteArray();
    QTest::newRow("emoji") << QStringLiteral("a😀b") << false << QByteArray("a?b");
    QTest::newRow("e acute") << QStringLiteral("café") << false << QByteArray("caf?");
    QTest::newRow("no-break space") << QStringLiteral("1\u00a0V") << false << QByteArray("1?V");
    QTest::newRow("lone high surrogate at end") << (QStringLiteral("x") + QChar(0xD800)) << false
                                                << QByteArray("x?");
    QTest::newRow("lone low surrogate") << (QString(QChar(0xDC00)) + QStringLiteral("가")) << false
                                        << QByteArray::fromHex("3fb0a1");
}

void TestDataLog::codecRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(bool, encodable);
    QFETCH(QByteArray, bytes);

    QCOMPARE(textcodec::canEncodeCp949(text), encodable);
    bool ok = !encodable;
    QCOMPARE(textcodec::toCp949(text, &ok), bytes);
    QCOMPARE(ok, encodable);
    if (encodable)
        QCOMPARE(textcodec::fromCp949(bytes), text);
    if (QStringView(text).isValidUtf16())
        QCOMPARE(textcodec::fromUtf8(textcodec::toUtf8(text)), text);
}

void TestDataLog::codecDecodesBrokenBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lead byte cut off at the end") << QByteArray("a\xb0") << QStringLiteral("a\uFFFD");
    QTest::newRow("lead byte before an ASCII byte") << QByteArray("\xb0 x") << QStringLiteral("\uFFFD x");
    QTest::newRow("valid pair") << QByteArray("\xb0\xa1") << QStringLiteral("가");
}

void TestDataLog::codecDecodesBrokenBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(textcodec::fromCp949(bytes), text);
}

void TestDataLog::headerBytes()
{
    const QStringList header = DataLog::header();
    QCOMPARE(header.size(), 5);
    QVERIFY(header[0].startsWith(QStringLiteral("  시간;  입력전압; ")));
    QVERIFY(header[0].endsWith(QStringLiteral(" 셀전압 15;  배터리 보호;")));
    QCOMPARE(header[0].count(u';'), 27); // one name per record field
    QCOMPARE(header[1], QString(178, u'-'));
    QCOMPARE(header[4], header[1]);

    const QByteArray expected = HeaderLine1Cp949 + "\r\n" + QByteArray(178, '-') + "\r\n"
        + "ALARM1 //0x0001:AC FAIL, 0x0002:OV, 0x0004:UV, 0x0020:OCA, 0x0100:UF    \r\n"
        + "ALARM2 //0x0002:BLV,     0x0008:OT, 0x0020:BF, 0x0040:BCF\r\n" + QByteArray(178, '-') + "\r\n";
    QCOMPARE(DataLog::fileBytes(header), expected);
}

void TestDataLog::record_data()
{
    QTest::addColumn<Registers>("registers");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("setVoltage");
    QTest::addColumn<QString>("alarmWords");
    QTest::addColumn<QString>("line");

    const QString zeroCells = QStringLiteral("0 V ; ").repeated(15);

    QTest::newRow("example line")
        << Registers{{7, 2205}, {8, 12}, {9, 540}, {10, 125}, {11, 30}, {12, 250}, {13, 315}, {97, 5310}, {110, 354}}
        << QStringLiteral("[  2024-03-07  09:05:00 ]") << QStringLiteral("54.0 V") << QStringLiteral("0000 0000")
        << (QStringLiteral("[  2024-03-07  09:05:00 ]; 220.5 V ; 1.2 A ; 54.0 V ; 12.5 A ; +3.0  A ; +25.0  C ; "
                           "+31.5  C ; 54.0 V ; 0000 0000 ; 53.10 V ; 3.54 V ; ")
            + QStringLiteral("0 V ; ").repeated(14) + QStringLiteral("0000"));

    // The log writes the load current unsigned, a sensor value of 1250 as a number and
    // the widest values without a point.
    Registers odd{{7, 9999}, {8, 10000}, {9, 5}, {10, 0xFFF6}, {11, 0xFFDD}, {12, 1250}, {13, 0x8000},
                  {97, 10000}, {106, 0x00A5}};
    const int cells[15] = {7, 10, 99, 100, 345, 9999, 10000, 65535, 0, 1, 5400, 330, 331, 332, 333};
    for (int i = 0; i < 15; ++i)
        odd[110 + i] = cells[i];
    QTest::newRow("load current 0xFFF6, temperature 1250")
        << odd << QStringLiteral("[  2025-12-31  23:59:59 ]") << QStringLiteral("10.01 V") << QStringLiteral("0041 0080")
        << QStringLiteral("[  2025-12-31  23:59:59 ]; 999.9 V ; 10000 A ; 0.5 V ; 65526 A ; -3.5  A ; +125.0  C ; "
                          "-32768  C ; 10.01 V ; 0041 0080 ; 10000 V ; 0.07 V ; 0.10 V ; 0.99 V ; 1.00 V ; 3.45 V ; "
                          "99.99 V ; 10000 V ; 65535 V ; 0 V ; 0.01 V ; 54.00 V ; 3.30 V ; 3.31 V ; 3.32 V ; "
                          "3.33 V ; 00A5");

    QTest::newRow("before any status") << Registers{} << QString() << QString() << QString()
                                       << (QStringLiteral("; 0.0 V ; 0.0 A ; 0.0 V ; 0.0 A ; +0.0  A ; +0.0  C ; "
                                                          "+0.0  C ;  ;  ; 0 V ; ")
                                           + zeroCells + QStringLiteral("0000"));
    QTest::newRow("battery alarm word FFFF") << Registers{{106, 0xFFFF}} << QString() << QString() << QString()
                                             << (QStringLiteral("; 0.0 V ; 0.0 A ; 0.0 V ; 0.0 A ; +0.0  A ; +0.0  C ; "
                                                                "+0.0  C ;  ;  ; 0 V ; ")
                                                 + zeroCells + QStringLiteral("FFFF"));
}

void TestDataLog::record()
{
    QFETCH(Registers, registers);
    QFETCH(QString, time);
    QFETCH(QString, setVoltage);
    QFETCH(QString, alarmWords);
    QFETCH(QString, line);

    ConsoleState state;
    setRegisters(state, registers);
    state.StatusTimeText = time;
    state.SetVoltageText = setVoltage;
    state.AlarmWordsText = alarmWords;
    DataLog log(state);
    QCOMPARE(log.record(), line);
    QCOMPARE(log.record().count(QStringLiteral(" ; ")), 25);

    // The periodic line is the record; the alarm-change line is "[al]" and the record.
    log.toggle();
    log.onLogTick();
    log.alarmWordsChanged();
    QCOMPARE(log.lines().mid(5), (QStringList{line, QStringLiteral("[al]") + line}));
}

void TestDataLog::fileName()
{
    QCOMPARE(DataLog::fileName(FixedTime), QStringLiteral("QELN-2KN(A)_20240307090500.txt"));
    QCOMPARE(DataLog::fileName(QDateTime(QDate(987, 12, 1), QTime(21, 7, 8))),
             QStringLiteral("QELN-2KN(A)_09871201210708.txt"));
}

void TestDataLog::rotation_data()
{
    QTest::addColumn<int>("before");  // memo lines before the new line
    QTest::addColumn<bool>("alarm");  // an alarm-change line, else a periodic one
    QTest::addColumn<bool>("saves");

    QTest::newRow("alarm at 999") << 999 << true << false;
    QTest::newRow("alarm at 1000") << 1000 << true << true;
    QTest::newRow("periodic at 1000") << 1000 << false << false;
    QTest::newRow("periodic at 4999") << 4999 << false << false;
    QTest::newRow("periodic at 5000") << 5000 << false << true;
    QTest::newRow("alarm at 3000 periodic lines") << 3000 << true << true;
}

void TestDataLog::rotation()
{
    QFETCH(int, before);
    QFETCH(bool, alarm);
    QFETCH(bool, saves);

    Rig rig;
    rig.fillTo(before);
    QStringList expected = rig.log.lines();
    QCOMPARE(expected.size(), before);
    QSignalSpy cleared(&rig.log, &DataLog::memoCleared);
    QSignalSpy saved(&rig.log, &DataLog::saved);
    QSignalSpy failed(&rig.log, &DataLog::saveFailed);

    if (alarm)
        rig.log.alarmWordsChanged();
    else
        rig.log.onLogTick();
    expected << (alarm ? QStringLiteral("[al]") : QString()) + rig.log.record();

    QCOMPARE(failed.count(), 0);
    QVERIFY(rig.log.logTimer()->isActive());
    if (!saves) {
        QCOMPARE(rig.files(), QStringList());
        QCOMPARE(rig.log.lines(), expected);
        QCOMPARE(cleared.count(), 0);
        return;
    }
    const QString name = QStringLiteral("QELN-2KN(A)_20240307090500.txt");
    QCOMPARE(rig.files(), QStringList{name});
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.at(0).at(0).toString(), QDir(rig.dir.path()).filePath(name));
    QCOMPARE(saved.at(0).at(1).toInt(), before + 1);
    const QByteArray bytes = rig.fileBytes(name);
    QCOMPARE(bytes.count("\r\n"), before + 1);
    QCOMPARE(splitCrLf(bytes), expected);
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(rig.log.lines(), DataLog::header());
}

void TestDataLog::neverOverwrites()
{
    Rig rig;
    // Someone else's file of that second is there already.
    QFile other(QDir(rig.dir.path()).filePath(QStringLiteral("QELN-2KN(A)_20240307090500.txt")));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("not ours\n");
    other.close();

    rig.fillTo(6);
    const QString first = rig.log.save();
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("QELN-2KN(A)_20240307090500-2.txt"));
    QCOMPARE(rig.log.lines().size(), 6); // the memo keeps its lines
    rig.log.onLogTick();
    const QString second = rig.log.save();
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("QELN-2KN(A)_20240307090500-3.txt"));

    QCOMPARE(rig.fileBytes(QStringLiteral("QELN-2KN(A)_20240307090500.txt")), QByteArray("not ours\n"));
    QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(first).fileName())), rig.log.lines().mid(0, 6));
    QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(second).fileName())), rig.log.lines());
    QCOMPARE(rig.fileBytes(QFileInfo(second).fileName()), DataLog::fileBytes(rig.log.lines()));

    // An automatic save in the same second takes the next free name too.
    rig.fillTo(DataLog::PeriodicLimit);
    rig.log.onLogTick();
    QCOMPARE(rig.files().size(), 4);
    QVERIFY(rig.files().contains(QStringLiteral("QELN-2KN(A)_20240307090500-4.txt")));
    QCOMPARE(rig.fileBytes(QStringLiteral("QELN-2KN(A)_20240307090500-4.txt")).count("\r\n"),
             DataLog::PeriodicLimit + 1);

    // "삭제" empties the memo and leaves logging and files alone; the header starts it again.
    rig.log.clear();
    QCOMPARE(rig.log.lines(), DataLog::header());
    QVERIFY(rig.log.active());
    QCOMPARE(rig.files().size(), 4);
}

void TestDataLog::failedSaveKeepsLinesAndLogging_data()
{
    QTest::addColumn<QString>("badDir"); // relative to the rig's folder; a file "file.txt" is there
    QTest::addColumn<bool>("alarm");
    // Tests may run as root, whom no folder permission stops: the bad folders are ones that
    // cannot exist.
    QTest::newRow("missing folder, periodic") << QStringLiteral("missing/sub") << false;
    QTest::newRow("under a file, periodic") << QStringLiteral("file.txt/sub") << false;
    QTest::newRow("a file, alarm") << QStringLiteral("file.txt") << true;
    QTest::newRow("missing folder, alarm") << QStringLiteral("missing") << true;
    // A folder where no file can be created: the write itself fails.
    QTest::newRow("kernel folder, periodic") << QStringLiteral("/proc") << false;
}

void TestDataLog::failedSaveKeepsLinesAndLogging()
{
    QFETCH(QString, badDir);
    QFETCH(bool, alarm);

    Rig rig;
    {
        QFile file(QDir(rig.dir.path()).filePath(QStringLiteral("file.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString goodDir = rig.dir.path();
    const QString bad = QDir(goodDir).filePath(badDir);
    rig.log.setOutputDirectory(bad);
    const QString remedy = QStringLiteral("Pick another folder.");
    rig.log.setFailureRemedy(remedy);
    const int limit = alarm ? DataLog::AlarmLimit : DataLog::PeriodicLimit;
    const auto addLine = [&] { alarm ? rig.log.alarmWordsChanged() : rig.log.onLogTick(); };

    rig.fillTo(limit);
    QSignalSpy failed(&rig.log, &DataLog::saveFailed);
    QSignalSpy cleared(&rig.log, &DataLog::memoCleared);

    // "저장" fails: nothing written, the lines stay, the message names the folder and the way out.
    QCOMPARE(rig.log.save(), QString());
    QCOMPARE(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    QVERIFY2(message.contains(QDir::toNativeSeparators(bad)), qPrintable(message));
    QVERIFY2(message.endsWith(QStringLiteral("logging goes on. ") + remedy), qPrintable(message));

    // The automatic save fails twice: every line is kept and logging goes on.
    addLine();
    addLine();
    QCOMPARE(failed.count(), 3);
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(rig.log.lines().size(), limit + 2);
    QVERIFY(rig.log.active());
    QVERIFY(rig.log.logTimer()->isActive());
    QCOMPARE(rig.log.buttonCaption(), QStringLiteral("Log 중지"));
    QCOMPARE(rig.files(), QStringList{QStringLiteral("file.txt")});

    // Once the folder is usable the next line saves them all.
    QStringList expected = rig.log.lines();
    rig.log.setOutputDirectory(goodDir);
    addLine();
    QCOMPARE(failed.count(), 3);
    QCOMPARE(rig.log.lines(), DataLog::header());
    const QByteArray bytes = rig.fileBytes(QStringLiteral("QELN-2KN(A)_20240307090500.txt"));
    QCOMPARE(bytes.count("\r\n"), limit + 3);
    const QStringList saved = splitCrLf(bytes);
    QCOMPARE(saved.mid(0, limit + 2), expected);
    QCOMPARE(saved.last(), (alarm ? QStringLiteral("[al]") : QString()) + rig.log.record());
}

void TestDataLog::startStop()
{
    Rig rig;
    QSignalSpy active(&rig.log, &DataLog::activeChanged);
    QCOMPARE(rig.log.buttonCaption(), QStringLiteral("Log 시작"));
    QVERIFY(!rig.log.active());
    QVERIFY(!rig.log.logTimer()->isActive());
    QCOMPARE(rig.log.logTimer()->interval(), 2000);

    // No alarm lines while stopped.
    rig.log.alarmWordsChanged();
    QVERIFY(rig.log.lines().isEmpty());

    rig.log.toggle();
    QCOMPARE(rig.log.buttonCaption(), QStringLiteral("Log 중지"));
    QVERIFY(rig.log.active());
    QVERIFY(rig.log.logTimer()->isActive());
    QCOMPARE(rig.log.lines(), DataLog::header());
    rig.log.onLogTick();
    QVERIFY(rig.log.logTimer()->isActive());

    rig.log.toggle();
    QCOMPARE(rig.log.buttonCaption(), QStringLiteral("Log 시작"));
    QVERIFY(!rig.log.active());
    QVERIFY(!rig.log.logTimer()->isActive());
    rig.log.alarmWordsChanged();
    QCOMPARE(rig.log.lines().size(), 6);

    // Starting again keeps the memo and adds a header.
    rig.log.toggle();
    QCOMPARE(rig.log.lines().size(), 11);
    QCOMPARE(rig.log.lines().mid(6), DataLog::header());
    // A disconnect stops it like the button; a second stop changes nothing.
    rig.log.stop();
    rig.log.stop();
    QVERIFY(!rig.log.logTimer()->isActive());
    QCOMPARE(rig.log.buttonCaption(), QStringLiteral("Log 시작"));
    QCOMPARE(active.count(), 4);
    QCOMPARE(active.last().at(0).toBool(), false);
    QCOMPARE(rig.files(), QStringList());
}

void TestDataLog::intervals_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("caption");
    const QStringList captions = DataLog::intervalCaptions();
    QCOMPARE(captions.size(), DataLog::IntervalCount);
    const int ms[] = {2000, 10000, 60000, 120000, 300000, 600000, 1800000};
    const char *texts[] = {"2초", "10초", "1분", "2분", "5분", "10분", "30분"};
    for (int i = 0; i < DataLog::IntervalCount; ++i)
        QTest::addRow("%d", i) << i << ms[i] << QString::fromUtf8(texts[i]);
}

void TestDataLog::intervals()
{
    QFETCH(int, index);
    QFETCH(int, ms);
    QFETCH(QString, caption);
    QCOMPARE(DataLog::intervalCaptions().at(index), caption);
    QCOMPARE(DataLog::intervalMs(index), ms);

    Rig rig;
    rig.log.setIntervalIndex(index);
    QCOMPARE(rig.log.intervalIndex(), index);
    QCOMPARE(rig.log.logTimer()->interval(), ms);
    QVERIFY(!rig.log.logTimer()->isActive()); // choosing does not start logging
    // An item outside the group changes nothing.
    rig.log.setIntervalIndex(DataLog::IntervalCount);
    rig.log.setIntervalIndex(-1);
    QCOMPARE(rig.log.intervalIndex(), index);
    QCOMPARE(rig.log.logTimer()->interval(), ms);
}

void TestDataLog::intervalChangeRestartsPeriod()
{
    Rig rig;
    rig.log.setIntervalIndex(6);
    rig.log.toggle();
    QVERIFY(rig.log.logTimer()->remainingTime() > 600000);
    // The running period is dropped: the next line comes one new interval from now.
    rig.log.setIntervalIndex(5);
    QVERIFY(rig.log.logTimer()->isActive());
    QCOMPARE(rig.log.logTimer()->interval(), 600000);
    const int remaining = rig.log.logTimer()->remainingTime();
    QVERIFY2(remaining > 600000 - 1000 && remaining < 600000 + 1000, qPrintable(QString::number(remaining)));
}

void TestDataLog::staleLines_data()
{
    // Steps: d a status decoded, a the alarm words changed with it, h the poll held (a dialog
    // or a download), r the poll resumed, t a tick of the log timer.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("lines"); // record lines written
    QTest::newRow("polled, silent controller: lines go on") << "tt" << 2;
    QTest::newRow("polled, answering") << "dtdt" << 2;
    QTest::newRow("held before any status") << "ht" << 0;
    QTest::newRow("held: one line per new status") << "dthtttt" << 1;
    QTest::newRow("held, a status arrives") << "dthtdtt" << 2;
    QTest::newRow("resumed, before the next status") << "dthtrtt" << 1;
    QTest::newRow("resumed, the next status") << "dthtrdtdt" << 3;
    QTest::newRow("alarm line logged the status") << "hdatt" << 1;
}

void TestDataLog::staleLines()
{
    QFETCH(QString, steps);
    QFETCH(int, lines);

    Rig rig;
    bool held = false;
    rig.log.setHoldCheck([&held] { return held; });
    rig.log.toggle();
    for (const QChar step : steps) {
        switch (step.unicode()) {
        case 'd':
            rig.log.statusDecoded();
            break;
        case 'a':
            rig.log.alarmWordsChanged();
            break;
        case 'h':
            held = true;
            break;
        case 'r':
            held = false;
            break;
        case 't':
            rig.log.onLogTick();
            QVERIFY(rig.log.logTimer()->isActive()); // a skipped tick still waits for the next
            break;
        }
    }
    QCOMPARE(rig.log.lines().size() - DataLog::header().size(), lines);
    QCOMPARE(rig.log.unsavedLines(), lines);
}

void TestDataLog::unsavedLinesAndHeader()
{
    Rig rig;
    const QStringList head = DataLog::header();
    // Nothing to save: no file.
    QCOMPARE(rig.log.saveUnsaved(), QString());
    rig.log.toggle();
    QCOMPARE(rig.log.saveUnsaved(), QString());
    QCOMPARE(rig.files(), QStringList());

    rig.log.onLogTick();
    rig.log.onLogTick();
    QCOMPARE(rig.log.unsavedLines(), 2);
    const QString first = rig.log.saveUnsaved();
    QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(first).fileName())), rig.log.lines());
    QCOMPARE(rig.log.unsavedLines(), 0);
    QCOMPARE(rig.log.saveUnsaved(), QString());

    // "삭제" while running: the lines after it go to a file that starts with the header.
    rig.log.onLogTick();
    rig.log.clear();
    QCOMPARE(rig.log.unsavedLines(), 0);
    rig.log.onLogTick();
    const QStringList afterDelete = splitCrLf(rig.fileBytes(QFileInfo(rig.log.save()).fileName()));
    QCOMPARE(afterDelete, head + QStringList{rig.log.record()});

    // "삭제" while stopped, then saved: the file is the header alone.
    rig.log.stop();
    rig.log.clear();
    QVERIFY(rig.log.lines().isEmpty());
    QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(rig.log.save()).fileName())), head);
    QCOMPARE(rig.files().size(), 3);
}

void TestDataLog::automaticSavesWriteEachLineOnce_data()
{
    // Steps: g start, x stop (a disconnect), t a periodic line, a an alarm line, u the automatic
    // save (disconnect, exit), s "저장", c "삭제", b the output folder gone, o it back, r periodic
    // lines up to the save at 5000 lines.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("autoFiles"); // files the automatic saves write
    QTest::newRow("disconnect, then exit") << "gtttxugtu" << 2;
    QTest::newRow("exit with nothing new after the disconnect") << "gttxugu" << 1;
    QTest::newRow("exit twice") << "gttuu" << 1;
    QTest::newRow("nothing logged") << "gu" << 0;
    QTest::newRow("stopped before any line") << "u" << 0;
    QTest::newRow("alarm lines") << "gtatxugau" << 2;
    QTest::newRow("failed save, the next one has its lines") << "gttbxuogtu" << 1;
    QTest::newRow("failed save twice, then stopped") << "gtbuxuou" << 1;
    QTest::newRow("저장 first: only what followed it") << "gttsttu" << 1;
    QTest::newRow("저장 after the automatic save") << "gttutsu" << 1;
    QTest::newRow("삭제 after a save") << "gttutcttu" << 2;
    QTest::newRow("삭제 of the unsaved lines while stopped") << "gtutxcu" << 1;
    QTest::newRow("restarted without a save between") << "gtxgtu" << 1;
    QTest::newRow("started twice, saved between") << "gtxugtxu" << 2;
    QTest::newRow("disconnect, then the save at 5000 lines") << "gttxugrtu" << 3;
    QTest::newRow("저장, then the save at 5000 lines") << "gtsrtu" << 2;
    QTest::newRow("삭제 after a disconnect's save, then 5000 lines") << "gtxugcru" << 2;
}

void TestDataLog::automaticSavesWriteEachLineOnce()
{
    QFETCH(QString, steps);
    QFETCH(int, autoFiles);

    Rig rig;
    const QString goodDir = rig.dir.path();
    const QStringList head = DataLog::header();
    int lineNumber = 0;
    // Every record differs by its time: a line written twice shows.
    const auto nextRecord = [&] {
        rig.state.StatusTimeText = QStringLiteral("[ line %1 ]").arg(++lineNumber);
        rig.log.statusDecoded();
    };
    QStringList unsaved;   // the record lines no file holds yet, in order
    QStringList unwritten; // the record lines no automatic save has written yet, in order
    QStringList autoSaved; // the record lines of every automatic save's file, in order
    int written = 0;
    // The header first, then the record lines; a start between them keeps its header as on
    // the page.
    const auto recordsOf = [&](const QString &path) {
        const QStringList lines = splitCrLf(rig.fileBytes(QFileInfo(path).fileName()));
        if (lines.mid(0, head.size()) != head)
            return QStringList{QStringLiteral("<no header first>")};
        QStringList records = lines;
        records.removeIf([&head](const QString &line) { return head.contains(line); });
        return records;
    };
    for (const QChar step : steps) {
        const QString at = QStringLiteral("step %1 of %2").arg(step).arg(steps);
        switch (step.unicode()) {
        case 'g':
            rig.log.start();
            break;
        case 'x':
            rig.log.stop();
            break;
        case 't':
            nextRecord();
            rig.log.onLogTick();
            unsaved << rig.log.lines().last();
            unwritten << rig.log.lines().last();
            break;
        case 'a':
            nextRecord();
            rig.log.alarmWordsChanged();
            unsaved << rig.log.lines().last();
            unwritten << rig.log.lines().last();
            break;
        case 'r': {
            QSignalSpy saved(&rig.log, &DataLog::saved);
            while (saved.isEmpty()) {
                nextRecord();
                unsaved << rig.log.record();
                unwritten << rig.log.record();
                rig.log.onLogTick();
            }
            ++written;
            // Lines only "저장" wrote go to this file too, a disconnect's lines do not.
            QCOMPARE(recordsOf(saved.at(0).at(0).toString()), unwritten);
            QCOMPARE(rig.log.lines(), head);
            autoSaved += unwritten;
            unsaved.clear();
            unwritten.clear();
            break;
        }
        case 'b':
            rig.log.setOutputDirectory(QDir(goodDir).filePath(QStringLiteral("gone")));
            break;
        case 'o':
            rig.log.setOutputDirectory(goodDir);
            break;
        case 'c':
            rig.log.clear();
            unsaved.clear();
            unwritten.clear();
            break;
        case 's': {
            const QString path = rig.log.save();
            QVERIFY2(!path.isEmpty(), qPrintable(at));
            // "저장" writes the whole memo.
            QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(path).fileName())), rig.log.lines());
            unsaved.clear();
            break;
        }
        case 'u': {
            const QStringList filesBefore = rig.files();
            const int count = rig.log.unsavedLines();
            QCOMPARE(count, unsaved.size());
            QSignalSpy saved(&rig.log, &DataLog::saved);
            QSignalSpy failed(&rig.log, &DataLog::saveFailed);
            const QStringList memo = rig.log.lines();
            const QString path = rig.log.saveUnsaved();
            QCOMPARE(rig.log.lines(), memo); // the page keeps its lines
            if (unsaved.isEmpty() || !failed.isEmpty()) {
                QVERIFY2(path.isEmpty(), qPrintable(at));
                QCOMPARE(rig.files(), filesBefore);
                QCOMPARE(rig.log.unsavedLines(), count);
                break;
            }
            QVERIFY2(!path.isEmpty(), qPrintable(at));
            ++written;
            // Each line not yet in a file, as many as the note tells.
            QCOMPARE(recordsOf(path), unsaved);
            QCOMPARE(saved.size(), 1);
            QCOMPARE(saved.at(0).at(1).toInt(), splitCrLf(rig.fileBytes(QFileInfo(path).fileName())).size());
            QCOMPARE(rig.log.unsavedLines(), 0);
            autoSaved += unsaved;
            unsaved.clear();
            unwritten.clear();
            break;
        }
        }
    }
    QCOMPARE(written, autoFiles);
    QCOMPARE(int(autoSaved.size()), int(QSet<QString>(autoSaved.cbegin(), autoSaved.cend()).size()));
}

void TestDataLog::disconnectDuringPeriodicSave_data()
{
    QTest::addColumn<bool>("folderOk");
    QTest::newRow("the periodic save succeeds") << true;
    QTest::newRow("the periodic save fails") << false;
}

void TestDataLog::disconnectDuringPeriodicSave()
{
    // The link drops while the save at 5000 lines reports: the disconnect's save runs inside it.
    QFETCH(bool, folderOk);

    Rig rig;
    const QString goodDir = rig.dir.path();
    if (!folderOk)
        rig.log.setOutputDirectory(QDir(goodDir).filePath(QStringLiteral("gone")));
    rig.fillTo(DataLog::PeriodicLimit);
    QStringList inner;
    const auto disconnect = [&] {
        if (!rig.log.active())
            return;
        rig.log.stop();
        inner << rig.log.saveUnsaved();
    };
    connect(&rig.log, &DataLog::saved, &rig.log, disconnect);
    connect(&rig.log, &DataLog::saveFailed, &rig.log, disconnect);
    rig.log.onLogTick();
    const QStringList memo = rig.log.lines();
    QCOMPARE(inner, QStringList{QString()}); // nothing new, or the same failure
    QVERIFY(!rig.log.active());
    QVERIFY(!rig.log.logTimer()->isActive());

    if (folderOk) {
        // One file of the whole memo; the memo starts again empty of unsaved lines.
        QCOMPARE(rig.files().size(), 1);
        QCOMPARE(splitCrLf(rig.fileBytes(rig.files().first())).size(), DataLog::PeriodicLimit + 1);
        QCOMPARE(memo, DataLog::header());
        QCOMPARE(rig.log.unsavedLines(), 0);
        QCOMPARE(rig.log.saveUnsaved(), QString());
        QCOMPARE(rig.files().size(), 1);
        return;
    }
    // Nothing written: every line waits for the next save, which writes each of them once.
    QCOMPARE(rig.files(), QStringList());
    QCOMPARE(memo.size(), DataLog::PeriodicLimit + 1);
    QCOMPARE(rig.log.unsavedLines(), DataLog::PeriodicLimit + 1 - DataLog::header().size());
    rig.log.setOutputDirectory(goodDir);
    const QString path = rig.log.saveUnsaved();
    QVERIFY(!path.isEmpty());
    QCOMPARE(splitCrLf(rig.fileBytes(QFileInfo(path).fileName())), memo);
    QCOMPARE(rig.log.saveUnsaved(), QString());
}

QTEST_GUILESS_MAIN(TestDataLog)
#include "tst_datalog.moc"
