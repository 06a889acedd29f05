#pragma once

#include "config/alarmcontacts.h"

#include <QGroupBox>

#include <array>

class QCheckBox;

namespace qeln {

struct ConsoleState;

// The fifteen alarm check boxes (CheckBox1, CheckBox2, ... by the bit they stand for), in
// screen order, captioned from the console's alarm name tables. Shared by the contact's alarm
// assignment and the alarm test.
class AlarmPanel : public QGroupBox {
    Q_OBJECT
public:
    AlarmPanel(const ConsoleState &state, const QString &title, QWidget *parent = nullptr);

    config::AlarmTicks ticks() const;
    void setTicks(const config::AlarmTicks &ticks);
    QCheckBox *box(int index) const { return boxes_[size_t(index)]; }

private:
    std::array<QCheckBox *, config::AlarmBoxCount> boxes_{};
};

} // namespace qeln
