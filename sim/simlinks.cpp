#include "simlinks.h"

#include "simprotocol.h"

#include <QLoggingCategory>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qeln::sim {

namespace {
Q_LOGGING_CATEGORY(lcLink, "qeln.sim.link")
Q_LOGGING_CATEGORY(lcFrames, "qeln.sim.frames")

QByteArray lineText(QByteArray frame)
{
    while (frame.endsWith('\n') || frame.endsWith('\r'))
        frame.chop(1);
    return frame;
}
} // namespace

// ---- TCP --------------------------------------------------------------------------------

// One client connection: its own receive state and answer queue.
class TcpSession : public QObject {
public:
    TcpSession(QTcpSocket *socket, TcpLink &link, std::function<void(TcpSession *)> ended)
        : QObject(&link)
        , socket(socket)
        , link(link)
        , protocol(link.protocol)
        , faults(link.faults)
        , ended(std::move(ended))
    {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        peer = socket->peerAddress().toString() + QLatin1Char(':') + QString::number(socket->peerPort());
        qCInfo(lcLink).noquote() << "tcp client" << peer << "connected";

        delay = std::make_unique<DelayLine>([this](const QByteArray &b) { send(b); }, this);
        if (faults.settings().disconnectEverySeconds > 0) {
            const auto ms = qint64(faults.settings().disconnectEverySeconds * 1000);
            QTimer::singleShot(std::chrono::milliseconds(std::max<qint64>(1, ms)), this, [this] {
                qCInfo(lcLink).noquote() << "tcp client" << peer << "disconnected on purpose";
                this->socket->disconnectFromHost();
            });
        }
        connect(socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this] {
            if (this->socket->state() == QAbstractSocket::UnconnectedState)
                finish();
        });
    }

    ~TcpSession() override
    {
        // The socket goes with this object and may still report its end; nobody listens.
        socket->disconnect(this);
    }

private:
    void onReadyRead()
    {
        reader.feed(socket->readAll());
        while (const std::optional<mbap::Adu> adu = reader.next()) {
            qCDebug(lcFrames).noquote() << "tcp<" << ascii::hexEncode(mbap::build(adu->transaction, adu->message));
            if (link.requestObserver)
                link.requestObserver(adu->message.pdu.isEmpty() ? 0 : std::uint8_t(adu->message.pdu.at(0)));
            if (link.hung)
                continue;
            if (!Protocol::servesUnit(LinkKind::Tcp, adu->message.unit))
                continue;
            const Reply reply = protocol.answer(LinkKind::Tcp, adu->message.pdu);
            QByteArray out;
            switch (reply.kind) {
            case Reply::Kind::Silent:
                continue;
            case Reply::Kind::Pdu:
                out = mbap::build(adu->transaction, {adu->message.unit, reply.pdu});
                break;
            case Reply::Kind::Bare:
                out = mbap::buildBare(adu->transaction);
                break;
            }
            if (faults.dropNow()) {
                qCDebug(lcFrames).noquote() << "tcp> (dropped)" << ascii::hexEncode(out);
                continue;
            }
            // The dice are rolled for every answer, so that a history fault does not change
            // which of the other answers the seed spoils.
            if (faults.corruptNow() || reply.spoil) {
                const TcpSpoil way = faults.spoilTcp(out, std::uint8_t(adu->message.pdu.at(0)));
                qCDebug(lcFrames).noquote() << "tcp> (spoilt:" << tcpSpoilName(way) << ")";
            }
            delay->push(out, faults.settings().delayMs + reply.delayMs);
        }
        if (reader.resyncs() != reportedResyncs) {
            reportedResyncs = reader.resyncs();
            qCInfo(lcLink).noquote() << "tcp client" << peer << "sent bytes that are no request; dropped";
        }
    }

    void send(const QByteArray &bytes)
    {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
        // A client that sends and never reads would make the buffer grow without end.
        if (socket->bytesToWrite() + bytes.size() > MaxUnsentBytes) {
            qCInfo(lcLink).noquote() << "tcp client" << peer << "does not read its answers; closed";
            socket->abort();
            return;
        }
        qCDebug(lcFrames).noquote() << "tcp>" << ascii::hexEncode(bytes);
        socket->write(bytes);
    }

    void finish()
    {
        if (done)
            return;
        done = true;
        qCInfo(lcLink).noquote() << "tcp client" << peer << "gone";
        ended(this);
        deleteLater();
    }

    QTcpSocket *socket;
    TcpLink &link;
    Protocol &protocol;
    Faults &faults;
    std::function<void(TcpSession *)> ended;
    mbap::AduReader reader;
    std::unique_ptr<DelayLine> delay;
    QString peer;
    int reportedResyncs = 0;
    bool done = false;
};

TcpLink::TcpLink(Protocol &protocol, Faults &faults, QObject *parent)
    : QObject(parent)
    , protocol(protocol)
    , faults(faults)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &TcpLink::onNewConnection);
}

TcpLink::~TcpLink()
{
    // The sessions report their end to this object; they go before it does.
    const QList<TcpSession *> open = sessions;
    sessions.clear();
    qDeleteAll(open);
}

bool TcpLink::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (server->listen(address, port))
        return true;
    if (error)
        *error = server->errorString();
    return false;
}

quint16 TcpLink::port() const
{
    return server->serverPort();
}

QString TcpLink::description() const
{
    const QHostAddress address = server->serverAddress();
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("tcp ") + host + QLatin1Char(':') + QString::number(server->serverPort());
}

void TcpLink::onNewConnection()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (sessions.size() >= MaxClients) {
            qCInfo(lcLink) << "tcp: too many clients; connection closed";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *session = new TcpSession(socket, *this, [this](TcpSession *s) { sessions.removeOne(s); });
        sessions.append(session);
        ++served;
    }
}

