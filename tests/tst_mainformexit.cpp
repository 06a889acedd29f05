// The main window on the way out and on the screen: the data log's unsaved lines saved on
// exit and disconnect and the operator told where, no stale log line while a dialog holds the
// poll, and the window's fit to screens of several sizes.

#include "consolerig.h"
#include "fakequestions.h"

#include "app/msgform.h"
#include "link/tcptransport.h"
#include "app/textcodec.h"
#include "monitor/datalog.h"
#include "monitor/livemonitor.h"
#include "monitor/logpage.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>

using qeln::MainForm;

class TestMainFormExit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exitSavesUnsavedLines_data();
    void exitSavesUnsavedLines();
    void disconnectSavesUnsavedLines();
    void heldPollWritesNoStaleLine();
    void fitsTheScreen_data();
    void fitsTheScreen();
    void smallScreenScrollsTheLayout();
};

namespace {

QStringList savedLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<cannot read %1>").arg(path)};
    QStringList lines = qeln::textcodec::fromCp949(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList filesIn(const QString &dir)
{
    QStringList paths;
    for (const QString &name : QDir(dir).entryList(QDir::Files))
        paths << QDir(dir).filePath(name);
    return paths;
}

// Starts the data log once the controller answers and writes `lines` periodic lines into it.
void logLines(ConsoleRig &rig, int lines)
{
    QTRY_VERIFY(rig.decodes > 0);
    qeln::DataLog &log = rig.window.monitor().dataLog();
    if (!log.active())
        log.toggle();
    for (int i = 0; i < lines; ++i)
        log.onLogTick();
}

} // namespace

void TestMainFormExit::exitSavesUnsavedLines_data()
{
    QTest::addColumn<bool>("menu");     // "종료", else the close box
    QTest::addColumn<bool>("folderOk"); // else the output folder has gone
    QTest::addColumn<bool>("leave");    // the answer when the save failed
    QTest::newRow("menu exit") << true << true << false;
    QTest::newRow("close box") << false << true << false;
    QTest::newRow("menu exit, save fails, operator stays") << true << false << false;
    QTest::newRow("close box, save fails, operator leaves") << false << false << true;
}

void TestMainFormExit::exitSavesUnsavedLines()
{
    QFETCH(bool, menu);
    QFETCH(bool, folderOk);
    QFETCH(bool, leave);

    ConsoleRig rig(true);
    MainForm *window = &rig.window;
    const QString folder = folderOk ? rig.out.path() : rig.out.filePath(QStringLiteral("gone"));
    window->setOutputDirectory(folder);
    FakeQuestions questions;
    questions.closeNotes = false;
    questions.answer = leave;
    window->setQuestions(&questions);
    logLines(rig, 3);
    const QStringList memo = window->monitor().dataLog().lines();
    QSignalSpy closed(window, &MainForm::closed);

    if (menu)
        window->menuItem(QStringLiteral("mExit"))->trigger();
    else
        window->close();

    if (folderOk) {
        // Saved whole, header first; the note names the file and the window waits for it.
        const QStringList files = filesIn(rig.out.path());
        QCOMPARE(files.size(), 1);
        QCOMPARE(savedLines(files.first()), memo);
        QCOMPARE(memo.mid(0, 5), qeln::DataLog::header());
        QCOMPARE(questions.told.size(), 1);
        QVERIFY2(questions.told.first().text.contains(QDir::toNativeSeparators(files.first())),
                 qPrintable(questions.told.first().text));
        QVERIFY(questions.told.first().timeoutMs > 0); // it cannot hold the exit forever
        QCOMPARE(closed.size(), 0);
        questions.told.first().closed();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!window->isVisible());
        return;
    }
    // Nothing could be saved: the operator is asked, naming the folder.
    QCOMPARE(questions.asked.size(), 1);
    QVERIFY2(questions.asked.first().text.contains(QDir::toNativeSeparators(folder)),
             qPrintable(questions.asked.first().text));
    QCOMPARE(closed.size(), leave ? 1 : 0);
    if (leave)
        return;
    QVERIFY(window->isVisible());
    // The exit has not begun: no closing window, the link is up.
    QVERIFY(!child<qeln::MsgForm>(window, "frmMsg")->isVisible());
    QVERIFY(rig.session.tcpClient().isOpen());
    QCOMPARE(window->monitor().dataLog().lines(), memo);
    QCOMPARE(child<QTabWidget>(window, "PageControl1")->currentWidget(), window->logPage());
    // Another folder, and the next close saves there.
    QVERIFY(window->logPage()->chooseOutputFolder(rig.out.path()));
    window->close();
    QCOMPARE(filesIn(rig.out.path()).size(), 1);
    QCOMPARE(savedLines(filesIn(rig.out.path()).first()), memo);
    QCOMPARE(questions.told.size(), 1);
    questions.told.first().closed();
    QCOMPARE(closed.size(), 1);
}

