#include "recorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace qeln::trend {

namespace {

constexpr int CommitMs = 1000;
constexpr int RetryMs = 60'000;
// How far the newest status may run ahead of the real time gone since the last prune before
// pruning waits for a clock that makes sense again.
constexpr qint64 ClockAheadToleranceMs = DayMs;
// Intervals between statuses looked at for the poll period of a file.
constexpr int PeriodSamples = 9;

QString fileSafe(const QString &text)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    QString out = text.trimmed();
    out.replace(unsafe, QStringLiteral("-"));
    return out;
}

} // namespace

Recorder::Recorder(QObject *parent)
    : QObject(parent)
{
    commit_.setInterval(CommitMs);
    connect(&commit_, &QTimer::timeout, this, &Recorder::onCommitTick);
    retry_.setInterval(RetryMs);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        // The next status tries the file again.
        paused_ = false;
        store_.reset();
        openPath_.clear();
    });
}

Recorder::~Recorder()
{
    flushNow();
}

void Recorder::setOutputFolder(const QString &folder)
{
    const bool moved = folder != folder_;
    folder_ = folder;
    // A folder chosen (again) is tried at once: a paused recording does not wait for its retry.
    if (paused_ || (moved && fixedFile_.isEmpty())) {
        close();
        paused_ = false;
        retry_.stop();
        haveAlarms_ = false; // a new file starts with the alarms active then
    }
}

void Recorder::setFile(const QString &path)
{
    fixedFile_ = path;
}

void Recorder::setLink(const QString &link)
{
    if (link != link_)
        beginConnection(link, false);
}

void Recorder::beginConnection(const QString &link, bool identityComing)
{
    // A file of the caller's stays open (and locked) from one connection to the next.
    if (fixedFile_.isEmpty())
        close();
    else
        flushNow();
    link_ = link;
    // Another connection may reach another controller: its serial number is not known yet.
    serial_.clear();
    mac_.clear();
    macInName_ = false;
    linkFileThisConnection_.clear();
    held_.clear();
    haveAlarms_ = false;
    awaiting_ = identityComing && fixedFile_.isEmpty();
}

void Recorder::setSerialNumber(const QString &serial, const QString &mac)
{
    mac_ = mac.trimmed();
    const QString who = serial.trimmed();
    if (who.isEmpty()) {
        identityUnknown();
        return;
    }
    const bool wasAwaiting = std::exchange(awaiting_, false);
    if (who == serial_ && !wasAwaiting)
        return;
    serial_ = who;
    if (!fixedFile_.isEmpty()) {
        // The file is the caller's: it stays open (and locked), and notes whom it records.
        if (store_) {
            store_->setMeta(QStringLiteral("serial"), serial_);
            if (!mac_.isEmpty())
                store_->setMeta(QStringLiteral("mac"), mac_);
        }
        writeHeld();
        return;
    }
    // The statuses recorded under the link name so far belong to this controller: they move
    // into the file of its serial number.
    const QString linkPath = std::exchange(linkFileThisConnection_, QString());
    const bool hadFile = store_ != nullptr;
    flushNow();
    store_.reset();
    openPath_.clear();
    if (!linkPath.isEmpty() && hadFile && enabled_ && !paused_ && ensureOpen(model_))
        foldLinkRecording(linkPath);
    writeHeld();
}

void Recorder::identityUnknown()
{
    if (!std::exchange(awaiting_, false))
        return;
    writeHeld();
}

void Recorder::writeHeld()
{
    const std::vector<Held> held = std::exchange(held_, {});
    for (const Held &status : held)
        record(status);
}

bool Recorder::foldLinkRecording(const QString &linkPath)
{
    if (linkPath == openPath_ || !QFileInfo::exists(linkPath))
        return false;
    QString error;
    if (!store_->absorb(linkPath, error))
        return false;
    // Folded whole: the link's file (and what SQLite and the lock keep beside it) goes.
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral(".lock")})
        QFile::remove(linkPath + suffix);
    return true;
}

void Recorder::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    if (!on) {
        close();
    } else {
        // Switched on again: a pause ends here, and the next status tries the file (and says
        // so again if it still cannot).
        paused_ = false;
        reported_ = false;
        retry_.stop();
        haveAlarms_ = false;
    }
    Q_EMIT enabledChanged(on);
}

