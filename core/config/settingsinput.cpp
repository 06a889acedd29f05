#include "settingscatalog.h"

#include "app/inputfile.h"
#include "config/alarmcontacts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>

// How `qeln-cli settings` reads what it is to apply: a JSON document or KEY=VALUE arguments.

namespace qeln::config::settings {

namespace {

// A JSON number as the operator would type it: 46.5 -> "46.5", 170 -> "170".
QString jsonNumberText(double d)
{
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

bool valueFromJson(const SettingInfo &info, const QJsonValue &json, Value &out, QString &error)
{
    out = Value();
    if (json.isNull()) {
        out.null = true;
        return true;
    }
    switch (info.kind) {
    case Kind::Number:
    case Kind::List:
        if (json.isString()) {
            out.text = json.toString();
            return true;
        }
        if (json.isDouble()) {
            out.text = jsonNumberText(json.toDouble());
            return true;
        }
        error = info.kind == Kind::Number
            ? QStringLiteral("%1: expected a number").arg(info.key)
            : QStringLiteral("%1: expected one of: %2").arg(info.key, info.range);
        return false;
    case Kind::AlarmSet: {
        if (!json.isArray()) {
            error = QStringLiteral("%1: expected a list of alarm keys").arg(info.key);
            return false;
        }
        for (const QJsonValue &a : json.toArray()) {
            if (!a.isString() || alarmBoxIndex(a.toString()) < 0 || a.toString().startsWith(QLatin1String("CheckBox"))) {
                error = QStringLiteral("%1: unknown alarm %2 (alarm keys: %3)")
                            .arg(info.key,
                                 a.isString() ? QLatin1Char('\'') + a.toString() + QLatin1Char('\'')
                                              : QStringLiteral("(not a text)"),
                                 alarmKeys().join(QStringLiteral(", ")));
                return false;
            }
            out.alarms << a.toString();
        }
        return true;
    }
    }
    return false;
}

} // namespace

QString unknownKeyMessage(const QString &key)
{
    return QStringLiteral("unknown setting '%1' (see 'qeln-cli settings --help')").arg(key);
}


bool parseDocument(const QByteArray &json, Values &out, QString &error)
{
    out.clear();
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not a JSON document: %1 at offset %2")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return false;
    }
    if (!doc.isObject()) {
        error = QStringLiteral("the settings document must be a JSON object of KEY: VALUE");
        return false;
    }
    // A JSON reader keeps one of two equal keys without a word: which value would be applied
    // is left to chance, so the file is refused.
    if (const QString twice = inputfile::duplicateKey(json); !twice.isEmpty()) {
        error = QStringLiteral("the key %1 is given twice; give each setting once").arg(twice);
        return false;
    }
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const SettingInfo *info = findSetting(it.key());
        if (!info) {
            error = unknownKeyMessage(it.key());
            return false;
        }
        QJsonValue v = it.value();
        if (v.isObject()) {
            const QJsonObject o = v.toObject();
            if (!o.contains(QLatin1String("value"))) {
                error = QStringLiteral("%1: an object needs the member \"value\"").arg(info->key);
                return false;
            }
            v = o.value(QLatin1String("value"));
        }
        Value value;
        if (!valueFromJson(*info, v, value, error))
            return false;
        out.insert(info->key, value);
    }
    return true;
}

bool parseAssignments(const QStringList &args, Values &out, QString &error)
{
    out.clear();
    for (const QString &a : args) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("'%1' is not KEY=VALUE").arg(a);
            return false;
        }
        const QString key = a.left(eq);
        const QString text = a.mid(eq + 1);
        const SettingInfo *info = findSetting(key);
        if (!info) {
            error = unknownKeyMessage(key);
            return false;
        }
        if (out.contains(key)) {
            error = QStringLiteral("%1 is given twice").arg(key);
            return false;
        }
        Value value;
        if (info->kind == Kind::AlarmSet) {
            QJsonArray list;
            for (const QString &k : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
                list.append(k.trimmed());
            if (!valueFromJson(*info, list, value, error))
                return false;
        } else {
            value.text = text;
        }
        out.insert(key, value);
    }
    return true;
}

} // namespace qeln::config::settings