// ---- Serial -----------------------------------------------------------------------------

SerialLink::SerialLink(Protocol &protocol, Faults &faults, QObject *parent)
    : QObject(parent)
    , protocol(protocol)
    , faults(faults)
{
    Pacer::Sink out = [this](const QByteArray &bytes) { writeOut(bytes); };
    if (faults.settings().paceBaud > 0) {
        pacer = std::make_unique<Pacer>(faults.settings().paceBaud, out, this);
        out = [this](const QByteArray &bytes) { pacer->push(bytes); };
    }
    delay = std::make_unique<DelayLine>(out, this);
}

SerialLink::~SerialLink()
{
    delay.reset();
    pacer.reset();
    delete readNotifier;
    delete writeNotifier;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

QString SerialLink::description() const
{
    return QStringLiteral("serial ") + path;
}

bool SerialLink::openPty(QString *error)
{
    auto fail = [error](const char *what) {
        if (error)
            *error = QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("cannot create a pseudo-terminal");
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        return fail("cannot set up the pseudo-terminal");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        return fail("cannot open the pseudo-terminal's device");
    }
    // Raw from the start: nothing a client writes is echoed back to it or translated before
    // a client has set the line up itself.
    termios tio {};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    masterFd = master;
    slaveFd = slave;
    path = QString::fromLocal8Bit(name);
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(readNotifier, &QSocketNotifier::activated, this, &SerialLink::onMasterReadable);
    connect(writeNotifier, &QSocketNotifier::activated, this, &SerialLink::onMasterWritable);
    return true;
}

bool SerialLink::openDevice(const QString &device, QString *error)
{
    port = new QSerialPort(this);
    port->setPortName(device);
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = port->errorString();
        delete port;
        port = nullptr;
        return false;
    }
    port->clear(QSerialPort::AllDirections);
    path = device;
    connect(port, &QSerialPort::readyRead, this, &SerialLink::onPortReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &SerialLink::onPortError);
    return true;
}

void SerialLink::received(QByteArrayView bytes)
{
    reader.feed(bytes);
    while (const std::optional<QByteArray> text = reader.next())
        answerFrame(*text);
}

void SerialLink::answerFrame(const QByteArray &text)
{
    qCDebug(lcFrames).noquote() << "serial<" << QByteArray(':' + text);
    ascii::FrameError error = ascii::FrameError::None;
    const std::optional<UnitPdu> request = ascii::parseFrame(text, &error);
    // A garbled request gets no answer: the master's retry is the remedy.
    if (!request) {
        qCDebug(lcFrames) << "serial: frame refused, error" << int(error);
        return;
    }
    if (requestObserver)
        requestObserver(request->pdu.isEmpty() ? 0 : std::uint8_t(request->pdu.at(0)));
    if (!Protocol::servesUnit(LinkKind::Serial, request->unit))
        return;
    const Reply reply = protocol.answer(LinkKind::Serial, request->pdu);
    if (reply.kind != Reply::Kind::Pdu)
        return;
    // The dice are rolled for every answer, so that a history fault does not change which of
    // the other answers the seed spoils.
    const bool spoil = faults.corruptNow() || reply.spoil;
    QByteArray frame = ascii::buildFrame({request->unit, reply.pdu}, false, 1);
    if (spoil)
        faults.spoilSerial(frame);
    if (faults.dropNow()) {
        qCDebug(lcFrames).noquote() << "serial> (dropped)" << lineText(frame);
        return;
    }
    qCDebug(lcFrames).noquote() << "serial>" << lineText(frame);
    transmit(frame, reply.delayMs);
}

void SerialLink::transmit(const QByteArray &bytes, int extraDelayMs)
{
    delay->push(bytes, faults.settings().delayMs + extraDelayMs);
}

void SerialLink::writeOut(const QByteArray &bytes)
{
    if (port) {
        if (port->bytesToWrite() + bytes.size() <= MaxUnsentBytes)
            port->write(bytes);
        return;
    }
    if (masterFd < 0)
        return;
    if (!unwritten.isEmpty()) {
        if (unwritten.size() + bytes.size() <= MaxUnsentBytes)
            unwritten.append(bytes);
        return;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // full (EAGAIN) or no line: keep the rest for later
        }
    }
    if (done < bytes.size()) {
        unwritten = bytes.mid(done);
        writeNotifier->setEnabled(true);
    }
}

void SerialLink::onMasterReadable()
{
    char buffer[4096];
    // Bounded, so a flood on this link cannot starve the others.
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            received(QByteArrayView(buffer, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO: no side of the line is open (not while the slave is held here, but a pty may
        // still report it). Listen again a little later instead of spinning.
        readNotifier->setEnabled(false);
        QTimer::singleShot(100, this, [this] { readNotifier->setEnabled(true); });
        return;
    }
}

void SerialLink::onMasterWritable()
{
    while (!unwritten.isEmpty()) {
        const ssize_t n = ::write(masterFd, unwritten.constData(), size_t(unwritten.size()));
        if (n > 0) {
            unwritten.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return; // still full; the notifier calls again
    }
    writeNotifier->setEnabled(false);
}

void SerialLink::onPortReadyRead()
{
    received(port->readAll());
}

void SerialLink::onPortError()
{
    const QSerialPort::SerialPortError error = port->error();
    if (error == QSerialPort::NoError)
        return;
    qCWarning(lcLink).noquote() << "serial" << path << port->errorString();
    port->clearError();
    // A device that went away (an unplugged adapter) cannot come back on this handle.
    if (error == QSerialPort::ResourceError)
        port->close();
}

} // namespace qeln::sim
