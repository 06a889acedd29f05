#pragma once

#include "config/configdialog.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;

namespace qeln {

class AlarmPanel;

// frmRepair: the six dry contacts by name, their normal state and, on models 3 and 4, the
// alarm output type. A click on a contact's name opens its alarm assignment (frmDefine) on
// top, a new one each time.
class RepairDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit RepairDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onOkClicked();
    void openContact(int selectedContact);

    std::array<QLabel *, 6> labels_{};
    QCheckBox *ckbDryContact_ = nullptr;
    QComboBox *cbbDryContact_ = nullptr;
    QCheckBox *ckbAlmType_ = nullptr;
    QComboBox *cbbAlmType_ = nullptr;
};

// frmDefine: which alarms drive one dry contact (SelectedContact = 2 * (contact - 1)), ticked
// as the last status block reports them. "설정" writes both words and closes. It opens over
// frmRepair and leaves the poll held for it.
class DefineDialog : public ConfigDialog {
    Q_OBJECT
public:
    DefineDialog(LinkEngine &engine, ConsoleState &state, int selectedContact, QWidget *parent = nullptr);

    int selectedContact() const { return selectedContact_; }

private:
    void onOkClicked();
    void onDefaultClicked();
    void onClearAllClicked();

    int selectedContact_;
    AlarmPanel *panel_ = nullptr;
};

} // namespace qeln
