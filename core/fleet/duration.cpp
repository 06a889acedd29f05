#include "duration.h"

#include <array>
#include <limits>

namespace qeln::fleet {

namespace {

struct Unit {
    QLatin1StringView name;
    qint64 ms;
};

// Largest first: the order a duration's parts must come in.
constexpr std::array<Unit, 7> units{{
    {QLatin1StringView("y"), 365LL * 24 * 3600 * 1000},
    {QLatin1StringView("w"), 7LL * 24 * 3600 * 1000},
    {QLatin1StringView("d"), 24LL * 3600 * 1000},
    {QLatin1StringView("h"), 3600LL * 1000},
    {QLatin1StringView("m"), 60LL * 1000},
    {QLatin1StringView("s"), 1000},
    {QLatin1StringView("ms"), 1},
}};

bool fail(QString &error, const QString &text, const char *reason)
{
    error = QStringLiteral("bad duration '%1': %2").arg(text, QLatin1String(reason));
    return false;
}

const char *const examples = "use e.g. 500ms, 10s, 1m, 1h or 1m30s";

} // namespace

bool parseDuration(const QString &text, std::chrono::milliseconds &out, QString &error)
{
    if (text.isEmpty())
        return fail(error, text, "empty (use e.g. 500ms, 10s, 1m, 1h or 1m30s)");
    if (text.front() == QLatin1Char('-'))
        return fail(error, text, "must not be negative");
    constexpr qint64 maxMs = std::numeric_limits<qint64>::max();
    qint64 total = 0;
    std::size_t nextUnit = 0; // units before this one are used up
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype digitsStart = i;
        qint64 number = 0;
        bool tooLong = false;
        while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            const int digit = text[i].unicode() - '0';
            if (number > (maxMs - digit) / 10)
                tooLong = true;
            else
                number = number * 10 + digit;
            ++i;
        }
        if (i == digitsStart)
            return fail(error, text, examples);
        if (i == text.size())
            return fail(error, text, "no unit (use e.g. 500ms, 10s, 1m, 1h or 1m30s)");
        const qsizetype unitStart = i;
        while (i < text.size() && text[i].isLetter())
            ++i;
        // "ms" is one unit; "m" followed by digits is minutes.
        const QStringView name = QStringView(text).mid(unitStart, i - unitStart);
        std::size_t u = nextUnit;
        while (u < units.size() && name != units[u].name)
            ++u;
        if (u == units.size())
            return fail(error, text, examples);
        if (tooLong || number > (maxMs - total) / units[u].ms)
            return fail(error, text, "too long");
        total += number * units[u].ms;
        nextUnit = u + 1;
    }
    if (total == 0)
        return fail(error, text, "must be longer than zero");
    out = std::chrono::milliseconds(total);
    return true;
}

QString formatDuration(std::chrono::milliseconds duration)
{
    qint64 rest = duration.count();
    if (rest <= 0)
        return QString::number(rest) + QLatin1String("ms");
    QString text;
    for (const Unit &unit : units) {
        if (rest >= unit.ms) {
            text += QString::number(rest / unit.ms) + unit.name;
            rest %= unit.ms;
        }
    }
    return text;
}

} // namespace qeln::fleet
