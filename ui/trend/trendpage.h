#pragma once

#include "trend/trendstore.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QChart;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QValueAxis;

namespace qeln {

class TrendChartView;

namespace trend {
class Recorder;
}

// The "trend" page of the main window: the recording of the connected controller (or any
// recording opened), drawn from the summaries at about two points per pixel (each bucket's min
// and max, so that no spike is lost), one Y axis per unit, a wall-clock time axis, quick spans,
// a live mode, two cursors with their differences and min/mean/max between them, the alarm and
// write events as markers, and export of what is shown.
class TrendPage : public QWidget {
    Q_OBJECT
public:
    explicit TrendPage(trend::Recorder &recorder, QWidget *parent = nullptr);
    ~TrendPage() override;

    // Where exports go (the output folder).
    void setOutputFolder(const QString &folder) { outputFolder_ = folder; }
    // Shows a recording; false with a message on the page when it cannot be read.
    bool openRecording(const QString &path);
    QString recordingPath() const { return path_; }

    // The channels drawn (indexes of trend::channels()).
    QList<int> shownChannels() const;
    void setChannelShown(int channel, bool shown);
    // The time axis; the data is read again for it.
    void setSpan(qint64 from, qint64 to);
    qint64 spanFrom() const { return from_; }
    qint64 spanTo() const { return to_; }
    // Quick spans, ending at the newest status: 10 min, 1 h, 1 day, 7 days; 0 = all.
    void showLast(qint64 spanMs);
    void setLive(bool live);
    bool isLive() const { return live_; }
    // Cursor 0 (A) or 1 (B) at a time; the table follows.
    void setCursor(int cursor, qint64 time);
    std::optional<qint64> cursor(int cursor) const { return cursors_[size_t(cursor)]; }

    // What the page shows, for the window's tests: the cursor table's cells by row and column,
    // the Δt text, the events drawn as markers and the text a marker shows on hover.
    QTableWidget *cursorTable() const { return table_; }
    QString deltaText() const;
    QList<trend::Event> markers() const { return events_; }
    QString markerTextNear(qint64 time) const;
    // The points drawn for a channel (two per bucket: its min and its max).
    QList<QPointF> drawnPoints(int channel) const;
    QChart *chart() const { return chart_; }
    TrendChartView *chartView() const { return view_; }

    // Writes what is shown (the span and channels) into the output folder as CSV or a
    // workbook, under a free name: the path written, or an empty text with the message shown.
    QString exportShown(bool workbook);

Q_SIGNALS:
    // A message the operator must see (an export written or failed, a recording unreadable).
    void messageRequested(const QString &text, bool warning);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void buildChart();
    void reload();
    void redrawCursors();
    void updateTable();
    void updateAxesVisibility();
    void onRecorderFlushed();
    void onRectangleZoomed(qint64 from, qint64 to, double top, double bottom);
    void onMarkerHovered(const QPointF &point, bool state);
    std::optional<double> valueAt(int channel, qint64 time);
    QValueAxis *axisFor(int channel) const;

    trend::Recorder &recorder_;
    std::unique_ptr<trend::TrendStore> store_;
    QString path_;
    QString outputFolder_;
    qint64 from_ = 0;
    qint64 to_ = 0;
    qint64 liveSpan_ = 10 * 60'000;
    bool live_ = true;
    bool keepY_ = false; // a dragged rectangle chose the Y ranges
    std::array<std::optional<qint64>, 2> cursors_;
    QList<trend::Event> events_;

    QTreeWidget *picker_ = nullptr;
    QHash<int, QTreeWidgetItem *> pickerItems_;
    QCheckBox *record_ = nullptr;
    QCheckBox *liveBox_ = nullptr;
    QLabel *fileLabel_ = nullptr;
    QLabel *delta_ = nullptr;
    QTableWidget *table_ = nullptr;
    QChart *chart_ = nullptr;
    TrendChartView *view_ = nullptr;
    QDateTimeAxis *timeAxis_ = nullptr;
    QValueAxis *overlayAxis_ = nullptr; // 0..1: cursors and markers
    std::array<QValueAxis *, 5> unitAxes_{}; // by trend::Quantity
    QHash<int, QLineSeries *> series_;
    std::array<QLineSeries *, 2> cursorLines_{};
    QScatterSeries *alarmMarkers_ = nullptr;
    QScatterSeries *writeMarkers_ = nullptr;
    bool reloading_ = false;
};

} // namespace qeln
