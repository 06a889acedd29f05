#include "inputfile.h"

#include <QFile>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace qeln::inputfile {

QString sizeText(qint64 bytes)
{
    constexpr qint64 mb = 1024 * 1024;
    if (bytes >= mb && bytes % mb == 0)
        return QStringLiteral("%1 MB").arg(bytes / mb);
    return QStringLiteral("%1 bytes").arg(bytes);
}

bool read(const QString &path, qint64 limit, QByteArray &out, QString &error)
{
    out.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read '%1': %2").arg(path, file.errorString());
        return false;
    }
    // In pieces: a device that reports no size is read until the limit has passed, not first
    // into one buffer of unknown size.
    constexpr qint64 piece = 64 * 1024;
    while (out.size() <= limit) {
        const QByteArray part = file.read(std::min(piece, limit + 1 - out.size()));
        if (part.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                error = QStringLiteral("cannot read '%1': %2").arg(path, file.errorString());
                return false;
            }
            return true;
        }
        out += part;
    }
    // The whole size where the system knows it; else only that it is larger.
    const qint64 size = file.size();
    error = size > limit ? QStringLiteral("'%1' is %2 bytes; a file over %3 is not read")
                               .arg(path)
                               .arg(size)
                               .arg(sizeText(limit))
                         : QStringLiteral("'%1' goes on past %2; a file over %2 is not read")
                               .arg(path, sizeText(limit));
    out.clear();
    return false;
}

namespace {

// A reader of valid JSON that checks the keys of every object; values are skipped.
class KeyScan {
public:
    explicit KeyScan(const QByteArray &text) : s(text) {}

    QString run()
    {
        value(QString());
        return found;
    }

private:
    void blanks()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }

    // A string at s[i] == '"', its escapes decoded, so "a" and "\u0061" are the same key.
    QString string()
    {
        QByteArray raw;
        QString out;
        ++i;
        const auto flush = [&] {
            out += QString::fromUtf8(raw);
            raw.clear();
        };
        while (i < s.size() && s[i] != '"') {
            if (s[i] != '\\') {
                raw += s[i++];
                continue;
            }
            flush();
            const char c = i + 1 < s.size() ? s[i + 1] : '\0';
            i += 2;
            switch (c) {
            case 'b': out += QLatin1Char('\b'); break;
            case 'f': out += QLatin1Char('\f'); break;
            case 'n': out += QLatin1Char('\n'); break;
            case 'r': out += QLatin1Char('\r'); break;
            case 't': out += QLatin1Char('\t'); break;
            case 'u': {
                bool ok = false;
                const ushort unit = s.mid(i, 4).toUShort(&ok, 16);
                out += QChar(unit);
                i += 4;
                break;
            }
            default: out += QLatin1Char(c); break; // '"', '\\', '/'
            }
        }
        flush();
        ++i;
        return out;
    }

    void value(const QString &where)
    {
        blanks();
        // Text that is no JSON ends the scan rather than the stack (a JSON reader refuses
        // deeper nesting anyway).
        if (i >= s.size() || depth >= MaxDepth)
            return;
        ++depth;
        if (s[i] == '{') {
            object(where);
        } else if (s[i] == '[') {
            ++i;
            blanks();
            while (found.isEmpty() && i < s.size() && s[i] != ']') {
                const qsizetype before = i;
                value(where);
                if (i == before)
                    ++i; // no value here: not JSON, but the scan goes on
                blanks();
                if (i < s.size() && s[i] == ',')
                    ++i;
                blanks();
            }
            ++i;
        } else if (s[i] == '"') {
            string();
        } else {
            while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' && s[i] != ' ' && s[i] != '\n'
                   && s[i] != '\r' && s[i] != '\t')
                ++i;
        }
        --depth;
    }

    void object(const QString &where)
    {
        QSet<QString> keys;
        ++i;
        blanks();
        while (found.isEmpty() && i < s.size() && s[i] == '"') {
            const QString key = string();
            if (keys.contains(key)) {
                found = where.isEmpty() ? QStringLiteral("'%1'").arg(key)
                                        : QStringLiteral("'%1' in '%2'").arg(key, where);
                return;
            }
            keys.insert(key);
            blanks();
            ++i; // ':'
            value(where.isEmpty() ? key : where);
            blanks();
            if (i < s.size() && s[i] == ',')
                ++i;
            blanks();
        }
        ++i; // '}'
    }

    static constexpr int MaxDepth = 1100;
    const QByteArray &s;
    qsizetype i = 0;
    int depth = 0;
    QString found;
};

} // namespace

QString duplicateKey(const QByteArray &json)
{
    return KeyScan(json).run();
}

} // namespace qeln::inputfile
