#include "serialdoctor.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace qeln::doctor {

namespace {

const QString Relogin = QStringLiteral("then log out and log in again (or, in this terminal only: newgrp %1)");

// Pseudo-terminal slaves (Unix 98): no udev rules, no modem manager, no adapter.
bool isPseudoTerminal(unsigned major)
{
    return major >= 136 && major <= 143;
}

// The fixed majors of terminals, for a device sysfs does not describe: legacy ptys (2, 3),
// ttyS and the virtual consoles (4), /dev/tty, console and ptmx (5), ttyACM (166), ttyUSB
// (188), ttyAMA and other built-in UARTs (204).
bool isTerminalMajor(unsigned major)
{
    return (major >= 2 && major <= 5) || isPseudoTerminal(major) || major == 166 || major == 188 || major == 204;
}

QString fileKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("no device");
}

QString modeText(mode_t mode)
{
    QString text = QStringLiteral("%1 (").arg(mode & 07777, 4, 8, QLatin1Char('0'));
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text + QLatin1Char(')');
}

QString accountName(const QList<Account> &accounts, unsigned id)
{
    for (const Account &account : accounts) {
        if (account.id == id)
            return account.name;
    }
    return QString::number(id);
}

// A named user or group entry of a POSIX ACL, as the system.posix_acl_access xattr holds it.
struct AclEntry {
    bool user = false;
    unsigned id = 0;
    unsigned perm = 0;
};

// The named entries of the device's access ACL; `supported` is false when it has none or the
// file system keeps none.
QList<AclEntry> readAcl(const QString &path, bool &present)
{
    QList<AclEntry> entries;
    unsigned char buffer[4 + 8 * 64];
    const ssize_t size = getxattr(QFile::encodeName(path).constData(), "system.posix_acl_access", buffer, sizeof buffer);
    present = size >= 4;
    auto le = [&buffer](int at, int bytes) {
        unsigned value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | buffer[at + i];
        return value;
    };
    if (!present || le(0, 4) != 2)
        return entries;
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
        const unsigned tag = le(int(at), 2);
        if (tag == 0x02 || tag == 0x08) // ACL_USER, ACL_GROUP
            entries.append({tag == 0x02, le(int(at) + 4, 4), le(int(at) + 2, 2)});
    }
    return entries;
}

QString permText(unsigned perm)
{
    QString text;
    text += perm & 4 ? QLatin1Char('r') : QLatin1Char('-');
    text += perm & 2 ? QLatin1Char('w') : QLatin1Char('-');
    text += perm & 1 ? QLatin1Char('x') : QLatin1Char('-');
    return text;
}

} // namespace

SerialDoctor::SerialDoctor(QString root) : view_(std::move(root)) {}

Report SerialDoctor::examineAll() const
{
    Report report;
    report.ports = view_.ports();
    if (report.ports.isEmpty()) {
        report.checks.append({QStringLiteral("serial ports"), false, QStringLiteral("no serial port found"),
                              QStringLiteral("plug in the adapter; whether the kernel saw it: sudo dmesg | tail")});
        missingDeviceChecks(report.checks);
        return report;
    }
    for (const PortInfo &port : std::as_const(report.ports)) {
        QList<Check> checks;
        checkDevice(port.device, checks);
        for (Check &check : checks)
            check.name = port.device + QStringLiteral(": ") + check.name;
        report.checks += checks;
    }
    return report;
}

Report SerialDoctor::examineDevice(const QString &device) const
{
    Report report;
    report.target = device;
    report.ports = view_.ports();
    checkDevice(device, report.checks);
    return report;
}

