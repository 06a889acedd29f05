#include "logcontent.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <random>

namespace qeln::sim {

namespace {

constexpr int LogCapacity = 5000;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

void appendWord(QByteArray &b, int w)
{
    b.append(char((w >> 8) & 0xFF));
    b.append(char(w & 0xFF));
}

QByteArray clockBytes(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    QByteArray b;
    for (int v : {std::clamp(d.year() - 2000, 0, 255), d.month(), d.day(), tm.hour(), tm.minute(), tm.second()})
        b.append(char(v));
    return b;
}

// Reads the fields of one record object; `where` names the record in messages.
class RecordReader {
public:
    RecordReader(const QJsonObject &o, QString where, QString *error)
        : o(o)
        , where(std::move(where))
        , error(error)
    {
    }

    bool onlyKeys(std::initializer_list<const char *> known)
    {
        for (const QString &key : o.keys()) {
            bool ok = false;
            for (const char *k : known)
                ok = ok || key == QLatin1String(k);
            if (!ok)
                return fail(error, where + QStringLiteral("unknown field \"%1\"").arg(key));
        }
        return true;
    }

    bool time(QByteArray *out)
    {
        // Date and time apart: a wall-clock time that the host's zone skips is still a
        // controller's time.
        const QJsonValue v = o.value(QLatin1String("time"));
        const QString text = v.toString();
        const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
        if (!v.isString() || text.size() != 19 || text.at(10) != u'T' || !date.isValid() || !time.isValid()
            || date.year() < 2000 || date.year() > 2255)
            return fail(error, where + QStringLiteral("\"time\" must be YYYY-MM-DDTHH:MM:SS in 2000..2255"));
        *out = clockBytes(QDateTime(date, time, Qt::UTC));
        return true;
    }

    // A whole number low..high, or `fallback` when the field is left out and may be.
    bool number(const char *key, int low, int high, int *out, bool required = false, int fallback = 0)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() && !required) {
            *out = fallback;
            return true;
        }
        const double x = v.toDouble(std::nan(""));
        if (!v.isDouble() || x != std::floor(x) || x < low || x > high)
            return fail(error, where + QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                                           .arg(QLatin1String(key)).arg(low).arg(high));
        *out = int(x);
        return true;
    }

    // An array of exactly `count` whole numbers 0..high, or zeros when left out.
    bool numbers(const char *key, int count, int high, QList<int> *out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        *out = QList<int>(count, 0);
        if (v.isUndefined())
            return true;
        const QJsonArray a = v.toArray();
        bool ok = v.isArray() && a.size() == count;
        for (qsizetype i = 0; ok && i < a.size(); ++i) {
            const double x = a.at(i).toDouble(-1);
            ok = a.at(i).isDouble() && x == std::floor(x) && x >= 0 && x <= high;
            if (ok) // converted only once in range: 1e300 has no int
                (*out)[i] = int(x);
        }
        if (!ok)
            return fail(error, where + QStringLiteral("\"%1\" must be %2 whole numbers from 0 to %3")
                                           .arg(QLatin1String(key)).arg(count).arg(high));
        return true;
    }

    bool occurred(int *out)
    {
        const QJsonValue v = o.value(QLatin1String("occurred"));
        if (v.isBool()) {
            *out = v.toBool() ? 1 : 0;
            return true;
        }
        // A number gives the byte as it stands, for the odd values a test may want.
        return number("occurred", 0, 255, out);
    }

private:
    QJsonObject o;
    QString where;
    QString *error;
};

bool readRecord(const QJsonValue &value, bool alarm, const QString &where, QByteArray *out, QString *error)
{
    const int size = alarm ? AlarmRecordSize : EventRecordSize;
    if (value.isString()) {
        const QByteArray text = value.toString().toLatin1();
        const QByteArray bytes = QByteArray::fromHex(text);
        bool hex = text.size() == 2 * size;
        for (char c : text)
            hex = hex && std::isxdigit(static_cast<unsigned char>(c));
        if (!hex || bytes.size() != size)
            return fail(error, where + QStringLiteral("a record given as text must be %1 hex digits").arg(2 * size));
        *out = bytes;
        return true;
    }
    if (!value.isObject())
        return fail(error, where + QStringLiteral("a record is an object or a text of hex digits"));
    RecordReader r(value.toObject(), where, error);
    QByteArray record;
    if (alarm) {
        if (!r.onlyKeys({"time", "acVoltage", "acCurrent", "dcVoltage", "dcCurrent", "batteryCurrent",
                         "rackTemperature", "words", "bytes", "detail", "code", "occurred"})
            || !r.time(&record))
            return false;
        int w = 0;
        for (const char *key : {"acVoltage", "acCurrent", "dcVoltage", "dcCurrent"}) {
            if (!r.number(key, 0, 65535, &w))
                return false;
            appendWord(record, w);
        }
        for (const char *key : {"batteryCurrent", "rackTemperature"}) {
            if (!r.number(key, -32768, 65535, &w))
                return false;
            appendWord(record, w & 0xFFFF);
        }
        QList<int> words, bytes;
        if (!r.numbers("words", 5, 65535, &words) || !r.numbers("bytes", 3, 255, &bytes))
            return false;
        for (int v : words)
            appendWord(record, v);
        for (int v : bytes)
            record.append(char(v));
        int detail = 0, code = 0, occurred = 0;
        if (!r.number("detail", 0, 255, &detail) || !r.number("code", 0, 255, &code, true) || !r.occurred(&occurred))
            return false;
        record.append(char(detail)).append(char(code)).append(char(occurred));
    } else {
        int code = 0, v = 0;
        if (!r.onlyKeys({"time", "code", "value"}) || !r.time(&record) || !r.number("code", 0, 65535, &code, true)
            || !r.number("value", -32768, 65535, &v))
            return false;
        appendWord(record, code);
        appendWord(record, v & 0xFFFF);
    }
    Q_ASSERT(record.size() == size);
    *out = record;
    return true;
}

} // namespace

