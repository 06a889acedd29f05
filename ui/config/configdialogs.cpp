#include "configdialogs.h"

#include "configdialog.h"
#include "clockdialog.h"
#include "factorydialog.h"
#include "measurementdialog.h"
#include "alarmtestdialog.h"
#include "contactdialogs.h"
#include "operationdialog.h"

namespace qeln {

ConfigDialog *createConfigDialog(const QString &menuName, LinkEngine &engine, QWidget *parent)
{
    if (menuName == QLatin1String("mMeasurementSet")) return new MeasurementDialog(engine, parent);
    if (menuName == QLatin1String("mDataTimeSet")) return new ClockDialog(engine, parent);
    if (menuName == QLatin1String("mFactoryInitial")) return new FactoryDialog(engine, parent);
    if (menuName == QLatin1String("mSystemConfiguration")) return new OperationDialog(engine, parent);
    if (menuName == QLatin1String("mAlarmManager")) return new RepairDialog(engine, parent);
    if (menuName == QLatin1String("mAlarmTest")) return new AlarmTestDialog(engine, parent);
    return nullptr;
}

} // namespace qeln
