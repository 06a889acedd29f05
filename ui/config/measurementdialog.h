#pragma once

#include "config/configdialog.h"
#include "config/measurement.h"

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qeln {

// frmSetting: measurement calibration. Each of the six lines is a check box, a field of fixed
// format (the point cannot be typed over) and its unit; the AC lines exist only on the AC
// models (3 and 4). Every opening shows the standard reference values, not the controller's.
class MeasurementDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit MeasurementDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

private:
    void onOkClicked();
    void onZeroClicked();

    std::array<QCheckBox *, config::measurement::ItemCount> boxes_{};
    std::array<QLineEdit *, config::measurement::ItemCount> fields_{};
    std::array<QLabel *, config::measurement::ItemCount> units_{};
};

} // namespace qeln
