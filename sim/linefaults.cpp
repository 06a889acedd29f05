#include "linefaults.h"

#include "simframing.h"

#include <QObject>
#include <QTimer>

#include <algorithm>

namespace qeln::sim {

// ---- Faults -----------------------------------------------------------------------------

Faults::Faults(const FaultSettings &settings)
    : config(settings)
    , rng(settings.seed)
{
}

bool Faults::chance(double rate)
{
    if (rate <= 0)
        return false;
    if (rate >= 1)
        return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rate;
}

bool Faults::dropNow()
{
    return chance(config.dropRate);
}

bool Faults::corruptNow()
{
    return chance(config.corruptRate);
}

std::uint8_t Faults::lrcOffset()
{
    return std::uint8_t(std::uniform_int_distribution<int>(1, 255)(rng));
}

unsigned parseSerialSpoils(QStringView list)
{
    unsigned spoils = 0;
    for (QStringView name : list.split(u',')) {
        if (name == u"lrc")
            spoils |= unsigned(SerialSpoil::Lrc);
        else if (name == u"hex")
            spoils |= unsigned(SerialSpoil::NotHex);
        else if (name == u"short")
            spoils |= unsigned(SerialSpoil::Short);
        else
            return 0;
    }
    return spoils;
}

SerialSpoil Faults::spoilSerial(QByteArray &frame)
{
    // ":" unit function ... LRC(2) CR LF
    const qsizetype lrcAt = frame.size() - 4;
    QList<SerialSpoil> ways;
    for (const SerialSpoil way : {SerialSpoil::Lrc, SerialSpoil::NotHex, SerialSpoil::Short}) {
        // A short answer keeps at least its unit and function.
        if ((config.serialSpoils & unsigned(way)) && !(way == SerialSpoil::Short && lrcAt < 7)
            && !(way == SerialSpoil::NotHex && lrcAt < 6))
            ways.append(way);
    }
    if (ways.isEmpty() || lrcAt < 5)
        ways = {SerialSpoil::Lrc};
    const SerialSpoil way = ways.size() == 1 ? ways.first()
                                             : ways.at(std::uniform_int_distribution<qsizetype>(0, ways.size() - 1)(rng));
    const auto lrcOf = [&frame](qsizetype end) {
        unsigned sum = 0;
        for (qsizetype i = 1; i + 1 < end; i += 2)
            sum += frame.mid(i, 2).toUInt(nullptr, 16);
        return std::uint8_t(0x100 - (sum & 0xFF));
    };
    const auto setLrc = [&frame](qsizetype at, std::uint8_t value) {
        static const char digits[] = "0123456789ABCDEF";
        frame[at] = digits[value >> 4];
        frame[at + 1] = digits[value & 0xF];
    };
    switch (way) {
    case SerialSpoil::Lrc:
        setLrc(lrcAt, std::uint8_t(lrcOf(lrcAt) + lrcOffset()));
        break;
    case SerialSpoil::NotHex:
        // A digit after the unit and function: the frame keeps its size.
        frame[std::uniform_int_distribution<qsizetype>(5, lrcAt - 1)(rng)] = 'G';
        break;
    case SerialSpoil::Short:
        frame.remove(lrcAt - 2, 2);
        setLrc(lrcAt - 2, lrcOf(lrcAt - 2));
        break;
    }
    return way;
}

namespace {
struct SpoilName {
    TcpSpoil spoil;
    const char *name;
};
constexpr SpoilName spoilNames[] = {
    {TcpSpoil::Transaction, "tid"}, {TcpSpoil::Length, "length"}, {TcpSpoil::Function, "function"},
    {TcpSpoil::Cut, "cut"},         {TcpSpoil::Exception, "exception"},
};
} // namespace

unsigned parseTcpSpoils(QStringView list)
{
    unsigned spoils = 0;
    for (QStringView name : list.split(u',')) {
        unsigned one = 0;
        for (const SpoilName &s : spoilNames) {
            if (name == QLatin1String(s.name))
                one = unsigned(s.spoil);
        }
        if (one == 0)
            return 0;
        spoils |= one;
    }
    return spoils;
}

const char *tcpSpoilName(TcpSpoil spoil)
{
    for (const SpoilName &s : spoilNames) {
        if (s.spoil == spoil)
            return s.name;
    }
    return "?";
}

TcpSpoil Faults::spoilTcp(QByteArray &adu, std::uint8_t requestFunction)
{
    // An answer is at least its six header bytes; the header alone has no function code.
    if (adu.size() < mbap::HeaderSize)
        return TcpSpoil::Cut;
    QList<TcpSpoil> ways;
    for (const SpoilName &s : spoilNames) {
        if ((config.tcpSpoils & unsigned(s.spoil)) && !(s.spoil == TcpSpoil::Function && adu.size() <= 7))
            ways.append(s.spoil);
    }
    if (ways.isEmpty())
        ways.append(TcpSpoil::Transaction);
    const TcpSpoil way = ways.at(std::uniform_int_distribution<qsizetype>(0, ways.size() - 1)(rng));
    auto word = [&adu](int at) { return std::uint8_t(adu[at]) << 8 | std::uint8_t(adu[at + 1]); };
    auto setWord = [&adu](int at, int value) {
        adu[at] = char((value >> 8) & 0xFF);
        adu[at + 1] = char(value & 0xFF);
    };
    switch (way) {
    case TcpSpoil::Transaction:
        setWord(0, word(0) ^ std::uniform_int_distribution<int>(1, 0xFFFF)(rng));
        break;
    case TcpSpoil::Length: {
        // Another length that could still be an answer's: 0..MaxLength, never the true one.
        const int length = word(4);
        int wrong = std::uniform_int_distribution<int>(0, mbap::MaxLength - (length <= mbap::MaxLength ? 1 : 0))(rng);
        if (length <= mbap::MaxLength && wrong >= length)
            ++wrong;
        setWord(4, wrong);
        break;
    }
    case TcpSpoil::Function:
        adu[7] = char(std::uint8_t(adu[7]) ^ std::uniform_int_distribution<int>(1, 0x7F)(rng));
        break;
    case TcpSpoil::Cut:
        adu.truncate(std::uniform_int_distribution<qsizetype>(1, adu.size() - 1)(rng));
        break;
    case TcpSpoil::Exception: {
        const std::uint8_t unit = adu.size() > 6 ? std::uint8_t(adu[6]) : 1;
        adu = adu.left(4);
        adu.append(char(0)).append(char(3)).append(char(unit));
        adu.append(char(requestFunction | 0x80)).append(char(0x04));
        break;
    }
    }
    return way;
}

// ---- DelayLine --------------------------------------------------------------------------

DelayLine::DelayLine(Sink sink, QObject *owner)
    : sink(std::move(sink))
    , timer(new QTimer(owner))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [this] { release(); });
    clock.start();
}

