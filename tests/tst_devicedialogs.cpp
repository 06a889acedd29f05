// The calibration, clock and factory dialogs, opened from the main window's menu against the
// simulated controller in this process: what reaches the plant, what it reports back, and
// that polling stands still while a dialog is open and runs again when it closes.

#include "consolerig.h"
#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "config/clockdialog.h"
#include "config/engcalendar.h"
#include "link/linkengine.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace qeln;

namespace {

QString u8(const char *s)
{
    return QString::fromUtf8(s);
}

QString writesText(const QList<RegisterWrite> &writes)
{
    QStringList parts;
    for (const RegisterWrite &w : writes)
        parts << QStringLiteral("%1=%2").arg(w.address).arg(w.value);
    return parts.join(QLatin1Char(' '));
}

struct Rig : ConsoleRig {
    Rig() : ConsoleRig(true) {}
};

// Types into a line edit (or a spin box's) as the operator does: all selected, then the keys
// typed over it (an empty text: Backspace).
void typeInto(QWidget *w, const QString &text)
{
    QLineEdit *edit = qobject_cast<QLineEdit *>(w);
    if (!edit)
        edit = w->findChild<QLineEdit *>();
    QVERIFY(edit);
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

// A click on the box itself: the row's empty space right of a short caption is no part of
// the check box's clickable area.
void tick(QCheckBox *box)
{
    QVERIFY(box);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
}


using Setup = std::function<void(QDialog *)>;

// A check box of the dialog ticked.
Setup ticks(const char *name)
{
    return [name](QDialog *d) { child<QCheckBox>(d, name)->setChecked(true); };
}

// The text of the visible message box the main window shows, if any.
QString mainMessage(QWidget *window)
{
    for (QMessageBox *box : window->findChildren<QMessageBox *>(QStringLiteral("messageBox"))) {
        if (box->isVisible())
            return box->text();
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestDeviceDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clockWritesAndReadsBack();
    void clockKeepsCalendarInStep();
    void clockRefusesByName();
    void clockPollingHeldAndResumed_data();
    void clockPollingHeldAndResumed();
    void calibrationReachesThePlant();
    void calibrationRefusalKeepsTicks();
    void calibrationModelWithoutAc();
    void factoryResetSentOnce();
    void factoryConfigInitialisation();
    void everyWriteEndsVisibly_data();
    void everyWriteEndsVisibly();
};

void TestDeviceDialogs::everyWriteEndsVisibly_data()
{
    QTest::addColumn<QByteArray>("menu");
    QTest::addColumn<QByteArray>("dialog");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("ok");
    QTest::addColumn<QString>("refusal"); // empty: written, and the success text follows

    const QByteArray op = "mSystemConfiguration", opDialog = "frmPoint_Setting";
    const QByteArray contacts = "mAlarmManager", contactDialog = "frmRepair";
    QTest::newRow("operation") << op << opDialog << ticks("ckbBTP") << QByteArray("BitBtnOK") << QString();
    QTest::newRow("contacts") << contacts << contactDialog << ticks("ckbDryContact") << QByteArray("BitBtnOK")
                              << QString();
    QTest::newRow("clock") << QByteArray("mDataTimeSet") << QByteArray("frmSetTime") << Setup([](QDialog *) {})
                           << QByteArray("bbtOK") << QString();
    QTest::newRow("alarm test") << QByteArray("mAlarmTest") << QByteArray("frmAlarmTest") << ticks("ckbAlarmTest")
                                << QByteArray("BitBtnOK") << QString();
    QTest::newRow("measurement") << QByteArray("mMeasurementSet") << QByteArray("frmSetting")
                                 << ticks("cbDCV_SET_EN") << QByteArray("BitBtnOK") << QString();
    QTest::newRow("factory") << QByteArray("mFactoryInitial") << QByteArray("Factory_Initial")
                             << Setup([](QDialog *d) { d->findChildren<QRadioButton *>().at(1)->setChecked(true); })
                             << QByteArray("BitBtnI_OK") << QString();
    // A ticked line that cannot be written is refused by its name, not skipped in silence.
    QTest::newRow("operation: list without an entry")
        << op << opDialog << Setup([](QDialog *d) {
               child<QComboBox>(d, "cbbCH_Mode")->setCurrentIndex(-1);
               child<QCheckBox>(d, "ckbCH_Mode")->setChecked(true);
               child<QCheckBox>(d, "ckbBTP")->setChecked(true);
           })
        << QByteArray("BitBtnOK") << u8("충전모드: no entry is selected");
    QTest::newRow("contacts: list without an entry")
        << contacts << contactDialog << Setup([](QDialog *d) {
               child<QComboBox>(d, "cbbDryContact")->setCurrentIndex(-1);
               child<QCheckBox>(d, "ckbDryContact")->setChecked(true);
           })
        << QByteArray("BitBtnOK") << u8("경보접점 상태: no entry is selected");
    QTest::newRow("measurement: only a zero ticked")
        << QByteArray("mMeasurementSet") << QByteArray("frmSetting") << Setup([](QDialog *d) {
               child<QLineEdit>(d, "MskDC_LV")->setText(u8("00.00"));
               child<QCheckBox>(d, "cbDCV_SET_EN")->setChecked(true);
           })
        << QByteArray("BitBtnOK") << u8("Nothing was sent: a calibration value of zero is not written (DC 전압).");
}

void TestDeviceDialogs::everyWriteEndsVisibly()
{
    QFETCH(QByteArray, menu);
    QFETCH(QByteArray, dialog);
    QFETCH(Setup, setup);
    QFETCH(QByteArray, ok);
    QFETCH(QString, refusal);
    Rig rig;
    QDialog *d = rig.open(menu.constData(), dialog.constData());
    QVERIFY(d);
    setup(d);
    click(d, ok.constData());
    if (refusal.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(mainMessage(&rig.window), u8(" Setting Sucess!!"), 5000);
        return;
    }
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QVERIFY2(box->text().startsWith(refusal), qPrintable(box->text()));
    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.writeRequests, 0);
}

void TestDeviceDialogs::clockWritesAndReadsBack()
{
    Rig rig;
    auto *d = rig.open<ClockDialog>("mDataTimeSet", "frmSetTime");
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), u8("날짜/시간 설정"));
    auto *tabs = child<QTabWidget>(d, "PageControl1");
    QVERIFY(tabs && tabs->count() == 1);
    QCOMPARE(tabs->tabText(0), u8("날짜 / 시간"));
    QStringList groups;
    for (QGroupBox *g : d->findChildren<QGroupBox *>())
        groups << g->title();
    QCOMPARE(groups, QStringList({u8("날짜"), u8("시간")}));
    QStringList labels;
    for (QLabel *l : d->findChildren<QLabel *>())
        labels << l->text();
    QCOMPARE(labels, QStringList({u8("년"), u8("월"), u8("시"), u8("분"), u8("초")}));

