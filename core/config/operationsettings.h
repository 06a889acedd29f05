#pragma once

#include "app/consolestate.h"
#include "config/writeplan.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qeln::config {

// The 24 lines of the operation and alarm settings dialog (frmPoint_Setting), in the order in
// which "설정" queues them. Each line is a check box and an input control; the status
// register that shows a value at opening is the holding register it is written to.

enum class ControlKind {
    IntegerSpin, // whole numbers (volts, percent)
    DecimalSpin, // one decimal
    WholeSpin,   // a decimal spin box used for whole numbers (month, day, hour, minutes)
    List,        // a fixed drop-down list
    None,        // a command with a check box only (the task-fail reset)
};

enum class Encoding {
    Integer,             // the number as typed
    Tenths,              // the number as typed times ten, truncated toward zero
    ListPosition,        // zero-based position of the chosen entry
    ListPositionPlusOne, // position + 1
    Constant255,         // the constant 255
};

// How the control is filled when the dialog opens.
enum class OpeningFill {
    ValueBounded,        // the register as a value, forced into the bounds
    TenthsText,          // FormatTenths text, not bounded
    TenthsTextZeroPlain, // as TenthsText, but 0 shows "0"
    ListPosition,        // entry at position (register); none when outside the list
    ListPositionMinusOne, // entry at position (register - 1); none when outside the list
    ForcedDischarge,     // 1, 2, 3 select entries 0, 1, 2; any other value entry 0
    Nothing,             // not shown
};

struct OperationSetting {
    int row = 0;              // 1..24
    const char *checkBox = nullptr; // "ckbACUV"
    const char *control = nullptr;  // "mskACUV"; nullptr for the task-fail reset
    QString caption;          // the check box's caption, byte for byte
    QString group;            // the group box: "알람설정", "운용설정", "축전지 방전시험", "축전지 운용설정"
    ControlKind kind = ControlKind::IntegerSpin;
    int registerAddress = 0;
    Encoding encoding = Encoding::Integer;
    double minimum = 0;       // spin bounds (in the unit shown, not in tenths)
    double maximum = 0;
    double step = 1;
    QStringList entries;      // list entries
    OpeningFill opening = OpeningFill::Nothing;
    bool hasDefault = false;  // "기본값" changes the control
    QString defaultText;      // spin rows: the text "기본값" puts in
    int defaultIndex = -1;    // list rows: the entry "기본값" selects
    bool inSelectAll = false; // "전체선택" ticks it
    QString key;              // stable snake_case name (qeln-cli)
    QString unit;             // "V", "A", "%", "°C", "month", "day", "h", "min" or empty

    bool isSpin() const
    {
        return kind == ControlKind::IntegerSpin || kind == ControlKind::DecimalSpin
            || kind == ControlKind::WholeSpin;
    }
    bool isList() const { return kind == ControlKind::List; }
    // Decimals shown by the spin box (1 for the decimal spins, 0 otherwise).
    int decimals() const { return kind == ControlKind::DecimalSpin ? 1 : 0; }
};

inline constexpr int OperationSettingCount = 24;
inline constexpr int OutputVoltageRow = 8;
inline constexpr int ChargeModeRow = 10;
inline constexpr int ForcedDischargeRow = 20;
inline constexpr int TaskFailResetRow = 24;

// The table. With testMode (charge mode 3, "TEST 모드", at opening) the output-voltage line
// reads "출력전압 (42.0 ~ 60.0V)" with bounds 42.0..60.0; otherwise "출력전압 (43.0 ~ 56.0V)",
// 43.0..56.0.
const QList<OperationSetting> &operationSettings(bool testMode = false);
// The line with this CLI key, or nullptr.
const OperationSetting *findOperationSetting(const QString &key, bool testMode = false);

// Whether the dialog opens in test mode: status register 64 (charge mode) is 3.
bool testModeAtOpening(const ConsoleState &state);

// What one control holds: the text of a spin box as typed, or the list position
// (-1: no entry selected). The task-fail reset line holds nothing.
struct OperationValue {
    QString text;
    int index = -1;
    friend bool operator==(const OperationValue &, const OperationValue &) = default;
};
using OperationValues = QList<OperationValue>; // one per line, table order

// The controls at opening, from the status registers: value-set rows bounded to their spin
// range, text-set rows as FormatTenths text and not bounded, lists by position (-1 when the
// register is outside the entries).
OperationValues initialValues(const ConsoleState &state);
// The register's value shown as the line at opening would show it (used by initialValues).
OperationValue openingValue(const OperationSetting &setting, int registerValue);

// "기본값": the defaults into the controls of the lines that have one (the overcurrent default
// is "103" on model codes 3 and 4, "105" on any other); the forced-discharge and task-fail
// lines keep `current`.
OperationValues defaults(int modelCode, const OperationValues &current);

// "전체선택": ticks the 22 setting lines; the forced-discharge test and the task-fail reset
// keep their ticks.
QList<bool> selectAll(const QList<bool> &ticked);

// "설정": one write per ticked line in table order. Refused (nothing to send) on the first
// ticked line whose text is not a number (the standard conversion texts), lies outside its
// spin range, or whose encoded value does not fit its register. A ticked list without a
// selection is skipped. Lines beyond the lengths of `ticked`/`values` count as not ticked.
WritePlan plan(const QList<bool> &ticked, const OperationValues &values, bool testMode);

// Why a spin line's text cannot be written, naming the line by its caption: "AC 저전압
// (150V ~ 200V): 300 is outside 150..200", "AC 저전압 (150V ~ 200V): '' is not a valid integer
// value". Empty when it can, and always for lists and the task-fail reset. The dialog marks
// the field with it and refuses "설정" with it.
QString valueProblem(const OperationSetting &setting, const OperationValue &value);

// The spin range as the refusal names it: "43.0..50.0" or "150..200".
QString rangeText(const OperationSetting &setting);

} // namespace qeln::config
