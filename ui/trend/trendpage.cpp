#include "trendpage.h"

#include "trend/recorder.h"
#include "trend/trendexport.h"
#include "trendchartview.h"

#include <QChart>
#include <QCheckBox>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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
const char *const Units[] = {"V", "A", "°C", "%", "s"};

// A colour per channel, stable from session to session.
QColor channelColour(int channel)
{
    static const QColor palette[] = {QColor(0x1f77b4), QColor(0xd62728), QColor(0x2ca02c), QColor(0xff7f0e),
                                     QColor(0x9467bd), QColor(0x8c564b), QColor(0xe377c2), QColor(0x17becf),
                                     QColor(0xbcbd22), QColor(0x7f7f7f)};
    return palette[channel % 10];
}

QString durationText(qint64 ms)
{
    const qint64 s = std::llabs(ms) / 1000;
    const qint64 d = s / 86400, h = s % 86400 / 3600, m = s % 3600 / 60, sec = s % 60;
    QString out;
    if (d)
        out += QStringLiteral("%1 d ").arg(d);
    if (d || h)
        out += QStringLiteral("%1 h ").arg(h);
    if (d || h || m)
        out += QStringLiteral("%1 min ").arg(m);
    out += QStringLiteral("%1 s").arg(sec);
    return (ms < 0 ? QStringLiteral("-") : QString()) + out;
}

QString valueText(std::optional<double> v, const char *unit)
{
    if (!v)
        return QStringLiteral("—");
    return trend::numberText(std::round(*v * 1000) / 1000) + QLatin1Char(' ') + QString::fromUtf8(unit);
}

} // namespace

TrendPage::TrendPage(trend::Recorder &recorder, QWidget *parent)
    : QWidget(parent)
    , recorder_(recorder)
{
    setObjectName(QStringLiteral("TrendPage"));
    buildChart();
    buildControls();
    for (int c : {2, 7, 9})
        setChannelShown(c, true);
    connect(&recorder_, &trend::Recorder::flushed, this, &TrendPage::onRecorderFlushed);
    connect(&recorder_, &trend::Recorder::enabledChanged, record_, &QCheckBox::setChecked);
}

TrendPage::~TrendPage() = default;

