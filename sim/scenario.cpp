#include "scenario.h"

#include "logcontent.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace qeln::sim {

namespace {

// The built-in scenarios are written in the file format, so they go through the same parser
// as a scenario file and cannot drift from it.
struct BuiltIn {
    const char *name;
    const char *json;
};

const BuiltIn builtIns[] = {
    {"normal", R"({
        "description": "Mains present, rectifiers float the battery, the load wanders a little.",
        "soc": 92, "load": 18.5, "ambient": 25
    })"},
    {"ac-fail", R"({
        "description": "The mains fails for two minutes in every ten: AC alarm, the battery carries the load, then recovery and recharge.",
        "soc": 95, "load": 18.5, "ambient": 25, "repeat": 600,
        "events": [ { "at": 30, "ac": false }, { "at": 150, "ac": true } ]
    })"},
    {"battery-alarms", R"({
        "description": "Battery-management activity: a drifting cell, cell balancing, over-temperature, a forced charge over-current, a lost BMS link and an open battery breaker, each clearing again.",
        "soc": 82, "load": 16.0, "ambient": 25, "repeat": 480,
        "events": [
            { "at": 20, "cell": 7, "offset": -0.11 },
            { "at": 60, "cell": 7, "offset": -0.26 },
            { "at": 100, "cell": 7, "offset": 0 },
            { "at": 120, "batteryHeat": 32 },
            { "at": 150, "batteryHeat": 45 },
            { "at": 210, "batteryHeat": 2 },
            { "at": 280, "bmsFault": "charge-overcurrent", "active": true },
            { "at": 300, "bmsFault": "charge-overcurrent", "active": false },
            { "at": 330, "bmsLink": false },
            { "at": 360, "bmsLink": true },
            { "at": 390, "breaker": false },
            { "at": 420, "breaker": true }
        ]
    })"},
    {"no-battery", R"({
        "description": "A plant without a battery (register 66 = 0): the rectifiers alone carry the load.",
        "load": 18.5, "ambient": 25, "registers": { "66": 0 }
    })"},
};

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool readNumber(const QJsonObject &o, const QString &key, double lo, double hi, double *out,
                QString *error)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined())
        return true;
    if (!v.isDouble() || v.toDouble() < lo || v.toDouble() > hi)
        return fail(error, QStringLiteral("\"%1\" must be a number from %2 to %3").arg(key).arg(lo).arg(hi));
    *out = v.toDouble();
    return true;
}

bool readEvent(const QJsonObject &o, int position, ScenarioEvent *e, QString *error)
{
    const QString where = QStringLiteral("event %1: ").arg(position + 1);
    const QJsonValue at = o.value(QLatin1String("at"));
    if (!at.isDouble() || at.toDouble() < 0 || at.toDouble() > 1e7)
        return fail(error, where + QStringLiteral("\"at\" must be a time in seconds (0 to 10000000)"));
    e->atMs = std::llround(at.toDouble() * 1000.0);

    QStringList keys = o.keys();
    keys.removeAll(QStringLiteral("at"));
    auto expectKeys = [&](std::initializer_list<const char *> wanted) {
        QStringList w;
        for (const char *k : wanted)
            w << QLatin1String(k);
        QStringList sortedKeys = keys;
        sortedKeys.sort();
        w.sort();
        return sortedKeys == w;
    };
    auto boolOf = [&](const char *key, bool *out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isBool())
            return fail(error, where + QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(key)));
        *out = v.toBool();
        return true;
    };
    auto numberOf = [&](const char *key, double lo, double hi, double *out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble() || v.toDouble() < lo || v.toDouble() > hi)
            return fail(error, where + QStringLiteral("\"%1\" must be a number from %2 to %3")
                                           .arg(QLatin1String(key)).arg(lo).arg(hi));
        *out = v.toDouble();
        return true;
    };

    if (expectKeys({"ac"})) {
        e->kind = ScenarioEvent::AcInput;
        return boolOf("ac", &e->on);
    }
    if (expectKeys({"load"})) {
        e->kind = ScenarioEvent::Load;
        return numberOf("load", 0, 200, &e->value);
    }
    if (expectKeys({"ambient"})) {
        e->kind = ScenarioEvent::Ambient;
        return numberOf("ambient", -40, 80, &e->value);
    }
    if (expectKeys({"cell", "offset"})) {
        e->kind = ScenarioEvent::CellOffset;
        double cell = 0;
        if (!numberOf("cell", 1, 15, &cell) || cell != std::floor(cell))
            return fail(error, where + QStringLiteral("\"cell\" must be a whole number from 1 to 15"));
        e->index = int(cell);
        return numberOf("offset", -1.0, 1.0, &e->value);
    }
    if (expectKeys({"batteryHeat"})) {
        e->kind = ScenarioEvent::BatteryHeat;
        return numberOf("batteryHeat", -60, 100, &e->value);
    }
    if (expectKeys({"bmsLink"})) {
        e->kind = ScenarioEvent::BmsLink;
        return boolOf("bmsLink", &e->on);
    }
    if (expectKeys({"breaker"})) {
        e->kind = ScenarioEvent::BatteryBreaker;
        return boolOf("breaker", &e->on);
    }
    if (expectKeys({"moduleFail"})) {
        e->kind = ScenarioEvent::ModuleFail;
        return boolOf("moduleFail", &e->on);
    }
    if (expectKeys({"bmsFault", "active"})) {
        e->kind = ScenarioEvent::BmsFault;
        const int index = int(scenarioFaultNames().indexOf(o.value(QLatin1String("bmsFault")).toString()));
        if (index < 0)
            return fail(error, where + QStringLiteral("\"bmsFault\" must be one of: %1")
                                           .arg(scenarioFaultNames().join(QStringLiteral(", "))));
        e->index = index;
        return boolOf("active", &e->on);
    }
    return fail(error, where + QStringLiteral("unknown combination of keys: %1").arg(keys.join(QStringLiteral(", "))));
}

} // namespace

