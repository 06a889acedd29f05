// The "Status" page under the offscreen platform: its layout, what a decoded status shows on
// it, the power-flow pictures, the module tree and the contact-alarm window. Status responses
// go through the real decode (a TCP status payload handed to the link engine).

#include "app/consolestate.h"
#include "link/faketransport.h"
#include "link/linkengine.h"
#include "monitor/artwork.h"
#include "monitor/contactalarmform.h"
#include "monitor/livemonitor.h"
#include "monitor/statuspage.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTreeWidget>

#include "testframes.h"

#include <map>
#include <memory>

using namespace qeln;

namespace {

// "7=2205 66=1 16=0x0080" -> register values.
std::map<int, int> parseRegisters(const QString &text)
{
    std::map<int, int> registers;
    const QStringList pairs = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &pair : pairs) {
        const QStringList parts = pair.split(QLatin1Char('='));
        registers[parts.at(0).toInt()] = parts.at(1).toInt(nullptr, 0);
    }
    return registers;
}

QImage imageOf(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestStatusPage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void artworkPictures_data();
    void artworkPictures();
    void stripPicturesMove();
    void geometry_data();
    void geometry();
    void startUp_data();
    void startUp();
    void fonts();
    void decodedStatus_data();
    void decodedStatus();
    void handMadeView();
    void textsFit();
    void frames_data();
    void frames();
    void animationFromRegisters();
    void preview();
    void treeMirror();
    void answerMissing();
    void contactAlarmTicks_data();
    void contactAlarmTicks();
    void contactClickOpensModalForm();

private:
    // One decoded status response with these registers (the others 0).
    void decode(const std::map<int, int> &registers);
    template <typename T = QWidget> T *control(const char *name) const
    {
        return qobject_cast<T *>(page->control(QLatin1String(name)));
    }
    // The numbers of the shown pictures of one strip.
    QList<int> shownPictures(const char *prefix) const;
    // Texts of the tree's lines at one level (0 root, 1 groups, 2 alarm lines).
    QStringList treeLines(int level) const;
    QTreeWidgetItem *treeLine(const QString &text) const;
    bool alarmIcon(QTreeWidgetItem *item) const;

    std::unique_ptr<ConsoleState> state;
    std::unique_ptr<LinkEngine> engine;
    std::unique_ptr<FakeTransport> link;
    int transaction = 0;
    std::unique_ptr<LiveMonitor> monitor;
    std::unique_ptr<QWidget> window;
    StatusPage *page = nullptr;
};

void TestStatusPage::init()
{
    state = std::make_unique<ConsoleState>();
    engine = std::make_unique<LinkEngine>(*state);
    engine->setLink(LinkKind::Tcp);
    link = std::make_unique<FakeTransport>();
    link->open();
    transaction = 0;
    engine->setTcpTransport(link.get());
    monitor = std::make_unique<LiveMonitor>(*engine, *state);
    window = std::make_unique<QWidget>();
    window->resize(856, 704);
    page = new StatusPage(*monitor, *state, window.get());
    window->show();
}

void TestStatusPage::cleanup()
{
    window.reset();
    monitor.reset();
    engine.reset();
    link.reset();
    state.reset();
}

void TestStatusPage::decode(const std::map<int, int> &registers)
{
    QList<int> regs;
    for (int n = 1; n <= 131; ++n) {
        const auto found = registers.find(n);
        regs << (found == registers.end() ? 0 : found->second);
    }
    // A poll, and its answer as the controller sends it.
    engine->pollNow();
    link->injectNow(testframes::tcpStatusResponse(++transaction, regs));
    QTRY_VERIFY(!engine->tcpBusy());
}

QList<int> TestStatusPage::shownPictures(const char *prefix) const
{
    QList<int> shown;
    for (int n = 1; n <= 11; ++n) {
        QWidget *picture = page->control(QLatin1String(prefix) + QString::number(n));
        if (picture && !picture->isHidden())
            shown << n;
    }
    return shown;
}

QStringList TestStatusPage::treeLines(int level) const
{
    QStringList lines;
    auto *tree = control<QTreeWidget>("TreeViewM");
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem *up = (*it)->parent(); up; up = up->parent())
            ++depth;
        if (depth == level)
            lines << (*it)->text(0);
    }
    return lines;
}

