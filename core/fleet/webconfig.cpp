#include "webconfig.h"

#include "fleet/yamlread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <crypt.h>

#include <cstring>
#include <memory>

namespace qeln::fleet {

using namespace yamlread;

namespace {

// $2a$, $2b$ or $2y$, a two-digit cost, then 22 characters of salt and 31 of hash.
bool isBcrypt(const QByteArray &hash)
{
    static const QRegularExpression pattern(QStringLiteral("^\\$2[aby]\\$[0-9]{2}\\$[./A-Za-z0-9]{53}$"));
    return pattern.match(QString::fromLatin1(hash)).hasMatch();
}

// The cost field of a hash isBcrypt() took: crypt_r parses any two digits but computes only
// 04..31, so a hash outside that never matches.
int bcryptCost(const QByteArray &hash)
{
    return hash.mid(4, 2).toInt();
}

// A file the server reads at start, checked now so that a wrong path is told with its line.
QString readableFile(const QDir &base, const Entry &e)
{
    const QString path = QDir::cleanPath(base.absoluteFilePath(text(e)));
    QFile file(path);
    if (text(e).isEmpty() || !file.open(QIODevice::ReadOnly))
        refuse(e.line, QStringLiteral("%1 '%2' cannot be read: %3").arg(e.key, path, file.errorString()));
    if (!file.read(1 << 20).contains("-----BEGIN "))
        refuse(e.line, QStringLiteral("%1 '%2' holds no PEM block").arg(e.key, path));
    return path;
}

TlsConfig readTls(const Entry &tlsEntry, const QDir &base)
{
    TlsConfig tls;
    for (const Entry &e : entries(tlsEntry.value, tlsEntry.line, QStringLiteral("tls_server_config"),
                                  {"cert_file", "key_file", "min_version"})) {
        if (e.key == QLatin1String("cert_file")) {
            tls.certFile = readableFile(base, e);
        } else if (e.key == QLatin1String("key_file")) {
            tls.keyFile = readableFile(base, e);
        } else {
            static const QStringList versions = {QStringLiteral("TLS10"), QStringLiteral("TLS11"),
                                                 QStringLiteral("TLS12"), QStringLiteral("TLS13")};
            const qsizetype index = versions.indexOf(text(e));
            if (index < 0)
                refuse(e.line, QStringLiteral("min_version '%1' is none of %2").arg(text(e), versions.join(u", ")));
            tls.minVersion = 10 + int(index);
        }
    }
    if (tls.certFile.isEmpty() || tls.keyFile.isEmpty())
        refuse(tlsEntry.line, QStringLiteral("tls_server_config needs both cert_file and key_file"));
    return tls;
}

WebConfig readWeb(const YAML::Node &root, const QDir &base)
{
    WebConfig config;
    if (!root.IsNull() && !root.IsMap())
        refuse(lineOf(root), QStringLiteral("the web config must be a map of keys and values"));
    bool haveUsers = false;
    for (const Entry &e : entries(root, 1, QStringLiteral("the web config"), {})) {
        if (e.key == QLatin1String("tls_server_config")) {
            config.tls = readTls(e, base);
            continue;
        }
        if (e.key != QLatin1String("basic_auth_users"))
            refuse(e.line, QStringLiteral("'%1' is not supported: only basic_auth_users and tls_server_config are "
                                          "read")
                               .arg(e.key));
        haveUsers = true;
        for (const Entry &user : entries(e.value, e.line, QStringLiteral("basic_auth_users"), {})) {
            // RFC 7617: the user-id ends at the first colon, so such a user could never log in.
            if (user.key.isEmpty() || user.key.contains(QLatin1Char(':')))
                refuse(user.line, QStringLiteral("user name '%1' cannot be sent by basic authentication (empty "
                                                 "or holding ':')")
                                      .arg(user.key));
            const QByteArray hash = text(user).toUtf8();
            if (!isBcrypt(hash))
                refuse(user.line, QStringLiteral("the password of user '%1' is not a bcrypt hash ($2b$...; make one "
                                                 "with htpasswd -nbBC 10 USER PASSWORD)")
                                      .arg(user.key));
            if (const int cost = bcryptCost(hash); cost < 4 || cost > 31)
                refuse(user.line, QStringLiteral("the bcrypt cost of user '%1' is %2, outside 04..31: no password "
                                                 "would ever match it")
                                      .arg(user.key)
                                      .arg(cost, 2, 10, QLatin1Char('0')));
            config.users.insert(user.key, hash);
        }
        if (config.users.isEmpty())
            refuse(e.line, QStringLiteral("basic_auth_users lists no user"));
    }
    if (!haveUsers && !config.tls)
        refuse(1, QStringLiteral("neither basic_auth_users nor tls_server_config: the web config sets nothing"));
    return config;
}

} // namespace

ReadResult<WebConfig> readWebConfig(const QString &path)
{
    // Relative file names are the web config's own folder's, as in Prometheus.
    const QDir base = QFileInfo(path).absoluteDir();
    return yamlread::readFile<WebConfig>(path, [&base](const YAML::Node &root, const QByteArray &) {
        return readWeb(root, base);
    });
}

bool checkPassword(const QByteArray &hash, const QByteArray &password)
{
    if (password.contains('\0') || hash.isEmpty() || hash.contains('\0'))
        return false;
    // crypt_data is about 32 KiB: not for the stack of a server thread.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char *result = crypt_r(password.constData(), hash.constData(), data.get());
    // A failed crypt gives null or a text starting with '*', never the hash itself.
    if (!result || result[0] == '*')
        return false;
    const std::size_t length = std::strlen(result);
    if (length != std::size_t(hash.size()))
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < length; ++i)
        difference |= static_cast<unsigned char>(result[i] ^ hash[qsizetype(i)]);
    return difference == 0;
}

bool checkUser(const WebConfig &config, const QString &user, const QByteArray &password)
{
    // A hash of cost 10 that no password matches: an unknown user takes a known one's time.
    static const QByteArray unknownUser =
        QByteArrayLiteral("$2b$10$abcdefghijklmnopqrstuu5Q9Kf5Kkr7tT2qg9o9yIHvZlT9KvN7u");
    const auto it = config.users.constFind(user);
    const bool known = it != config.users.cend();
    const bool match = checkPassword(known ? *it : unknownUser, password);
    return known && match;
}

} // namespace qeln::fleet