DelayLine::~DelayLine()
{
    delete timer;
}

void DelayLine::push(const QByteArray &bytes, int delayMs)
{
    if (delayMs <= 0 && queue.isEmpty()) {
        sink(bytes);
        return;
    }
    if (queuedBytes + bytes.size() > MaxUnsentBytes)
        return;
    const qint64 due = clock.elapsed() + std::max(0, delayMs);
    // After every block due no later than this one.
    qsizetype at = queue.size();
    while (at > 0 && queue.at(at - 1).due > due)
        --at;
    queue.insert(at, {due, bytes});
    queuedBytes += bytes.size();
    release();
}

void DelayLine::release()
{
    const qint64 now = clock.elapsed();
    while (!queue.isEmpty() && queue.first().due <= now) {
        Pending p = queue.takeFirst();
        queuedBytes -= p.bytes.size();
        sink(p.bytes);
    }
    if (!queue.isEmpty())
        timer->start(int(queue.first().due - now));
    else
        timer->stop();
}

// ---- Pacer ------------------------------------------------------------------------------

Pacer::Pacer(int baud, Sink sink, QObject *owner)
    : byteNs(10'000'000'000LL / baud)
    , sink(std::move(sink))
    , timer(new QTimer(owner))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [this] { pump(); });
    clock.start();
}

Pacer::~Pacer()
{
    delete timer;
}

void Pacer::push(const QByteArray &bytes)
{
    if (queue.size() + bytes.size() > MaxUnsentBytes)
        return;
    // An idle line starts the next byte now, not in the past.
    if (queue.isEmpty())
        lineFreeAtNs = std::max(lineFreeAtNs, clock.nsecsElapsed());
    queue.append(bytes);
    if (!timer->isActive())
        pump();
}

void Pacer::pump()
{
    const qint64 now = clock.nsecsElapsed();
    // Every byte whose start bit is due goes now, also those a late timer held back: the
    // line keeps its rate on average whatever the timer's granularity.
    qint64 start = lineFreeAtNs;
    qsizetype ready = 0;
    while (ready < queue.size() && start <= now) {
        ++ready;
        start += byteNs;
    }
    if (ready > 0) {
        lineFreeAtNs = start;
        const QByteArray out = queue.left(ready);
        queue.remove(0, ready);
        sink(out);
    }
    if (!queue.isEmpty()) {
        const qint64 waitNs = lineFreeAtNs - clock.nsecsElapsed();
        timer->start(int(std::max<qint64>(0, (waitNs + 999'999) / 1'000'000)));
    }
}

} // namespace qeln::sim
