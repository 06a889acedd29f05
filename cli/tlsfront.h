#pragma once

#include <QByteArray>
#include <QSslConfiguration>
#include <QTcpServer>

namespace qeln {

namespace fleet {
struct TlsConfig;
}

// HTTPS for serve, with Qt's own TLS: accepts on the address Prometheus scrapes, and relays each
// request, decrypted, to the web server listening on a loopback port of its own. The web server's
// built-in TLS cannot be used where it was built for an older OpenSSL (it crashes on the first
// client). The client's address reaches the web server in a header that carries this process's
// secret token, so failed logins are still slowed per address and nobody can claim another's.
class TlsFront : public QTcpServer {
    Q_OBJECT
public:
    // How long a client has for its handshake and its request line.
    static constexpr int RequestWaitMs = 3000;
    // The header the relay adds: "X-Qeln-Peer: TOKEN ADDRESS".
    static constexpr const char *PeerHeader = "X-Qeln-Peer";

    TlsFront(quint16 innerPort, QByteArray token, QObject *parent = nullptr);

    // The certificate, key and lowest protocol; false with the reason when they do not load.
    bool configure(const fleet::TlsConfig &tls, QString &error);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration ssl_;
    quint16 innerPort_;
    QByteArray token_;
};

} // namespace qeln
