#include "config/alarmtestdialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "config/alarmpanel.h"
#include "config/alarmtest.h"
#include "link/linkengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qeln {

AlarmTestDialog::AlarmTestDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : ConfigDialog(engine, state, parent)
{
    setObjectName(QStringLiteral("frmAlarmTest"));
    setWindowTitle(QStringLiteral("알람시험"));

    const config::AlarmTestOpening opening = config::alarmTestOpening(state_);

    auto *head = new QGroupBox(this);
    head->setObjectName(QStringLiteral("grpAlarmTestUse"));
    auto *headGrid = new QGridLayout(head);
    ckbAlarmTestUsed_ = new QCheckBox(QStringLiteral("경보시험 "), head);
    ckbAlarmTestUsed_->setObjectName(QStringLiteral("ckbAlarmTestUsed"));
    cbbAlarmTestUsed_ = new QComboBox(head);
    cbbAlarmTestUsed_->setObjectName(QStringLiteral("cbbAlarmTestUsed"));
    cbbAlarmTestUsed_->addItems(config::alarmTestUsedEntries());
    cbbAlarmTestUsed_->setCurrentIndex(opening.usedIndex);
    ckbAlarmTest_ = new QCheckBox(QStringLiteral("경보시험 설정 내용"), head);
    ckbAlarmTest_->setObjectName(QStringLiteral("ckbAlarmTest"));
    headGrid->addWidget(ckbAlarmTestUsed_, 0, 0);
    headGrid->addWidget(cbbAlarmTestUsed_, 0, 1);
    headGrid->addWidget(ckbAlarmTest_, 1, 0, 1, 2);
    headGrid->setColumnStretch(0, 1);

    panel_ = new AlarmPanel(state_, QString(), this);
    panel_->setTicks(opening.ticks);

    for (QGroupBox *g : {head, static_cast<QGroupBox *>(panel_)})
        paintSkyBlue(g);

    auto *selectAll = button(QStringLiteral("전체선택"), "btnSelectAll", this);
    auto *releaseAll = button(QStringLiteral("전체해제"), "btnReleaseAll", this);
    auto *ok = button(QStringLiteral("설정"), "BitBtnOK", this);
    auto *cancel = button(QStringLiteral("닫기"), "BitBtnCancel", this);
    auto *buttons = new QGridLayout;
    buttons->addWidget(selectAll, 0, 0);
    buttons->addWidget(releaseAll, 0, 1);
    buttons->addWidget(ok, 1, 0);
    buttons->addWidget(cancel, 1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(head);
    layout->addWidget(panel_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(selectAll, &QPushButton::clicked, this, [this] { panel_->setTicks(config::allTicked()); });
    connect(releaseAll, &QPushButton::clicked, this, [this] { panel_->setTicks(config::noneTicked()); });
    connect(ok, &QPushButton::clicked, this, &AlarmTestDialog::onOkClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    centreOnScreen(this);
}

void AlarmTestDialog::onOkClicked()
{
    if (ckbAlarmTestUsed_->isChecked() && refuseEmptyList(cbbAlarmTestUsed_, ckbAlarmTestUsed_->text()))
        return;
    const config::WritePlan plan = config::alarmTestPlan(
        ckbAlarmTestUsed_->isChecked(), cbbAlarmTestUsed_->currentIndex(),
        ckbAlarmTest_->isChecked(), panel_->ticks());
    const bool sent = submit(plan);
    if (!plan.writes.isEmpty() && !sent)
        return; // the link is still busy: the ticks stay for another try
    ckbAlarmTestUsed_->setChecked(false);
    ckbAlarmTest_->setChecked(false);
}

} // namespace qeln
