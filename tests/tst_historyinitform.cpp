// The history initialisation dialog: its controls, the question that names the log before
// anything is erased, one request per confirmed press on both links, and every way of closing
// it handing the link back to the status poll.

#include "closewindow.h"
#include "enginerig.h"
#include "fakequestions.h"

#include "history/historyinitform.h"

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace qeln;

Q_DECLARE_METATYPE(qeln::LogKind)

class TestHistoryInitForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initFormEnabledStates();
    void initFormSendsOneRequestPerPress_data();
    void initFormSendsOneRequestPerPress();
    void initFormAsksFirst_data();
    void initFormAsksFirst();
    void initFormClosingResumesPolling_data();
    void initFormClosingResumesPolling();
};

void TestHistoryInitForm::initFormEnabledStates()
{
    EngineRig rig(false);
    HistoryInitForm form(rig.engine);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(form.objectName(), QStringLiteral("frmInitial"));
    QCOMPARE(form.windowTitle(), QStringLiteral("이력 초기화"));
    QCOMPARE(form.size(), QSize(218, 213));
    auto *alarm = form.findChild<QRadioButton *>(QStringLiteral("Alarm_Init"));
    auto *event = form.findChild<QRadioButton *>(QStringLiteral("Event_Init"));
    auto *ok = form.findChild<QPushButton *>(QStringLiteral("BitBtnI_OK"));
    auto *cancel = form.findChild<QPushButton *>(QStringLiteral("BitBtnI_Cancel"));
    QCOMPARE(alarm->text(), QStringLiteral("알람이력 초기화"));
    QCOMPARE(event->text(), QStringLiteral("이벤트로그 초기화"));
    QCOMPARE(ok->text(), QStringLiteral("설정"));
    QCOMPARE(cancel->text(), QStringLiteral("닫기"));
    QVERIFY(alarm->isVisible());
    QVERIFY(!event->isVisible());
    QVERIFY(!alarm->isChecked());

    QVERIFY(!ok->isEnabled());
    QTest::keyClick(&form, Qt::Key_Return); // no default button may send anything
    QVERIFY(rig.link.written().isEmpty());
    QTest::mouseClick(alarm, Qt::LeftButton);
    QVERIFY(ok->isEnabled());
    QVERIFY(cancel->isEnabled());
}

void TestHistoryInitForm::initFormSendsOneRequestPerPress_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<QByteArray>("request"); // TCP: after the transaction number
    QTest::addColumn<QByteArray>("answer");  // TCP: after the transaction number
    QTest::addColumn<QString>("message");

    const QString alarmDone = QStringLiteral(" Alarm Initial Sucess!!");
    QTest::newRow("serial alarm") << false << LogKind::Alarm << QByteArray(":0135CA\r\n")
                                  << QByteArray(":01C53A\r\n") << alarmDone;
    QTest::newRow("serial event") << false << LogKind::Event << QByteArray(":0145BA\r\n")
                                  << QByteArray(":01D52A\r\n") << QStringLiteral(" Event log Initial Sucess!!");
    QTest::newRow("tcp alarm") << true << LogKind::Alarm << QByteArray::fromHex("00000003014501")
                               << QByteArray::fromHex("00000003014501") << alarmDone;
    QTest::newRow("tcp event") << true << LogKind::Event << QByteArray::fromHex("00000003014802")
                               << QByteArray::fromHex("00000003014802") << QStringLiteral(" Event Initial Sucess!!");
}