void TrendPage::buildChart()
{
    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setTickCount(6);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    for (int q = 0; q < QuantityCount; ++q) {
        auto *axis = new QValueAxis;
        axis->setTitleText(QString::fromUtf8(Units[q]));
        axis->setLabelFormat(QStringLiteral("%.1f"));
        chart_->addAxis(axis, q % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
        axis->setVisible(false);
        unitAxes_[size_t(q)] = axis;
    }
    overlayAxis_ = new QValueAxis;
    overlayAxis_->setRange(0, 1);
    chart_->addAxis(overlayAxis_, Qt::AlignRight);
    overlayAxis_->setVisible(false);

    for (int i = 0; i < 2; ++i) {
        auto *line = new QLineSeries;
        line->setName(i == 0 ? QStringLiteral("A") : QStringLiteral("B"));
        line->setPen(QPen(i == 0 ? QColor(0x202020) : QColor(0x606060), 1, i == 0 ? Qt::SolidLine : Qt::DashLine));
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(overlayAxis_);
        cursorLines_[size_t(i)] = line;
    }
    alarmMarkers_ = new QScatterSeries;
    alarmMarkers_->setName(QStringLiteral("alarms"));
    alarmMarkers_->setColor(QColor(0xd00000));
    alarmMarkers_->setMarkerSize(9);
    writeMarkers_ = new QScatterSeries;
    writeMarkers_->setName(QStringLiteral("writes"));
    writeMarkers_->setColor(QColor(0x0050d0));
    writeMarkers_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    writeMarkers_->setMarkerSize(8);
    for (QScatterSeries *markers : {alarmMarkers_, writeMarkers_}) {
        chart_->addSeries(markers);
        markers->attachAxis(timeAxis_);
        markers->attachAxis(overlayAxis_);
        connect(markers, &QScatterSeries::hovered, this, &TrendPage::onMarkerHovered);
    }
    for (QLineSeries *line : cursorLines_)
        chart_->legend()->markers(line).first()->setVisible(false);

    view_ = new TrendChartView(chart_, this);
    view_->setObjectName(QStringLiteral("TrendChart"));
    connect(view_, &TrendChartView::spanRequested, this, [this](qint64 from, qint64 to) {
        setLive(false);
        setSpan(from, to);
    });
    connect(view_, &TrendChartView::rectangleZoomed, this, &TrendPage::onRectangleZoomed);
    connect(view_, &TrendChartView::cursorPlaced, this, &TrendPage::setCursor);
}

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
    picker_->setMaximumWidth(190);
    QTreeWidgetItem *groups[QuantityCount] = {};
    for (int q = 0; q < QuantityCount; ++q) {
        groups[q] = new QTreeWidgetItem(picker_, {QString::fromUtf8(QuantityCaptions[q])});
        groups[q]->setFlags(Qt::ItemIsEnabled);
    }
    for (int c = 0; c < ChannelCount; ++c) {
        const auto &ch = channels()[size_t(c)];
        auto *item = new QTreeWidgetItem(groups[int(ch.quantity)], {QString::fromUtf8(ch.caption)});
        item->setData(0, Qt::UserRole, c);
        item->setToolTip(0, QString::fromLatin1(ch.name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setForeground(0, channelColour(c));
        pickerItems_.insert(c, item);
    }
    picker_->expandAll();
    connect(picker_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) {
        const QVariant c = item->data(0, Qt::UserRole);
        if (c.isValid())
            setChannelShown(c.toInt(), item->checkState(0) == Qt::Checked);
    });

    fileLabel_ = new QLabel(this);
    fileLabel_->setObjectName(QStringLiteral("TrendFile"));
    fileLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    delta_ = new QLabel(this);
    delta_->setObjectName(QStringLiteral("TrendDelta"));
    table_ = new QTableWidget(0, 7, this);
    table_->setObjectName(QStringLiteral("TrendCursors"));
    table_->setHorizontalHeaderLabels({QStringLiteral("channel"), QStringLiteral("at A"), QStringLiteral("at B"),
                                       QStringLiteral("B − A"), QStringLiteral("min"), QStringLiteral("mean"),
                                       QStringLiteral("max")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->setMaximumHeight(130);

    auto *right = new QVBoxLayout;
    right->addWidget(view_, 1);
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
    delta_->setText(QStringLiteral("Click the chart for cursor A, Shift+click for cursor B; drag a rectangle to "
                                   "zoom, the wheel zooms the time, the right button pans."));
}

bool TrendPage::openRecording(const QString &path)
{
    auto store = std::make_unique<trend::TrendStore>();
    QString error;
    if (!store->open(path, trend::TrendStore::Mode::Read, error)) {
        fileLabel_->setText(QStringLiteral("The recording cannot be read: %1").arg(error));
        Q_EMIT messageRequested(QStringLiteral("The trend recording cannot be read: %1").arg(error), true);
        return false;
    }
    store_ = std::move(store);
    path_ = path;
    fileLabel_->setText(QStringLiteral("Recording: %1").arg(QDir::toNativeSeparators(path)));
    if (live_ || to_ <= from_)
        showLast(live_ ? liveSpan_ : 0);
    else
        reload();
    return true;
}

QList<int> TrendPage::shownChannels() const
{
    QList<int> out;
    for (auto it = series_.cbegin(); it != series_.cend(); ++it)
        out << it.key();
    std::sort(out.begin(), out.end());
    return out;
}

void TrendPage::setChannelShown(int channel, bool shown)
{
    if (channel < 0 || channel >= ChannelCount || series_.contains(channel) == shown)
        return;
    if (shown) {
        auto *line = new QLineSeries;
        const auto &ch = channels()[size_t(channel)];
        line->setName(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(ch.caption), QString::fromUtf8(ch.unit)));
        line->setColor(channelColour(channel));
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(axisFor(channel));
        series_.insert(channel, line);
    } else {
        QLineSeries *line = series_.take(channel);
        chart_->removeSeries(line);
        delete line;
    }
    // The picker follows (its signal comes back here and finds nothing to do).
    if (QTreeWidgetItem *item = pickerItems_.value(channel); item && (item->checkState(0) == Qt::Checked) != shown)
        item->setCheckState(0, shown ? Qt::Checked : Qt::Unchecked);
    updateAxesVisibility();
    reload();
}

QValueAxis *TrendPage::axisFor(int channel) const
{
    return unitAxes_[size_t(channels()[size_t(channel)].quantity)];
}

void TrendPage::updateAxesVisibility()
{
    for (int q = 0; q < QuantityCount; ++q) {
        bool any = false;
        for (int c : shownChannels())
            any = any || int(channels()[size_t(c)].quantity) == q;
        unitAxes_[size_t(q)]->setVisible(any);
    }
}

void TrendPage::setSpan(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    from_ = from;
    to_ = to;
    reload();
}

void TrendPage::showLast(qint64 spanMs)
{
    keepY_ = false;
    const auto span = store_ ? store_->span() : std::nullopt;
    const qint64 newest = span ? span->last : QDateTime::currentMSecsSinceEpoch();
    if (spanMs <= 0) {
        const qint64 first = span ? span->first : newest - 10 * MinuteMs;
        const qint64 pad = std::max<qint64>((newest - first) / 50, 1000);
        setSpan(first - pad, newest + pad);
        return;
    }
    liveSpan_ = spanMs;
    setSpan(newest - spanMs, newest + spanMs / 50);
}

void TrendPage::setLive(bool live)
{
    live_ = live;
    if (liveBox_->isChecked() != live)
        liveBox_->setChecked(live);
    if (live && store_)
        showLast(liveSpan_);
}

void TrendPage::onRecorderFlushed()
{
    const QString path = recorder_.filePath();
    if (path.isEmpty())
        return;
    if (path != path_ || !store_) {
        openRecording(path);
        return;
    }
    if (live_ && isVisible())
        showLast(liveSpan_);
}

void TrendPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!store_ && !recorder_.filePath().isEmpty())
        openRecording(recorder_.filePath());
    else if (live_ && store_)
        showLast(liveSpan_);
}

