#include "servepage.h"

#include "logfmt.h"
#include "tlsfront.h"

#include <CivetServer.h>
#include <civetweb.h>

#include "loginthrottle.h"

#include <QDateTime>
#include <QRegularExpression>

#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <cstring>

#include <unistd.h>

namespace qeln {

namespace {
constexpr const char *TlsPeerHeader = TlsFront::PeerHeader;
}

namespace {

// What the hook serves from; set while a FleetPageHook lives.
struct PageSource {
    std::shared_ptr<const fleet::FleetCollector> collector;
    std::mutex mutex; // guards web
    std::shared_ptr<const fleet::WebConfig> web;
    std::atomic<bool> ready = false;
    LoginThrottle throttle;
    // The secret the TLS front puts before a client's address (set before serving; empty: none).
    std::string forwardToken;

    std::shared_ptr<const fleet::WebConfig> currentWeb()
    {
        const std::lock_guard lock(mutex);
        return web;
    }
};
PageSource *pageSource = nullptr;

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

void respond(mg_connection *conn, const char *status, const char *headers, const QByteArray &body, bool head = false)
{
    mg_printf(conn, "HTTP/1.1 %s\r\n%sContent-Length: %lld\r\nConnection: close\r\n\r\n", status, headers,
              static_cast<long long>(body.size()));
    if (!head)
        mg_write(conn, body.constData(), size_t(body.size()));
}

// Basic authentication against `web`; 0 when the request may go on, else the status sent.
int refusedLogin(mg_connection *conn, const mg_request_info *request, const fleet::WebConfig &web)
{
    static const char challenge[] = "WWW-Authenticate: Basic realm=\"qeln-cli serve\"\r\n";
    QString address = QString::fromLatin1(request->remote_addr);
    // Relayed by the TLS front: the client's own address, if the header holds our secret.
    if (!pageSource->forwardToken.empty()) {
        const char *peer = mg_get_header(conn, TlsPeerHeader);
        const std::string prefix = pageSource->forwardToken + ' ';
        if (peer && std::strncmp(peer, prefix.c_str(), prefix.size()) == 0)
            address = QString::fromLatin1(peer + prefix.size());
    }
    const char *header = mg_get_header(conn, "Authorization");
    // No credentials yet (a browser's first request): asked for, not counted as a failure.
    if (!header || std::strncmp(header, "Basic ", 6) != 0) {
        respond(conn, "401 Unauthorized", challenge, {});
        return 401;
    }
    if (const auto wait = pageSource->throttle.wait(address); wait > wait.zero()) {
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
        const QByteArray retry = "Retry-After: " + QByteArray::number(qint64(seconds)) + "\r\n";
        respond(conn, "429 Too Many Requests", retry.constData(), "too many failed logins from this address\n");
        return 429;
    }
    const QByteArray pair = QByteArray::fromBase64(QByteArray(header + 6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    const QString user = QString::fromUtf8(colon < 0 ? pair : pair.left(colon));
    if (colon >= 0 && fleet::checkUser(web, user, pair.mid(colon + 1))) {
        pageSource->throttle.succeeded(address);
        return 0;
    }
    pageSource->throttle.failed(address);
    const QByteArray line = "level=warn msg=\"login refused\" user=" + logfmtValue(user) + " addr="
        + logfmtValue(address) + '\n';
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    respond(conn, "401 Unauthorized", challenge, {});
    return 401;
}

int onBeginRequest(mg_connection *conn)
{
    const mg_request_info *request = mg_get_request_info(conn);
    if (!pageSource || !request || !request->local_uri)
        return 0;
    if (const auto web = pageSource->currentWeb(); web && !web->users.isEmpty()) {
        if (const int status = refusedLogin(conn, request, *web))
            return status;
    }
    const char *path = request->local_uri;
    const bool head = request->request_method && std::strcmp(request->request_method, "HEAD") == 0;
    static const char text[] = "Content-Type: text/plain; charset=utf-8\r\n";
    if (std::strcmp(path, "/-/healthy") == 0) {
        respond(conn, "200 OK", text, "QELN fleet exporter is Healthy.\n", head);
        return 200;
    }
    if (std::strcmp(path, "/-/ready") == 0) {
        if (!pageSource->ready) {
            respond(conn, "503 Service Unavailable", text, "QELN fleet exporter is not ready.\n", head);
            return 503;
        }
        respond(conn, "200 OK", text, "QELN fleet exporter is Ready.\n", head);
        return 200;
    }
    // The metrics endpoint answers GET only; a HEAD (a load balancer's or a monitor's check)
    // gets the headers a scrape would, without building the exposition.
    if (head && std::strcmp(path, "/metrics") == 0) {
        mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                        "Connection: close\r\n\r\n");
        return 200;
    }
    if (std::strcmp(path, "/") != 0)
        return 0; // the metrics endpoint answers, or says there is nothing
    respond(conn, "200 OK", "Content-Type: text/html; charset=utf-8\r\n", fleetPage(pageSource->collector->snapshots()),
            head);
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
        // Not polled yet is not down: its first slot has not come.
        const char *state = !c->polled ? "waiting\">not polled yet" : c->up ? "up\">up" : "down\">down";
        html += "<tr><td>" + escaped(c->name) + "</td><td class=\"" + state
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


FleetPageHook::FleetPageHook(std::shared_ptr<const fleet::FleetCollector> collector,
                             std::optional<fleet::WebConfig> web)
    : callbacks_(std::make_unique<CivetCallbacks>())
{
    pageSource = new PageSource;
    pageSource->collector = std::move(collector);
    setWebConfig(std::move(web));
    callbacks_->begin_request = &onBeginRequest;
}

void FleetPageHook::setWebConfig(std::optional<fleet::WebConfig> web)
{
    auto shared = web ? std::make_shared<const fleet::WebConfig>(std::move(*web)) : nullptr;
    const std::lock_guard lock(pageSource->mutex);
    pageSource->web = std::move(shared);
}

void FleetPageHook::setForwardToken(const QByteArray &token)
{
    pageSource->forwardToken = token.toStdString();
}

void FleetPageHook::setReady()
{
    pageSource->ready = true;
}

FleetPageHook::~FleetPageHook()
{
    delete std::exchange(pageSource, nullptr);
}

} // namespace qeln
