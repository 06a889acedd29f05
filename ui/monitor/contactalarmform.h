#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;

namespace qeln {

struct ConsoleState;

// Form1: which alarms drive one dry contact, as the last status response reported its masks.
// Read-only (the group of ticks is disabled), no buttons; closed from its title bar.
class ContactAlarmForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int Rows = 15;

    // selectedContact is SelectedContact: 2 x (contact - 1), so 0, 2, ..., 10.
    ContactAlarmForm(const ConsoleState &state, int selectedContact, QWidget *parent = nullptr);

    int selectedContact() const { return selectedContact_; }
    QCheckBox *row(int index) const { return rows_[index]; }

private:
    void showTicks(const ConsoleState &state);

    int selectedContact_;
    QGroupBox *group_ = nullptr;
    QCheckBox *rows_[Rows] = {};
};

} // namespace qeln