QTreeWidgetItem *TestStatusPage::treeLine(const QString &text) const
{
    const auto found = control<QTreeWidget>("TreeViewM")->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

bool TestStatusPage::alarmIcon(QTreeWidgetItem *item) const
{
    const QImage icon = imageOf(item->icon(0).pixmap(16, 16));
    if (icon == imageOf(artwork::treeIcon(ModuleTree::Alarm).pixmap(16, 16)))
        return true;
    if (icon != imageOf(artwork::treeIcon(ModuleTree::Normal).pixmap(16, 16)))
        qWarning("%s: neither the normal nor the alarm icon", qPrintable(item->text(0)));
    return false;
}

void TestStatusPage::artworkPictures_data()
{
    QTest::addColumn<QPixmap>("picture");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("minCoverage"); // percent of the area that is drawn

    QTest::newRow("green lamp") << artwork::lamp(artwork::Lamp::Green) << QSize(9, 9) << 60;
    QTest::newRow("red lamp") << artwork::lamp(artwork::Lamp::Red) << QSize(9, 9) << 60;
    QTest::newRow("idle cell") << artwork::cellSquare(false) << QSize(32, 32) << 80;
    QTest::newRow("balancing cell") << artwork::cellSquare(true) << QSize(32, 32) << 80;
    QTest::newRow("ac source") << artwork::acSource() << QSize(73, 65) << 80;
    QTest::newRow("rectifier") << artwork::rectifier() << QSize(49, 89) << 80;
    QTest::newRow("load") << artwork::load() << QSize(57, 97) << 50;
    QTest::newRow("charging") << artwork::battery(true) << QSize(65, 69) << 70;
    QTest::newRow("discharging") << artwork::battery(false) << QSize(65, 69) << 70;
    QTest::newRow("ac strip") << artwork::strip(artwork::Strip::Ac, 1) << QSize(93, 5) << 100;
    QTest::newRow("battery strip") << artwork::strip(artwork::Strip::Batt, 11) << QSize(5, 93) << 100;
    QTest::newRow("tree icon") << artwork::treeIcon(2).pixmap(16, 16) << QSize(16, 16) << 55;
}

void TestStatusPage::artworkPictures()
{
    QFETCH(QPixmap, picture);
    QFETCH(QSize, size);
    QFETCH(int, minCoverage);

    QCOMPARE(picture.deviceIndependentSize().toSize(), size);
    const QImage image = imageOf(picture);
    qint64 drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    QVERIFY2(drawn * 100 >= qint64(minCoverage) * image.width() * image.height(), qPrintable(QString::number(drawn)));
}

void TestStatusPage::stripPicturesMove()
{
    // Eleven different pictures per strip (a repeated one would stall the flow), and the
    // charging and discharging batteries, the lamps and the cells tell their states apart.
    for (artwork::Strip strip : {artwork::Strip::Ac, artwork::Strip::Rect, artwork::Strip::Sys, artwork::Strip::Batt}) {
        QList<QImage> pictures;
        for (int n = 1; n <= artwork::StripPictures; ++n) {
            const QImage picture = imageOf(artwork::strip(strip, n));
            QVERIFY2(!pictures.contains(picture), qPrintable(QString::number(n)));
            pictures << picture;
        }
    }
    QVERIFY(imageOf(artwork::battery(true)) != imageOf(artwork::battery(false)));
    QVERIFY(imageOf(artwork::lamp(artwork::Lamp::Green)) != imageOf(artwork::lamp(artwork::Lamp::Red)));
    QVERIFY(imageOf(artwork::cellSquare(false)) != imageOf(artwork::cellSquare(true)));
    // AC flows in its own colour.
    QVERIFY(imageOf(artwork::strip(artwork::Strip::Ac, 1)) != imageOf(artwork::strip(artwork::Strip::Rect, 1)));
}

void TestStatusPage::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("sizeOnly");

    auto row = [](const char *name, const char *parent, QRect rect, bool sizeOnly = false) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << rect << sizeOnly;
    };
    row("TreeViewM", "TabSheet1", {1, 0, 272, 457});
    row("MainPanel", "TabSheet1", {278, 0, 552, 259});
    row("Image2", "MainPanel", {8, 44, 73, 65});
    row("Image6", "MainPanel", {192, 15, 49, 89});
    row("Image3", "MainPanel", {456, 15, 57, 97});
    row("Image_BattCh", "MainPanel", {308, 169, 65, 69});
    row("Image_BattDCh", "MainPanel", {308, 169, 65, 69});
    row("Image_AC1", "MainPanel", {83, 68, 93, 5});
    row("Image_AC11", "MainPanel", {83, 68, 93, 5});
    row("Image_Rect1", "MainPanel", {251, 68, 93, 5});
    row("Image_Rect11", "MainPanel", {251, 68, 93, 5});
    row("Image_Sys1", "MainPanel", {341, 68, 93, 5});
    row("Image_Sys11", "MainPanel", {341, 68, 93, 5});
    row("Image_Batt1", "MainPanel", {339, 72, 5, 93});
    row("Image_Batt11", "MainPanel", {339, 72, 5, 93});
    row("FlatGroupBoxDry", "TabSheet1", {1, 462, 272, 141});
    row("ImDry1Nor", "FlatGroupBoxDry", {0, 0, 12, 12}, true);
    row("ImDry6Arm", "FlatGroupBoxDry", {0, 0, 12, 12}, true);
    row("ImCell15Arm", "GroupCellBalancing", {0, 0, 12, 12}, true);
    row("ImBatt8Nor", "GroupProtection", {0, 0, 12, 12}, true);
    row("ImBattP8Arm", "GroupBatteryAlarm", {0, 0, 12, 12}, true);
    row("Panel1", "TabSheet1", {278, 263, 552, 375});
    row("FlatGroupBox1", "Panel1", {0, 0, 552, 375});
    row("edtDateTime", "TabSheet1", {0, 606, 217, 28});
}

