#include "yamlread.h"

#include <QFile>
#include <QStringList>

namespace qeln::fleet::yamlread {

int lineOf(const YAML::Node &node)
{
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? 1 : mark.line + 1;
}

void refuse(int line, const QString &what)
{
    throw Refusal{line, what};
}

YAML::Node loadFile(const QString &path, QByteArray *text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(1, QStringLiteral("cannot read the file: %1").arg(file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        refuse(1, QStringLiteral("cannot read the file: %1").arg(file.errorString()));
    if (text)
        *text = bytes;
    std::vector<YAML::Node> documents;
    try {
        documents = YAML::LoadAll(bytes.toStdString());
    } catch (const YAML::Exception &e) {
        refuse(e.mark.is_null() ? 1 : e.mark.line + 1,
               QStringLiteral("not valid YAML: %1").arg(QString::fromStdString(e.msg)));
    }
    if (documents.size() > 1)
        refuse(lineOf(documents[1]), QStringLiteral("a second YAML document; the file holds one"));
    return documents.empty() ? YAML::Node() : documents.front();
}

int itemLine(const YAML::Node &item, const QByteArray &text)
{
    const int line = lineOf(item);
    if (!item.IsNull())
        return line;
    const QList<QByteArray> lines = text.split('\n');
    for (int l = std::min<int>(line, int(lines.size())); l >= 1; --l) {
        const QByteArray t = lines[l - 1].trimmed();
        if (t == "-")
            return l;
        if (l == line) {
            // "- ~" or "- null" is where yaml-cpp says; else this line holds the next token.
            const QByteArray rest = t.startsWith('-') ? t.mid(1).trimmed() : QByteArray();
            if (rest == "~" || rest == "null" || rest == "Null" || rest == "NULL")
                return line;
            continue;
        }
        if (!t.isEmpty() && !t.startsWith('#'))
            break;
    }
    return line;
}

std::vector<Entry> entries(const YAML::Node &map, int line, const QString &where,
                           std::initializer_list<const char *> known)
{
    std::vector<Entry> result;
    if (map.IsNull())
        return result;
    if (!map.IsMap())
        refuse(line, QStringLiteral("%1 must be a map of keys and values").arg(where));
    QStringList knownNames;
    for (const char *k : known)
        knownNames << QLatin1String(k);
    for (const auto &kv : map) {
        const int keyLine = lineOf(kv.first);
        if (!kv.first.IsScalar())
            refuse(keyLine, QStringLiteral("%1: a key must be a plain name").arg(where));
        const QString key = QString::fromStdString(kv.first.Scalar());
        if (!knownNames.isEmpty() && !knownNames.contains(key))
            refuse(keyLine, QStringLiteral("unknown key '%1' in %2 (known: %3)")
                                .arg(key, where, knownNames.join(QLatin1String(", "))));
        for (const Entry &seen : result) {
            if (seen.key == key)
                refuse(keyLine, QStringLiteral("'%1' is given twice in %2 (first on line %3)")
                                    .arg(key, where).arg(seen.line));
        }
        result.push_back({key, kv.second, keyLine});
    }
    return result;
}

QString text(const Entry &entry)
{
    if (!entry.value.IsDefined() || entry.value.IsNull())
        refuse(entry.line, QStringLiteral("'%1' has no value").arg(entry.key));
    if (!entry.value.IsScalar())
        refuse(entry.line, QStringLiteral("'%1' must be a single value, not a list or a map").arg(entry.key));
    const std::string &bytes = entry.value.Scalar();
    const QString value = QString::fromStdString(bytes);
    if (value.toStdString() != bytes)
        refuse(entry.line, QStringLiteral("'%1' is not valid UTF-8 text").arg(entry.key));
    return value;
}

} // namespace qeln::fleet::yamlread
