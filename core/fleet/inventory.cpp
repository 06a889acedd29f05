#include "inventory.h"

#include "fleet/yamlread.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace qeln::fleet {

using namespace yamlread;

namespace {

constexpr int MaxShards = 1000;

bool printableName(const QString &name)
{
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return !name.trimmed().isEmpty();
}

QString scalarText(const YAML::Node &node, int line, const QString &what)
{
    if (!node.IsScalar())
        refuse(line, QStringLiteral("%1 must be a text").arg(what));
    const std::string &raw = node.Scalar();
    const QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    if (text.toUtf8() != QByteArray::fromStdString(raw))
        refuse(line, QStringLiteral("%1 is not UTF-8").arg(what));
    return text;
}

std::vector<ControllerConfig> readGroups(const YAML::Node &root, const QByteArray &fileText,
                                         const InventoryDefaults &defaults)
{
    std::vector<ControllerConfig> out;
    if (root.IsNull())
        return out; // an empty file names no controllers (yet)
    if (!root.IsSequence())
        refuse(lineOf(root), QStringLiteral("an inventory file is a list of target groups"));
    for (const YAML::Node &group : root) {
        const int groupLine = itemLine(group, fileText);
        const YAML::Node *targets = nullptr;
        QMap<QString, QString> labels;
        QString name;
        int nameLine = groupLine;
        const std::vector<Entry> keys = entries(group, groupLine, QStringLiteral("target group"), {"targets", "labels"});
        for (const Entry &e : keys) {
            if (e.key == QLatin1String("targets")) {
                targets = &e.value;
                continue;
            }
            for (const Entry &label : entries(e.value, e.line, QStringLiteral("labels"), {})) {
                if (label.key.startsWith(QLatin1String("__")))
                    continue;
                if (label.key == QLatin1String("controller")) {
                    name = text(label);
                    nameLine = label.line;
                    continue;
                }
                if (const QString problem = labelNameProblem(label.key); !problem.isEmpty())
                    refuse(label.line, QStringLiteral("label name '%1' %2").arg(label.key, problem));
                labels.insert(label.key, text(label));
            }
        }
        if (!targets || !targets->IsSequence() || targets->size() == 0)
            refuse(groupLine, QStringLiteral("a target group needs a list of targets"));
        if (!name.isNull() && targets->size() != 1)
            refuse(nameLine, QStringLiteral("the label controller names one target, but the group has %1; give each "
                                            "its own group")
                                 .arg(targets->size()));
        if (!name.isNull() && !printableName(name))
            refuse(nameLine, QStringLiteral("controller name '%1' is empty or holds a control character").arg(name));
        for (const YAML::Node &target : *targets) {
            const int line = itemLine(target, fileText);
            ControllerConfig c;
            c.line = line;
            c.interval = defaults.interval;
            c.timeout = defaults.timeout;
            c.connection = defaults.connection;
            c.labels = labels;
            const QString link = scalarText(target, line, QStringLiteral("a target"));
            QString error;
            if (!parseFleetLink(link, c.link, error))
                refuse(line, error);
            c.name = name.isNull() ? link : name;
            out.push_back(std::move(c));
        }
    }
    QSet<QString> seen;
    for (const ControllerConfig &c : out) {
        if (seen.contains(c.name))
            refuse(c.line, QStringLiteral("controller name '%1' is given twice").arg(c.name));
        seen.insert(c.name);
    }
    return out;
}

} // namespace

bool parseShard(const QString &text, Shard &out, QString &error)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,4})/(\\d{1,4})$"));
    const QRegularExpressionMatch m = form.match(text);
    const int k = m.hasMatch() ? m.captured(1).toInt() : 0;
    const int n = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (!m.hasMatch() || n < 1 || n > MaxShards || k < 1 || k > n) {
        error = QStringLiteral("'%1' is not a shard K/N with 1 <= K <= N <= %2").arg(text).arg(MaxShards);
        return false;
    }
    out = {k, n};
    return true;
}

bool inShard(const QString &name, const Shard &shard)
{
    if (shard.count <= 1)
        return true;
    // FNV-1a over the name's UTF-8: the same on every machine and in every release, unlike
    // qHash, whose seed changes from process to process.
    quint64 hash = 14695981039346656037ull;
    for (const char byte : name.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 1099511628211ull;
    }
    return int(hash % quint64(shard.count)) + 1 == shard.index;
}

