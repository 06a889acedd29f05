#pragma once

#include "doctorreport.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace qeln::doctor {

// A process as /proc shows it.
struct ProcessInfo {
    int pid = 0;
    QString name; // its comm
    // Filled by holders(): whether it has the device itself open, whether it has the master
    // side of that pseudo-terminal open (/dev/ptmx): the program that made it, and whether
    // the device is the terminal of its session.
    bool holdsDevice = false;
    bool holdsMaster = false;
    bool controlling = false; // the device is its controlling terminal: a login session's

};

// A user or group account from /etc/passwd or /etc/group.
struct Account {
    QString name;
    unsigned id = 0;
    QStringList members; // groups: the users listed as supplementary members
};

// What the system says about serial ports, processes, accounts and udev, read below a root
// folder: "/" on a real system, a folder of fake files in tests. Device nodes themselves are
// never read here.
class SystemView {
public:
    explicit SystemView(QString root);

    // The root from QELN_DOCTOR_ROOT, else "/".
    static QString defaultRoot();

    const QString &root() const { return root_; }
    // `path` (absolute, as on the real system) below the root.
    QString at(const QString &path) const;

    // Every serial port: ttys with a device behind them, except 8250 UARTs the probe found
    // no chip for.
    QList<PortInfo> ports() const;
    // What sysfs says about the tty of that name (ttyUSB0); device is /dev/NAME.
    PortInfo port(const QString &ttyName) const;
    // The sysfs folder of the USB device (the one with idVendor) whose idVendor:idProduct
    // match, for every plugged USB device; key "vvvv:pppp", value its product text.
    QMap<QString, QString> usbDevices() const;

    QList<ProcessInfo> processes() const;
    // The processes with the character device `rdev` open, whatever node they opened it by,
    // and, for the pseudo-terminal of that index (ptyIndex >= 0), those with its master side
    // open. `unreadable` counts the processes whose descriptors could not be read.
    QList<ProcessInfo> holders(dev_t rdev, int ptyIndex, int ownPid, int &unreadable) const;
    bool processExists(int pid) const;
    QString processName(int pid) const;

    QList<Account> groups() const;
    QList<Account> users() const;

    // What sysfs says of the character device major:minor: its class ("tty", "mem") and its
    // name there (ttyS0, null); both empty when sysfs has no entry for it (pseudo-terminals).
    QString charDeviceClass(unsigned major, unsigned minor, QString &name) const;
    // Whether the tty of that name has a device behind it (a port), and the 8250 type of it.
    bool ttyHasDevice(const QString &ttyName) const;
    QString ttyType(const QString &ttyName) const;

    // The udev properties of the character device major:minor (ID_MM_DEVICE_IGNORE=1, ...).
    QMap<QString, QString> udevProperties(unsigned major, unsigned minor) const;
    // The udev rules files (all rules folders) whose names contain `word`.
    QStringList rulesFiles(const QString &word) const;

private:
    QString readText(const QString &path) const;
    QList<Account> accounts(const QString &path, bool group) const;

    QString root_;
};

// Whether a udev rules text names the USB adapter vvvv:pppp, by ATTRS{idVendor} and
// ATTRS{idProduct} on one line, or by ENV{PRODUCT}=="v/p/*".
bool rulesClaimAdapter(const QString &rules, const QString &vendorId, const QString &productId);

} // namespace qeln::doctor
