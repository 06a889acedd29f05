#include "tlsfront.h"

#include "fleet/webconfig.h"

#include <QFile>
#include <QPointer>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

namespace qeln {

namespace {

// One client: its TLS socket, the plain connection to the web server, and the request line
// that gets the client's address added behind it.
class Relay : public QObject {
public:
    Relay(qintptr descriptor, const QSslConfiguration &ssl, quint16 innerPort, const QByteArray &token, QObject *parent)
        : QObject(parent), client_(new QSslSocket(this)), inner_(new QTcpSocket(this)), innerPort_(innerPort),
          token_(token)
    {
        if (!client_->setSocketDescriptor(descriptor)) {
            deleteLater();
            return;
        }
        client_->setSslConfiguration(ssl);
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, [this] {
            if (!headed_)
                finish();
        });
        deadline_.start(TlsFront::RequestWaitMs);
        connect(client_, &QSslSocket::encrypted, this, [this] { inner_->connectToHost(QStringLiteral("127.0.0.1"), innerPort_); });
        connect(client_, &QSslSocket::readyRead, this, &Relay::fromClient);
        connect(client_, &QSslSocket::disconnected, this, &Relay::finish);
        connect(client_, &QSslSocket::errorOccurred, this, &Relay::finish);
        connect(inner_, &QTcpSocket::connected, this, &Relay::toInner);
        connect(inner_, &QTcpSocket::readyRead, this, [this] { client_->write(inner_->readAll()); });
        // The web server closes after its answer: the client's side closes once it is sent.
        connect(inner_, &QTcpSocket::disconnected, this, [this] {
            client_->write(inner_->readAll());
            client_->disconnectFromHost();
        });
        connect(inner_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                finish();
        });
        client_->startServerEncryption();
    }

private:
    void fromClient()
    {
        pending_ += client_->readAll();
        if (!headed_) {
            const qsizetype end = pending_.indexOf("\r\n");
            if (end < 0) {
                if (pending_.size() > 8192)
                    finish();
                return;
            }
            const QByteArray peer = QByteArray(TlsFront::PeerHeader) + ": " + token_ + ' '
                + client_->peerAddress().toString().toLatin1() + "\r\n";
            pending_.insert(end + 2, peer);
            headed_ = true;
        }
        toInner();
    }

    void toInner()
    {
        if (!headed_ || inner_->state() != QAbstractSocket::ConnectedState || pending_.isEmpty())
            return;
        inner_->write(pending_);
        pending_.clear();
    }

    void finish()
    {
        if (done_)
            return;
        done_ = true;
        client_->abort();
        inner_->abort();
        deleteLater();
    }

    QSslSocket *client_;
    QTcpSocket *inner_;
    quint16 innerPort_;
    QByteArray token_;
    QByteArray pending_;
    bool headed_ = false;
    bool done_ = false;
    QTimer deadline_;
};

} // namespace

TlsFront::TlsFront(quint16 innerPort, QByteArray token, QObject *parent)
    : QTcpServer(parent), innerPort_(innerPort), token_(std::move(token))
{
}

bool TlsFront::configure(const fleet::TlsConfig &tls, QString &error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(tls.certFile, QSsl::Pem);
    if (chain.isEmpty()) {
        error = QStringLiteral("%1 holds no PEM certificate").arg(tls.certFile);
        return false;
    }
    QFile keyFile(tls.keyFile);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(tls.keyFile, keyFile.errorString());
        return false;
    }
    const QByteArray keyText = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(keyText, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        error = QStringLiteral("%1 holds no PEM private key (RSA, EC or DSA) that can be read").arg(tls.keyFile);
        return false;
    }
    ssl_ = QSslConfiguration::defaultConfiguration();
    ssl_.setLocalCertificateChain(chain);
    ssl_.setPrivateKey(key);
    // TLS 1.0 and 1.1 are off in today's OpenSSL whatever is asked: 1.2 is the lowest offered.
    ssl_.setProtocol(tls.minVersion >= 13 ? QSsl::TlsV1_3OrLater : QSsl::TlsV1_2OrLater);
    ssl_.setPeerVerifyMode(QSslSocket::VerifyNone);
    return true;
}

void TlsFront::incomingConnection(qintptr descriptor)
{
    new Relay(descriptor, ssl_, innerPort_, token_, this);
}

} // namespace qeln
