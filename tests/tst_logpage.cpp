// The page "log": its controls by name, the memo following the data log, the buttons, the
// messages of a save, and the decode's texts.

#include "fakequestions.h"

#include "app/consolestate.h"
#include "monitor/datalog.h"
#include "monitor/logpage.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qeln;

namespace {

struct Rig {
    ConsoleState state;
    QTemporaryDir dir;
    DataLog log{state};
    LogPage page{log};
    FakeQuestions questions;

    Rig()
    {
        log.setOutputDirectory(dir.path());
        page.setQuestions(&questions);
        page.resize(848, 680);
        page.show();
    }
    template <typename W = QWidget> W *find(const char *name)
    {
        return page.findChild<W *>(QLatin1String(name));
    }
    QStringList memo()
    {
        const QString text = find<QPlainTextEdit>("mmLogo")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
    void click(const char *name)
    {
        QTest::mouseClick(find(name), Qt::LeftButton);
    }
    QList<QMessageBox *> boxes(const char *name)
    {
        QList<QMessageBox *> shown;
        for (QMessageBox *box : page.findChildren<QMessageBox *>(QLatin1String(name))) {
            if (box->isVisible())
                shown << box;
        }
        return shown;
    }
};

} // namespace

class TestLogPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controls();
    void memoFollowsTheLog();
    void saveMessages();
    void decodeTexts();
    void deleteAsksForUnsavedLines_data();
    void deleteAsksForUnsavedLines();
    void outputFolder();
};

void TestLogPage::controls()
{
    Rig rig;
    QCOMPARE(rig.page.objectName(), QStringLiteral("TabSheet2"));
    auto *group = rig.find<QGroupBox>("rgLogoTime");
    QVERIFY(group);
    QCOMPARE(group->title(), QStringLiteral("Log Time"));
    const auto items = group->findChildren<QRadioButton *>();
    QStringList captions;
    for (QRadioButton *item : items)
        captions << item->text();
    QCOMPARE(captions, (QStringList{QStringLiteral("2초"), QStringLiteral("10초"), QStringLiteral("1분"),
                                    QStringLiteral("2분"), QStringLiteral("5분"), QStringLiteral("10분"),
                                    QStringLiteral("30분")}));
    QVERIFY(items.first()->isChecked());
    for (QRadioButton *item : items) // one row
        QCOMPARE(item->y(), items.first()->y());

    QCOMPARE(rig.find<QPushButton>("Button1")->text(), QStringLiteral("저장"));
    QCOMPARE(rig.find<QPushButton>("Button2")->text(), QStringLiteral("삭제"));
    QCOMPARE(rig.find<QPushButton>("btnLogo")->text(), QStringLiteral("Log 시작"));
    auto *memo = rig.find<QPlainTextEdit>("mmLogo");
    QCOMPARE(memo->size(), QSize(794, 441));
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(rig.find<QLabel>("Label50")->text(), QStringLiteral("현재 speed  "));
    QCOMPARE(rig.find<QLabel>("Label51")->text(), QStringLiteral("이더넷 속도  "));
    for (const char *edit : {"edtSpeed", "edtSpeedSetup", "edtFW"})
        QVERIFY2(rig.find<QLineEdit>(edit) && rig.find<QLineEdit>(edit)->isReadOnly(), edit);
    for (const char *label : {"LabCanFailCnt", "LabCanCpuCom", "lbCanCpuVer"})
        QVERIFY2(rig.find<QLabel>(label), label);
    QVERIFY(rig.find("lbCanCpuVer")->isHidden());
    QWidget *dsp = rig.find("pnlDSPver");
    QVERIFY(dsp->isHidden());
    for (const char *label : {"lbDspVer1", "lbDspVer2", "lbTaskFail"})
        QCOMPARE(rig.find(label)->parentWidget(), dsp);
    QVERIFY(QRect(0, 0, 848, 680).contains(rig.page.childrenRect()));
}

