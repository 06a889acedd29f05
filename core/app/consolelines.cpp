#include "consolelines.h"

namespace qeln {

ConsoleLineWriter::ConsoleLineWriter(std::FILE *stream, QObject *parent)
    : QObject(parent), stream_(stream)
{
}

void ConsoleLineWriter::setStream(std::FILE *stream)
{
    stream_ = stream;
}

void ConsoleLineWriter::onLine(const QByteArray &line)
{
    if (!stream_)
        return;
    std::fwrite(line.constData(), 1, size_t(line.size()), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

} // namespace qeln
