#include "clilogger.h"

#include "clilink.h"
#include "link/transport.h"
#include "monitor/datalog.h"
#include "monitor/livemonitor.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qeln {

namespace {

bool holdsRecords(const QStringList &lines)
{
    const QStringList header = DataLog::header();
    for (const QString &line : lines) {
        if (!header.contains(line))
            return true;
    }
    return false;
}

} // namespace

bool CliLogger::parseArgs(const QStringList &args, CliArgs &out, QString &error)
{
    using cliargs::fail;
    out.command = CliArgs::Command::Log;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const bool interval = c.isOption(QLatin1String("--interval"));
        if (!interval && !c.isOption(QLatin1String("--output-dir")))
            return cliargs::unexpected(error, QStringLiteral("log"), c.arg());
        const QString option = c.arg();
        QString value;
        if (!c.takeValue(value))
            return fail(error, QStringLiteral("log: %1 needs a value").arg(option));
        if (interval) {
            const qsizetype index = logIntervalNames().indexOf(value);
            if (index < 0)
                return fail(error, QStringLiteral("log: bad interval '%1' (%2)")
                                       .arg(value, logIntervalNames().join(QLatin1Char('|'))));
            out.log.interval = int(index);
        } else {
            if (value.isEmpty())
                return fail(error, QStringLiteral("log: --output-dir needs a folder"));
            out.log.outputDir = value;
        }
    }
    return true;
}

CliLogger::CliLogger(const CliArgs &args, QObject *parent)
    : CliWatchCommand(args, parent)
{
    if (args_.trace) {
        connect(&engine_, &LinkEngine::messageRequested, this, [](MessageKind, const QString &text) {
            printLine(stderr, QStringLiteral("message: ") + text);
        });
    }

    monitor_ = std::make_unique<LiveMonitor>(engine_, state_);
    DataLog &log = monitor_->dataLog();
    const QString dir = args_.log.outputDir.isEmpty() ? QDir::currentPath() : args_.log.outputDir;
    log.setOutputDirectory(QFileInfo(dir).absoluteFilePath());
    log.setIntervalIndex(args_.log.interval);
    log.setFailureRemedy(QStringLiteral("Make that folder writable (the next save tries again), or run the "
                                        "logger with a writable folder in --output-dir."));
    connect(&log, &DataLog::saved, this, [](const QString &path) { printLine(stdout, path); });
    connect(&log, &DataLog::saveFailed, this,
            [](const QString &message) { printLine(stderr, QStringLiteral("qeln-cli: ") + message); });
    connect(monitor_.get(), &LiveMonitor::viewDecoded, this, &CliLogger::onFirstView);
    connect(monitor_.get(), &LiveMonitor::answerMissing, this, [this](const QDateTime &since) {
        if (!answered() || done())
            return; // before the first answer the start deadline speaks
        silenceReported_ = true;
        printLine(stderr, QStringLiteral("qeln-cli: no answer from %1 since %2; the log repeats the last values")
                              .arg(transport_->description(), since.toString(QStringLiteral("HH:mm:ss"))));
    });
    connect(monitor_.get(), &LiveMonitor::answerResumed, this, [this] {
        if (silenceReported_ && !done())
            printLine(stderr, QStringLiteral("qeln-cli: %1 answers again").arg(transport_->description()));
        silenceReported_ = false;
    });
}

CliLogger::~CliLogger() = default;

bool CliLogger::checkOutputFolder(QString &reason) const
{
    const QString dir = monitor_->dataLog().outputDirectory();
    const QFileInfo info(dir);
    if (!info.exists()) {
        reason = QStringLiteral("output folder '%1' does not exist").arg(dir);
        return false;
    }
    if (!info.isDir()) {
        reason = QStringLiteral("output folder '%1' is not a folder").arg(dir);
        return false;
    }
    // Permissions do not tell (root may write anywhere, a file system may be read-only):
    // the folder is writable when a file can be made in it.
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".qeln-cli-XXXXXX")));
    if (!probe.open()) {
        reason = QStringLiteral("output folder '%1' is not writable: %2").arg(dir, probe.errorString());
        return false;
    }
    return true;
}

bool CliLogger::prepare(QString &reason, int &exitCode)
{
    exitCode = 2;
    return checkOutputFolder(reason);
}

void CliLogger::onFirstView()
{
    if (!firstAnswer())
        return;
    // Started before the decode's alarm-change step: the first record is an "[al]" line
    // holding the alarm words the controller starts with.
    monitor_->dataLog().start();
}

void CliLogger::stopRequested()
{
    DataLog &log = monitor_->dataLog();
    log.stop();
    engine_.stopPolling();
    if (holdsRecords(log.lines()) && log.save().isEmpty()) {
        finish(1, QStringLiteral("the data log (%1 lines) could not be saved at the end").arg(log.lines().size()));
        return;
    }
    finish(0);
}

void CliLogger::stopping()
{
    if (monitor_)
        monitor_->dataLog().stop();
}

} // namespace qeln
