#include "config/contactdialogs.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "config/alarmcontacts.h"
#include "config/alarmpanel.h"
#include "link/linkengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace qeln {

RepairDialog::RepairDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : ConfigDialog(engine, state, parent)
{
    setObjectName(QStringLiteral("frmRepair"));
    setWindowTitle(QStringLiteral("경보접점 설정"));

    const config::RepairOpening opening = config::repairOpening(state_);

    auto *contacts = new QGroupBox(QStringLiteral("경보접점 세부알람 설정"), this);
    contacts->setObjectName(QStringLiteral("grpContacts"));
    paintSkyBlue(contacts);
    auto *contactGrid = new QGridLayout(contacts);
    contactGrid->setHorizontalSpacing(24);
    contactGrid->setVerticalSpacing(10);
    const QList<config::DryContact> &list = config::dryContacts();
    for (qsizetype i = 0; i < list.size(); ++i) {
        auto *label = new QLabel(list[i].caption, contacts);
        label->setObjectName(QLatin1String(list[i].label));
        label->setCursor(Qt::PointingHandCursor);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Raised);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumSize(110, 30);
        label->installEventFilter(this);
        contactGrid->addWidget(label, int(i) / 2, int(i) % 2);
        labels_[size_t(i)] = label;
    }
    labels_[4]->setVisible(opening.spareContactsVisible);
    labels_[5]->setVisible(opening.spareContactsVisible);

    auto *options = new QGroupBox(this);
    options->setObjectName(QStringLiteral("grpContactOptions"));
    paintSkyBlue(options);
    auto *optionGrid = new QGridLayout(options);
    optionGrid->setHorizontalSpacing(12);
    ckbDryContact_ = new QCheckBox(config::dryContactCaption(), options);
    ckbDryContact_->setObjectName(QStringLiteral("ckbDryContact"));
    cbbDryContact_ = new QComboBox(options);
    cbbDryContact_->setObjectName(QStringLiteral("cbbDryContact"));
    cbbDryContact_->addItems(config::dryContactEntries());
    cbbDryContact_->setCurrentIndex(opening.dryContactIndex);
    ckbAlmType_ = new QCheckBox(config::alarmTypeCaption(), options);
    ckbAlmType_->setObjectName(QStringLiteral("ckbAlmType"));
    cbbAlmType_ = new QComboBox(options);
    cbbAlmType_->setObjectName(QStringLiteral("cbbAlmType"));
    cbbAlmType_->addItems(config::alarmTypeEntries());
    cbbAlmType_->setCurrentIndex(opening.alarmTypeIndex);
    optionGrid->addWidget(ckbDryContact_, 0, 0);
    optionGrid->addWidget(cbbDryContact_, 0, 1);
    optionGrid->addWidget(ckbAlmType_, 1, 0);
    optionGrid->addWidget(cbbAlmType_, 1, 1);
    optionGrid->setColumnStretch(0, 1);
    ckbAlmType_->setVisible(opening.alarmTypeVisible);
    cbbAlmType_->setVisible(opening.alarmTypeVisible);

    auto *ok = button(QStringLiteral("설정"), "BitBtnOK", this);
    auto *cancel = button(QStringLiteral("닫기"), "BitBtnCancel", this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(contacts);
    layout->addWidget(options);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &RepairDialog::onOkClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    centreOnScreen(this);
}

bool RepairDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        for (size_t i = 0; i < labels_.size(); ++i) {
            if (watched == labels_[i] && labels_[i]->isVisible()) {
                openContact(config::dryContacts()[qsizetype(i)].selectedContact);
                return true;
            }
        }
    }
    return ConfigDialog::eventFilter(watched, event);
}

void RepairDialog::openContact(int selectedContact)
{
    auto *define = new DefineDialog(engine_, state_, selectedContact, this);
    define->setAttribute(Qt::WA_DeleteOnClose);
    define->open();
}

void RepairDialog::onOkClicked()
{
    const bool alarmTypeTicked = ckbAlmType_->isChecked() && !ckbAlmType_->isHidden();
    if ((ckbDryContact_->isChecked() && refuseEmptyList(cbbDryContact_, ckbDryContact_->text()))
        || (alarmTypeTicked && refuseEmptyList(cbbAlmType_, ckbAlmType_->text())))
        return;
    const config::WritePlan plan = config::repairPlan(
        ckbDryContact_->isChecked(), cbbDryContact_->currentIndex(),
        ckbAlmType_->isChecked() && !ckbAlmType_->isHidden(), cbbAlmType_->currentIndex());
    const bool sent = submit(plan);
    if (!plan.writes.isEmpty() && !sent)
        return; // the link is still busy: the ticks stay for another try
    ckbDryContact_->setChecked(false);
    ckbAlmType_->setChecked(false);
}

DefineDialog::DefineDialog(LinkEngine &engine, ConsoleState &state, int selectedContact, QWidget *parent)
    : ConfigDialog(engine, state, parent), selectedContact_(selectedContact)
{
    setObjectName(QStringLiteral("frmDefine"));
    setWindowTitle(QStringLiteral("경보접점 알람설정"));

    QString contactName;
    for (const config::DryContact &c : config::dryContacts()) {
        if (c.selectedContact == selectedContact)
            contactName = c.caption;
    }
    panel_ = new AlarmPanel(state_, contactName, this);
    paintSkyBlue(panel_);
    panel_->setTicks(config::initialContactTicks(state_, selectedContact_));

    auto *ok = button(QStringLiteral("설정"), "BitBtnOK", this);
    auto *defaults = button(QStringLiteral("기본값"), "btnDefault", this);
    auto *clear = button(QStringLiteral("선택해제"), "btnAllCheck", this);
    auto *cancel = button(QStringLiteral("닫기"), "BitBtnCancel", this);
    auto *buttons = new QGridLayout;
    buttons->addWidget(defaults, 0, 0);
    buttons->addWidget(clear, 0, 1);
    buttons->addWidget(ok, 1, 0);
    buttons->addWidget(cancel, 1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(panel_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &DefineDialog::onOkClicked);
    connect(defaults, &QPushButton::clicked, this, &DefineDialog::onDefaultClicked);
    connect(clear, &QPushButton::clicked, this, &DefineDialog::onClearAllClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    centreOnScreen(this);
}

void DefineDialog::onDefaultClicked()
{
    panel_->setTicks(config::contactDefaults(selectedContact_ / 2 + 1));
}

void DefineDialog::onClearAllClicked()
{
    panel_->setTicks(config::noneTicked());
}

void DefineDialog::onOkClicked()
{
    const config::WritePlan plan = config::definePlan(selectedContact_, panel_->ticks());
    const bool sent = submit(plan);
    // Stays open when nothing could go out (the link is still busy), so the ticks are not lost.
    if (sent)
        accept();
}

} // namespace qeln