QString Recorder::filePath() const
{
    return openPath_;
}

QString Recorder::trendsFolder() const
{
    if (!fixedFile_.isEmpty())
        return QFileInfo(fixedFile_).absolutePath();
    return QDir(folder_.isEmpty() ? QDir::currentPath() : folder_).filePath(QStringLiteral("trends"));
}

QString Recorder::fileNameFor(const QString &model, const QString &serial, const QString &link)
{
    QString name = fileSafe(model);
    const QString who = serial.trimmed().isEmpty() ? fileSafe(QString(link).replace(QLatin1Char(':'), QLatin1Char('-')))
                                                   : fileSafe(serial);
    if (!who.isEmpty())
        name = name.isEmpty() ? who : name + QLatin1Char('_') + who;
    if (name.isEmpty())
        name = QStringLiteral("controller");
    return name + QStringLiteral(".trend.sqlite");
}

bool Recorder::ensureOpen(const QString &model)
{
    QString path = fixedFile_;
    if (path.isEmpty()) {
        const QString who = macInName_ ? serial_ + QLatin1Char('_') + mac_ : serial_;
        path = QDir(trendsFolder()).filePath(fileNameFor(model, who, link_));
    }
    if (store_ && path == openPath_)
        return true;
    triedPath_ = path;
    flushNow();
    store_.reset();
    openPath_.clear();
    // Only `trends/` itself is made, inside an output folder that exists: a folder that has
    // gone is not made again behind the operator's back.
    const QFileInfo info(path);
    const QDir parent = info.absoluteDir();
    if (!parent.exists()) {
        const QDir outer(QFileInfo(parent.absolutePath()).absolutePath());
        const bool made = fixedFile_.isEmpty() && outer.exists() && outer.mkdir(parent.dirName());
        if (!made) {
            pause(QStringLiteral("Trend recording paused: the folder %1 does not exist and cannot be made. Monitoring "
                                 "goes on; choose an existing output folder.")
                      .arg(QDir::toNativeSeparators(parent.absolutePath())));
            return false;
        }
    }
    auto store = std::make_unique<TrendStore>();
    QString error;
    if (!store->open(path, TrendStore::Mode::Record, error)) {
        pause(QStringLiteral("Trend recording paused: %1.").arg(error));
        return false;
    }
    // Two controllers with one serial number (a configuration copied from one to the other)
    // are told apart by their MAC addresses: the second gets a file of its own.
    const QString recordedMac = store->meta(QStringLiteral("mac"));
    if (fixedFile_.isEmpty() && !macInName_ && !serial_.isEmpty() && !mac_.isEmpty() && !recordedMac.isEmpty()
        && recordedMac != mac_) {
        store.reset();
        macInName_ = true;
        return ensureOpen(model);
    }
    store->setMeta(QStringLiteral("model"), model);
    if (!link_.isEmpty())
        store->setMeta(QStringLiteral("link"), link_);
    if (!serial_.isEmpty())
        store->setMeta(QStringLiteral("serial"), serial_);
    if (!mac_.isEmpty() && recordedMac.isEmpty())
        store->setMeta(QStringLiteral("mac"), mac_);
    pruneBaseMs_ = QDateTime::currentMSecsSinceEpoch();
    sincePrune_.start();
    store_ = std::move(store);
    openPath_ = path;
    if (fixedFile_.isEmpty() && serial_.isEmpty())
        linkFileThisConnection_ = path;
    intervals_.clear();
    previousStatusMs_ = 0;
    periodNoted_ = false;
    pruneIfDue(true);
    Q_EMIT fileOpened(path);
    return true;
}

void Recorder::addStatus(const PlantStatus &plant, qint64 timeMs)
{
    if (!enabled_ || paused_)
        return;
    const QString model = plant.modelText.trimmed();
    if (model != model_ && store_ && fixedFile_.isEmpty())
        flushNow();
    model_ = model;
    lastStatusMs_ = timeMs;
    Held status;
    status.row.t = timeMs;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        status.row.registers[size_t(i)] = quint16(plant.registers[size_t(i)] & 0xFFFF);
    status.row.values = channelValues(plant, timeMs);

    // The alarms that started or cleared since the last status (all active ones at the first
    // of a connection).
    const QStringList now = plant.activeAlarmNames();
    for (const QString &name : now) {
        if (!haveAlarms_ || !lastAlarms_.contains(name))
            status.events.append({timeMs, EventKind::AlarmStarted, name});
    }
    if (haveAlarms_) {
        for (const QString &name : std::as_const(lastAlarms_)) {
            if (!now.contains(name))
                status.events.append({timeMs, EventKind::AlarmCleared, name});
        }
    }
    lastAlarms_ = now;
    haveAlarms_ = true;
    if (awaiting_) {
        held_.push_back(std::move(status));
        // A controller that never says who it is is recorded under the link's name.
        if (int(held_.size()) >= HoldLimit)
            identityUnknown();
        return;
    }
    record(status);
}

