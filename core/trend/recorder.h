#pragma once

#include "link/registerwrite.h"
#include "plant/plantstatus.h"
#include "trend/trendstore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace qeln::trend {

// Records every decoded status of a connection into its trend file, with the alarms that start
// or clear and the writes the console makes. What it is given is committed once a second (a
// killed program loses at most that second). A full or unwritable disk pauses recording with
// one message; it tries again every minute while monitoring goes on, and never damages what
// was written.
class Recorder : public QObject {
    Q_OBJECT
public:
    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    // Where recordings go: `trends/` under the output folder. Takes effect with the next file.
    void setOutputFolder(const QString &folder);
    // A file of the caller's choice instead of one per controller (`qeln-cli record --db`).
    void setFile(const QString &path);
    // The connection: "tcp:HOST:PORT" or "serial:DEVICE"; names the file while the
    // controller's serial number is unknown. Another link is another connection (see below).
    void setLink(const QString &link);
    // A new connection on `link`. With `identityComing`, the caller has asked the controller
    // for its identity (its network block): the statuses are held in memory until
    // setSerialNumber() or identityUnknown(), at most HoldLimit statuses, so that one
    // controller's statuses go into the file of its serial number whatever the link.
    void beginConnection(const QString &link, bool identityComing);
    // The controller's serial number, once read: the file is named by it (with the model).
    // A recording this connection made under the link name before is folded into it. With the
    // controller's MAC address: a file of that serial number recorded from another MAC (a
    // cloned configuration) is left to that controller, and this one gets a file named by both.
    void setSerialNumber(const QString &serial, const QString &mac = QString());
    // The identity could not be read (no answer, no serial number): the link names the file.
    void identityUnknown();
    bool awaitingIdentity() const { return awaiting_; }
    static constexpr int HoldLimit = 120;

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool on);
    bool isPaused() const { return paused_; }
    // Why recording is paused (the message paused() gave); empty while it records.
    QString pauseReason() const { return paused_ ? pauseReason_ : QString(); }
    // The file being written (empty before the first status).
    QString filePath() const;
    // The file of the connected controller: the one being written, or the one recording
    // could not take (another recorder holds it, the disk refused it); empty before any.
    QString controllerFile() const { return openPath_.isEmpty() ? triedPath_ : openPath_; }
    // The time of the newest status given to the recording (Unix ms; 0 before the first): where
    // a live view ends, whatever times the file holds from a clock that was ahead.
    qint64 lastStatusTime() const { return lastStatusMs_; }
    // The folder the recordings of this console go to (`trends/` under the output folder), or
    // the folder of the file chosen with setFile().
    QString trendsFolder() const;

    // A status was decoded: its registers, channels and alarms, and when.
    void addStatus(const PlantStatus &plant, qint64 timeMs);
    // A write the console made and the controller acknowledged.
    void addWrite(const RegisterWrite &write, const QString &source, qint64 timeMs);
    // Writes what is held now (on stop and before the program ends).
    void flushNow();
    // Closes the file; the next status opens it again.
    void close();

    // Tests: the retry interval and how often pruning is looked at (hourly).
    void setRetryInterval(int ms) { retry_.setInterval(ms); }
    void setPruneInterval(qint64 ms) { pruneEveryMs_ = ms; }

    // The file name for a controller: "MODEL_SERIAL.trend.sqlite", or by link while the
    // serial number is unknown: "MODEL_tcp-HOST-PORT.trend.sqlite".
    static QString fileNameFor(const QString &model, const QString &serial, const QString &link);

Q_SIGNALS:
    void enabledChanged(bool on);
    // Recording stopped for a reason the operator must know (said once until it records again).
    void paused(const QString &message);
    void resumed();
    // A commit went to the file (tests wait on it).
    void flushed();
    // A recording file was opened for writing (its path).
    void fileOpened(const QString &path);

private:
    // One status and the alarm events it brought, as given.
    struct Held {
        StatusRow row;
        QList<Event> events;
    };
    bool ensureOpen(const QString &model);
    void record(const Held &status);
    void writeHeld();
    bool foldLinkRecording(const QString &linkPath);
    void notePollPeriod(qint64 timeMs);
    void pruneIfDue(bool atOpen);
    void onCommitTick();
    void pause(const QString &why);

    std::unique_ptr<TrendStore> store_;
    QString folder_;
    QString fixedFile_;
    QString link_;
    QString serial_;
    QString mac_;
    bool macInName_ = false; // the serial number's file belongs to another controller
    QString model_;
    QString openPath_;
    QString triedPath_;
    QString linkFileThisConnection_; // made under the link name while the identity was unknown
    bool enabled_ = true;
    bool paused_ = false;
    bool reported_ = false; // the pause was told; told again only after recording worked
    QString pauseReason_;
    bool awaiting_ = false;
    std::vector<Held> held_;
    bool haveAlarms_ = false;
    QStringList lastAlarms_;
    qint64 lastStatusMs_ = 0;
    // The poll period seen on this file: the median of the first intervals between statuses.
    QList<qint64> intervals_;
    qint64 previousStatusMs_ = 0;
    bool periodNoted_ = false;
    // Pruning runs when a file opens (cutting by its newest status, or this computer's clock if
    // that is earlier) and hourly by a clock that does not jump, cutting by the newest status;
    // an hourly prune is skipped while that status is more than a day ahead of the time of the
    // last prune (or of the opening) plus the real time gone since: a clock that ran ahead.
    QElapsedTimer sincePrune_;
    qint64 pruneEveryMs_ = HourMs;
    qint64 pruneBaseMs_ = 0;
    QTimer commit_;
    QTimer retry_;
};

} // namespace qeln::trend
