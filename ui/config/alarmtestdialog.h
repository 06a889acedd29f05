#pragma once

#include "config/configdialog.h"

class QCheckBox;
class QComboBox;

namespace qeln {

class AlarmPanel;

// frmAlarmTest: switches the controller's alarm test on or off and chooses the alarms it
// covers. It stays open after "설정"; closing it resumes polling, and with it the main
// window's reminder while the test is in use.
class AlarmTestDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit AlarmTestDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

private:
    void onOkClicked();

    QCheckBox *ckbAlarmTestUsed_ = nullptr;
    QComboBox *cbbAlarmTestUsed_ = nullptr;
    QCheckBox *ckbAlarmTest_ = nullptr;
    AlarmPanel *panel_ = nullptr;
};

} // namespace qeln
