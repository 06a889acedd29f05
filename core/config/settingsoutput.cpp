#include "settingscatalog.h"

#include <QJsonArray>

#include <algorithm>

// What `qeln-cli settings` prints: the JSON of `show --json`, the table of `show`, and the
// key list of `--help`.

namespace qeln::config::settings {

QString displayText(const Value &value, Kind kind)
{
    if (value.null)
        return QStringLiteral("-");
    if (kind == Kind::AlarmSet)
        return value.alarms.isEmpty() ? QStringLiteral("(none)") : value.alarms.join(QLatin1Char(','));
    return value.text;
}

QJsonObject toJson(const ConsoleState &state)
{
    QJsonObject root;
    for (const Current &c : currentSettings(state)) {
        QJsonObject o;
        QJsonValue value;
        if (c.value.null)
            value = QJsonValue::Null;
        else if (c.info.kind == Kind::AlarmSet)
            value = QJsonArray::fromStringList(c.value.alarms);
        else if (c.info.kind == Kind::List)
            value = c.value.text;
        else
            value = c.info.tenths ? c.raw.first() / 10.0 : double(c.raw.first());
        o.insert(QStringLiteral("value"), value);
        if (!c.info.unit.isEmpty())
            o.insert(QStringLiteral("unit"), c.info.unit);
        if (c.info.kind == Kind::Number)
            o.insert(QStringLiteral("range"), c.info.range);
        else
            o.insert(QStringLiteral("entries"), QJsonArray::fromStringList(c.info.entries));
        QJsonArray registers, raw;
        for (int r : c.info.registers)
            registers.append(r);
        for (int r : c.raw)
            raw.append(r);
        o.insert(QStringLiteral("registers"), registers);
        o.insert(QStringLiteral("raw"), raw);
        o.insert(QStringLiteral("caption"), c.info.caption);
        root.insert(c.info.key, o);
    }
    return root;
}

namespace {

// Columns on a terminal: Hangul takes two.
qsizetype displayWidth(const QString &text)
{
    qsizetype width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x3130 && u <= 0x318F)
            || (u >= 0xAC00 && u <= 0xD7A3);
        width += wide ? 2 : 1;
    }
    return width;
}

QString table(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &r : rows) {
        for (qsizetype i = 0; i < r.size(); ++i) {
            if (widths.size() <= i)
                widths << 0;
            // A long alarm list does not widen the column for every other line.
            widths[i] = std::max(widths[i], std::min<qsizetype>(displayWidth(r[i]), 32));
        }
    }
    QString out;
    for (const QStringList &r : rows) {
        QString line;
        for (qsizetype i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size()) // at least two blanks, also after a cell wider than its column
                line += QString(std::max<qsizetype>(widths[i] - displayWidth(r[i]), 0) + 2, QLatin1Char(' '));
        }
        out += line.trimmed() + QLatin1Char('\n');
    }
    return out;
}

} // namespace

QString toText(const ConsoleState &state)
{
    QList<QStringList> rows{{QStringLiteral("KEY"), QStringLiteral("VALUE"), QStringLiteral("UNIT"),
                             QStringLiteral("RANGE")}};
    for (const Current &c : currentSettings(state)) {
        QString value = displayText(c.value, c.info.kind);
        if (c.value.null)
            value = QStringLiteral("- (register %1 holds %2)").arg(c.info.registers.first()).arg(c.raw.first());
        rows << QStringList{c.info.key, value, c.info.unit,
                            c.info.kind == Kind::AlarmSet ? QString() : c.info.range};
    }
    return table(rows);
}

QString helpText()
{
    QList<QStringList> rows{{QStringLiteral("KEY"), QStringLiteral("UNIT"), QStringLiteral("RANGE / ENTRIES"),
                             QStringLiteral("REGISTERS"), QStringLiteral("LINE")}};
    const QList<SettingInfo> test = catalog(true);
    for (const SettingInfo &i : catalog(false)) {
        QString range = i.range;
        const auto t = std::find_if(test.cbegin(), test.cend(), [&](const SettingInfo &x) { return x.key == i.key; });
        if (t != test.cend() && t->range != i.range)
            range += QStringLiteral(" (%1 in \"TEST 모드\")").arg(t->range);
        if (i.kind == Kind::AlarmSet)
            range = QStringLiteral("alarm keys, comma-separated");
        QStringList regs;
        for (int r : i.registers)
            regs << QString::number(r);
        rows << QStringList{i.key, i.unit, range, regs.join(QLatin1Char(',')),
                            i.dialog + QStringLiteral(" \"") + i.caption + QLatin1Char('"')};
    }
    return table(rows) + QStringLiteral("\nALARM KEYS: ") + alarmKeys().join(QStringLiteral(", ")) + QLatin1Char('\n');
}

} // namespace qeln::config::settings
