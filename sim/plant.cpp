#include "plant.h"
#include "logcontent.h"
#include "scenario.h"

#include <QDate>
#include <QList>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace qeln::sim {

namespace {

// Status register numbers, as the controller's map names them.
enum Reg {
    RegYear = 1, RegMonth, RegDay, RegHour, RegMinute, RegSecond,
    RegAcVoltage = 7, RegAcCurrent, RegDcVoltage, RegLoadCurrent, RegBatteryCurrent,
    RegBatteryTemp, RegRectifierTemp, RegFirmwareCounter,
    RegAlarm1 = 15, RegAlarm2 = 16,
    RegModuleAlarm = 21, RegDsp1Version, RegDsp1Date, RegDsp2Version, RegDsp2Date,
    RegModelCode = 26, RegFirmwareHigh, RegFirmwareLow, RegFirmwareYear, RegFirmwareDate,
    RegTaskFail = 31,
    RegContacts = 41, RegAlarmOutputType, RegEthernetSetup, RegEthernetSpeed,
    RegCalAcVoltage = 48, RegCalAcCurrent, RegCalDcVoltage, RegCalLoadCurrent,
    RegCalChargeCurrent, RegCalDischargeCurrent,
    RegAcLow = 54, RegAcHigh, RegDcLow, RegDcHigh, RegBatteryLow, RegDcOverCurrent,
    RegFloatVoltage = 60, RegSetVoltage, RegLiChargeLimit, RegChargeLimit, RegChargeMode,
    RegOvpState, RegBatteryUse, RegBatteryTempUse, RegDcCutOff, RegLiEndVoltage,
    RegContactNormal = 70, RegAlarmTestUse, RegAlarmTestMask1, RegAlarmTestMask2,
    RegTestPeriod = 74, RegTestMonth, RegTestDay, RegTestHour, RegTestVoltage, RegTestTime,
    RegContactMasks = 80, // 80..91
    RegDischargeCommand = 92, RegChargeLimitFlag, RegTestRunning, RegRackOverTemp,
    RegBmsFirmware = 96, RegPackVoltage, RegBatteryVoltage, RegBmsCurrent, RegSoc, RegBmsTemp,
    RegEndVoltage, RegBmsChargeLimit, RegCellMax, RegCellMin,
    RegBmsAlarmBits = 106, RegBmsProtectionBits, RegBalancingBits, RegBmsStatus,
    RegFirstCell = 110, // 110..124
    RegBmsFirmwareDate = 126, RegFactory = 127,
    RegCanFailCount = 128, RegCanVersion, RegCanDate, RegCanCpuFail,
};

constexpr int Cells = 15;
constexpr double CapacityAh = 100.0;
constexpr double CellResistance = 0.002; // ohm
constexpr int MaxLogRecords = 5000;
constexpr int IpBlockSize = 150;
// Bytes of the read-back block other than the description (n) and the site text (m):
// 150 − 81 leaves 69 for n + m together; what is left of the 69 is zero padding at the end.
constexpr int IpFixedBytes = 81;
constexpr int IpTextRoom = IpBlockSize - IpFixedBytes;

// Alarm-word bits and the history code each one is recorded under (bit position + 1 in the
// 32-bit word ALARM1 + 65536 × ALARM2). ALARM2 bits 8..15 have no code of their own: they are
// the detail of the BMS alarm (code 24), whose detail byte is ALARM2's high byte.
struct AlarmBit {
    int word; // 0 = ALARM1, 1 = ALARM2
    int bit;
};
constexpr AlarmBit recordedAlarms[] = {
    {0, 0}, {0, 1}, {0, 2}, {0, 5}, {0, 6}, {0, 8}, {1, 1}, {1, 3}, {1, 5}, {1, 6}, {1, 7},
};
constexpr int BmsAlarmCode = 24;
constexpr int RemoteResetCode = 26;

// Identity of each model: firmware, DSP and battery-unit versions, rated output.
struct Identity {
    std::uint16_t firmwareHigh, firmwareLow, firmwareYear, firmwareDate;
    std::uint16_t dspVersion, dspDate, bmsFirmware, bmsFirmwareDate;
    double ratedCurrent;
};
Identity identityOf(int model)
{
    switch (model) {
    case 1: return {0x0100, 0x0203, 0x2021, 0x0310, 0x0215, 0x030A, 12, 2103, 30.0};
    case 2: return {0x0101, 0x0004, 0x2022, 0x0915, 0x0316, 0x090F, 25, 2209, 37.0};
    case 4: return {0x0103, 0x0100, 0x2024, 0x0220, 0x0418, 0x0214, 103, 2402, 37.0};
    default: return {0x0102, 0x0005, 0x2023, 0x0615, 0x0317, 0x060F, 102, 2306, 37.0};
    }
}
std::uint16_t overCurrentDefault(int model) { return model == 3 || model == 4 ? 103 : 105; }

// Open-circuit voltage of one lithium iron phosphate cell against its state of charge.
double cellOcv(double soc)
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

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 31;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : days[month - 1];
}

// A status bit with its own set and clear conditions, so that noise near a threshold cannot
// make it chatter.
void holdBit(std::uint16_t &bits, int bit, bool set, bool clear)
{
    const std::uint16_t mask = std::uint16_t(1u << bit);
    if (set)
        bits |= mask;
    else if (clear)
        bits &= std::uint16_t(~mask);
}

std::uint16_t toWord(double v)
{
    return std::uint16_t(std::clamp<long long>(std::llround(v), 0, 65535));
}
std::uint16_t toSignedWord(double v)
{
    return std::uint16_t(std::int16_t(std::clamp<long long>(std::llround(v), -32768, 32767)));
}

