// The trend chart's drawing and colours.

#include "trendchart.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qeln {

namespace {

QPolygonF triangle(QPointF at, double half, bool up)
{
    const double s = up ? -1 : 1;
    return QPolygonF({at + QPointF(0, s * half), at + QPointF(-half, -s * half * 0.8), at + QPointF(half, -s * half * 0.8)});
}

QPolygonF diamond(QPointF at, double half)
{
    return QPolygonF({at + QPointF(0, -half), at + QPointF(half, 0), at + QPointF(0, half), at + QPointF(-half, 0)});
}

} // namespace

QColor TrendChart::channelColour(int channel)
{
    // The plant's main channels from the Okabe–Ito set (without its black and yellow) and
    // Paul Tol's muted set, the cells from the rest of the latter; never the markers' wine
    // and black.
    static const QColor main[] = {
        QColor(0x0072B2), // AC voltage: blue
        QColor(0x56B4E9), // AC current: sky blue
        QColor(0x009E73), // DC voltage: bluish green
        QColor(0x332288), // load current: indigo
        QColor(0x888888), // set voltage: grey
        QColor(0xE69F00), // rectifier temperature: orange
        QColor(0xAA4499), // battery temperature: purple
        QColor(0xD55E00), // battery current: vermilion
        QColor(0x999933), // battery voltage: olive
        QColor(0xCC79A7), // state of charge: reddish purple
    };
    static const QColor others[] = {QColor(0x117733), QColor(0x6699CC), QColor(0xCC6677), QColor(0x44AA99),
                                    QColor(0xB8860B), QColor(0x88CCEE), QColor(0x997700), QColor(0x0077BB)};
    if (channel == trend::ClockOffsetChannel)
        return QColor(0x5A3E00); // dark brown
    if (channel >= 0 && channel < int(std::size(main)))
        return main[channel];
    return others[std::max(channel, 0) % int(std::size(others))];
}

QColor TrendChart::alarmColour()
{
    return QColor(0x882255);
}

QColor TrendChart::writeColour()
{
    return QColor(0x111111);
}

void TrendChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm = fontMetrics();

    // The legend.
    for (const LegendEntry &e : legend_) {
        p.setPen(QPen(e.colour, 3));
        const int mid = e.rect.center().y();
        p.drawLine(e.rect.left(), mid, e.rect.left() + 16, mid);
        p.setPen(palette().color(QPalette::Text));
        p.drawText(e.rect.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, e.name);
    }

    drawAxes(p);
    // The frame under the lines: a value at the bottom of the range (0 V in a failure) stays
    // visible on it.
    p.setPen(QColor(0x808080));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot_);
    p.save();
    p.setClipRect(plot_.adjusted(0, -1, 2, 3));
    p.setRenderHint(QPainter::Antialiasing, true);
    drawSeries(p);
    drawMarkers(p);
    drawCursors(p);
    p.restore();

    if (!emptyNote_.isEmpty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(plot_, Qt::AlignCenter | Qt::TextWordWrap, emptyNote_);
    }

    // The dragged rectangle (a flat one spans the plot's height: the time only).
    if (dragging_ && pressed_ == Qt::LeftButton) {
        QRect band = QRect(pressAt_, dragTo_).normalized();
        if (band.height() < FlatDrag)
            band = QRect(band.left(), plot_.top(), band.width(), plot_.height());
        band = band.intersected(plot_);
        p.setPen(QPen(palette().color(QPalette::Highlight), 1));
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlpha(50);
        p.setBrush(fill);
        p.drawRect(band);
    }

    // The clock note, under the time axis at its right end.
    if (!clockNote_.isEmpty()) {
        p.setPen(palette().color(QPalette::Text));
        const QRect note(plot_.left(), height() - fm.height() - 3, plot_.width(), fm.height());
        p.drawText(note, Qt::AlignRight | Qt::AlignVCenter, fm.elidedText(clockNote_, Qt::ElideRight, note.width()));
    }
}

