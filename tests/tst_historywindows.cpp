// The history windows: their layout, how every way of closing them hands the link back to the
// status poll, and whole downloads (and an initialisation) from the menu against the simulated
// controller on both links. The initialisation dialog on its own is in tst_historyinitform.

#include "closewindow.h"
#include "enginerig.h"

#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "history/historydownload.h"
#include "history/historytablemodel.h"
#include "history/historywindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace qeln;
using history::HistoryDownload;
using history::LogKind;

Q_DECLARE_METATYPE(qeln::history::LogKind)

namespace {

QStringList texts(const char *const *items, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QString::fromUtf8(items[i]);
    return out;
}

// The visible message box among the children of parent, or nullptr.
QMessageBox *openBox(QWidget *parent)
{
    for (QMessageBox *box : parent->findChildren<QMessageBox *>()) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

class TestHistoryWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowLayout_data();
    void windowLayout();
    void closingEndsDownload_data();
    void closingEndsDownload();
    void unknownModelStartsNothing();

    void downloadFromDemo_data();
    void downloadFromDemo();
    void eventLogFromDemo_data();
    void eventLogFromDemo();
    void closeMidDownloadResumesPolling_data();
    void closeMidDownloadResumesPolling();
    void emptyLogs_data();
    void emptyLogs();
    void initialisationClearsDemoLog_data();
    void initialisationClearsDemoLog();
    void longLogFillsWithoutStall();
    void failedSaveShowsNoExcel();

private:
    // A main window logged in and connected to a fresh simulated controller, its first status
    // decoded.
    void connectDemo(bool tcp);
    // One setting written through the write queue, as a settings dialog writes it; the
    // controller logs it as an event.
    void writeSetting(int address, int value);
    QAction *item(const char *name) const { return window->menuItem(QLatin1String(name)); }
    HistoryWindow *historyWindow(const char *name) const
    {
        HistoryWindow *w = window->findChild<HistoryWindow *>(QLatin1String(name));
        return w && w->isVisible() ? w : nullptr;
    }

    std::unique_ptr<DemoSimulator> simulator;
    std::unique_ptr<ConsoleSession> session;
    std::unique_ptr<MainForm> window;
    std::unique_ptr<QTemporaryDir> output;
};

void TestHistoryWindows::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qeln.sim*.debug=false\nqeln.sim*.info=false"));
}

void TestHistoryWindows::init()
{
    output = std::make_unique<QTemporaryDir>();
    QVERIFY(output->isValid());
}

void TestHistoryWindows::cleanup()
{
    window.reset();
    session.reset();
    simulator.reset();
    deleteClosed();
}