void TrendPage::onRectangleZoomed(qint64 from, qint64 to, double top, double bottom)
{
    setLive(false);
    // The value axes take the rectangle's rows; the time axis its columns.
    const QRectF plot = chart_->plotArea();
    for (QValueAxis *axis : unitAxes_) {
        // A flat drag (a few pixels high) zooms the time only.
        if (!axis->isVisible() || plot.height() <= 0 || std::abs(bottom - top) < 4)
            continue;
        const double hi = axis->max() - (top - plot.top()) / plot.height() * (axis->max() - axis->min());
        const double lo = axis->max() - (bottom - plot.top()) / plot.height() * (axis->max() - axis->min());
        axis->setRange(std::min(lo, hi), std::max(lo, hi));
        keepY_ = true;
    }
    setSpan(std::min(from, to), std::max(from, to));
}

void TrendPage::reload()
{
    if (reloading_ || to_ <= from_)
        return;
    reloading_ = true;
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from_), QDateTime::fromMSecsSinceEpoch(to_));
    const qint64 span = to_ - from_;
    timeAxis_->setFormat(span <= DayMs ? QStringLiteral("HH:mm:ss")
                         : span <= 7 * DayMs ? QStringLiteral("MM-dd HH:mm")
                                             : QStringLiteral("yyyy-MM-dd"));
    const QList<int> shown = shownChannels();
    const int pixels = std::max(200, int(chart_->plotArea().width()));
    const qint64 step = trend::drawStepMs(span, pixels);
    const QList<QList<Bucket>> data = store_ ? store_->buckets(shown, from_, to_, step) : QList<QList<Bucket>>(shown.size());
    std::array<double, QuantityCount> lo, hi;
    lo.fill(std::numeric_limits<double>::max());
    hi.fill(std::numeric_limits<double>::lowest());
    for (qsizetype i = 0; i < shown.size(); ++i) {
        QList<QPointF> points;
        points.reserve(data.at(i).size() * 2);
        for (const Bucket &b : data.at(i)) {
            // Both ends of the bucket: the line reaches its lowest and its highest value.
            points.append({double(b.t), b.min});
            points.append({double(b.t + step / 2), b.max});
            const int q = int(channels()[size_t(shown.at(i))].quantity);
            lo[size_t(q)] = std::min(lo[size_t(q)], b.min);
            hi[size_t(q)] = std::max(hi[size_t(q)], b.max);
        }
        series_.value(shown.at(i))->replace(points);
    }
    if (!keepY_) {
        for (int q = 0; q < QuantityCount; ++q) {
            if (lo[size_t(q)] > hi[size_t(q)])
                continue;
            const double pad = std::max((hi[size_t(q)] - lo[size_t(q)]) * 0.05, 0.5);
            unitAxes_[size_t(q)]->setRange(lo[size_t(q)] - pad, hi[size_t(q)] + pad);
        }
    }

    events_ = store_ ? store_->events(from_, to_) : QList<trend::Event>();
    QList<QPointF> alarms, writes;
    for (const trend::Event &e : events_)
        (e.kind == trend::EventKind::Write ? writes : alarms).append({double(e.t), e.kind == trend::EventKind::Write ? 0.06 : 0.03});
    alarmMarkers_->replace(alarms);
    writeMarkers_->replace(writes);
    redrawCursors();
    updateTable();
    reloading_ = false;
}

