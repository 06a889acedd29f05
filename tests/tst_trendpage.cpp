// The trend page on a known recording: the cursor table against the recorded values, the
// markers and their texts, a one-status spike drawn at every span, the mouse (click, Shift+click,
// dragged rectangle, wheel), one Y axis per unit shown, and exports that never replace a file.

#include "trend/recorder.h"
#include "trend/trendpage.h"
#include "trend/trendchartview.h"

#include <QAbstractAxis>
#include <QApplication>
#include <QChart>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

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
    void mouse();
    void axisPerUnit();
    void exportsNeverReplace();

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
    QTest::newRow("across the spike") << Start + 1990'000 << Start + 2010'000 << 2
                                      << "53.99 V|54.01 V|0.02 V|53.99 V|54.224 V|58.7 V"
                                      << "Δt = 20 s";
    QTest::newRow("battery current turns") << Start + 1700'000 << Start + 1900'000 << 7
                                           << "-5 A|3 A|8 A|-5 A|-0.98 A|3 A"
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

void TestTrendPage::mouse()
{
    page_->setSpan(Start, Start + trend::HourMs);
    TrendChartView *view = page_->chartView();
    const QRectF plot = page_->chart()->plotArea();
    auto xAt = [&](double fraction) { return view->mapFromScene(page_->chart()->mapToScene(QPointF(plot.left() + fraction * plot.width(), plot.center().y()))); };
    auto near = [](qint64 got, qint64 want) { return std::llabs(got - want) < 20'000; };

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, xAt(0.25));
    QVERIFY2(near(*page_->cursor(0), Start + 900'000), qPrintable(QString::number(*page_->cursor(0) - Start)));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, xAt(0.5));
    QVERIFY(near(*page_->cursor(1), Start + 1800'000));

    // A dragged rectangle from 10 % to 20 % of the hour becomes the span.
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, xAt(0.1));
    const QPoint corner = xAt(0.2) + QPoint(0, 40);
    QMouseEvent move(QEvent::MouseMove, corner, view->viewport()->mapToGlobal(corner), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &move);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, corner);
    QVERIFY(near(page_->spanFrom(), Start + 360'000));
    QVERIFY(near(page_->spanTo(), Start + 720'000));
    QVERIFY(!page_->isLive());

    // One wheel notch in: 80 % of the span, the time under the pointer where it was.
    const qint64 before = page_->spanTo() - page_->spanFrom();
    const qint64 under = view->timeAt(xAt(0.5));
    QWheelEvent wheel(xAt(0.5), view->viewport()->mapToGlobal(xAt(0.5)), {}, QPoint(0, 120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    QVERIFY(std::llabs((page_->spanTo() - page_->spanFrom()) - before * 8 / 10) < 1000);
    QVERIFY(std::llabs(view->timeAt(xAt(0.5)) - under) < 2000);
}

void TestTrendPage::axisPerUnit()
{
    for (int c : page_->shownChannels())
        page_->setChannelShown(c, false);
    auto visibleUnits = [&] {
        QStringList units;
        for (QAbstractAxis *axis : page_->chart()->axes(Qt::Vertical)) {
            if (axis->isVisible())
                units << axis->titleText();
        }
        units.sort();
        return units.join(QLatin1Char(' '));
    };
    QCOMPARE(visibleUnits(), QString());
    page_->setChannelShown(2, true);
    page_->setChannelShown(10, true); // a cell: volts too
    QCOMPARE(visibleUnits(), QStringLiteral("V"));
    page_->setChannelShown(7, true);
    page_->setChannelShown(9, true);
    QCOMPARE(visibleUnits(), QStringLiteral("% A V"));
    page_->setChannelShown(2, false);
    page_->setChannelShown(10, false);
    QCOMPARE(visibleUnits(), QStringLiteral("% A"));
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

QTEST_MAIN(TestTrendPage)

#include "tst_trendpage.moc"