    // Filled from the PC's clock at opening.
    auto *year = child<QSpinBox>(d, "spinedtYear");
    auto *month = child<QComboBox>(d, "cbMonth");
    auto *calendar = child<EngCalendar>(d, "EngCalendar1");
    QVERIFY(year && month && calendar);
    const QDate today = QDate::currentDate();
    QCOMPARE(year->text(), QString::number(today.year()));
    QCOMPARE(month->currentText(), QString::number(today.month()));
    QCOMPARE(QDate(calendar->year(), calendar->month(), calendar->day()), today);

    // The calendar's header and a click on a day.
    QString header;
    for (int c = 0; c < EngCalendar::Columns; ++c)
        header += calendar->cellText(0, c);
    QCOMPARE(header, u8("SMTWTFS"));
    ConsoleRig::shoot(d);

    typeInto(year, u8("2023"));
    month->setCurrentIndex(4);
    QCOMPARE(month->currentText(), u8("05"));
    // 7 May 2023 was a Sunday: first column of its row.
    QCOMPARE(calendar->cellText(2, 0), u8("7"));
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->dayRect(7).center());
    QCOMPARE(calendar->day(), 7);
    typeInto(child<QSpinBox>(d, "spinedtHour"), u8("9"));
    typeInto(child<QSpinBox>(d, "spinedtMIn"), u8("5"));
    // The seconds are typed and "설정" pressed without leaving the box: written as typed.
    typeInto(child<QSpinBox>(d, "spinedtSec"), u8("3"));
    QTest::mouseClick(child<QPushButton>(d, "bbtOK"), Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    QCOMPARE(writesText(rig.received), u8("5=5 4=9 3=7 2=5 1=2023 6=3"));
    QVERIFY(d->isVisible()); // stays open
    QVERIFY(rig.pollHeld());
    QVERIFY(!rig.engine().pollingRunning());

    QTest::mouseClick(child<QPushButton>(d, "bbtCancel"), Qt::LeftButton);
    QVERIFY(rig.pollRuns());
    // The controller's clock, as its status block reports it, runs on from what was set.
    QTRY_VERIFY_WITH_TIMEOUT(rig.status(1) == 2023 && rig.status(2) == 5 && rig.status(3) == 7, 5000);
    QCOMPARE(rig.status(4), 9);
    QCOMPARE(rig.status(5), 5);
    QVERIFY2(rig.status(6) >= 3 && rig.status(6) < 20, qPrintable(QString::number(rig.status(6))));
}

