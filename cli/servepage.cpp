#include "servepage.h"

#include <CivetServer.h>
#include <civetweb.h>

#include <QDateTime>

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

namespace qeln {

namespace {

// What the hook serves from; set while a FleetPageHook lives.
struct PageSource {
    std::shared_ptr<const fleet::FleetCollector> collector;
    std::optional<fleet::WebConfig> web;
};
PageSource *pageSource = nullptr;

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

bool authorised(mg_connection *conn, const fleet::WebConfig &web)
{
    const char *header = mg_get_header(conn, "Authorization");
    if (!header || std::strncmp(header, "Basic ", 6) != 0)
        return false;
    const QByteArray pair = QByteArray::fromBase64(QByteArray(header + 6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    if (colon < 0)
        return false;
    return fleet::checkUser(web, QString::fromUtf8(pair.left(colon)), pair.mid(colon + 1));
}

int onBeginRequest(mg_connection *conn)
{
    const mg_request_info *request = mg_get_request_info(conn);
    if (!pageSource || !request || !request->local_uri || std::strcmp(request->local_uri, "/") != 0)
        return 0; // not ours: the metrics endpoint answers
    if (pageSource->web && !pageSource->web->users.isEmpty() && !authorised(conn, *pageSource->web)) {
        mg_printf(conn, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"qeln-cli serve\"\r\n"
                        "Content-Length: 0\r\nConnection: close\r\n\r\n");
        return 401;
    }
    const QByteArray page = fleetPage(pageSource->collector->snapshots());
    mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %lld\r\n"
                    "Connection: close\r\n\r\n",
              static_cast<long long>(page.size()));
    mg_write(conn, page.constData(), size_t(page.size()));
    return 200;
}

} // namespace

QByteArray fleetPage(const std::vector<std::shared_ptr<const fleet::ControllerSnapshot>> &controllers)
{
    int up = 0;
    for (const auto &c : controllers)
        up += c->up;
    QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>QELN fleet exporter</title>"
                      "<style>body{font-family:sans-serif}td,th{padding:2px 10px;text-align:left}"
                      ".up{color:#070}.down{color:#b00}</style></head><body>\n"
                      "<h1>QELN fleet exporter</h1>\n<p>"
        + QByteArray::number(up) + " of " + QByteArray::number(qsizetype(controllers.size()))
        + " controllers up. Metrics: <a href=\"/metrics\">/metrics</a></p>\n"
          "<table>\n<tr><th>controller</th><th>state</th><th>last success</th><th>last error</th></tr>\n";
    for (const auto &c : controllers) {
        const QString success = c->lastSuccessSeconds
            ? QDateTime::fromMSecsSinceEpoch(qint64(*c->lastSuccessSeconds * 1000), Qt::UTC)
                  .toString(Qt::ISODate)
            : QStringLiteral("never");
        html += "<tr><td>" + escaped(c->name) + "</td><td class=\"" + (c->up ? "up\">up" : "down\">down")
            + "</td><td>" + escaped(success) + "</td><td>" + escaped(c->lastError) + "</td></tr>\n";
    }
    html += "</table>\n</body></html>\n";
    return html;
}

QString listenProblem(const fleet::ListenAddress &listen)
{
    // Feature bit 8: IPv6.
    if (listen.host.contains(QLatin1Char(':')) && !mg_check_feature(8))
        return QStringLiteral("cannot listen on %1: this build's web server has no IPv6; give an IPv4 "
                              "address, e.g. 127.0.0.1:%2 or 0.0.0.0:%2")
            .arg(listen.toString())
            .arg(listen.port);
    return {};
}

bool addTlsOptions(const fleet::TlsConfig &tls, std::vector<std::string> &options, int &pem, QString &error)
{
    // Feature bit 2: TLS.
    if (!mg_check_feature(2)) {
        error = QStringLiteral("this build's web server has no TLS: leave tls_server_config out");
        return false;
    }
    // The server loads OpenSSL itself when it starts, by the development names of the
    // libraries; without them it fails with no word on why.
    for (const char *library : {"libssl.so", "libcrypto.so"}) {
        void *handle = ::dlopen(library, RTLD_LAZY);
        if (!handle) {
            error = QStringLiteral("TLS needs %1, which the web server loads at run time (Debian: apt install "
                                   "libssl-dev)")
                        .arg(QLatin1String(library));
            return false;
        }
        // The server looks this function up by name and calls it on every TLS connection,
        // with no check: OpenSSL 3 renamed it, and the first HTTPS client would crash serve.
        const bool complete = std::strcmp(library, "libssl.so") != 0 || ::dlsym(handle, "SSL_get_peer_certificate");
        ::dlclose(handle);
        if (!complete) {
            error = QStringLiteral("this build's web server cannot serve TLS with the OpenSSL installed (3.x): it "
                                   "would crash on the first HTTPS connection; leave tls_server_config out and put "
                                   "TLS in a reverse proxy in front of serve");
            return false;
        }
    }
    QByteArray joined;
    for (const QString &path : {tls.keyFile, tls.certFile}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        joined += file.readAll() + '\n';
    }
    pem = ::memfd_create("qeln-serve-tls", MFD_CLOEXEC);
    if (pem < 0 || ::write(pem, joined.constData(), size_t(joined.size())) != joined.size()) {
        error = QStringLiteral("cannot join key and certificate: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    options[1] += 's';
    // 2..5: TLS 1.0 and later ... TLS 1.3 only.
    options.insert(options.end(), {"ssl_certificate", "/proc/self/fd/" + std::to_string(pem), "ssl_certificate_chain",
                                   tls.certFile.toStdString(), "ssl_protocol_version",
                                   std::to_string(tls.minVersion - 8)});
    return true;
}

FleetPageHook::FleetPageHook(std::shared_ptr<const fleet::FleetCollector> collector,
                             std::optional<fleet::WebConfig> web)
    : callbacks_(std::make_unique<CivetCallbacks>())
{
    pageSource = new PageSource{std::move(collector), std::move(web)};
    callbacks_->begin_request = &onBeginRequest;
}

FleetPageHook::~FleetPageHook()
{
    delete std::exchange(pageSource, nullptr);
}

} // namespace qeln
