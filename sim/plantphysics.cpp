#include "plantmodel.h"

#include <numbers>

namespace qeln::sim {

using namespace detail;

double detail::cellOcv(double soc)
{
    static const double points[][2] = {{0, 2.50},  {3, 2.95},  {8, 3.15},  {15, 3.22},
                                       {30, 3.26}, {60, 3.295}, {85, 3.32}, {95, 3.35},
                                       {99, 3.40}, {100, 3.42}};
    soc = std::clamp(soc, 0.0, 100.0);
    for (std::size_t i = 1; i < std::size(points); ++i) {
        if (soc <= points[i][0]) {
            const double f = (soc - points[i - 1][0]) / (points[i][0] - points[i - 1][0]);
            return points[i - 1][1] + f * (points[i][1] - points[i - 1][1]);
        }
    }
    return points[std::size(points) - 1][1];
}

void Plant::Model::seedCells()
{
    for (int i = 0; i < Cells; ++i)
    {
        cellSocOffset[i] = random.noise() * 2.5;
        cellBias[i] = random.noise() * 0.012;
    }
}

// One second of plant life.
void Plant::Model::step()
{
    tickClock();
    ++uptime;
    runScenario(1000);
    integrate(1.0);
    runDischargeTest(1000);
    evaluate();
}

void Plant::Model::tickClock()
{
    if (++second < 60)
        return;
    second = 0;
    if (++minute < 60)
        return;
    minute = 0;
    if (++hour < 24)
        return;
    hour = 0;
    if (++day <= daysInMonth(year, month))
        return;
    day = 1;
    if (++month <= 12)
        return;
    month = 1;
    year = std::min(year + 1, 2099);
}

void Plant::Model::runScenario(qint64 ms)
{
    scenarioMs += ms;
    for (;;) {
        while (nextEvent < scenario.events.size() && scenario.events.at(nextEvent).atMs <= scenarioMs)
            applyEvent(scenario.events.at(nextEvent++));
        if (scenario.repeatMs <= 0 || scenarioMs < scenario.repeatMs)
            break;
        scenarioMs -= scenario.repeatMs;
        nextEvent = 0;
    }
}

void Plant::Model::applyEvent(const ScenarioEvent &e)
{
    switch (e.kind) {
    case ScenarioEvent::AcInput: mains = e.on; break;
    case ScenarioEvent::Load: loadNominal = e.value; break;
    case ScenarioEvent::Ambient: ambient = e.value; break;
    case ScenarioEvent::CellOffset: cellVoltOffset[std::size_t(e.index - 1)] = e.value; break;
    case ScenarioEvent::BatteryHeat: batteryHeat = e.value; break;
    case ScenarioEvent::BmsLink:
        // The controller counts every loss of the battery unit's link as a failed task.
        if (bmsLink && !e.on && reg[RegTaskFail] < 65535)
            ++reg[RegTaskFail];
        bmsLink = e.on;
        break;
    case ScenarioEvent::BatteryBreaker: breaker = e.on; break;
    case ScenarioEvent::ModuleFail: moduleFail = e.on; break;
    case ScenarioEvent::BmsFault:
        if (e.on)
            forcedFaults |= 1u << e.index;
        else
            forcedFaults &= ~(1u << e.index);
        break;
    }
}

// Moves the plant on by dt seconds. The measurement noise is drawn first and the cells' noise
// after it: that order is what makes a seed give the same plant step by step.
void Plant::Model::integrate(double dt)
{
    const double t = double(uptime);
    drawNoise();
    runRectifiers(t);
    const double load = loadNominal * (1.0 + 0.04 * std::sin(2 * std::numbers::pi * t / 1500.0));
    const double ib = shareCurrent(load);

    soc = std::clamp(soc + ib * dt / 3600.0 / CapacityAh * 100.0, 0.0, 100.0);
    if (soc > 99.95 && ib > 0)
        soc = 100.0;
    moveCells(ib, dt);
    balanceCells(ib);
    followTemperatures(ib, dt);
}

void Plant::Model::drawNoise()
{
    noiseAcVolts = random.noise() * 12.0;
    noiseAcAmps = random.noise() * 0.6;
    noiseDcVolts = random.noise() * 1.2;
    noiseLoad = random.noise() * 1.5;
    noiseBattery = random.noise() * 0.6;
    noiseTemp = random.noise() * 1.5;
}

// Mains: a slow wander around 220 V; the rectifiers run only inside the AC window, below the
// rack's over-temperature limit and without a latched over-voltage trip.
void Plant::Model::runRectifiers(double t)
{
    acVolts = mains ? 220.0 + 2.5 * std::sin(2 * std::numbers::pi * t / 3700.0) : 0.0;
    acOk = mains && acVolts >= reg[RegAcLow] && acVolts <= reg[RegAcHigh];
    const double rackLimit = reg[RegRackOverTemp] / 10.0;
    rackOverTemp = rackOverTemp ? rectifierTemp >= rackLimit - 2.0 : rectifierTemp >= rackLimit;
    // Output over-voltage protection: a set voltage above the DC cut-off (68) trips the
    // rectifiers, and they stay off until the flag (65) is written back to 0.
    if (acOk && !rackOverTemp && setVoltageTenths() > reg[RegDcCutOff])
        ovpLatched = true;
    rectifierOn = acOk && !ovpLatched && !rackOverTemp;
}

// Who carries the load: the rectifiers (charging the battery with what they have left), the
// battery alone, or nobody. Sets the bus voltage and the three currents; returns the battery
// current (+ charging).
double Plant::Model::shareCurrent(double load)
{
    const double capacity = identity().ratedCurrent * (moduleFail ? 0.5 : 1.0);
    const double setVolts = std::clamp(std::round(setVoltageTenths()) / 10.0, 40.0, 60.0);
    const bool connected = batteryConnected();
    const bool canCharge = connected && chargeFet && soc < 100.0;
    const bool canDischarge = connected && dischargeFet && soc > 0.0;

    double ocvPack = 0.0;
    for (int i = 0; i < Cells; ++i)
        ocvPack += cellOcv(soc + cellSocOffset[i]) + cellBias[i] + cellVoltOffset[i];
    const double packResistance = Cells * CellResistance;

    double ib = 0.0;
    chargeLimited = false;
    const bool rectifierCarries = rectifierOn && !(testRunning && canDischarge);
    if (rectifierCarries) {
        busVolts = setVolts;
        if (connected) {
            const double ideal = (setVolts - ocvPack) / packResistance;
            if (ideal > 0 && canCharge)
                ib = chargeCurrent(ideal, capacity, load);
            else if (ideal < 0 && canDischarge)
                ib = std::max(ideal, -load);
        }
        if (load + ib > capacity) {
            // Overload: the battery takes the rest, or else the bus sags.
            if (canDischarge) {
                ib = -(load - capacity);
                busVolts = std::min(setVolts, ocvPack + ib * packResistance);
            } else {
                busVolts = setVolts * capacity / load;
                load = capacity;
                ib = 0.0;
            }
        }
        rectifierAmps = load + ib;
    } else if (canDischarge) {
        ib = -load;
        busVolts = std::max(0.0, ocvPack + ib * packResistance);
        rectifierAmps = 0.0;
    } else {
        busVolts = 0.0;
        load = 0.0;
        rectifierAmps = 0.0;
    }
    loadAmps = load;
    batteryAmps = ib;
    return ib;
}

// The charge current the rectifiers give the battery: what the voltage difference drives,
// within the charge-current limits (63, and 62 for lithium), the rectifiers' spare capacity
// and the fading of the constant-voltage phase.
double Plant::Model::chargeCurrent(double ideal, double capacity, double load)
{
    double limit = capacity;
    const double l63 = reg[RegChargeLimit] / 10.0;
    const double l62 = reg[RegLiChargeLimit] / 10.0;
    if (l63 > 0)
        limit = std::min(limit, l63);
    if (l62 > 0)
        limit = std::min(limit, l62);
    // Constant-voltage phase: the current fades over the last two percent.
    const double taper = soc > 98.0 ? std::max(0.05, limit * (100.0 - soc) / 2.0) : limit;
    chargeLimited = ideal > limit && limit < capacity;
    return std::min({ideal, limit, taper, std::max(0.0, capacity - load)});
}

// Cells: the natural spread wanders slowly; balancing bleeds the high cells.
void Plant::Model::moveCells(double ib, double dt)
{
    for (int i = 0; i < Cells; ++i) {
        cellSocOffset[i] = std::clamp(cellSocOffset[i] + random.noise() * 0.002, -3.0, 3.0);
        if (balancing & (1u << i))
            cellSocOffset[i] -= 0.001 * dt;
        const double v = cellOcv(soc + cellSocOffset[i]) + cellBias[i] + ib * CellResistance + cellVoltOffset[i]
                         + random.noise() * 0.0015;
        cellVolts[i] = std::max(0.0, v);
    }
}

// Passive balancing while charging or near full: a cell 20 mV above the lowest is bled
// until it is within 10 mV of it.
void Plant::Model::balanceCells(double ib)
{
    if (!batteryConnected() || !bmsLink || !(ib > 0.2 || soc >= 97.0)) {
        balancing = 0;
        return;
    }
    const double lowest = *std::min_element(cellVolts.begin(), cellVolts.end());
    for (int i = 0; i < Cells; ++i) {
        const std::uint16_t bit = std::uint16_t(1u << i);
        if (cellVolts[i] >= lowest + 0.020)
            balancing |= bit;
        else if (cellVolts[i] <= lowest + 0.010)
            balancing &= std::uint16_t(~bit);
    }
}

// Temperatures follow their targets with the lag of a real mass.
void Plant::Model::followTemperatures(double ib, double dt)
{
    const double battTarget = ambient + batteryHeat + 0.002 * ib * ib;
    batteryTemp += (battTarget - batteryTemp) * (1.0 - std::exp(-dt / 40.0));
    const double rectTarget = ambient + 6.0 + 12.0 * rectifierAmps / identity().ratedCurrent;
    rectifierTemp += (rectTarget - rectifierTemp) * (1.0 - std::exp(-dt / 300.0));
}

bool Plant::Model::canStartTest() const
{
    return batteryInUse() && breaker && dischargeFet && rectifierOn && soc > 0.0;
}

// The forced or scheduled discharge test: the rectifiers stand back and the battery carries
// the load until the test time has passed (a pass) or the battery falls to the test voltage
// first (a fail, latched as Battery Quality Low until the alarm-clear command).
void Plant::Model::runDischargeTest(qint64 ms)
{
    if (!testRunning) {
        const int period = reg[RegTestPeriod];
        if (period > 0 && minute == 0 && second == 0 && hour == reg[RegTestHour]
            && day == reg[RegTestDay] && (month - reg[RegTestMonth] + 12) % period == 0
            && canStartTest()) {
            testRunning = true;
            testElapsedMs = 0;
            appendEvent(36, 1);
        }
        return;
    }
    testElapsedMs += ms;
    if (!batteryInUse() || !breaker || !dischargeFet || !acOk) {
        testRunning = false; // the test cannot go on; no verdict
    } else if (busVolts * 10.0 <= reg[RegTestVoltage]) {
        testRunning = false;
        testFailed = true;
    } else if (testElapsedMs >= qint64(reg[RegTestTime]) * 60000) {
        testRunning = false;
    }
}

// The battery unit's own protection: warnings (106) and protections (107), each bit with its
// hysteresis, plus the faults a scenario forces; the protections open the charge and
// discharge switches.
void Plant::Model::evaluateBms()
{
    if (!batteryInUse()) {
        bms106 = bms107 = 0;
        chargeFet = dischargeFet = true;
        return;
    }
    const double highest = *std::max_element(cellVolts.begin(), cellVolts.end());
    const double lowest = *std::min_element(cellVolts.begin(), cellVolts.end());
    double pack = 0.0;
    for (double v : cellVolts)
        pack += v;
    const double spread = highest - lowest;
    const double end = reg[RegLiEndVoltage] / 10.0;

    holdBit(bms106, 0, spread >= 0.08, spread < 0.06);
    holdBit(bms106, 1, spread >= 0.20, spread < 0.15);
    holdBit(bms106, 4, pack < end + 1.0, pack >= end + 1.3);
    holdBit(bms106, 5, -batteryAmps >= 80.0, -batteryAmps < 70.0);
    holdBit(bms106, 6, batteryTemp >= 50.0, batteryTemp < 47.0);
    holdBit(bms106, 7, batteryTemp <= 0.0, batteryTemp > 3.0);
    holdBit(bms107, 0, highest >= 3.65, highest < 3.60);
    holdBit(bms107, 1, batteryAmps >= 50.0, batteryAmps < 45.0);
    holdBit(bms107, 2, highest >= 3.75, highest < 3.60);
    holdBit(bms107, 3, batteryAmps >= 60.0, batteryAmps < 50.0);
    // The under-voltage cut-off holds until a charger is back on the bus.
    holdBit(bms107, 4, pack < end || lowest < 2.7, rectifierOn);
    holdBit(bms107, 5, -batteryAmps >= 100.0, -batteryAmps < 80.0);
    holdBit(bms107, 6, batteryTemp >= 60.0, batteryTemp < 55.0);
    holdBit(bms107, 7, batteryTemp <= -10.0, batteryTemp > -5.0);

    std::uint16_t a106 = bms106, a107 = bms107;
    static const std::uint16_t forced106[] = {0, 0, 0x10, 0x20, 0x40, 0x80, 0x03};
    static const std::uint16_t forced107[] = {0x05, 0x0A, 0x10, 0x20, 0x40, 0x80, 0};
    for (int k = 0; k < 7; ++k) {
        if (forcedFaults & (1u << k)) {
            a106 |= forced106[k];
            a107 |= forced107[k];
        }
    }
    reg[RegBmsAlarmBits] = a106;
    reg[RegBmsProtectionBits] = a107;
    chargeFet = !(a107 & 0xCC) && !(a106 & 0x02);
    dischargeFet = !(a107 & 0xF0) && !(a106 & 0x02);
}

// The set voltage in effect: in temperature-compensation mode it follows the battery
// temperature (−72 mV per degree for the pack), within ±2 V of the output setting.
double Plant::Model::setVoltageTenths() const
{
    double tenths = reg[RegFloatVoltage];
    if (reg[RegChargeMode] == 2 && reg[RegBatteryTempUse] && batteryInUse())
        tenths -= std::clamp((batteryTemp - 25.0) * 0.72, -20.0, 20.0);
    return tenths;
}

} // namespace qeln::sim
