#include "plant.h"
#include "plantmodel.h"

namespace qeln::sim {

using namespace detail;

Plant::Plant(QObject *parent) : QObject(parent), m(new Model)
{
    m->q = this;
    m->random.seed(1);
    m->reg[RegTaskFail] = 2;
    m->reg[RegBatteryUse] = 1;
    m->factoryDefaults();
    m->seedCells();
    for (int i = 0; i < Cells; ++i)
        m->cellVolts[i] = cellOcv(m->soc + m->cellSocOffset[i]) + m->cellBias[i];
    m->integrate(0.0);
    m->evaluate();
    m->timer.setInterval(100);
    connect(&m->timer, &QTimer::timeout, this, &Plant::onTick);
}

Plant::~Plant()
{
    delete m;
}

void Plant::setModel(int modelCode)
{
    if (modelCode < 0 || modelCode > 65535)
        return;
    if (m->reg[RegDcOverCurrent] == overCurrentDefault(m->model))
        m->reg[RegDcOverCurrent] = overCurrentDefault(modelCode);
    m->model = modelCode;
    m->evaluate();
}

int Plant::model() const
{
    return m->model;
}

void Plant::setSpeed(double factor)
{
    // 100 000 simulated seconds per real second still leave the event loop room to breathe.
    m->speed = std::isfinite(factor) ? std::clamp(factor, 0.0, 1e5) : 1.0;
}

void Plant::setSeed(quint32 seed)
{
    m->random.seed(seed);
    m->seedCells();
    m->integrate(0.0);
    m->evaluate();
}

bool Plant::loadScenario(const QString &nameOrPath, QString *error)
{
    Scenario s;
    if (!findScenario(nameOrPath, &s, error))
        return false;
    for (const auto &[address, value] : s.registers) {
        if (!Model::acceptable(address, value) || address == RegFactory || address == RegDischargeCommand
            || address == RegTaskFail || (address >= RegYear && address <= RegSecond)) {
            if (error)
                *error = QStringLiteral("%1: register %2 cannot be set to %3 by a scenario")
                             .arg(nameOrPath).arg(address).arg(value);
            return false;
        }
    }
    m->scenario = s;
    m->scenarioMs = 0;
    m->nextEvent = 0;
    m->soc = s.stateOfCharge;
    m->loadNominal = s.loadCurrent;
    m->ambient = s.ambient;
    m->batteryTemp = s.ambient;
    m->rectifierTemp = s.ambient + 6.0;
    m->mains = m->bmsLink = m->breaker = true;
    m->moduleFail = false;
    m->batteryHeat = 0.0;
    m->forcedFaults = 0;
    m->cellVoltOffset.fill(0.0);
    for (const auto &[address, value] : s.registers)
        m->applySetting(address, value);
    m->runScenario(0);
    m->integrate(0.0);
    m->evaluate();
    return true;
}

QString Plant::scenarioName() const
{
    return m->scenario.name.isEmpty() ? QStringLiteral("normal") : m->scenario.name;
}

void Plant::start()
{
    m->timer.start();
}

void Plant::stop()
{
    m->timer.stop();
}

void Plant::onTick()
{
    m->tickCarry += 100.0 * m->speed;
    const double whole = std::floor(m->tickCarry);
    m->tickCarry -= whole;
    advance(qint64(whole));
}

void Plant::advance(qint64 simulatedMs)
{
    if (simulatedMs <= 0)
        return;
    m->pendingMs += simulatedMs;
    while (m->pendingMs >= 1000) {
        m->pendingMs -= 1000;
        m->step();
    }
}

QByteArray Plant::ipSettingsReadBack() const
{
    const Identity id = m->identity();
    return m->ip.readBack({id.firmwareHigh, id.firmwareLow, id.firmwareYear, id.firmwareDate});
}

// An accepted write leaves events for a new address (its two halves) and a new rectifier ID,
// when the block's item flags say those items were set.
bool Plant::writeIpSettings(const QByteArray &block)
{
    if (!m->ip.write(block))
        return false;
    const IpSettings &s = m->ip.settings();
    if (s.flags & 0x01) {
        m->appendEvent(54, std::uint16_t(quint8(s.ip.at(0)) << 8 | quint8(s.ip.at(1))));
        m->appendEvent(55, std::uint16_t(quint8(s.ip.at(2)) << 8 | quint8(s.ip.at(3))));
    }
    if (s.flags & 0x20)
        m->appendEvent(56, std::uint16_t(s.rectifierId & 0xFFFF));
    return true;
}

void Plant::setIpSettingsReadBack(const QByteArray &block)
{
    m->ip.setReadBack(block);
}

} // namespace qeln::sim
