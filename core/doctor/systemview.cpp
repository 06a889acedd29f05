#include "systemview.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qeln::doctor {

SystemView::SystemView(QString root) : root_(std::move(root))
{
    while (root_.size() > 1 && root_.endsWith(QLatin1Char('/')))
        root_.chop(1);
    if (root_.isEmpty())
        root_ = QStringLiteral("/");
}

QString SystemView::defaultRoot()
{
    const QString root = qEnvironmentVariable("QELN_DOCTOR_ROOT");
    return root.isEmpty() ? QStringLiteral("/") : root;
}

QString SystemView::at(const QString &path) const
{
    return root_ == QLatin1String("/") ? path : root_ + path;
}

QString SystemView::readText(const QString &path) const
{
    QFile file(at(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // sysfs and /proc files are small; a cap keeps a strange file from being read whole.
    return QString::fromUtf8(file.read(1 << 20));
}

namespace {

QString trimmedLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

PortInfo SystemView::port(const QString &ttyName) const
{
    PortInfo info;
    info.device = QStringLiteral("/dev/") + ttyName;
    const QString classDir = at(QStringLiteral("/sys/class/tty/") + ttyName);
    const QString device = QFileInfo(classDir + QStringLiteral("/device")).canonicalFilePath();
    if (device.isEmpty())
        return info;
    info.driver = QFileInfo(QFileInfo(device + QStringLiteral("/driver")).canonicalFilePath()).fileName();
    // The USB device is the first folder upwards with an idVendor: the port (ttyUSB), its
    // interface (ttyACM), then the device.
    QDir dir(device);
    for (int up = 0; up < 4; ++up) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            auto attr = [&dir](const char *name) {
                QFile file(dir.filePath(QLatin1String(name)));
                return file.open(QIODevice::ReadOnly) ? trimmedLine(QString::fromUtf8(file.read(4096))) : QString();
            };
            info.vendorId = attr("idVendor").toLower();
            info.productId = attr("idProduct").toLower();
            info.serial = attr("serial");
            info.product = attr("product");
            break;
        }
        if (!dir.cdUp())
            break;
    }
    // /dev/serial/by-id names the port by its adapter; its links point at ../../ttyUSB0.
    const QDir byId(at(QStringLiteral("/dev/serial/by-id")));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(link.symLinkTarget()).fileName() == ttyName) {
            info.byId = link.fileName();
            break;
        }
    }
    return info;
}

QList<PortInfo> SystemView::ports() const
{
    QList<PortInfo> found;
    const QDir ttys(at(QStringLiteral("/sys/class/tty")));
    for (const QString &name : ttys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!QFileInfo::exists(ttys.filePath(name + QStringLiteral("/device"))))
            continue; // consoles and pseudo-terminals have no device behind them
        // The 8250 driver makes ttyS0..ttyS31 whether a UART answered or not; type 0 is none.
        const QString type = trimmedLine(readText(QStringLiteral("/sys/class/tty/%1/type").arg(name)));
        if (name.startsWith(QLatin1String("ttyS")) && (type.isEmpty() || type == QLatin1String("0")))
            continue;
        found << port(name);
    }
    return found;
}

QMap<QString, QString> SystemView::usbDevices() const
{
    QMap<QString, QString> found;
    const QDir devices(at(QStringLiteral("/sys/bus/usb/devices")));
    for (const QString &name : devices.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        QFile vendor(devices.filePath(name + QStringLiteral("/idVendor")));
        QFile product(devices.filePath(name + QStringLiteral("/idProduct")));
        if (!vendor.open(QIODevice::ReadOnly) || !product.open(QIODevice::ReadOnly))
            continue;
        QFile text(devices.filePath(name + QStringLiteral("/product")));
        const QString key = trimmedLine(QString::fromUtf8(vendor.read(64))).toLower() + QLatin1Char(':')
                            + trimmedLine(QString::fromUtf8(product.read(64))).toLower();
        found.insert(key, text.open(QIODevice::ReadOnly) ? trimmedLine(QString::fromUtf8(text.read(4096))) : QString());
    }
    return found;
}

QList<ProcessInfo> SystemView::processes() const
{
    QList<ProcessInfo> found;
    const QDir proc(at(QStringLiteral("/proc")));
    for (const QString &name : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int pid = name.toInt(&ok);
        if (ok && pid > 0)
            found.append({pid, processName(pid)});
    }
    return found;
}

bool SystemView::processExists(int pid) const
{
    return pid > 0 && QFileInfo(at(QStringLiteral("/proc/%1").arg(pid))).isDir();
}

QString SystemView::processName(int pid) const
{
    return trimmedLine(readText(QStringLiteral("/proc/%1/comm").arg(pid)));
}

