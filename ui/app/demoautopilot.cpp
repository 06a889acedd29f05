#include "app/demoautopilot.h"

#include "app/consolesession.h"
#include "app/mainform.h"
#include "history/historydownload.h"
#include "history/historywindow.h"
#include "monitor/livemonitor.h"
#include "trend/recorder.h"
#include "trend/trendpage.h"

#include <QAction>
#include <QFile>
#include <QPixmap>
#include <QTabWidget>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace qeln {

namespace {

constexpr int FirstStatusLimitMs = 10000;

void report(const QString &line)
{
    std::fprintf(stderr, "qeln-console: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace

DemoAutopilot::DemoAutopilot(MainForm &window, ConsoleSession &session, QObject *parent)
    : QObject(parent)
    , window_(window)
    , session_(session)
{
    connect(&session_, &ConsoleSession::statusArrived, this, &DemoAutopilot::onStatusArrived);
    connect(&session_, &ConsoleSession::connectFailed, this, &DemoAutopilot::onConnectFailed);
}

void DemoAutopilot::start(const QString &hostText)
{
    session_.login();
    session_.connectCommand();
    session_.dialogCreated();
    session_.chooseTcp();
    sinceConnect_.start();
    session_.confirmConnect(hostText);
    QTimer::singleShot(FirstStatusLimitMs, this, [this] {
        if (!statusSeen_) {
            report(QStringLiteral("no status from the demo simulator within %1 ms").arg(FirstStatusLimitMs));
            Q_EMIT finished(1);
        }
    });
}

void DemoAutopilot::onStatusArrived()
{
    if (statusSeen_)
        return;
    statusSeen_ = true;
    report(QStringLiteral("first status decoded %1 ms after Connect").arg(sinceConnect_.elapsed()));
    if (fillLogLines_ > 0) {
        DataLog &log = window_.monitor().dataLog();
        log.start();
        while (log.lines().size() < fillLogLines_)
            log.onLogTick();
        report(QStringLiteral("data log holds %1 lines").arg(log.lines().size()));
    }
    if (!screenshot_.isEmpty())
        QTimer::singleShot(screenshotDelayMs_, this, &DemoAutopilot::onPictureDue);
    if (!historyScreenshot_.isEmpty())
        QTimer::singleShot(0, this, &DemoAutopilot::startHistoryDownload);
    if (quitAfterSeconds_ > 0)
        QTimer::singleShot(quitAfterSeconds_ * 1000, this, &DemoAutopilot::onRunOver);
}

void DemoAutopilot::onConnectFailed(const QString &reason)
{
    report(QStringLiteral("connecting to the demo simulator failed: %1").arg(reason));
    Q_EMIT finished(1);
}

void DemoAutopilot::onPictureDue()
{
    // The picture shows the whole window as designed, also where the screen it opened on
    // (a small one, or the offscreen platform's 800 x 600) made it scroll its layout.
    const QSize whole = window_.size().expandedTo(MainForm::DesignSize);
    if (whole != window_.size()) {
        window_.resize(whole);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    if (screenshotPage_ == QLatin1String("trend") || screenshotPage_ == QLatin1String("log")) {
        auto *pages = window_.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
        for (int i = 0; pages && i < pages->count(); ++i) {
            if (pages->tabText(i) == screenshotPage_)
                pages->setCurrentIndex(i);
        }
        if (TrendPage *trend = window_.trendPage(); trend && screenshotPage_ == QLatin1String("trend")) {
            window_.recorder().flushNow();
            trend->setLive(false);
            trend->showLast(0);
            const qint64 span = trend->spanTo() - trend->spanFrom();
            trend->setCursor(0, trend->spanFrom() + span / 4);
            trend->setCursor(1, trend->spanFrom() + span * 3 / 4);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    const QPixmap picture = window_.grab();
    if (picture.isNull() || !picture.save(screenshot_)) {
        report(QStringLiteral("cannot save the picture to %1").arg(screenshot_));
        Q_EMIT finished(1);
        return;
    }
    report(QStringLiteral("main window saved to %1 (%2 x %3)")
               .arg(screenshot_)
               .arg(picture.width())
               .arg(picture.height()));
    if (quitAfterSeconds_ <= 0 && historyScreenshot_.isEmpty())
        Q_EMIT finished(0);
}

void DemoAutopilot::startHistoryDownload()
{
    history::HistoryDownload &download = window_.historyDownload();
    connect(&download, &history::HistoryDownload::finished, this,
            [this] { QTimer::singleShot(screenshotDelayMs_, this, &DemoAutopilot::onHistoryPictureDue); },
            Qt::SingleShotConnection);
    connect(&download, &history::HistoryDownload::noData, this, [this](const QString &message) {
        report(QStringLiteral("history download: %1").arg(message));
        Q_EMIT finished(1);
    });
    connect(&download, &history::HistoryDownload::failed, this,
            [this](const QString &message, const QString &reason) {
                report(QStringLiteral("history download:%1: %2").arg(message, reason));
                Q_EMIT finished(1);
            });
    QAction *command = window_.menuItem(QStringLiteral("mAlarmLog"));
    if (!command->isEnabled()) {
        report(QStringLiteral("the alarm-history command is not enabled"));
        Q_EMIT finished(1);
        return;
    }
    command->trigger();
}

void DemoAutopilot::onHistoryPictureDue()
{
    auto *historyWindow = window_.findChild<HistoryWindow *>();
    const QPixmap picture = historyWindow ? historyWindow->grab() : QPixmap();
    if (picture.isNull() || !picture.save(historyScreenshot_)) {
        report(QStringLiteral("cannot save the history picture to %1").arg(historyScreenshot_));
        Q_EMIT finished(1);
        return;
    }
    report(QStringLiteral("%1 history records downloaded; window saved to %2 (%3 x %4)")
               .arg(window_.historyDownload().total())
               .arg(historyScreenshot_)
               .arg(picture.width())
               .arg(picture.height()));
    if (quitAfterSeconds_ <= 0)
        Q_EMIT finished(0);
}

void DemoAutopilot::onRunOver()
{
    report(QStringLiteral("resident memory after %1 s of polling: %2 KiB")
               .arg(quitAfterSeconds_)
               .arg(residentKiB()));
    Q_EMIT finished(0);
}

qint64 DemoAutopilot::residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // procfs files report size 0: readAll() reads until the end all the same.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            bool ok = false;
            const qint64 kib = line.mid(6).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kib : -1;
        }
    }
    return -1;
}

qint64 DemoAutopilot::processAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks: the fields are counted after its closing bracket.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Field 22 of the line, the start time in clock ticks after boot, is the 20th here.
    bool ok = false;
    const qint64 startTicks = fields.value(19).toLongLong(&ok);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    bool upOk = false;
    const double upSeconds = uptime.readAll().split(' ').value(0).toDouble(&upOk);
    if (!ok || !upOk || ticksPerSecond <= 0)
        return -1;
    return qint64(upSeconds * 1000.0) - startTicks * 1000 / ticksPerSecond;
}

} // namespace qeln
