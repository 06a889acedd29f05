#include "clihistory.h"

#include "app/newfile.h"
#include "clilink.h"
#include "history/historydownload.h"
#include "history/historyexport.h"
#include "link/transport.h"
#include "monitor/statusview.h"

#include <QFileInfo>
#include <QDir>

#include <QFile>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qeln {

namespace {

const QString AlarmInitSuccess = QStringLiteral(" Alarm Initial Sucess!!");
const QString EventLogInitSuccess = QStringLiteral(" Event log Initial Sucess!!");
const QString EventInitSuccess = QStringLiteral(" Event Initial Sucess!!");

history::LogKind kindOf(const CliArgs &args)
{
    return args.history.kind == 2 ? history::LogKind::Event : history::LogKind::Alarm;
}

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Why no file can be created under `path`, in words; empty when one can. The folder is tried
// with a hidden file of its own, removed at once.
QString creationProblem(const QString &path)
{
    const QFileInfo info(path);
    if (newfile::taken(path))
        return QStringLiteral("'%1' exists already; no file is overwritten").arg(path);
    const QString folder = info.absolutePath();
    if (const QString problem = newfile::folderProblem(folder); !problem.isEmpty())
        return QStringLiteral("cannot create '%1': %2").arg(path, problem);
    const QString probe = QDir(folder).filePath(QStringLiteral(".%1.%2.probe").arg(info.fileName()).arg(::getpid()));
    const int fd = ::open(QFile::encodeName(probe).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return QStringLiteral("cannot create '%1': no file can be created in %2 (%3)")
            .arg(path, folder, systemReason(errno));
    ::close(fd);
    ::unlink(QFile::encodeName(probe).constData());
    return QString();
}

using cliargs::fail;

// history --out: a new .xlsx or .csv file in a folder that exists.
bool checkOutFile(const QString &file, QString &error)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix != QLatin1String("xlsx") && suffix != QLatin1String("csv"))
        return fail(error, QStringLiteral("history: --out '%1' must end in .xlsx or .csv").arg(file));
    if (QFileInfo::exists(file))
        return fail(error, QStringLiteral("history: '%1' exists already; no file is overwritten").arg(file));
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return fail(error, QStringLiteral("history: the folder of '%1' does not exist").arg(file));
    return true;
}

// Both commands name the log; history may take --out, clear-history must have --yes.
bool parseHistoryArgs(const QString &command, const QStringList &args, CliArgs &out, QString &error)
{
    const bool clear = out.command == CliArgs::Command::ClearHistory;
    bool yes = false;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const QString &a = c.arg();
        if (clear && a == QLatin1String("--yes")) {
            yes = true;
        } else if (!clear && c.isOption(QLatin1String("--out"))) {
            if (!c.takeValue(out.history.outFile))
                return fail(error, QStringLiteral("history: --out needs a file name"));
            if (!checkOutFile(out.history.outFile, error))
                return false;
        } else if (out.history.kind == 0 && (a == QLatin1String("alarm") || a == QLatin1String("event"))) {
            out.history.kind = a == QLatin1String("alarm") ? 1 : 2;
        } else {
            return cliargs::unexpected(error, command, a);
        }
    }
    if (out.history.kind == 0)
        return fail(error, QStringLiteral("%1: say which log: alarm or event").arg(command));
    if (clear && !yes) {
        const bool alarm = out.history.kind == 1;
        return fail(error, QStringLiteral("clear-history %1: nothing was sent; add --yes to confirm (the controller "
                                          "erases its %2 for good)")
                               .arg(alarm ? QStringLiteral("alarm") : QStringLiteral("event"),
                                    alarm ? QStringLiteral("alarm history") : QStringLiteral("event log")));
    }
    return true;
}

} // namespace

bool CliHistory::parseHistory(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::History;
    return parseHistoryArgs(QStringLiteral("history"), args, out, error);
}

bool CliHistory::parseClearHistory(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::ClearHistory;
    return parseHistoryArgs(QStringLiteral("clear-history"), args, out, error);
}

CliHistory::CliHistory(const CliArgs &args, QObject *parent)
    : CliCommand(args, parent)
{
    // The test suites shorten the stall guard to see what it counts as progress.
    if (const int ms = qEnvironmentVariableIntValue("QELN_CLI_STALL_MS"); ms > 0)
        stallMs_ = ms;
    connect(&engine_, &LinkEngine::statusReceived, this, &CliHistory::onStatusDecoded);
    connect(&engine_, &LinkEngine::messageRequested, this, &CliHistory::onMessage);
    download_ = std::make_unique<history::HistoryDownload>(engine_);
    connect(download_.get(), &history::HistoryDownload::progressChanged, this, &CliHistory::onProgress);
    connect(download_.get(), &history::HistoryDownload::answerArrived, this, &CliHistory::onAnswerArrived);
    connect(&engine_, &LinkEngine::requestFailed, this, &CliHistory::onRequestFailed);
    connect(&engine_, &LinkEngine::failed, this, [this](Ticket ticket, const RequestFailure &failure) {
        if (ticket == 0 || ticket != clearTicket_ || done())
            return;
        if (failure.fault == AnswerFault::TimedOut)
            deadlinePassed();
        else
            finish(1, QStringLiteral("the erase of the log failed: %1").arg(failure.reason));
    });
    connect(download_.get(), &history::HistoryDownload::finished, this, &CliHistory::onDownloadFinished);
    connect(download_.get(), &history::HistoryDownload::noData, this, &CliHistory::onDownloadFinished);
    connect(download_.get(), &history::HistoryDownload::failed, this,
            [this](const QString &message, const QString &reason) {
                finish(1, QStringLiteral("download given up:%1: %2").arg(message.trimmed().prepend(QLatin1Char(' ')), reason));
            });
}