void TestStatusPage::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);
    QFETCH(bool, sizeOnly);

    QCOMPARE(page->objectName(), QStringLiteral("TabSheet1"));
    QWidget *widget = page->control(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    if (sizeOnly)
        QCOMPARE(widget->size(), rect.size());
    else
        QCOMPARE(widget->geometry(), rect);
}

void TestStatusPage::startUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("shown");

    auto row = [](const QString &name, bool shown) { QTest::newRow(qPrintable(name)) << name << shown; };
    for (int k = 1; k <= 6; ++k) {
        row(QStringLiteral("ImDry%1Nor").arg(k), true);
        row(QStringLiteral("ImDry%1Arm").arg(k), false);
    }
    for (int k : {1, 8}) {
        row(QStringLiteral("ImBatt%1Nor").arg(k), true);
        row(QStringLiteral("ImBatt%1Arm").arg(k), false);
        row(QStringLiteral("ImBattP%1Nor").arg(k), true);
        row(QStringLiteral("ImBattP%1Arm").arg(k), false);
    }
    row(QStringLiteral("ImCell15Nor"), true);
    row(QStringLiteral("ImCell15Arm"), false);
    row(QStringLiteral("Image_BattCh"), false);
    row(QStringLiteral("Image_BattDCh"), true);
    row(QStringLiteral("Lab_Alarm_Test"), false);
    row(QStringLiteral("Lable_BTest"), false);
    row(QStringLiteral("FlatGroupBox1"), false);
    row(QStringLiteral("LabelBattCommFail"), true);
    row(QStringLiteral("GroupBatteryAlarm"), false);
    for (const char *never : {"Lable_BCVMax", "Lable_BCVMin", "Lable_BFWDate", "Lable_BPackV", "Lable_BChFET",
                              "Lable_BDChFET", "Lable_BLink"})
        row(QLatin1String(never), false);
}