void appendWord(QByteArray &b, std::uint16_t w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// A small generator of our own, so that a seed gives the same plant with every library.
struct Random {
    quint32 state = 1;
    // Neighbouring seeds would start xorshift on nearly equal, nearly empty states: mix the
    // seed first so that seed 1 is as noisy as any other.
    void seed(quint32 s)
    {
        quint32 z = s + 0x9E3779B9u;
        z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
        z = (z ^ (z >> 13)) * 0xC2B2AE35u;
        z ^= z >> 16;
        state = z ? z : 0x9E3779B9u;
    }
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double uniform() { return (next() >> 8) * (1.0 / 16777216.0); }
    // Triangular noise in −1..1: measurement noise that rarely reaches its bound.
    double noise() { return uniform() + uniform() - 1.0; }
};

struct IpSettings {
    QByteArray mac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    QByteArray ip = bytesOf({192, 168, 50, 92});
    QByteArray mask = bytesOf({255, 255, 255, 0});
    QByteArray gateway = bytesOf({192, 168, 50, 1});
    quint8 flags = 0;
    QByteArray storedIp = bytesOf({192, 168, 50, 92});
    // "QELN 정류기 54V/37A;PSU_6S;" in the console's code page (CP949): 27 bytes, Korean
    // included, so a reader that counts characters instead of bytes shifts every later field.
    QByteArray hardwareDescription = QByteArrayLiteral("QELN \xC1\xA4\xB7\xF9\xB1\xE2 54V/37A;PSU_6S;");
    QByteArray serial = QByteArrayLiteral("2200000001");
    QByteArray separator = QByteArrayLiteral("; ");
    QByteArray hardwareVersion = bytesOf({0, 0, 0, 1});
    QByteArray storedMac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    QByteArray storedIpMac = bytesOf({0x00, 0x1A, 0x3A, 0xE0, 0x00, 0x01});
    quint32 rectifierId = 1;
    quint32 storedRectifierId = 1;
    QByteArray site = QByteArrayLiteral("서울 국사 3층 QELN"); // UTF-8 (the source's encoding)
};

} // namespace

struct Plant::Model {
    Plant *q = nullptr;
    int model = 3;
    double speed = 1.0;
    double tickCarry = 0.0;
    Random random;
    QTimer timer;

    std::array<std::uint16_t, StatusRegisters + 1> reg{};

    // Plant clock as the controller keeps it: plain fields with their own carry, so that a
    // clock set field by field (the console writes minute, hour, day, month, year, second)
    // never passes through a normalised intermediate date.
    int year = 2024, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    qint64 pendingMs = 0;
    quint32 uptime = 0;

    // Surroundings, set by the scenario.
    Scenario scenario;
    qint64 scenarioMs = 0;
    int nextEvent = 0;
    double ambient = 25.0;
    double loadNominal = 18.5;
    bool mains = true;
    bool moduleFail = false;
    bool bmsLink = true;
    bool breaker = true;
    double batteryHeat = 0.0;
    quint32 forcedFaults = 0; // bit k: scenarioFaultNames()[k]

    // Physical state.
    double soc = 90.0;
    std::array<double, Cells> cellSocOffset{};  // percent, the pack's natural spread
    std::array<double, Cells> cellBias{};       // volts, each cell's own small difference
    std::array<double, Cells> cellVoltOffset{}; // volts, forced by a scenario
    std::array<double, Cells> cellVolts{};
    double batteryTemp = 25.0;
    double rectifierTemp = 31.0;
    double acVolts = 220.0;   // true value
    double busVolts = 54.0;
    double loadAmps = 18.5;
    double batteryAmps = 0.0; // + charging
    double rectifierAmps = 18.5;
    bool rectifierOn = true;
    bool acOk = true;
    bool rackOverTemp = false;
    bool chargeLimited = false;
    std::uint16_t balancing = 0;
    // Noise of the latest step, in register units.
    double noiseAcVolts = 0, noiseAcAmps = 0, noiseDcVolts = 0, noiseLoad = 0, noiseBattery = 0;
    double noiseTemp = 0;

    // Battery-management state: protection bits kept with their hysteresis.
    std::uint16_t bms106 = 0, bms107 = 0;
    bool chargeFet = true, dischargeFet = true;

    // Calibration gains from registers 48..53.
    double gainAcVolts = 1, gainAcAmps = 1, gainDcVolts = 1, gainLoad = 1, gainCharge = 1, gainDischarge = 1;

    // Latched conditions.
    bool ovpLatched = false;
    bool testRunning = false;
    qint64 testElapsedMs = 0;
    bool testFailed = false;
    std::uint16_t trueAlarm1 = 0, trueAlarm2 = 0;
    std::uint16_t reported1 = 0, reported2 = 0; // as last recorded in the alarm history

    QList<QByteArray> alarmLog;
    QList<QByteArray> eventLog;
    IpSettings ip;
    QByteArray ipReadBackOverride; // null: the read answers from ip

    const Identity identity() const { return identityOf(model); }
    bool batteryInUse() const { return reg[RegBatteryUse] != 0; }

    void factoryDefaults();
    void seedCells();
    void step();
    void tickClock();
    void runScenario(qint64 ms);
    void applyEvent(const ScenarioEvent &e);
    void integrate(double dt);
    void runDischargeTest(qint64 ms);
    bool canStartTest() const;
    void evaluate();
    void evaluateBms();
    void evaluateAlarms();
    void fillRegisters();
    double setVoltageTenths() const;
    QByteArray clockBytes() const;
    QByteArray alarmRecord(int code, bool occurred, std::uint8_t detail) const;
    void append(LogKind kind, const QByteArray &record);
    void appendEvent(int code, std::uint16_t value);
    static bool acceptable(int address, std::uint16_t value);
    void applySetting(int address, std::uint16_t value);
    void calibrate(int address, std::uint16_t value);
    std::optional<std::pair<int, std::uint16_t>> eventFor(int address, std::uint16_t value) const;
};

