#include "serialtransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <cstring>

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
// A process id that is running now, from a lock file: the text form ("  1234\n", with more
// lines after it in some writers) or the old 4-byte binary form.
qint64 lockPid(const QByteArray &content)
{
    bool ok = false;
    const qint64 pid = content.left(content.indexOf('\n')).trimmed().toLongLong(&ok);
    if (ok && pid > 0)
        return pid;
    if (content.size() == 4) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), 4);
        if (binary > 0)
            return binary;
    }
    return 0;
}

bool running(qint64 pid)
{
    return pid > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.read(256)).trimmed();
}

// "minicom (process 1234, how)", or "process 1234 (how)" when its name cannot be read.
QString described(qint64 pid, const QString &how)
{
    const QString name = processName(pid);
    const QString more = how.isEmpty() ? QString() : QStringLiteral(", ") + how;
    return name.isEmpty() ? QStringLiteral("process %1%2").arg(pid).arg(how.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(how))
                          : QStringLiteral("%1 (process %2%3)").arg(name).arg(pid).arg(more);
}

} // namespace

QString SerialTransport::portHolder(const QString &device, bool *byLock)
{
    if (byLock)
        *byLock = false;
    const QString path = device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    // The lock file names of the UUCP convention: the path below /dev with '/' as '_'
    // ("LCK..ttyUSB0", "LCK..pts_3"), for the name given and for the device it leads to.
    QStringList names;
    for (const QString &p : {path, canonical}) {
        if (p.isEmpty())
            continue;
        QString name = p.startsWith(QLatin1String("/dev/")) ? p.mid(5) : QFileInfo(p).fileName();
        name = QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
        if (!names.contains(name))
            names << name;
    }
    const QStringList folders = {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/etc/locks"),
                                 QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                                 QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        for (const QString &name : std::as_const(names)) {
            QFile lock(folder + QLatin1Char('/') + name);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            const qint64 pid = lockPid(lock.read(4096));
            if (running(pid) && pid != QCoreApplication::applicationPid()) {
                if (byLock)
                    *byLock = true;
                return described(pid, QStringLiteral("lock file %1").arg(lock.fileName()));
            }
        }
    }
    // No lock file: a process that has the device open (only the processes this user may
    // look into are seen).
    if (canonical.isEmpty())
        return QString();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &p : pids) {
        const qint64 pid = p.toLongLong();
        if (pid == QCoreApplication::applicationPid())
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(p));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == canonical)
                return described(pid, QString());
        }
    }
    return QString();
}

SerialTransport::SerialTransport(QObject *parent)
    : DeviceTransport(new QSerialPort, parent)
    , port(static_cast<QSerialPort *>(ioDevice()))
{
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

void SerialTransport::openDevice()
{
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
        QString reason = port->errorString();
        const QSerialPort::SerialPortError error = port->error();
        // Another program holds the port: say so and, where it can be found, which one
        // (the port's own text speaks of a permission error while locking). A program that
        // merely has the port open is named beside a plain permission error, which it may not
        // have caused.
        if (error == QSerialPort::PermissionError) {
            bool byLock = false;
            const QString holder = portHolder(deviceName, &byLock);
            const bool lockRefused = reason.contains(QLatin1String("lock"), Qt::CaseInsensitive);
            if (!holder.isEmpty() && (byLock || lockRefused))
                reason = QStringLiteral("the port is in use by another program: %1. Close that program or choose "
                                        "another port.")
                             .arg(holder);
            else if (lockRefused)
                reason = QStringLiteral("the port is in use by another program (its lock file could not be read). "
                                        "Close that program or choose another port.");
            else if (!holder.isEmpty())
                reason += QStringLiteral(" (the port is open in %1)").arg(holder);
        }
        qCInfo(lcSerial) << "cannot open" << deviceName << reason;
        port->clearError();
        Q_EMIT openFailed(reason);
        return;
    }
    // Whatever the controller or the driver left in the buffers belongs to nobody.
    port->clear(QSerialPort::AllDirections);
    lossReported = false;
    qCInfo(lcSerial) << "opened" << deviceName;
    linkUp();
}

void SerialTransport::closeDevice()
{
    port->close();
    port->clearError();
}

void SerialTransport::dropWaitingInput()
{
    // What the driver holds goes too, not only what the port has read already.
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
        const quint64 lostSession = session();
        QMetaObject::invokeMethod(
            this, [this, lostSession] { onDeviceLost(lostSession); }, Qt::QueuedConnection);
    }
    qCWarning(lcSerial) << reason;
    Q_EMIT errorOccurred(reason);
}

void SerialTransport::onDeviceLost(quint64 lostSession)
{
    if (lostSession != session() || !isOpen())
        return;
    closeDevice();
    linkLost();
}

} // namespace qeln
