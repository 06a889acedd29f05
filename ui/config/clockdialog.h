#pragma once

#include "config/clocksetting.h"
#include "config/configdialog.h"

#include <QDateTime>

class QComboBox;
class QPushButton;

namespace qeln {

class ClockSpinBox;
class EngCalendar;

// frmSetTime: the controller's date and time. The fields come from the PC's clock whenever
// the dialog becomes the active window and by "현재 날짜/시간"; "설정" writes what the fields
// show and leaves the dialog open. A box left empty or outside its bounds keeps its text,
// marked, and "설정" refuses it by name. The poll timer stands still while it is open.
class ClockDialog : public ConfigDialog {
    Q_OBJECT
public:
    explicit ClockDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent = nullptr);

    // The values that "설정" would read: the boxes' texts as they stand, typed and not yet
    // left included, and the calendar's selected day.
    config::clocksetting::Fields fields() const;

protected:
    bool event(QEvent *event) override;

protected:
    void onRefusalClosed() override;

private:
    void fillFrom(const QDateTime &when);
    void onMonthTextChanged();
    void recheckMonth();
    void keepCalendarInStep();
    void onOkClicked();
    void onNowClicked();

    ClockSpinBox *year_;
    QComboBox *month_;
    EngCalendar *calendar_;
    ClockSpinBox *hour_;
    ClockSpinBox *minute_;
    ClockSpinBox *second_;
    // A refused "설정" keeps what the operator typed when its message box closes, instead of
    // the PC clock that a return to the dialog otherwise brings.
    bool keepFieldsOnReturn_ = false;
};

} // namespace qeln