void Plant::Model::factoryDefaults()
{
    reg[RegAlarmOutputType] = 0;
    reg[RegEthernetSetup] = 0;
    for (int a = RegCalAcVoltage; a <= RegCalDischargeCurrent; ++a)
        reg[a] = 0;
    gainAcVolts = gainAcAmps = gainDcVolts = gainLoad = gainCharge = gainDischarge = 1.0;
    reg[RegAcLow] = 170;
    reg[RegAcHigh] = 270;
    reg[RegDcLow] = 460;
    reg[RegDcHigh] = 570;
    reg[RegBatteryLow] = 440;
    reg[RegDcOverCurrent] = overCurrentDefault(model);
    reg[RegFloatVoltage] = 540;
    reg[RegLiChargeLimit] = 0;
    reg[RegChargeLimit] = 30;
    reg[RegChargeMode] = 1;
    reg[RegBatteryTempUse] = 1;
    reg[RegDcCutOff] = 580;
    reg[RegLiEndVoltage] = 430;
    reg[RegContactNormal] = 0;
    reg[RegAlarmTestUse] = 0;
    reg[RegAlarmTestMask1] = 0;
    reg[RegAlarmTestMask2] = 0;
    reg[RegTestPeriod] = 0;
    reg[RegTestMonth] = 5;
    reg[RegTestDay] = 1;
    reg[RegTestHour] = 3;
    reg[RegTestVoltage] = 460;
    reg[RegTestTime] = 1;
    // The contacts' usual assignment: AC, DC, module and battery failures on contacts 1..4.
    const std::uint16_t masks[12] = {0x0001, 0x0000, 0x0026, 0x0002, 0x0100, 0x0008,
                                     0x0040, 0x3B60, 0x0000, 0x0000, 0x0000, 0x0000};
    for (int i = 0; i < 12; ++i)
        reg[RegContactMasks + i] = masks[i];
    reg[RegRackOverTemp] = 1000;
    ovpLatched = false;
    testRunning = false;
    testFailed = false;
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

void Plant::Model::integrate(double dt)
{
    const double t = double(uptime);
    const Identity id = identity();
    noiseAcVolts = random.noise() * 12.0;
    noiseAcAmps = random.noise() * 0.6;
    noiseDcVolts = random.noise() * 1.2;
    noiseLoad = random.noise() * 1.5;
    noiseBattery = random.noise() * 0.6;
    noiseTemp = random.noise() * 1.5;

    // Mains: a slow wander around 220 V; the rectifiers run only inside the AC window.
    acVolts = mains ? 220.0 + 2.5 * std::sin(2 * std::numbers::pi * t / 3700.0) : 0.0;
    acOk = mains && acVolts >= reg[RegAcLow] && acVolts <= reg[RegAcHigh];
    const double rackLimit = reg[RegRackOverTemp] / 10.0;
    rackOverTemp = rackOverTemp ? rectifierTemp >= rackLimit - 2.0 : rectifierTemp >= rackLimit;
    // Output over-voltage protection: a set voltage above the DC cut-off (68) trips the
    // rectifiers, and they stay off until the flag (65) is written back to 0.
    if (acOk && !rackOverTemp && setVoltageTenths() > reg[RegDcCutOff])
        ovpLatched = true;
    rectifierOn = acOk && !ovpLatched && !rackOverTemp;

    const double capacity = id.ratedCurrent * (moduleFail ? 0.5 : 1.0);
    double load = loadNominal * (1.0 + 0.04 * std::sin(2 * std::numbers::pi * t / 1500.0));
    const double setVolts = std::clamp(std::round(setVoltageTenths()) / 10.0, 40.0, 60.0);
    const bool connected = batteryInUse() && breaker;
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
            if (ideal > 0 && canCharge) {
                double limit = capacity;
                const double l63 = reg[RegChargeLimit] / 10.0;
                const double l62 = reg[RegLiChargeLimit] / 10.0;
                if (l63 > 0)
                    limit = std::min(limit, l63);
                if (l62 > 0)
                    limit = std::min(limit, l62);
                // Constant-voltage phase: the current fades over the last two percent.
                const double taper = soc > 98.0 ? std::max(0.05, limit * (100.0 - soc) / 2.0) : limit;
                ib = std::min({ideal, limit, taper, std::max(0.0, capacity - load)});
                chargeLimited = ideal > limit && limit < capacity;
            } else if (ideal < 0 && canDischarge) {
                ib = std::max(ideal, -load);
            }
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

    soc = std::clamp(soc + ib * dt / 3600.0 / CapacityAh * 100.0, 0.0, 100.0);
    if (soc > 99.95 && ib > 0)
        soc = 100.0;

    // Cells: the natural spread wanders slowly; balancing bleeds the high cells.
    for (int i = 0; i < Cells; ++i) {
        cellSocOffset[i] = std::clamp(cellSocOffset[i] + random.noise() * 0.002, -3.0, 3.0);
        if (balancing & (1u << i))
            cellSocOffset[i] -= 0.001 * dt;
        const double v = cellOcv(soc + cellSocOffset[i]) + cellBias[i] + ib * CellResistance + cellVoltOffset[i]
                         + random.noise() * 0.0015;
        cellVolts[i] = std::max(0.0, v);
    }
    // Passive balancing while charging or near full: a cell 20 mV above the lowest is bled
    // until it is within 10 mV of it.
    if (connected && bmsLink && (ib > 0.2 || soc >= 97.0)) {
        const double lowest = *std::min_element(cellVolts.begin(), cellVolts.end());
        for (int i = 0; i < Cells; ++i) {
            const std::uint16_t bit = std::uint16_t(1u << i);
            if (cellVolts[i] >= lowest + 0.020)
                balancing |= bit;
            else if (cellVolts[i] <= lowest + 0.010)
                balancing &= std::uint16_t(~bit);
        }
    } else {
        balancing = 0;
    }

    // Temperatures follow their targets with the lag of a real mass.
    const double battTarget = ambient + batteryHeat + 0.002 * ib * ib;
    batteryTemp += (battTarget - batteryTemp) * (1.0 - std::exp(-dt / 40.0));
    const double rectTarget = ambient + 6.0 + 12.0 * rectifierAmps / id.ratedCurrent;
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

void Plant::Model::evaluate()
{
    evaluateBms();
    fillRegisters();
    evaluateAlarms();
}

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

void Plant::Model::fillRegisters()
{
    const Identity id = identity();
    const bool battery = batteryInUse();
    const bool link = battery && bmsLink;
    const bool connected = battery && breaker;

    reg[RegYear] = std::uint16_t(year);
    reg[RegMonth] = std::uint16_t(month);
    reg[RegDay] = std::uint16_t(day);
    reg[RegHour] = std::uint16_t(hour);
    reg[RegMinute] = std::uint16_t(minute);
    reg[RegSecond] = std::uint16_t(second);

    reg[RegAcVoltage] = mains ? toWord(acVolts * 10.0 * gainAcVolts + noiseAcVolts) : 0;
    const double acAmps = rectifierAmps > 0 && acVolts > 0 ? busVolts * rectifierAmps / 0.93 / acVolts : 0.0;
    reg[RegAcCurrent] = mains ? toWord(acAmps * 10.0 * gainAcAmps + (acAmps > 0 ? noiseAcAmps : 0)) : 0;
    reg[RegDcVoltage] = busVolts > 0 ? toWord(busVolts * 10.0 * gainDcVolts + noiseDcVolts) : 0;
    reg[RegLoadCurrent] = loadAmps > 0 ? toSignedWord(loadAmps * 10.0 * gainLoad + noiseLoad) : 0;
    const double batteryGain = batteryAmps >= 0 ? gainCharge : gainDischarge;
    const std::uint16_t batteryTenths =
        connected && std::abs(batteryAmps) > 0.05 ? toSignedWord(batteryAmps * 10.0 * batteryGain + noiseBattery) : 0;
    reg[RegBatteryCurrent] = batteryTenths;
    reg[RegBatteryTemp] = reg[RegBatteryTempUse] ? toSignedWord(batteryTemp * 10.0 + noiseTemp) : 1250;
    reg[RegRectifierTemp] = toSignedWord(rectifierTemp * 10.0 + noiseTemp);
    reg[RegFirmwareCounter] = std::uint16_t(uptime & 0xFFFF);
    reg[RegModuleAlarm] = moduleFail ? 0x01 : 0x00;

    reg[RegDsp1Version] = reg[RegDsp2Version] = id.dspVersion;
    reg[RegDsp1Date] = reg[RegDsp2Date] = id.dspDate;
    reg[RegModelCode] = std::uint16_t(model);
    reg[RegFirmwareHigh] = id.firmwareHigh;
    reg[RegFirmwareLow] = id.firmwareLow;
    reg[RegFirmwareYear] = id.firmwareYear;
    reg[RegFirmwareDate] = id.firmwareDate;
    reg[RegEthernetSpeed] = reg[RegEthernetSetup] == 1 || reg[RegEthernetSetup] == 2 ? 10 : 100;

    reg[RegSetVoltage] = toWord(setVoltageTenths());
    reg[RegOvpState] = ovpLatched ? 1 : 0;
    reg[RegChargeLimitFlag] = chargeLimited ? 1 : 0;
    reg[RegTestRunning] = testRunning ? 1 : 0;

    double limit = 0.0;
    if (reg[RegChargeLimit] > 0)
        limit = reg[RegChargeLimit];
    if (reg[RegLiChargeLimit] > 0 && (limit == 0.0 || reg[RegLiChargeLimit] < limit))
        limit = reg[RegLiChargeLimit];
    reg[RegBmsFirmware] = id.bmsFirmware;
    reg[RegEndVoltage] = reg[RegLiEndVoltage];
    reg[RegBmsChargeLimit] = toWord(limit);
    reg[RegBmsFirmwareDate] = id.bmsFirmwareDate;

    // What the battery unit reports; nothing without a battery or without its link.
    if (link) {
        double packExact = 0.0;
        int highest = 0, lowest = 65535;
        for (int i = 0; i < Cells; ++i) {
            const std::uint16_t v = toWord(cellVolts[i] * 100.0);
            reg[RegFirstCell + i] = v;
            highest = std::max<int>(highest, v);
            lowest = std::min<int>(lowest, v);
            packExact += cellVolts[i];
        }
        reg[RegPackVoltage] = toWord(packExact * 100.0);
        reg[RegBatteryVoltage] = breaker && busVolts > 0 ? toWord(busVolts * 100.0) : 0;
        reg[RegBmsCurrent] = batteryTenths;
        reg[RegSoc] = toWord(std::clamp(soc, 0.0, 100.0));
        reg[RegBmsTemp] = toSignedWord(batteryTemp * 10.0);
        reg[RegCellMax] = std::uint16_t(highest);
        reg[RegCellMin] = std::uint16_t(lowest);
        reg[RegBalancingBits] = balancing;
        reg[RegBmsStatus] = std::uint16_t((breaker ? 0 : 0x01) | 0x02 | (chargeFet ? 0x04 : 0)
                                          | (dischargeFet ? 0x08 : 0));
    } else {
        for (int a : {int(RegPackVoltage), int(RegBatteryVoltage), int(RegBmsCurrent), int(RegSoc),
                      int(RegBmsTemp), int(RegCellMax), int(RegCellMin), int(RegBalancingBits)})
            reg[a] = 0;
        for (int i = 0; i < Cells; ++i)
            reg[RegFirstCell + i] = 0;
        // Without the link the protection bits are unknown to the controller.
        reg[RegBmsAlarmBits] = reg[RegBmsProtectionBits] = 0;
        reg[RegBmsStatus] = battery && !breaker ? 0x01 : 0x00;
    }

    const bool can = model == 4;
    reg[RegCanFailCount] = 0;
    reg[RegCanVersion] = can ? 0x0C17 : 0;
    reg[RegCanDate] = can ? 0x060F : 0;
    reg[RegCanCpuFail] = 0;
}

void Plant::Model::evaluateAlarms()
{
    const Identity id = identity();
    const bool battery = batteryInUse();
    const bool link = battery && bmsLink;
    const double busTenths = busVolts * 10.0;
    holdBit(trueAlarm1, 0, !acOk, acOk);
    holdBit(trueAlarm1, 1, ovpLatched || busTenths > reg[RegDcHigh], !ovpLatched && busTenths <= reg[RegDcHigh] - 3.0);
    holdBit(trueAlarm1, 2, busTenths < reg[RegDcLow], busTenths >= reg[RegDcLow] + 3.0);
    const double overCurrent = id.ratedCurrent * reg[RegDcOverCurrent] / 100.0;
    holdBit(trueAlarm1, 5, loadAmps > overCurrent, loadAmps <= overCurrent * 0.97);
    holdBit(trueAlarm1, 6, battery && !breaker, !battery || breaker);
    holdBit(trueAlarm1, 8, moduleFail, !moduleFail);

    std::uint16_t a2 = 0;
    if (link) {
        const std::uint16_t p = reg[RegBmsProtectionBits], w = reg[RegBmsAlarmBits];
        if (p & 0x05) a2 |= 0x0100;
        if (p & 0x0A) a2 |= 0x0200;
        if ((p | w) & 0x10) a2 |= 0x0400;
        if ((p | w) & 0x20) a2 |= 0x0800;
        if ((p | w) & 0x40) a2 |= 0x1000;
        if ((p | w) & 0x80) a2 |= 0x2000;
        if (w & 0x03) a2 |= 0x4000;
        if (!breaker) a2 |= 0x8000;
        if (w & 0x01) a2 |= 0x0020;
        if (w & 0x02) a2 |= 0x0040;
    }
    if (battery && (a2 & 0xFF00 || !link))
        a2 |= 0x0080;
    if (testFailed)
        a2 |= 0x0020;
    // Battery low voltage from the battery unit's pack voltage, or the bus without a link.
    const double battTenths = link ? reg[RegPackVoltage] / 10.0 : busTenths;
    const bool wasLow = trueAlarm2 & 0x0002;
    if (battery && battTenths > 0 && (wasLow ? battTenths < reg[RegBatteryLow] + 5.0 : battTenths < reg[RegBatteryLow]))
        a2 |= 0x0002;
    if (rackOverTemp)
        a2 |= 0x0008;
    trueAlarm2 = a2;

    // The alarm test adds the masked alarms to what the controller reports.
    const bool testing = reg[RegAlarmTestUse] == 1;
    const std::uint16_t now1 = trueAlarm1 | (testing ? reg[RegAlarmTestMask1] : 0);
    const std::uint16_t now2 = trueAlarm2 | (testing ? reg[RegAlarmTestMask2] : 0);
    reg[RegAlarm1] = now1;
    reg[RegAlarm2] = now2;

    // Dry contacts follow the reported alarms through their masks; on models 3 and 4 with TTL
    // outputs only four contacts exist.
    std::uint16_t contacts = 0;
    for (int c = 0; c < 6; ++c) {
        if ((now1 & reg[RegContactMasks + 2 * c]) || (now2 & reg[RegContactMasks + 2 * c + 1]))
            contacts |= std::uint16_t(1u << c);
    }
    if ((model == 3 || model == 4) && reg[RegAlarmOutputType] == 1)
        contacts &= 0x0F;
    reg[RegContacts] = contacts;

    for (const AlarmBit &a : recordedAlarms) {
        const std::uint16_t before = a.word ? reported2 : reported1;
        const std::uint16_t after = a.word ? now2 : now1;
        const std::uint16_t m = std::uint16_t(1u << a.bit);
        const int code = a.word * 16 + a.bit + 1;
        const bool on = after & m;
        const bool bms = code == BmsAlarmCode;
        if ((before & m) != (after & m)) {
            append(AlarmLog, alarmRecord(code, on, bms && on ? std::uint8_t(now2 >> 8) : 0));
        } else if (bms && on && ((now2 >> 8) & ~(reported2 >> 8))) {
            // A further protection while the BMS alarm stands: a new occurrence with the
            // detail bits as they are now.
            append(AlarmLog, alarmRecord(code, true, std::uint8_t(now2 >> 8)));
        }
    }
    reported1 = now1;
    reported2 = now2;
}

QByteArray Plant::Model::clockBytes() const
{
    QByteArray b;
    b.append(char(std::clamp(year - 2000, 0, 255)));
    b.append(char(month));
    b.append(char(day));
    b.append(char(hour));
    b.append(char(minute));
    b.append(char(second));
    return b;
}

// 34 bytes: the clock, the six shown measurements (AC V, AC A, DC V, DC A, battery A, rack
// temperature), five further words (battery V, SOC, battery temperature, highest and lowest
// cell), the dry-contact and battery-status bytes and a spare byte, then detail, code and
// occurrence.
QByteArray Plant::Model::alarmRecord(int code, bool occurred, std::uint8_t detail) const
{
    QByteArray r = clockBytes();
    for (int a : {int(RegAcVoltage), int(RegAcCurrent), int(RegDcVoltage), int(RegLoadCurrent),
                  int(RegBatteryCurrent), int(RegRectifierTemp), int(RegBatteryVoltage), int(RegSoc),
                  int(RegBmsTemp), int(RegCellMax), int(RegCellMin)})
        appendWord(r, reg[a]);
    r.append(char(reg[RegContacts] & 0xFF));
    r.append(char(reg[RegBmsStatus] & 0xFF));
    r.append('\0');
    r.append(char(detail));
    r.append(char(code));
    r.append(char(occurred ? 1 : 0));
    return r;
}

void Plant::Model::append(LogKind kind, const QByteArray &record)
{
    QList<QByteArray> &log = kind == AlarmLog ? alarmLog : eventLog;
    log.append(record);
    // The controller keeps the newest records; the oldest make room.
    if (log.size() > MaxLogRecords)
        log.remove(0, log.size() - MaxLogRecords);
    Q_EMIT q->logAppended(kind, record);
}

void Plant::Model::appendEvent(int code, std::uint16_t value)
{
    QByteArray r = clockBytes();
    appendWord(r, std::uint16_t(code));
    appendWord(r, value);
    append(EventLog, r);
}

// The holding registers the controller takes, with the values it accepts. Everything else
// (the measurements, alarm words, identity, battery-unit data, the effective set voltage 61)
// is read-only: a write is refused, and the protocol side answers with an exception.
//   1..6   clock: year 2000..2099, month 1..12, day 1..31, hour 0..23, minute and second 0..59
//   31     task-fail counter: only 255 (reset)
//   42, 43 alarm output type 0..1, Ethernet speed setting 0..4
//   48..53 calibration references, any value
//   54..60, 62..69 operation and alarm settings (60: 42.0..60.0 V; 64: 1..3; 65, 66, 67: 0..1)
//   70..73 contact normal state 0..1, alarm test 0..1 and its two masks
//   74..79 discharge test (74: 0..12, 75: 1..12, 76: 1..31, 77: 0..23)
//   80..91 dry-contact masks; 92 discharge-test command 1..3; 95 rack over-temperature
//   127    factory command 1 (reset) or 2 (settings back to factory values)
bool Plant::Model::acceptable(int address, std::uint16_t v)
{
    switch (address) {
    case RegYear: return v >= 2000 && v <= 2099;
    case RegMonth: return v >= 1 && v <= 12;
    case RegDay: return v >= 1 && v <= 31;
    case RegHour: return v <= 23;
    case RegMinute:
    case RegSecond: return v <= 59;
    case RegTaskFail: return v == 255;
    case RegAlarmOutputType: return v <= 1;
    case RegEthernetSetup: return v <= 4;
    case RegFloatVoltage: return v >= 420 && v <= 600;
    case RegChargeMode: return v >= 1 && v <= 3;
    case RegOvpState:
    case RegBatteryUse:
    case RegBatteryTempUse:
    case RegContactNormal:
    case RegAlarmTestUse: return v <= 1;
    case RegTestPeriod: return v <= 12;
    case RegTestMonth: return v >= 1 && v <= 12;
    case RegTestDay: return v >= 1 && v <= 31;
    case RegTestHour: return v <= 23;
    case RegDischargeCommand: return v >= 1 && v <= 3;
    case RegFactory: return v == 1 || v == 2;
    default: break;
    }
    return (address >= RegCalAcVoltage && address <= RegLiEndVoltage && address != RegSetVoltage)
           || (address >= RegAlarmTestMask1 && address <= RegAlarmTestMask2)
           || (address >= RegTestVoltage && address <= RegContactMasks + 11) || address == RegRackOverTemp;
}

// The event each write leaves in the event log, with the value in the unit that the event's
// value text reads: calibration writes come in thousandths and are logged in the hundredths
// (DC voltage) or tenths (currents) of their events.
std::optional<std::pair<int, std::uint16_t>> Plant::Model::eventFor(int address, std::uint16_t v) const
{
    if (address >= RegYear && address <= RegSecond)
        return std::pair(1, v);
    if (address >= RegContactMasks && address <= RegContactMasks + 11) {
        // Contact c: its ALARM1 mask is "HW ALARMc_L", its ALARM2 mask "HW ALARMc_H" (the
        // high half of the 32-bit alarm word).
        const int i = address - RegContactMasks;
        return std::pair(37 + 2 * (i / 2) + (i % 2 ? 0 : 1), v);
    }
    switch (address) {
    case RegTaskFail: return std::pair(70, v);
    case RegAlarmOutputType:
    case RegEthernetSetup: return std::pair(50, v);
    case RegCalAcVoltage: return std::pair(2, v);
    case RegCalAcCurrent: return std::pair(3, v);
    case RegCalDcVoltage: return std::pair(4, std::uint16_t((v + 5) / 10));
    case RegCalLoadCurrent: return std::pair(5, std::uint16_t((v + 50) / 100));
    case RegCalChargeCurrent: return std::pair(6, std::uint16_t((v + 50) / 100));
    case RegCalDischargeCurrent: return std::pair(7, std::uint16_t((v + 50) / 100));
    case RegAcLow: return std::pair(9, v);
    case RegAcHigh: return std::pair(10, v);
    case RegDcLow: return std::pair(11, v);
    case RegDcHigh: return std::pair(12, v);
    case RegBatteryLow: return std::pair(13, v);
    case RegDcOverCurrent: return std::pair(14, v);
    case RegRackOverTemp: return std::pair(15, v);
    case RegFloatVoltage: return std::pair(16, v);
    case RegChargeLimit: return std::pair(17, v);
    case RegChargeMode: return std::pair(18, v);
    case RegOvpState: return std::pair(19, v);
    case RegBatteryUse: return std::pair(20, v);
    case RegBatteryTempUse: return std::pair(21, v);
    case RegContactNormal: return std::pair(23, v);
    case RegAlarmTestUse: return std::pair(24, v);
    case RegAlarmTestMask1: return std::pair(25, v);
    case RegAlarmTestMask2: return std::pair(26, v);
    case RegTestPeriod: return std::pair(29, v);
    case RegTestMonth: return std::pair(30, v);
    case RegTestDay: return std::pair(31, v);
    case RegTestHour: return std::pair(32, v);
    case RegTestVoltage: return std::pair(33, v);
    case RegTestTime: return std::pair(34, v);
    case RegDischargeCommand: return std::pair(35, v);
    case RegLiChargeLimit: return std::pair(57, v);
    case RegDcCutOff: return std::pair(58, v);
    case RegLiEndVoltage: return std::pair(59, v);
    case RegFactory: return std::pair(51, v);
    default: return std::nullopt;
    }
}

// A calibration write names the value the quantity should read now; the gain that makes it so
// is kept, within ±20 % so that a reference typed against no current (or a wrong field)
// cannot wreck the readings. Zero is the zero-point command and leaves the gain alone.
void Plant::Model::calibrate(int address, std::uint16_t v)
{
    reg[address] = v;
    if (v == 0)
        return;
    auto gainFor = [v](double trueValue, double minimum, double current) {
        if (trueValue < minimum)
            return current;
        return std::clamp(v / trueValue, 0.8, 1.2);
    };
    switch (address) {
    case RegCalAcVoltage: gainAcVolts = gainFor(acVolts * 10.0, 500.0, gainAcVolts); break;
    case RegCalAcCurrent: {
        const double acAmps = acVolts > 0 ? busVolts * rectifierAmps / 0.93 / acVolts : 0.0;
        gainAcAmps = gainFor(acAmps * 100.0, 50.0, gainAcAmps);
        break;
    }
    case RegCalDcVoltage: gainDcVolts = gainFor(busVolts * 1000.0, 20000.0, gainDcVolts); break;
    case RegCalLoadCurrent: gainLoad = gainFor(loadAmps * 1000.0, 1000.0, gainLoad); break;
    case RegCalChargeCurrent: gainCharge = gainFor(batteryAmps * 1000.0, 1000.0, gainCharge); break;
    case RegCalDischargeCurrent: gainDischarge = gainFor(-batteryAmps * 1000.0, 1000.0, gainDischarge); break;
    default: break;
    }
}

void Plant::Model::applySetting(int address, std::uint16_t v)
{
    switch (address) {
    case RegYear: year = v; break;
    case RegMonth: month = v; break;
    case RegDay: day = v; break;
    case RegHour: hour = v; break;
    case RegMinute: minute = v; break;
    case RegSecond:
        second = v;
        pendingMs = 0; // setting the seconds restarts the second
        break;
    case RegTaskFail: reg[RegTaskFail] = 0; break;
    case RegOvpState: ovpLatched = v == 1; break;
    case RegDischargeCommand:
        reg[address] = v;
        if (v == 1 && !testRunning) {
            testRunning = true;
            testElapsedMs = 0;
        } else if (v == 2) {
            testRunning = false;
        } else if (v == 3) {
            testFailed = false;
        }
        break;
    case RegFactory:
        if (v == 1) {
            // A restart: the test stops and every standing alarm is found again afterwards.
            append(AlarmLog, alarmRecord(RemoteResetCode, true, 0));
            testRunning = false;
            reported1 = reported2 = 0;
            trueAlarm1 = trueAlarm2 = 0;
            uptime = 0;
        } else {
            factoryDefaults();
        }
        break;
    default:
        if (address >= RegCalAcVoltage && address <= RegCalDischargeCurrent)
            calibrate(address, v);
        else
            reg[address] = v;
        break;
    }
}

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

// Older records before the present ones: alarms that came and went over the past days, each
// occurrence followed by its release, ending before the present clock.
void Plant::prefillHistory(int records)
{
    records = std::clamp(records, 0, MaxLogRecords);
    if (records == 0)
        return;
    static const int codes[] = {1, 2, 3, 6, 7, 9, 18, 20, 22, 23, 24};
    const QDateTime now(QDate(m->year, m->month, std::min(m->day, daysInMonth(m->year, m->month))),
                        QTime(m->hour, m->minute, m->second), Qt::UTC);
    QDateTime t = now.addSecs(-qint64(records) * 1200 - 600);
    QList<QByteArray> older;
    older.reserve(records);
    int code = codes[0];
    for (int i = 0; i < records; ++i) {
        const bool occurred = i % 2 == 0;
        if (occurred) {
            code = codes[m->random.next() % std::size(codes)];
            t = t.addSecs(600 + m->random.next() % 900);
        } else {
            t = t.addSecs(60 + m->random.next() % 600);
        }
        const QDate d = t.date();
        const QTime tm = t.time();
        QByteArray r;
        r.append(char(std::clamp(d.year() - 2000, 0, 255)));
        r.append(char(d.month()));
        r.append(char(d.day()));
        r.append(char(tm.hour()));
        r.append(char(tm.minute()));
        r.append(char(tm.second()));
        const bool acFail = code == 1 && occurred;
        appendWord(r, acFail ? 0 : toWord(2200 + m->random.noise() * 20));
        appendWord(r, acFail ? 0 : toWord(52 + m->random.noise() * 5));
        appendWord(r, acFail ? 515 : 540);
        appendWord(r, toSignedWord(185 + m->random.noise() * 15));
        appendWord(r, acFail ? toSignedWord(-185) : toSignedWord(30));
        appendWord(r, toSignedWord(310 + m->random.noise() * 20));
        appendWord(r, acFail ? 5150 : 5400);
        appendWord(r, 90);
        appendWord(r, 250);
        appendWord(r, 333);
        appendWord(r, 330);
        r.append(char(0));
        r.append(char(0x0E));
        r.append('\0');
        r.append(char(code == BmsAlarmCode && occurred ? 0x40 : 0));
        r.append(char(code));
        r.append(char(occurred ? 1 : 0));
        older.append(r);
    }
    m->alarmLog = older + m->alarmLog;
    if (m->alarmLog.size() > MaxLogRecords)
        m->alarmLog.remove(0, m->alarmLog.size() - MaxLogRecords);
}

void Plant::prefillEvents(int records)
{
    records = std::clamp(records, 0, MaxLogRecords);
    if (records == 0)
        return;
    const QDateTime now(QDate(m->year, m->month, std::min(m->day, daysInMonth(m->year, m->month))),
                        QTime(m->hour, m->minute, m->second), Qt::UTC);
    m->eventLog = sampleEventLog(records, now, m->random.next()) + m->eventLog;
    if (m->eventLog.size() > MaxLogRecords)
        m->eventLog.remove(0, m->eventLog.size() - MaxLogRecords);
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

std::uint16_t Plant::inputRegister(int address) const
{
    return address >= 1 && address <= StatusRegisters ? m->reg[std::size_t(address)] : 0;
}

bool Plant::writeRegister(int address, std::uint16_t value)
{
    if (!Model::acceptable(address, value))
        return false;
    // A discharge test needs a battery to discharge and a rectifier to take over again.
    if (address == RegDischargeCommand && value == 1 && !m->testRunning && !m->canStartTest())
        return false;
    if (const auto event = m->eventFor(address, value))
        m->appendEvent(event->first, event->second);
    m->applySetting(address, value);
    m->evaluate();
    return true;
}

int Plant::logCount(LogKind kind) const
{
    return int(kind == AlarmLog ? m->alarmLog.size() : m->eventLog.size());
}

QByteArray Plant::logRecord(LogKind kind, int number) const
{
    const QList<QByteArray> &log = kind == AlarmLog ? m->alarmLog : m->eventLog;
    return number >= 0 && number < log.size() ? log.at(number) : QByteArray();
}

void Plant::clearLog(LogKind kind)
{
    (kind == AlarmLog ? m->alarmLog : m->eventLog).clear();
}

void Plant::setLog(LogKind kind, const QList<QByteArray> &records)
{
    QList<QByteArray> &log = kind == AlarmLog ? m->alarmLog : m->eventLog;
    log = records.mid(std::max<qsizetype>(0, records.size() - MaxLogRecords));
    for (QByteArray &r : log)
        r.resize(kind == AlarmLog ? 34 : 10, '\0');
}

QByteArray Plant::ipSettingsReadBack() const
{
    if (!m->ipReadBackOverride.isNull())
        return m->ipReadBackOverride;
    const IpSettings &s = m->ip;
    const Identity id = m->identity();
    QByteArray b;
    b.reserve(IpBlockSize);
    b.append(2, '\0');
    b.append(s.mac).append(s.ip).append(s.mask).append(s.gateway);
    b.append(char(s.flags));
    b.append(s.storedIp);
    b.append(4, '\0');
    b.append(char(s.hardwareDescription.size())).append(s.hardwareDescription);
    b.append(s.serial).append(s.separator);
    b.append(s.hardwareVersion).append(s.storedMac).append(s.storedIpMac);
    b.append(6, '\0');
    for (quint32 v : {s.rectifierId, s.storedRectifierId}) {
        appendWord(b, std::uint16_t(v >> 16));
        appendWord(b, std::uint16_t(v & 0xFFFF));
    }
    appendWord(b, id.firmwareHigh);
    appendWord(b, id.firmwareLow);
    appendWord(b, id.firmwareYear);
    appendWord(b, id.firmwareDate);
    b.append(char(s.site.size())).append(s.site);
    b.append(IpBlockSize - int(b.size()), '\0');
    return b;
}

// The write block: marker, then the read-back order with the stored values and the
// controller's own fields (stored rectifier ID, firmware) as zeros. The description and the
// serial number are taken only when their item flags say so; the other items always carry
// either the new value or the value of the last read. The block is refused whole when it is
// malformed or when description and site text together would not fit the 150-byte read
// answer (69 bytes for both).
bool Plant::writeIpSettings(const QByteArray &block)
{
    auto at = [&](int i) { return quint8(block.at(i)); };
    if (block.size() < 32 || block.left(4) != bytesOf({0x12, 0x34, 0x56, 0x78}))
        return false;
    const int n = at(31);
    const int o = 32 + n;
    if (block.size() < o + 51)
        return false;
    const int m2 = at(o + 50);
    if (block.size() != 83 + n + m2)
        return false;

    IpSettings s = m->ip;
    s.mac = block.mid(4, 6);
    s.ip = block.mid(10, 4);
    s.mask = block.mid(14, 4);
    s.gateway = block.mid(18, 4);
    s.flags = at(22);
    s.storedIp = block.mid(23, 4);
    if (s.flags & 0x02)
        s.hardwareDescription = block.mid(32, n);
    if (s.flags & 0x04) {
        s.serial = block.mid(o, 10);
        s.separator = block.mid(o + 10, 2);
    }
    s.hardwareVersion = block.mid(o + 12, 4);
    s.storedMac = block.mid(o + 16, 6);
    s.rectifierId = quint32(at(o + 34)) << 24 | quint32(at(o + 35)) << 16 | quint32(at(o + 36)) << 8 | at(o + 37);
    s.storedRectifierId = s.rectifierId;
    s.site = block.mid(o + 51, m2);
    if (s.hardwareDescription.size() + s.site.size() > IpTextRoom)
        return false;

    m->ip = s;
    m->ipReadBackOverride = QByteArray();
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
    m->ipReadBackOverride = block.left(IpBlockSize);
    m->ipReadBackOverride.resize(IpBlockSize, '\0');
}

void Plant::setClock(const QDateTime &dateTime)
{
    const QDate d = dateTime.date();
    const QTime t = dateTime.time();
    if (!d.isValid() || !t.isValid())
        return;
    m->year = std::clamp(d.year(), 2000, 2099);
    m->month = d.month();
    m->day = d.day();
    m->hour = t.hour();
    m->minute = t.minute();
    m->second = t.second();
    m->pendingMs = t.msec();
    m->evaluate();
}

QDateTime Plant::clock() const
{
    return QDateTime(QDate(m->year, m->month, std::min(m->day, daysInMonth(m->year, m->month))),
                     QTime(m->hour, m->minute, m->second));
}

bool Plant::contactClosed(int contact) const
{
    if (contact < 1 || contact > 6)
        return false;
    const bool inAlarm = m->reg[RegContacts] & (1u << (contact - 1));
    const bool normallyClosed = m->reg[RegContactNormal] == 1;
    return normallyClosed ? !inAlarm : inAlarm;
}

} // namespace qeln::sim