void TestHistoryInitForm::initFormSendsOneRequestPerPress()
{
    QFETCH(bool, tcp);
    QFETCH(LogKind, kind);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, message);

    EngineRig rig(tcp);
    rig.link.setResponder([&](const QByteArray &written) {
        return tcp ? written.left(2) + answer : answer;
    });
    QSignalSpy messages(&rig.engine, &LinkEngine::messageRequested);
    HistoryInitForm form(rig.engine);
    FakeQuestions yes;
    yes.answer = true;
    form.setQuestions(&yes);
    form.show();
    auto *choice = form.findChild<QRadioButton *>(
        kind == LogKind::Alarm ? QStringLiteral("Alarm_Init") : QStringLiteral("Event_Init"));
    choice->show(); // the event-log choice is hidden unless shown on purpose
    QTest::mouseClick(choice, Qt::LeftButton);
    auto *ok = form.findChild<QPushButton *>(QStringLiteral("BitBtnI_OK"));

    for (int press = 1; press <= 2; ++press) {
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(rig.engine.pollingHeld());
        QTRY_COMPARE(messages.size(), press);
        QCOMPARE(messages.last().at(1).toString(), message);
        QVERIFY(form.isVisible());
    }
    // Two presses, two requests; a few more poll ticks in this state send nothing else.
    for (int tick = 0; tick < 5; ++tick)
        rig.engine.pollNow();
    // Whatever a tick sent has gone out and been answered once the link is free again.
    QTRY_VERIFY(!rig.engine.tcpBusy());
    const QList<QByteArray> written = rig.link.written();
    QCOMPARE(written.size(), 2);
    for (const QByteArray &frame : written)
        QCOMPARE(tcp ? frame.mid(2) : frame, request);
    QCOMPARE(messages.size(), 2);
}

void TestHistoryInitForm::initFormAsksFirst_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("closeFirst"); // the dialog is closed before the answer comes
    QTest::newRow("serial alarm, no") << false << LogKind::Alarm << false << false;
    QTest::newRow("serial alarm, yes") << false << LogKind::Alarm << true << false;
    QTest::newRow("tcp event, no") << true << LogKind::Event << false << false;
    QTest::newRow("tcp alarm, yes") << true << LogKind::Alarm << true << false;
    QTest::newRow("tcp alarm, yes after closing") << true << LogKind::Alarm << true << true;
}

void TestHistoryInitForm::initFormAsksFirst()
{
    QFETCH(bool, tcp);
    QFETCH(LogKind, kind);
    QFETCH(bool, yes);
    QFETCH(bool, closeFirst);

    EngineRig rig(tcp);
    FakeQuestions questions; // answered below, by hand
    HistoryInitForm form(rig.engine);
    form.setQuestions(&questions);
    form.show();
    auto *choice = form.findChild<QRadioButton *>(
        kind == LogKind::Alarm ? QStringLiteral("Alarm_Init") : QStringLiteral("Event_Init"));
    choice->show();
    QTest::mouseClick(choice, Qt::LeftButton);
    auto *ok = form.findChild<QPushButton *>(QStringLiteral("BitBtnI_OK"));

    // Pressed twice while the question is open: one question.
    QTest::mouseClick(ok, Qt::LeftButton);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(questions.asked.size(), 1);
    QVERIFY(rig.link.written().isEmpty());
    const QString text = questions.asked.first().text;
    QVERIFY2(text.contains(kind == LogKind::Alarm ? QStringLiteral("alarm history") : QStringLiteral("event log")),
             qPrintable(text));
    if (closeFirst)
        form.reject();
    questions.asked.first().answer(yes);
    const bool sends = yes && !closeFirst;
    QCOMPARE(rig.link.written().size(), sends ? 1 : 0);
    QCOMPARE(rig.engine.pollingHeld(), !closeFirst);

    // The next press asks again.
    if (!closeFirst) {
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(questions.asked.size(), 2);
        QCOMPARE(rig.link.written().size(), sends ? 1 : 0);
    }
}

void TestHistoryInitForm::initFormClosingResumesPolling_data()
{
    QTest::addColumn<CloseBy>("how");
    QTest::newRow("닫기") << CloseBy::Button;
    QTest::newRow("Escape") << CloseBy::Escape;
    QTest::newRow("close box") << CloseBy::WindowManager;
}

void TestHistoryInitForm::initFormClosingResumesPolling()
{
    QFETCH(CloseBy, how);

    EngineRig rig(false);
    QPointer<HistoryInitForm> form = new HistoryInitForm(rig.engine);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->open();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QVERIFY(rig.engine.pollingHeld());

    closeWindow(form, how);
    deleteClosed();
    QVERIFY(form.isNull());
    QVERIFY(!rig.engine.pollingHeld());
    QVERIFY(rig.link.written().isEmpty());
    // The next tick polls the status.
    rig.engine.pollNow();
    QCOMPARE(rig.link.written(), QList<QByteArray>{":01040001008377\r\n"});
}

QTEST_MAIN(TestHistoryInitForm)
#include "tst_historyinitform.moc"
