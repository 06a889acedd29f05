#include "monitor/contactalarmform.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "monitor/alarmmodel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>

namespace qeln {

namespace {
constexpr int RowPitch = 26;
} // namespace

ContactAlarmForm::ContactAlarmForm(const ConsoleState &state, int selectedContact, QWidget *parent)
    : QDialog(parent)
    , selectedContact_(selectedContact)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("경보접점 알람"));
    setFixedSize(262, 459);
    setSizeGripEnabled(false);

    paintSkyBlue(this);

    group_ = new QGroupBox(QStringLiteral("경보"), this);
    group_->setObjectName(QStringLiteral("grpAlarms"));
    group_->setGeometry(12, 10, 238, 439);
    const auto &rows = contactAlarmRows();
    for (int i = 0; i < Rows; ++i) {
        auto *box = new QCheckBox(group_);
        box->setObjectName(QLatin1String(rows[size_t(i)].checkBox));
        box->setGeometry(18, 26 + i * RowPitch, 210, 22);
        rows_[i] = box;
    }
    // The operator sees the assignment here; it is changed in the dry-contact settings. The
    // disabled ticks and captions stay readable on the sky-blue ground.
    QPalette readable = group_->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        readable.setColor(QPalette::Disabled, role, QColor(0x3C, 0x46, 0x50));
    readable.setColor(QPalette::Disabled, QPalette::Base, QColor(0xEE, 0xF3, 0xF8));
    group_->setPalette(readable);
    group_->setEnabled(false);

    showTicks(state);

    centreOnScreen(this);
}

void ContactAlarmForm::showTicks(const ConsoleState &state)
{
    const auto ticks = contactAlarmTicks(state, selectedContact_);
    for (int i = 0; i < Rows; ++i) {
        rows_[i]->setChecked(ticks[size_t(i)].ticked);
        rows_[i]->setText(ticks[size_t(i)].caption);
    }
}

} // namespace qeln
