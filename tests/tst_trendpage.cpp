// The trend page on a known recording: the cursor table against the recorded values, the
// markers and their texts, a one-status spike drawn at every span, no line across a gap, the
// mouse (click, Shift+click, dragged rectangle, wheel), the value axes shown, round ticks,
// live with the quick spans on a recorder's own file, and exports that never replace a file.

#include "plant/plantstatus.h"
#include "trend/recorder.h"
#include "trend/trendchart.h"
#include "trend/trendpage.h"
#include "trend/trendticks.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <cmath>

using namespace qeln;
using namespace qeln::trend;

namespace {

constexpr qint64 Start = 1'796'688'000'000;
constexpr qint64 SpikeAt = Start + 2000 * 1000;
constexpr double Spike = 58.7;

// An hour at 1 Hz: DC voltage 52.0 + t/1000 V (t in seconds), one spike; battery current
// -5 A for the first half hour, then 3 A; no battery pack in the last ten minutes.
double dcAt(qint64 t)
{
    return t == SpikeAt ? Spike : 52.0 + double((t - Start) / 1000) / 1000.0;
}

void makeRecording(const QString &path)
{
    TrendStore store;
    QString error;
    QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
    for (qint64 t = Start; t < Start + trend::HourMs; t += 1000) {
        StatusRow row;
        row.t = t;
        row.values.fill(NoValue);
        row.values[0] = 230.0 + double((t - Start) / 1000 % 7);
        row.values[2] = dcAt(t);
        row.values[7] = t < Start + 1800'000 ? -5.0 : 3.0;
        if (t < Start + 3000'000)
            row.values[9] = 90.0;
        store.add(row);
    }
    store.addEvent({Start + 600'000, EventKind::AlarmStarted, QStringLiteral("AC Input Fail")});
    store.addEvent({Start + 1800'000, EventKind::AlarmCleared, QStringLiteral("AC Input Fail")});
    store.addEvent({Start + 2400'000, EventKind::Write, QStringLiteral("register 12 = 530 (운전 설정)")});
    QVERIFY2(store.flush(error), qPrintable(error));
}

QString cell(TrendPage &page, int channel, int column)
{
    const int row = int(page.shownChannels().indexOf(channel));
    QTableWidgetItem *item = page.cursorTable()->item(row, column);
    return item ? item->text() : QStringLiteral("(none)");
}

// Ten minutes at a 1 s poll from `Start`, with `gapMs` between two statuses in the middle;
// `pollMs` noted in the recording when not 0.
void makeGappedRecording(const QString &path, qint64 gapMs, int pollMs)
{
    TrendStore store;
    QString error;
    QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
    if (pollMs)
        store.setMeta(QStringLiteral("poll_ms"), QString::number(pollMs));
    qint64 t = Start;
    for (int i = 0; i < 600; ++i) {
        StatusRow row;
        row.t = t;
        row.values.fill(NoValue);
        row.values[2] = 54.0;
        store.add(row);
        t += i == 300 ? gapMs : 1000;
    }
    QVERIFY2(store.flush(error), qPrintable(error));
}

// A status as the recorder is given it: all registers zero but the DC voltage.
PlantStatus plantStatus()
{
    RegisterBlock block{};
    block[8] = 540;
    static const ConsoleState fresh;
    return decodePlantStatus(block, fresh, fresh.ModelText);
}

double highest(const QList<QPointF> &points)
{
    double top = -1e9;
    for (const QPointF &p : points)
        top = std::max(top, p.y());
    return top;
}

} // namespace

class TestTrendPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cursorTable_data();
    void cursorTable();
    void markers();
    void spikeAtEverySpan_data();
    void spikeAtEverySpan();
    void gaps_data();
    void gaps();
    void mouse();
    void valueAxes_data();
    void valueAxes();
    void valueTicks_data();
    void valueTicks();
    void timeTicks_data();
    void timeTicks();
    void liveWithQuickSpans();
    void exportsNeverReplace();
    void controllerRecordedElsewhere();
    void pictures();

private:
    QTemporaryDir dir_;
    QString path_;
    Recorder recorder_;
    std::unique_ptr<TrendPage> page_;
};

void TestTrendPage::initTestCase()
{
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("known.trend.sqlite"));
    makeRecording(path_);
    recorder_.setEnabled(false);
    page_ = std::make_unique<TrendPage>(recorder_);
    page_->setOutputFolder(dir_.path());
    page_->resize(900, 650);
    page_->show();
    QVERIFY(page_->openRecording(path_));
    page_->setLive(false);
    QTRY_VERIFY(page_->chart()->plotArea().width() > 300);
    QVERIFY(page_->fileText().contains(QLatin1String("not being recorded")));
    page_->showLast(0);
}

void TestTrendPage::cursorTable_data()
{
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("cellText"); // at A | at B | B - A | min | mean | max
    QTest::addColumn<QString>("delta");
    // DC voltage rises 1 mV a second: 10 minutes from 5 min in are 52.3 .. 52.9 V.
    QTest::newRow("dc voltage, 10 min") << Start + 300'000 << Start + 900'000 << 2
                                        << "52.3 V|52.9 V|0.6 V|52.3 V|52.6 V|52.9 V"
                                        << "Δt = 10 min 0 s";
    // Between two statuses a cursor reads the one in effect (the earlier), as min/max do.
    QTest::newRow("cursor between statuses") << Start + 300'000 << Start + 900'700 << 2
                                             << "52.3 V|52.9 V|0.6 V|52.3 V|52.6 V|52.9 V"
                                             << "Δt = 10 min 0 s";
    // At the channel's resolution, as the status page shows it: DC voltage in tenths.
    QTest::newRow("across the spike") << Start + 1990'000 << Start + 2010'000 << 2
                                      << "54.0 V|54.0 V|0.0 V|54.0 V|54.2 V|58.7 V"
                                      << "Δt = 20 s";
    QTest::newRow("battery current turns") << Start + 1700'000 << Start + 1900'000 << 7
                                           << "-5.0 A|3.0 A|8.0 A|-5.0 A|-1.0 A|3.0 A"
                                           << "Δt = 3 min 20 s";
    QTest::newRow("B before A") << Start + 900'000 << Start + 300'000 << 2
                                << "52.9 V|52.3 V|-0.6 V|52.3 V|52.6 V|52.9 V"
                                << "Δt = -10 min 0 s";
    // No battery pack after 50 minutes: no value at B, no difference.
    QTest::newRow("state of charge gone") << Start + 2900'000 << Start + 3500'000 << 9
                                          << "90 %|—|—|90 %|90 %|90 %"
                                          << "Δt = 10 min 0 s";
}

void TestTrendPage::cursorTable()
{
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(int, channel);
    QFETCH(QString, cellText);
    const QStringList cells = cellText.split(QLatin1Char('|'));
    QFETCH(QString, delta);
    page_->setChannelShown(channel, true);
    page_->setCursor(0, a);
    page_->setCursor(1, b);
    for (int column = 1; column <= 6; ++column)
        QCOMPARE(cell(*page_, channel, column), cells.at(column - 1));
    QVERIFY2(page_->deltaText().endsWith(delta), qPrintable(page_->deltaText()));
}

void TestTrendPage::markers()
{
    page_->setSpan(Start, Start + 2000'000);
    const QList<Event> shown = page_->markers();
    QCOMPARE(shown.size(), 2); // the write at 40 min lies outside
    QVERIFY(page_->markerTextNear(Start + 1790'000).contains(QLatin1String("alarm cleared: AC Input Fail")));
    QVERIFY(page_->markerTextNear(Start + 590'000).contains(QLatin1String("alarm started: AC Input Fail")));
    page_->showLast(0);
    QCOMPARE(page_->markers().size(), 3);
    QVERIFY(page_->markerTextNear(Start + 2400'000).contains(QStringLiteral("write: register 12 = 530 (운전 설정)")));
    // Hovering: the text within a few pixels of a marker, nothing away from them.
    TrendChart *chart = page_->chart();
    const QPoint write = chart->markerPosition(2);
    QVERIFY(chart->markerTextAt(write + QPoint(7, 3)).contains(QLatin1String("write: register 12")));
    QVERIFY(chart->markerTextAt(write - QPoint(7, 0)).contains(QLatin1String("write: register 12")));
    QVERIFY(chart->markerTextAt(write + QPoint(30, 0)).isEmpty());
    QVERIFY(chart->markerTextAt(write - QPoint(0, 60)).isEmpty());
    const QPoint near = write + QPoint(6, 0);
    QMouseEvent hover(QEvent::MouseMove, near, chart->mapToGlobal(near), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(chart, &hover);
    QTRY_VERIFY2(QToolTip::text().contains(QLatin1String("write: register 12")), qPrintable(QToolTip::text()));
}

void TestTrendPage::spikeAtEverySpan_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::newRow("1 min") << SpikeAt - 30'000 << SpikeAt + 30'000;
    QTest::newRow("10 min") << SpikeAt - 300'000 << SpikeAt + 300'000;
    QTest::newRow("the hour") << Start << Start + trend::HourMs;
    QTest::newRow("a week around it") << Start - 3 * trend::DayMs << Start + 4 * trend::DayMs;
}

void TestTrendPage::spikeAtEverySpan()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    page_->setChannelShown(2, true);
    page_->setSpan(from, to);
    QCOMPARE(highest(page_->drawnPoints(2)), Spike);
    QVERIFY(page_->drawnPoints(2).size() <= 2 * int(page_->chart()->plotArea().width()) + 4);
}

void TestTrendPage::gaps_data()
{
    QTest::addColumn<qint64>("gapMs");
    QTest::addColumn<int>("pollMs"); // noted in the recording; 0: none (1 s)
    QTest::addColumn<qint64>("shownMs");
    QTest::addColumn<int>("lines");
    QTest::newRow("a held poll of 10 s") << qint64(10'000) << 0 << qint64(10 * 60'000) << 2;
    QTest::newRow("a jitter of 1.5 s") << qint64(1'500) << 0 << qint64(10 * 60'000) << 1;
    QTest::newRow("10 s at a 5 s poll") << qint64(10'000) << 5000 << qint64(10 * 60'000) << 1;
    QTest::newRow("10 s in an hour") << qint64(10'000) << 0 << trend::HourMs << 2;
    QTest::newRow("10 s in a day: minute buckets") << qint64(10'000) << 0 << trend::DayMs << 1;
    QTest::newRow("10 min in a day") << qint64(600'000) << 0 << trend::DayMs << 2;
}

void TestTrendPage::gaps()
{
    QFETCH(qint64, gapMs);
    QFETCH(int, pollMs);
    QFETCH(qint64, shownMs);
    QFETCH(int, lines);
    static int made = 0;
    const QString path = dir_.filePath(QStringLiteral("gap-%1.trend.sqlite").arg(++made));
    makeGappedRecording(path, gapMs, pollMs);
    TrendPage page(recorder_);
    page.resize(900, 650);
    page.show();
    QVERIFY(page.openRecording(path));
    page.setChannelShown(2, true);
    // The recording in the middle of the span: nothing drawn before or after it.
    page.setSpan(Start + 300'000 - shownMs / 2, Start + 300'000 + shownMs / 2);
    const QList<QList<QPointF>> drawn = page.drawnSegments(2);
    QCOMPARE(drawn.size(), lines);
    QVERIFY(drawn.first().first().x() >= double(Start - trend::HourMs));
}

void TestTrendPage::mouse()
{
    page_->setSpan(Start, Start + trend::HourMs);
    TrendChart *chart = page_->chart();
    const QRect plot = chart->plotArea();
    auto xAt = [&](double fraction) { return QPoint(plot.left() + int(fraction * plot.width()), plot.center().y()); };
    auto near = [](qint64 got, qint64 want) { return std::llabs(got - want) < 20'000; };

    QTest::mouseClick(chart, Qt::LeftButton, {}, xAt(0.25));
    QVERIFY2(near(*page_->cursor(0), Start + 900'000), qPrintable(QString::number(*page_->cursor(0) - Start)));
    // Placing a cursor moves nothing: Shift+click lands where it was aimed.
    QCOMPARE(chart->plotArea(), plot);
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, xAt(0.5));
    QVERIFY(near(*page_->cursor(1), Start + 1800'000));
    QCOMPARE(chart->plotArea(), plot);

    // A dragged rectangle from 10 % to 20 % of the hour becomes the span.
    const QList<TrendChart::ValueAxis> before = chart->valueAxes();
    auto drag = [&](QPoint from, QPoint to) {
        QTest::mousePress(chart, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, to, chart->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(chart, &move);
        QTest::mouseRelease(chart, Qt::LeftButton, {}, to);
    };
    drag(xAt(0.1), xAt(0.2) + QPoint(0, 40));
    QVERIFY(near(page_->spanFrom(), Start + 360'000));
    QVERIFY(near(page_->spanTo(), Start + 720'000));
    QVERIFY(!page_->isLive());
    QVERIFY(chart->valueAxes().first().ticks.hi < before.first().ticks.hi);

    // A flat drag zooms the time only.
    page_->showLast(0);
    const QList<TrendChart::ValueAxis> whole = chart->valueAxes();
    const qint64 middle = chart->timeAt(xAt(0.5)), threeQuarters = chart->timeAt(xAt(0.75));
    drag(xAt(0.5), xAt(0.75) + QPoint(0, 3));
    QVERIFY(near(page_->spanFrom(), middle) && near(page_->spanTo(), threeQuarters));
    QCOMPARE(chart->valueAxes().first().ticks.hi, whole.first().ticks.hi);

    // One wheel notch in: 80 % of the span, the time under the pointer where it was.
    page_->setSpan(Start, Start + trend::HourMs);
    const qint64 span = page_->spanTo() - page_->spanFrom();
    const qint64 under = chart->timeAt(xAt(0.3));
    QWheelEvent wheel(xAt(0.3), chart->mapToGlobal(xAt(0.3)), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
    QVERIFY(std::llabs((page_->spanTo() - page_->spanFrom()) - span * 8 / 10) < 1000);
    QVERIFY(std::llabs(chart->timeAt(xAt(0.3)) - under) < 2000);

    // A right drag pans: the time under the press follows the pointer.
    const qint64 grabbed = chart->timeAt(xAt(0.6));
    QTest::mousePress(chart, Qt::RightButton, {}, xAt(0.6));
    QMouseEvent pan(QEvent::MouseMove, xAt(0.4), chart->mapToGlobal(xAt(0.4)), Qt::NoButton, Qt::RightButton, {});
    QApplication::sendEvent(chart, &pan);
    QTest::mouseRelease(chart, Qt::RightButton, {}, xAt(0.4));
    QVERIFY(std::llabs(chart->timeAt(xAt(0.4)) - grabbed) < 2000);
}

void TestTrendPage::valueAxes_data()
{
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QString>("units");
    QTest::newRow("none") << QList<int>{} << "";
    QTest::newRow("DC voltage and a cell share volts") << QList<int>{2, 10} << "V";
    QTest::newRow("volts, amperes, percent") << QList<int>{2, 7, 9} << "V A %";
    // AC at 230 V would flatten DC at 52..54 V: an axis each.
    QTest::newRow("AC and DC voltage") << QList<int>{0, 2} << "V V";
    QTest::newRow("clock offset on its own axis") << QList<int>{9, trend::ClockOffsetChannel} << "% s";
}

void TestTrendPage::valueAxes()
{
    QFETCH(QList<int>, shown);
    QFETCH(QString, units);
    for (int c : page_->shownChannels())
        page_->setChannelShown(c, false);
    for (int c : shown)
        page_->setChannelShown(c, true);
    page_->showLast(0);
    QStringList got;
    for (const TrendChart::ValueAxis &axis : page_->chart()->valueAxes()) {
        got << axis.unit;
        // No range below zero where no value is negative (only the battery current is).
        if (!axis.channels.contains(7))
            QVERIFY2(axis.ticks.lo >= 0, qPrintable(axis.unit));
    }
    QCOMPARE(got.join(QLatin1Char(' ')), units);
    // Every channel drawn is named whole in the legend.
    QCOMPARE(page_->chart()->legendNames().size(), shown.size());
    for (int c : shown)
        page_->setChannelShown(c, false);
    page_->setChannelShown(2, true);
}

void TestTrendPage::valueTicks_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<double>("finest");
    QTest::addColumn<double>("step");
    QTest::newRow("AC voltage") << 111.8 << 234.8 << 9 << 0.1 << 20.0;
    QTest::newRow("DC voltage within 20 mV") << 53.99 << 54.01 << 8 << 0.0 << 0.005;
    QTest::newRow("the same in tenths") << 53.99 << 54.01 << 8 << 0.1 << 0.1;
    QTest::newRow("flat 54 V") << 54.0 << 54.0 << 8 << 0.1 << 0.5;
    QTest::newRow("flat zero") << 0.0 << 0.0 << 8 << 0.0 << 0.2;
    QTest::newRow("current either way") << -5.0 << 3.0 << 8 << 0.1 << 1.0;
    QTest::newRow("small and positive") << 0.2 << 0.9 << 8 << 0.01 << 0.1;
    QTest::newRow("charge") << 0.0 << 100.0 << 8 << 1.0 << 20.0;
    QTest::newRow("charge within a percent") << 94.0 << 95.0 << 8 << 1.0 << 1.0;
    QTest::newRow("few ticks") << 111.8 << 234.8 << 2 << 0.1 << 100.0;
}

void TestTrendPage::valueTicks()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(int, maxTicks);
    QFETCH(double, finest);
    QFETCH(double, step);
    const ValueTicks t = qeln::valueTicks(lo, hi, maxTicks, finest);
    QCOMPARE(t.step, step);
    QVERIFY(t.lo <= lo && t.hi >= hi);
    QVERIFY(lo < 0 || t.lo >= 0);
    QVERIFY(t.at.size() >= 2 && t.at.size() <= maxTicks + 4);
    for (double v : t.at) {
        QVERIFY2(std::abs(v / step - std::round(v / step)) < 1e-6, qPrintable(QString::number(v)));
        // A label shows the tick exactly, with no more decimals than the step needs.
        QCOMPARE(valueTickLabel(v, t.decimals).toDouble(), std::round(v / step) * step);
    }
}

void TestTrendPage::timeTicks_data()
{
    QTest::addColumn<qint64>("spanMs");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<qint64>("step");
    QTest::newRow("37 s") << qint64(37'000) << 6 << qint64(10'000);
    QTest::newRow("a minute") << qint64(60'000) << 8 << qint64(10'000);
    QTest::newRow("10 min") << qint64(600'000) << 8 << qint64(120'000);
    QTest::newRow("an hour") << trend::HourMs << 8 << qint64(600'000);
    QTest::newRow("an hour, narrow") << trend::HourMs << 3 << qint64(1800'000);
    QTest::newRow("a day") << trend::DayMs << 8 << 3 * trend::HourMs;
    QTest::newRow("7 days") << 7 * trend::DayMs << 8 << trend::DayMs;
    QTest::newRow("90 days") << 90 * trend::DayMs << 8 << 15 * trend::DayMs;
}

void TestTrendPage::timeTicks()
{
    QFETCH(qint64, spanMs);
    QFETCH(int, maxTicks);
    QFETCH(qint64, step);
    // From an odd moment: the ticks still fall on whole steps of the local clock.
    const qint64 from = Start + 1'234'567;
    const TimeTicks t = qeln::timeTicks(from, from + spanMs, maxTicks);
    QCOMPARE(t.step, step);
    QVERIFY(!t.at.isEmpty() && t.at.size() <= maxTicks + 1);
    for (qint64 at : t.at) {
        QVERIFY(at >= from && at <= from + spanMs);
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(at);
        if (step < trend::DayMs)
            QCOMPARE(local.time().msecsSinceStartOfDay() % step, 0);
        else
            QCOMPARE(local.time(), QTime(0, 0));
    }
}

void TestTrendPage::liveWithQuickSpans()
{
    // The page on the file a recorder writes: the default (live, 10 min) follows its newest
    // status, "all" while live keeps the whole recording, a quick span stays live.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("own.trend.sqlite"));
    QFile::copy(path_, folder.filePath(QStringLiteral("other.trend.sqlite")));
    Recorder recorder;
    recorder.setFile(file);
    TrendPage page(recorder);
    page.resize(1000, 700);
    page.show();
    const qint64 t0 = Start + 10 * trend::DayMs;
    auto record = [&](qint64 from, qint64 to) {
        for (qint64 t = from; t < to; t += 1000)
            recorder.addStatus(plantStatus(), t);
        QSignalSpy flushed(&recorder, &Recorder::flushed);
        recorder.flushNow();
        QCOMPARE(flushed.size(), 1);
    };
    auto near = [](qint64 got, qint64 want) { return std::llabs(got - want) <= 30'000; };
    record(t0, t0 + 20 * 60'000);
    QCOMPARE(page.recordingPath(), file);
    QCOMPARE(page.recordingChoices(), QStringList({QFileInfo(file).absoluteFilePath(), folder.filePath(QStringLiteral("other.trend.sqlite"))}));
    QVERIFY(page.fileText().startsWith(QLatin1String("Recording into")));
    // A recording that appears later is offered when the list opens.
    QFile::copy(path_, folder.filePath(QStringLiteral("later.trend.sqlite")));
    auto *choices = page.findChild<QComboBox *>(QStringLiteral("TrendRecordings"));
    choices->showPopup();
    QVERIFY(page.recordingChoices().contains(folder.filePath(QStringLiteral("later.trend.sqlite"))));
    choices->hidePopup();
    QVERIFY(page.isLive());
    QVERIFY(near(page.spanFrom(), t0 + 10 * 60'000));

    page.findChild<QPushButton *>(QStringLiteral("TrendSpan_all"))->click();
    QVERIFY(page.isLive());
    QVERIFY(page.spanFrom() <= t0);
    record(t0 + 20 * 60'000, t0 + 25 * 60'000);
    QVERIFY2(page.spanFrom() <= t0, "the whole recording, also after the next status");
    QVERIFY(page.spanTo() >= t0 + 25 * 60'000 - 1000);

    page.findChild<QPushButton *>(QStringLiteral("TrendSpan_10min"))->click();
    QVERIFY(page.isLive());
    QVERIFY(near(page.spanFrom(), t0 + 15 * 60'000));
    // A status from a clock a day ahead, then the right time again: live ends at the newest
    // status given, not at the latest time in the file.
    record(t0 + trend::DayMs, t0 + trend::DayMs + 1000);
    record(t0 + 25 * 60'000, t0 + 26 * 60'000);
    QVERIFY(near(page.spanFrom(), t0 + 16 * 60'000));

    // Zooming ends live.
    const QPoint at = page.chart()->plotArea().center();
    QWheelEvent wheel(at, page.chart()->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(page.chart(), &wheel);
    QVERIFY(!page.isLive());

    // The recorder paused: the page does not claim to record.
    recorder.setFile(folder.filePath(QStringLiteral("gone/own.trend.sqlite")));
    QSignalSpy paused(&recorder, &Recorder::paused);
    recorder.addStatus(plantStatus(), t0 + 27 * 60'000);
    QCOMPARE(paused.size(), 1);
    QVERIFY2(!page.fileText().contains(QLatin1String("Recording into")), qPrintable(page.fileText()));
    QVERIFY(page.fileText().contains(QLatin1String("paused")));
}

void TestTrendPage::controllerRecordedElsewhere()
{
    // Another console records this controller's file: recording here pauses, and the page
    // still draws that file, saying who records it.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("held.trend.sqlite"));
    QVERIFY(QFile::copy(path_, file));
    TrendStore other;
    QString error;
    QVERIFY2(other.open(file, TrendStore::Mode::Record, error), qPrintable(error));
    Recorder recorder;
    recorder.setFile(file);
    TrendPage page(recorder);
    page.resize(1000, 700);
    page.show();
    QSignalSpy paused(&recorder, &Recorder::paused);
    recorder.addStatus(plantStatus(), Start + trend::HourMs);
    QCOMPARE(paused.size(), 1);
    QCOMPARE(page.recordingPath(), file);
    QVERIFY(!page.drawnPoints(2).isEmpty());
    QVERIFY2(page.fileText().contains(QLatin1String("is being recorded by")), qPrintable(page.fileText()));
    QVERIFY(!page.fileText().contains(QLatin1String("Recording into")));
    QVERIFY(!page.fileText().contains(QLatin1String("not being recorded")));
}

void TestTrendPage::exportsNeverReplace()
{
    page_->setChannelShown(2, true);
    page_->setSpan(Start + 60'000, Start + 120'000);
    const QString first = page_->exportShown(false);
    const QString second = page_->exportShown(false);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QVERIFY(first != second);
    QFile csv(first);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QVERIFY(lines.first().startsWith("time,"));
    QVERIFY(lines.first().contains("dc_voltage"));
    QCOMPARE(lines.size(), 61 + 2); // header, 61 statuses, the empty piece after the last LF
    QVERIFY(page_->exportShown(true).endsWith(QLatin1String(".xlsx")));
}

// Pictures of the page alone at common screen sizes, on a day with an AC failure: only when
// QELN_TREND_PICTURES names a folder for them.
void TestTrendPage::pictures()
{
    const QString out = qEnvironmentVariable("QELN_TREND_PICTURES");
    if (out.isEmpty())
        QSKIP("QELN_TREND_PICTURES is not set");
    const QString path = dir_.filePath(QStringLiteral("day.trend.sqlite"));
    const qint64 end = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000, begin = end - trend::DayMs;
    const qint64 failFrom = end - 6 * trend::HourMs, failTo = failFrom + 50 * 60'000;
    {
        TrendStore store;
        QString error;
        QVERIFY2(store.open(path, TrendStore::Mode::Record, error), qPrintable(error));
        double soc = 100;
        for (qint64 t = begin; t < end; t += 1000) {
            if (t > end - 9 * trend::HourMs && t < end - 9 * trend::HourMs + 12 * 60'000)
                continue; // the console was closed for a while
            const double h = double(t - begin) / trend::HourMs;
            const bool fail = t >= failFrom && t < failTo;
            const bool recharge = t >= failTo && soc < 100;
            StatusRow row;
            row.t = t;
            row.values.fill(NoValue);
            row.values[0] = fail ? 0 : 229.0 + 2.5 * std::sin(h * 0.7) + double(t / 1000 % 5) * 0.2;
            row.values[2] = fail ? 54.0 - (100 - soc) * 0.12 : 54.0 + double(t / 1000 % 3) * 0.1;
            row.values[5] = 34.0 + 4 * std::sin(h / 4) + (recharge ? 3 : 0);
            row.values[7] = fail ? -38.5 : recharge ? 22.0 : 0.4;
            soc = std::clamp(soc + (fail ? -0.0125 : recharge ? 0.006 : 0), 0.0, 100.0);
            row.values[9] = std::round(soc);
            row.values[trend::ClockOffsetChannel] = 12;
            store.add(row);
        }
        store.addEvent({failFrom, EventKind::AlarmStarted, QStringLiteral("AC Input Fail")});
        store.addEvent({failFrom + 20'000, EventKind::AlarmStarted, QStringLiteral("Battery Discharge")});
        store.addEvent({failTo, EventKind::AlarmCleared, QStringLiteral("AC Input Fail")});
        store.addEvent({failTo + 60'000, EventKind::AlarmCleared, QStringLiteral("Battery Discharge")});
        store.addEvent({end - 2 * trend::HourMs, EventKind::Write, QStringLiteral("register 12 = 530 (운전 설정)")});
        QVERIFY2(store.flush(error), qPrintable(error));
    }
    const struct {
        const char *name;
        QSize size;
    } sizes[] = {{"1024x768", {1024, 690}}, {"1366x768", {1366, 690}}, {"1920x1080", {1920, 1000}}};
    for (const auto &s : sizes) {
        TrendPage page(recorder_);
        page.resize(s.size);
        page.show();
        QVERIFY(page.openRecording(path));
        for (int c : {0, 2, 5, 7, 9})
            page.setChannelShown(c, true);
        page.setLive(false);
        page.showLast(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QVERIFY(page.grab().save(QDir(out).filePath(QStringLiteral("trend-day-%1.png").arg(QLatin1String(s.name)))));
        page.setSpan(failFrom - 20 * 60'000, failTo + 40 * 60'000);
        page.setCursor(0, failFrom + 5 * 60'000);
        page.setCursor(1, failTo - 5 * 60'000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QVERIFY(page.grab().save(QDir(out).filePath(QStringLiteral("trend-fail-%1.png").arg(QLatin1String(s.name)))));
        // Every channel: the legend wraps, no name is cut.
        for (int c = 0; c < trend::ChannelCount; ++c)
            page.setChannelShown(c, true);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QVERIFY(page.grab().save(QDir(out).filePath(QStringLiteral("trend-every-channel-%1.png").arg(QLatin1String(s.name)))));
    }
}

QTEST_MAIN(TestTrendPage)

#include "tst_trendpage.moc"