void TrendChart::drawAxes(QPainter &p)
{
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();
    const QColor grid(0xE4E4E4);
    const QColor ink = palette().color(QPalette::Text);

    // Grid: the first axis's ticks and the time ticks.
    p.setPen(grid);
    if (!axes_.isEmpty()) {
        for (double v : axes_.first().ticks.at) {
            const int y = int(std::lround(yOf(axes_.first(), v)));
            p.drawLine(plot_.left(), y, plot_.right(), y);
        }
    }
    for (qint64 t : timeTicks_.at) {
        const int x = int(std::lround(xOf(t)));
        p.drawLine(x, plot_.top(), x, plot_.bottom());
    }

    for (const ValueAxis &a : axes_) {
        p.setPen(ink);
        p.drawLine(a.x, plot_.top(), a.x, plot_.bottom());
        for (double v : a.ticks.at) {
            const int y = int(std::lround(yOf(a, v)));
            const QString label = valueTickLabel(v, a.ticks.decimals);
            if (a.left) {
                p.drawLine(a.x - TickLength, y, a.x, y);
                p.drawText(QRect(a.x - a.width, y - line / 2, a.width - TickLength - 3, line), Qt::AlignRight | Qt::AlignVCenter, label);
            } else {
                p.drawLine(a.x, y, a.x + TickLength, y);
                p.drawText(QRect(a.x + TickLength + 3, y - line / 2, a.width - TickLength - 3, line), Qt::AlignLeft | Qt::AlignVCenter, label);
            }
        }
        // The unit above the axis, with a swatch for each channel drawn on it.
        const int swatches = std::min(int(a.channels.size()), MaxSwatches + 1);
        const int titleWidth = fm.horizontalAdvance(a.unit) + 4 + 9 * swatches;
        const int tx = a.left ? a.x - titleWidth : a.x;
        const int ty = plot_.top() - line - 2;
        p.drawText(QRect(tx, ty, titleWidth, line), Qt::AlignLeft | Qt::AlignVCenter, a.unit);
        int sx = tx + fm.horizontalAdvance(a.unit) + 4;
        for (int i = 0; i < swatches; ++i) {
            if (i == MaxSwatches && a.channels.size() > MaxSwatches + 1) {
                p.drawText(QRect(sx, ty, 9, line), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("…"));
                break;
            }
            p.fillRect(QRect(sx, ty + line / 2 - 3, 7, 7), channelColour(a.channels.at(i)));
            sx += 9;
        }
    }

    // The time axis, in local time; the date under the first tick and where the day changes.
    p.setPen(ink);
    QDate previous;
    for (qint64 t : timeTicks_.at) {
        const int x = int(std::lround(xOf(t)));
        p.drawLine(x, plot_.bottom(), x, plot_.bottom() + TickLength);
        const QDate day = QDateTime::fromMSecsSinceEpoch(t).date();
        const bool withDate = timeTicks_.step >= trend::DayMs ? previous.isNull() || day.year() != previous.year()
                                                              : day != previous;
        previous = day;
        const QString label = timeTickLabel(t, timeTicks_.step, withDate);
        const int w = fm.horizontalAdvance(QStringLiteral("0000-00-00")) + 4;
        p.drawText(QRect(x - w / 2, plot_.bottom() + TickLength + 2, w, 2 * line), Qt::AlignHCenter | Qt::AlignTop, label);
    }
}

void TrendChart::drawSeries(QPainter &p)
{
    QHash<int, const ValueAxis *> axisOf;
    for (const ValueAxis &a : axes_) {
        for (int c : a.channels)
            axisOf.insert(c, &a);
    }
    for (const Series &s : series_) {
        const ValueAxis *axis = axisOf.value(s.channel);
        if (!axis)
            continue;
        p.setPen(QPen(s.colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const QList<QPointF> &segment : s.segments) {
            QPolygonF line;
            line.reserve(segment.size());
            for (const QPointF &pt : segment)
                line.append(QPointF(xOf(qint64(pt.x())), yOf(*axis, pt.y())));
            if (line.size() == 1 || (line.size() > 1 && line.boundingRect().width() < 1.5)) {
                // One bucket alone between gaps: a short upright stroke, so it still shows.
                const QRectF r = line.boundingRect();
                p.drawLine(QPointF(r.center().x(), r.top() - 1), QPointF(r.center().x(), r.bottom() + 1));
            } else {
                p.drawPolyline(line);
            }
        }
    }
}

void TrendChart::drawMarkers(QPainter &p)
{
    for (int i = 0; i < events_.size(); ++i) {
        const trend::Event &e = events_.at(i);
        const QPoint at = markerPosition(i);
        const bool write = e.kind == trend::EventKind::Write;
        QColor faint = write ? writeColour() : alarmColour();
        faint.setAlpha(70);
        p.setPen(QPen(faint, 1, Qt::DotLine));
        p.drawLine(at.x(), plot_.top(), at.x(), at.y() - 6);
        const double half = i == hoveredMarker_ ? 7.5 : 6;
        switch (e.kind) {
        case trend::EventKind::AlarmStarted:
            p.setPen(QPen(alarmColour(), 1.2));
            p.setBrush(alarmColour());
            p.drawPolygon(triangle(at, half, true));
            break;
        case trend::EventKind::AlarmCleared:
            p.setPen(QPen(alarmColour(), 2));
            p.setBrush(palette().base());
            p.drawPolygon(triangle(at, half - 0.5, false));
            break;
        case trend::EventKind::Write:
            p.setPen(QPen(writeColour(), 1.2));
            p.setBrush(writeColour());
            p.drawPolygon(diamond(at, half));
            break;
        }
    }
    p.setBrush(Qt::NoBrush);
}

void TrendChart::drawCursors(QPainter &p)
{
    const QFontMetrics fm = fontMetrics();
    for (int i = 0; i < 2; ++i) {
        if (!cursors_[size_t(i)])
            continue;
        const double x = xOf(*cursors_[size_t(i)]);
        p.setPen(QPen(QColor(0x202020), 1.2, i == 0 ? Qt::SolidLine : Qt::DashLine));
        p.drawLine(QPointF(x, plot_.top()), QPointF(x, plot_.bottom()));
        const QString name = i == 0 ? QStringLiteral("A") : QStringLiteral("B");
        const QRectF tag(x - fm.horizontalAdvance(name) / 2.0 - 3, plot_.top() + 1, fm.horizontalAdvance(name) + 6, fm.height());
        p.fillRect(tag, QColor(0x202020));
        p.setPen(Qt::white);
        p.drawText(tag, Qt::AlignCenter, name);
    }
}

} // namespace qeln
