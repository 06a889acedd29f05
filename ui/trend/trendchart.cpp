#include "trendchart.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qeln {

namespace {

// A press that moves less than this is a click.
constexpr int DragThreshold = 4;
// A dragged rectangle lower than this zooms the time only.
constexpr int FlatDrag = 12;
// The shortest span the wheel zooms to.
constexpr qint64 ShortestSpanMs = 10'000;
// How far from a marker the pointer still shows its text.
constexpr int MarkerReach = 8;
constexpr int Margin = 6;
constexpr int TickLength = 4;
// Colour swatches beside an axis's unit; more channels end in "…".
constexpr int MaxSwatches = 3;

QPolygonF triangle(QPointF at, double half, bool up)
{
    const double s = up ? -1 : 1;
    return QPolygonF({at + QPointF(0, s * half), at + QPointF(-half, -s * half * 0.8), at + QPointF(half, -s * half * 0.8)});
}

QPolygonF diamond(QPointF at, double half)
{
    return QPolygonF({at + QPointF(0, -half), at + QPointF(half, 0), at + QPointF(0, half), at + QPointF(-half, 0)});
}

// The width a range takes on an axis of its own: its spread, and at least a tenth of its level
// (a flat line at 54 V and one at 230 V are not the same line).
double ownWidth(double lo, double hi)
{
    return std::max({hi - lo, 0.1 * std::abs((lo + hi) / 2), 1e-6});
}

} // namespace

TrendChart::TrendChart(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 220);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

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
                                    QColor(0xB8860B), QColor(0x88CCEE), QColor(0x997700), QColor(0x994455)};
    if (channel == trend::ClockOffsetChannel)
        return QColor(0x44AA99);
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

void TrendChart::setSpan(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    from_ = from;
    to_ = to;
    relayout();
    update();
}

void TrendChart::setSeries(const QList<Series> &series)
{
    series_ = series;
    relayout();
    update();
}

void TrendChart::setEvents(const QList<trend::Event> &events)
{
    events_ = events;
    hoveredMarker_ = -1;
    update();
}

void TrendChart::setCursor(int which, std::optional<qint64> time)
{
    if (which < 0 || which > 1)
        return;
    cursors_[size_t(which)] = time;
    update();
}

void TrendChart::setClockNote(const QString &text)
{
    if (text == clockNote_)
        return;
    clockNote_ = text;
    update();
}

void TrendChart::setEmptyNote(const QString &text)
{
    emptyNote_ = text;
    update();
}

void TrendChart::resetValueZoom()
{
    if (zoom_.isEmpty())
        return;
    zoom_.clear();
    relayout();
    update();
}

qint64 TrendChart::timeAt(const QPoint &point) const
{
    if (plot_.width() <= 0)
        return from_;
    const double fraction = double(point.x() - plot_.left()) / double(plot_.width());
    return from_ + qint64(std::llround(fraction * double(to_ - from_)));
}

double TrendChart::xOf(qint64 time) const
{
    return plot_.left() + double(time - from_) / double(std::max<qint64>(to_ - from_, 1)) * plot_.width();
}

double TrendChart::yOf(const ValueAxis &axis, double value) const
{
    const double range = axis.ticks.hi - axis.ticks.lo;
    return plot_.bottom() + 1 - (value - axis.ticks.lo) / (range > 0 ? range : 1) * plot_.height();
}

QStringList TrendChart::legendNames() const
{
    QStringList out;
    for (const LegendEntry &e : legend_)
        out << e.name;
    return out;
}

QList<QPointF> TrendChart::points(int channel) const
{
    QList<QPointF> out;
    for (const Series &s : series_) {
        if (s.channel == channel) {
            for (const QList<QPointF> &segment : s.segments)
                out += segment;
        }
    }
    return out;
}

QList<QList<QPointF>> TrendChart::segments(int channel) const
{
    for (const Series &s : series_) {
        if (s.channel == channel)
            return s.segments;
    }
    return {};
}