void TestDeviceDialogs::clockKeepsCalendarInStep()
{
    Rig rig;
    auto *d = rig.open<ClockDialog>("mDataTimeSet", "frmSetTime");
    QVERIFY(d);
    auto *year = child<QSpinBox>(d, "spinedtYear");
    auto *month = child<QComboBox>(d, "cbMonth");
    auto *calendar = child<EngCalendar>(d, "EngCalendar1");

    typeInto(year, u8("2024"));
    month->setCurrentIndex(0);
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->dayRect(31).center());
    QCOMPARE(calendar->day(), 31);
    month->setCurrentIndex(1); // February 2024
    QCOMPARE(QDate(calendar->year(), calendar->month(), calendar->day()), QDate(2024, 2, 29));
    typeInto(year, u8("2023"));
    QCOMPARE(QDate(calendar->year(), calendar->month(), calendar->day()), QDate(2023, 2, 28));

    // A year box emptied while typing stays empty (no 2001 in its place); the calendar
    // waits for a year.
    auto *yearEdit = year->findChild<QLineEdit *>();
    yearEdit->selectAll();
    QTest::keyClick(yearEdit, Qt::Key_Backspace);
    QCOMPARE(year->text(), QString());
    QCOMPARE(calendar->year(), 2023);
    QTest::keyClicks(yearEdit, u8("202"));
    QCOMPARE(calendar->year(), 2023);
    QTest::keyClicks(yearEdit, u8("5"));
    QCOMPARE(QDate(calendar->year(), calendar->month(), calendar->day()), QDate(2025, 2, 28));

    // "현재 날짜/시간" puts the PC's clock back.
    QTest::mouseClick(child<QPushButton>(d, "Button1"), Qt::LeftButton);
    QCOMPARE(year->text(), QString::number(QDate::currentDate().year()));
    QCOMPARE(calendar->day(), QDate::currentDate().day());
}