void TestHistoryWindows::connectDemo(bool tcp)
{
    simulator = std::make_unique<DemoSimulator>();
    QString error;
    QVERIFY2(simulator->start(&error), qPrintable(error));
    session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    window = std::make_unique<MainForm>(*session);
    window->setOutputDirectory(output->path());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    item("mLogin")->trigger();
    QDialog *login = window->findChild<QDialog *>(QStringLiteral("frmRecControl"));
    QVERIFY(login);
    login->findChild<QLineEdit *>(QStringLiteral("PW_Input"))->setText(QStringLiteral("guard7351"));
    QTest::mouseClick(login->findChild<QAbstractButton *>(QStringLiteral("bbtnOK")), Qt::LeftButton);
    deleteClosed();

    QSignalSpy status(session.get(), &ConsoleSession::statusArrived);
    item("mConnect")->trigger();
    QDialog *link = window->findChild<QDialog *>(QStringLiteral("frmComPort"));
    QVERIFY(link);
    if (tcp) {
        QTest::mouseClick(link->findChild<QRadioButton *>(QStringLiteral("TCP")), Qt::LeftButton);
        link->findChild<QLineEdit *>(QStringLiteral("edtHostIP"))->setText(simulator->hostText());
    } else {
        QTest::mouseClick(link->findChild<QRadioButton *>(QStringLiteral("Serial")), Qt::LeftButton);
        link->findChild<QComboBox *>(QStringLiteral("PortSelect"))->setEditText(simulator->serialDevice());
    }
    QTest::mouseClick(link->findChild<QAbstractButton *>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    deleteClosed();
    QVERIFY(status.wait(5000));
    QTRY_VERIFY(item("mAlarmLog")->isEnabled());
    QCOMPARE(session->state().ModelCode(), 3);
}

void TestHistoryWindows::writeSetting(int address, int value)
{
    LinkEngine &engine = session->engine();
    QSignalSpy messages(&engine, &LinkEngine::messageRequested);
    engine.hold();
    QVERIFY(engine.startWrites({{address, value}}));
    QTRY_COMPARE(messages.size(), 1);
    QCOMPARE(messages.first().at(1).toString(), QStringLiteral(" Setting Sucess!!"));
    engine.release();
    QTRY_VERIFY(openBox(window.get()));
    openBox(window.get())->accept();
}

// ---- Layout ---------------------------------------------------------------------------------

void TestHistoryWindows::windowLayout_data()
{
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QList<int>>("widths");

    static const char *const alarmHeaders[] = {"순서", "날짜", "시간", "AC전압", "AC전류", "DC전압",
                                               "DC전류", "Batt전류", "Rack온도", "-", "-", "-",
                                               "-", "-", "경보", "배터리상세경보"};
    static const char *const eventHeaders[] = {"순서", "날짜", "시간", "이벤트 내용", "value", ""};
    QTest::newRow("alarm history") << LogKind::Alarm << QStringLiteral("frmHistory")
                                   << QStringLiteral("Event Log Data") << QSize(1440, 565)
                                   << texts(alarmHeaders, 16)
                                   << QList<int>{27, 90, 77, 74, 57, 58, 58, 64, 64, 64, 36, 34, 32, 31, 210, 398};
    QTest::newRow("event log") << LogKind::Event << QStringLiteral("frmEventHistory")
                               << QStringLiteral("Event Data") << QSize(645, 564)
                               << texts(eventHeaders, 6) << QList<int>{27, 73, 61, 265, 97, 59};
}

void TestHistoryWindows::windowLayout()
{
    QFETCH(LogKind, kind);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    QFETCH(QStringList, headers);
    QFETCH(QList<int>, widths);

    EngineRig rig(true);
    HistoryDownload download(rig.engine);
    HistoryWindow w(kind, download, rig.state, output->path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QCOMPARE(w.objectName(), name);
    QCOMPARE(w.windowTitle(), caption);
    // The designed size where the screen has room; on a smaller one the window fits it.
    QCOMPARE(w.size(), fittedGeometry(size, availableArea(&w)).size());
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(w.windowFlags() & Qt::WindowMaximizeButtonHint);

    QCOMPARE(w.findChild<QFrame *>(QStringLiteral("Panel1"))->height(), 30);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("File Name"));
    auto *fileName = w.findChild<QLineEdit *>(QStringLiteral("edtFileName"));
    QCOMPARE(fileName->width(), 126);
    QVERIFY(fileName->font().bold());
    QVERIFY(fileName->text().isEmpty());
    auto *save = w.findChild<QPushButton *>(QStringLiteral("bbtFileSave"));
    QCOMPARE(save->toolTip(), QStringLiteral("Save File"));
    QVERIFY(!save->icon().isNull());
    QVERIFY(!save->isEnabled());
    auto *close = w.findChild<QPushButton *>(QStringLiteral("bbtClose"));
    QCOMPARE(close->toolTip(), QStringLiteral("Close"));
    QVERIFY(close->isEnabled());
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("LabAlarm"))->text(), QStringLiteral("Total : "));
    auto *gauge = w.findChild<QProgressBar *>(QStringLiteral("Gauge"));
    QCOMPARE(gauge->width(), 125);
    QCOMPARE(gauge->minimum(), 0);
    QCOMPARE(gauge->maximum(), 100);
    QCOMPARE(gauge->palette().color(QPalette::Highlight), QColor(0x00, 0xFF, 0x00));

    auto *grid = w.findChild<QTableView *>(QStringLiteral("StringGrid1"));
    QVERIFY(grid);
    QCOMPARE(grid->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(grid->font().pixelSize(), 11);
    QCOMPARE(grid->verticalHeader()->defaultSectionSize(), 20);
    QCOMPARE(grid->model()->columnCount(), int(headers.size()));
    QCOMPARE(grid->model()->rowCount(), 0); // the header row only, until records arrive
    QStringList shownHeaders;
    QList<int> shownWidths;
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        shownHeaders << grid->model()->headerData(c, Qt::Horizontal).toString();
        shownWidths << grid->columnWidth(c);
    }
    QCOMPARE(shownHeaders, headers);
    QCOMPARE(shownWidths, widths);
    QCOMPARE(grid->horizontalHeader()->height(), 20);
    QVERIFY(grid->geometry().top() >= 30);
}

