#pragma once

#include "fleet/readresult.h"

#include <QByteArray>
#include <QMap>
#include <QString>

namespace qeln::fleet {

// The web configuration serve takes with --web-config, in Prometheus's own format, of which
// only basic authentication is read: basic_auth_users maps a user name to a bcrypt hash.
struct WebConfig {
    QMap<QString, QByteArray> users;
};

// Refuses, as "FILE:LINE: what is wrong": any top-level key but basic_auth_users (TLS is left
// to a reverse proxy), an empty user list (a file given for auth that lets everyone in), a
// user given twice, and a password that is not a bcrypt hash.
ReadResult<WebConfig> readWebConfig(const QString &path);

// Whether `password` hashes to `hash` (crypt_r; the results are compared in constant time).
// A password holding a NUL byte never matches: crypt would see only the part before it.
bool checkPassword(const QByteArray &hash, const QByteArray &password);

// A user and password against the config; an unknown user costs as much time as a known one.
bool checkUser(const WebConfig &config, const QString &user, const QByteArray &password);

} // namespace qeln::fleet
