#pragma once

#include "fleet/fleetconfig.h"
#include "fleet/readresult.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <vector>

namespace qeln::fleet {

// Which part of a fleet this process polls: shard K of N (1-based), by controller name.
struct Shard {
    int index = 1;
    int count = 1;
    bool operator==(const Shard &) const = default;
};

// "K/N" with 1 <= K <= N <= 1000; false with the reason otherwise.
bool parseShard(const QString &text, Shard &out, QString &error);

// Whether this shard polls the controller. A hash of the name alone picks the shard, so N
// processes with one config poll every controller exactly once, and a controller keeps its
// shard when others are added or removed.
bool inShard(const QString &name, const Shard &shard);

// An inventory file as an inventory system writes it, in the shape of Prometheus's file-based
// service discovery (JSON or YAML):
//     [{"targets": ["tcp:10.1.2.3:502"], "labels": {"controller": "site-7", "region": "north"}}]
// A target is a link in serve's own syntax (tcp:HOST[:PORT] or serial:DEVICE). The label
// "controller" names the target (a group that names one holds one target); without it each
// target is named by its link text. The other labels become the controller's extra labels;
// labels starting with "__" are the discovery's own and are left out. Every controller gets
// the config's default interval, timeout and connection. Refusals as "FILE:LINE: what is wrong".
struct InventoryDefaults {
    std::chrono::milliseconds interval{std::chrono::seconds(10)};
    std::chrono::milliseconds timeout{std::chrono::seconds(2)};
    Connection connection = Connection::PerPoll;
    bool operator==(const InventoryDefaults &) const = default;
};
ReadResult<std::vector<ControllerConfig>> readInventoryFile(const QString &path, const InventoryDefaults &defaults);

// The files the patterns name now (globs relative to `baseDir`; "*", "?" and "[...]" in the
// file name part only), sorted, each once.
QStringList expandInventoryPatterns(const QStringList &patterns, const QString &baseDir);

// The controllers of a set of inventory files, kept up to date while they change: files
// that appear, change or go are read again without a restart or a signal (a moment after the
// change, so a file being written is read once it is whole). A file that cannot be read keeps
// the controllers it gave before, and problem() says why; a controller named in two files
// is taken from the first (in file name order), and problem() says so.
class InventoryWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int SettleMs = 250;

    explicit InventoryWatcher(QObject *parent = nullptr);

    // Starts (or changes) the watch and reads the files now.
    void watch(const QStringList &patterns, const QString &baseDir, const InventoryDefaults &defaults);
    const std::vector<ControllerConfig> &controllers() const { return controllers_; }
    // Reads the files again now (also what a change does after SettleMs).
    void rescan();

Q_SIGNALS:
    // controllers() changed.
    void changed();
    void problem(const QString &message);

private:
    struct FileState {
        QDateTime modified;
        qint64 size = -1;
        std::vector<ControllerConfig> controllers; // the last good read
    };

    void onSomethingChanged();
    void rewatch(const QStringList &files);

    QStringList patterns_;
    QString baseDir_;
    InventoryDefaults defaults_;
    QMap<QString, FileState> files_;
    std::vector<ControllerConfig> controllers_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
};

} // namespace qeln::fleet
