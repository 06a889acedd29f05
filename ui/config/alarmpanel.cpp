#include "config/alarmpanel.h"

#include "app/consolestate.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace qeln {

AlarmPanel::AlarmPanel(const ConsoleState &state, const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
{
    setObjectName(QStringLiteral("grpAlarmPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    const QList<config::AlarmBox> alarms = config::alarmBoxes(state);
    for (size_t i = 0; i < boxes_.size(); ++i) {
        const config::AlarmBox &a = alarms[qsizetype(i)];
        auto *box = new QCheckBox(a.caption, this);
        box->setObjectName(QLatin1String(a.objectName));
        layout->addWidget(box);
        boxes_[i] = box;
    }
}

config::AlarmTicks AlarmPanel::ticks() const
{
    config::AlarmTicks t{};
    for (size_t i = 0; i < boxes_.size(); ++i)
        t[i] = boxes_[i]->isChecked();
    return t;
}

void AlarmPanel::setTicks(const config::AlarmTicks &ticks)
{
    for (size_t i = 0; i < boxes_.size(); ++i)
        boxes_[i]->setChecked(ticks[i]);
}

} // namespace qeln