int TrendChart::timeAxisHeight() const
{
    // Tick labels of two lines (time, and the date where it changes), then the clock note.
    return TickLength + 3 * fontMetrics().height() + 6;
}

QList<TrendChart::ValueAxis> TrendChart::groupAxes(int plotHeight) const
{
    struct Range {
        int channel;
        int quantity;
        int decimals;
        QString unit;
        double lo, hi;
        bool any;
    };
    QList<Range> ranges;
    for (const Series &s : series_) {
        Range r{s.channel, s.quantity, s.decimals, s.unit, std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(), false};
        for (const QList<QPointF> &segment : s.segments) {
            for (const QPointF &p : segment) {
                r.lo = std::min(r.lo, p.y());
                r.hi = std::max(r.hi, p.y());
                r.any = true;
            }
        }
        ranges.append(r);
    }
    // By quantity, the higher levels first: a channel joins the first axis of its quantity on
    // which neither its range nor the axis's would be squeezed flat (AC voltage at 230 V and DC
    // voltage at 54 V get an axis each).
    std::stable_sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) {
        if (a.quantity != b.quantity)
            return a.quantity < b.quantity;
        if (a.any != b.any)
            return a.any;
        return a.hi + a.lo > b.hi + b.lo;
    });
    struct Group {
        ValueAxis axis;
        double lo, hi;
        bool any;
        int decimals;
    };
    QList<Group> groups;
    for (const Range &r : ranges) {
        Group *home = nullptr;
        for (Group &g : groups) {
            if (g.axis.quantity != r.quantity)
                continue;
            if (!r.any || !g.any) {
                home = &g;
                break;
            }
            // Sharing: each range keeps at least a fifth of the axis.
            const double joint = std::max(g.hi, r.hi) - std::min(g.lo, r.lo);
            if (joint <= 5 * std::min(ownWidth(g.lo, g.hi), ownWidth(r.lo, r.hi))) {
                home = &g;
                break;
            }
        }
        if (!home) {
            Group g{ValueAxis{}, r.lo, r.hi, r.any, r.decimals};
            g.axis.unit = r.unit;
            g.axis.quantity = r.quantity;
            groups.append(g);
            home = &groups.last();
        } else if (r.any) {
            home->lo = home->any ? std::min(home->lo, r.lo) : r.lo;
            home->hi = home->any ? std::max(home->hi, r.hi) : r.hi;
            home->any = true;
        }
        home->axis.channels.append(r.channel);
        home->decimals = std::max(home->decimals, r.decimals);
    }
    const int maxTicks = std::max(2, plotHeight / (fontMetrics().height() * 5 / 2));
    QList<ValueAxis> out;
    for (Group &g : groups) {
        std::sort(g.axis.channels.begin(), g.axis.channels.end());
        const double finest = std::pow(10.0, -g.decimals);
        const auto zoomed = zoom_.constFind(g.axis.channels.first());
        if (zoomed != zoom_.constEnd()) {
            // The dragged rectangle's rows exactly, with round ticks inside them.
            ValueTicks t = valueTicks(zoomed->first, zoomed->second, maxTicks, finest);
            t.lo = zoomed->first;
            t.hi = zoomed->second;
            t.at.removeIf([&](double v) { return v < t.lo - 1e-9 || v > t.hi + 1e-9; });
            g.axis.ticks = t;
        } else {
            g.axis.ticks = g.any ? valueTicks(g.lo, g.hi, maxTicks, finest) : valueTicks(0, 1, maxTicks, finest);
        }
        out.append(g.axis);
    }
    return out;
}

