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
// lines. Values are read from what the spin boxes show as typed: a spin box bounds its value
// only when it is left, so a typed value outside the bounds reaches the plan and is refused
// there.
class OperationDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit OperationDialog(LinkEngine &engine, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void BitBtnOKClick();
    void BitBtnDefaultClick();
    void btnAllCheckClick();

    config::OperationValues values() const;
    void setValues(const config::OperationValues &values);

    bool testMode_ = false;
    config::OperationValues opening_; // what the controls show at opening
    bool shown_ = false;
    QList<QCheckBox *> boxes_;   // one per line, table order
    QList<QWidget *> controls_;  // spin box, list, or nullptr
};

} // namespace qeln
