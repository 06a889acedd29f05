#include "app/demosimulator.h"

#include "plant.h"
#include "simlinks.h"
#include "simprotocol.h"

#include <QDateTime>
#include <QHostAddress>

namespace qeln {

struct DemoSimulator::Parts {
    sim::Plant plant;
    sim::Protocol protocol{plant};
    sim::Faults faults{sim::FaultSettings{}};
    std::unique_ptr<sim::TcpLink> tcp;
    std::unique_ptr<sim::SerialLink> pty;
    bool started = false;
};

DemoSimulator::DemoSimulator()
    : d(std::make_unique<Parts>())
{
}

DemoSimulator::~DemoSimulator()
{
    if (d->started)
        d->plant.stop();
}

bool DemoSimulator::setScenario(const QString &nameOrPath, QString *error)
{
    return d->plant.loadScenario(nameOrPath, error);
}

void DemoSimulator::setSpeed(double factor)
{
    d->plant.setSpeed(factor);
}

bool DemoSimulator::start(QString *error)
{
    d->plant.setModel(3);
    d->plant.setClock(QDateTime::currentDateTime());

    d->tcp = std::make_unique<sim::TcpLink>(d->protocol, d->faults);
    QString reason;
    if (!d->tcp->listen(QHostAddress(QHostAddress::LocalHost), 0, &reason)) {
        if (error)
            *error = QStringLiteral("demo simulator: cannot listen on 127.0.0.1: %1").arg(reason);
        d->tcp.reset();
        return false;
    }
    d->pty = std::make_unique<sim::SerialLink>(d->protocol, d->faults);
    if (!d->pty->openPty(&reason)) {
        if (error)
            *error = QStringLiteral("demo simulator: %1").arg(reason);
        d->pty.reset();
        d->tcp.reset();
        return false;
    }
    d->plant.start();
    d->started = true;
    return true;
}

QString DemoSimulator::hostText() const
{
    return d->tcp ? QStringLiteral("127.0.0.1:%1").arg(d->tcp->port()) : QString();
}

QString DemoSimulator::serialDevice() const
{
    return d->pty ? d->pty->devicePath() : QString();
}

void DemoSimulator::prefillHistory(int records)
{
    d->plant.prefillHistory(records);
}

void DemoSimulator::prefillEvents(int records)
{
    d->plant.prefillEvents(records);
}

} // namespace qeln
