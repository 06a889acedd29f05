#include "clilink.h"

#include "link/linkengine.h"
#include "link/serialtransport.h"
#include "link/tcptransport.h"

namespace qeln {

void printLine(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString refusalText(const QString &reason)
{
    QString text = reason.trimmed();
    if (text.contains(QLatin1String("nothing was sent"), Qt::CaseInsensitive))
        return text.endsWith(QLatin1Char('.')) ? text.chopped(1) : text;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + QStringLiteral("; nothing was sent");
}

std::unique_ptr<Transport> attachLink(const CliArgs &args, LinkEngine &engine)
{
    std::unique_ptr<Transport> transport;
    if (args.link.tcp) {
        auto tcp = std::make_unique<TcpTransport>();
        tcp->setHost(args.link.host);
        tcp->setPort(args.link.port);
        transport = std::move(tcp);
        engine.setLink(LinkKind::Tcp);
        engine.setTcpTransport(transport.get());
    } else {
        auto serial = std::make_unique<SerialTransport>();
        serial->setDevice(args.link.device);
        transport = std::move(serial);
        engine.setLink(LinkKind::Serial);
        engine.setSerialTransport(transport.get());
    }
    if (args.trace) {
        QObject::connect(transport.get(), &Transport::errorOccurred, transport.get(), [](const QString &reason) {
            printLine(stderr, QStringLiteral("link error: ") + reason);
        });
    }
    return transport;
}

} // namespace qeln
