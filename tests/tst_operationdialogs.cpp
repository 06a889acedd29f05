// The operation/alarm settings, the dry-contact dialogs and the alarm test, opened from the
// main window's menu against the simulated controller in this process: what reaches the plant
// and in which order, what the plant reports back once polling resumes, and that polling
// stands still while a dialog is open.

#include "consolerig.h"
#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "config/configdialog.h"
#include "config/entryspinbox.h"
#include "link/linkengine.h"
#include "monitor/formatters.h"
#include "monitor/statuspage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln;

namespace {

QString writesText(const QList<RegisterWrite> &writes)
{
    QStringList parts;
    for (const RegisterWrite &w : writes)
        parts << QStringLiteral("%1=0x%2").arg(w.address).arg(QString::number(w.value, 16).toUpper());
    return parts.join(QLatin1Char(' '));
}

struct Rig : ConsoleRig {
    Rig() : ConsoleRig(true) {}
};

// Types into a spin box as the operator does: all selected, then keys; the box is not left.
void typeInto(QWidget *spin, const QString &text)
{
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    QVERIFY(edit);
    spin->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QString spinText(QWidget *dialog, const char *name)
{
    auto *spin = child(dialog, name);
    return spin ? spin->findChild<QLineEdit *>()->text() : QString();
}


} // namespace

class TestOperationDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operationWritesTypedValues();
    void operationSelectAllDefaults();
    void operationRefusalKeepsTicks();
    void fieldKeepsTypedText_data();
    void fieldKeepsTypedText();
    void contactAssignmentRoundTrip();
    void alarmTestSwitchesReminder();
};

void TestOperationDialogs::operationWritesTypedValues()
{
    Rig rig;
    QDialog *d = rig.open("mSystemConfiguration", "frmPoint_Setting");
    QVERIFY(d);
    ConsoleRig::shoot(d);
    QCOMPARE(d->windowTitle(), QStringLiteral("운용/알람 설정"));
    QStringList groups;
    for (QGroupBox *g : d->findChildren<QGroupBox *>())
        groups << g->title();
    QCOMPARE(groups, (QStringList{QStringLiteral("알람설정"), QStringLiteral("운용설정"),
                                  QStringLiteral("축전지 방전시험"), QStringLiteral("축전지 운용설정")}));
    QCOMPARE(child<QCheckBox>(d, "ckbDCUV")->text(), QStringLiteral("DC 저전압 (43.0V ~ 50.0V) "));
    QCOMPARE(child<QCheckBox>(d, "ckbFLV")->text(), QStringLiteral("출력전압 (43.0 ~ 56.0V)"));
    QVERIFY(child<QDoubleSpinBox>(d, "mskDCUV") && child<QSpinBox>(d, "mskACUV"));
    QVERIFY(child<QComboBox>(d, "cbbBMT") && child<QCheckBox>(d, "cbTaskFailReset"));
    for (const char *b : {"BitBtnOK", "BitBtnDefault", "btnAllCheck", "BitBtnCancel"})
        QCOMPARE(child<QPushButton>(d, b)->focusPolicy(), Qt::NoFocus);
    // Filled from the last status block.
    QCOMPARE(spinText(d, "mskDCUV"), FormatTenths(rig.status(56)));
    QCOMPARE(spinText(d, "mskACUV"), QString::number(rig.status(54)));
    QCOMPARE(child<QComboBox>(d, "cbbCH_Mode")->currentIndex(), rig.status(64) - 1);
    QVERIFY(rig.pollHeld());

    // Typed and written without leaving the boxes: taken as typed.
    typeInto(child(d, "mskACUV"), QStringLiteral("185"));
    typeInto(child(d, "mskDCUV"), QStringLiteral("47.5"));
    child<QCheckBox>(d, "ckbACUV")->setChecked(true);
    child<QCheckBox>(d, "ckbDCUV")->setChecked(true);
    child<QComboBox>(d, "cbbBTP")->setCurrentIndex(6);
    child<QCheckBox>(d, "ckbBTP")->setChecked(true);
    click(d, "BitBtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    QCOMPARE(writesText(rig.received), QStringLiteral("74=0x6 56=0x1DB 54=0xB9"));
    for (QCheckBox *box : d->findChildren<QCheckBox *>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    QVERIFY(rig.pollHeld());

    // The close box resumes polling as "닫기" does; the plant reports the new values.
    d->close();
    QVERIFY(rig.pollRuns());
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(54), 185);
    QCOMPARE(rig.status(56), 475);
    QCOMPARE(rig.status(74), 6);
}

void TestOperationDialogs::operationSelectAllDefaults()
{
    Rig rig;
    QDialog *d = rig.open("mSystemConfiguration", "frmPoint_Setting");
    QVERIFY(d);
    typeInto(child(d, "mskROT"), QStringLiteral("85"));
    click(d, "BitBtnDefault");
    QCOMPARE(spinText(d, "mskROT"), QStringLiteral("100.0"));
    QCOMPARE(spinText(d, "mskDCOC"), rig.status(26) == 3 || rig.status(26) == 4 ? QStringLiteral("103")
                                                                                 : QStringLiteral("105"));
    typeInto(child(d, "mskBTV"), QStringLiteral("53.3"));
    click(d, "btnAllCheck");
    QVERIFY(!child<QCheckBox>(d, "ckbBMT")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "cbTaskFailReset")->isChecked());
    click(d, "BitBtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 10000);
    QCOMPARE(rig.received.size(), 22);
    QCOMPARE(rig.received.first(), (RegisterWrite{69, 430}));
    QCOMPARE(rig.received.last(), (RegisterWrite{54, 170}));
    QVERIFY(rig.received.contains(RegisterWrite{78, 533}));

    click(d, "BitBtnCancel");
    QTRY_VERIFY(!rig.window.findChild<QDialog *>(QStringLiteral("frmPoint_Setting")));
    QVERIFY(rig.pollRuns());
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(78), 533);
    QCOMPARE(rig.status(95), 1000);
}