void TestStatusPage::startUp()
{
    QFETCH(QString, name);
    QFETCH(bool, shown);
    QWidget *widget = page->control(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(!widget->isHidden(), shown);
}

void TestStatusPage::fonts()
{
    auto *reminder = control<QLabel>("Lab_Alarm_Test");
    QCOMPARE(reminder->text(), QStringLiteral("경보시험 완료시 경보시험 미사용으로 반드시 설정바랍니다."));
    QCOMPARE(reminder->font().pixelSize(), 16);
    QVERIFY(reminder->font().bold());
    QCOMPARE(reminder->palette().color(QPalette::WindowText), QColor(Qt::red));

    auto *clock = control<QLineEdit>("edtDateTime");
    QCOMPARE(clock->font().pixelSize(), 16);
    QVERIFY(clock->font().bold());
    QCOMPARE(clock->palette().color(QPalette::Base), QColor(0x80, 0x80, 0x00));
    QVERIFY(control<QLabel>("lbCHLimitFG")->y() >= clock->geometry().bottom());

    QCOMPARE(control<QLabel>("Label_ACV")->font().pixelSize(), 13);
    QCOMPARE(control<QLabel>("Lable_BTest")->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(control<QLabel>("LabelBattCommFail")->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(control<QLabel>("Label23")->text(), QStringLiteral("PSU"));
    QCOMPARE(control<QLabel>("Label24")->text(), QStringLiteral("RRU"));
    QCOMPARE(control<QGroupBox>("FlatGroupBoxDry")->title(), QStringLiteral("경보접점 알람"));
    QCOMPARE(control<QGroupBox>("FlatGroupBox1")->title(), QStringLiteral("축전지 정보"));
    const QStringList captions{QStringLiteral("AC Fail"), QStringLiteral("DC Fail"), QStringLiteral("Module Fail"),
                               QStringLiteral("Battery Fail"), QStringLiteral("예비 1"), QStringLiteral("예비 2")};
    for (int k = 1; k <= 6; ++k)
        QCOMPARE(page->findChild<QLabel *>(QStringLiteral("Lable_Contact%1").arg(k))->text(), captions.at(k - 1));

    auto *tree = control<QTreeWidget>("TreeViewM");
    QCOMPARE(tree->font().families().value(0), QStringLiteral("맑은 고딕"));
    QCOMPARE(tree->font().pixelSize(), 13);
    QCOMPARE(tree->indentation(), 19);
    QVERIFY(tree->isHeaderHidden());
    QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
}

void TestStatusPage::decodedStatus_data()
{
    QTest::addColumn<QString>("registers");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");  // null: not checked
    QTest::addColumn<int>("shown");     // -1: not checked

    auto text = [](const char *tag, const char *regs, const char *name, const QString &t) {
        QTest::newRow(tag) << QString::fromLatin1(regs) << QString::fromLatin1(name) << t << -1;
    };
    auto shown = [](const char *tag, const char *regs, const char *name, bool s) {
        QTest::newRow(tag) << QString::fromLatin1(regs) << QString::fromLatin1(name) << QString() << int(s);
    };
    text("ac volts", "7=2205", "Label_ACV", QStringLiteral("AC전압 : 220.5 V"));
    text("rectifier temp negative", "13=0xFF9C", "Label_RT", QStringLiteral("정류기온도 : -10.0  C"));
    text("set voltage hundredths", "61=5400", "Label_SetV", QStringLiteral("설정전압 : 54.00 V"));
    text("battery temp", "12=1249 67=1", "Label_BT", QStringLiteral("Battery온도 : +124.9  C"));
    text("module alarm", "21=10", "Label_M_Alarm", QStringLiteral("모듈알람 : 0A"));
    text("clock", "1=2024 2=3 3=7 4=9 5=5", "edtDateTime", QStringLiteral("[  2024-03-07  09:05:00 ]"));
    text("cell 15", "124=345", "Lable_BCV15", QStringLiteral("셀전압15 : 3.45 V"));
    text("breaker", "98=0", "Lable_BReady", QStringLiteral("축전지-NFB : OFF"));
    text("kept unseen", "104=357", "Lable_BCVMax", QStringLiteral("셀 최고전압 : 3.57 V"));
    text("charge limit flag", "93=1", "lbCHLimitFG", QStringLiteral("CHLimit FG : 1"));
    shown("sensor off", "67=0", "Label_BT", false);
    shown("sensor on", "67=1", "Label_BT", true);
    shown("battery panel", "66=1", "FlatGroupBox1", true);
    shown("battery current", "66=1", "Lable_BCA", true);
    shown("no battery panel", "66=0", "FlatGroupBox1", false);
    shown("no battery current", "66=0", "Lable_BCA", false);
    shown("no discharging picture", "66=0", "Image_BattDCh", false);
    shown("discharge test", "94=1", "Lable_BTest", true);
    shown("contact 1 alarm", "41=5", "ImDry1Arm", true);
    shown("contact 1 not normal", "41=5", "ImDry1Nor", false);
    shown("contact 2 normal", "41=5", "ImDry2Nor", true);
    shown("contact 3 alarm", "41=5", "ImDry3Arm", true);
    shown("contact 4 normal", "41=5", "ImDry4Nor", true);
    shown("ttl hides contact 5", "26=3 42=1", "Lable_Contact5", false);
    shown("ttl hides lamp 6", "26=3 42=1", "ImDry6Nor", false);
    shown("ttl model 2 keeps 6", "26=2 42=1", "Lable_Contact6", true);
    shown("cell 15 balancing", "108=0x4000", "ImCell15Arm", true);
    shown("cell 1 idle", "108=0x4000", "ImCell1Nor", true);
    shown("undervoltage cut-off", "107=0x10", "ImBatt5Arm", true);
    shown("comm fail", "16=0x0080 98=0", "LabelBattCommFail", true);
    shown("comm ok with voltage", "16=0x0080 98=5345", "LabelBattCommFail", false);
    shown("reminder off", "71=0", "Lab_Alarm_Test", false);
}

void TestStatusPage::decodedStatus()
{
    QFETCH(QString, registers);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, shown);

    // The opposite state first, so that the decode has something to change.
    page->setAlarmTestReminderVisible(true);
    decode(parseRegisters(registers));
    QWidget *widget = page->control(name);
    QVERIFY2(widget, qPrintable(name));
    if (!text.isNull()) {
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(edit->text(), text);
        else
            QCOMPARE(qobject_cast<QLabel *>(widget)->text(), text);
    }
    if (shown >= 0)
        QCOMPARE(!widget->isHidden(), bool(shown));
}

void TestStatusPage::handMadeView()
{
    StatusView view;
    view.texts[QStringLiteral("Lable_DCV")] = QStringLiteral("DC전압 : 53.5 V");
    view.texts[QStringLiteral("ComSetting.0")] = QStringLiteral("not on this page");
    view.texts[QStringLiteral("edtSpeed")] = QStringLiteral("100");
    view.visible[QStringLiteral("Lable_BTest")] = true;
    view.visible[QStringLiteral("GroupBox1")] = true;
    view.colours[QStringLiteral("Lable_DCV")] = 0xFF0000;
    view.colours[QStringLiteral("pnl_TX")] = 0xFFFF00;
    page->applyView(view);

    QCOMPARE(control<QLabel>("Lable_DCV")->text(), QStringLiteral("DC전압 : 53.5 V"));
    QCOMPARE(control<QLabel>("Lable_DCV")->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0x00));
    QVERIFY(!control<QLabel>("Lable_BTest")->isHidden());
    QVERIFY(!page->control(QStringLiteral("edtSpeed")));
}

void TestStatusPage::textsFit()
{
    // The longest texts the decode writes; each must fit its control, and no two texts in one
    // group may cover each other.
    std::map<int, int> longest{{1, 2024}, {2, 12}, {3, 31}, {4, 23}, {5, 59}, {6, 59}, {7, 9999}, {8, 9999},
                               {9, 9999}, {10, 0x8000}, {11, 0x8000}, {12, 1249}, {13, 0x8000}, {16, 0x0080},
                               {21, 0xFFFF}, {26, 2}, {61, 9999}, {66, 1}, {67, 1}, {93, 65535}, {94, 1},
                               {96, 25}, {98, 0}, {99, 0x8000}, {100, 100}, {101, 0x8000}, {102, 9999},
                               {103, 9999}};
    for (int n = 110; n <= 124; ++n)
        longest[n] = 65535;
    decode(longest);
    page->setAlarmTestReminderVisible(true);

    const QList<QLabel *> labels = page->findChildren<QLabel *>();
    QList<QLabel *> texts;
    for (QLabel *label : labels) {
        if (label->text().isEmpty() || !label->isVisibleTo(page))
            continue;
        texts << label;
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        QVERIFY2(needed <= label->contentsRect().width(),
                 qPrintable(QStringLiteral("%1 '%2' needs %3 px, has %4").arg(label->objectName(), label->text())
                                .arg(needed).arg(label->contentsRect().width())));
        QVERIFY2(label->fontMetrics().height() <= label->height(), qPrintable(label->objectName()));
    }
    for (int i = 0; i < texts.size(); ++i) {
        for (int j = i + 1; j < texts.size(); ++j) {
            QLabel *a = texts.at(i);
            QLabel *b = texts.at(j);
            if (a->parentWidget() != b->parentWidget())
                continue;
            QVERIFY2(!a->geometry().intersects(b->geometry()),
                     qPrintable(a->objectName() + QLatin1Char('/') + a->text() + QStringLiteral(" over ")
                                + b->objectName() + QLatin1Char('/') + b->text()));
        }
    }
    const QLineEdit *clock = control<QLineEdit>("edtDateTime");
    QVERIFY(clock->fontMetrics().horizontalAdvance(clock->text()) <= clock->width() - 8);
}

void TestStatusPage::frames_data()
{
    QTest::addColumn<int>("ac");
    QTest::addColumn<int>("rect");
    QTest::addColumn<int>("sys");
    QTest::addColumn<int>("batt");

    QTest::newRow("first pictures") << 1 << 1 << 1 << 1;
    QTest::newRow("last pictures") << 11 << 11 << 11 << 11;
    QTest::newRow("mixed") << 4 << 1 << 9 << 6;
    QTest::newRow("no battery strip") << 7 << 2 << 7 << 0;
}

void TestStatusPage::frames()
{
    QFETCH(int, ac);
    QFETCH(int, rect);
    QFETCH(int, sys);
    QFETCH(int, batt);

    // A run of frames before, so that earlier pictures would linger if not hidden.
    for (int n = 1; n <= 11; ++n)
        page->applyFrame(PowerFlowFrame{n, 12 - n, n, n, std::nullopt, std::nullopt});
    page->applyFrame(PowerFlowFrame{ac, rect, batt, sys, std::nullopt, std::nullopt});

    QCOMPARE(shownPictures("Image_AC"), QList<int>{ac});
    QCOMPARE(shownPictures("Image_Rect"), QList<int>{rect});
    QCOMPARE(shownPictures("Image_Sys"), QList<int>{sys});
    QCOMPARE(shownPictures("Image_Batt"), batt ? QList<int>{batt} : QList<int>{});

    // The battery pictures follow the frame's choices and stay when it leaves them open.
    page->applyFrame(PowerFlowFrame{ac, rect, batt, sys, true, false});
    QVERIFY(!control("Image_BattCh")->isHidden());
    QVERIFY(control("Image_BattDCh")->isHidden());
    page->applyFrame(PowerFlowFrame{ac, rect, batt, sys, std::nullopt, std::nullopt});
    QVERIFY(!control("Image_BattCh")->isHidden());
    page->applyFrame(PowerFlowFrame{ac, rect, batt, sys, false, true});
    QVERIFY(control("Image_BattCh")->isHidden());
    QVERIFY(!control("Image_BattDCh")->isHidden());
}

void TestStatusPage::animationFromRegisters()
{
    // No AC (50 tenths), discharging 1.0 A with the battery in use: AC and rectifier strips
    // stand, the load strip runs, the battery strip runs backwards under the discharging picture.
    decode({{7, 50}, {11, 0xFFF6}, {66, 1}});
    for (int tick = 0; tick < 3; ++tick)
        monitor->onPowerFlowTick();
    QCOMPARE(shownPictures("Image_AC"), QList<int>{1});
    QCOMPARE(shownPictures("Image_Rect"), QList<int>{1});
    QCOMPARE(shownPictures("Image_Sys"), QList<int>{3});
    QCOMPARE(shownPictures("Image_Batt"), QList<int>{10});
    QVERIFY(!control("Image_BattDCh")->isHidden());
    QVERIFY(control("Image_BattCh")->isHidden());

    // AC back, charging: the battery shows its charging picture on the next tick.
    decode({{7, 2205}, {11, 36}, {66, 1}});
    monitor->onPowerFlowTick();
    QCOMPARE(shownPictures("Image_Batt"), QList<int>{9});
    QVERIFY(!control("Image_BattCh")->isHidden());
    QVERIFY(control("Image_BattDCh")->isHidden());
    monitor->onPowerFlowTick();
    QCOMPARE(shownPictures("Image_AC"), QList<int>{2});

    // Without a battery in use neither the strip nor a battery picture shows.
    decode({{7, 2205}, {11, 36}, {66, 0}});
    monitor->onPowerFlowTick();
    QCOMPARE(shownPictures("Image_Batt"), QList<int>{});
    QVERIFY(control("Image_BattCh")->isHidden());
    QVERIFY(control("Image_BattDCh")->isHidden());
}

void TestStatusPage::preview()
{
    page->applyFrame(PowerFlowFrame{5, 5, 0, 5, std::nullopt, std::nullopt});
    monitor->preview();
    page->preview();
    QCOMPARE(shownPictures("Image_AC"), QList<int>{1});
    QCOMPARE(shownPictures("Image_Rect"), QList<int>{1});
    QCOMPARE(shownPictures("Image_Sys"), QList<int>{1});
    QCOMPARE(shownPictures("Image_Batt"), QList<int>{11});
    QVERIFY(!control("Image_BattCh")->isHidden());
    QVERIFY(!control("Lable_BCA")->isHidden());
    QVERIFY(!control("FlatGroupBox1")->isHidden());
    // The preview's tree is built before it marks the battery as in use: no battery group.
    QCOMPARE(treeLines(1).size(), 3);
    QCOMPARE(statusRegister(*state, 66), 1);
}

void TestStatusPage::treeMirror()
{
    auto *tree = control<QTreeWidget>("TreeViewM");
    decode({{66, 0}});
    QCOMPARE(tree->topLevelItemCount(), 0);
    decode({{66, 0}}); // the second response builds the tree
    QCOMPARE(treeLines(0), QStringList{QStringLiteral("Alarm그룹")});
    QCOMPARE(treeLines(1), (QStringList{QStringLiteral("교류입력"), QStringLiteral("직류출력"), QStringLiteral("정류모듈")}));
    QCOMPARE(treeLines(2).size(), 6);
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QVERIFY(tree->topLevelItem(0)->child(1)->isExpanded());
    QCOMPARE(tree->topLevelItem(0)->foreground(0).color(), QColor(0x80, 0x00, 0x00));
    QCOMPARE(treeLine(QStringLiteral("직류출력"))->foreground(0).color(), QColor(0x00, 0x00, 0xFF));
    QCOMPARE(treeLine(QStringLiteral("DC Over Current"))->foreground(0).color(), QColor(Qt::black));
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        QVERIFY(!alarmIcon(*it));

    // DC over-current: the root and its line, not the group.
    decode({{66, 0}, {15, 0x0020}});
    monitor->tree().onBlinkTick();
    QVERIFY(alarmIcon(treeLine(QStringLiteral("Alarm그룹"))));
    QVERIFY(alarmIcon(treeLine(QStringLiteral("DC Over Current"))));
    QVERIFY(!alarmIcon(treeLine(QStringLiteral("직류출력"))));
    QVERIFY(!alarmIcon(treeLine(QStringLiteral("Output Voltage High"))));
    // A selected line keeps its icon.
    const QIcon icon = treeLine(QStringLiteral("DC Over Current"))->icon(0);
    QCOMPARE(imageOf(icon.pixmap(16, 16, QIcon::Selected)), imageOf(icon.pixmap(16, 16, QIcon::Normal)));

    decode({{66, 0}, {15, 0}});
    monitor->tree().onBlinkTick();
    QVERIFY(!alarmIcon(treeLine(QStringLiteral("DC Over Current"))));

    // The battery comes into use: the tree goes, and comes back with the battery group.
    decode({{66, 1}});
    QCOMPARE(tree->topLevelItemCount(), 0);
    decode({{66, 1}});
    QCOMPARE(tree->topLevelItemCount(), 0);
    decode({{66, 1}, {16, 0x0080}});
    QCOMPARE(treeLines(1).size(), 4);
    QCOMPARE(treeLines(2).size(), 16);
    QVERIFY(alarmIcon(treeLine(QStringLiteral("Battery BMS Alarm"))));
    QVERIFY(!alarmIcon(treeLine(QStringLiteral("축전지"))));
}

void TestStatusPage::answerMissing()
{
    decode({{7, 2205}, {41, 1}, {66, 1}, {16, 0x0080}});
    auto *acv = control<QLabel>("Label_ACV");
    auto *commFail = control<QLabel>("LabelBattCommFail");
    auto *lamp = control<QLabel>("ImDry1Arm");
    const QColor black = acv->palette().color(QPalette::WindowText);
    const QImage lit = imageOf(lamp->pixmap());

    page->setAnswerMissing(true);
    QVERIFY(acv->palette().color(QPalette::WindowText) != black);
    QCOMPARE(commFail->palette().color(QPalette::WindowText), acv->palette().color(QPalette::WindowText));
    QVERIFY(imageOf(lamp->pixmap()) != lit);
    // A decode while silent keeps the grey: only an answer ends it.
    decode({{7, 2210}, {41, 1}, {66, 1}, {16, 0x0080}});
    QCOMPARE(acv->text(), QStringLiteral("AC전압 : 221.0 V"));
    QVERIFY(acv->palette().color(QPalette::WindowText) != black);

    auto *clock = control<QLineEdit>("edtDateTime");
    QVERIFY(clock->palette().color(QPalette::Base) != QColor(0x80, 0x80, 0x00));

    page->setAnswerMissing(false);
    QCOMPARE(clock->palette().color(QPalette::Base), QColor(0x80, 0x80, 0x00));
    QCOMPARE(acv->palette().color(QPalette::WindowText), black);
    QCOMPARE(commFail->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(imageOf(lamp->pixmap()), lit);
    QCOMPARE(control<QLabel>("Lable_Contact1")->palette().color(QPalette::WindowText), black);
}

void TestStatusPage::contactAlarmTicks_data()
{
    QTest::addColumn<int>("contact");
    QTest::addColumn<QString>("registers");
    QTest::addColumn<QList<int>>("ticked"); // rows 1..15

    QTest::newRow("before any status") << 3 << QString() << QList<int>{};
    QTest::newRow("contact 3") << 3 << QStringLiteral("84=0x0100 85=0x0008") << QList<int>{5, 8};
    QTest::newRow("contact 1 has its own masks") << 1 << QStringLiteral("84=0x0100 85=0x0008") << QList<int>{};
    QTest::newRow("contact 6, every row") << 6 << QStringLiteral("90=0xFFFF 91=0xFFFF")
                                          << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    QTest::newRow("bits without a row") << 2 << QStringLiteral("82=0x0008 83=0x0080") << QList<int>{};
}

void TestStatusPage::contactAlarmTicks()
{
    QFETCH(int, contact);
    QFETCH(QString, registers);
    QFETCH(QList<int>, ticked);

    if (!registers.isEmpty())
        decode(parseRegisters(registers));
    QPointer<ContactAlarmForm> form = page->openContactAlarm(contact);
    QVERIFY(form);
    QCOMPARE(form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(form->windowTitle(), QStringLiteral("경보접점 알람"));
    QCOMPARE(form->size(), QSize(262, 459));
    QCOMPARE(form->selectedContact(), 2 * (contact - 1));
    auto *group = form->findChild<QGroupBox *>();
    QCOMPARE(group->title(), QStringLiteral("경보"));
    QVERIFY(!group->isEnabled());

    static const char *const names[] = {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox6", "CheckBox9",
                                        "CheckBox7", "CheckBox18", "CheckBox20", "CheckBox22", "CheckBox23",
                                        "CheckBox25", "CheckBox26", "CheckBox28", "CheckBox29", "CheckBox30"};
    static const char *const captions[] = {"AC Input Fail", "Output Voltage High", "Output Voltage Low",
                                           "DC Over Current", "Module Fail", "Battery Disconnect",
                                           "Battery Discharge", "Temperature High", "Battery Quality Low",
                                           "Battery Cell Fail", "Battery OverCharge", "Battery Charge OverCurrent",
                                           "Battery Discharge OverCurrent", "Battery Temperature High",
                                           "Battery Temperature Low"};
    QList<int> seen;
    int lastY = -1;
    for (int i = 0; i < ContactAlarmForm::Rows; ++i) {
        QCheckBox *box = form->row(i);
        QCOMPARE(box->objectName(), QLatin1String(names[i]));
        QCOMPARE(box->text(), QLatin1String(captions[i]));
        QVERIFY(box->y() > lastY);
        lastY = box->y();
        if (box->isChecked())
            seen << i + 1;
    }
    QCOMPARE(seen, ticked);
    form->close();
}

void TestStatusPage::contactClickOpensModalForm()
{
    decode({{84, 0x0100}, {85, 0x0008}});
    auto *caption = page->findChild<QLabel *>(QStringLiteral("Lable_Contact3"));
    QCOMPARE(caption->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(caption, Qt::LeftButton);

    QPointer<ContactAlarmForm> form = window->findChild<ContactAlarmForm *>(QStringLiteral("Form1"));
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QVERIFY(form->isModal() || form->windowModality() != Qt::NonModal);
    QCOMPARE(form->selectedContact(), 4);
    QVERIFY(form->row(4)->isChecked());

    // A second click after closing opens a fresh window; the closed one is gone.
    form->close();
    QTRY_VERIFY(!form);
    QTest::mouseClick(page->findChild<QLabel *>(QStringLiteral("Lable_Contact1")), Qt::LeftButton);
    form = window->findChild<ContactAlarmForm *>(QStringLiteral("Form1"));
    QVERIFY(form);
    QCOMPARE(form->selectedContact(), 0);
    QVERIFY(!form->row(4)->isChecked());
    form->close();
}

QTEST_MAIN(TestStatusPage)
#include "tst_statuspage.moc"
