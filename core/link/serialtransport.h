#pragma once

#include "devicetransport.h"

#include <QSerialPort>
#include <QStringList>

namespace qeln {

// The RS-232 link: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control.
class SerialTransport : public DeviceTransport {
    Q_OBJECT
public:
    explicit SerialTransport(QObject *parent = nullptr);

    // "/dev/ttyUSB0", "/dev/pts/3" or a bare name such as "ttyUSB0". Refused while open.
    bool setDevice(const QString &device);
    QString device() const;

    // open() reports opened() or openFailed() before returning.
    QString description() const override;

    // Who holds `device` ("minicom (process 1234, lock file /var/lock/LCK..ttyUSB0)"): the
    // running process named by its lock file (*byLock set), else a process that has it open;
    // empty when none is found. Used to explain an open that failed.
    static QString portHolder(const QString &device, bool *byLock = nullptr);

    // The serial devices the system lists, by path. None of them is opened or touched.
    static QStringList availablePorts();

private Q_SLOTS:
    void onErrorOccurred(QSerialPort::SerialPortError error);

private:
    void openDevice() override;
    void closeDevice() override;
    void dropWaitingInput() override;
    void onDeviceLost(quint64 lostSession);

    QSerialPort *port;
    QString deviceName;
    bool opening = false;
    bool lossReported = false;
};

} // namespace qeln
