// Which character devices this test program opens, whatever code opens them: open() and
// open64() are interposed for the whole process, so a port that is listed, probed or
// connected shows up here even when the call comes from inside Qt. The memory devices
// (/dev/null, /dev/urandom, ...) are left out. Paths handed to refuse() are not opened at
// all (the attempt is recorded all the same): a machine's own serial lines stay untouched even
// when a fault tries to open them.
//
// Include in exactly one source file of a test program.

#pragma once

#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

namespace openrecorder {

struct Log {
    std::mutex mutex;
    std::vector<std::string> opened;
    std::set<std::string> refused;
};

inline Log &log()
{
    static Log instance;
    return instance;
}

// The device paths opened (or refused) since the last reset(), in order, repeats included.
inline QStringList opened()
{
    std::lock_guard lock(log().mutex);
    QStringList paths;
    for (const std::string &path : log().opened)
        paths.append(QString::fromLocal8Bit(path.c_str()));
    return paths;
}

inline void reset()
{
    std::lock_guard lock(log().mutex);
    log().opened.clear();
}

inline void refuse(const QStringList &paths)
{
    std::lock_guard lock(log().mutex);
    for (const QString &path : paths)
        log().refused.insert(path.toLocal8Bit().toStdString());
}

// Records a device path; true when it is to be refused.
inline bool record(const char *path)
{
    constexpr unsigned MemoryDevices = 1;
    struct stat info;
    if (!path || std::strncmp(path, "/dev/", 5) != 0 || ::stat(path, &info) != 0
        || !S_ISCHR(info.st_mode) || major(info.st_rdev) == MemoryDevices)
        return false;
    std::lock_guard lock(log().mutex);
    log().opened.emplace_back(path);
    return log().refused.count(path) != 0;
}

inline mode_t modeArgument(int flags, va_list args)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
}

using OpenFunction = int (*)(const char *, int, ...);

inline int forward(const char *symbol, const char *path, int flags, mode_t mode)
{
    if (record(path)) {
        errno = EACCES;
        return -1;
    }
    const auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, symbol));
    return real(path, flags, mode);
}

} // namespace openrecorder

// The C library's names, under names of our own so that no declaration of <fcntl.h> clashes.
extern "C" int openrecorderOpen(const char *path, int flags, ...) __asm__("open");
extern "C" int openrecorderOpen64(const char *path, int flags, ...) __asm__("open64");

extern "C" int openrecorderOpen(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = openrecorder::modeArgument(flags, args);
    va_end(args);
    return openrecorder::forward("open", path, flags, mode);
}

extern "C" int openrecorderOpen64(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = openrecorder::modeArgument(flags, args);
    va_end(args);
    return openrecorder::forward("open64", path, flags, mode);
}