void SerialDoctor::checkDevice(const QString &device, QList<Check> &checks) const
{
    if (device.trimmed().isEmpty()) {
        checks.append({QStringLiteral("exists"), false, QStringLiteral("no port chosen"),
                       QStringLiteral("choose one of the ports listed above, or type its path (/dev/ttyUSB0)")});
        missingDeviceChecks(checks);
        return;
    }
    const QFileInfo given(device);
    struct ::stat node = {};
    if (::stat(QFile::encodeName(device).constData(), &node) != 0) {
        const QString error = QString::fromLocal8Bit(strerror(errno));
        // A by-id link outlives nothing: udev removes it with the port. One left behind, or
        // one typed by hand, names a port that is gone.
        const QString text = given.isSymLink()
            ? QStringLiteral("%1 is a link to %2, which does not exist (%3)").arg(device, given.symLinkTarget(), error)
            : QStringLiteral("%1 does not exist (%2)").arg(device, error);
        checks.append({QStringLiteral("exists"), false, text,
                       QStringLiteral("plug in the adapter and choose one of the ports listed above\n"
                                      "ls -l /dev/serial/by-id")});
        missingDeviceChecks(checks);
        return;
    }
    if (!S_ISCHR(node.st_mode)) {
        checks.append({QStringLiteral("exists"), false,
                       QStringLiteral("%1 is %2, not a serial device").arg(device, fileKind(node.st_mode)),
                       QStringLiteral("choose one of the ports listed above")});
        return;
    }
    const unsigned major = ::major(node.st_rdev);
    const unsigned minor = ::minor(node.st_rdev);
    const QString canonical = given.canonicalFilePath();
    checks.append({QStringLiteral("exists"), true,
                   QStringLiteral("character device %1:%2%3").arg(major).arg(minor)
                       .arg(canonical != device ? QStringLiteral(", ") + canonical : QString()), {}});
    int ptyIndex = -1;
    if (!identify(device, canonical, node, ptyIndex, checks))
        return;
    checks << accessCheck(device, node) << holderCheck(device, node.st_rdev, ptyIndex);
    const QString ttyName = QFileInfo(canonical).fileName();
    checks << lockCheck(canonical.startsWith(QLatin1String("/dev/pts/")) ? QStringLiteral("pts_") + ttyName : ttyName);
    if (ptyIndex >= 0)
        return;
    const PortInfo port = view_.port(ttyName);
    if (!port.vendorId.isEmpty())
        adapterChecks(port, checks);
    checks << modemManagerCheck(device, major, minor);
}

bool SerialDoctor::identify(const QString &device, const QString &canonical, const struct ::stat &node, int &ptyIndex,
                            QList<Check> &checks) const
{
    Check check{QStringLiteral("what it is"), true, {}, {}};
    const unsigned major = ::major(node.st_rdev);
    const unsigned minor = ::minor(node.st_rdev);
    QString sysName;
    const QString sysClass = view_.charDeviceClass(major, minor, sysName);
    const bool terminal = sysClass.isEmpty() ? isTerminalMajor(major) : sysClass == QLatin1String("tty");
    const QString ttyName = sysName.isEmpty() ? QFileInfo(canonical).fileName() : sysName;
    // A link (a /dev/serial/by-id name) is named with what it leads to.
    QString what = canonical != device ? QStringLiteral("%1 is a link to %2: ").arg(device, canonical)
                                       : QStringLiteral("%1 is ").arg(device);
    const QString choose = QStringLiteral("choose one of the serial ports listed above");
    bool further = true;

    if (major == 5 && minor == 2) {
        check.passed = false;
        what += QStringLiteral("the pseudo-terminal multiplexer: opening it makes a new pseudo-terminal, it is no port");
        check.fix = QStringLiteral("give the pseudo-terminal the other program made (/dev/pts/N, as it printed it)");
        further = false;
    } else if (isPseudoTerminal(major)) {
        ptyIndex = int((major - 136) * 256 + minor);
        what += QStringLiteral("a pseudo-terminal: the program that made it is at the other end, no cable or adapter "
                               "is involved");
    } else if (!terminal) {
        check.passed = false;
        what += QStringLiteral("character device %1:%2%3, not a terminal at all: no serial port")
                    .arg(major).arg(minor)
                    .arg(sysName.isEmpty() ? QString() : QStringLiteral(" (%1 %2)").arg(sysClass, sysName));
        check.fix = choose;
        further = false;
    } else if (QFileInfo(view_.at(QStringLiteral("/sys/class/tty/") + ttyName)).isDir()
               && !view_.ttyHasDevice(ttyName)) {
        check.passed = false;
        what += QStringLiteral("a terminal with no port behind it (%1: a console or the controlling terminal), "
                               "not a serial port").arg(ttyName);
        check.fix = choose;
        further = false;
    } else {
        const PortInfo port = view_.port(ttyName);
        if (!port.vendorId.isEmpty()) {
            what += QStringLiteral("a USB serial adapter %1:%2").arg(port.vendorId, port.productId);
            if (!port.product.isEmpty())
                what += QStringLiteral(" (%1)").arg(port.product);
            if (!port.serial.isEmpty())
                what += QStringLiteral(", serial %1").arg(port.serial);
        } else if (view_.ttyHasDevice(ttyName)) {
            what += QStringLiteral("a built-in UART (%1)").arg(ttyName);
            // The 8250 driver makes its ttyS nodes whether a chip answered or not.
            if (ttyName.startsWith(QLatin1String("ttyS")) && view_.ttyType(ttyName) == QLatin1String("0")) {
                check.passed = false;
                what += QStringLiteral(", but the kernel found no chip there: it does not open");
                check.fix = choose;
                further = false;
            }
        } else {
            what += QStringLiteral("a terminal (%1)").arg(ttyName);
        }
        if (!port.driver.isEmpty())
            what += QStringLiteral(", driver %1").arg(port.driver);
        if (!port.byId.isEmpty() && canonical == device)
            what += QStringLiteral(", also /dev/serial/by-id/%1").arg(port.byId);
    }
    check.text = what;
    checks << check;
    return further;
}

