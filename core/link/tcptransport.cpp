#include "tcptransport.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <QLoggingCategory>
#include <QtGlobal>
#include <QTcpSocket>
#include <QTimer>

namespace qeln {

namespace {
Q_LOGGING_CATEGORY(lcTcp, "qeln.link.tcp")
}

TcpTransport::TcpTransport(QObject *parent)
    : DeviceTransport(new QTcpSocket, parent)
    , socket(static_cast<QTcpSocket *>(ioDevice()))
    , connectTimer(new QTimer(this))
{
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, &TcpTransport::onConnectTimeout);
    connect(socket, &QTcpSocket::connected, this, &TcpTransport::onConnected);
    connect(socket, &QTcpSocket::disconnected, this, &TcpTransport::onSocketDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpTransport::onSocketError);
}

void TcpTransport::setHost(const QString &host)
{
    hostName = host;
}

QString TcpTransport::host() const
{
    return hostName;
}

void TcpTransport::setPort(quint16 port)
{
    portNumber = port;
}

quint16 TcpTransport::port() const
{
    return portNumber;
}

void TcpTransport::setConnectTimeout(int ms)
{
    connectTimeoutMs = qMax(1, ms);
}

int TcpTransport::connectTimeout() const
{
    return connectTimeoutMs;
}

void TcpTransport::openDevice()
{
    // A connect already under way reports for this call too.
    if (connectTimer->isActive())
        return;
    if (hostName.isEmpty()) {
        Q_EMIT openFailed(QStringLiteral("No host given"));
        return;
    }
    // A socket left by a peer's hang-up or a failed attempt starts afresh.
    socket->abort();
    qCInfo(lcTcp) << "connecting to" << description();
    connectTimer->start(connectTimeoutMs);
    socket->connectToHost(hostName, portNumber);
}

bool TcpTransport::abandonOpen()
{
    const bool connecting = connectTimer->isActive();
    connectTimer->stop();
    return connecting;
}

void TcpTransport::closeDevice()
{
    socket->abort();
}

bool TcpTransport::peerHasClosed() const
{
    if (!isOpen())
        return false;
    // The socket is non-blocking: a peek finds the peer's end-of-stream (0) without
    // waiting, and "no data yet" is an error return that leaves the connection alone.
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0)
        return false;
    char byte = 0;
#ifdef Q_OS_WIN
    const int got = ::recv(SOCKET(fd), &byte, 1, MSG_PEEK);
#else
    const auto got = ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
#endif
    return got == 0;
}

bool TcpTransport::write(const QByteArray &bytes)
{
    if (!DeviceTransport::write(bytes))
        return false;
    // A request is a few bytes: hand it to the system now rather than on the next pass of the
    // event loop, which would add a wake-up to every round trip.
    socket->flush();
    return true;
}

QString TcpTransport::description() const
{
    return hostName + QLatin1Char(':') + QString::number(portNumber);
}

void TcpTransport::onConnected()
{
    connectTimer->stop();
    // Requests are a few dozen bytes and each waits for its answer: do not hold them back.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    qCInfo(lcTcp) << "connected to" << description();
    linkUp();
}

void TcpTransport::onSocketDisconnected()
{
    // Our own close() has taken the link down before the socket reports it.
    if (!isOpen())
        return;
    qCInfo(lcTcp) << description() << "closed by the peer";
    linkLost();
}

void TcpTransport::onSocketError(QAbstractSocket::SocketError error)
{
    if (connectTimer->isActive()) {
        failConnect(socket->errorString());
        return;
    }
    // A hang-up is reported through disconnected().
    if (error == QAbstractSocket::RemoteHostClosedError || !isOpen())
        return;
    qCWarning(lcTcp) << description() << socket->errorString();
    Q_EMIT errorOccurred(socket->errorString());
}

void TcpTransport::onConnectTimeout()
{
    socket->abort();
    failConnect(QStringLiteral("Connecting to %1 timed out after %2 ms")
                    .arg(description())
                    .arg(connectTimeoutMs));
}

void TcpTransport::failConnect(const QString &reason)
{
    // After a socket error the socket has already given up the attempt by itself.
    connectTimer->stop();
    qCInfo(lcTcp) << "cannot connect:" << reason;
    Q_EMIT openFailed(reason);
}

} // namespace qeln