void TestOperationDialogs::operationRefusalKeepsTicks()
{
    Rig rig;
    QDialog *d = rig.open("mSystemConfiguration", "frmPoint_Setting");
    QVERIFY(d);
    // Below the bound, typed and not left: refused with the item and its range.
    typeInto(child(d, "mskDCUV"), QStringLiteral("4"));
    child<QCheckBox>(d, "ckbDCUV")->setChecked(true);
    child<QCheckBox>(d, "ckbACUV")->setChecked(true);
    click(d, "BitBtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("DC 저전압 (43.0V ~ 50.0V): 4 is outside 43.0..50.0; nothing was sent."));
    box->accept();
    QVERIFY(child<QCheckBox>(d, "ckbDCUV")->isChecked() && child<QCheckBox>(d, "ckbACUV")->isChecked());

    // A letter in an integer field: the standard conversion text, after the line's name.
    child<QCheckBox>(d, "ckbDCUV")->setChecked(false);
    child<QSpinBox>(d, "mskACUV")->findChild<QLineEdit *>()->setText(QStringLiteral("1x"));
    click(d, "BitBtnOK");
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("AC 저전압 (150V ~ 200V): '1x' is not a valid integer value; nothing was sent."));
    box->accept();
    QTRY_VERIFY(!refusalBox(d));

    // Nothing ticked: nothing sent, nothing said.
    child<QCheckBox>(d, "ckbACUV")->setChecked(false);
    click(d, "BitBtnOK");
    QTRY_VERIFY(rig.linkIdle());
    QVERIFY(!refusalBox(d));
    QCOMPARE(rig.writeRequests, 0);

    // A controller value beyond the spin range is shown as its text, not bounded, and is
    // refused if it is sent back unchanged.
    QVERIFY(rig.engine().startWrites({{56, 600}}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    click(d, "BitBtnCancel");
    QVERIFY(rig.pollRuns());
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(56), 600);
    d = rig.open("mSystemConfiguration", "frmPoint_Setting");
    QVERIFY(d);
    QCOMPARE(spinText(d, "mskDCUV"), QStringLiteral("60.0"));
    child<QCheckBox>(d, "ckbDCUV")->setChecked(true);
    click(d, "BitBtnOK");
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("DC 저전압 (43.0V ~ 50.0V): 60.0 is outside 43.0..50.0; nothing was sent."));
    QCOMPARE(rig.writeRequests, 1);
}

