#include "monitor/statuspage.h"

#include "monitor/alarmmodel.h"
#include "monitor/artwork.h"
#include "monitor/contactalarmform.h"
#include "monitor/livemonitor.h"
#include "monitor/moduletree.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeWidget>

#include <functional>
#include <tuple>

namespace qeln {

namespace {

const QColor Navy{0x00, 0x00, 0x80};
const QColor Maroon{0x80, 0x00, 0x00};
const QColor Olive{0x80, 0x80, 0x00};
const QColor Blue{0x00, 0x00, 0xFF};
const QColor Red{0xFF, 0x00, 0x00};
const QColor CardBorder{0x8F, 0xA8, 0xC8};
const QColor CaptionRule{0xD6, 0xE2, 0xF0};
// Values of a controller that does not answer.
const QColor Stale{0x9A, 0xA0, 0xA6};
const QColor StaleField{0x8C, 0x90, 0x94};

constexpr int LabelHeight = 17;
constexpr int LampSize = 12;

enum StripIndex { AcStrip, RectStrip, SysStrip, BattStrip };

// The console's face: "맑은 고딕" where it exists, a Korean sans-serif otherwise.
QFont consoleFont(int pixelSize, bool bold = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("맑은 고딕"), QStringLiteral("Malgun Gothic"), QStringLiteral("NanumGothic"),
                      QStringLiteral("Noto Sans CJK KR"), QStringLiteral("NanumBarunGothic")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A flat group box: a white card with a thin border and its caption in navy at the top.
class FlatGroupBox : public QGroupBox {
public:
    FlatGroupBox(const QString &title, QWidget *parent)
        : QGroupBox(title, parent)
        , titleFont_(consoleFont(13, true))
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QRect card = rect().adjusted(0, 0, -1, -1);
        p.fillRect(card, Qt::white);
        p.setPen(CardBorder);
        p.drawRect(card);
        p.setPen(Navy);
        p.setFont(titleFont_);
        p.drawText(QRect(8, 2, width() - 16, 16), Qt::AlignLeft | Qt::AlignVCenter, title());
        p.setPen(CaptionRule);
        p.drawLine(6, 19, width() - 7, 19);
    }

private:
    QFont titleFont_;
};

// The diagram's background: white, with the cables that join the pictures where no strip
// lies (the strips run on top of them).
class FlowPanel : public QFrame {
public:
    explicit FlowPanel(QWidget *parent)
        : QFrame(parent)
    {
    }

    void setBatteryCable(bool shown)
    {
        if (shown == batteryCable_)
            return;
        batteryCable_ = shown;
        update(BatteryCable);
    }

    static constexpr QRect BatteryCable{339, 70, 5, 101};

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.setPen(CardBorder);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.drawPixmap(79, 68, artwork::conduit(artwork::Strip::Ac, 113));
        p.drawPixmap(239, 68, artwork::conduit(artwork::Strip::Rect, 219));
        if (batteryCable_)
            p.drawPixmap(BatteryCable.topLeft(), artwork::conduit(artwork::Strip::Batt, BatteryCable.height()));
    }

private:
    bool batteryCable_ = false;
};

// A dry-contact caption: a click opens the contact's alarm window.
class ContactLabel : public QLabel {
public:
    ContactLabel(const QString &text, QWidget *parent, std::function<void()> onClick)
        : QLabel(text, parent)
        , onClick_(std::move(onClick))
    {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick_();
        QLabel::mouseReleaseEvent(event);
    }

private:
    std::function<void()> onClick_;
};

QString name(const char *text)
{
    return QLatin1String(text);
}

} // namespace

StatusPage::StatusPage(LiveMonitor &monitor, ConsoleState &state, QWidget *parent)
    : QWidget(parent)
    , monitor_(monitor)
    , state_(state)
{
    setObjectName(QStringLiteral("TabSheet1"));
    setFont(consoleFont(13));
    setMinimumSize(832, 656);

    buildTree();
    buildMainPanel();
    buildDryContacts();
    buildBatteryPanel();
    buildClock();
    registerControls();

    connect(&monitor_, &LiveMonitor::viewDecoded, this, &StatusPage::applyView);
    connect(&monitor_, &LiveMonitor::powerFlowTicked, this, &StatusPage::applyFrame);
    ModuleTree &tree = monitor_.tree();
    connect(&tree, &ModuleTree::built, this, &StatusPage::onTreeBuilt);
    connect(&tree, &ModuleTree::cleared, this, &StatusPage::onTreeCleared);
    connect(&tree, &ModuleTree::iconsChanged, this, &StatusPage::onTreeIconsChanged);
    if (!tree.nodes().isEmpty())
        onTreeBuilt();
}