QList<ProcessInfo> SystemView::holders(dev_t rdev, int ptyIndex, int ownPid, int &unreadable) const
{
    static const dev_t ptmx = makedev(5, 2);
    QList<ProcessInfo> found;
    unreadable = 0;
    for (ProcessInfo process : processes()) {
        if (process.pid == ownPid)
            continue;
        const QDir fds(at(QStringLiteral("/proc/%1/fd").arg(process.pid)));
        if (!fds.isReadable()) {
            ++unreadable;
            continue;
        }
        for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            // The descriptor's link leads to the open file itself: the device is known by its
            // number, not by the name it was opened through. Only device nodes are looked at,
            // so a file on a hung network share cannot stall the doctor.
            const QString target = fd.symLinkTarget();
            if (!target.startsWith(QLatin1String("/dev/")) && (root_ == QLatin1String("/") || !target.startsWith(root_ + QLatin1Char('/'))))
                continue;
            struct ::stat open = {};
            if (::stat(QFile::encodeName(fd.absoluteFilePath()).constData(), &open) != 0 || !S_ISCHR(open.st_mode))
                continue;
            if (open.st_rdev == rdev) {
                process.holdsDevice = true;
            } else if (ptyIndex >= 0 && open.st_rdev == ptmx && !process.holdsMaster) {
                // fdinfo names the pseudo-terminal a master belongs to; a kernel that does
                // not tell leaves every master holder a possible maker.
                const QString info = readText(QStringLiteral("/proc/%1/fdinfo/%2").arg(process.pid).arg(fd.fileName()));
                static const QRegularExpression index(QStringLiteral("(?:^|\\n)tty-index:\\s*(\\d+)"));
                const auto match = index.match(info);
                process.holdsMaster = !match.hasMatch() || match.captured(1).toInt() == ptyIndex;
            }
        }
        if (process.holdsDevice) {
            // tty_nr, the 7th field of stat, after the comm in parentheses.
            const QString stat = readText(QStringLiteral("/proc/%1/stat").arg(process.pid));
            const QStringList fields = stat.mid(stat.lastIndexOf(QLatin1Char(')')) + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const uint tty = fields.size() > 4 ? fields.at(4).toUInt() : 0;
            process.controlling = tty != 0 && makedev((tty >> 8) & 0xfff, (tty & 0xff) | ((tty >> 12) & 0xfff00)) == rdev;
        }
        if (process.holdsDevice || process.holdsMaster)
            found << process;
    }
    return found;
}

QString SystemView::charDeviceClass(unsigned major, unsigned minor, QString &name) const
{
    const QString entry = QFileInfo(at(QStringLiteral("/sys/dev/char/%1:%2").arg(major).arg(minor))).canonicalFilePath();
    if (entry.isEmpty()) {
        name.clear();
        return {};
    }
    // .../virtual/mem/null, .../tty/ttyS0: the folder above the device's own is its class.
    const QFileInfo info(entry);
    name = info.fileName();
    return QFileInfo(info.path()).fileName();
}

bool SystemView::ttyHasDevice(const QString &ttyName) const
{
    return QFileInfo::exists(at(QStringLiteral("/sys/class/tty/%1/device").arg(ttyName)));
}

QString SystemView::ttyType(const QString &ttyName) const
{
    return trimmedLine(readText(QStringLiteral("/sys/class/tty/%1/type").arg(ttyName)));
}

QList<Account> SystemView::accounts(const QString &path, bool group) const
{
    QList<Account> found;
    for (const QString &line : readText(path).split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char(':'));
        if (fields.size() < (group ? 4 : 3) || line.startsWith(QLatin1Char('#')))
            continue;
        bool ok = false;
        Account account{fields.at(0), fields.at(2).toUInt(&ok), {}};
        if (!ok)
            continue;
        if (group)
            account.members = fields.at(3).trimmed().split(QLatin1Char(','), Qt::SkipEmptyParts);
        found << account;
    }
    return found;
}

QList<Account> SystemView::groups() const
{
    return accounts(QStringLiteral("/etc/group"), true);
}

QList<Account> SystemView::users() const
{
    return accounts(QStringLiteral("/etc/passwd"), false);
}

QMap<QString, QString> SystemView::udevProperties(unsigned major, unsigned minor) const
{
    QMap<QString, QString> properties;
    const QString text = readText(QStringLiteral("/run/udev/data/c%1:%2").arg(major).arg(minor));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("E:")))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 2)
            properties.insert(line.mid(2, eq - 2), line.mid(eq + 1));
    }
    return properties;
}

QStringList SystemView::rulesFiles(const QString &word) const
{
    QStringList found;
    QStringList seen; // /lib is often a link to /usr/lib: one file is read once
    for (const char *folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        const QDir dir(at(QLatin1String(folder)));
        for (const QFileInfo &file : dir.entryInfoList({QStringLiteral("*.rules")}, QDir::Files, QDir::Name)) {
            const QString canonical = file.canonicalFilePath();
            if (file.fileName().contains(word, Qt::CaseInsensitive) && !seen.contains(canonical)) {
                seen << canonical;
                found << file.absoluteFilePath();
            }
        }
    }
    return found;
}

bool rulesClaimAdapter(const QString &rules, const QString &vendorId, const QString &productId)
{
    const QString vendor = vendorId.toLower();
    const QString product = productId.toLower();
    // ENV{PRODUCT} is "vendor/product/bcdDevice" in hex without leading zeros.
    auto bare = [](const QString &hex) {
        bool ok = false;
        const uint value = hex.toUInt(&ok, 16);
        return ok ? QString::number(value, 16) : hex;
    };
    const QString productKey = bare(vendor) + QLatin1Char('/') + bare(product) + QLatin1Char('/');
    static const QRegularExpression vendorAttr(QStringLiteral("ATTRS?\\{idVendor\\}==\"([0-9a-fA-F]{4})\""));
    static const QRegularExpression productAttr(QStringLiteral("ATTRS?\\{idProduct\\}==\"([0-9a-fA-F]{4})\""));
    static const QRegularExpression productEnv(QStringLiteral("ENV\\{PRODUCT\\}==\"([^\"]*)\""));
    for (const QString &raw : rules.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const auto v = vendorAttr.match(line);
        const auto p = productAttr.match(line);
        if (v.hasMatch() && p.hasMatch() && v.captured(1).toLower() == vendor && p.captured(1).toLower() == product)
            return true;
        const auto env = productEnv.match(line);
        if (env.hasMatch() && env.captured(1).toLower().startsWith(productKey))
            return true;
    }
    return false;
}

} // namespace qeln::doctor