bool parseLogContent(const QByteArray &json, LogContent *out, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return fail(error, QStringLiteral("not JSON: %1 at %2").arg(parseError.errorString()).arg(parseError.offset));
    if (!doc.isObject())
        return fail(error, QStringLiteral("a log file is a JSON object with \"alarm\" and/or \"event\""));
    const QJsonObject top = doc.object();
    LogContent content;
    for (const QString &key : top.keys()) {
        const bool alarm = key == QLatin1String("alarm");
        if (!alarm && key != QLatin1String("event"))
            return fail(error, QStringLiteral("unknown key \"%1\" (a log file has \"alarm\" and \"event\")").arg(key));
        const QJsonValue list = top.value(key);
        if (!list.isArray() || list.toArray().size() > LogCapacity)
            return fail(error, QStringLiteral("\"%1\" must be a list of at most %2 records").arg(key).arg(LogCapacity));
        QList<QByteArray> &records = alarm ? content.alarm : content.event;
        (alarm ? content.hasAlarm : content.hasEvent) = true;
        const QJsonArray array = list.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            QByteArray record;
            const QString where = QStringLiteral("%1 record %2: ").arg(key).arg(i);
            if (!readRecord(array.at(i), alarm, where, &record, error))
                return false;
            records.append(record);
        }
    }
    *out = content;
    return true;
}

bool readLogFile(const QString &path, LogContent *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QString why;
    if (!parseLogContent(file.readAll(), out, &why))
        return fail(error, QStringLiteral("%1: %2").arg(path, why));
    return true;
}

QList<QByteArray> sampleEventLog(int count, const QDateTime &before, std::uint32_t seed)
{
    count = std::clamp(count, 0, LogCapacity);
    // std::mt19937's sequence is fixed by the standard; only plain modulo is taken of it, so
    // a seed gives the same records with any library.
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) { return low + int(rng() % std::uint32_t(high - low + 1)); };
    // The events an operator's day brings, with values of the kind each setting takes.
    struct Kind {
        int code;
        int low;
        int high;
    };
    static const Kind kinds[] = {
        {0, 0, 0},          {1, 2020, 2030},    {2, 2150, 2250},   {3, 40, 90},        {4, 5350, 5450},
        {5, 150, 250},      {6, 20, 60},        {7, 20, 60},       {9, 165, 180},      {10, 260, 275},
        {11, 440, 470},     {12, 560, 580},     {13, 420, 450},    {14, 100, 110},     {15, 450, 800},
        {16, 535, 545},     {17, 0, 50},        {18, 1, 3},        {19, 0, 1},         {20, 0, 1},
        {21, 0, 1},         {23, 0, 1},         {24, 0, 1},        {25, 0, 0xFFFF},    {26, 0, 0xFFFF},
        {29, 0, 12},        {30, 1, 12},        {31, 1, 28},       {32, 0, 23},        {33, 440, 480},
        {34, 10, 60},       {35, 1, 3},         {37, 0, 0xFFFF},   {42, 0, 0xFFFF},    {50, 0, 4},
        {51, 1, 2},         {54, 192 * 256 + 168, 192 * 256 + 168}, {55, 50 * 256 + 1, 50 * 256 + 254},
        {57, 20, 50},       {58, 560, 580},     {59, 420, 440},    {60, 16, 30},       {70, 0, 10},
    };
    QList<QByteArray> records;
    records.reserve(count);
    QDateTime t = before.addSecs(-qint64(count) * 1800 - 600);
    for (int i = 0; i < count; ++i) {
        t = t.addSecs(pick(300, 1700)); // at most the 1800 s a record has: all before `before`
        const Kind &k = kinds[rng() % std::size(kinds)];
        int value = pick(k.low, k.high);
        if (k.code == 17 && value < 20)
            value = 0; // charge limit off
        if (k.code == 70 && value > 5)
            value = 255; // the counter's reset
        QByteArray r = clockBytes(t);
        appendWord(r, k.code);
        appendWord(r, value);
        records.append(r);
    }
    return records;
}

} // namespace qeln::sim