QLabel *StatusPage::addLabel(QWidget *parent, const char *objectName, const QString &text, const QRect &geometry,
                             bool measurement)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name(objectName));
    label->setGeometry(geometry);
    if (measurement)
        measurements_.insert(label);
    return label;
}

QLabel *StatusPage::addPicture(QWidget *parent, const char *objectName, const QPixmap &pixmap, const QRect &geometry)
{
    auto *picture = new QLabel(parent);
    picture->setObjectName(name(objectName));
    picture->setGeometry(geometry);
    picture->setPixmap(pixmap);
    picture->setScaledContents(pixmap.deviceIndependentSize().toSize() != geometry.size());
    return picture;
}

void StatusPage::addIndicatorPair(QWidget *parent, const QString &prefix, int number, const QPoint &at, bool square)
{
    const QRect place(at, QSize(LampSize, LampSize));
    const QString base = prefix + QString::number(number);
    const QPixmap normal = square ? artwork::cellSquare(false) : artwork::lamp(artwork::Lamp::Green);
    const QPixmap alarm = square ? artwork::cellSquare(true) : artwork::lamp(artwork::Lamp::Red);
    QLabel *nor = addPicture(parent, qPrintable(base + QStringLiteral("Nor")), normal, place);
    QLabel *arm = addPicture(parent, qPrintable(base + QStringLiteral("Arm")), alarm, place);
    arm->hide();
    lamps_.append({nor, normal});
    lamps_.append({arm, alarm});
}

void StatusPage::buildTree()
{
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("TreeViewM"));
    tree_->setGeometry(1, 0, 272, 457);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setIndentation(19);
    tree_->setFont(consoleFont(13));
    tree_->setIconSize(QSize(16, 16));
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette white = tree_->palette();
    white.setColor(QPalette::Base, Qt::white);
    tree_->setPalette(white);
}

void StatusPage::buildMainPanel()
{
    auto *panel = new FlowPanel(this);
    panel->setObjectName(QStringLiteral("MainPanel"));
    panel->setGeometry(278, 0, 552, 259);
    mainPanel_ = panel;

    addPicture(panel, "Image2", artwork::acSource(), QRect(8, 44, 73, 65));
    addPicture(panel, "Image6", artwork::rectifier(), QRect(192, 15, 49, 89));
    addPicture(panel, "Image3", artwork::load(), QRect(456, 15, 57, 97));
    // The discharging picture lies under the charging one, which the preview shows.
    battDCh_ = addPicture(panel, "Image_BattDCh", artwork::battery(false), QRect(308, 169, 65, 69));
    battCh_ = addPicture(panel, "Image_BattCh", artwork::battery(true), QRect(308, 169, 65, 69));
    battCh_->hide();

    struct StripPlace {
        const char *prefix;
        artwork::Strip art;
        QRect geometry;
    };
    const StripPlace places[] = {
        {"Image_AC", artwork::Strip::Ac, QRect(83, 68, 93, 5)},
        {"Image_Rect", artwork::Strip::Rect, QRect(251, 68, 93, 5)},
        {"Image_Sys", artwork::Strip::Sys, QRect(341, 68, 93, 5)},
        {"Image_Batt", artwork::Strip::Batt, QRect(339, 72, 5, 93)},
    };
    for (int s = 0; s < 4; ++s) {
        for (int n = 1; n <= artwork::StripPictures; ++n) {
            const QByteArray pictureName = QByteArray(places[s].prefix) + QByteArray::number(n);
            QLabel *picture = addPicture(panel, pictureName.constData(), artwork::strip(places[s].art, n), places[s].geometry);
            picture->hide();
            strips_[size_t(s)][size_t(n - 1)] = picture;
        }
    }
    // The first picture of each strip stands until the animation runs; the battery strip
    // shows only with a battery in use.
    showStripPicture(AcStrip, 1);
    showStripPicture(RectStrip, 1);
    showStripPicture(SysStrip, 1);

    const QFont captionFont = consoleFont(13, true);
    for (auto [objectName, text, geometry] : {std::tuple{"Label23", "PSU", QRect(186, 106, 61, LabelHeight)},
                                              std::tuple{"Label24", "RRU", QRect(454, 114, 61, LabelHeight)}}) {
        QLabel *caption = addLabel(panel, objectName, name(text), geometry, false);
        caption->setFont(captionFont);
        caption->setAlignment(Qt::AlignCenter);
    }

    addLabel(panel, "Label_ACV", QStringLiteral("AC전압 : "), QRect(8, 124, 156, LabelHeight));
    addLabel(panel, "Label_ACA", QStringLiteral("AC전류 : "), QRect(8, 142, 156, LabelHeight));
    addLabel(panel, "Label_SetV", QStringLiteral("설정전압 : "), QRect(8, 160, 156, LabelHeight));
    addLabel(panel, "Label_RT", QStringLiteral("정류기온도 : "), QRect(8, 178, 156, LabelHeight));
    QLabel *module = addLabel(panel, "Label_M_Alarm", QStringLiteral("모듈알람 : "), QRect(166, 128, 100, LabelHeight));
    module->setAlignment(Qt::AlignCenter);
    addLabel(panel, "Lable_DCV", QStringLiteral("DC전압 : "), QRect(424, 136, 124, LabelHeight));
    addLabel(panel, "Lable_DCA", QStringLiteral("DC전류 : "), QRect(424, 154, 124, LabelHeight));
    addLabel(panel, "Lable_BCA", QStringLiteral("Battery전류 : "), QRect(380, 192, 166, LabelHeight));
    addLabel(panel, "Label_BT", QStringLiteral("Battery온도 : "), QRect(380, 210, 166, LabelHeight));

    QLabel *test = addLabel(panel, "Lable_BTest", QStringLiteral("축전지 방전시험 중"), QRect(186, 200, 116, LabelHeight));
    test->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColour(test, Blue);
    test->hide();

    alarmTest_ = addLabel(panel, "Lab_Alarm_Test", QStringLiteral("경보시험 완료시 경보시험 미사용으로 반드시 설정바랍니다."),
                          QRect(2, -1, 548, 19), false);
    alarmTest_->setFont(consoleFont(16, true));
    alarmTest_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTextColour(alarmTest_, Red);
    alarmTest_->hide();
}

