#include "fleetconfig.h"

#include "fleet/duration.h"
#include "fleet/yamlread.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace qeln::fleet {

using namespace yamlread;
using std::chrono::milliseconds;

namespace {

milliseconds durationOf(const Entry &entry)
{
    milliseconds value{};
    QString error;
    if (!parseDuration(text(entry), value, error))
        refuse(entry.line, QStringLiteral("%1: %2").arg(entry.key, error));
    return value;
}

void checkTimeout(milliseconds timeout, milliseconds interval, int line, const QString &whose)
{
    if (timeout >= interval)
        refuse(line, QStringLiteral("%1timeout %2 is not shorter than the interval %3: a poll must end "
                                    "before the next one starts")
                         .arg(whose, formatDuration(timeout), formatDuration(interval)));
}

// A control character in a name would break the status page and the messages that quote it.
bool printable(const QString &name)
{
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// What identifies a serial device: its real path when it exists (a symlink under
// /dev/serial/by-id is the same device as the /dev/ttyUSB node it points to).
QString deviceIdentity(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(device) : canonical;
}

Connection connectionOf(const Entry &entry)
{
    const QString value = text(entry);
    if (value == QLatin1String("per_poll"))
        return Connection::PerPoll;
    if (value == QLatin1String("persistent"))
        return Connection::Persistent;
    refuse(entry.line, QStringLiteral("connection: '%1' is neither per_poll nor persistent").arg(value));
}

struct Defaults {
    milliseconds interval{std::chrono::seconds(10)};
    milliseconds timeout{std::chrono::seconds(2)};
    Connection connection = Connection::PerPoll;
};

QMap<QString, QString> readLabels(const Entry &labelsEntry)
{
    QMap<QString, QString> labels;
    for (const Entry &label : entries(labelsEntry.value, labelsEntry.line, QStringLiteral("labels"), {})) {
        if (const QString problem = labelNameProblem(label.key); !problem.isEmpty())
            refuse(label.line, QStringLiteral("label name '%1' %2").arg(label.key, problem));
        labels.insert(label.key, text(label));
    }
    return labels;
}

struct ReadController {
    ControllerConfig config;
    int nameLine = 1;
    int linkLine = 1;
};

ReadController readController(const YAML::Node &node, int entryLine, const Defaults &defaults)
{
    ReadController read;
    ControllerConfig &c = read.config;
    c.line = entryLine;
    c.interval = defaults.interval;
    c.timeout = defaults.timeout;
    c.connection = defaults.connection;
    const std::vector<Entry> keys = entries(node, c.line, QStringLiteral("controller entry"),
                                            {"name", "link", "interval", "timeout", "connection", "labels"});
    if (node.IsNull())
        refuse(c.line, QStringLiteral("empty controller entry: it needs a name and a link"));
    const Entry *name = nullptr;
    const Entry *link = nullptr;
    const Entry *interval = nullptr;
    const Entry *timeout = nullptr;
    for (const Entry &e : keys) {
        if (e.key == QLatin1String("name"))
            name = &e;
        else if (e.key == QLatin1String("link"))
            link = &e;
        else if (e.key == QLatin1String("interval"))
            interval = &e;
        else if (e.key == QLatin1String("timeout"))
            timeout = &e;
        else if (e.key == QLatin1String("connection"))
            c.connection = connectionOf(e);
        else
            c.labels = readLabels(e);
    }
    if (!name)
        refuse(c.line, QStringLiteral("controller entry has no name"));
    c.name = text(*name);
    if (c.name.trimmed().isEmpty())
        refuse(name->line, QStringLiteral("empty controller name"));
    if (!printable(c.name))
        refuse(name->line, QStringLiteral("controller name '%1' holds a control character").arg(c.name));
    if (!link)
        refuse(c.line, QStringLiteral("controller '%1' has no link").arg(c.name));
    QString error;
    if (!parseFleetLink(text(*link), c.link, error))
        refuse(link->line, error);
    if (interval)
        c.interval = durationOf(*interval);
    if (timeout)
        c.timeout = durationOf(*timeout);
    // Report on the line that made the pair wrong: the entry's own timeout, else its interval.
    const int line = timeout ? timeout->line : interval ? interval->line : c.line;
    checkTimeout(c.timeout, c.interval, line, QStringLiteral("controller '%1': ").arg(c.name));
    read.nameLine = name->line;
    read.linkLine = link->line;
    return read;
}

FleetConfig readFleet(const YAML::Node &root, const QByteArray &fileText)
{
    FleetConfig config;
    Defaults defaults;
    const Entry *controllers = nullptr;
    const std::vector<Entry> top =
        entries(root, 1, QStringLiteral("the config"), {"listen", "defaults", "controllers", "controller_files"});
    for (const Entry &e : top) {
        if (e.key == QLatin1String("listen")) {
            QString error;
            if (!parseListenAddress(text(e), config.listen, error))
                refuse(e.line, error);
        } else if (e.key == QLatin1String("defaults")) {
            int timeoutLine = e.line;
            for (const Entry &d :
                 entries(e.value, e.line, QStringLiteral("defaults"), {"interval", "timeout", "connection"})) {
                if (d.key == QLatin1String("interval")) {
                    defaults.interval = durationOf(d);
                } else if (d.key == QLatin1String("connection")) {
                    defaults.connection = connectionOf(d);
                } else {
                    defaults.timeout = durationOf(d);
                    timeoutLine = d.line;
                }
            }
            // Checked here so that the message points into defaults, not at a controller.
            checkTimeout(defaults.timeout, defaults.interval, timeoutLine, QStringLiteral("defaults: "));
        } else if (e.key == QLatin1String("controller_files")) {
            if (!e.value.IsSequence() || e.value.size() == 0)
                refuse(e.line, QStringLiteral("'controller_files' must be a list of file patterns"));
            for (const YAML::Node &pattern : e.value) {
                const int line = itemLine(pattern, fileText);
                const QString glob = pattern.IsScalar() ? QString::fromStdString(pattern.Scalar()) : QString();
                if (glob.trimmed().isEmpty())
                    refuse(line, QStringLiteral("an inventory file pattern must be a non-empty text"));
                config.controllerFiles.append(glob);
            }
        } else {
            controllers = &e;
        }
    }
    config.defaultInterval = defaults.interval;
    config.defaultTimeout = defaults.timeout;
    config.defaultConnection = defaults.connection;
    // With inventory files the config may name no controller of its own.
    if (!controllers && config.controllerFiles.isEmpty())
        refuse(1, QStringLiteral("no 'controllers' list"));
    if (!controllers)
        return config;
    if (!controllers->value.IsNull() && !controllers->value.IsSequence())
        refuse(controllers->line, QStringLiteral("'controllers' must be a list of entries"));
    // Taken at a reload, an empty list would drop every series of the fleet and report success.
    if ((controllers->value.IsNull() || controllers->value.size() == 0) && config.controllerFiles.isEmpty())
        refuse(controllers->line, QStringLiteral("'controllers' lists no controller"));
    // Name and device -> where they were first given (line, controller name).
    QHash<QString, int> nameLines;
    QHash<QString, std::pair<int, QString>> devices;
    for (const YAML::Node &node : controllers->value) {
        ReadController read = readController(node, itemLine(node, fileText), defaults);
        const ControllerConfig &c = read.config;
        if (const auto seen = nameLines.constFind(c.name); seen != nameLines.cend())
            refuse(read.nameLine, QStringLiteral("controller name '%1' is given twice (first on line %2)")
                                      .arg(c.name)
                                      .arg(*seen));
        nameLines.insert(c.name, read.nameLine);
        if (!c.link.tcp) {
            const QString device = deviceIdentity(c.link.device);
            if (const auto seen = devices.constFind(device); seen != devices.cend())
                refuse(read.linkLine, QStringLiteral("controller '%1': serial device '%2' is already used by "
                                                     "controller '%3' (line %4); one controller per serial device")
                                          .arg(c.name, c.link.device, seen->second)
                                          .arg(seen->first));
            devices.insert(device, {read.linkLine, c.name});
        }
        config.controllers.push_back(std::move(read.config));
    }
    return config;
}

} // namespace

QString labelNameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("is empty");
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        const bool letter = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || u == u'_';
        if (!(letter || (i > 0 && u >= u'0' && u <= u'9')))
            return QStringLiteral("is not a Prometheus label name ([a-zA-Z_][a-zA-Z0-9_]*)");
    }
    if (name.startsWith(QLatin1String("__")))
        return QStringLiteral("starts with '__', which Prometheus keeps for itself");
    if (name == QLatin1String("controller") || name == QLatin1String("model") || name == QLatin1String("firmware")
        || name == QLatin1String("firmware_date"))
        return QStringLiteral("is set by serve itself");
    return {};
}

ReadResult<FleetConfig> readConfig(const QString &path)
{
    auto result = yamlread::readFile<FleetConfig>(path, [](const YAML::Node &root, const QByteArray &text) {
        return readFleet(root, text);
    });
    if (result)
        result.value->baseDir = QFileInfo(path).absolutePath();
    return result;
}

} // namespace qeln::fleet