void TrendPage::setCursor(int which, qint64 time)
{
    if (which < 0 || which > 1)
        return;
    cursors_[size_t(which)] = time;
    redrawCursors();
    updateTable();
}

void TrendPage::redrawCursors()
{
    for (int i = 0; i < 2; ++i) {
        QList<QPointF> line;
        if (cursors_[size_t(i)])
            line = {{double(*cursors_[size_t(i)]), 0.0}, {double(*cursors_[size_t(i)]), 1.0}};
        cursorLines_[size_t(i)]->replace(line);
    }
}

std::optional<double> TrendPage::valueAt(int channel, qint64 time)
{
    if (!store_)
        return std::nullopt;
    // The value in effect at the cursor: the last status at or before it (within five minutes),
    // else the first one after it, for a cursor before the recording starts.
    const QList<trend::StatusRow> rows = store_->statuses(time - 5 * MinuteMs, time + 5 * MinuteMs);
    const trend::StatusRow *before = nullptr;
    const trend::StatusRow *after = nullptr;
    for (const trend::StatusRow &row : rows) {
        if (!trend::hasValue(row.values[size_t(channel)]))
            continue;
        if (row.t <= time)
            before = &row;
        else if (!after)
            after = &row;
    }
    const trend::StatusRow *best = before ? before : after;
    return best ? std::optional<double>(best->values[size_t(channel)]) : std::nullopt;
}

QString TrendPage::deltaText() const
{
    return delta_->text();
}