void StatusPage::buildDryContacts()
{
    auto *group = new FlatGroupBox(QStringLiteral("경보접점 알람"), this);
    group->setObjectName(QStringLiteral("FlatGroupBoxDry"));
    group->setGeometry(1, 462, 272, 141);
    const QStringList captions = dryContactCaptions();
    for (int k = 1; k <= 6; ++k) {
        const int y = 24 + (k - 1) * 19;
        addIndicatorPair(group, QStringLiteral("ImDry"), k, QPoint(14, y + 2), false);
        auto *caption = new ContactLabel(captions.value(k - 1), group, [this, k] { openContactAlarm(k); });
        caption->setObjectName(QStringLiteral("Lable_Contact%1").arg(k));
        caption->setGeometry(34, y, 200, LabelHeight);
    }
}

void StatusPage::buildBatteryPanel()
{
    auto *panel1 = new QFrame(this);
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setGeometry(278, 263, 552, 375);

    auto *box = new FlatGroupBox(QStringLiteral("축전지 정보"), panel1);
    box->setObjectName(QStringLiteral("FlatGroupBox1"));
    box->setGeometry(0, 0, 552, 375);
    box->hide();

    // Left column: the pack.
    struct Line {
        const char *objectName;
        const char *text;
    };
    const Line pack[] = {{"Lable_BFW", "FW : "},        {"Lable_BV", "전압 : "},       {"Lable_BC", "전류 : "},
                         {"Lable_BSoc", "잔량 : "},     {"Lable_LVD", "종지 전압 : "}, {"Lable_BTp", "온도 : "},
                         {"Label_CHLimit", "전류 제한 : "}, {"Lable_BReady", "축전지-NFB : "}};
    int y = 28;
    for (const Line &line : pack) {
        addLabel(box, line.objectName, QString::fromUtf8(line.text), QRect(12, y, 138, LabelHeight));
        y += 20;
    }
    QLabel *commFail = addLabel(box, "LabelBattCommFail", QStringLiteral("축전지 통신이상"), QRect(12, y, 138, LabelHeight));
    setTextColour(commFail, Red);

    // Kept current by every decode but not part of the display.
    const Line unseen[] = {{"Lable_BCVMax", "셀 최고전압 : "}, {"Lable_BCVMin", "셀 최저전압 : "},
                           {"Lable_BPackV", "팩 : "},          {"Lable_BChFET", "충전 FET : "},
                           {"Lable_BDChFET", "방전 FET : "},   {"Lable_BLink", "Link 상태 : "},
                           {"Lable_BFWDate", "축전지 FW 변경일"}};
    y = 220;
    for (const Line &line : unseen) {
        addLabel(box, line.objectName, QString::fromUtf8(line.text), QRect(12, y, 138, LabelHeight))->hide();
        y += 20;
    }

    // Second column: the cells.
    for (int n = 1; n <= 15; ++n) {
        const QByteArray objectName = "Lable_BCV" + QByteArray::number(n);
        addLabel(box, objectName.constData(), QStringLiteral("셀전압%1 : ").arg(n), QRect(158, 28 + (n - 1) * 20, 128, LabelHeight));
    }

    auto *cells = new FlatGroupBox(QStringLiteral("셀 발란싱"), box);
    cells->setObjectName(QStringLiteral("GroupCellBalancing"));
    cells->setGeometry(294, 26, 246, 86);
    for (int i = 0; i < 15; ++i) {
        const QPoint at(10 + (i % 5) * 46, 26 + (i / 5) * 19);
        addIndicatorPair(cells, QStringLiteral("ImCell"), i + 1, at + QPoint(0, 2), true);
        auto *caption = new QLabel(QStringLiteral("#%1").arg(i + 1), cells);
        caption->setGeometry(at.x() + 16, at.y(), 28, LabelHeight);
    }

    auto *protection = new FlatGroupBox(QStringLiteral("보호"), box);
    protection->setObjectName(QStringLiteral("GroupProtection"));
    protection->setGeometry(294, 118, 246, 112);
    auto *alarms = new FlatGroupBox(QStringLiteral("알람"), box);
    alarms->setObjectName(QStringLiteral("GroupBatteryAlarm"));
    alarms->setGeometry(294, 236, 246, 126);
    // The battery's own alarm lamps are kept current but never shown.
    alarms->hide();

    // Two columns per group, filled top to bottom.
    int protectionRow = 0;
    int alarmRow = 0;
    for (const BatteryIndicator &indicator : batteryIndicators()) {
        const bool isProtection = QByteArray(indicator.group) == QByteArray("보호");
        QWidget *group = isProtection ? static_cast<QWidget *>(protection) : alarms;
        int &row = isProtection ? protectionRow : alarmRow;
        const int rowsPerColumn = isProtection ? 4 : 5;
        const QPoint at(8 + (row / rowsPerColumn) * 124, 26 + (row % rowsPerColumn) * 20);
        addIndicatorPair(group, QLatin1String(indicator.prefix), indicator.number, at + QPoint(0, 2), false);
        auto *caption = new QLabel(QString::fromUtf8(indicator.caption), group);
        caption->setGeometry(at.x() + 16, at.y(), 96, LabelHeight);
        ++row;
        // The undervoltage cut-off opens the battery breaker: said on a line of its own.
        if (QByteArray(indicator.prefix) == QByteArray("ImBatt") && indicator.number == 5) {
            auto *note = new QLabel(QStringLiteral("(축전지NFB OFF)"), group);
            note->setGeometry(at.x() + 16, at.y() + 20, 100, LabelHeight);
            ++row;
        }
    }
}

