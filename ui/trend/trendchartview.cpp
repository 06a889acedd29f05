#include "trendchartview.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWheelEvent>

#include <cmath>

namespace qeln {

namespace {
// A press that moves less than this is a click.
constexpr int DragThreshold = 4;
// The shortest span the wheel zooms to.
constexpr qint64 ShortestSpanMs = 10'000;
}

TrendChartView::TrendChartView(QChart *chart, QWidget *parent)
    : QChartView(chart, parent)
    , band_(new QRubberBand(QRubberBand::Rectangle, this))
{
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
}

qint64 TrendChartView::axisMin() const
{
    const auto axes = chart()->axes(Qt::Horizontal);
    auto *axis = axes.isEmpty() ? nullptr : qobject_cast<QDateTimeAxis *>(axes.first());
    return axis ? axis->min().toMSecsSinceEpoch() : 0;
}

qint64 TrendChartView::axisMax() const
{
    const auto axes = chart()->axes(Qt::Horizontal);
    auto *axis = axes.isEmpty() ? nullptr : qobject_cast<QDateTimeAxis *>(axes.first());
    return axis ? axis->max().toMSecsSinceEpoch() : 0;
}

qint64 TrendChartView::timeAt(const QPoint &viewPoint) const
{
    const QRectF plot = chart()->plotArea();
    const QPointF scenePoint = mapToScene(viewPoint);
    const QPointF chartPoint = chart()->mapFromScene(scenePoint);
    const double fraction = plot.width() > 0 ? (chartPoint.x() - plot.left()) / plot.width() : 0;
    return axisMin() + qint64(std::llround(fraction * double(axisMax() - axisMin())));
}

void TrendChartView::wheelEvent(QWheelEvent *event)
{
    const qint64 from = axisMin(), to = axisMax();
    const qint64 at = timeAt(event->position().toPoint());
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0 || to <= from) {
        event->ignore();
        return;
    }
    // One notch: 80 % of the span (zoom in) or 125 % (zoom out), the time under the pointer
    // staying where it is.
    const double factor = std::pow(0.8, steps);
    const double span = std::max(double(ShortestSpanMs), double(to - from) * factor);
    const double left = double(at - from) / double(to - from);
    const qint64 newFrom = at - qint64(span * left);
    Q_EMIT spanRequested(newFrom, newFrom + qint64(span));
    event->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button();
    pressAt_ = event->position().toPoint();
    dragging_ = false;
    panFrom_ = axisMin();
    panTo_ = axisMax();
    event->accept();
}

void TrendChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (pressed_ == Qt::NoButton) {
        QChartView::mouseMoveEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    if (!dragging_ && (at - pressAt_).manhattanLength() < DragThreshold)
        return;
    dragging_ = true;
    if (pressed_ == Qt::LeftButton) {
        band_->setGeometry(QRect(pressAt_, at).normalized());
        band_->show();
        return;
    }
    // Pan: the time under the pointer at the press follows the pointer.
    const double width = chart()->plotArea().width();
    if (width <= 0)
        return;
    const qint64 shift = qint64(double(at.x() - pressAt_.x()) / width * double(panTo_ - panFrom_));
    Q_EMIT spanRequested(panFrom_ - shift, panTo_ - shift);
}

void TrendChartView::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = pressed_;
    pressed_ = Qt::NoButton;
    band_->hide();
    if (button == Qt::LeftButton) {
        if (dragging_) {
            const QRect r = band_->geometry();
            if (r.width() >= DragThreshold) {
                const qint64 from = timeAt(r.topLeft());
                const qint64 to = timeAt(r.bottomRight());
                const QPointF top = chart()->mapFromScene(mapToScene(r.topLeft()));
                const QPointF bottom = chart()->mapFromScene(mapToScene(r.bottomRight()));
                Q_EMIT rectangleZoomed(from, to, top.y(), bottom.y());
            }
        } else {
            Q_EMIT cursorPlaced(event->modifiers() & Qt::ShiftModifier ? 1 : 0, timeAt(event->position().toPoint()));
        }
    }
    dragging_ = false;
    event->accept();
}

} // namespace qeln
