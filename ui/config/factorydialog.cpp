#include "config/factorydialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "config/factoryinit.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qeln {

namespace fi = config::factoryinit;

FactoryDialog::FactoryDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : ConfigDialog(engine, state, parent), choices_(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("Factory_Initial"));
    setWindowTitle(QStringLiteral("공장초기화 "));

    auto *group = new QGroupBox(QStringLiteral("공장초기화 "), this);
    group->setObjectName(QStringLiteral("rgFactoryInitial"));
    paintSkyBlue(group);
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(24, 16, 24, 16);
    groupLayout->setSpacing(14);
    const std::pair<const char *, fi::Choice> entries[] = {{"rbReset", fi::Choice::Reset},
                                                           {"rbConfig", fi::Choice::Config}};
    for (int i = 0; i < 2; ++i) {
        auto *radio = new QRadioButton(fi::caption(entries[i].second), group);
        radio->setObjectName(QLatin1String(entries[i].first));
        choices_->addButton(radio, i);
        groupLayout->addWidget(radio);
    }

    // Enter must not send a factory command by itself: the buttons are no defaults.
    auto *ok = button(QStringLiteral("설정 "), "BitBtnI_OK", this, true);
    auto *cancel = button(QStringLiteral("나가기 "), "BitBtnI_Cancel", this, true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &FactoryDialog::onOkClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    centreOnScreen(this);
}

void FactoryDialog::onOkClicked()
{
    const fi::Choice choice = fi::choiceAt(choices_->checkedId());
    if (choice == fi::Choice::None)
        return;
    submit(fi::plan(choice));
    // An exclusive group cannot be emptied by unchecking its checked button.
    choices_->setExclusive(false);
    if (QAbstractButton *checked = choices_->checkedButton())
        checked->setChecked(false);
    choices_->setExclusive(true);
}

} // namespace qeln