QStringList scenarioFaultNames()
{
    return {QStringLiteral("overcharge"),           QStringLiteral("charge-overcurrent"),
            QStringLiteral("discharge-undervoltage"), QStringLiteral("discharge-overcurrent"),
            QStringLiteral("over-temperature"),     QStringLiteral("under-temperature"),
            QStringLiteral("cell-deviation")};
}

QStringList builtInScenarioNames()
{
    QStringList names;
    for (const BuiltIn &b : builtIns)
        names << QLatin1String(b.name);
    return names;
}

bool parseScenario(const QByteArray &json, Scenario *out, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return fail(error, QStringLiteral("not valid JSON: %1 at offset %2")
                               .arg(parseError.errorString()).arg(parseError.offset));
    if (!doc.isObject())
        return fail(error, QStringLiteral("a scenario must be a JSON object"));
    const QJsonObject o = doc.object();

    static const QStringList known = {QStringLiteral("name"), QStringLiteral("description"),
                                      QStringLiteral("soc"), QStringLiteral("load"),
                                      QStringLiteral("ambient"), QStringLiteral("repeat"),
                                      QStringLiteral("registers"), QStringLiteral("events")};
    for (const QString &key : o.keys()) {
        if (!known.contains(key))
            return fail(error, QStringLiteral("unknown key \"%1\"").arg(key));
    }

    Scenario s;
    s.name = o.value(QLatin1String("name")).toString();
    s.description = o.value(QLatin1String("description")).toString();
    double repeat = 0;
    if (!readNumber(o, QStringLiteral("soc"), 0, 100, &s.stateOfCharge, error)
        || !readNumber(o, QStringLiteral("load"), 0, 200, &s.loadCurrent, error)
        || !readNumber(o, QStringLiteral("ambient"), -40, 80, &s.ambient, error)
        || !readNumber(o, QStringLiteral("repeat"), 0, 1e7, &repeat, error))
        return false;
    s.repeatMs = std::llround(repeat * 1000.0);

    const QJsonValue regs = o.value(QLatin1String("registers"));
    if (!regs.isUndefined()) {
        if (!regs.isObject())
            return fail(error, QStringLiteral("\"registers\" must be an object of register: value"));
        const QJsonObject r = regs.toObject();
        for (auto it = r.begin(); it != r.end(); ++it) {
            bool ok = false;
            const int address = it.key().toInt(&ok);
            const double value = it.value().toDouble(-1);
            if (!ok || address < 1 || address > 131)
                return fail(error, QStringLiteral("register \"%1\" is not a number from 1 to 131").arg(it.key()));
            if (!it.value().isDouble() || value < 0 || value > 65535 || value != std::floor(value))
                return fail(error, QStringLiteral("register %1 needs a whole value from 0 to 65535").arg(address));
            s.registers.append({address, std::uint16_t(value)});
        }
    }

    const QJsonValue events = o.value(QLatin1String("events"));
    if (!events.isUndefined()) {
        if (!events.isArray())
            return fail(error, QStringLiteral("\"events\" must be an array"));
        const QJsonArray a = events.toArray();
        for (int i = 0; i < a.size(); ++i) {
            if (!a.at(i).isObject())
                return fail(error, QStringLiteral("event %1: must be an object").arg(i + 1));
            ScenarioEvent e;
            if (!readEvent(a.at(i).toObject(), i, &e, error))
                return false;
            if (s.repeatMs > 0 && e.atMs >= s.repeatMs)
                return fail(error, QStringLiteral("event %1: \"at\" lies beyond \"repeat\"").arg(i + 1));
            s.events.append(e);
        }
    }
    // Stable, so events given for the same moment keep the order in which they were written.
    std::stable_sort(s.events.begin(), s.events.end(),
                     [](const ScenarioEvent &a, const ScenarioEvent &b) { return a.atMs < b.atMs; });
    *out = s;
    return true;
}

bool findScenario(const QString &nameOrPath, Scenario *out, QString *error)
{
    for (const BuiltIn &b : builtIns) {
        if (nameOrPath == QLatin1String(b.name)) {
            if (!parseScenario(QByteArray(b.json), out, error))
                return false;
            out->name = nameOrPath;
            return true;
        }
    }
    if (!QFile::exists(nameOrPath))
        return fail(error, QStringLiteral("unknown scenario \"%1\" (built in: %2; otherwise give the path of a JSON file)")
                               .arg(nameOrPath, builtInScenarioNames().join(QStringLiteral(", "))));
    QByteArray bytes;
    if (!readSimFile(nameOrPath, &bytes, error))
        return false;
    QString why;
    if (!parseScenario(bytes, out, &why))
        return fail(error, QStringLiteral("%1: %2").arg(nameOrPath, why));
    if (out->name.isEmpty())
        out->name = nameOrPath;
    return true;
}

} // namespace qeln::sim
