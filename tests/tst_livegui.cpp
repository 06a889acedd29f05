// The main window against the simulated plant's scenarios: labels, lamps and tree icons follow
// what happens in the plant, on a real TCP link to the simulator in this process.

#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "monitor/livemonitor.h"
#include "monitor/logpage.h"
#include "monitor/statuspage.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace qeln;

namespace {

struct LiveRig {
    explicit LiveRig(const QString &scenario, double speed)
    {
        QLoggingCategory::setFilterRules(QStringLiteral("qeln.*.debug=false\nqeln.*.info=false"));
        QString error;
        if (!sim.setScenario(scenario, &error) || (sim.setSpeed(speed), !sim.start(&error)))
            qFatal("simulator: %s", qPrintable(error));
        session.setConsoleStream(nullptr);
        window.setOutputDirectory(out.path());
        window.show();
        session.login();
        session.connectCommand();
        session.dialogCreated();
        session.chooseTcp();
        session.confirmConnect(sim.hostText());
    }

    QWidget *control(const char *name) const
    {
        return window.statusPage()->control(QLatin1String(name));
    }
    QString text(const char *name) const
    {
        const auto *label = qobject_cast<QLabel *>(control(name));
        return label ? label->text() : QString();
    }
    bool shown(const char *name) const
    {
        const QWidget *w = control(name);
        return w && w->isVisibleTo(window.statusPage());
    }
    // The alarm icon of the tree line with this text.
    bool treeAlarm(const QString &line) const
    {
        auto *tree = window.statusPage()->findChild<QTreeWidget *>(QStringLiteral("TreeViewM"));
        const auto items = tree->findItems(line, Qt::MatchExactly | Qt::MatchRecursive);
        return !items.isEmpty() && items.first()->data(0, Qt::UserRole).toBool();
    }

    QTemporaryDir out;
    DemoSimulator sim;
    ConsoleSession session;
    MainForm window{session};
};

} // namespace

class TestLiveGui : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acFailure();
    void batteryAlarms();
    void dataLogPage();
    void silentController();
};

void TestLiveGui::acFailure()
{
    // The mains fails 30 simulated seconds in and returns at 150: at 20 times speed, after
    // 1.5 s and 7.5 s.
    LiveRig rig(QStringLiteral("ac-fail"), 20);
    QTRY_VERIFY_WITH_TIMEOUT(rig.window.statusPage()->findChild<QTreeWidget *>(QStringLiteral("TreeViewM"))->topLevelItemCount() == 1, 5000);

    QTRY_VERIFY_WITH_TIMEOUT(rig.text("Label_ACV") == QStringLiteral("AC전압 : 0.0 V"), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.treeAlarm(QStringLiteral("AC Input Fail")), 3000);
    QVERIFY(rig.treeAlarm(QStringLiteral("교류입력")));
    QVERIFY(rig.treeAlarm(QStringLiteral("Alarm그룹")));
    QVERIFY(rig.window.monitor().view().activeAlarms.contains(QStringLiteral("AC Input Fail")));
    // The battery carries the load.
    QTRY_VERIFY_WITH_TIMEOUT(rig.text("Lable_BCA").startsWith(QStringLiteral("Battery전류 : -")), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.shown("Image_BattDCh") && !rig.shown("Image_BattCh"), 3000);

    // The mains returns: the alarm clears on the lines and the battery recharges.
    QTRY_VERIFY_WITH_TIMEOUT(rig.text("Label_ACV").startsWith(QStringLiteral("AC전압 : 2")), 12000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.treeAlarm(QStringLiteral("AC Input Fail")), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.shown("Image_BattCh"), 5000);
}

void TestLiveGui::batteryAlarms()
{
    // Cell 7 drifts at 20 s and 60 s, the pack heats up at 120-150 s; at 40 times speed.
    LiveRig rig(QStringLiteral("battery-alarms"), 40);
    QTRY_VERIFY_WITH_TIMEOUT(rig.shown("FlatGroupBox1"), 5000);
    QVERIFY(rig.shown("ImCell7Nor") != rig.shown("ImCell7Arm"));
    // Some cell is balanced at some point, and the over-temperature shows on a lamp.
    bool balancing = false;
    bool hot = false;
    QTRY_VERIFY_WITH_TIMEOUT((balancing = balancing || [&rig] {
        for (int k = 1; k <= 15; ++k) {
            if (rig.shown(QStringLiteral("ImCell%1Arm").arg(k).toLatin1().constData()))
                return true;
        }
        return false;
    }()) && (hot = hot || rig.shown("ImBatt7Arm") || rig.shown("ImBattP7Arm")), 30000);
    QVERIFY(balancing && hot);
}

void TestLiveGui::dataLogPage()
{
    LiveRig rig(QStringLiteral("normal"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.shown("FlatGroupBox1"), 5000);
    auto *start = rig.window.logPage()->findChild<QPushButton *>(QStringLiteral("btnLogo"));
    auto *memo = rig.window.logPage()->findChild<QPlainTextEdit *>(QStringLiteral("mmLogo"));
    QVERIFY(start && memo);
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), QStringLiteral("Log 중지"));
    rig.window.monitor().dataLog().onLogTick();
    const QString last = memo->toPlainText().split(QLatin1Char('\n')).last();
    QVERIFY2(last.startsWith(QStringLiteral("[  ")) && last.count(QStringLiteral(" ; ")) == 25, qPrintable(last));
    // Disconnecting stops the log.
    rig.session.disconnectCommand();
    QCOMPARE(start->text(), QStringLiteral("Log 시작"));
    QVERIFY(!rig.window.monitor().dataLog().active());
}

void TestLiveGui::silentController()
{
    // A controller that takes the connection and then says nothing: the window must not go on
    // showing the last values as if they were live.
    LiveRig rig(QStringLiteral("normal"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.shown("FlatGroupBox1"), 5000);
    auto *panel1 = rig.window.findChild<QLabel *>(QStringLiteral("ComSettingPanel1"));
    QVERIFY(panel1 && panel1->text().startsWith(QStringLiteral("[  ")));

    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    connect(&mute, &QTcpServer::newConnection, &mute, [&] { held << mute.nextPendingConnection(); });
    rig.session.disconnectCommand();
    rig.session.connectCommand();
    rig.session.dialogCreated();
    rig.session.chooseTcp();
    rig.session.confirmConnect(QStringLiteral("127.0.0.1:%1").arg(mute.serverPort()));
    // Three poll periods at 300 ms ticks are 2.7 s; the watch looks once a second.
    QTRY_VERIFY_WITH_TIMEOUT(panel1->text().startsWith(QStringLiteral("No answer since ")), 8000);
    QVERIFY(rig.window.statusPage()->answerMissing());
    QVERIFY(rig.window.statusBar()->isVisible());

    // The plant answers again: the clock is back and the values are live.
    rig.session.disconnectCommand();
    rig.session.connectCommand();
    rig.session.dialogCreated();
    rig.session.chooseTcp();
    rig.session.confirmConnect(rig.sim.hostText());
    QTRY_VERIFY_WITH_TIMEOUT(panel1->text().startsWith(QStringLiteral("[  ")), 5000);
    QVERIFY(!rig.window.statusPage()->answerMissing());
}

QTEST_MAIN(TestLiveGui)
#include "tst_livegui.moc"