// ---- Closing the grid window ----------------------------------------------------------------

void TestHistoryWindows::closingEndsDownload_data()
{
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<CloseBy>("how");
    QTest::newRow("alarm, Close button") << LogKind::Alarm << CloseBy::Button;
    QTest::newRow("alarm, Escape") << LogKind::Alarm << CloseBy::Escape;
    QTest::newRow("alarm, window manager") << LogKind::Alarm << CloseBy::WindowManager;
    QTest::newRow("event, window manager") << LogKind::Event << CloseBy::WindowManager;
}

void TestHistoryWindows::closingEndsDownload()
{
    QFETCH(LogKind, kind);
    QFETCH(CloseBy, how);

    // Closed before the count request goes out: the start timer must stop with it, or the
    // request would still go out 400 ms later and pause polling again.
    EngineRig rig(false);
    rig.state.StatusRegisters[25] = 2; // model code
    rig.engine.stopPolling();
    HistoryDownload download(rig.engine);
    QVERIFY(download.start(kind));
    QVERIFY(rig.engine.pollingHeld());
    QVERIFY(download.startTimer()->isActive());

    QPointer<HistoryWindow> w = new HistoryWindow(kind, download, rig.state, output->path());
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->open();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    closeWindow(w, how);
    deleteClosed();

    QVERIFY(w.isNull());
    QVERIFY(!download.startTimer()->isActive());
    QVERIFY(!download.active());
    QVERIFY(!rig.engine.pollingHeld());
    QVERIFY(rig.engine.pollingRunning());
    // The count request would have gone out 400 ms after the start; the first poll comes
    // after a second.
    QSignalSpy sent(&rig.engine, &LinkEngine::requestSent);
    QVERIFY2(!sent.wait(600), "a request went out after the window closed");
}

void TestHistoryWindows::unknownModelStartsNothing()
{
    session = std::make_unique<ConsoleSession>();
    session->setConsoleStream(nullptr);
    window = std::make_unique<MainForm>(*session);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // No status has told the model (code 0); the items are forced on to reach the commands.
    for (const char *name : {"mAlarmLog", "mEventLog"}) {
        item(name)->setEnabled(true);
        item(name)->trigger();
        QMessageBox *box = openBox(window.get());
        QVERIFY2(box, name);
        QVERIFY(box->text().contains(QStringLiteral("model")));
        box->accept();
        deleteClosed();
        QVERIFY(!window->findChild<HistoryWindow *>());
        QVERIFY(!session->engine().pollingHeld());
        QVERIFY(!window->historyDownload().active());
    }
}

// ---- Downloads from the menu against the simulated controller --------------------------------

void TestHistoryWindows::downloadFromDemo_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("records");
    QTest::newRow("tcp") << true << 250;
    QTest::newRow("serial") << false << 60;
}