void TestOperationDialogs::fieldKeepsTypedText_data()
{
    QTest::addColumn<QByteArray>("menu");
    QTest::addColumn<QByteArray>("dialog");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("tick"); // the line's check box; empty in the clock dialog
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("corrected");

    const QByteArray op = "mSystemConfiguration", opDialog = "frmPoint_Setting";
    const QByteArray clock = "mDataTimeSet", clockDialog = "frmSetTime";
    QTest::newRow("AC 저전압 300 (was forced to 150)")
        << op << opDialog << QByteArray("mskACUV") << QByteArray("ckbACUV") << QStringLiteral("300")
        << QStringLiteral("AC 저전압 (150V ~ 200V): 300 is outside 150..200; nothing was sent.") << QStringLiteral("180");
    QTest::newRow("AC 고전압 12 (was forced to 250)")
        << op << opDialog << QByteArray("mskACOV") << QByteArray("ckbACOV") << QStringLiteral("12")
        << QStringLiteral("AC 고전압 (250V ~ 290V): 12 is outside 250..290; nothing was sent.") << QStringLiteral("260");
    QTest::newRow("DC 저전압 60.5")
        << op << opDialog << QByteArray("mskDCUV") << QByteArray("ckbDCUV") << QStringLiteral("60.5")
        << QStringLiteral("DC 저전압 (43.0V ~ 50.0V): 60.5 is outside 43.0..50.0; nothing was sent.") << QStringLiteral("45.5");
    QTest::newRow("DC 과전류 emptied")
        << op << opDialog << QByteArray("mskDCOC") << QByteArray("ckbDCOC") << QString()
        << QStringLiteral("DC 과전류 (40% ~ 120%): '' is not a valid integer value; nothing was sent.") << QStringLiteral("105");
    QTest::newRow("방전시간 0 (a whole-number line)")
        << op << opDialog << QByteArray("mskBTT") << QByteArray("ckbBTT") << QStringLiteral("0")
        << QStringLiteral("방전시간 (1 ~ 120분): 0 is outside 1..120; nothing was sent.") << QStringLiteral("10");
    QTest::newRow("충전전류제한 5")
        << op << opDialog << QByteArray("mskCHLimit") << QByteArray("ckbCHLimit") << QStringLiteral("5")
        << QStringLiteral("충전전류제한 (0(OFF), 1~ 4A): 5 is outside 0.0..4.0; nothing was sent.") << QStringLiteral("3");
    QTest::newRow("clock: hour 25 (was left as 2)")
        << clock << clockDialog << QByteArray("spinedtHour") << QByteArray() << QStringLiteral("25")
        << QStringLiteral("시 (hour): 25 is outside 0..23; nothing was sent.") << QStringLiteral("12");
    QTest::newRow("clock: year emptied (was 2001)")
        << clock << clockDialog << QByteArray("spinedtYear") << QByteArray() << QString()
        << QStringLiteral("년 (year): the box is empty; nothing was sent.") << QStringLiteral("2024");
    QTest::newRow("clock: year half typed")
        << clock << clockDialog << QByteArray("spinedtYear") << QByteArray() << QStringLiteral("202")
        << QStringLiteral("년 (year): 202 is outside 2001..2999; nothing was sent.") << QStringLiteral("2024");
    QTest::newRow("clock: minute 60")
        << clock << clockDialog << QByteArray("spinedtMIn") << QByteArray() << QStringLiteral("60")
        << QStringLiteral("분 (minute): 60 is outside 0..59; nothing was sent.") << QStringLiteral("30");
}