void TestDeviceDialogs::clockRefusesByName()
{
    Rig rig;
    auto *d = rig.open<ClockDialog>("mDataTimeSet", "frmSetTime");
    QVERIFY(d);
    auto *ok = child<QPushButton>(d, "bbtOK");

    // A seconds box emptied and not left: refused by its name, nothing sent.
    typeInto(child<QSpinBox>(d, "spinedtSec"), QString());
    QTest::mouseClick(ok, Qt::LeftButton);
    QTRY_VERIFY(refusalBox(d));
    QCOMPARE(refusalBox(d)->text(), u8("초 (second): the box is empty; nothing was sent."));
    refusalBox(d)->accept();
    QTRY_VERIFY(!refusalBox(d));

    // A typed month 13: refused with the field and its range, nothing sent.
    typeInto(child<QSpinBox>(d, "spinedtSec"), u8("0"));
    auto *month = child<QComboBox>(d, "cbMonth");
    typeInto(month->lineEdit(), u8("13"));
    QCOMPARE(month->currentText(), u8("13"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QMessageBox *box = refusalBox(d);
    QVERIFY(box);
    QVERIFY2(box->text().contains(u8("1..12")), qPrintable(box->text()));
    // Back in the dialog the typed values are still there to correct, not the PC clock.
    // (The offscreen platform does not hand the activation back by itself: sent here as a
    // desktop does when the box closes.)
    box->accept();
    QEvent back(QEvent::WindowActivate);
    QCoreApplication::sendEvent(d, &back);
    QCOMPARE(month->currentText(), u8("13"));
    // Any later return to the dialog takes the PC clock again.
    QCoreApplication::sendEvent(d, &back);
    QCOMPARE(month->currentText(), QString::number(QDate::currentDate().month()));

    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.writeRequests, 0);
    QCOMPARE(rig.sequencesOk + rig.sequencesFailed, 0);
}

void TestDeviceDialogs::clockPollingHeldAndResumed_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("닫기") << u8("bbtCancel");
    QTest::newRow("close box") << u8("close");
    QTest::newRow("Escape") << u8("escape");
}

void TestDeviceDialogs::clockPollingHeldAndResumed()
{
    QFETCH(QString, how);
    Rig rig;
    auto *d = rig.open<ClockDialog>("mDataTimeSet", "frmSetTime");
    QVERIFY(d);
    QVERIFY(rig.pollHeld());
    QVERIFY(!rig.engine().pollingRunning());
    // No status poll while it is open: the poll timer stands still, and once a poll still in
    // flight is answered, the controller's clock on the screen stays as it is.
    QVERIFY(!rig.engine().pollingRunning());
    QTRY_VERIFY(rig.linkIdle());
    const int decodes = rig.decodes;
    const int second = rig.status(6);
    QCoreApplication::processEvents();
    QVERIFY(rig.linkIdle());
    QCOMPARE(rig.decodes, decodes);
    QCOMPARE(rig.status(6), second);

    if (how == u8("close"))
        d->close();
    else if (how == u8("escape"))
        QTest::keyClick(d, Qt::Key_Escape);
    else
        QTest::mouseClick(child<QPushButton>(d, how.toLatin1().constData()), Qt::LeftButton);
    QVERIFY(rig.pollRuns());
    QTRY_VERIFY_WITH_TIMEOUT(rig.status(6) != second, 4000);
}