void TrendChart::relayout()
{
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();

    // The legend: every name whole, as many rows as it takes.
    legend_.clear();
    int x = Margin, y = Margin;
    const int right = width() - Margin;
    for (const Series &s : series_) {
        const int w = 22 + fm.horizontalAdvance(s.name);
        if (x > Margin && x + w > right) {
            x = Margin;
            y += line + 2;
        }
        legend_.append({QRect(x, y, std::min(w, right - x), line), s.name, s.colour});
        x += w + 16;
    }
    const int legendBottom = series_.isEmpty() ? Margin : y + line + 4;
    // A row for the axes' units above the plot.
    const int top = legendBottom + line + 2;
    const int bottom = height() - timeAxisHeight();
    axes_ = groupAxes(std::max(bottom - top, 40));

    // The axes' columns: wide enough for their labels, and never narrower than "-000.0" so
    // that the plot does not shift as the values change.
    int leftWidth = 0, rightWidth = 0;
    for (int i = 0; i < axes_.size(); ++i) {
        ValueAxis &a = axes_[i];
        a.left = i % 2 == 0;
        int labels = fm.horizontalAdvance(QStringLiteral("-000.0"));
        for (double v : a.ticks.at)
            labels = std::max(labels, fm.horizontalAdvance(valueTickLabel(v, a.ticks.decimals)));
        const int title = fm.horizontalAdvance(a.unit) + 4 + 9 * std::min(int(a.channels.size()), MaxSwatches + 1);
        a.width = std::max(labels, title) + TickLength + 8;
        (a.left ? leftWidth : rightWidth) += a.width;
    }
    if (axes_.isEmpty())
        leftWidth = fm.horizontalAdvance(QStringLiteral("-000.0")) + TickLength + 8;
    const int oldWidth = plot_.width();
    plot_ = QRect(QPoint(Margin + leftWidth, top), QPoint(width() - Margin - rightWidth - 1, bottom - 1));
    // Each axis's line: the innermost at the plot's edge, the next ones outside it.
    int leftAt = plot_.left(), rightAt = plot_.right();
    for (ValueAxis &a : axes_) {
        if (a.left) {
            a.x = leftAt;
            leftAt -= a.width;
        } else {
            a.x = rightAt;
            rightAt += a.width;
        }
    }
    timeTicks_ = timeTicks(from_, to_, std::max(2, plot_.width() / std::max(fm.horizontalAdvance(QStringLiteral("00:00:00")) * 2, 60)));
    if (plot_.width() != oldWidth)
        Q_EMIT plotWidthChanged(plot_.width());
}

void TrendChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
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

QPoint TrendChart::markerPosition(int index) const
{
    if (index < 0 || index >= events_.size())
        return {};
    const trend::Event &e = events_.at(index);
    // Alarms on the lowest row, writes on the row above.
    const int row = e.kind == trend::EventKind::Write ? 24 : 10;
    return QPoint(int(std::lround(xOf(e.t))), plot_.bottom() - row);
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

QString TrendChart::eventText(const trend::Event &event)
{
    const QString what = event.kind == trend::EventKind::AlarmStarted   ? QStringLiteral("alarm started")
                         : event.kind == trend::EventKind::AlarmCleared ? QStringLiteral("alarm cleared")
                                                                        : QStringLiteral("write");
    return QStringLiteral("%1  %2: %3")
        .arg(QDateTime::fromMSecsSinceEpoch(event.t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), what, event.text);
}

QString TrendChart::markerTextAt(const QPoint &point) const
{
    // Every marker within reach: events at the same moment are all told.
    QStringList texts;
    for (int i = 0; i < events_.size(); ++i) {
        const QPoint at = markerPosition(i);
        if (std::abs(at.x() - point.x()) <= MarkerReach && std::abs(at.y() - point.y()) <= MarkerReach + 2)
            texts << eventText(events_.at(i));
    }
    return texts.join(QLatin1Char('\n'));
}

void TrendChart::wheelEvent(QWheelEvent *event)
{
    const qint64 at = timeAt(event->position().toPoint());
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0 || to_ <= from_) {
        event->ignore();
        return;
    }
    // One notch: 80 % of the span (zoom in) or 125 % (zoom out), the time under the pointer
    // staying where it is.
    const double span = std::max(double(ShortestSpanMs), double(to_ - from_) * std::pow(0.8, steps));
    const double left = double(at - from_) / double(to_ - from_);
    const qint64 newFrom = at - qint64(span * left);
    Q_EMIT spanRequested(newFrom, newFrom + qint64(span));
    event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent *event)
{
    pressAt_ = event->position().toPoint();
    // Cursors and rectangles start on the plot; a pan anywhere.
    if (event->button() == Qt::LeftButton && !plot_.adjusted(-4, -4, 4, 4).contains(pressAt_)) {
        pressed_ = Qt::NoButton;
        return;
    }
    pressed_ = event->button();
    dragTo_ = pressAt_;
    dragging_ = false;
    panFrom_ = from_;
    panTo_ = to_;
    QToolTip::hideText();
    event->accept();
}

