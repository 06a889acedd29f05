#pragma once

#include "fleet/readresult.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace qeln::fleet {

// HTTPS: the certificate (with its chain) and key files, paths made absolute against the web
// config's folder, and the lowest TLS version served (10, 11, 12 or 13).
struct TlsConfig {
    QString certFile;
    QString keyFile;
    int minVersion = 12;

    bool operator==(const TlsConfig &) const = default;
};

// The web configuration serve takes with --web-config, in Prometheus's own format, of which
// basic authentication and the server's TLS are read: basic_auth_users maps a user name to a
// bcrypt hash (no users: no authentication); tls_server_config's cert_file, key_file and
// min_version.
struct WebConfig {
    QMap<QString, QByteArray> users;
    std::optional<TlsConfig> tls;
};

// Refuses, as "FILE:LINE: what is wrong": any other key (http_server_config, client
// certificates), a file that asks for neither, an empty user list (a file given for auth that
// lets everyone in), a user given twice, a password that is not a bcrypt hash or whose cost is
// outside 04..31 (crypt takes it and then matches nothing: everyone would be locked out), a
// TLS part without both files, a file that cannot be read, and an unknown min_version.
ReadResult<WebConfig> readWebConfig(const QString &path);

// Whether `password` hashes to `hash` (crypt_r; the results are compared in constant time).
// A password holding a NUL byte never matches: crypt would see only the part before it.
bool checkPassword(const QByteArray &hash, const QByteArray &password);

// A user and password against the config; an unknown user costs as much time as a known one.
bool checkUser(const WebConfig &config, const QString &user, const QByteArray &password);

} // namespace qeln::fleet