void TestHistoryWindows::downloadFromDemo()
{
    QFETCH(bool, tcp);
    QFETCH(int, records);

    connectDemo(tcp);
    simulator->prefillHistory(records);
    QSignalSpy rowsStored(&window->historyDownload(), &HistoryDownload::rowStored);
    item("mAlarmLog")->trigger();
    HistoryWindow *w = historyWindow("frmHistory");
    QVERIFY(w);
    QVERIFY(session->engine().pollingHeld());
    auto *save = w->findChild<QPushButton *>(QStringLiteral("bbtFileSave"));
    QVERIFY(!save->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 60000);
    const int total = window->historyDownload().total();
    QVERIFY2(total >= records, qPrintable(QString::number(total)));
    QCOMPARE(openBox(w)->text(), QStringLiteral("%1 History data\nare Saved!!").arg(total));
    QCOMPARE(rowsStored.size(), total);
    QVERIFY(save->isEnabled());
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("LabAlarm"))->text(),
             QStringLiteral("Total : %1 /%1").arg(total));
    QCOMPARE(w->findChild<QProgressBar *>(QStringLiteral("Gauge"))->value(), 100);

    // Every row once, numbered from 001, the newest record first.
    const QAbstractItemModel *grid = w->findChild<QTableView *>(QStringLiteral("StringGrid1"))->model();
    QCOMPARE(grid->rowCount(), total);
    QDateTime previous;
    for (int row = 0; row < total; ++row) {
        QCOMPARE(grid->index(row, 0).data().toString(), QStringLiteral("%1").arg(row + 1, 3, 10, QLatin1Char('0')));
        const QDateTime at = QDateTime::fromString(grid->index(row, 1).data().toString() + QLatin1Char(' ')
                                                       + grid->index(row, 2).data().toString(),
                                                   QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(at.isValid(), qPrintable(grid->index(row, 1).data().toString()));
        QVERIFY2(!previous.isValid() || at <= previous, qPrintable(QStringLiteral("row %1").arg(row + 1)));
        previous = at;
        QVERIFY(grid->index(row, 3).data().toString().endsWith(QStringLiteral(" V")));
        QCOMPARE(grid->index(row, 9).data().toString(), QStringLiteral("-"));
    }
    // The download is over: the status poll stays off until the window closes.
    QVERIFY(!session->engine().pollingRunning());
    openBox(w)->accept();

    // Saved as often as asked, never over an earlier file.
    QDir folder(output->path());
    QStringList saved;
    for (int round = 1; round <= 2; ++round) {
        QTest::mouseClick(save, Qt::LeftButton);
        QMessageBox *box = openBox(w);
        QVERIFY(box);
        QCOMPARE(box->icon(), QMessageBox::Information);
        const QStringList files = folder.entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), round);
        const QString newest = w->findChild<QLineEdit *>(QStringLiteral("edtFileName"))->text();
        QVERIFY(files.contains(newest));
        QVERIFY(!saved.contains(newest));
        QVERIFY2(newest.startsWith(QStringLiteral(" QELN-2KN_ALARM_(")) && newest.endsWith(QStringLiteral(".xlsx")),
                 qPrintable(newest));
        QVERIFY(box->text().contains(newest));
        QFile file(folder.filePath(newest));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(2), QByteArray("PK")); // a workbook is a zip archive
        saved << newest;
        box->accept();
    }

    QSignalSpy status(&session->engine(), &LinkEngine::statusReceived);
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("bbtClose")), Qt::LeftButton);
    deleteClosed();
    QVERIFY(!window->findChild<HistoryWindow *>());
    QVERIFY(!session->engine().pollingHeld());
    QVERIFY(session->engine().pollingRunning());
    QVERIFY(status.wait(5000));
}

void TestHistoryWindows::eventLogFromDemo_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp") << true;
    QTest::newRow("serial") << false;
}

void TestHistoryWindows::eventLogFromDemo()
{
    QFETCH(bool, tcp);

    connectDemo(tcp);
    writeSetting(56, 470); // DC low-voltage alarm at 47.0 V
    writeSetting(57, 580); // DC high-voltage alarm at 58.0 V
    item("mEventLog")->trigger();
    HistoryWindow *w = historyWindow("frmEventHistory");
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 10000);
    QCOMPARE(openBox(w)->text(), QStringLiteral("2 History data\nare Saved!!"));
    openBox(w)->accept();

    // The newest event first; the sixth column has no header and stays empty.
    const QAbstractItemModel *grid = w->model();
    QCOMPARE(grid->rowCount(), 2);
    const QStringList expected[] = {
        {QStringLiteral("001"), QStringLiteral("DC_High_Voltage"), QStringLiteral("58.0 V")},
        {QStringLiteral("002"), QStringLiteral("DC_Low_Voltage"), QStringLiteral("47.0 V")},
    };
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(grid->index(row, 0).data().toString(), expected[row][0]);
        QVERIFY(QDate::fromString(grid->index(row, 1).data().toString(), QStringLiteral("yyyy-MM-dd")).isValid());
        QVERIFY(QTime::fromString(grid->index(row, 2).data().toString(), QStringLiteral("hh:mm:ss")).isValid());
        QCOMPARE(grid->index(row, 3).data().toString(), expected[row][1]);
        QCOMPARE(grid->index(row, 4).data().toString(), expected[row][2]);
        QCOMPARE(grid->index(row, 5).data().toString(), QString());
    }

    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("bbtFileSave")), Qt::LeftButton);
    QVERIFY(openBox(w));
    const QString saved = w->findChild<QLineEdit *>(QStringLiteral("edtFileName"))->text();
    QVERIFY2(saved.startsWith(QStringLiteral(" QELN-2KN_EVENT_(")), qPrintable(saved));
    QVERIFY(QFile::exists(QDir(output->path()).filePath(saved)));
}

