#pragma once

#include <QChartView>
#include <QPoint>

class QRubberBand;

namespace qeln {

// The trend chart's mouse: the wheel zooms the time axis around the pointer, a left drag zooms
// to the dragged rectangle, a right (or middle) drag pans the time axis, a left click places
// cursor A and a Shift+click cursor B. It only reports; the page re-reads the recording.
class TrendChartView : public QChartView {
    Q_OBJECT
public:
    explicit TrendChartView(QChart *chart, QWidget *parent = nullptr);

    // The time (Unix ms) under a point of the view, by the time axis.
    qint64 timeAt(const QPoint &viewPoint) const;

Q_SIGNALS:
    // The time axis should show [from, to].
    void spanRequested(qint64 from, qint64 to);
    // The dragged rectangle, in chart values: the time span and the pixel rows of the plot.
    void rectangleZoomed(qint64 from, qint64 to, double plotTop, double plotBottom);
    void cursorPlaced(int cursor, qint64 time);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    qint64 axisMin() const;
    qint64 axisMax() const;

    QRubberBand *band_ = nullptr;
    QPoint pressAt_;
    Qt::MouseButton pressed_ = Qt::NoButton;
    bool dragging_ = false;
    qint64 panFrom_ = 0;
    qint64 panTo_ = 0;
};

} // namespace qeln
