#pragma once

// Reading the fleet's YAML files: refusals that carry a 1-based line, and the checks every
// map of those files shares. Internal to the fleet library (yaml-cpp is not part of its API).

#include "fleet/readresult.h"

#include <QByteArray>
#include <QString>

#include <yaml-cpp/yaml.h>

#include <initializer_list>

namespace qeln::fleet::yamlread {

// Thrown by the readers; readFile's callers turn it into "FILE:LINE: what".
struct Refusal {
    int line = 1;
    QString what;
};

// The 1-based line of a node (1 when the node has no position, as a missing value may not).
int lineOf(const YAML::Node &node);

[[noreturn]] void refuse(int line, const QString &what);

// The file's one document (a null node when it is empty). Throws a Refusal for an unreadable
// file, a syntax error, or a second document.
// `text`, when given, receives the file's bytes.
YAML::Node loadFile(const QString &path, QByteArray *text = nullptr);

// Reads the file at `path` with `read` (given its one document and its bytes) into a result:
// the value, or a refusal or a yaml-cpp failure as "FILE:LINE: what".
template <typename T, typename Read>
ReadResult<T> readFile(const QString &path, Read read)
{
    ReadResult<T> result;
    try {
        QByteArray text;
        const YAML::Node root = loadFile(path, &text);
        result.value = read(root, text);
    } catch (const Refusal &r) {
        result.error = QStringLiteral("%1:%2: %3").arg(path).arg(r.line).arg(r.what);
    } catch (const YAML::Exception &e) {
        // A node conversion yaml-cpp refuses by itself; it still knows where.
        result.error = QStringLiteral("%1:%2: %3")
                           .arg(path)
                           .arg(e.mark.is_null() ? 1 : e.mark.line + 1)
                           .arg(QString::fromStdString(e.msg));
    }
    return result;
}

// The 1-based line of a list item. yaml-cpp places an item left empty ("-" and nothing) at
// the next token, which may be lines later: such an item is found by its "-" in `text`.
int itemLine(const YAML::Node &item, const QByteArray &text);

// A map's entry with the line of its key.
struct Entry {
    QString key;
    YAML::Node value;
    int line = 1;
};

// The entries of `map` (a null node gives none). Refuses a node that is not a map, a key that
// is not in `known` (an empty list takes any key), and a key given twice. `where` names the map in messages ("controller entry").
std::vector<Entry> entries(const YAML::Node &map, int line, const QString &where,
                           std::initializer_list<const char *> known);

// A single text value: refuses a missing value, a list or a map, and text that is not UTF-8.
QString text(const Entry &entry);

} // namespace qeln::fleet::yamlread
