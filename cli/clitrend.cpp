#include "clitrend.h"

#include "clilink.h"
#include "fleet/duration.h"
#include "link/transport.h"
#include "monitor/livemonitor.h"
#include "network/ipsettingslink.h"
#include "trend/recorder.h"
#include "trend/trendexport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

#include <cstdio>

namespace qeln {

namespace {

using cliargs::fail;

void say(FILE *to, const QString &line)
{
    std::fprintf(to, "%s\n", line.toUtf8().constData());
    std::fflush(to);
}

// "2026-12-07T09:30:00+09:00", "2026-12-07T09:30" (local time), "2026-12-07" (its start).
bool parseTime(const QString &text, qint64 &ms)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid())
            t = day.startOfDay();
    }
    if (!t.isValid())
        return false;
    ms = t.toMSecsSinceEpoch();
    return true;
}

} // namespace

bool parseTrendArgs(const QStringList &args, CliArgs &out, QString &error)
{
    if (args.isEmpty() || (args.first() != QLatin1String("list") && args.first() != QLatin1String("export")))
        return fail(error, QStringLiteral("trend: list or export?"));
    const bool exporting = args.first() == QLatin1String("export");
    const QString where = QStringLiteral("trend ") + args.first();
    out.command = exporting ? CliArgs::Command::TrendExport : CliArgs::Command::TrendList;
    for (cliargs::ArgCursor c(args.mid(1), out.trace); c.next();) {
        static const QLatin1StringView Options[] = {QLatin1String("--db"), QLatin1String("--from"), QLatin1String("--to"),
                                                    QLatin1String("--channels"), QLatin1String("--step"), QLatin1String("--out")};
        int option = -1;
        for (int i = 0; i < (exporting ? 6 : 1); ++i) {
            if (c.isOption(Options[i]))
                option = i;
        }
        if (option < 0)
            return cliargs::unexpected(error, where, c.arg());
        QString value;
        if (!c.takeValue(value) || value.isEmpty())
            return fail(error, QStringLiteral("%1: %2 needs a value").arg(where, Options[option]));
        switch (option) {
        case 0:
            out.trend.db = value;
            break;
        case 1:
        case 2:
            if (!parseTime(value, option == 1 ? out.trend.from : out.trend.to))
                return fail(error, QStringLiteral("%1: bad time '%2' (2026-12-07T09:30:00+09:00, or a date)").arg(where, value));
            break;
        case 3:
            for (const QString &name : value.split(QLatin1Char(','))) {
                const int index = trend::channelIndex(name.trimmed());
                if (index < 0)
                    return fail(error, QStringLiteral("%1: unknown channel '%2' (%3)")
                                           .arg(where, name, trend::channelNames().join(QLatin1Char(','))));
                out.trend.channels << index;
            }
            break;
        case 4: {
            std::chrono::milliseconds step{};
            QString why;
            if (!fleet::parseDuration(value, step, why) || step.count() < 1000)
                return fail(error, QStringLiteral("%1: bad step '%2' (a whole number of seconds at least: 10s, 1m, 1h)")
                                       .arg(where, value));
            out.trend.stepMs = step.count();
            break;
        }
        case 5:
            if (!value.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
                && !value.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
                return fail(error, QStringLiteral("%1: --out takes a .csv or .xlsx file").arg(where));
            // As every command that writes a file: one that exists is refused before anything
            // is read or written (exit status 2).
            if (QFileInfo::exists(value) || QFileInfo(value).isSymLink())
                return fail(error, QStringLiteral("%1: '%2' exists already; no file is overwritten").arg(where, value));
            out.trend.out = value;
            break;
        }
    }
    if (out.trend.db.isEmpty())
        return fail(error, QStringLiteral("%1: --db FILE is required").arg(where));
    if (out.trend.from > out.trend.to)
        return fail(error, QStringLiteral("%1: --from is after --to").arg(where));
    return true;
}

int runTrend(const CliArgs &args)
{
    trend::TrendStore store;
    QString error;
    if (!store.open(args.trend.db, trend::TrendStore::Mode::Read, error)) {
        say(stderr, QStringLiteral("qeln-cli: ") + error);
        return 1;
    }
    const auto &channels = trend::channels();
    if (args.command == CliArgs::Command::TrendList) {
        const auto span = store.span();
        say(stdout, QStringLiteral("file: %1").arg(QFileInfo(args.trend.db).absoluteFilePath()));
        const QString model = store.meta(QStringLiteral("model"));
        const QString link = store.meta(QStringLiteral("link"));
        if (!model.isEmpty() || !link.isEmpty())
            say(stdout, QStringLiteral("controller: %1 %2").arg(model, link).trimmed());
        if (!span) {
            say(stdout, QStringLiteral("span: empty"));
            return 0;
        }
        say(stdout, QStringLiteral("span: %1 .. %2, %3 statuses")
                        .arg(trend::isoTime(span->first), trend::isoTime(span->last))
                        .arg(span->samples));
        // The status recorded last, which is not the newest where the clock was set back.
        if (const auto last = store.lastWritten())
            say(stdout, QStringLiteral("last written: %1").arg(trend::isoTime(*last)));
        say(stdout, QStringLiteral("channel\tunit\tfirst\tlast\tsamples"));
        const auto spans = store.channelSpans();
        for (int c = 0; c < trend::ChannelCount; ++c) {
            const auto found = spans.find(c);
            if (found == spans.end())
                continue;
            say(stdout, QStringLiteral("%1\t%2\t%3\t%4\t%5")
                            .arg(QLatin1String(channels[size_t(c)].name), QString::fromUtf8(channels[size_t(c)].unit),
                                 trend::isoTime(found->second.first), trend::isoTime(found->second.last))
                            .arg(found->second.samples));
        }
        return 0;
    }

    QList<int> wanted = args.trend.channels;
    if (wanted.isEmpty()) {
        for (int c = 0; c < trend::ChannelCount; ++c)
            wanted << c;
    }
    // Streamed: read and written in pieces, from one snapshot of the file.
    const trend::TrendExport what{wanted, args.trend.from, args.trend.to, args.trend.stepMs};
    if (args.trend.out.isEmpty()) {
        const bool written = trend::streamTrendCsv(store, what, [](const QByteArray &bytes) {
            return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
        });
        std::fflush(stdout);
        return !written || std::ferror(stdout) ? 1 : 0;
    }
    if (!trend::exportTrendFile(store, what, args.trend.out, error)) {
        say(stderr, QStringLiteral("qeln-cli: ") + error);
        return 1;
    }
    say(stdout, QFileInfo(args.trend.out).absoluteFilePath());
    return 0;
}

bool CliRecord::parseArgs(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::Record;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        if (!c.isOption(QLatin1String("--db")))
            return cliargs::unexpected(error, QStringLiteral("record"), c.arg());
        if (!c.takeValue(out.trend.db) || out.trend.db.isEmpty())
            return fail(error, QStringLiteral("record: --db needs a file"));
    }
    return true;
}