void TestLogPage::memoFollowsTheLog()
{
    Rig rig;
    rig.click("btnLogo");
    QVERIFY(rig.log.active());
    QCOMPARE(rig.find<QPushButton>("btnLogo")->text(), QStringLiteral("Log 중지"));
    QCOMPARE(rig.memo(), DataLog::header());

    QTest::mouseClick(rig.page.findChild<QRadioButton *>(QStringLiteral("rgLogoTime2")), Qt::LeftButton);
    QCOMPARE(rig.log.intervalIndex(), 2);
    QCOMPARE(rig.log.logTimer()->interval(), 60000);

    rig.log.onLogTick();
    rig.log.alarmWordsChanged();
    QCOMPARE(rig.memo(), rig.log.lines());
    QCOMPARE(rig.memo().last(), QStringLiteral("[al]") + rig.log.record());

    // The automatic save empties the memo down to a new header.
    while (rig.log.lines().size() < DataLog::PeriodicLimit)
        rig.log.onLogTick();
    QCOMPARE(rig.memo().size(), DataLog::PeriodicLimit);
    rig.log.onLogTick();
    QCOMPARE(rig.memo(), DataLog::header());

    // Nothing unsaved: "삭제" empties at once, and the running log starts again with its header.
    rig.click("Button2");
    QCOMPARE(rig.memo(), DataLog::header());
    QVERIFY(rig.log.active());
    rig.click("btnLogo");
    QCOMPARE(rig.find<QPushButton>("btnLogo")->text(), QStringLiteral("Log 시작"));
    QVERIFY(!rig.log.logTimer()->isActive());
}

void TestLogPage::saveMessages()
{
    Rig rig;
    rig.click("btnLogo");
    rig.log.onLogTick();

    // The click returns at once (no nested event loop) and tells where the file went.
    rig.click("Button1");
    QCOMPARE(rig.boxes("logSavedBox").size(), 1);
    const QString savedText = rig.boxes("logSavedBox").first()->text();
    QVERIFY2(savedText.contains(rig.dir.path()) && savedText.contains(QStringLiteral("QELN-2KN(A)_")),
             qPrintable(savedText));
    QCOMPARE(rig.memo().size(), 6);

    // A failing automatic save reports on every line, in one box that stays current.
    rig.log.setOutputDirectory(rig.dir.filePath(QStringLiteral("missing")));
    rig.click("Button1");
    QCOMPARE(rig.boxes("logSaveFailedBox").size(), 1);
    while (rig.log.lines().size() <= DataLog::PeriodicLimit + 2)
        rig.log.onLogTick();
    const auto failed = rig.boxes("logSaveFailedBox");
    QCOMPARE(failed.size(), 1);
    QVERIFY(failed.first()->text().contains(QStringLiteral("missing")));
    QCOMPARE(rig.memo().size(), DataLog::PeriodicLimit + 3); // nothing lost
    QVERIFY(rig.log.logTimer()->isActive());
}

