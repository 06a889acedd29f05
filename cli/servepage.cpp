#include "servepage.h"

#include <CivetServer.h>
#include <civetweb.h>

#include <QDateTime>

#include <cstring>

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
    if (pageSource->web && !authorised(conn, *pageSource->web)) {
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
