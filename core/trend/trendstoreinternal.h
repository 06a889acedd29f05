#pragma once

// What the files of TrendStore share: trendstore.cpp (opening, the format, the encodings, the
// time helpers), trendwrite.cpp (recording, packing, pruning, absorbing) and trendread.cpp
// (reading). Only those files include this header.

#include "trend/trendstore.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

class QLockFile;

namespace qeln::trend::detail {

inline qint64 floorTo(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (t % step < 0 ? q - 1 : q) * step;
}

// Times the store deals in: from the epoch to far beyond any recording, so that widening a
// span by a minute or aligning it to a step never overflows.
inline constexpr qint64 LatestMs = qint64(1) << 52;
inline void clampSpan(qint64 &from, qint64 &to)
{
    from = std::clamp<qint64>(from, 0, LatestMs);
    to = std::clamp<qint64>(to, 0, LatestMs);
}

// Values written per status: the channels known when it was recorded.
inline int storedChannels(const QByteArray &bytes)
{
    return int(bytes.size() / qsizetype(sizeof(double)));
}

// Who holds a recording's lock, for messages: "qeln-console (process 4242 on plant-pc)".
QString lockHolder(const QLockFile &lock);

} // namespace qeln::trend::detail
