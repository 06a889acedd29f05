#pragma once

#include <QList>
#include <QString>

namespace qeln::doctor {

// One serial port as the system describes it. The USB fields are empty for a port that is
// not on a USB adapter.
struct PortInfo {
    QString device;     // /dev/ttyUSB0
    QString byId;       // its name under /dev/serial/by-id, when it has one
    QString vendorId;   // USB idVendor, four hex digits
    QString productId;  // USB idProduct
    QString serial;     // USB serial number
    QString driver;     // the kernel driver bound to the port (cp210x, ch341-uart, cdc_acm)
    QString product;    // the adapter's product text
};

// One thing the doctor looked at: whether it is fine, what it found, and the commands that
// mend it (one per line, as the operator types them).
struct Check {
    QString name;
    bool passed = true;
    QString text;
    QString fix;
};

struct Report {
    QString target;         // the device or tcp:HOST:PORT examined; empty: only the listing
    QList<PortInfo> ports;  // every serial port found
    QList<Check> checks;
    bool listsPorts = true; // false for a TCP target: the serial ports are beside the point

    bool allPassed() const;
    int problems() const;
    // The report as the command prints it and the connection dialog shows it.
    QString text() const;
};

} // namespace qeln::doctor
