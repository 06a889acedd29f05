#pragma once

#include <QString>

namespace qeln::fleet {

// A controller's link as a config file names it, in the command line's --link syntax:
// tcp:HOST[:PORT] (PORT defaults to 502; an IPv6 address as tcp:[ADDRESS]:PORT or bare)
// or serial:DEVICE.
struct FleetLink {
    bool tcp = false;
    QString host;
    quint16 port = 502;
    QString device;

    bool operator==(const FleetLink &) const = default;
};

// Refusals carry the command line's own wording ("bad link '...': no host").
bool parseFleetLink(const QString &text, FleetLink &out, QString &error);

// Where serve listens: an IP address (not a host name) and a port, "127.0.0.1:9782" or
// "[::1]:9782".
struct ListenAddress {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 9782;

    // The text the HTTP server is given: the address in brackets when it is IPv6.
    QString toString() const;
    bool operator==(const ListenAddress &) const = default;
};

bool parseListenAddress(const QString &text, ListenAddress &out, QString &error);

} // namespace qeln::fleet
