#include "newfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qeln::newfile {

namespace {

constexpr int MaxTemporaryAttempts = 100;

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Creates an empty, unused file in dir. Its name is hidden and ends in ".tmp", so a file
// left by a crash is never taken for a finished one.
QString createTemporary(const QDir &dir, const QString &finalName, QString *reason)
{
    for (int attempt = 0; attempt < MaxTemporaryAttempts; ++attempt) {
        const QString tag = QString::number(QRandomGenerator::global()->generate(), 36);
        const QString path = dir.filePath(QLatin1Char('.') + finalName + QLatin1Char('.') + tag + QStringLiteral(".tmp"));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            *reason = systemReason(errno);
            return QString();
        }
    }
    *reason = QStringLiteral("no free temporary name");
    return QString();
}

// Removes the temporary file unless it was moved to its final name.
class TemporaryGuard {
public:
    explicit TemporaryGuard(QString path) : path_(std::move(path)) {}
    ~TemporaryGuard()
    {
        if (!path_.isEmpty())
            ::unlink(QFile::encodeName(path_).constData());
    }
    TemporaryGuard(const TemporaryGuard &) = delete;
    TemporaryGuard &operator=(const TemporaryGuard &) = delete;
    void release() { path_.clear(); }

private:
    QString path_;
};

// Gives `from` the name `to` unless `to` exists; a file that appeared there in the meantime
// is never replaced. Returns 0, or the errno (EEXIST: the name is taken).
int moveNoReplace(const QString &from, const QString &to)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
#endif
    // A file system without the atomic rename: a hard link fails as well when the name is
    // taken.
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // Neither (some removable-media file systems): look, then rename.
    if (taken(to))
        return EEXIST;
    return ::rename(src.constData(), dst.constData()) == 0 ? 0 : errno;
}

} // namespace

bool taken(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 || errno != ENOENT;
}

QString folderProblem(const QString &dir)
{
    const QFileInfo info(dir);
    if (!info.exists())
        return QStringLiteral("the folder does not exist");
    if (!info.isDir())
        return QStringLiteral("it is not a folder");
    return QString();
}

std::function<QString(int)> numberedNames(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    return [name, stem, extension](int suffix) {
        return suffix <= 1 ? name : stem + QLatin1Char('-') + QString::number(suffix) + extension;
    };
}

QString writeUnderFreeName(const QDir &dir, const std::function<QString(int)> &nameFor, int lastSuffix,
                           const std::function<QString(const QString &path)> &write, QString *reason,
                           QString *failedAt)
{
    const auto fail = [reason, failedAt](const QString &where, const QString &why) {
        if (reason)
            *reason = why;
        if (failedAt)
            *failedAt = where;
        return QString();
    };

    const QString firstName = nameFor(1);
    QString why;
    const QString temporary = createTemporary(dir, firstName, &why);
    if (temporary.isEmpty())
        return fail(dir.path(), QStringLiteral("no file can be created in that folder (%1)").arg(why));
    TemporaryGuard guard(temporary);

    why = write(temporary);
    if (!why.isEmpty())
        return fail(dir.filePath(firstName), why);

    for (int suffix = 1; suffix <= lastSuffix; ++suffix) {
        const QString path = dir.filePath(nameFor(suffix));
        if (taken(path))
            continue;
        const int err = moveNoReplace(temporary, path);
        if (err == 0) {
            guard.release();
            return path;
        }
        if (err != EEXIST)
            return fail(path, systemReason(err));
    }
    return fail(dir.filePath(firstName), lastSuffix > 1 ? QStringLiteral("the name and every numbered variant of it are taken")
                                                        : QStringLiteral("a file of that name exists"));
}

std::function<QString(const QString &path)> bytesWriter(const QByteArray &bytes)
{
    return piecesWriter([bytes](const PieceWrite &write) { return write(bytes); });
}

std::function<QString(const QString &path)> piecesWriter(std::function<bool(const PieceWrite &write)> produce)
{
    // Plain system calls rather than QFile: a full disk or a quota shows only at the write or
    // the flush, and QFile then has no words for it ("Unknown error").
    return [produce = std::move(produce)](const QString &path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            return systemReason(errno);
        int failure = 0;
        const PieceWrite write = [fd, &failure](const QByteArray &bytes) {
            qsizetype done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    failure = n < 0 ? errno : ENOSPC;
                    return false;
                }
                done += n;
            }
            return true;
        };
        const bool made = produce(write);
        if (failure == 0 && !made)
            failure = EIO;
        if (failure == 0 && ::fdatasync(fd) != 0)
            failure = errno;
        if (::close(fd) != 0 && failure == 0)
            failure = errno;
        return failure ? systemReason(failure) : QString();
    };
}

} // namespace qeln::newfile
