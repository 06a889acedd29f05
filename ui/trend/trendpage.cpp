#include "trendpage.h"

#include "trend/recorder.h"
#include "trend/trendexport.h"
#include "trendchart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>

namespace qeln {

using trend::Bucket;
using trend::channels;
using trend::ChannelCount;
using trend::Quantity;

namespace {

constexpr qint64 MinuteMs = trend::MinuteMs;
constexpr qint64 HourMs = trend::HourMs;
constexpr qint64 DayMs = trend::DayMs;

const char *const QuantityCaptions[] = {"Voltage (V)", "Current (A)", "Temperature (°C)", "Charge (%)", "Clock offset (s)"};
constexpr int QuantityCount = 5;

// One line of text that never grows the layout: what does not fit ends in "…" (the whole
// text is the tooltip).
class OneLineLabel : public QLabel {
public:
    explicit OneLineLabel(QWidget *parent)
        : QLabel(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setFixedHeight(fontMetrics().height() + 4);
    }
    void setLine(const QString &text)
    {
        setText(text);
        setToolTip(text);
        update();
    }
    QSize minimumSizeHint() const override { return QSize(10, fontMetrics().height() + 4); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        const QRect r = contentsRect();
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
    }
};

// The list of recordings, read again from the folder each time it opens.
class RecordingBox : public QComboBox {
public:
    RecordingBox(QWidget *parent, std::function<void()> beforeOpening)
        : QComboBox(parent)
        , beforeOpening_(std::move(beforeOpening))
    {
    }
    void showPopup() override
    {
        beforeOpening_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforeOpening_;
};

} // namespace

TrendPage::TrendPage(trend::Recorder &recorder, QWidget *parent)
    : QWidget(parent)
    , recorder_(recorder)
{
    setObjectName(QStringLiteral("TrendPage"));
    decimals_ = trend::channelDecimals(trend::Registers{});
    buildControls();
    for (int c : {2, 7, 9})
        setChannelShown(c, true);
    connect(&recorder_, &trend::Recorder::flushed, this, &TrendPage::onRecorderFlushed);
    connect(&recorder_, &trend::Recorder::enabledChanged, this, [this](bool on) {
        record_->setChecked(on);
        updateFileLine();
    });
    // Paused, the controller's recording is still shown (another console may be recording it).
    connect(&recorder_, &trend::Recorder::paused, this, [this] {
        refreshChoices();
        if (!store_ && QFileInfo::exists(recorder_.controllerFile()))
            openRecording(recorder_.controllerFile());
        updateFileLine();
    });
    connect(&recorder_, &trend::Recorder::resumed, this, &TrendPage::updateFileLine);
    updateFileLine();
}

TrendPage::~TrendPage() = default;

void TrendPage::buildControls()
{
    auto *top = new QHBoxLayout;
    record_ = new QCheckBox(QStringLiteral("Record"), this);
    record_->setObjectName(QStringLiteral("TrendRecord"));
    record_->setChecked(recorder_.isEnabled());
    record_->setToolTip(QStringLiteral("Record every status into the trend file of this controller"));
    connect(record_, &QCheckBox::toggled, &recorder_, &trend::Recorder::setEnabled);
    top->addWidget(record_);
    const struct {
        const char *caption;
        qint64 span;
    } quick[] = {{"10 min", 10 * MinuteMs}, {"1 h", HourMs}, {"1 day", DayMs}, {"7 days", 7 * DayMs}, {"all", 0}};
    for (const auto &q : quick) {
        auto *button = new QPushButton(QString::fromUtf8(q.caption), this);
        button->setObjectName(QStringLiteral("TrendSpan_") + QString::fromUtf8(q.caption).remove(QLatin1Char(' ')));
        const qint64 span = q.span;
        connect(button, &QPushButton::clicked, this, [this, span] { showLast(span); });
        top->addWidget(button);
    }
    liveBox_ = new QCheckBox(QStringLiteral("Live"), this);
    liveBox_->setObjectName(QStringLiteral("TrendLive"));
    liveBox_->setChecked(live_);
    liveBox_->setToolTip(QStringLiteral("Follow the newest status"));
    connect(liveBox_, &QCheckBox::toggled, this, &TrendPage::setLive);
    top->addWidget(liveBox_);
    top->addSpacing(12);
    choices_ = new RecordingBox(this, [this] { refreshChoices(); });
    choices_->setObjectName(QStringLiteral("TrendRecordings"));
    choices_->setToolTip(QStringLiteral("The recordings in the trend folder; this controller's first"));
    choices_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    choices_->setMinimumContentsLength(22);
    connect(choices_, &QComboBox::activated, this, [this](int index) {
        const QString path = choices_->itemData(index).toString();
        if (!path.isEmpty() && path != path_)
            openRecording(path);
    });
    top->addWidget(choices_, 1);
    top->addStretch();
    auto *exportButton = new QPushButton(QStringLiteral("Export"), this);
    exportButton->setObjectName(QStringLiteral("TrendExport"));
    auto *menu = new QMenu(exportButton);
    connect(menu->addAction(QStringLiteral("CSV file (.csv)")), &QAction::triggered, this, [this] { exportShown(false); });
    connect(menu->addAction(QStringLiteral("Workbook (.xlsx)")), &QAction::triggered, this, [this] { exportShown(true); });
    exportButton->setMenu(menu);
    top->addWidget(exportButton);

    picker_ = new QTreeWidget(this);
    picker_->setObjectName(QStringLiteral("TrendChannels"));
    picker_->setHeaderHidden(true);
    QTreeWidgetItem *groups[QuantityCount] = {};
    for (int q = 0; q < QuantityCount; ++q) {
        groups[q] = new QTreeWidgetItem(picker_, {QString::fromUtf8(QuantityCaptions[q])});
        groups[q]->setFlags(Qt::ItemIsEnabled);
    }
    int widest = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        const auto &ch = channels()[size_t(c)];
        auto *item = new QTreeWidgetItem(groups[int(ch.quantity)], {QString::fromUtf8(ch.caption)});
        item->setData(0, Qt::UserRole, c);
        item->setToolTip(0, QString::fromLatin1(ch.name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        QPixmap swatch(12, 12);
        swatch.fill(TrendChart::channelColour(c));
        item->setIcon(0, QIcon(swatch));
        pickerItems_.insert(c, item);
        widest = std::max(widest, picker_->fontMetrics().horizontalAdvance(item->text(0)));
    }
    picker_->expandAll();
    // Wide enough for every caption beside its box, whatever the rest of the page does.
    picker_->setFixedWidth(widest + picker_->indentation() + 80);
    connect(picker_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) {
        const QVariant c = item->data(0, Qt::UserRole);
        if (c.isValid())
            setChannelShown(c.toInt(), item->checkState(0) == Qt::Checked);
    });

    chart_ = new TrendChart(this);
    chart_->setObjectName(QStringLiteral("TrendChart"));
    connect(chart_, &TrendChart::spanRequested, this, [this](qint64 from, qint64 to) { setSpan(from, to); });
    connect(chart_, &TrendChart::rectangleZoomed, this, [this](qint64 from, qint64 to) { setSpan(std::min(from, to), std::max(from, to)); });
    connect(chart_, &TrendChart::cursorPlaced, this, &TrendPage::setCursor);
    connect(chart_, &TrendChart::plotWidthChanged, this, [this] {
        if (!reloading_)
            reload();
    });

    auto *fileLine = new OneLineLabel(this);
    fileLabel_ = fileLine;
    fileLabel_->setObjectName(QStringLiteral("TrendFile"));
    auto *deltaLine = new OneLineLabel(this);
    delta_ = deltaLine;
    delta_->setObjectName(QStringLiteral("TrendDelta"));
    table_ = new QTableWidget(0, 7, this);
    table_->setObjectName(QStringLiteral("TrendCursors"));
    table_->setHorizontalHeaderLabels({QStringLiteral("channel"), QStringLiteral("at A"), QStringLiteral("at B"),
                                       QStringLiteral("B − A"), QStringLiteral("min"), QStringLiteral("mean"),
                                       QStringLiteral("max")});
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *right = new QVBoxLayout;
    right->addWidget(chart_, 1);
    right->addWidget(delta_);
    right->addWidget(table_);
    auto *middle = new QHBoxLayout;
    middle->addWidget(picker_);
    middle->addLayout(right, 1);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(2, 2, 2, 2);
    page->addLayout(top);
    page->addLayout(middle, 1);
    page->addWidget(fileLabel_);
    setDeltaText(QStringLiteral("Click the chart for cursor A, Shift+click for cursor B; drag a rectangle to zoom, "
                                "the wheel zooms the time, the right button pans."));
    refreshChoices();
}

void TrendPage::setDeltaText(const QString &text)
{
    deltaText_ = text;
    static_cast<OneLineLabel *>(delta_)->setLine(text);
}

QString TrendPage::fileText() const
{
    return fileLabel_->text();
}

void TrendPage::updateFileLine()
{
    const QString file = QDir::toNativeSeparators(path_);
    // The connected controller's file, recorded here or (paused) by another console.
    const bool own = !path_.isEmpty() && path_ == recorder_.controllerFile();
    const bool paused = recorder_.isPaused();
    QString text;
    if (path_.isEmpty())
        text = QStringLiteral("No recording shown yet.");
    else if (own && recorder_.isEnabled() && !paused && path_ == recorder_.filePath())
        text = QStringLiteral("Recording into %1").arg(file);
    else if (own)
        text = QStringLiteral("Showing %1.%2").arg(file, paused ? QString() : QStringLiteral(" Recording is off."));
    else
        text = QStringLiteral("Showing %1 (not being recorded).").arg(file);
    if (paused)
        text += QLatin1Char(' ') + recorder_.pauseReason();
    auto *line = static_cast<OneLineLabel *>(fileLabel_);
    line->setForegroundRole(paused ? QPalette::Link : QPalette::WindowText);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Link, QColor(0xA0, 0x30, 0x00));
    line->setPalette(pal);
    line->setLine(text);
}

QStringList TrendPage::recordingChoices() const
{
    QStringList out;
    for (int i = 0; i < choices_->count(); ++i)
        out << choices_->itemData(i).toString();
    return out;
}

void TrendPage::refreshChoices()
{
    const QString own = recorder_.controllerFile();
    QStringList paths;
    if (!own.isEmpty())
        paths << QFileInfo(own).absoluteFilePath();
    const QDir folder(recorder_.trendsFolder());
    for (const QFileInfo &f : folder.entryInfoList({QStringLiteral("*.trend.sqlite")}, QDir::Files, QDir::Name)) {
        if (!paths.contains(f.absoluteFilePath()))
            paths << f.absoluteFilePath();
    }
    if (!path_.isEmpty() && !paths.contains(QFileInfo(path_).absoluteFilePath()))
        paths << QFileInfo(path_).absoluteFilePath();
    if (paths == recordingChoices()) {
        choices_->setCurrentIndex(int(paths.indexOf(QFileInfo(path_).absoluteFilePath())));
        return;
    }
    const QSignalBlocker block(choices_);
    choices_->clear();
    for (const QString &p : std::as_const(paths)) {
        const bool mine = !own.isEmpty() && p == QFileInfo(own).absoluteFilePath();
        choices_->addItem(QFileInfo(p).fileName() + (mine ? QStringLiteral("  (this controller)") : QString()), p);
        choices_->setItemData(choices_->count() - 1, QDir::toNativeSeparators(p), Qt::ToolTipRole);
    }
    if (paths.isEmpty())
        choices_->addItem(QStringLiteral("no recording yet"));
    choices_->setCurrentIndex(int(paths.indexOf(QFileInfo(path_).absoluteFilePath())));
}

bool TrendPage::openRecording(const QString &path)
{
    auto store = std::make_unique<trend::TrendStore>();
    QString error;
    if (!store->open(path, trend::TrendStore::Mode::Read, error)) {
        static_cast<OneLineLabel *>(fileLabel_)->setLine(QStringLiteral("The recording cannot be read: %1").arg(error));
        Q_EMIT messageRequested(QStringLiteral("The trend recording cannot be read: %1").arg(error), true);
        refreshChoices();
        return false;
    }
    store_ = std::move(store);
    path_ = path;
    followRecorder_ = path == recorder_.filePath();
    // The resolution of each channel, from the newest status (the set voltage's scale depends
    // on its value).
    trend::Registers probe{};
    if (const auto span = store_->span()) {
        const QList<trend::StatusRow> newest = store_->statuses(span->last, span->last);
        if (!newest.isEmpty())
            probe = newest.last().registers;
    }
    decimals_ = trend::channelDecimals(probe);
    updateFileLine();
    refreshChoices();
    if (live_ || to_ <= from_)
        showLast(live_ ? liveSpan_ : 0);
    else
        reload();
    return true;
}

void TrendPage::setChannelShown(int channel, bool shown)
{
    if (channel < 0 || channel >= ChannelCount || shown_.contains(channel) == shown)
        return;
    if (shown) {
        shown_.append(channel);
        std::sort(shown_.begin(), shown_.end());
    } else {
        shown_.removeAll(channel);
    }
    // The picker follows (its signal comes back here and finds nothing to do).
    if (QTreeWidgetItem *item = pickerItems_.value(channel); item && (item->checkState(0) == Qt::Checked) != shown)
        item->setCheckState(0, shown ? Qt::Checked : Qt::Unchecked);
    reload();
}

qint64 TrendPage::liveEnd()
{
    // The recorder's own file ends at the newest status it was given, whatever times a clock
    // that was ahead left in the file.
    if (!path_.isEmpty() && path_ == recorder_.filePath() && recorder_.lastStatusTime() > 0)
        return recorder_.lastStatusTime();
    const auto last = store_ ? store_->lastWritten() : std::nullopt;
    return last ? *last : QDateTime::currentMSecsSinceEpoch();
}

void TrendPage::setSpan(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    setLive(false);
    applySpan(from, to);
}

void TrendPage::applySpan(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    from_ = from;
    to_ = to;
    reload();
}

void TrendPage::showLast(qint64 spanMs)
{
    chart_->resetValueZoom();
    liveSpan_ = std::max<qint64>(spanMs, 0);
    const qint64 newest = liveEnd();
    if (spanMs <= 0) {
        const auto span = store_ ? store_->span() : std::nullopt;
        const qint64 first = span ? std::min(span->first, newest) : newest - 10 * MinuteMs;
        const qint64 last = span && !live_ ? std::max(span->last, newest) : newest;
        const qint64 pad = std::max<qint64>((last - first) / 50, 1000);
        applySpan(first - pad, last + pad);
        return;
    }
    applySpan(newest - spanMs, newest + spanMs / 50);
}

void TrendPage::setLive(bool live)
{
    const bool changed = live != live_;
    live_ = live;
    if (liveBox_->isChecked() != live)
        liveBox_->setChecked(live);
    if (live && changed && store_)
        showLast(liveSpan_);
}

void TrendPage::onRecorderFlushed()
{
    const QString path = recorder_.filePath();
    if (path.isEmpty())
        return;
    if (!store_ || (path != path_ && (path_.isEmpty() || followRecorder_))) {
        openRecording(path);
        return;
    }
    if (!isVisible())
        return;
    if (!recordingChoices().contains(QFileInfo(path).absoluteFilePath()))
        refreshChoices();
    if (live_ && path == path_)
        showLast(liveSpan_);
}

void TrendPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshChoices();
    if (!store_ && QFileInfo::exists(recorder_.controllerFile()))
        openRecording(recorder_.controllerFile());
    else if (live_ && store_)
        showLast(liveSpan_);
}

