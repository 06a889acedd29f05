#include "trendchart.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qeln {

namespace {

// A press that moves less than this is a click.
constexpr int DragThreshold = 4;
// The shortest span the wheel zooms to.
constexpr qint64 ShortestSpanMs = 10'000;
// How far from a marker the pointer still shows its text.
constexpr int MarkerReach = 8;

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

QPoint TrendChart::markerPosition(int index) const
{
    if (index < 0 || index >= events_.size())
        return {};
    const trend::Event &e = events_.at(index);
    // Alarms on the lowest row, writes on the row above.
    const int row = e.kind == trend::EventKind::Write ? 24 : 10;
    return QPoint(int(std::lround(xOf(e.t))), plot_.bottom() - row);
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
