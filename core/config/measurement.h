#pragma once

#include "config/writeplan.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace qeln::config::measurement {

// Measurement calibration: the operator types the value a quantity should read, and the
// controller gets it in that quantity's calibration register (48..53).
//
// Each field has a fixed format: `intDigits` digits, a point, `fracDigits` digits, every
// position required ("999.9", "99.99"). Its value is its digits without the point read as a
// whole number ("54.00" -> 5400); the register gets that number times `factor`.
struct Item {
    const char *checkBoxName; // "cbACV_SET_EN"
    const char *fieldName;    // "MskACV"
    const char *unitName;     // "lbACV_UNIT"
    const char *key;          // "ac_voltage": stable name for scripts (qeln-cli calibrate)
    QString caption;          // "AC 전압", the check box's text
    QString format;           // "999.9": '9' one required digit, '.' the fixed point
    int intDigits;
    int fracDigits;
    QString initialText;      // the field's text at every opening ("220.0")
    QString unit;             // "V" / "A"
    int address;              // 48..53
    int factor;               // 1 or 10
    bool skipsZero;           // rows 1-3: a ticked zero is silently not written
    bool acOnly;              // rows 1-2: shown only on the AC models (ModelCode 3 or 4)
};

inline constexpr int ItemCount = 6;

// The six items in table order: AC voltage, AC current, DC voltage, DC current, battery
// charge current, battery discharge current.
const QList<Item> &items();
// Index of the item with this key, -1 when there is none.
int indexOfKey(const QString &key);
QStringList keys();

// Rows 1 and 2 (the AC items) exist only on models 3 and 4.
bool isVisible(const Item &item, int modelCode);
inline bool isAcModel(int modelCode) { return modelCode == 3 || modelCode == 4; }

// The "영점" button: the text of the four current fields after it (rows 2, 4, 5, 6).
inline bool isZeroedByZeroButton(int row) { return row == 1 || row >= 3; }
QString zeroText(const Item &item); // "00.00"

// The value of a field text in the item's fixed format: digits only, the point at its fixed
// place, every digit present. Returns false for anything else ("54.0", "54.0 ", "5a.00").
bool fieldDigits(const Item &item, const QString &text, int *value);

// "설정" of the dialog. `ticked` and `texts` are in table order (entries missing from a
// shorter list count as unticked / the initial text). Every field is converted whether it
// is ticked or not: a text that is not in its format refuses the whole plan with the
// standard conversion error and nothing is sent. Then, for each ticked row in table order,
// (address, value x factor) is appended, except a zero on rows 1-3, which is skipped without
// a word. A value that does not fit its register (99.99 x 10 = 99990) refuses the plan.
// Nothing ticked (or only skipped zeros): an empty plan without a message.
WritePlan plan(const QList<bool> &ticked, const QStringList &texts);

// A value typed on a command line for one item, turned into the field's text.
// Accepted: 1..intDigits digits, optionally a point and 0..fracDigits digits; missing digits
// are zeros ("54" -> "54.00", "3.5" -> "03.50", "220" -> "220.0", "54." -> "54.00").
// Refused (returns an empty text and sets *error): a sign, blanks, an exponent, a comma,
// more digits than the field has on either side ("100.00" or "54.001" for 99.99), no
// digit before the point (".5"), an empty text.
QString fieldTextFor(const Item &item, const QString &typed, QString *error);

// `KEY=VALUE` assignments as qeln-cli calibrate takes them, planned exactly as the dialog
// would with those rows ticked and the other fields at their initial texts. Refused with a
// message: an unknown key, a key given twice, a value that fieldTextFor refuses, an AC key
// when `modelCode` (status register 26) is not 3 or 4, a value that does not fit its
// register. A zero for rows 1-3 is skipped silently, as in the dialog.
WritePlan planAssignments(const QList<QPair<QString, QString>> &assignments, int modelCode);

} // namespace qeln::config::measurement
