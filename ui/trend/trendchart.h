#pragma once

#include "trend/trendstore.h"
#include "trendticks.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>
#include <utility>

namespace qeln {

// The trend chart, drawn with QPainter: the legend (full names, wrapped over as many rows as
// they need) above the plot, a value axis per quantity (and another one where one range would
// flatten the other, such as AC voltage beside DC voltage), round ticks, a local-time axis with
// the controller's clock note under it, the alarm and write markers along the bottom of the
// plot, and cursors A and B.
// The mouse: the wheel zooms the time around the pointer, a left drag zooms to the dragged
// rectangle (a flat one zooms the time only), a right or middle drag pans the time, a click
// places cursor A and a Shift+click cursor B, hovering a marker shows its text. The chart
// only reports spans and cursors; the page reads the recording again.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    // One channel's line: its segments (a gap in the recording ends one), each point a time
    // (Unix ms) and a value.
    struct Series {
        int channel = 0;
        QString name; // "DC voltage (V)"
        QString unit;
        int quantity = 0;
        int decimals = 1; // the resolution of its values: no finer ticks
        QColor colour;
        QList<QList<QPointF>> segments;
    };
    // A value axis: the unit, the channels drawn on it and its ticks.
    struct ValueAxis {
        QString unit;
        int quantity = 0;
        QList<int> channels;
        ValueTicks ticks;
        bool left = true;
        int x = 0;     // where its line is drawn
        int width = 0; // its labels' column
    };

    explicit TrendChart(QWidget *parent = nullptr);

    void setSpan(qint64 from, qint64 to);
    qint64 spanFrom() const { return from_; }
    qint64 spanTo() const { return to_; }
    void setSeries(const QList<Series> &series);
    void setEvents(const QList<trend::Event> &events);
    void setCursor(int which, std::optional<qint64> time);
    // The line under the time axis ("Controller clock 12 s ahead of this PC"); empty for none.
    void setClockNote(const QString &text);
    QString clockNote() const { return clockNote_; }
    // Shown in the middle of an empty plot ("No channel picked").
    void setEmptyNote(const QString &text);
    // The value ranges go back to following the data (after a dragged rectangle chose them).
    void resetValueZoom();

    // Where the lines are drawn, in the widget's coordinates.
    QRect plotArea() const { return plot_; }
    qint64 timeAt(const QPoint &point) const;
    double xOf(qint64 time) const;
    QList<ValueAxis> valueAxes() const { return axes_; }
    TimeTicks timeAxisTicks() const { return timeTicks_; }
    QStringList legendNames() const;
    // The points drawn for a channel, all segments in a row, and its segments.
    QList<QPointF> points(int channel) const;
    QList<QList<QPointF>> segments(int channel) const;
    // Where a marker is drawn, and the text a pointer at `point` is shown (empty off markers).
    QPoint markerPosition(int index) const;
    QString markerTextAt(const QPoint &point) const;
    static QString eventText(const trend::Event &event);

    // Colours: one per channel, told apart with the common colour-vision deficiencies; the
    // markers' colours are not among them.
    static QColor channelColour(int channel);
    static QColor alarmColour();
    static QColor writeColour();

Q_SIGNALS:
    // The wheel or a pan: the time axis should show [from, to].
    void spanRequested(qint64 from, qint64 to);
    // A dragged rectangle: its time span (the value axes took its rows already).
    void rectangleZoomed(qint64 from, qint64 to);
    void cursorPlaced(int cursor, qint64 time);
    // The plot got wider or narrower: the data may be read again at its new width.
    void plotWidthChanged(int width);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    static constexpr int Margin = 6;
    static constexpr int TickLength = 4;
    // A dragged rectangle lower than this zooms the time only.
    static constexpr int FlatDrag = 12;
    // Colour swatches beside an axis's unit; more channels end in "…".
    static constexpr int MaxSwatches = 3;

    struct LegendEntry {
        QRect rect;
        QString name;
        QColor colour;
    };
    void relayout();
    QList<ValueAxis> groupAxes(int plotHeight) const;
    double yOf(const ValueAxis &axis, double value) const;
    void drawAxes(QPainter &p);
    void drawSeries(QPainter &p);
    void drawMarkers(QPainter &p);
    void drawCursors(QPainter &p);
    int timeAxisHeight() const;

    qint64 from_ = 0;
    qint64 to_ = 1;
    QList<Series> series_;
    QList<trend::Event> events_;
    std::array<std::optional<qint64>, 2> cursors_;
    QString clockNote_;
    QString emptyNote_;
    // Value ranges chosen with a dragged rectangle, by the first channel of their axis.
    QHash<int, std::pair<double, double>> zoom_;

    QRect plot_;
    QList<ValueAxis> axes_;
    TimeTicks timeTicks_;
    QList<LegendEntry> legend_;

    Qt::MouseButton pressed_ = Qt::NoButton;
    QPoint pressAt_;
    QPoint dragTo_;
    bool dragging_ = false;
    qint64 panFrom_ = 0;
    qint64 panTo_ = 0;
    int hoveredMarker_ = -1;
};

} // namespace qeln
