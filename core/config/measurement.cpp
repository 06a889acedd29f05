#include "measurement.h"

#include <QRegularExpression>

namespace qeln::config::measurement {

namespace {

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

Item makeItem(const char *box, const char *field, const char *unitLabel, const char *key,
              const char *caption, int intDigits, int fracDigits, const char *initial,
              const char *unit, int address, int factor, bool skipsZero, bool acOnly)
{
    const QString format = QString(intDigits, QLatin1Char('9')) + QLatin1Char('.')
                           + QString(fracDigits, QLatin1Char('9'));
    return Item{box,       field,        unitLabel, key,      u8(caption), format, intDigits,
                fracDigits, u8(initial), u8(unit),  address, factor,      skipsZero, acOnly};
}

} // namespace

const QList<Item> &items()
{
    static const QList<Item> table = {
        makeItem("cbACV_SET_EN", "MskACV", "lbACV_UNIT", "ac_voltage", "AC 전압", 3, 1,
                 "220.0", "V", 48, 1, true, true),
        makeItem("cbACA_SET_EN", "MskACA", "lbACA_UNIT", "ac_current", "AC 전류", 2, 2,
                 "00.00", "A", 49, 1, true, true),
        makeItem("cbDCV_SET_EN", "MskDC_LV", "lbDCV_UNIT", "dc_voltage", "DC 전압", 2, 2,
                 "54.00", "V", 50, 10, true, false),
        makeItem("cbLCA_SET_EN", "MskLDA", "lbLCA_UNIT", "dc_current", "DC 전류", 2, 2,
                 "18.50", "A", 51, 10, false, false),
        makeItem("cbBCAP_SET_EN", "MskBCP", "lbBCAP_UNIT", "battery_charge_current",
                 "Battery 전류 (+)", 2, 2, "03.00", "A", 52, 10, false, false),
        makeItem("cbBCAN_SET_EN", "MskBCN", "lbBCAN_UNIT", "battery_discharge_current",
                 "Battery 전류 (-)", 2, 2, "10.00", "A", 53, 10, false, false),
    };
    return table;
}

int indexOfKey(const QString &key)
{
    const QList<Item> &all = items();
    for (int i = 0; i < all.size(); ++i) {
        if (key == QLatin1String(all[i].key))
            return i;
    }
    return -1;
}

QStringList keys()
{
    QStringList out;
    for (const Item &item : items())
        out << QLatin1String(item.key);
    return out;
}

bool isVisible(const Item &item, int modelCode)
{
    return !item.acOnly || isAcModel(modelCode);
}

QString zeroText(const Item &item)
{
    return QString(item.intDigits, QLatin1Char('0')) + QLatin1Char('.')
           + QString(item.fracDigits, QLatin1Char('0'));
}

bool fieldDigits(const Item &item, const QString &text, int *value)
{
    if (text.size() != item.intDigits + 1 + item.fracDigits)
        return false;
    int v = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (i == item.intDigits) {
            if (c != QLatin1Char('.'))
                return false;
            continue;
        }
        // Only ASCII digits: QChar::isDigit would take other scripts' digits as well.
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
    }
    if (value)
        *value = v;
    return true;
}

WritePlan plan(const QList<bool> &ticked, const QStringList &texts)
{
    const QList<Item> &all = items();
    int values[ItemCount] = {};
    // Every field first, ticked or not: one bad field stops the whole "설정".
    for (int i = 0; i < ItemCount; ++i) {
        const QString text = i < texts.size() ? texts[i] : all[i].initialText;
        if (!fieldDigits(all[i], text, &values[i]))
            return WritePlan::refuse(notIntegerMessage(text));
    }
    WritePlan out;
    for (int i = 0; i < ItemCount; ++i) {
        if (i >= ticked.size() || !ticked[i])
            continue;
        if (all[i].skipsZero && values[i] == 0)
            continue;
        const long long written = static_cast<long long>(values[i]) * all[i].factor;
        if (!fitsRegister(written))
            return WritePlan::refuse(doesNotFitMessage(all[i].caption, written));
        out.writes.append(RegisterWrite{all[i].address, static_cast<int>(written)});
    }
    return out;
}

QString fieldTextFor(const Item &item, const QString &typed, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]+)(?:\\.([0-9]*))?$"));
    const QRegularExpressionMatch m = form.match(typed);
    const QString intPart = m.hasMatch() ? m.captured(1) : QString();
    const QString fracPart = m.hasMatch() ? m.captured(2) : QString();
    if (!m.hasMatch() || intPart.size() > item.intDigits || fracPart.size() > item.fracDigits) {
        if (error) {
            *error = QStringLiteral("%1 (%2): '%3' does not match the format %4")
                         .arg(QLatin1String(item.key), item.caption, typed, item.format);
        }
        return QString();
    }
    return intPart.rightJustified(item.intDigits, QLatin1Char('0')) + QLatin1Char('.')
           + fracPart.leftJustified(item.fracDigits, QLatin1Char('0'));
}

WritePlan planAssignments(const QList<QPair<QString, QString>> &assignments, int modelCode)
{
    const QList<Item> &all = items();
    QList<bool> ticked(ItemCount, false);
    QStringList texts;
    for (const Item &item : all)
        texts << item.initialText;
    for (const auto &[key, typed] : assignments) {
        const int row = indexOfKey(key);
        if (row < 0) {
            return WritePlan::refuse(QStringLiteral("unknown calibration item '%1' (known: %2)")
                                         .arg(key, keys().join(QStringLiteral(", "))));
        }
        if (ticked[row])
            return WritePlan::refuse(QStringLiteral("%1 is given twice").arg(key));
        if (!isVisible(all[row], modelCode)) {
            return WritePlan::refuse(
                QStringLiteral("%1 (%2) exists only on models 3 and 4; this controller is model %3")
                    .arg(key, all[row].caption)
                    .arg(modelCode));
        }
        QString error;
        const QString text = fieldTextFor(all[row], typed, &error);
        if (text.isEmpty())
            return WritePlan::refuse(error);
        texts[row] = text;
        ticked[row] = true;
    }
    return plan(ticked, texts);
}

} // namespace qeln::config::measurement
