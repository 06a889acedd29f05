#include "serialtransport.h"

#include <QLoggingCategory>
#include <QSerialPortInfo>

namespace qeln {

namespace {
Q_LOGGING_CATEGORY(lcSerial, "qeln.link.serial")

void applyLineSettings(QSerialPort &port)
{
    // Only the data format is set: DTR and RTS stay as the driver leaves them, because some
    // adapters wire them to the controller's reset or mode inputs.
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}
} // namespace

SerialTransport::SerialTransport(QObject *parent)
    : Transport(parent)
    , port(new QSerialPort(this))
{
    connect(port, &QSerialPort::readyRead, this, &SerialTransport::onReadyRead);
    connect(port, &QSerialPort::bytesWritten, this, &SerialTransport::onBytesWritten);
    connect(port, &QSerialPort::errorOccurred, this, &SerialTransport::onErrorOccurred);
}

bool SerialTransport::setDevice(const QString &device)
{
    if (port->isOpen())
        return false;
    deviceName = device;
    return true;
}

QString SerialTransport::device() const
{
    return deviceName;
}

void SerialTransport::open()
{
    if (port->isOpen()) {
        Q_EMIT opened();
        return;
    }
    if (deviceName.isEmpty()) {
        Q_EMIT openFailed(QStringLiteral("No serial device chosen"));
        return;
    }
    port->setPortName(deviceName);
    applyLineSettings(*port);
    // A failed open also raises the port's errorOccurred; openFailed() alone reports it.
    opening = true;
    const bool ok = port->open(QIODevice::ReadWrite);
    opening = false;
    if (!ok) {
        const QString reason = port->errorString();
        qCInfo(lcSerial) << "cannot open" << deviceName << reason;
        port->clearError();
        Q_EMIT openFailed(reason);
        return;
    }
    // Whatever the controller or the driver left in the buffers belongs to nobody.
    port->clear(QSerialPort::AllDirections);
    pendingWrite = 0;
    lossReported = false;
    ++session;
    qCInfo(lcSerial) << "opened" << deviceName;
    Q_EMIT opened();
}

void SerialTransport::close()
{
    if (!port->isOpen())
        return;
    port->close();
    port->clearError();
    pendingWrite = 0;
    ++session;
}

bool SerialTransport::isOpen() const
{
    return port->isOpen();
}

bool SerialTransport::write(const QByteArray &bytes)
{
    if (!port->isOpen())
        return false;
    if (bytes.isEmpty())
        return true;
    Q_EMIT writeStarted();
    // The port's buffer takes everything while the port is open.
    const qint64 queued = port->write(bytes);
    if (queued < 0) {
        qCWarning(lcSerial) << "write refused" << port->errorString();
        if (pendingWrite == 0)
            Q_EMIT writeFinished();
        return false;
    }
    pendingWrite += queued;
    return true;
}

void SerialTransport::discardInput()
{
    if (port->isOpen())
        port->clear(QSerialPort::Input);
}

QString SerialTransport::description() const
{
    return deviceName;
}

QStringList SerialTransport::availablePorts()
{
    // Listing only reads what the system knows about its ports. Opening a port to see
    // whether it can be opened would reconfigure the line, flush it and, on close, drop DTR
    // on a line the operator never chose (a modem, a UPS, another controller): whether a
    // port opens is found out when the operator connects to it.
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.systemLocation());
    return names;
}

void SerialTransport::onReadyRead()
{
    const QByteArray bytes = port->readAll();
    if (!bytes.isEmpty())
        Q_EMIT bytesReceived(bytes);
}

void SerialTransport::onBytesWritten(qint64 bytes)
{
    if (pendingWrite <= 0)
        return;
    pendingWrite -= bytes;
    if (pendingWrite <= 0) {
        pendingWrite = 0;
        Q_EMIT writeFinished();
    }
}

void SerialTransport::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || opening)
        return;
    QString reason = port->errorString();
    // A read fails only when the device is gone: an unplugged adapter or a pseudo-terminal
    // whose other end closed reads end-of-file, which the port reports as a read error again
    // and again. Either way the link is lost.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        if (lossReported)
            return;
        lossReported = true;
        // The system's error text is stale after an end-of-file read; say what happened.
        qCDebug(lcSerial) << "port error" << error << reason;
        reason = QStringLiteral("Lost the connection to %1").arg(deviceName);
        // The port reports this from inside its own notifier, so it is closed from the event
        // loop instead of here.
        const quint64 lostSession = session;
        QMetaObject::invokeMethod(
            this, [this, lostSession] { onDeviceLost(lostSession); }, Qt::QueuedConnection);
    }
    qCWarning(lcSerial) << reason;
    Q_EMIT errorOccurred(reason);
}

void SerialTransport::onDeviceLost(quint64 lostSession)
{
    if (lostSession != session || !port->isOpen())
        return;
    close();
    Q_EMIT disconnected();
}

} // namespace qeln
