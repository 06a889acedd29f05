#pragma once

#include "devicetransport.h"

#include <QAbstractSocket>

class QTcpSocket;
class QTimer;

namespace qeln {

// The Modbus TCP link. open() reports later: opened() once connected, openFailed() on a
// refused or unreachable host or when the connect time-out runs out.
class TcpTransport : public DeviceTransport {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 502;
    static constexpr int DefaultConnectTimeout = 3000;

    explicit TcpTransport(QObject *parent = nullptr);

    // Take effect at the next connect.
    void setHost(const QString &host);
    QString host() const;
    void setPort(quint16 port);
    quint16 port() const;
    void setConnectTimeout(int ms);
    int connectTimeout() const;

    // Also hands the bytes to the system at once instead of on the next pass of the event loop.
    bool write(const QByteArray &bytes) override;
    // "host:port"
    QString description() const override;
    bool peerHasClosed() const override;

private Q_SLOTS:
    void onConnected();
    void onSocketDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onConnectTimeout();

private:
    void openDevice() override;
    bool abandonOpen() override;
    void closeDevice() override;
    void failConnect(const QString &reason);

    QTcpSocket *socket;
    QTimer *connectTimer;
    QString hostName;
    quint16 portNumber = DefaultPort;
    int connectTimeoutMs = DefaultConnectTimeout;
};

} // namespace qeln
