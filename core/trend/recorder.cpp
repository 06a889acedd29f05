#include "recorder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace qeln::trend {

namespace {

constexpr int CommitMs = 1000;
constexpr int RetryMs = 60'000;

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
    folder_ = folder;
}

void Recorder::setFile(const QString &path)
{
    fixedFile_ = path;
}

void Recorder::setLink(const QString &link)
{
    if (link != link_) {
        close();
        // Another link may reach another controller: its serial number is not known yet.
        serial_.clear();
    }
    link_ = link;
}

void Recorder::setSerialNumber(const QString &serial)
{
    if (serial != serial_)
        close();
    serial_ = serial;
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
        const QString base = folder_.isEmpty() ? QDir::currentPath() : folder_;
        path = QDir(base).filePath(QStringLiteral("trends/") + fileNameFor(model, serial_, link_));
    }
    if (store_ && path == openPath_)
        return true;
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
    store->setMeta(QStringLiteral("model"), model);
    if (!link_.isEmpty())
        store->setMeta(QStringLiteral("link"), link_);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    store->prune(now);
    lastPruneMs_ = now;
    store_ = std::move(store);
    openPath_ = path;
    haveAlarms_ = false;
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
    if (!ensureOpen(model))
        return;
    lastStatusMs_ = timeMs;
    StatusRow row;
    row.t = timeMs;
    for (int i = 0; i < StatusRegisterSlots; ++i)
        row.registers[size_t(i)] = quint16(plant.registers[size_t(i)] & 0xFFFF);
    row.values = channelValues(plant, timeMs);
    store_->add(row);

    // The alarms that started or cleared since the last status (all active ones at the first).
    const QStringList now = plant.activeAlarmNames();
    for (const QString &name : now) {
        if (!haveAlarms_ || !lastAlarms_.contains(name))
            store_->addEvent({timeMs, EventKind::AlarmStarted, name});
    }
    if (haveAlarms_) {
        for (const QString &name : std::as_const(lastAlarms_)) {
            if (!now.contains(name))
                store_->addEvent({timeMs, EventKind::AlarmCleared, name});
        }
    }
    lastAlarms_ = now;
    haveAlarms_ = true;
    if (!commit_.isActive())
        commit_.start();
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
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (store_ && now - lastPruneMs_ >= HourMs) {
        store_->prune(now);
        lastPruneMs_ = now;
    }
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
    flushNow();
    commit_.stop();
    store_.reset();
    openPath_.clear();
    haveAlarms_ = false;
}

void Recorder::pause(const QString &why)
{
    paused_ = true;
    commit_.stop();
    retry_.start();
    if (!std::exchange(reported_, true))
        Q_EMIT paused(why);
}

} // namespace qeln::trend