// A value the line cannot take stays as typed when the box is left, marked with the reason,
// and "설정" refuses it by the line's name without sending anything.
void TestOperationDialogs::fieldKeepsTypedText()
{
    QFETCH(QByteArray, menu);
    QFETCH(QByteArray, dialog);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, tick);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    QFETCH(QString, corrected);
    Rig rig;
    QDialog *d = rig.open(menu.constData(), dialog.constData());
    QVERIFY(d);
    QWidget *box = child(d, field.constData());
    QVERIFY(box);
    QVERIFY(entryProblem(box).isEmpty());
    // The box is left by Tab as the operator leaves it: the dialog must hold the focus (the
    // offscreen platform may hand the activation back to the main window).
    QApplication::setActiveWindow(d);
    typeInto(box, typed);
    QVERIFY(box->hasFocus());
    QTest::keyClick(box->findChild<QLineEdit *>(), Qt::Key_Tab);
    QVERIFY(!box->hasFocus());
    QCOMPARE(spinText(d, field.constData()), typed);
    const QString mark = refusal.chopped(int(qstrlen("; nothing was sent.")));
    QCOMPARE(entryProblem(box), mark);
    QCOMPARE(box->toolTip(), mark);
    QVERIFY(!box->styleSheet().isEmpty());

    if (!tick.isEmpty())
        child<QCheckBox>(d, tick.constData())->setChecked(true);
    click(d, dialog == "frmSetTime" ? "bbtOK" : "BitBtnOK");
    QMessageBox *shown = nullptr;
    QTRY_VERIFY((shown = refusalBox(d)) && shown->isVisible());
    QCOMPARE(shown->text(), refusal);
    if (qEnvironmentVariableIsSet("QELN_SHOT_DIR"))
        d->grab().save(QString::fromLocal8Bit(qgetenv("QELN_SHOT_DIR")) + QStringLiteral("/marked-")
                         + QString::fromLatin1(field) + QStringLiteral(".png"));
    shown->accept();
    QTRY_VERIFY(!refusalBox(d));
    QCOMPARE(spinText(d, field.constData()), typed);
    QCOMPARE(entryProblem(box), mark);
    if (!tick.isEmpty())
        QVERIFY(child<QCheckBox>(d, tick.constData())->isChecked());
    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.writeRequests, 0);

    // Corrected, the mark goes at once.
    typeInto(box, corrected);
    QCOMPARE(entryProblem(box), QString());
    QCOMPARE(box->toolTip(), QString());
}

