#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <functional>

namespace qeln::newfile {

// Files the console writes never replace an earlier one and never appear half written: the
// content goes into a hidden temporary file in the same folder, which then takes the first
// free name with a rename that cannot replace a file that appeared in the meantime.

// Empty when dir is a folder; else why not ("the folder does not exist", "it is not a folder").
QString folderProblem(const QString &dir);

// The candidate names of a file: name itself for 1, then "-2", "-3", ... before the extension
// ("log.txt", "log-2.txt", ...).
std::function<QString(int)> numberedNames(const QString &name);

// Writes a new file in dir under the first free name of nameFor(1) .. nameFor(lastSuffix);
// write(path) fills the temporary file and returns an empty text or why it failed. Returns
// the path written, or an empty text with the reason in *reason (*failedAt: the path the
// reason is about).
QString writeUnderFreeName(const QDir &dir, const std::function<QString(int)> &nameFor, int lastSuffix,
                           const std::function<QString(const QString &path)> &write, QString *reason,
                           QString *failedAt = nullptr);

// A writer for writeUnderFreeName: these bytes, flushed to the disk; a failure is told in the
// system's words ("No space left on device").
std::function<QString(const QString &path)> bytesWriter(const QByteArray &bytes);
// The same for bytes made in pieces: `produce` hands each piece to the write it is given
// (which says whether it was written) and says whether it made them all.
using PieceWrite = std::function<bool(const QByteArray &piece)>;
std::function<QString(const QString &path)> piecesWriter(std::function<bool(const PieceWrite &write)> produce);

// A path that exists, as a file, a folder or a link (dangling ones too).
bool taken(const QString &path);

} // namespace qeln::newfile
