#pragma once

#include "doctorreport.h"
#include "systemview.h"

#include <QList>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace qeln::doctor {

// Why a serial port or a controller's TCP address does not open, and the commands that mend
// it. /proc, /sys, /etc, /run and /dev listings are read below the view's root; the device
// node itself is examined at its real path, with this process's own identity.
class SerialDoctor {
public:
    explicit SerialDoctor(QString root = SystemView::defaultRoot());

    // The listing alone, and each listed port examined.
    Report examineAll() const;
    // The listing and the checks of one device (a path, or a by-id link).
    Report examineDevice(const QString &device) const;
    // Whether HOST resolves and TCP PORT answers within timeoutMs. Blocks the caller.
    Report examineTcp(const QString &host, quint16 port, int timeoutMs = 3000) const;

private:
    void checkDevice(const QString &device, QList<Check> &checks) const;
    Check accessCheck(const QString &device, const struct ::stat &node) const;
    // What the node is: a USB adapter, a built-in UART, a pseudo-terminal (ptyIndex set), a
    // console, or no terminal at all. False when it is nothing to examine further.
    bool identify(const QString &device, const QString &canonical, const struct ::stat &node, int &ptyIndex,
                  QList<Check> &checks) const;
    Check holderCheck(const QString &device, dev_t rdev, int ptyIndex) const;
    Check lockCheck(const QString &ttyName) const;
    void adapterChecks(const PortInfo &port, QList<Check> &checks) const;
    Check modemManagerCheck(const QString &device, unsigned major, unsigned minor) const;
    void missingDeviceChecks(QList<Check> &checks) const;

    SystemView view_;
};

} // namespace qeln::doctor
