// The IP settings dialog opened from the main window's menu against the simulated controller
// in this process, on both links: what it shows 3 s after a read, what "설정" sends and what a
// new read then shows, the refusals that send nothing, and that polling comes back however
// the dialog is closed.

#include "consolerig.h"
#include "app/consolesession.h"
#include "app/demosimulator.h"
#include "app/mainform.h"
#include "link/linkengine.h"
#include "link/transport.h"
#include "network/ipsettingsdialog.h"
#include "network/ipsettingslink.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace qeln;

namespace {

constexpr int Wait = 5000;

struct Rig : ConsoleRig {
    explicit Rig(bool tcp)
        : ConsoleRig(tcp), ipLink(window.findChild<IpSettingsLink *>()),
          decoded(ipLink, &IpSettingsLink::readBackDecoded)
    {
        QObject::connect(&engine(), &LinkEngine::requestSent, &window, [this](const QByteArray &frame, bool tcp) {
            if (tcp ? frame.size() > 7 && quint8(frame.at(7)) == 0x42 : frame.startsWith(":0123"))
                ++ipWrites;
        });
    }

    IpSettingsDialog *open()
    {
        if (!ipLink || !configurationEnabled() || !identified())
            return nullptr;
        decoded.clear(); // the connection's own read of the block is not the dialog's
        return ConsoleRig::open<IpSettingsDialog>("mIPSet", "frmIPSetting");
    }
    // The answer to the dialog's read has been decoded; the fill timer's tick then fills the boxes.
    // The answers seen so far are cleared, so the next read waits for a new one.
    bool readAndFill(IpSettingsDialog *d)
    {
        if (!QTest::qWaitFor([&] { return !decoded.isEmpty(); }, Wait))
            return false;
        decoded.clear();
        d->onFillTimeout();
        return d->readFilled();
    }
    // The dialog opened from its menu item and filled from its first read.
    IpSettingsDialog *openFilled()
    {
        IpSettingsDialog *d = open();
        return d && readAndFill(d) ? d : nullptr;
    }

    IpSettingsLink *ipLink = nullptr;
    QSignalSpy decoded; // the link's decoded read-backs
    int ipWrites = 0;
};

QString text(QWidget *d, const char *name)
{
    if (auto *memo = child<QPlainTextEdit>(d, name))
        return memo->toPlainText();
    auto *edit = child<QLineEdit>(d, name);
    return edit ? edit->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

// The part boxes edtIP1.. joined with ".".
QString parts(QWidget *d, const char *prefix, int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out << text(d, (QByteArray(prefix) + QByteArray::number(i)).constData());
    return out.join(QLatin1Char('.'));
}

void setText(QWidget *d, const char *name, const QString &value)
{
    if (auto *memo = child<QPlainTextEdit>(d, name)) {
        memo->setPlainText(value);
        return;
    }
    auto *edit = child<QLineEdit>(d, name);
    QVERIFY2(edit, name);
    edit->setText(value);
}

const char *const CheckBoxes[] = {"cbIP_SET_EN", "cbGW_SET_EN", "cbSM_SET_EN", "cbMAC_SET_EN", "cbHW_SET_EN",
                                  "cbSN_SET_EN", "cbHWDes_SET_EN", "cbRectID_SET_EN", "cbSite_SET_EN"};

QStringList checked(QWidget *d)
{
    QStringList out;
    for (const char *name : CheckBoxes) {
        if (child<QCheckBox>(d, name)->isChecked())
            out << QLatin1String(name);
    }
    return out;
}

QMessageBox *resultBox(QWidget *d)
{
    return d->findChild<QMessageBox *>(QLatin1String(IpSettingsDialog::ResultBoxName));
}

// Waits for the result of a write, closes its box and returns its text.
QString writeResult(IpSettingsDialog *d, QMessageBox::Icon *icon = nullptr)
{
    QMessageBox *box = nullptr;
    if (!QTest::qWaitFor([&] { return (box = resultBox(d)) && box->isVisible(); }, Wait))
        return QStringLiteral("<no result>");
    const QString text = box->text();
    if (icon)
        *icon = box->icon();
    box->accept();
    if (!QTest::qWaitFor([&] { return !resultBox(d); }, Wait))
        return QStringLiteral("<result box stays>");
    return text;
}

bool writtenAsSent(IpSettingsDialog *d)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const QString text = writeResult(d, &icon);
    if (text == QStringLiteral("IP settings written: the controller reads back what was sent.")
        && icon == QMessageBox::Information && !d->checkingWrite())
        return true;
    qWarning("write result: %s", qPrintable(text));
    return false;
}

void addLinkRows()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("serial") << false;
    QTest::newRow("tcp") << true;
}


} // namespace

class TestIpDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fillsThreeSecondsAfterRead_data() { addLinkRows(); }
    void fillsThreeSecondsAfterRead();
    void writeReachesController_data() { addLinkRows(); }
    void writeReachesController();
    void refusalsSendNothing_data() { addLinkRows(); }
    void refusalsSendNothing();
    void cutShortAnswerFillsWhatItHas();
    void selectionButtons();
    void defaultsByModel_data();
    void defaultsByModel();
    void pollingResumesOnEveryClose_data();
    void pollingResumesOnEveryClose();
    void writeIsReadBack_data() { addLinkRows(); }
    void writeIsReadBack();
    void lateAnswerKeepsTypedText();
    void unansweredReadBack();
};

// A read-back that does not come in time: the operator is told that the outcome is not known,
// and no write is built on the read from before it; the late answer is still checked.
void TestIpDialog::unansweredReadBack()
{
    Rig rig(true);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    d->setReadBackWaitMs(1); // gives up as soon as the read has gone out
    setText(d, "edtRectID", QStringLiteral("0000CAFE"));
    child<QCheckBox>(d, "cbRectID_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const QString unknown = writeResult(d, &icon);
    QVERIFY2(unknown.contains(QStringLiteral("did not answer")), qPrintable(unknown));
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(!d->readFilled());
    // As the message says: "조회" shows what the controller holds, and checks the write.
    click(d, "btnRead");
    QVERIFY(writtenAsSent(d));
    QVERIFY(d->readFilled());
    QCOMPARE(rig.ipLink->lastReadBack()->rectifierIdText, QStringLiteral("0000CAFE"));
}

// Each write is followed by a read that says whether it took; the next write is built on
// that read, so it never sends back what an earlier write changed.
void TestIpDialog::writeIsReadBack()
{
    QFETCH(bool, tcp);
    Rig rig(tcp);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    const QString site = QStringLiteral("제3변전소 B동");
    setText(d, "mmSiteInfo", site);
    child<QCheckBox>(d, "cbSite_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    // Until the read-back has come, "설정" waits: a write now would be built on the old read.
    QVERIFY(d->checkingWrite());
    child<QCheckBox>(d, "cbIP_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QVERIFY2(box->text().contains(QStringLiteral("still being checked")), qPrintable(box->text()));
    box->accept();
    child<QCheckBox>(d, "cbIP_SET_EN")->setChecked(false);
    QVERIFY(writtenAsSent(d));
    QCOMPARE(rig.ipWrites, 1);

    // Only the rectifier ID: the site written before stays (it used to be put back).
    setText(d, "edtRectID", QStringLiteral("0000ABCD"));
    child<QCheckBox>(d, "cbRectID_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QVERIFY(writtenAsSent(d));
    QCOMPARE(rig.ipWrites, 2);
    QCOMPARE(rig.ipLink->lastReadBack()->siteText, site);
    QCOMPARE(rig.ipLink->lastReadBack()->rectifierIdText, QStringLiteral("0000ABCD"));
    QCOMPARE(text(d, "mmSiteInfo"), site);

    // A description the controller cannot keep beside the site: it refuses the block. The
    // dialog says so, names the item and selects it again with what was typed.
    const QString description(70, QLatin1Char('D'));
    setText(d, "mmHWDes", description);
    child<QCheckBox>(d, "cbHWDes_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const QString refused = writeResult(d, &icon);
    QVERIFY2(refused.startsWith(QStringLiteral("The controller refused the IP settings")), qPrintable(refused));
    QVERIFY2(refused.contains(QStringLiteral("(HW 설명)")), qPrintable(refused));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(checked(d), QStringList{QStringLiteral("cbHWDes_SET_EN")});
    QCOMPARE(text(d, "mmHWDes"), description);
    QCOMPARE(rig.ipWrites, 3);
    QCOMPARE(rig.ipLink->lastReadBack()->siteText, site);
}

// An answer later than the 3 s fills the boxes, but not those typed into meanwhile.
void TestIpDialog::lateAnswerKeepsTypedText()
{
    Rig rig(true);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    const QString gateway = parts(d, "edtGW", 4);
    setText(d, "edtGW4", QStringLiteral("254")); // before "조회": the read shows the controller's
    rig.decoded.clear();
    click(d, "btnRead");
    // The read goes out on the next poll tick: its answer cannot be here yet.
    d->onFillTimeout();
    QVERIFY(rig.decoded.isEmpty());
    QVERIFY(child<QLabel>(d, "lblReadState")->text().startsWith(QStringLiteral("No answer")));
    auto *rectifier = child<QLineEdit>(d, "edtRectID");
    rectifier->selectAll();
    QTest::keyClicks(rectifier, QStringLiteral("BEEF"));
    setText(d, "mmSiteInfo", QStringLiteral("typed while waiting"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.decoded.isEmpty(), Wait);
    QTRY_VERIFY(d->readFilled());
    QCOMPARE(text(d, "edtRectID"), QStringLiteral("BEEF"));
    QCOMPARE(text(d, "mmSiteInfo"), QStringLiteral("typed while waiting"));
    QCOMPARE(parts(d, "edtGW", 4), gateway);
}

void TestIpDialog::fillsThreeSecondsAfterRead()
{
    QFETCH(bool, tcp);
    Rig rig(tcp);
    QVERIFY(rig.ipLink);
    QSignalSpy &decoded = rig.decoded;
    QVERIFY(QTest::qWaitFor([&] { return rig.window.menuItem(QStringLiteral("mIPSet"))->isEnabled(); }, Wait));
    IpSettingsDialog *d = rig.open();
    QVERIFY(d);
    QCOMPARE(d->fillTimer()->interval(), IpSettingsDialog::FillDelayMs);
    QSignalSpy fillTicks(d->fillTimer(), &QTimer::timeout);
    QCOMPARE(d->windowTitle(), QStringLiteral("IP 설정"));
    QStringList groups;
    for (QGroupBox *g : d->findChildren<QGroupBox *>())
        groups << g->title();
    QCOMPARE(groups, (QStringList{QStringLiteral("IP 설정"), QStringLiteral("자동IP 설정"),
                                  QStringLiteral("Site 정보 (이름을 변경할수 있음)"), QStringLiteral("네트워크 정보")}));
    QVERIFY(!child<QCheckBox>(d, "cbMAC_SET_EN")->isEnabled());
    QVERIFY(checked(d).isEmpty());
    QCOMPARE(child<QLineEdit>(d, "edtSN")->maxLength(), 11);
    QCOMPARE(child<QLineEdit>(d, "edtRectID")->maxLength(), 8);

    // Before the answer has filled the boxes, "설정" writes nothing.
    child<QCheckBox>(d, "cbIP_SET_EN")->setChecked(true);
    setText(d, "edtIP1", QStringLiteral("10"));
    click(d, "bbtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    QVERIFY(box->text().contains(QStringLiteral("조회")));
    box->accept();
    QVERIFY(child<QCheckBox>(d, "cbIP_SET_EN")->isChecked());

    // An answer that comes before the fill timer's tick waits for it; the tick fills the boxes.
    QTRY_VERIFY_WITH_TIMEOUT(!decoded.isEmpty(), Wait);
    if (fillTicks.isEmpty())
        QCOMPARE(text(d, "edtIP2"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(fillTicks.size(), 1, Wait);
    QVERIFY(!text(d, "edtIP2").isEmpty());
    QVERIFY(!d->fillTimer()->isActive());
    ConsoleRig::shoot(d);

    // Every field as the dialog shows it: octets of at least two digits, the MAC in hex pairs.
    const auto r = decoded.last().at(0).value<IpSettingsReadBack>();
    QCOMPARE(parts(d, "edtIP", 4), QStringLiteral("192.168.50.92"));
    QCOMPARE(parts(d, "edtSM", 4), QStringLiteral("255.255.255.00"));
    QCOMPARE(parts(d, "edtGW", 4), QStringLiteral("192.168.50.01"));
    QCOMPARE(parts(d, "edtMAC", 6), QStringLiteral("00.1A.3A.E0.00.01"));
    QCOMPARE(parts(d, "edtHW", 4), r.hwVersionText);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d+\\.\\d\\d+\\.\\d\\d+\\.\\d\\d+$")).match(parts(d, "edtHW", 4)).hasMatch());
    QCOMPARE(text(d, "edtSavedIP"), QStringLiteral("192.168.50.92"));
    QCOMPARE(text(d, "edtSavedMAC"), r.savedMacText);
    QCOMPARE(text(d, "edtSavedIPMAC"), r.savedIpMacText);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{2}(\\.[0-9A-F]{2}){5}$")).match(text(d, "edtSavedMAC")).hasMatch());
    QCOMPARE(text(d, "edtRectID"), r.rectifierIdText);
    QCOMPARE(text(d, "edtSavedRectID"), r.savedRectifierIdText);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}$")).match(text(d, "edtRectID")).hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("^V\\d\\d+\\.\\d\\d+\\.\\d\\d+\\.\\d\\d+\\([0-9A-F]{8}\\)$"))
                .match(text(d, "edtFW"))
                .hasMatch());
    QCOMPARE(text(d, "mmHWDes"), r.hwDescriptionText);
    QVERIFY(!text(d, "mmHWDes").isEmpty());
    QCOMPARE(text(d, "edtSN"), r.serialNumberText);
    QCOMPARE(text(d, "edtSN").size(), 10);
    QCOMPARE(text(d, "mmSiteInfo"), r.siteText);
    QCOMPARE(text(d, "FlatEdit3"), QString());
    QVERIFY(!child<QLabel>(d, "lblReadState")->isVisible());
    // Filling leaves the selection alone.
    QCOMPARE(checked(d), QStringList{QStringLiteral("cbIP_SET_EN")});
    QCOMPARE(rig.ipWrites, 0);
    // Serial: status polling goes on while the dialog is open.
    if (!tcp)
        QVERIFY(rig.freshStatus());

    // A disconnect forgets what the read said: the next controller starts from nothing.
    d->reject();
    QVERIFY(rig.ipLink->lastReadBack().has_value());
    rig.session.disconnectCommand();
    QVERIFY(!rig.ipLink->lastReadBack().has_value());
}

void TestIpDialog::writeReachesController()
{
    QFETCH(bool, tcp);
    Rig rig(tcp);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    const QString description = text(d, "mmHWDes");
    const QString serial = text(d, "edtSN");
    const QString rectifier = text(d, "edtRectID");

    // Changed without its check box: not written.
    setText(d, "edtGW4", QStringLiteral("254"));
    setText(d, "edtIP4", QStringLiteral("7"));
    child<QCheckBox>(d, "cbIP_SET_EN")->setChecked(true);
    setText(d, "mmSiteInfo", QStringLiteral("제2변전소 A동"));
    child<QCheckBox>(d, "cbSite_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QTRY_COMPARE_WITH_TIMEOUT(rig.ipWrites, 1, Wait);
    QVERIFY(!refusalBox(d));
    QVERIFY(checked(d).isEmpty());
    // The block is read back and compared with what was sent; the dialog says how it went.
    QVERIFY(writtenAsSent(d));
    QVERIFY(checked(d).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine().pollingHeld(), Wait);

    // "조회": the boxes are filled again from the controller's new answer.
    rig.decoded.clear();
    setText(d, "edtIP4", QString());
    click(d, "btnRead");
    QVERIFY(!d->readFilled());
    QVERIFY(rig.readAndFill(d));
    QCOMPARE(parts(d, "edtIP", 4), QStringLiteral("192.168.50.07"));
    QCOMPARE(text(d, "edtSavedIP"), QStringLiteral("192.168.50.07"));
    QCOMPARE(parts(d, "edtGW", 4), QStringLiteral("192.168.50.01"));
    QCOMPARE(text(d, "mmSiteInfo"), QStringLiteral("제2변전소 A동"));
    QCOMPARE(text(d, "mmHWDes"), description);
    QCOMPARE(text(d, "edtSN"), serial);
    QCOMPARE(text(d, "edtRectID"), rectifier);
    QCOMPARE(rig.ipWrites, 1);

    click(d, "BitBtn2");
    QTRY_VERIFY(!rig.window.findChild<IpSettingsDialog *>());
    QTRY_VERIFY_WITH_TIMEOUT(rig.pollRuns(), Wait);
    QVERIFY(rig.freshStatus());
}

void TestIpDialog::refusalsSendNothing()
{
    QFETCH(bool, tcp);
    Rig rig(tcp);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);

    struct Case {
        const char *what;
        const char *box;
        const char *field;
        QString value;
    };
    const Case cases[] = {
        {"octet 256", "cbIP_SET_EN", "edtIP1", QStringLiteral("256")},
        {"octet not a number", "cbGW_SET_EN", "edtGW2", QStringLiteral("1a")},
        {"empty octet", "cbSM_SET_EN", "edtSM4", QString()},
        {"hardware version 300", "cbHW_SET_EN", "edtHW3", QStringLiteral("300")},
        {"MAC GG", "cbMAC_SET_EN", "edtMAC3", QStringLiteral("GG")},
        {"rectifier ID not hex", "cbRectID_SET_EN", "edtRectID", QStringLiteral("12G4")},
        {"serial number 9 bytes", "cbSN_SET_EN", "edtSN", QStringLiteral("220000001;")},
        {"serial number 5 Hangul = 10 bytes too many", "cbSN_SET_EN", "edtSN", QStringLiteral("가나다라마바사아자차")},
        {"description not in CP949", "cbHWDes_SET_EN", "mmHWDes", QStringLiteral("PSU \U0001F600")},
        {"site over the payload", "cbSite_SET_EN", "mmSiteInfo", QString(200, QLatin1Char('S'))},
    };
    for (const Case &c : cases) {
        const QString before = text(d, c.field);
        setText(d, c.field, c.value);
        // The MAC box is disabled for the operator; a bad MAC is refused all the same.
        child<QCheckBox>(d, c.box)->setChecked(true);
        click(d, "bbtnOK");
        QMessageBox *box = nullptr;
        QTRY_VERIFY2((box = refusalBox(d)) && box->isVisible(), c.what);
        QVERIFY2(box->text().contains(QLatin1String("Nothing was sent")), qPrintable(box->text()));
        // The box of the refused value is marked (the whole block too long marks none).
        QCOMPARE(child<QWidget>(d, c.field)->styleSheet().contains(QLatin1String("background")),
                 c.value.size() < 200);
        box->accept();
        QTRY_VERIFY(!refusalBox(d));
        QVERIFY2(child<QCheckBox>(d, c.box)->isChecked(), c.what);
        QVERIFY(!rig.engine().pollingHeld());
        child<QCheckBox>(d, c.box)->setChecked(false);
        setText(d, c.field, before);
    }
    // Three bad values at once: every one is named and marked, the good parts are not.
    const std::pair<const char *, QString> bad[] = {
        {"edtIP1", QStringLiteral("256")}, {"edtIP3", QStringLiteral("300")}, {"edtMAC3", QStringLiteral("GG")}};
    for (const auto &[field, value] : bad)
        setText(d, field, value);
    for (const char *box : {"cbIP_SET_EN", "cbMAC_SET_EN"})
        child<QCheckBox>(d, box)->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    for (const auto &[field, value] : bad) {
        QVERIFY2(box->text().contains(value), qPrintable(box->text()));
        QVERIFY2(child<QWidget>(d, field)->styleSheet().contains(QLatin1String("background")), field);
    }
    QVERIFY(child<QWidget>(d, "edtIP2")->styleSheet().isEmpty());
    box->accept();
    QTRY_VERIFY(!refusalBox(d));
    for (const char *box : {"cbIP_SET_EN", "cbMAC_SET_EN"})
        child<QCheckBox>(d, box)->setChecked(false);
    QCOMPARE(rig.ipWrites, 0);

    // Nothing selected: nothing sent and nothing said.
    click(d, "bbtnOK");
    QTRY_VERIFY(rig.linkIdle());
    QVERIFY(!refusalBox(d));
    QCOMPARE(rig.ipWrites, 0);
}

void TestIpDialog::cutShortAnswerFillsWhatItHas()
{
    Rig rig(true);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    QVERIFY(!text(d, "mmHWDes").isEmpty());

    // "조회" answered by a block that ends after the subnet mask. The poll timer stands still,
    // so the read waits under its ticket (asking again gives the same one) for that answer.
    rig.engine().stopPolling();
    click(d, "btnRead");
    const Ticket read = rig.engine().requestIpBlock();
    QByteArray block(2, '\0');
    block += QByteArray::fromHex("001A3AE00009" "0A000005" "FFFF0000");
    Q_EMIT rig.engine().answered(read, Answer{Function::TcpIpBlockRead, block, RequestKind::IpBlockRead});
    rig.engine().startPolling();
    d->onFillTimeout();
    QCOMPARE(parts(d, "edtIP", 4), QStringLiteral("10.00.00.05"));
    QCOMPARE(parts(d, "edtSM", 4), QStringLiteral("255.255.00.00"));
    QCOMPARE(parts(d, "edtMAC", 6), QStringLiteral("00.1A.3A.E0.00.09"));
    // What the answer did not reach is emptied, not left from the earlier read.
    QCOMPARE(parts(d, "edtGW", 4), QStringLiteral("..."));
    QCOMPARE(text(d, "mmHWDes"), QString());
    QCOMPARE(text(d, "edtFW"), QString());
    auto *state = child<QLabel>(d, "lblReadState");
    QVERIFY(state->isVisible());
    QVERIFY2(state->text().contains(QStringLiteral("cut short")), qPrintable(state->text()));

    // The items the answer lacks cannot go out as read: refused.
    child<QCheckBox>(d, "cbIP_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    box->accept();
    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.ipWrites, 0);
}

void TestIpDialog::selectionButtons()
{
    Rig rig(true);
    IpSettingsDialog *d = rig.open();
    QVERIFY(d);
    click(d, "btnAllCheck");
    QCOMPARE(checked(d), (QStringList{QStringLiteral("cbIP_SET_EN"), QStringLiteral("cbGW_SET_EN"),
                                      QStringLiteral("cbSM_SET_EN"), QStringLiteral("cbHW_SET_EN"),
                                      QStringLiteral("cbSN_SET_EN"), QStringLiteral("cbHWDes_SET_EN"),
                                      QStringLiteral("cbRectID_SET_EN"), QStringLiteral("cbSite_SET_EN")}));
    child<QCheckBox>(d, "cbMAC_SET_EN")->setChecked(true);
    click(d, "btnAllRelease");
    QVERIFY(checked(d).isEmpty());

    const std::pair<const char *, const char *> ids[] = {
        {"btnDU", "FFFFFFFE"}, {"btnManuIP", "0"}, {"btnID", "1"}};
    for (const auto &[button, value] : ids) {
        click(d, button);
        QCOMPARE(text(d, "edtRectID"), QLatin1String(value));
    }
    QCOMPARE(rig.ipWrites, 0);
}

void TestIpDialog::defaultsByModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("hwVersion");
    const QString kept = QStringLiteral("kept as it was");
    QTest::newRow("model 2") << 2
                             << QStringLiteral("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000AH;PSU_6S_2000AH;")
                             << QStringLiteral("0.0.0.1");
    QTest::newRow("model 3") << 3
                             << QStringLiteral("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000W;PSU_6S_2000W;")
                             << QStringLiteral("0.0.0.0");
    QTest::newRow("model 4") << 4
                             << QStringLiteral("Marvek Pelvart;MARVEK;MARVEK 5G RectifierSystem 54V/37A/2000W;PSU_6S_2000W;")
                             << QStringLiteral("0.0.0.0");
    QTest::newRow("model 1") << 1 << kept << QStringLiteral("0.0.0.1");
}

void TestIpDialog::defaultsByModel()
{
    QFETCH(int, model);
    QFETCH(QString, description);
    QFETCH(QString, hwVersion);
    Rig rig(true);
    IpSettingsDialog *d = rig.open();
    QVERIFY(d);
    setText(d, "mmHWDes", QStringLiteral("kept as it was"));
    setText(d, "mmSiteInfo", QStringLiteral("site"));
    // The status poll keeps the model code; the button reads it when pressed.
    rig.state().StatusRegisters[25] = model;
    click(d, "btnDefault");
    QCOMPARE(parts(d, "edtIP", 4), QStringLiteral("192.168.50.92"));
    QCOMPARE(parts(d, "edtGW", 4), QStringLiteral("192.168.50.1"));
    QCOMPARE(parts(d, "edtSM", 4), QStringLiteral("255.255.255.0"));
    QCOMPARE(parts(d, "edtMAC", 6), QStringLiteral("00.1A.3A.E0.00.00"));
    QCOMPARE(parts(d, "edtHW", 4), hwVersion);
    QCOMPARE(text(d, "edtSN"), QStringLiteral("2200000001;"));
    QCOMPARE(text(d, "mmSiteInfo"), QString());
    QCOMPARE(text(d, "mmHWDes"), description);
    // Only shown: nothing goes out until "설정".
    QTRY_VERIFY(rig.linkIdle());
    QCOMPARE(rig.ipWrites, 0);
}

void TestIpDialog::pollingResumesOnEveryClose_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("how");
    for (bool tcp : {false, true}) {
        for (const char *how : {"닫기", "close box", "Escape"}) {
            const QByteArray name = QByteArray(tcp ? "tcp, " : "serial, ") + how;
            QTest::newRow(name.constData()) << tcp << QString::fromUtf8(how);
        }
    }
}

void TestIpDialog::pollingResumesOnEveryClose()
{
    QFETCH(bool, tcp);
    QFETCH(QString, how);
    Rig rig(tcp);
    IpSettingsDialog *d = rig.openFilled();
    QVERIFY(d);
    // A write just before closing: on TCP it holds the poll, and closing must not cut it off.
    setText(d, "edtHW4", QStringLiteral("9"));
    child<QCheckBox>(d, "cbHW_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QSignalSpy reopened(rig.engine().tcpTransport(), &Transport::opened);
    if (how == QStringLiteral("닫기"))
        click(d, "BitBtn2");
    else if (how == QStringLiteral("close box"))
        d->close();
    else
        QTest::keyClick(d, Qt::Key_Escape);
    QTRY_VERIFY(!rig.window.findChild<IpSettingsDialog *>());
    QTRY_VERIFY_WITH_TIMEOUT(rig.pollRuns(), Wait);
    QVERIFY(rig.freshStatus());
    QTRY_COMPARE_WITH_TIMEOUT(rig.ipWrites, 1, Wait);
    // TCP: the connection was closed and opened again.
    if (tcp)
        QTRY_VERIFY_WITH_TIMEOUT(!reopened.isEmpty(), Wait);
    else
        QCOMPARE(reopened.size(), 0);

    // The write got through: a new dialog reads it back. Until its own read has filled it,
    // the answer an earlier dialog got does not count.
    rig.decoded.clear();
    d = rig.open();
    QVERIFY(d);
    QVERIFY(rig.ipLink->lastReadBack().has_value());
    child<QCheckBox>(d, "cbRectID_SET_EN")->setChecked(true);
    click(d, "bbtnOK");
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = refusalBox(d)) && box->isVisible());
    box->accept();
    QVERIFY(rig.readAndFill(d));
    QCOMPARE(text(d, "edtHW4"), QStringLiteral("09"));
    QCOMPARE(rig.ipWrites, 1);
}

QTEST_MAIN(TestIpDialog)
#include "tst_ipdialog.moc"