CliRecord::CliRecord(const CliArgs &args, QObject *parent)
    : CliWatchCommand(args, parent)
{
    monitor_ = std::make_unique<LiveMonitor>(engine_, state_);
    recorder_ = std::make_unique<trend::Recorder>();
    if (!args_.trend.db.isEmpty())
        recorder_->setFile(QFileInfo(args_.trend.db).absoluteFilePath());
    else
        recorder_->setOutputFolder(QDir::currentPath());
    connect(recorder_.get(), &trend::Recorder::paused, this,
            [](const QString &message) { say(stderr, QStringLiteral("qeln-cli: ") + message); });
    connect(recorder_.get(), &trend::Recorder::resumed, this,
            [] { say(stderr, QStringLiteral("qeln-cli: trend recording goes on")); });
    // The file's path goes to stdout once it is known (after the controller said who it is).
    connect(recorder_.get(), &trend::Recorder::fileOpened, this, [this](const QString &path) {
        if (path != std::exchange(namedFile_, path))
            say(stdout, path);
    });
    // The controller is asked once who it is (a read of its network block that changes nothing).
    ip_ = std::make_unique<IpSettingsLink>(engine_);
    connect(ip_.get(), &IpSettingsLink::readBackDecoded, this, [this](const IpSettingsReadBack &readBack, quint64) {
        if (readBack.has(IpField::SerialNumber) && !readBack.serialNumberText.trimmed().isEmpty())
            recorder_->setSerialNumber(readBack.serialNumberText.trimmed(),
                                     readBack.has(IpField::Mac) ? readBack.macText : QString());
        else
            recorder_->identityUnknown();
    });
    connect(ip_.get(), &IpSettingsLink::readFailed, this, [this](quint64 generation, const RequestFailure &) {
        if (generation == identityRead_)
            recorder_->identityUnknown();
    });
    connect(monitor_.get(), &LiveMonitor::plantDecoded, this, [this](const PlantStatus &plant) {
        if (done())
            return;
        if (firstAnswer()) {
            const LinkTarget &l = args_.link;
            recorder_->beginConnection(l.tcp ? QStringLiteral("tcp:%1:%2").arg(l.host).arg(l.port)
                                             : QStringLiteral("serial:") + l.device,
                                       true);
            identityRead_ = ip_->readInPollSlot();
        }
        recorder_->addStatus(plant, QDateTime::currentMSecsSinceEpoch());
    });
}

CliRecord::~CliRecord() = default;

bool CliRecord::prepare(QString &reason, int &exitCode)
{
    // A file named on the command line must take a recording before anything is sent.
    exitCode = 2;
    if (args_.trend.db.isEmpty())
        return true;
    trend::TrendStore probe;
    return probe.open(QFileInfo(args_.trend.db).absoluteFilePath(), trend::TrendStore::Mode::Record, reason);
}

void CliRecord::stopRequested()
{
    engine_.stopPolling();
    recorder_->close();
    finish(0);
}

void CliRecord::stopping()
{
    if (recorder_)
        recorder_->close();
}

} // namespace qeln