void TestOperationDialogs::contactAssignmentRoundTrip()
{
    Rig rig;
    QDialog *repair = rig.open("mAlarmManager", "frmRepair");
    QVERIFY(repair);
    ConsoleRig::shoot(repair);
    QCOMPARE(repair->windowTitle(), QStringLiteral("경보접점 설정"));
    QCOMPARE(child<QGroupBox>(repair, "grpContacts")->title(), QStringLiteral("경보접점 세부알람 설정"));
    QCOMPARE(child<QLabel>(repair, "Label4")->text(), QStringLiteral("Battery Fail"));
    const bool acModel = rig.status(26) == 3 || rig.status(26) == 4;
    QCOMPARE(child(repair, "cbbAlmType")->isVisibleTo(repair), acModel);
    QCOMPARE(child(repair, "Label5")->isVisibleTo(repair), !acModel || rig.status(42) != 1);
    const std::array<std::int32_t, 12> before = rig.state().ContactAlarmMasks;

    // Contact 4: opens with the controller's assignment.
    QTest::mouseClick(child(repair, "Label4"), Qt::LeftButton);
    QDialog *define = nullptr;
    QTRY_VERIFY((define = repair->findChild<QDialog *>(QStringLiteral("frmDefine"))) && define->isVisible());
    ConsoleRig::shoot(define);
    QCOMPARE(define->windowTitle(), QStringLiteral("경보접점 알람설정"));
    QCOMPARE(child<QCheckBox>(define, "CheckBox7")->isChecked(), (before[6] & 0x0040) != 0);
    QCOMPARE(child<QCheckBox>(define, "CheckBox30")->isChecked(), (before[7] & 0x2000) != 0);
    QCOMPARE(child<QCheckBox>(define, "CheckBox30")->text(), QStringLiteral("Battery Temperature Low"));
    click(define, "btnAllCheck");
    child<QCheckBox>(define, "CheckBox1")->setChecked(true);
    child<QCheckBox>(define, "CheckBox25")->setChecked(true);
    click(define, "BitBtnOK");
    QTRY_VERIFY(!repair->findChild<QDialog *>(QStringLiteral("frmDefine")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    QCOMPARE(writesText(rig.received), QStringLiteral("87=0x100 86=0x1"));
    QVERIFY(rig.pollHeld()); // frmRepair still holds the poll

    // Reopened: the assignment just written.
    QTest::mouseClick(child(repair, "Label4"), Qt::LeftButton);
    QTRY_VERIFY((define = repair->findChild<QDialog *>(QStringLiteral("frmDefine"))) && define->isVisible());
    QStringList ticked;
    for (QCheckBox *b : define->findChildren<QCheckBox *>()) {
        if (b->isChecked())
            ticked << b->objectName();
    }
    QCOMPARE(ticked, (QStringList{QStringLiteral("CheckBox1"), QStringLiteral("CheckBox25")}));
    // "기본값" then "닫기": nothing is written.
    click(define, "btnDefault");
    QVERIFY(child<QCheckBox>(define, "CheckBox7")->isChecked());
    click(define, "BitBtnCancel");
    QTRY_VERIFY(!repair->findChild<QDialog *>(QStringLiteral("frmDefine")));
    QVERIFY(rig.pollHeld());

    // The contacts' normal state; closed by its close box.
    child<QComboBox>(repair, "cbbDryContact")->setCurrentIndex(1);
    child<QCheckBox>(repair, "ckbDryContact")->setChecked(true);
    click(repair, "BitBtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 2, 5000);
    QCOMPARE(rig.received.last(), (RegisterWrite{70, 1}));
    QVERIFY(!child<QCheckBox>(repair, "ckbDryContact")->isChecked());
    repair->close();
    QVERIFY(rig.pollRuns());
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(86), 0x0001);
    QCOMPARE(rig.status(87), 0x0100);
    QCOMPARE(rig.status(70), 1);
    QCOMPARE(rig.state().ContactAlarmMasks[6], 0x0001);
}

void TestOperationDialogs::alarmTestSwitchesReminder()
{
    Rig rig;
    QWidget *reminder = rig.window.statusPage()->control(QStringLiteral("Lab_Alarm_Test"));
    QVERIFY(reminder);
    QDialog *d = rig.open("mAlarmTest", "frmAlarmTest");
    QVERIFY(d);
    ConsoleRig::shoot(d);
    QCOMPARE(d->windowTitle(), QStringLiteral("알람시험"));
    QCOMPARE(child<QCheckBox>(d, "ckbAlarmTestUsed")->text(), QStringLiteral("경보시험 "));
    QCOMPARE(child<QComboBox>(d, "cbbAlarmTestUsed")->currentIndex(), rig.status(71));

    click(d, "btnSelectAll");
    click(d, "btnReleaseAll");
    child<QCheckBox>(d, "CheckBox7")->setChecked(true); // Battery Disconnect
    child<QCheckBox>(d, "ckbAlarmTest")->setChecked(true);
    child<QComboBox>(d, "cbbAlarmTestUsed")->setCurrentIndex(1);
    child<QCheckBox>(d, "ckbAlarmTestUsed")->setChecked(true);
    click(d, "BitBtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    // The masks are in place before the test is switched on.
    QCOMPARE(writesText(rig.received), QStringLiteral("73=0x8080 72=0x40 71=0x1"));
    QVERIFY(d->isVisible());
    QVERIFY(!child<QCheckBox>(d, "ckbAlarmTest")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "ckbAlarmTestUsed")->isChecked());
    QVERIFY(child<QCheckBox>(d, "CheckBox7")->isChecked());

    click(d, "BitBtnCancel");
    QVERIFY(rig.pollRuns());
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(71), 1);
    QCOMPARE(rig.status(72), 0x0040);
    QCOMPARE(rig.status(73), 0x8080);
    // The main window blinks its reminder while the test is in use.
    QTRY_VERIFY_WITH_TIMEOUT(reminder->isVisible(), 4000);
    QTRY_VERIFY_WITH_TIMEOUT(!reminder->isVisible(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(reminder->isVisible(), 3000);

    // Switched off again: the reminder stays away.
    d = rig.open("mAlarmTest", "frmAlarmTest");
    QVERIFY(d);
    QCOMPARE(child<QComboBox>(d, "cbbAlarmTestUsed")->currentIndex(), 1);
    QCOMPARE(child<QCheckBox>(d, "CheckBox7")->isChecked(), true);
    QCOMPARE(child<QCheckBox>(d, "CheckBox18")->isChecked(), false);
    child<QComboBox>(d, "cbbAlarmTestUsed")->setCurrentIndex(0);
    child<QCheckBox>(d, "ckbAlarmTestUsed")->setChecked(true);
    click(d, "BitBtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 2, 5000);
    QCOMPARE(rig.received.last(), (RegisterWrite{71, 0}));
    d->close();
    QVERIFY(rig.freshStatus());
    QCOMPARE(rig.status(71), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!reminder->isVisible(), 2000);
    // The blink that would show it again stands still, and the next statuses keep it hidden.
    QVERIFY(!rig.window.monitor().reminderTimer()->isActive());
    QVERIFY(rig.freshStatus());
    QVERIFY(!reminder->isVisible());
}

QTEST_MAIN(TestOperationDialogs)
#include "tst_operationdialogs.moc"