void TestMainFormExit::disconnectSavesUnsavedLines()
{
    ConsoleRig rig(true);
    MainForm *window = &rig.window;
    const QTemporaryDir &out = rig.out;
    logLines(rig, 2);
    qeln::DataLog &log = window->monitor().dataLog();
    QVERIFY(log.unsavedLines() >= 2);

    window->menuItem(QStringLiteral("mDisconnect"))->trigger();
    QVERIFY(!log.active());
    QCOMPARE(log.unsavedLines(), 0);
    const QStringList files = filesIn(out.path());
    QCOMPARE(files.size(), 1);
    QCOMPARE(savedLines(files.first()), log.lines());
    QMessageBox *note = nullptr;
    for (QMessageBox *box : window->findChildren<QMessageBox *>(QStringLiteral("logSavedBox")))
        note = box->isVisible() ? box : note;
    QVERIFY(note);
    QVERIFY2(note->text().contains(QDir::toNativeSeparators(files.first())), qPrintable(note->text()));
    const qsizetype headerLines = qeln::DataLog::header().size();
    const qsizetype firstRecords = log.lines().size() - headerLines;
    QVERIFY2(note->text().contains(QStringLiteral("Its %1 unsaved lines").arg(firstRecords)),
             qPrintable(note->text()));

    // A line after that: the close saves it and says where in a box, which OK closes.
    logLines(rig, 1);
    QSignalSpy closed(window, &MainForm::closed);
    window->close();
    QCOMPARE(closed.size(), 0);
    QMessageBox *exitNote = window->findChild<QMessageBox *>(QStringLiteral("exitLogSavedBox"));
    QVERIFY(exitNote && exitNote->isVisible());
    QStringList both = filesIn(out.path());
    QCOMPARE(both.size(), 2);
    // The exit's file holds the header and the line since the disconnect, as its note counts;
    // the disconnect's lines stay in the disconnect's file alone.
    both.removeOne(files.first());
    QCOMPARE(savedLines(both.first()), qeln::DataLog::header() + QStringList{log.lines().last()});
    QVERIFY2(exitNote->text().contains(QStringLiteral("log's 1 unsaved lines")), qPrintable(exitNote->text()));
    QTest::mouseClick(exitNote->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_COMPARE(closed.size(), 1);
}

void TestMainFormExit::heldPollWritesNoStaleLine()
{
    ConsoleRig rig(true);
    qeln::DataLog &log = rig.window.monitor().dataLog();
    log.setIntervalIndex(6); // the ticks below are the test's own
    logLines(rig, 1);
    const qsizetype before = log.lines().size();

    // A settings dialog holds the poll: its ticks write nothing.
    QDialog *settings = rig.open("mSystemConfiguration", "frmPoint_Setting");
    QVERIFY(settings);
    QVERIFY(rig.pollHeld());
    for (int tick = 0; tick < 3; ++tick)
        log.onLogTick();
    QCOMPARE(log.lines().size(), before);

    // Closed: nothing until the next status, then one line.
    settings->reject();
    log.onLogTick();
    QCOMPARE(log.lines().size(), before);
    QSignalSpy decoded(&rig.engine(), &qeln::LinkEngine::statusReceived);
    QVERIFY(decoded.wait(5000));
    log.onLogTick();
    QCOMPARE(log.lines().size(), before + 1);
}

void TestMainFormExit::fitsTheScreen_data()
{
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QRect>("available");
    const QSize mainWindow = MainForm::DesignSize;
    const QSize history(1440, 565);
    QTest::newRow("main window, 1366x768") << mainWindow << QRect(0, 0, 1366, 768);
    QTest::newRow("main window, 1366x768 under a top panel") << mainWindow << QRect(0, 27, 1366, 741);
    QTest::newRow("main window, 1920x1080") << mainWindow << QRect(0, 0, 1920, 1080);
    QTest::newRow("main window, second screen 1024x600") << mainWindow << QRect(1366, 0, 1024, 600);
    QTest::newRow("history window, 1366x768") << history << QRect(0, 0, 1366, 768);
    QTest::newRow("history window, 1920x1080") << history << QRect(0, 0, 1920, 1080);
    QTest::newRow("history window, screen left of the primary") << history << QRect(-1280, 0, 1280, 1024);
}

void TestMainFormExit::fitsTheScreen()
{
    QFETCH(QSize, wanted);
    QFETCH(QRect, available);

    const QMargins frame = qeln::GuessedFrame;
    const QRect inner = qeln::fittedGeometry(wanted, available, frame);
    // The window with its frame lies whole on the screen, no larger than designed.
    QVERIFY2(available.contains(inner.marginsAdded(frame)), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                         .arg(inner.x()).arg(inner.y())
                                                                         .arg(inner.width()).arg(inner.height())));
    QVERIFY(inner.width() <= wanted.width() && inner.height() <= wanted.height());
    // Where the screen has room, the window keeps its size and sits in the middle.
    if (wanted.width() + frame.left() + frame.right() <= available.width())
        QCOMPARE(inner.width(), wanted.width());
    else
        QCOMPARE(inner.width(), available.width() - frame.left() - frame.right());
    if (wanted.height() + frame.top() + frame.bottom() <= available.height()) {
        QCOMPARE(inner.height(), wanted.height());
        QVERIFY(qAbs(inner.marginsAdded(frame).center().y() - available.center().y()) <= 1);
    }
}

void TestMainFormExit::smallScreenScrollsTheLayout()
{
    // The offscreen screen is smaller than the design: the window fits it and the fixed
    // layout scrolls inside, at its designed places and sizes.
    ConsoleRig rig(true);
    MainForm *window = &rig.window;
    const QRect area = qeln::availableArea(window);
    if (area.height() >= MainForm::DesignSize.height())
        QSKIP("the screen has room for the whole design");
    QVERIFY(window->height() < MainForm::DesignSize.height());
    auto *bar = child<QStatusBar>(window, "ComSetting");
    QTRY_VERIFY(bar->isVisible());
    QTRY_VERIFY(bar->geometry().bottom() < window->height());
    QVERIFY(bar->geometry().top() > 0);
    auto *scroll = child<QScrollArea>(window, "mainScroll");
    QVERIFY(scroll);
    QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
    QCOMPARE(child<QGroupBox>(window, "GroupBox1")->geometry(), QRect(1, 33, 856, 704));
    QVERIFY(scroll->widget()->height() >= MainForm::DesignArea.height());
}

QTEST_MAIN(TestMainFormExit)
#include "tst_mainformexit.moc"