void TestHistoryWindows::closeMidDownloadResumesPolling_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp") << true;
    QTest::newRow("serial") << false;
}

void TestHistoryWindows::closeMidDownloadResumesPolling()
{
    QFETCH(bool, tcp);

    connectDemo(tcp);
    simulator->prefillHistory(5000);
    HistoryDownload &download = window->historyDownload();
    item("mAlarmLog")->trigger();
    QPointer<HistoryWindow> w = historyWindow("frmHistory");
    QVERIFY(w);
    // The operator's click comes between two answers.
    connect(&download, &HistoryDownload::rowStored, w, [&w](int row) {
        if (row == 20)
            QMetaObject::invokeMethod(w, &QWidget::close, Qt::QueuedConnection);
    });
    QTRY_VERIFY_WITH_TIMEOUT(w.isNull() || !w->isVisible(), 30000);
    deleteClosed();
    QVERIFY(w.isNull());
    const qsizetype stored = download.rows().size();
    QVERIFY2(stored >= 20 && stored < 5000, qPrintable(QString::number(stored)));
    QVERIFY(!download.active());
    QVERIFY(!session->engine().pollingHeld());

    QSignalSpy status(&session->engine(), &LinkEngine::statusReceived);
    QVERIFY(status.wait(5000));
    // Two more polls: answers still on the way by then are not stored either.
    QTRY_VERIFY_WITH_TIMEOUT(status.size() >= 3, 5000);
    QCOMPARE(download.rows().size(), stored);
    QVERIFY(status.size() >= 1);
}

void TestHistoryWindows::emptyLogs_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<QString>("message");
    const QString noHistory = QStringLiteral("No History data");
    QTest::newRow("tcp alarm") << true << LogKind::Alarm << noHistory;
    QTest::newRow("tcp event") << true << LogKind::Event << noHistory;
    QTest::newRow("serial alarm") << false << LogKind::Alarm << noHistory;
    QTest::newRow("serial event") << false << LogKind::Event << QStringLiteral("No Event log data");
}

void TestHistoryWindows::emptyLogs()
{
    QFETCH(bool, tcp);
    QFETCH(LogKind, kind);
    QFETCH(QString, message);

    connectDemo(tcp);
    const bool alarms = kind == LogKind::Alarm;
    // The event-log item is hidden: it reports itself disabled, but the command runs.
    item(alarms ? "mAlarmLog" : "mEventLog")->trigger();
    HistoryWindow *w = historyWindow(alarms ? "frmHistory" : "frmEventHistory");
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 10000);
    QCOMPARE(openBox(w)->text(), message);
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("LabAlarm"))->text(), QStringLiteral("Total : 0 /0"));
    QCOMPARE(w->findChild<QProgressBar *>(QStringLiteral("Gauge"))->value(), 0);
    QCOMPARE(w->model()->rowCount(), 0);
    QCOMPARE(w->model()->columnCount(), alarms ? 16 : 6);
    QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("bbtFileSave"))->isEnabled());
    openBox(w)->accept();
    closeWindow(w, CloseBy::Escape);
    deleteClosed();
    QVERIFY(!session->engine().pollingHeld());
}

void TestHistoryWindows::initialisationClearsDemoLog_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp") << true;
    QTest::newRow("serial") << false;
}