Check SerialDoctor::accessCheck(const QString &device, const struct ::stat &node) const
{
    Check check{QStringLiteral("read and write"), true, {}, {}};
    const QList<Account> users = view_.users();
    const QList<Account> groups = view_.groups();
    const uid_t uid = geteuid();
    const QString user = accountName(users, uid);
    if (faccessat(AT_FDCWD, QFile::encodeName(device).constData(), R_OK | W_OK, AT_EACCESS) == 0) {
        check.text = QStringLiteral("%1 may read and write it").arg(user);
        return check;
    }
    check.passed = false;
    const mode_t mode = node.st_mode;
    const QString owner = accountName(users, node.st_uid);
    const QString group = accountName(groups, node.st_gid);
    QStringList why{QStringLiteral("%1 (uid %2) may not: owner %3, group %4, mode %5")
                        .arg(user).arg(uid).arg(owner, group, modeText(mode))};
    QStringList fixes;

    const bool groupRw = (mode & 060) == 060;
    const bool othersRw = (mode & 06) == 06;
    const bool ownerRw = (mode & 0600) == 0600 && node.st_uid == uid;
    // A group that may not read and write the port is no use to join: the port is given to
    // dialout, the group Debian gives serial ports.
    const QString dialout = QStringLiteral("dialout");
    QString wanted = group;
    if (!groupRw && !othersRw && !ownerRw) {
        why << QStringLiteral("its mode lets group %1 neither read nor write it").arg(group);
        if (group != dialout) {
            fixes << QStringLiteral("sudo chgrp %1 %2").arg(dialout, device);
            wanted = dialout;
        }
        fixes << QStringLiteral("sudo chmod 0660 %1   (until it is plugged in again; the package's udev rule "
                                "grants the known adapters at every plug-in)").arg(device);
    }
    gid_t wantedId = node.st_gid;
    for (const Account &g : groups)
        wantedId = g.name == wanted ? g.id : wantedId;

    // Membership as /etc/group lists it, against the groups this process was started with:
    // a membership added after login is not in them yet.
    bool listed = false;
    for (const Account &g : groups)
        listed = listed || (g.name == wanted && g.members.contains(user));
    QList<gid_t> held{getegid()};
    if (const int count = getgroups(0, nullptr); count > 0) {
        std::vector<gid_t> list(size_t(count), 0);
        for (int i = 0, n = getgroups(count, list.data()); i < n; ++i)
            held.append(list[size_t(i)]);
    }
    if (held.contains(wantedId)) {
        why << QStringLiteral("this login has group %1").arg(wanted);
    } else if (listed) {
        why << QStringLiteral("%1 is in group %2, but this login started before that: it does not have it yet").arg(user, wanted);
        fixes << Relogin.arg(wanted);
    } else {
        why << QStringLiteral("%1 is not in group %2 (/etc/group)").arg(user, wanted);
        fixes << QStringLiteral("sudo usermod -aG %1 $USER").arg(wanted) << Relogin.arg(wanted);
    }
    bool aclPresent = false;
    const QList<AclEntry> acl = readAcl(device, aclPresent);
    QStringList grants;
    for (const AclEntry &entry : acl) {
        grants << QStringLiteral("%1:%2:%3").arg(entry.user ? QStringLiteral("user") : QStringLiteral("group"),
                                                 accountName(entry.user ? users : groups, entry.id), permText(entry.perm));
    }
    if (!grants.isEmpty())
        why << QStringLiteral("ACL: %1 (uaccess grants the user at the seat; here it does not reach %2)").arg(grants.join(QLatin1String(", ")), user);
    else if (aclPresent)
        why << QStringLiteral("ACL: no user or group entries (no uaccess grant)");
    else
        why << QStringLiteral("no uaccess ACL (it is set for the user at the seat; check with: getfacl %1)").arg(device);
    check.text = why.join(QLatin1Char('\n'));
    check.fix = fixes.join(QLatin1Char('\n'));
    return check;
}