qint64 TrendPage::gapThresholdMs(qint64 stepMs) const
{
    return std::max(store_ ? store_->gapThresholdMs() : 3000, stepMs);
}

void TrendPage::reload()
{
    if (reloading_ || to_ <= from_)
        return;
    reloading_ = true;
    chart_->setSpan(from_, to_);
    const qint64 span = to_ - from_;
    QList<int> asked = shown_;
    asked.append(trend::ClockOffsetChannel); // for the clock note
    QList<QList<Bucket>> data;
    // The axes take their room after the data: read again when that leaves fewer pixels.
    for (int pass = 0; pass < 2; ++pass) {
        const int pixels = std::max(200, chart_->plotArea().width());
        const qint64 step = trend::drawStepMs(span, pixels);
        data = store_ ? store_->buckets(asked, from_, to_, step) : QList<QList<Bucket>>(asked.size());
        const qint64 gap = gapThresholdMs(step);
        QList<TrendChart::Series> series;
        for (qsizetype i = 0; i < shown_.size(); ++i) {
            const int c = shown_.at(i);
            const auto &ch = channels()[size_t(c)];
            TrendChart::Series s;
            s.channel = c;
            s.name = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(ch.caption), QString::fromUtf8(ch.unit));
            s.unit = QString::fromUtf8(ch.unit);
            s.quantity = int(ch.quantity);
            s.decimals = decimals_[size_t(c)];
            s.colour = TrendChart::channelColour(c);
            const Bucket *previous = nullptr;
            for (const Bucket &b : data.at(i)) {
                // No line across a time without statuses.
                if (!previous || b.first - previous->last > gap)
                    s.segments.append(QList<QPointF>());
                // Both ends of the bucket: the line reaches its lowest and its highest value.
                s.segments.last().append({double(b.t), b.min});
                s.segments.last().append({double(b.t + step / 2), b.max});
                previous = &b;
            }
            series.append(s);
        }
        chart_->setSeries(series);
        if (chart_->plotArea().width() >= pixels || pixels <= 200)
            break;
    }

    QString empty;
    if (!store_)
        empty = QStringLiteral("No recording yet: connect to a controller, or choose a recording above.");
    else if (shown_.isEmpty())
        empty = QStringLiteral("Tick the channels to draw on the left.");
    else if (std::all_of(data.cbegin(), data.cend() - 1, [](const QList<Bucket> &d) { return d.isEmpty(); }))
        empty = QStringLiteral("No status was recorded in this span.");
    chart_->setEmptyNote(empty);

    // The controller's clock against this PC's, by its newest value in the span.
    QString note;
    if (!data.isEmpty() && !data.last().isEmpty()) {
        const qint64 offset = std::llround(data.last().last().mean);
        if (offset == 0)
            note = QStringLiteral("Controller clock within 1 s of this PC");
        else
            note = QStringLiteral("Controller clock %1 %2 this PC")
                       .arg(durationText(std::llabs(offset) * 1000), offset > 0 ? QStringLiteral("ahead of") : QStringLiteral("behind"));
    }
    chart_->setClockNote(note);

    events_ = store_ ? store_->events(from_, to_) : QList<trend::Event>();
    chart_->setEvents(events_);
    chart_->setCursor(0, cursors_[0]);
    chart_->setCursor(1, cursors_[1]);
    updateTable();
    reloading_ = false;
}