void TestHistoryWindows::initialisationClearsDemoLog()
{
    QFETCH(bool, tcp);

    connectDemo(tcp);
    simulator->prefillHistory(10);
    QSignalSpy sent(&session->engine(), &LinkEngine::requestSent);
    item("mInitialLog")->trigger();
    QPointer<QDialog> form = window->findChild<QDialog *>(QStringLiteral("frmInitial"));
    QVERIFY(form && form->isVisible());
    QVERIFY(session->engine().pollingHeld());
    QVERIFY(!sent.wait(500)); // polling is paused: nothing goes out meanwhile

    QTest::mouseClick(form->findChild<QRadioButton *>(QStringLiteral("Alarm_Init")), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("BitBtnI_OK")), Qt::LeftButton);
    // The operator confirms in the box that names the log; nothing went out before.
    QTRY_VERIFY(form->findChild<QMessageBox *>(QStringLiteral("initConfirmQuestion")));
    auto *confirm = form->findChild<QMessageBox *>(QStringLiteral("initConfirmQuestion"));
    QVERIFY(confirm->text().contains(QStringLiteral("alarm history")));
    QCOMPARE(sent.size(), 0);
    QTest::mouseClick(confirm->button(QMessageBox::Yes), Qt::LeftButton);
    QTRY_VERIFY(openBox(window.get()));
    QCOMPARE(openBox(window.get())->text(), QStringLiteral(" Alarm Initial Sucess!!"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().at(0).toByteArray(),
             tcp ? sent.first().at(0).toByteArray().left(2) + QByteArray::fromHex("00000003014501")
                 : QByteArray(":0135CA\r\n"));
    openBox(window.get())->accept();
    QVERIFY(form->isVisible());
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("BitBtnI_Cancel")), Qt::LeftButton);
    deleteClosed();
    QVERIFY(form.isNull());
    QVERIFY(!session->engine().pollingHeld());

    // The controller's alarm history is empty now.
    item("mAlarmLog")->trigger();
    HistoryWindow *w = historyWindow("frmHistory");
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 10000);
    QCOMPARE(openBox(w)->text(), QStringLiteral("No History data"));
}

void TestHistoryWindows::longLogFillsWithoutStall()
{
    // How long the download takes and how long the event loop is held up are figures of
    // bench/history_window; here: a long log arrives whole, in order, in a grid that fits it.
    connectDemo(true);
    simulator->prefillHistory(5000);
    item("mAlarmLog")->trigger();
    HistoryWindow *w = historyWindow("frmHistory");
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 90000);

    const int total = window->historyDownload().total();
    QCOMPARE(total, 5000);
    QCOMPARE(w->model()->rowCount(), 5000);
    QCOMPARE(w->model()->index(4999, 0).data().toString(), QStringLiteral("5000"));
    const QTableView *grid = w->findChild<QTableView *>(QStringLiteral("StringGrid1"));
    QVERIFY(grid->columnWidth(0) > grid->fontMetrics().horizontalAdvance(QStringLiteral("5000")));
}

void TestHistoryWindows::failedSaveShowsNoExcel()
{
    connectDemo(true);
    simulator->prefillHistory(3);
    // The output folder cannot be made: a plain file stands where its parent should be.
    QFile blocker(QDir(output->path()).filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    window->setOutputDirectory(QDir(blocker.fileName()).filePath(QStringLiteral("out")));
    item("mAlarmLog")->trigger();
    HistoryWindow *w = historyWindow("frmHistory");
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(openBox(w), 10000);
    openBox(w)->accept();

    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("bbtFileSave")), Qt::LeftButton);
    QMessageBox *box = openBox(w);
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("No Excel"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QVERIFY(!box->detailedText().isEmpty());
    QVERIFY(w->findChild<QLineEdit *>(QStringLiteral("edtFileName"))->text().isEmpty());
    QCOMPARE(QDir(output->path()).entryList(QDir::Files), QStringList{QStringLiteral("blocker")});
    box->accept();
    // Still allowed: the operator may mend the folder and save again.
    QVERIFY(w->findChild<QPushButton *>(QStringLiteral("bbtFileSave"))->isEnabled());
}

QTEST_MAIN(TestHistoryWindows)
#include "tst_historywindows.moc"