Check SerialDoctor::holderCheck(const QString &device, dev_t rdev, int ptyIndex) const
{
    Check check{QStringLiteral("not held by another program"), true, {}, {}};
    int unreadable = 0;
    const QList<ProcessInfo> holders = view_.holders(rdev, ptyIndex, int(getpid()), unreadable);
    QStringList makers;
    QStringList sessions;
    QStringList others;
    QStringList kills;
    for (const ProcessInfo &holder : holders) {
        const QString name = QStringLiteral("%1 (pid %2)").arg(holder.name).arg(holder.pid);
        // The maker of a pseudo-terminal keeps its master, and often the slave too: it is the
        // other end of the link, not in its way.
        if (holder.holdsMaster) {
            makers << name;
        } else if (holder.controlling) {
            // A login's terminal: its shell is no program to end for a link.
            sessions << name;
        } else if (holder.holdsDevice) {
            others << name;
            kills << QString::number(holder.pid);
        }
    }
    QStringList text;
    if (!sessions.isEmpty()) {
        check.passed = false;
        text << QStringLiteral("it is the terminal of a login session: %1").arg(sessions.join(QLatin1String(", ")));
        check.fix = QStringLiteral("give the port the controller is on, or the pseudo-terminal the simulator printed, "
                                   "not a terminal someone works in");
    }
    if (!others.isEmpty()) {
        check.passed = false;
        text << QStringLiteral("held open by %1").arg(others.join(QLatin1String(", ")));
        check.fix += (check.fix.isEmpty() ? QString() : QStringLiteral("\n"))
                     + QStringLiteral("close that program, or: kill %1").arg(kills.join(QLatin1Char(' ')));
    } else if (sessions.isEmpty()) {
        text << QStringLiteral("no other process has it open");
    }
    if (unreadable > 0)
        text.last() += QStringLiteral(" (%1 processes of other users could not be examined: sudo qeln-cli doctor %2)")
                           .arg(unreadable).arg(device);
    if (ptyIndex >= 0) {
        text << (makers.isEmpty()
                     ? QStringLiteral("no process seen holds its master side: the program that made it may have ended")
                     : QStringLiteral("made by %1, which holds its master side: the program at the other end, "
                                      "leave it running").arg(makers.join(QLatin1String(", "))));
    }
    check.text = text.join(QLatin1Char('\n'));
    return check;
}

Check SerialDoctor::lockCheck(const QString &ttyName) const
{
    Check check{QStringLiteral("no lock file"), true, QStringLiteral("none in /run/lock or /var/lock"), {}};
    QStringList seen;
    for (const char *folder : {"/run/lock", "/var/lock"}) {
        const QString path = QLatin1String(folder) + QStringLiteral("/LCK..") + ttyName;
        QFile file(view_.at(path));
        const QString canonical = QFileInfo(file).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical) || !file.open(QIODevice::ReadOnly))
            continue;
        seen << canonical;
        const QByteArray data = file.read(64);
        bool ok = false;
        int pid = data.trimmed().toInt(&ok);
        if (!ok && data.size() == 4) // the old binary form: a native int
            std::memcpy(&pid, data.constData(), sizeof pid);
        check.passed = false;
        if (view_.processExists(pid)) {
            check.text = QStringLiteral("%1: locked by %2 (pid %3)").arg(path, view_.processName(pid)).arg(pid);
            check.fix = QStringLiteral("close that program, or: kill %1").arg(pid);
        } else {
            check.text = QStringLiteral("%1: a stale lock (its process %2 has ended)").arg(path).arg(pid);
            check.fix = QStringLiteral("sudo rm %1").arg(path);
        }
        return check;
    }
    return check;
}

void SerialDoctor::adapterChecks(const PortInfo &port, QList<Check> &checks) const
{
    Check check{QStringLiteral("no braille daemon claims it"), true, {}, {}};
    const QString adapter = port.vendorId + QLatin1Char(':') + port.productId;
    const QStringList rules = view_.rulesFiles(QStringLiteral("brltty"));
    for (const QString &file : rules) {
        QFile text(file);
        if (!text.open(QIODevice::ReadOnly) || !rulesClaimAdapter(QString::fromUtf8(text.readAll()), port.vendorId, port.productId))
            continue;
        check.passed = false;
        const QString shown = view_.root() == QLatin1String("/") ? file : file.mid(view_.root().size());
        check.text = QStringLiteral("the braille display daemon's rules (%1) claim USB adapter %2: it takes the port "
                                    "away moments after it appears").arg(shown, adapter);
        check.fix = QStringLiteral("sudo apt remove brltty\nthen unplug the adapter and plug it in again");
        break;
    }
    if (check.passed)
        check.text = rules.isEmpty() ? QStringLiteral("no braille daemon installed")
                                     : QStringLiteral("the braille daemon's rules leave %1 alone").arg(adapter);
    checks << check;
}