void TestLogPage::decodeTexts()
{
    Rig rig;
    const QMap<QString, QString> texts{{QStringLiteral("edtSpeed"), QStringLiteral("100")},
                                       {QStringLiteral("edtSpeedSetup"), QStringLiteral("100M Full")},
                                       {QStringLiteral("edtFW"), QStringLiteral(" QELN-2KN  F/W V1.2.0.5  (2023/06/15)")},
                                       {QStringLiteral("LabCanCpuCom"), QStringLiteral("CPU Com(Fail)")},
                                       {QStringLiteral("lbDspVer1"), QStringLiteral("DSP#1 VER : ( V 0.3 ) 23-6-15")},
                                       {QStringLiteral("Lable_DCV"), QStringLiteral("DC전압 : 54.0 V")}};
    const QMap<QString, bool> visible{{QStringLiteral("LabCanFailCnt"), false},
                                      {QStringLiteral("LabCanCpuCom"), true},
                                      {QStringLiteral("lbCanCpuVer"), true},
                                      {QStringLiteral("pnlDSPver"), true},
                                      {QStringLiteral("Lable_DCV"), true}};
    const QMap<QString, quint32> colours{{QStringLiteral("LabCanCpuCom"), 0xFF0000}};
    rig.page.applyTexts(texts, visible, colours);

    QCOMPARE(rig.find<QLineEdit>("edtSpeed")->text(), QStringLiteral("100"));
    QCOMPARE(rig.find<QLineEdit>("edtSpeedSetup")->text(), QStringLiteral("100M Full"));
    QCOMPARE(rig.find<QLineEdit>("edtFW")->text(), QStringLiteral(" QELN-2KN  F/W V1.2.0.5  (2023/06/15)"));
    auto *com = rig.find<QLabel>("LabCanCpuCom");
    QCOMPARE(com->text(), QStringLiteral("CPU Com(Fail)"));
    QCOMPARE(com->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
    QVERIFY(com->isVisible());
    QVERIFY(!rig.find("LabCanFailCnt")->isVisible());
    QCOMPARE(rig.find<QLabel>("lbDspVer1")->text(), QStringLiteral("DSP#1 VER : ( V 0.3 ) 23-6-15"));
    // Never shown, whatever the decode says.
    QVERIFY(rig.find("lbCanCpuVer")->isHidden());
    QVERIFY(rig.find("pnlDSPver")->isHidden());
    // Another page's control is not this page's business.
    QCOMPARE(rig.page.findChild<QWidget *>(QStringLiteral("Lable_DCV")), nullptr);
}

void TestLogPage::deleteAsksForUnsavedLines_data()
{
    QTest::addColumn<int>("lines");     // periodic lines before "삭제"
    QTest::addColumn<bool>("saveFirst"); // "저장" before "삭제"
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("header only: no question") << 0 << false << false << false << true;
    QTest::newRow("saved: no question") << 3 << true << false << false << true;
    QTest::newRow("unsaved, no: kept") << 3 << false << false << true << false;
    QTest::newRow("unsaved, yes: dropped") << 3 << false << true << true << true;
}

void TestLogPage::deleteAsksForUnsavedLines()
{
    QFETCH(int, lines);
    QFETCH(bool, saveFirst);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, dropped);

    Rig rig;
    rig.questions.answer = answer;
    rig.click("btnLogo");
    for (int i = 0; i < lines; ++i)
        rig.log.onLogTick();
    if (saveFirst)
        rig.click("Button1");
    const QStringList before = rig.log.lines();
    rig.click("Button2");
    QCOMPARE(rig.questions.asked.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(rig.questions.asked.first().name, QStringLiteral("logDeleteQuestion"));
        QVERIFY(rig.questions.asked.first().text.contains(QString::number(lines)));
    }
    QCOMPARE(rig.log.lines(), dropped ? DataLog::header() : before);
    QCOMPARE(rig.memo(), rig.log.lines());
}

void TestLogPage::outputFolder()
{
    Rig rig;
    auto *label = rig.find<QLabel>("lbLogFolder");
    QVERIFY(label->text().contains(QDir::toNativeSeparators(rig.dir.path())));
    QSignalSpy chosen(&rig.page, &LogPage::outputFolderChosen);

    // Cancelled: nothing changes.
    rig.click("btnLogFolder");
    QCOMPARE(rig.questions.folderDialogs, 1);
    QCOMPARE(chosen.size(), 0);

    // A folder that does not exist is refused and the old one stays.
    rig.questions.folder = rig.dir.filePath(QStringLiteral("missing"));
    rig.click("btnLogFolder");
    QCOMPARE(rig.log.outputDirectory(), rig.dir.path());
    QCOMPARE(rig.boxes("logSaveFailedBox").size(), 1);
    QVERIFY(rig.boxes("logSaveFailedBox").first()->text().contains(QStringLiteral("missing")));
    rig.boxes("logSaveFailedBox").first()->close();

    // Another folder: the label shows it and the next save goes there.
    QTemporaryDir other;
    rig.questions.folder = other.path();
    rig.click("btnLogFolder");
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().first().toString(), other.path());
    QVERIFY(label->text().contains(QDir::toNativeSeparators(other.path())));
    rig.click("btnLogo");
    rig.log.onLogTick();
    rig.click("Button1");
    QCOMPARE(QDir(other.path()).entryList(QDir::Files).size(), 1);

    // A failed save tells the operator what to do in the window, not on a command line.
    rig.log.setOutputDirectory(rig.dir.filePath(QStringLiteral("gone")));
    rig.click("Button1");
    const QString failed = rig.boxes("logSaveFailedBox").first()->text();
    QVERIFY2(failed.contains(LogPage::folderButtonText()), qPrintable(failed));
    QVERIFY2(!failed.contains(QStringLiteral("--output-dir")), qPrintable(failed));
}

QTEST_MAIN(TestLogPage)
#include "tst_logpage.moc"