ReadResult<std::vector<ControllerConfig>> readInventoryFile(const QString &path, const InventoryDefaults &defaults)
{
    return yamlread::readFile<std::vector<ControllerConfig>>(path, [&](const YAML::Node &root, const QByteArray &text) {
        return readGroups(root, text, defaults);
    });
}

QStringList expandInventoryPatterns(const QStringList &patterns, const QString &baseDir)
{
    QStringList files;
    for (const QString &pattern : patterns) {
        const QFileInfo info(QDir(baseDir), pattern);
        const QDir dir = info.dir();
        const QString namePattern = info.fileName();
        for (const QString &name : dir.entryList({namePattern}, QDir::Files | QDir::Readable, QDir::Name)) {
            const QString file = QDir::cleanPath(dir.absoluteFilePath(name));
            if (!files.contains(file))
                files.append(file);
        }
    }
    files.sort();
    return files;
}

InventoryWatcher::InventoryWatcher(QObject *parent) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &InventoryWatcher::rescan);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &InventoryWatcher::onSomethingChanged);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &InventoryWatcher::onSomethingChanged);
}

void InventoryWatcher::watch(const QStringList &patterns, const QString &baseDir, const InventoryDefaults &defaults)
{
    const bool defaultsChanged = !(defaults == defaults_);
    patterns_ = patterns;
    baseDir_ = baseDir;
    defaults_ = defaults;
    if (defaultsChanged)
        files_.clear(); // read again with the new defaults
    rescan();
}

void InventoryWatcher::onSomethingChanged()
{
    // A writer may still be at it: read once the files have been quiet for a moment.
    settle_.start();
}

void InventoryWatcher::rewatch(const QStringList &files)
{
    QStringList wanted = files;
    for (const QString &pattern : std::as_const(patterns_))
        wanted.append(QFileInfo(QDir(baseDir_), pattern).absolutePath());
    wanted.removeDuplicates();
    const QStringList watched = watcher_.files() + watcher_.directories();
    QStringList gone;
    for (const QString &w : watched) {
        if (!wanted.contains(w))
            gone.append(w);
    }
    if (!gone.isEmpty())
        watcher_.removePaths(gone);
    QStringList add;
    for (const QString &w : std::as_const(wanted)) {
        if (!watched.contains(w) && QFileInfo::exists(w))
            add.append(w);
    }
    if (!add.isEmpty())
        watcher_.addPaths(add);
}

void InventoryWatcher::rescan()
{
    settle_.stop();
    const QStringList files = expandInventoryPatterns(patterns_, baseDir_);
    bool different = false;
    // Files that went take their controllers with them.
    for (auto it = files_.begin(); it != files_.end();) {
        if (!files.contains(it.key())) {
            it = files_.erase(it);
            different = true;
        } else {
            ++it;
        }
    }
    for (const QString &file : files) {
        const QFileInfo info(file);
        FileState &state = files_[file];
        if (state.size == info.size() && state.modified == info.lastModified())
            continue;
        state.size = info.size();
        state.modified = info.lastModified();
        auto read = readInventoryFile(file, defaults_);
        if (!read) {
            Q_EMIT problem(read.error + QStringLiteral(" (the controllers it gave before stay)"));
            continue;
        }
        state.controllers = std::move(*read.value);
        different = true;
    }
    rewatch(files);

    std::vector<ControllerConfig> merged;
    QMap<QString, QString> from; // name -> the file that gave it
    for (auto it = files_.cbegin(); it != files_.cend(); ++it) {
        for (const ControllerConfig &c : it->controllers) {
            if (const auto first = from.constFind(c.name); first != from.cend()) {
                if (different)
                    Q_EMIT problem(QStringLiteral("%1:%2: controller '%3' is named in %4 already; this entry is left out")
                                       .arg(it.key())
                                       .arg(c.line)
                                       .arg(c.name, *first));
                continue;
            }
            from.insert(c.name, it.key());
            merged.push_back(c);
        }
    }
    const bool same = merged.size() == controllers_.size()
        && std::equal(merged.cbegin(), merged.cend(), controllers_.cbegin(),
                      [](const ControllerConfig &a, const ControllerConfig &b) {
                          return a.sameSettings(b) && a.labels == b.labels;
                      });
    controllers_ = std::move(merged);
    if (!same)
        Q_EMIT changed();
}

} // namespace qeln::fleet