Check SerialDoctor::modemManagerCheck(const QString &device, unsigned major, unsigned minor) const
{
    Check check{QStringLiteral("no modem manager probes it"), true, QStringLiteral("no modem manager running"), {}};
    for (const ProcessInfo &process : view_.processes()) {
        if (process.name != QLatin1String("ModemManager"))
            continue;
        if (view_.udevProperties(major, minor).value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == QLatin1String("1")) {
            check.text = QStringLiteral("ModemManager (pid %1) runs but ignores it (ID_MM_DEVICE_IGNORE=1)").arg(process.pid);
            return check;
        }
        check.passed = false;
        check.text = QStringLiteral("ModemManager (pid %1) runs and does not ignore %2: it may send AT commands to a new "
                                    "port and hold it for seconds").arg(process.pid).arg(device);
        check.fix = QStringLiteral("sudo systemctl stop ModemManager\n"
                                   "sudo systemctl disable ModemManager   (when this machine uses no modem; or install the "
                                   "package, whose udev rule sets ID_MM_DEVICE_IGNORE=1 for the known adapters, then "
                                   "unplug and plug in the adapter)");
        return check;
    }
    return check;
}

void SerialDoctor::missingDeviceChecks(QList<Check> &checks) const
{
    // A braille daemon that claims an adapter binds its own driver to it: the adapter is
    // plugged in, yet no port appears.
    const QStringList rules = view_.rulesFiles(QStringLiteral("brltty"));
    if (rules.isEmpty())
        return;
    const QMap<QString, QString> usb = view_.usbDevices();
    for (auto it = usb.begin(); it != usb.end(); ++it) {
        const QString vendor = it.key().section(QLatin1Char(':'), 0, 0);
        const QString product = it.key().section(QLatin1Char(':'), 1, 1);
        for (const QString &file : rules) {
            QFile text(file);
            if (text.open(QIODevice::ReadOnly) && rulesClaimAdapter(QString::fromUtf8(text.readAll()), vendor, product)) {
                checks.append({QStringLiteral("no braille daemon claims it"), false,
                               QStringLiteral("USB adapter %1%2 is plugged in, but the braille display daemon's rules "
                                              "claim it, so it may have taken the port").arg(it.key(),
                                              it.value().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(it.value())),
                               QStringLiteral("sudo apt remove brltty\nthen unplug the adapter and plug it in again")});
                break;
            }
        }
    }
}

Report SerialDoctor::examineTcp(const QString &host, quint16 port, int timeoutMs) const
{
    Report report;
    report.target = QStringLiteral("tcp:%1:%2").arg(host).arg(port);
    report.listsPorts = false;
    QHostAddress address;
    if (!address.setAddress(host)) {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            report.checks.append({QStringLiteral("name resolves"), false,
                                  QStringLiteral("%1 does not resolve: %2").arg(host, info.errorString()),
                                  QStringLiteral("check the spelling, or give the controller's IP address "
                                                 "(qeln-cli doctor tcp:192.168.50.92:502)")});
            return report;
        }
        address = info.addresses().constFirst();
        report.checks.append({QStringLiteral("name resolves"), true,
                              QStringLiteral("%1 is %2").arg(host, address.toString()), {}});
    }
    QTcpSocket socket;
    socket.connectToHost(address, port);
    Check check{QStringLiteral("port answers"), true, {}, {}};
    const QString where = QStringLiteral("%1 port %2").arg(address.toString()).arg(port);
    if (socket.waitForConnected(timeoutMs)) {
        check.text = QStringLiteral("%1 accepts connections").arg(where);
        socket.abort();
    } else if (socket.error() == QAbstractSocket::ConnectionRefusedError) {
        check.passed = false;
        check.text = QStringLiteral("%1 refuses: the host is there, but nothing listens on that port").arg(where);
        check.fix = QStringLiteral("check the port in the controller's network settings (Modbus TCP is 502) "
                                   "and that no other master uses its only connection");
    } else if (socket.error() == QAbstractSocket::SocketTimeoutError) {
        check.passed = false;
        check.text = QStringLiteral("%1 does not answer within %2 ms").arg(where).arg(timeoutMs);
        check.fix = QStringLiteral("ping -c 3 %1\ncheck the cable, the address, and that a firewall lets TCP port %2 "
                                   "through").arg(address.toString()).arg(port);
    } else {
        check.passed = false;
        check.text = QStringLiteral("%1: %2").arg(where, socket.errorString());
        check.fix = QStringLiteral("ip route get %1").arg(address.toString());
    }
    report.checks << check;
    return report;
}

} // namespace qeln::doctor
