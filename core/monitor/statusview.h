#pragma once

#include "app/consolestate.h"
#include "plant/plantstatus.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace qeln {

// What one status decode shows, as data: the windows only apply it. Every key is the
// objectName of the control the decode writes; the window caption is "Main_Form" and the
// status-bar panels are "ComSetting.0" and "ComSetting.1".
struct StatusView {
    // Control name -> text, for every text the decode writes.
    QMap<QString, QString> texts;
    // Control name -> visible, for every control whose visibility the decode sets
    // (indicator pairs included: "ImDry1Nor" true and "ImDry1Arm" false for a quiet contact).
    QMap<QString, bool> visible;
    // Control name -> text colour as 0xRRGGBB: "LabCanCpuCom" (model 4), "pnl_TX", "pnl_RX".
    QMap<QString, quint32> colours;
    // The alarm-test reminder (Timer6) runs: status register 71 is 1.
    bool alarmTestReminder = false;
    // Dry contacts shown: 6, or 4 on models 3 and 4 with TTL alarm output.
    int contactCount = 6;
    // AlarmWordsText differed from LastAlarmWordsText (the data log writes an "[al]" line).
    bool alarmWordsChanged = false;
    // Names of the active alarms, in the order of the alarm table.
    QStringList activeAlarms;
    // The status the texts were made from.
    PlantStatus plant;
};

// Decodes a complete status response (its registers are in state.StatusRegisters) into its
// plant status and formats it, one display section after another: fills the view and updates
// the console state's texts (ModelText, SetVoltageText, AlarmWordsText, LastAlarmWordsText,
// StatusTimeText, StatusFirmwareText) and ContactAlarmMasks. The module tree and the data-log
// line are the caller's (LiveMonitor).
StatusView decodeStatusView(ConsoleState &state);

// The status bar's first panel: the model and the controller's firmware
// (" QELN-2KN  F/W V1.2.0.5  (2023/06/15)").
QString statusFirmwareText(const PlantStatus &plant);

// The number a shown text of the status page carries ("AC전압 : 220.6 V" → 220.6,
// "Battery온도 : +25.0  C" → 25.0), or nothing when the decode hid the control or its text
// holds no number (an open sensor: "Open"). Only for reading the page as a person would (the
// tests): numbers for storing and exporting come from the plant status.
std::optional<double> shownNumber(const StatusView &view, const QString &control);

// Status register n (1-based) of the last status response.
inline int statusRegister(const ConsoleState &state, int n)
{
    return state.StatusRegisters[size_t(n - 1)];
}

} // namespace qeln