void Recorder::record(const Held &status)
{
    if (!enabled_ || paused_ || !ensureOpen(model_))
        return;
    store_->add(status.row);
    for (const Event &e : status.events)
        store_->addEvent(e);
    notePollPeriod(status.row.t);
    if (!commit_.isActive())
        commit_.start();
}

void Recorder::notePollPeriod(qint64 timeMs)
{
    if (periodNoted_)
        return;
    if (previousStatusMs_ > 0 && timeMs > previousStatusMs_)
        intervals_.append(timeMs - previousStatusMs_);
    previousStatusMs_ = timeMs;
    if (intervals_.size() < PeriodSamples)
        return;
    QList<qint64> sorted = intervals_;
    std::sort(sorted.begin(), sorted.end());
    store_->setMeta(QStringLiteral("poll_ms"), QString::number(sorted.at(sorted.size() / 2)));
    periodNoted_ = true;
}

void Recorder::pruneIfDue(bool atOpen)
{
    if (!store_ || (!atOpen && sincePrune_.elapsed() < pruneEveryMs_))
        return;
    const auto span = store_->span();
    if (!span)
        return;
    // The newest status: at open the file's, but no later than this computer's clock (a file
    // may hold the times of a clock that once ran ahead); then the last one given.
    const qint64 newest = atOpen ? std::min(span->last, QDateTime::currentMSecsSinceEpoch()) : lastStatusMs_;
    const qint64 elapsed = sincePrune_.elapsed();
    if (!atOpen && newest > pruneBaseMs_ + elapsed + ClockAheadToleranceMs) {
        // The clock ran ahead: nothing is cut by it. Asked again in an hour.
        sincePrune_.start();
        pruneBaseMs_ += elapsed;
        return;
    }
    store_->prune(newest);
    if (!atOpen) {
        pruneBaseMs_ = newest;
        sincePrune_.start();
    }
}

void Recorder::addWrite(const RegisterWrite &write, const QString &source, qint64 timeMs)
{
    if (!enabled_ || paused_ || !store_)
        return;
    QString text = QStringLiteral("register %1 = %2").arg(write.address).arg(write.value);
    if (!source.isEmpty())
        text += QStringLiteral(" (%1)").arg(source);
    store_->addEvent({timeMs, EventKind::Write, text});
}

void Recorder::onCommitTick()
{
    flushNow();
    pruneIfDue(false);
}

void Recorder::flushNow()
{
    if (!store_ || !store_->hasPending())
        return;
    QString error;
    bool disk = false;
    if (!store_->flush(error, &disk)) {
        pause(disk ? QStringLiteral("Trend recording paused: %1 cannot be written (%2). Monitoring goes on; free "
                                    "some disk space or choose another output folder; recording tries again "
                                    "every minute.")
                         .arg(openPath_, error)
                   : QStringLiteral("Trend recording paused: %1: %2. Monitoring goes on; recording tries again "
                                    "every minute.")
                         .arg(openPath_, error));
        return;
    }
    if (reported_) {
        reported_ = false;
        Q_EMIT resumed();
    }
    Q_EMIT flushed();
}

void Recorder::close()
{
    // Statuses still held for an identity that did not come are recorded under the link.
    if (awaiting_ && !held_.empty()) {
        awaiting_ = false;
        writeHeld();
    }
    flushNow();
    commit_.stop();
    store_.reset();
    openPath_.clear();
}

void Recorder::pause(const QString &why)
{
    paused_ = true;
    pauseReason_ = why;
    commit_.stop();
    retry_.start();
    if (!std::exchange(reported_, true))
        Q_EMIT paused(why);
}

} // namespace qeln::trend
