#pragma once

#include "trend/trendstore.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qeln {

class TrendChart;

namespace trend {
class Recorder;
}

// The "trend" page of the main window: the recording of the connected controller (or any
// recording of the folder), drawn from the summaries at about two points per pixel (each
// bucket's min and max, so that no spike is lost) and never across a gap, a value axis per
// quantity, a local-time axis with the controller's clock offset, quick spans, a live mode,
// two cursors with their differences and min/mean/max between them, the alarm and write
// events as markers, and export of what is shown.
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
    // The recordings offered (the folder's, the controller's own first), as paths.
    QStringList recordingChoices() const;

    // The channels drawn (indexes of trend::channels()).
    QList<int> shownChannels() const { return shown_; }
    void setChannelShown(int channel, bool shown);
    // The time axis, chosen (this ends live); the data is read again for it.
    void setSpan(qint64 from, qint64 to);
    qint64 spanFrom() const { return from_; }
    qint64 spanTo() const { return to_; }
    // Quick spans, ending at the newest status: 10 min, 1 h, 1 day, 7 days; 0 = all. Live
    // stays as it is and then keeps that span.
    void showLast(qint64 spanMs);
    void setLive(bool live);
    bool isLive() const { return live_; }
    // Cursor 0 (A) or 1 (B) at a time; the table follows.
    void setCursor(int cursor, qint64 time);
    std::optional<qint64> cursor(int cursor) const { return cursors_[size_t(cursor)]; }

    // What the page shows, for the window's tests: the cursor table's cells by row and column,
    // the Δt text, the events drawn as markers and the text a marker shows on hover.
    QTableWidget *cursorTable() const { return table_; }
    QString deltaText() const { return deltaText_; }
    QList<trend::Event> markers() const { return events_; }
    QString markerTextNear(qint64 time) const;
    // The points drawn for a channel (two per bucket: its min and its max), and the lines they
    // form (a gap in the recording ends one).
    QList<QPointF> drawnPoints(int channel) const;
    QList<QList<QPointF>> drawnSegments(int channel) const;
    // The line under the chart: which file, and whether it is being recorded.
    QString fileText() const;
    TrendChart *chart() const { return chart_; }

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
    void reload();
    void updateTable();
    void updateFileLine();
    void refreshChoices();
    void setDeltaText(const QString &text);
    void applySpan(qint64 from, qint64 to);
    void onRecorderFlushed();
    qint64 liveEnd();
    qint64 gapThresholdMs(qint64 stepMs) const;
    QString valueText(std::optional<double> value, int channel) const;
    // The decimals the status page shows each channel with, from a status's registers.
    static QString durationText(qint64 ms);
    // Every channel's value in effect at a time.
    trend::ChannelValues valuesAt(qint64 time);

    trend::Recorder &recorder_;
    std::unique_ptr<trend::TrendStore> store_;
    QString path_;
    QString outputFolder_;
    qint64 from_ = 0;
    qint64 to_ = 0;
    qint64 liveSpan_ = 10 * 60'000; // 0: the whole recording
    bool live_ = true;
    bool followRecorder_ = true; // the recorder's file is shown: its next file is shown too
    QString deltaText_;
    QList<int> shown_;
    std::vector<int> decimals_; // per channel, as the status page shows it
    std::array<std::optional<qint64>, 2> cursors_;
    QList<trend::Event> events_;

    QTreeWidget *picker_ = nullptr;
    QHash<int, QTreeWidgetItem *> pickerItems_;
    QCheckBox *record_ = nullptr;
    QCheckBox *liveBox_ = nullptr;
    QComboBox *choices_ = nullptr;
    QLabel *fileLabel_ = nullptr;
    QLabel *delta_ = nullptr;
    QTableWidget *table_ = nullptr;
    TrendChart *chart_ = nullptr;
    bool reloading_ = false;
};

} // namespace qeln