void TestDeviceDialogs::calibrationReachesThePlant()
{
    Rig rig;
    QTRY_COMPARE_WITH_TIMEOUT(rig.state().ModelCode(), 3, 5000);
    QDialog *d = rig.open("mMeasurementSet", "frmSetting");
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), u8("계측값 설정"));
    QVERIFY(rig.pollHeld());
    const char *boxes[] = {"cbACV_SET_EN", "cbACA_SET_EN", "cbDCV_SET_EN",
                           "cbLCA_SET_EN", "cbBCAP_SET_EN", "cbBCAN_SET_EN"};
    QStringList captions, texts;
    for (const char *name : boxes) {
        auto *box = child<QCheckBox>(d, name);
        QVERIFY(box && box->isVisible() && !box->isChecked());
        captions << box->text();
    }
    for (const char *name : {"MskACV", "MskACA", "MskDC_LV", "MskLDA", "MskBCP", "MskBCN"})
        texts << child<QLineEdit>(d, name)->text();
    QCOMPARE(captions, QStringList({u8("AC 전압"), u8("AC 전류"), u8("DC 전압"), u8("DC 전류"),
                                    u8("Battery 전류 (+)"), u8("Battery 전류 (-)")}));
    QCOMPARE(texts, QStringList({u8("220.0"), u8("00.00"), u8("54.00"), u8("18.50"),
                                 u8("03.00"), u8("10.00")}));
    ConsoleRig::shoot(d);

    // Every box ticked at the standard texts: AC current 00.00 is not written.
    for (const char *name : boxes)
        tick(child<QCheckBox>(d, name));
    QTest::mouseClick(child<QPushButton>(d, "BitBtnOK"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    QCOMPARE(writesText(rig.received), u8("53=10000 52=3000 51=18500 50=54000 48=2200"));
    for (const char *name : boxes)
        QVERIFY(!child<QCheckBox>(d, name)->isChecked());

    // "영점", then the three DC and battery current rows: zeros written.
    QTest::mouseClick(child<QPushButton>(d, "btnZero"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(d, "MskLDA")->text(), u8("00.00"));
    QCOMPARE(child<QLineEdit>(d, "MskACA")->text(), u8("00.00"));
    QCOMPARE(child<QLineEdit>(d, "MskDC_LV")->text(), u8("54.00"));
    for (const char *name : boxes)
        QVERIFY(!child<QCheckBox>(d, name)->isChecked());
    rig.received.clear();
    for (const char *name : {"cbLCA_SET_EN", "cbBCAP_SET_EN", "cbBCAN_SET_EN", "cbACA_SET_EN"})
        tick(child<QCheckBox>(d, name));
    QTest::mouseClick(child<QPushButton>(d, "BitBtnOK"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 2, 5000);
    QCOMPARE(writesText(rig.received), u8("53=0 52=0 51=0"));

    // The plant reports what it was given in its status block once polling runs again.
    QTest::mouseClick(child<QPushButton>(d, "BitBtnCancel"), Qt::LeftButton);
    QVERIFY(rig.pollRuns());
    rig.state().StatusRegisters[47] = -1;
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(48), 2200, 5000);
    QCOMPARE(rig.status(50), 54000);
    QCOMPARE(rig.status(51), 0);
    QCOMPARE(rig.status(52), 0);
    QCOMPARE(rig.status(53), 0);
}

void TestDeviceDialogs::calibrationRefusalKeepsTicks()
{
    Rig rig;
    QDialog *d = rig.open("mMeasurementSet", "frmSetting");
    QVERIFY(d);
    auto *dcv = child<QLineEdit>(d, "MskDC_LV");
    // The point is fixed: typing four digits fills the field around it.
    typeInto(dcv, u8("9999"));
    QCOMPARE(dcv->text(), u8("99.99"));
    tick(child<QCheckBox>(d, "cbDCV_SET_EN"));
    tick(child<QCheckBox>(d, "cbLCA_SET_EN"));
    QTest::mouseClick(child<QPushButton>(d, "BitBtnOK"), Qt::LeftButton);
    QMessageBox *box = refusalBox(d);
    QVERIFY(box);
    QVERIFY2(box->text().contains(u8("99990")), qPrintable(box->text()));
    QVERIFY(child<QCheckBox>(d, "cbDCV_SET_EN")->isChecked());
    QVERIFY(child<QCheckBox>(d, "cbLCA_SET_EN")->isChecked());
    delete box;

    // A field with a digit missing, ticked or not: the conversion error.
    child<QCheckBox>(d, "cbDCV_SET_EN")->setChecked(false);
    auto *bcn = child<QLineEdit>(d, "MskBCN");
    typeInto(bcn, u8("1"));
    QTest::mouseClick(child<QPushButton>(d, "BitBtnOK"), Qt::LeftButton);
    QTRY_VERIFY(refusalBox(d));
    QVERIFY2(refusalBox(d)->text().endsWith(u8("is not a valid integer value")),
             qPrintable(refusalBox(d)->text()));
    QVERIFY(child<QCheckBox>(d, "cbLCA_SET_EN")->isChecked());

    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.writeRequests, 0);
}

void TestDeviceDialogs::calibrationModelWithoutAc()
{
    Rig rig;
    QAction *action = rig.window.menuItem(u8("mMeasurementSet"));
    QVERIFY(rig.configurationEnabled());
    QVERIFY(!action->isVisible());
    rig.state().StatusRegisters[25] = 1; // a model without AC measurement
    action->trigger();
    auto *d = child<QDialog>(&rig.window, "frmSetting");
    QVERIFY(d);
    for (const char *name : {"cbACV_SET_EN", "MskACV", "lbACV_UNIT", "cbACA_SET_EN", "MskACA", "lbACA_UNIT"})
        QVERIFY2(!child<QWidget>(d, name)->isVisibleTo(d), name);
    for (const char *name : {"cbDCV_SET_EN", "MskDC_LV", "cbBCAN_SET_EN", "MskBCN"})
        QVERIFY2(child<QWidget>(d, name)->isVisibleTo(d), name);
}

void TestDeviceDialogs::factoryResetSentOnce()
{
    Rig rig;
    QDialog *d = rig.open("mFactoryInitial", "Factory_Initial");
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), u8("공장초기화 "));
    QCOMPARE(child<QGroupBox>(d, "rgFactoryInitial")->title(), u8("공장초기화 "));
    const auto radios = d->findChildren<QRadioButton *>();
    QCOMPARE(radios.size(), 2);
    QCOMPARE(radios[0]->text(), u8("Reset"));
    QCOMPARE(radios[1]->text(), u8("Config 초기화"));
    QVERIFY(!radios[0]->isChecked() && !radios[1]->isChecked());
    auto *ok = child<QPushButton>(d, "BitBtnI_OK");
    QCOMPARE(ok->text(), u8("설정 "));
    QCOMPARE(child<QPushButton>(d, "BitBtnI_Cancel")->text(), u8("나가기 "));
    ConsoleRig::shoot(d);

    // Nothing chosen: nothing sent.
    QTest::mouseClick(ok, Qt::LeftButton);
    QTest::mouseClick(radios[0], Qt::LeftButton);
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!radios[0]->isChecked());
    QTest::mouseClick(ok, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.writeRequests, 1);
    QCOMPARE(writesText(rig.received), u8("127=1"));

    QTest::mouseClick(child<QPushButton>(d, "BitBtnI_Cancel"), Qt::LeftButton);
    QVERIFY(rig.pollRuns());
}

void TestDeviceDialogs::factoryConfigInitialisation()
{
    Rig rig;
    // A calibration value first, so that the initialisation has something to undo.
    QDialog *cal = rig.open("mMeasurementSet", "frmSetting");
    QVERIFY(cal);
    tick(child<QCheckBox>(cal, "cbLCA_SET_EN"));
    QTest::mouseClick(child<QPushButton>(cal, "BitBtnOK"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 1, 5000);
    cal->close();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(51), 18500, 5000);

    QDialog *d = rig.open("mFactoryInitial", "Factory_Initial");
    QVERIFY(d);
    rig.received.clear();
    QTest::mouseClick(child<QRadioButton>(d, "rbConfig"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(d, "BitBtnI_OK"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sequencesOk, 2, 5000);
    QCOMPARE(writesText(rig.received), u8("127=2"));
    d->close();
    QVERIFY(rig.pollRuns());
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(51), 0, 5000);
}

QTEST_MAIN(TestDeviceDialogs)
#include "tst_devicedialogs.moc"