void TrendPage::updateTable()
{
    const QList<int> shown = shownChannels();
    const auto a = cursors_[0], b = cursors_[1];
    if (a && b)
        delta_->setText(QStringLiteral("A %1, B %2, Δt = %3")
                            .arg(QDateTime::fromMSecsSinceEpoch(*a).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                 QDateTime::fromMSecsSinceEpoch(*b).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                 durationText(*b - *a)));
    else if (a || b)
        delta_->setText(QStringLiteral("%1 %2; Shift+click (or click) places the other cursor")
                            .arg(a ? QStringLiteral("A") : QStringLiteral("B"),
                                 QDateTime::fromMSecsSinceEpoch(a ? *a : *b).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    table_->setRowCount(int(shown.size()));
    // Min, mean and max between the cursors: from the statuses up to six hours apart, from the
    // minute summaries beyond.
    QList<QList<Bucket>> between;
    if (a && b && store_) {
        const qint64 lo = std::min(*a, *b), hi = std::max(*a, *b);
        between = hi - lo <= 6 * HourMs ? store_->buckets(shown, lo, hi, std::max<qint64>(hi - lo + 1, 1000))
                                        : store_->buckets(shown, lo, hi, MinuteMs);
    }
    for (qsizetype row = 0; row < shown.size(); ++row) {
        const int c = shown.at(row);
        const char *unit = channels()[size_t(c)].unit;
        const auto va = a ? valueAt(c, *a) : std::nullopt;
        const auto vb = b ? valueAt(c, *b) : std::nullopt;
        std::optional<double> mn, mx, mean;
        if (row < between.size() && !between.at(row).isEmpty()) {
            double sum = 0;
            qint64 n = 0;
            for (const Bucket &k : between.at(row)) {
                mn = mn ? std::min(*mn, k.min) : k.min;
                mx = mx ? std::max(*mx, k.max) : k.max;
                sum += k.mean * double(k.n);
                n += k.n;
            }
            if (n > 0)
                mean = sum / double(n);
        }
        const QString cells[7] = {QString::fromUtf8(channels()[size_t(c)].caption), valueText(va, unit), valueText(vb, unit),
                                  valueText(va && vb ? std::optional<double>(*vb - *va) : std::nullopt, unit),
                                  valueText(mn, unit), valueText(mean, unit), valueText(mx, unit)};
        for (int col = 0; col < 7; ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            if (col == 0)
                item->setForeground(channelColour(c));
            table_->setItem(int(row), col, item);
        }
    }
}

QString TrendPage::markerTextNear(qint64 time) const
{
    const trend::Event *best = nullptr;
    for (const trend::Event &e : events_) {
        if (!best || std::llabs(e.t - time) < std::llabs(best->t - time))
            best = &e;
    }
    if (!best)
        return QString();
    const QString what = best->kind == trend::EventKind::AlarmStarted   ? QStringLiteral("alarm started")
                         : best->kind == trend::EventKind::AlarmCleared ? QStringLiteral("alarm cleared")
                                                                        : QStringLiteral("write");
    return QStringLiteral("%1  %2: %3")
        .arg(QDateTime::fromMSecsSinceEpoch(best->t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), what, best->text);
}

void TrendPage::onMarkerHovered(const QPointF &point, bool state)
{
    if (state)
        QToolTip::showText(QCursor::pos(), markerTextNear(qint64(point.x())), view_);
    else
        QToolTip::hideText();
}

QList<QPointF> TrendPage::drawnPoints(int channel) const
{
    const QLineSeries *line = series_.value(channel);
    return line ? line->points() : QList<QPointF>();
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
    const trend::TrendTable table = trend::trendTable(*store_, shownChannels(), from_, to_, step);
    const QString model = store_->meta(QStringLiteral("model")).trimmed();
    const QString name = QStringLiteral("trend_%1%2.%3")
                             .arg(model.isEmpty() ? QString() : model + QLatin1Char('_'),
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                  workbook ? QStringLiteral("xlsx") : QStringLiteral("csv"));
    QString error;
    const QString folder = outputFolder_.isEmpty() ? QDir::currentPath() : outputFolder_;
    const QString written = trend::writeTrendFileInto(folder, name, table, error);
    if (written.isEmpty())
        Q_EMIT messageRequested(QStringLiteral("The trend could not be exported: %1. Choose another output folder "
                                               "on the log page and try again.")
                                    .arg(error),
                                true);
    else
        Q_EMIT messageRequested(QStringLiteral("%1 rows exported to %2").arg(table.rows.size()).arg(QDir::toNativeSeparators(written)),
                                false);
    return written;
}

} // namespace qeln
