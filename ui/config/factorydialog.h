#pragma once

#include "config/configdialog.h"

class QButtonGroup;

namespace qeln {

// Factory_Initial: sends the controller a reset or an initialisation of its configuration,
// at once, without a confirmation. After "설정 " no choice is selected any more, so a second
// press sends nothing: a reset is never sent twice by one choice.
class FactoryDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit FactoryDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

private:
    void onOkClicked();

    QButtonGroup *choices_;
};

} // namespace qeln
