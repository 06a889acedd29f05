#pragma once

#include <QByteArray>
#include <QString>

namespace qeln::inputfile {

// Files the programs read from the operator (settings and IP documents): each has a size
// limit, and a JSON document is refused when an object names a key twice.

inline constexpr qint64 DocumentLimit = 1024 * 1024; // settings and IP files

// Reads at most limit + 1 bytes of `path`, so a device or a pipe that never ends (/dev/zero,
// whose size reads 0) is refused as soon as it has passed the limit. False with a message
// that names the file and, for a file too large, its size ("over 1 MB: 1048577 bytes").
bool read(const QString &path, qint64 limit, QByteArray &out, QString &error);

// "1 MB", "16 MB", "512 bytes".
QString sizeText(qint64 bytes);

// The first key that an object of the JSON text names twice, with its place: "'ip'" for the
// top level, "'value' in 'output_voltage'" inside a member. Empty when there is none. The
// text must already have parsed as JSON (a JSON reader keeps one of the two silently).
QString duplicateKey(const QByteArray &json);

} // namespace qeln::inputfile