void TrendPage::setCursor(int which, qint64 time)
{
    if (which < 0 || which > 1)
        return;
    cursors_[size_t(which)] = time;
    chart_->setCursor(which, time);
    updateTable();
}

QString TrendPage::markerTextNear(qint64 time) const
{
    const trend::Event *best = nullptr;
    for (const trend::Event &e : events_) {
        if (!best || std::llabs(e.t - time) < std::llabs(best->t - time))
            best = &e;
    }
    return best ? TrendChart::eventText(*best) : QString();
}

QList<QPointF> TrendPage::drawnPoints(int channel) const
{
    return chart_->points(channel);
}

QList<QList<QPointF>> TrendPage::drawnSegments(int channel) const
{
    return chart_->segments(channel);
}

QString TrendPage::exportShown(bool workbook)
{
    if (!store_) {
        Q_EMIT messageRequested(QStringLiteral("There is no recording to export yet: connect, or switch "
                                               "recording on."),
                                true);
        return QString();
    }
    const qint64 span = to_ - from_;
    // Every status up to a day; longer spans per minute, then per hour, with min and max.
    const qint64 step = span <= DayMs ? 0 : span <= 31 * DayMs ? MinuteMs : HourMs;
    const QString model = store_->meta(QStringLiteral("model")).trimmed();
    const QString name = QStringLiteral("trend_%1%2.%3")
                             .arg(model.isEmpty() ? QString() : model + QLatin1Char('_'),
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                  workbook ? QStringLiteral("xlsx") : QStringLiteral("csv"));
    QString error;
    qint64 rows = 0;
    const QString folder = outputFolder_.isEmpty() ? QDir::currentPath() : outputFolder_;
    const QString written = trend::exportTrendInto(*store_, {shownChannels(), from_, to_, step}, folder, name, error, &rows);
    if (written.isEmpty())
        Q_EMIT messageRequested(QStringLiteral("The trend could not be exported: %1. Choose another output folder "
                                               "on the log page and try again.")
                                    .arg(error),
                                true);
    else
        Q_EMIT messageRequested(QStringLiteral("%1 rows exported to %2").arg(rows).arg(QDir::toNativeSeparators(written)),
                                false);
    return written;
}

} // namespace qeln
