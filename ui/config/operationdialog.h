#pragma once

#include "config/configdialog.h"
#include "config/operationsettings.h"

#include <QList>

class QCheckBox;
class QComboBox;
class QWidget;

namespace qeln {

// frmPoint_Setting: operation and alarm settings. Each line is a check box and its control
// (spin box or list), filled from the last status block at opening; "설정" writes the ticked
// lines. Values are read from what the spin boxes show as typed. A value outside a line's
// bounds, or an empty field, stays as typed when the box is left and is marked (red, the
// reason as tooltip); "설정" with that line ticked is refused by the line's name.
class OperationDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit OperationDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

private:
    void onOkClicked();
    void onDefaultClicked();
    void onAllCheckClicked();

    config::OperationValues values() const;
    void setValues(const config::OperationValues &values);

    bool testMode_ = false;
    QList<QCheckBox *> boxes_;   // one per line, table order
    QList<QWidget *> controls_;  // spin box, list, or nullptr
};

} // namespace qeln