void StatusPage::buildClock()
{
    auto *clock = new QLineEdit(this);
    clock->setObjectName(QStringLiteral("edtDateTime"));
    clock->setGeometry(0, 606, 217, 28);
    clock->setReadOnly(true);
    clock->setFocusPolicy(Qt::NoFocus);
    clock->setAlignment(Qt::AlignCenter);
    clock->setFont(consoleFont(16, true));
    QPalette olive = clock->palette();
    olive.setColor(QPalette::Base, Olive);
    clock->setPalette(olive);
    setTextColour(clock, Qt::white);
    clock_ = clock;

    addLabel(this, "lbCHLimitFG", QStringLiteral("CHLimit FG : "), QRect(2, 638, 215, LabelHeight));
}

void StatusPage::registerControls()
{
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (!child->objectName().isEmpty())
            controls_.insert(child->objectName(), child);
    }
}

void StatusPage::setTextColour(QWidget *widget, const QColor &colour)
{
    baseColours_.insert(widget, colour);
    refreshTextColour(widget);
}

void StatusPage::refreshTextColour(QWidget *widget)
{
    const QColor colour = answerMissing_ && measurements_.contains(widget) ? Stale : baseColours_.value(widget, Qt::black);
    const QPalette::ColorRole role = qobject_cast<QLineEdit *>(widget) ? QPalette::Text : QPalette::WindowText;
    if (widget->palette().color(role) == colour)
        return;
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void StatusPage::applyView(const StatusView &view)
{
    for (auto it = view.texts.cbegin(); it != view.texts.cend(); ++it) {
        QWidget *widget = controls_.value(it.key());
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            if (label->text() != it.value())
                label->setText(it.value());
        } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            if (edit->text() != it.value())
                edit->setText(it.value());
        }
    }
    for (auto it = view.visible.cbegin(); it != view.visible.cend(); ++it) {
        QWidget *widget = controls_.value(it.key());
        if (widget && widget->isHidden() == it.value())
            widget->setVisible(it.value());
    }
    for (auto it = view.colours.cbegin(); it != view.colours.cend(); ++it) {
        if (QWidget *widget = controls_.value(it.key()))
            setTextColour(widget, QColor::fromRgb(it.value()));
    }
    updateBatteryCable();
}