void TrendChart::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (pressed_ == Qt::NoButton) {
        // Hovering: a marker's text.
        int nearest = -1;
        for (int i = 0; i < events_.size(); ++i) {
            const QPoint m = markerPosition(i);
            if (std::abs(m.x() - at.x()) <= MarkerReach && std::abs(m.y() - at.y()) <= MarkerReach + 2
                && (nearest < 0 || std::abs(m.x() - at.x()) < std::abs(markerPosition(nearest).x() - at.x())))
                nearest = i;
        }
        if (nearest != hoveredMarker_) {
            hoveredMarker_ = nearest;
            update();
        }
        if (nearest >= 0)
            QToolTip::showText(event->globalPosition().toPoint(), markerTextAt(at), this,
                               QRect(markerPosition(nearest) - QPoint(MarkerReach, MarkerReach), QSize(2 * MarkerReach + 1, 2 * MarkerReach + 1)));
        else
            QToolTip::hideText();
        return;
    }
    if (!dragging_ && (at - pressAt_).manhattanLength() < DragThreshold)
        return;
    dragging_ = true;
    dragTo_ = at;
    if (pressed_ == Qt::LeftButton) {
        update();
        return;
    }
    // Pan: the time under the pointer at the press follows the pointer.
    if (plot_.width() <= 0)
        return;
    const qint64 shift = qint64(double(at.x() - pressAt_.x()) / plot_.width() * double(panTo_ - panFrom_));
    Q_EMIT spanRequested(panFrom_ - shift, panTo_ - shift);
}

void TrendChart::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = pressed_;
    const bool dragged = dragging_;
    pressed_ = Qt::NoButton;
    dragging_ = false;
    event->accept();
    if (button != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    if (!dragged) {
        Q_EMIT cursorPlaced(event->modifiers() & Qt::ShiftModifier ? 1 : 0, timeAt(at));
        return;
    }
    update();
    const QRect r = QRect(pressAt_, at).normalized();
    if (r.width() < DragThreshold)
        return;
    if (r.height() >= FlatDrag) {
        // The value axes take the rectangle's rows.
        const int top = std::max(r.top(), plot_.top());
        const int bottom = std::min(r.bottom(), plot_.bottom());
        for (const ValueAxis &a : std::as_const(axes_)) {
            const double range = a.ticks.hi - a.ticks.lo;
            const double hi = a.ticks.lo + double(plot_.bottom() + 1 - top) / plot_.height() * range;
            const double lo = a.ticks.lo + double(plot_.bottom() + 1 - bottom) / plot_.height() * range;
            if (hi > lo)
                zoom_.insert(a.channels.first(), {lo, hi});
        }
        relayout();
    }
    Q_EMIT rectangleZoomed(timeAt(r.topLeft()), timeAt(r.bottomRight()));
}

void TrendChart::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (hoveredMarker_ >= 0) {
        hoveredMarker_ = -1;
        update();
    }
}

} // namespace qeln