CliHistory::~CliHistory() = default;

void CliHistory::start()
{
    if (args_.command == CliArgs::Command::History && !args_.history.outFile.isEmpty()) {
        if (const QString problem = creationProblem(args_.history.outFile); !problem.isEmpty()) {
            finish(2, QStringLiteral("history: %1; nothing was sent").arg(problem));
            return;
        }
    }
    CliCommand::start();
}

void CliHistory::linkOpened()
{
    if (args_.command == CliArgs::Command::ClearHistory) {
        // The engine's time-out ends the wait for the acknowledgement (deadlinePassed()).
        clearTicket_ = engine_.initialiseHistory(kindOf(args_), AcknowledgementWaitMs);
        return;
    }
    // One status first: the rows are written for the models the console knows, and the
    // workbook's title and rows name the model. The first poll goes out at once.
    startStatusPoll(true);
    deadline_.start(StatusWaitMs);
}

void CliHistory::onStatusDecoded()
{
    if (done() || downloading_ || args_.command != CliArgs::Command::History)
        return;
    startDownload();
}

void CliHistory::startDownload()
{
    // The model text as the window's caption shows it, from the window's own decode.
    decodeStatusView(state_);
    const int model = state_.ModelCode();
    if (model < 1 || model > 4) {
        finish(1, QStringLiteral("the controller reports model code %1, which this console does not know; "
                                 "its history cannot be read")
                      .arg(model));
        return;
    }
    downloading_ = true;
    if (!download_->start(kindOf(args_))) {
        finish(1, QStringLiteral("the download could not start"));
        return;
    }
    // No window to draw first: the count request goes out at once.
    lastAnswer_.start();
    download_->skipStartDelay();
    deadline_.start(stallMs_);
}

void CliHistory::onAnswerArrived()
{
    // The guard looks at the time of the last answer when it fires: re-arming a timer for
    // every record would cost more than the record itself.
    lastAnswer_.start();
}

void CliHistory::onRequestFailed(const RequestFailure &failure)
{
    if (failure.fault != AnswerFault::Exception)
        return;
    if (args_.trace)
        printLine(stderr, QStringLiteral("request %1 refused with exception %2")
                              .arg(functionCode(failure.function))
                              .arg(failure.exceptionCode));
    // The first status poll refused: asked again at once instead of on the poll rhythm.
    if (done() || downloading_ || failure.kind != RequestKind::Status || args_.command != CliArgs::Command::History
        || ++statusRepolls_ > StatusRepollLimit)
        return;
    QTimer::singleShot(0, this, [this] {
        if (done() || downloading_)
            return;
        engine_.pollNow();
    });
}

void CliHistory::onProgress(int percent, const QString &label)
{
    static const bool terminal = ::isatty(STDERR_FILENO);
    if (!terminal)
        return;
    std::fprintf(stderr, "\r%s (%d %%)   ", qPrintable(label), percent);
    std::fflush(stderr);
    progressShown_ = true;
}

void CliHistory::onDownloadFinished()
{
    if (progressShown_) {
        std::fputc('\n', stderr);
        progressShown_ = false;
    }
    writeResult();
}

void CliHistory::writeResult()
{
    history::HistoryTable table;
    table.kind = kindOf(args_);
    table.headers = download_->headers();
    table.rows = download_->rows();
    download_->close();
    engine_.stopPolling();

    const QString &out = args_.history.outFile;
    if (out.isEmpty()) {
        const QByteArray bytes = history::csvBytes(table);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        finish(0);
        return;
    }
    QString error;
    if (QFileInfo(out).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0) {
        if (!history::writeWorkbookFile(out, state_.ModelText, table, &error)) {
            // The reason names the file already.
            finish(1, error);
            return;
        }
    } else {
        const QFileInfo info(out);
        const QString name = info.fileName();
        QString reason;
        if (newfile::writeUnderFreeName(QDir(info.absolutePath()), [&name](int) { return name; }, 1,
                                        newfile::bytesWriter(history::csvBytes(table)), &reason)
                .isEmpty()) {
            finish(1, QStringLiteral("cannot write %1: %2").arg(out, reason));
            return;
        }
    }
    printLine(stderr, QStringLiteral("%1 records written to %2").arg(table.rows.size()).arg(out));
    finish(0);
}

void CliHistory::onMessage(MessageKind, const QString &text)
{
    if (args_.command == CliArgs::Command::ClearHistory
        && (text == AlarmInitSuccess || text == EventLogInitSuccess || text == EventInitSuccess)) {
        printLine(stdout, text);
        finish(0);
        return;
    }
    if (args_.trace)
        printLine(stderr, QStringLiteral("message: ") + text);
}

void CliHistory::deadlinePassed()
{
    if (args_.command == CliArgs::Command::ClearHistory)
        finish(1, QStringLiteral("no acknowledgement from %1 within %2 s")
                      .arg(transport_->description())
                      .arg(AcknowledgementWaitMs / 1000));
    else if (!downloading_)
        finish(1, QStringLiteral("no valid status response from %1 within %2 s")
                      .arg(transport_->description())
                      .arg(StatusWaitMs / 1000));
    else if (lastAnswer_.isValid() && lastAnswer_.elapsed() < stallMs_)
        deadline_.start(int(stallMs_ - lastAnswer_.elapsed()));
    else
        finish(1, QStringLiteral("the download from %1 made no progress for %2 s")
                      .arg(transport_->description())
                      .arg(stallMs_ / 1000.0));
}

void CliHistory::stopping()
{
    if (progressShown_)
        std::fputc('\n', stderr);
    progressShown_ = false;
    download_->close();
}

} // namespace qeln
