#pragma once

#include "app/consolestate.h"
#include "config/writeplan.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace qeln::config::settings {

// The controller's configuration as one document under stable keys, for qeln-cli
// (settings show / diff / apply). It covers the lines of four dialogs:
//   - frmPoint_Setting: its 22 settings (the forced discharge test and the task-fail reset are
//     one-shot commands, not settings: they have no value to show, compare or apply again, so
//     they are left out; `qeln-cli write 92=N` / `write 31=255` send them);
//   - frmRepair: the contacts' normal state (70) and the alarm output type (42);
//   - frmDefine: each of the six contacts' alarm assignment (80..91);
//   - frmAlarmTest: the alarm test switch (71) and the alarms it covers (72, 73).
// The write lists come from those dialogs' own plan functions, with exactly the changed lines
// ticked, so what is written is what the dialogs would write.

enum class Kind {
    Number,   // a spin box: the text as the operator would type it
    List,     // a drop-down list: one of its entries, by its text
    AlarmSet, // the fifteen alarm check boxes: a set of alarm keys
};

struct SettingInfo {
    QString key;
    Kind kind = Kind::Number;
    QString unit;          // "V", "A", "%", "°C", "month", "day", "h", "min" or empty
    QString caption;       // the dialog's caption of the line (trimmed)
    QString dialog;        // "frmPoint_Setting", "frmRepair", "frmDefine", "frmAlarmTest"
    QList<int> registers;  // the registers the line writes, in the dialog's order
    QStringList entries;   // List: the entries; AlarmSet: the alarm keys
    QString range;         // Number: "150..200"; List: entries joined by " | "
    int tenths = 0;        // Number: 1 when the register holds tenths of the unit
};

// Every setting in document order. With testMode the output voltage has the bounds of the
// charge mode "TEST 모드" (42.0..60.0).
QList<SettingInfo> catalog(bool testMode = false);
const SettingInfo *findSetting(const QString &key);
// The alarm keys of the alarm sets, in screen order.
QStringList alarmKeys();

// One wanted value. A null value leaves the setting as it is.
struct Value {
    bool null = false;
    QString text;       // Number, List
    QStringList alarms; // AlarmSet
    friend bool operator==(const Value &, const Value &) = default;
};
using Values = QMap<QString, Value>;

// A settings document: a JSON object of KEY: VALUE, where VALUE is
//   - for a number: a JSON number or a string ("46.5");
//   - for a list: the entry's text (a JSON number counts as its decimal text, so the
//     discharge test period takes 3 or "3"); positions are not accepted, because the charge
//     mode's register holds position + 1 and a number would be read either way;
//   - for an alarm set: an array of alarm keys;
//   - null: leave the setting as it is;
//   - or an object whose member "value" is one of the above (what `show --json` prints; its
//     other members are ignored).
// Refused with a message naming the key: not an object, an unknown key, a key given twice
// (at the top or inside a member), a value of the wrong JSON type, an unknown alarm key.
bool parseDocument(const QByteArray &json, Values &out, QString &error);
// KEY=VALUE arguments: the value as text; an alarm set as comma-separated alarm keys (empty:
// no alarm). Refused also: a key given twice, an argument without '='.
bool parseAssignments(const QStringList &args, Values &out, QString &error);

// "unknown setting 'KEY' (see 'qeln-cli settings --help')".
QString unknownKeyMessage(const QString &key);

// What the controller holds now, as a settings value (a list register outside its entries
// gives a null value).
struct Current {
    SettingInfo info;
    Value value;
    QList<int> raw; // the registers' values
};
// `state` after a decoded status (ContactAlarmMasks filled).
QList<Current> currentSettings(const ConsoleState &state);
// Display text of a value: numbers and list entries as they stand, alarm sets comma-separated,
// "(none)" for an empty set, "-" for null.
QString displayText(const Value &value, Kind kind);

// `settings show --json`: KEY: {"value", "unit", "range" or "entries", "registers", "raw",
// "caption"}.
QJsonObject toJson(const ConsoleState &state);
// `settings show`: one line per setting: key, value, unit, range.
QString toText(const ConsoleState &state);
// `settings --help`: every key with its unit, range or entries, registers and caption.
QString helpText();

struct Change {
    QString key;
    QString from;
    QString to;
    QString unit;
};

struct Diff {
    QList<Change> changes; // document order
    WritePlan plan;        // refused: nothing may be sent
};

// The changes from `current` to `wanted` and the one write list that makes them.
// A wanted value equal to the current one is no change, and is not checked against the
// line's range (a value the controller holds outside it can be fed back). The ranges are those
// that hold once the whole document is applied: an output voltage is checked against the
// charge mode the same document sets. Refused, naming the key: a value outside its line's
// range or not a number, a number with a finer step than its register keeps ("3.99 A: this
// setting takes steps of 0.1 A"; never cut to 3.9), a list text that is not an entry, a
// change of a line the dialog hides on this controller (the alarm output type on models other
// than 3 and 4; contacts 5 and 6 on models 3 and 4 with the TTL alarm output that the document
// sets or leaves).
// The writes, in list order (the controller receives them from the end):
//   frmAlarmTest (71, 72, 73), frmPoint_Setting (table order), frmRepair (70, 42),
//   frmDefine for contacts 1..6 (80 + 2(c-1), 81 + 2(c-1)).
// So the controller gets the contact assignments first, then the contact options, then the
// thresholds and operation settings, and the alarm test last: an alarm that a new threshold
// raises already drives the new contacts, and an alarm test is switched on only once its
// masks and everything else are in place.
Diff diff(const ConsoleState &current, const Values &wanted);
WritePlan applyPlan(const ConsoleState &current, const Values &wanted);

// The keys whose line writes `address` (for read-back reports).
QString keyOfRegister(int address);

} // namespace qeln::config::settings
