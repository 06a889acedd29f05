// The main window on the way out and on the screen: the data log's unsaved lines saved on
// exit and disconnect and the operator told where, no stale log line while a dialog holds the
// poll, and the window's fit to screens of several sizes.

#include "fakequestions.h"

#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "app/msgform.h"
#include "app/textcodec.h"
#include "monitor/datalog.h"
#include "monitor/livemonitor.h"
#include "monitor/logpage.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using qeln::ConsoleSession;
using qeln::MainForm;

class TestMainFormExit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void exitSavesUnsavedLines_data();
    void exitSavesUnsavedLines();
    void disconnectSavesUnsavedLines();
    void heldPollWritesNoStaleLine();
    void fitsTheScreen_data();
    void fitsTheScreen();
    void smallScreenScrollsTheLayout();

private:
    QAction *item(const char *name) const { return window->menuItem(QLatin1String(name)); }
    template <typename T> T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QDialog *dialog(const char *name) const
    {
        for (QDialog *d : window->findChildren<QDialog *>(QLatin1String(name))) {
            if (d->isVisible())
                return d;
        }
        return nullptr;
    }
    void login();
    void connectTcp(const QString &hostText);
    // Starts the data log and writes `lines` periodic lines into it.
    void logLines(int lines)
    {
        qeln::DataLog &log = window->monitor().dataLog();
        if (!log.LogActive())
            log.btnLogoClick();
        for (int i = 0; i < lines; ++i)
            log.Timer2Timer();
    }

    qeln::DemoSimulator simulator;
    std::unique_ptr<ConsoleSession> session;
    std::unique_ptr<MainForm> window;
};

void TestMainFormExit::initTestCase()
{
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
}

void TestMainFormExit::init()
{
    session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    window = std::make_unique<MainForm>(*session);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestMainFormExit::cleanup()
{
    window.reset();
    session.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMainFormExit::login()
{
    item("mLogin")->trigger();
    QDialog *form = dialog("frmRecControl");
    QVERIFY(form);
    form->findChild<QLineEdit *>(QStringLiteral("PW_Input"))->setText(QStringLiteral("guard7351"));
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("bbtnOK")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("frmRecControl"));
}

void TestMainFormExit::connectTcp(const QString &hostText)
{
    item("mConnect")->trigger();
    QDialog *form = dialog("frmComPort");
    QVERIFY(form);
    QTest::mouseClick(form->findChild<QRadioButton *>(QStringLiteral("TCP")), Qt::LeftButton);
    form->findChild<QLineEdit *>(QStringLiteral("edtHostIP"))->setText(hostText);
    QTest::mouseClick(form->findChild<QAbstractButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    QTRY_VERIFY(!dialog("frmComPort"));
}

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

    QTemporaryDir out;
    const QString folder = folderOk ? out.path() : out.filePath(QStringLiteral("gone"));
    window->setOutputDirectory(folder);
    FakeQuestions questions;
    questions.closeNotes = false;
    questions.answer = leave;
    window->setQuestions(&questions);
    logLines(3);
    const QStringList memo = window->monitor().dataLog().lines();
    QSignalSpy closed(window.get(), &MainForm::closed);

    if (menu)
        item("mExit")->trigger();
    else
        window->close();

    if (folderOk) {
        // Saved whole, header first; the note names the file and the window waits for it.
        const QStringList files = filesIn(out.path());
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
    QVERIFY(!widget<qeln::MsgForm>("frmMsg")->isVisible()); // the exit has not begun
    QCOMPARE(window->monitor().dataLog().lines(), memo);
    QCOMPARE(widget<QTabWidget>("PageControl1")->currentWidget(), window->logPage());
    // Another folder, and the next close saves there.
    QVERIFY(window->logPage()->chooseOutputFolder(out.path()));
    window->close();
    QCOMPARE(filesIn(out.path()).size(), 1);
    QCOMPARE(savedLines(filesIn(out.path()).first()), memo);
    QCOMPARE(questions.told.size(), 1);
    questions.told.first().closed();
    QCOMPARE(closed.size(), 1);
}

void TestMainFormExit::disconnectSavesUnsavedLines()
{
    QTemporaryDir out;
    window->setOutputDirectory(out.path());
    login();
    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    connectTcp(simulator.hostText());
    QVERIFY(status.wait(5000));
    logLines(2);
    qeln::DataLog &log = window->monitor().dataLog();
    QVERIFY(log.unsavedLines() >= 2);

    item("mDisconnect")->trigger();
    QVERIFY(!log.LogActive());
    QCOMPARE(log.unsavedLines(), 0);
    const QStringList files = filesIn(out.path());
    QCOMPARE(files.size(), 1);
    QCOMPARE(savedLines(files.first()), log.lines());
    QMessageBox *note = nullptr;
    for (QMessageBox *box : window->findChildren<QMessageBox *>(QStringLiteral("logSavedBox")))
        note = box->isVisible() ? box : note;
    QVERIFY(note);
    QVERIFY2(note->text().contains(QDir::toNativeSeparators(files.first())), qPrintable(note->text()));

    // A line after that: the close saves it and says where in a box, which OK closes.
    logLines(1);
    QSignalSpy closed(window.get(), &MainForm::closed);
    window->close();
    QCOMPARE(closed.size(), 0);
    QMessageBox *exitNote = window->findChild<QMessageBox *>(QStringLiteral("exitLogSavedBox"));
    QVERIFY(exitNote && exitNote->isVisible());
    QCOMPARE(filesIn(out.path()).size(), 2);
    QTest::mouseClick(exitNote->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_COMPARE(closed.size(), 1);
}

void TestMainFormExit::heldPollWritesNoStaleLine()
{
    login();
    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    connectTcp(simulator.hostText());
    QVERIFY(status.wait(5000));
    qeln::DataLog &log = window->monitor().dataLog();
    log.btnLogoClick();
    log.rgLogoTimeClick(6); // the ticks below are the test's own
    log.Timer2Timer();
    const qsizetype before = log.lines().size();

    // A settings dialog holds the poll: its ticks write nothing.
    QTRY_VERIFY(item("mSystemConfiguration")->isEnabled());
    item("mSystemConfiguration")->trigger();
    QDialog *settings = dialog("frmPoint_Setting");
    QVERIFY(settings);
    QVERIFY(session->state().RequestState != qeln::StatePoll);
    for (int tick = 0; tick < 3; ++tick)
        log.Timer2Timer();
    QCOMPARE(log.lines().size(), before);

    // Closed: nothing until the next status, then one line.
    settings->reject();
    log.Timer2Timer();
    QCOMPARE(log.lines().size(), before);
    QSignalSpy decoded(&session->engine(), &qeln::LinkEngine::statusDecoded);
    QVERIFY(decoded.wait(5000));
    log.Timer2Timer();
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
    const QRect area = qeln::availableArea(window.get());
    if (area.height() >= MainForm::DesignSize.height())
        QSKIP("the screen has room for the whole design");
    QVERIFY(window->height() < MainForm::DesignSize.height());
    auto *bar = widget<QStatusBar>("ComSetting");
    bar->show();
    QTRY_VERIFY(bar->geometry().bottom() < window->height());
    QVERIFY(bar->geometry().top() > 0);
    auto *scroll = widget<QScrollArea>("mainScroll");
    QVERIFY(scroll);
    QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
    QCOMPARE(widget<QGroupBox>("GroupBox1")->geometry(), QRect(1, 33, 856, 704));
    QVERIFY(scroll->widget()->height() >= MainForm::DesignArea.height());
}

QTEST_MAIN(TestMainFormExit)
#include "tst_mainformexit.moc"
