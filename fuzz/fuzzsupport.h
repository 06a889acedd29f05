#pragma once

// What the harnesses share: the invariant check, serial frames built around fuzzed bytes, and
// a file in memory for the readers that take a path.

#include <QByteArray>
#include <QString>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Upper-case hexadecimal pairs of the bytes.
inline QByteArray hexPairs(QByteArrayView bytes)
{
    return QByteArray(bytes.data(), bytes.size()).toHex().toUpper();
}

// ":" + body + LRC, the way the engine's CheckFrame hands a verified frame on (no CR LF).
// The body is hexadecimal text; the LRC is the two's complement of its pairs' sum.
inline QByteArray serialText(const QByteArray &body)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i + 1 < body.size(); i += 2)
        sum += body.mid(i, 2).toUInt(nullptr, 16);
    const unsigned lrc = (0x100 - (sum & 0xFF)) & 0xFF;
    return ":" + body + QByteArray::number(lrc, 16).rightJustified(2, '0').toUpper();
}

// A file that lives in memory: each input is written over the last, and the readers open it
// by its /proc path as they would open a file on disk.
class MemoryFile {
public:
    MemoryFile()
    {
        fd_ = memfd_create("qeln-fuzz", 0);
        if (fd_ < 0)
            fail("memfd_create");
        path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    const QString &write(const std::uint8_t *data, size_t size)
    {
        if (::ftruncate(fd_, 0) != 0)
            fail("ftruncate");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
            if (n <= 0)
                fail("pwrite");
            done += size_t(n);
        }
        return path_;
    }

private:
    int fd_ = -1;
    QString path_;
};

} // namespace fuzzsupport
