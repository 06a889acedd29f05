#include "configdialogs.h"

#include "configdialog.h"
#include "clockdialog.h"
#include "factorydialog.h"
#include "measurementdialog.h"
#include "alarmtestdialog.h"
#include "contactdialogs.h"
#include "operationdialog.h"

namespace qeln {

ConfigDialog *createConfigDialog(const QString &menuName, LinkEngine &engine, ConsoleState &state, QWidget *parent)
{
    if (menuName == QLatin1String("mMeasurementSet")) return new MeasurementDialog(engine, state, parent);
    if (menuName == QLatin1String("mDataTimeSet")) return new ClockDialog(engine, state, parent);
    if (menuName == QLatin1String("mFactoryInitial")) return new FactoryDialog(engine, state, parent);
    if (menuName == QLatin1String("mSystemConfiguration")) return new OperationDialog(engine, state, parent);
    if (menuName == QLatin1String("mAlarmManager")) return new RepairDialog(engine, state, parent);
    if (menuName == QLatin1String("mAlarmTest")) return new AlarmTestDialog(engine, state, parent);
    return nullptr;
}

} // namespace qeln
