#pragma once

#include <QString>

class QWidget;

namespace qeln {

class ConfigDialog;
class LinkEngine;
struct ConsoleState;

// The configuration dialog that the main menu item `menuName` opens ("mSystemConfiguration",
// "mAlarmManager", "mMeasurementSet", "mDataTimeSet", "mAlarmTest", "mFactoryInitial"), new
// for every opening; nullptr for any other name. Creating it holds the status poll.
ConfigDialog *createConfigDialog(const QString &menuName, LinkEngine &engine, ConsoleState &state, QWidget *parent);

} // namespace qeln