void StatusPage::showStripPicture(int strip, int picture)
{
    if (picture < 1 || picture > artwork::StripPictures)
        picture = 0;
    int &shown = shownPicture_[size_t(strip)];
    if (shown == picture)
        return;
    if (shown > 0)
        strips_[size_t(strip)][size_t(shown - 1)]->hide();
    if (picture > 0)
        strips_[size_t(strip)][size_t(picture - 1)]->show();
    shown = picture;
}

void StatusPage::applyFrame(const PowerFlowFrame &frame)
{
    showStripPicture(AcStrip, frame.ac);
    showStripPicture(RectStrip, frame.rect);
    showStripPicture(SysStrip, frame.sys);
    showStripPicture(BattStrip, frame.batt);
    if (frame.battChVisible && battCh_->isHidden() == *frame.battChVisible)
        battCh_->setVisible(*frame.battChVisible);
    if (frame.battDChVisible && battDCh_->isHidden() == *frame.battDChVisible)
        battDCh_->setVisible(*frame.battDChVisible);
    updateBatteryCable();
}

void StatusPage::updateBatteryCable()
{
    static_cast<FlowPanel *>(mainPanel_)->setBatteryCable(!battCh_->isHidden() || !battDCh_->isHidden());
}

void StatusPage::setAlarmTestReminderVisible(bool visible)
{
    alarmTest_->setVisible(visible);
}

void StatusPage::preview()
{
    showStripPicture(AcStrip, 1);
    showStripPicture(RectStrip, 1);
    showStripPicture(SysStrip, 1);
    showStripPicture(BattStrip, artwork::StripPictures);
    battCh_->show();
    control(QStringLiteral("Lable_BCA"))->show();
    control(QStringLiteral("FlatGroupBox1"))->show();
    updateBatteryCable();
}

void StatusPage::setAnswerMissing(bool missing)
{
    if (missing == answerMissing_)
        return;
    answerMissing_ = missing;
    for (QWidget *widget : std::as_const(measurements_))
        refreshTextColour(widget);
    for (const auto &[lamp, lit] : std::as_const(lamps_))
        lamp->setPixmap(missing ? artwork::unlit(lit) : lit);
    // Grey text on olive would not read: the clock's field turns grey instead.
    QPalette palette = clock_->palette();
    palette.setColor(QPalette::Base, missing ? StaleField : Olive);
    clock_->setPalette(palette);
}

ContactAlarmForm *StatusPage::openContactAlarm(int contact)
{
    const int selectedContact = 2 * (qBound(1, contact, 6) - 1);
    auto *form = new ContactAlarmForm(state_, selectedContact, window());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->open();
    return form;
}

void StatusPage::onTreeBuilt()
{
    tree_->clear();
    treeItems_.clear();
    const QList<TreeNode> &nodes = monitor_.tree().nodes();
    treeItems_.reserve(nodes.size());
    for (const TreeNode &node : nodes) {
        QTreeWidgetItem *parent = node.parent >= 0 && node.parent < treeItems_.size() ? treeItems_.at(node.parent) : nullptr;
        auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
        item->setText(0, node.text);
        item->setForeground(0, node.level == 0 ? Maroon : node.level == 1 ? Blue : QColor(Qt::black));
        item->setIcon(0, artwork::treeIcon(node.alarm ? ModuleTree::Alarm : ModuleTree::Normal));
        item->setData(0, Qt::UserRole, node.alarm);
        treeItems_.append(item);
    }
    tree_->expandAll();
}

void StatusPage::onTreeCleared()
{
    tree_->clear();
    treeItems_.clear();
}

void StatusPage::onTreeIconsChanged()
{
    const QList<TreeNode> &nodes = monitor_.tree().nodes();
    if (nodes.size() != treeItems_.size()) {
        onTreeBuilt();
        return;
    }
    for (int i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem *item = treeItems_.at(i);
        if (item->data(0, Qt::UserRole).toBool() == nodes.at(i).alarm)
            continue;
        item->setIcon(0, artwork::treeIcon(nodes.at(i).alarm ? ModuleTree::Alarm : ModuleTree::Normal));
        item->setData(0, Qt::UserRole, nodes.at(i).alarm);
    }
}

} // namespace qeln
