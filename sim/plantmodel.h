#pragma once

// The plant's insides, shared by the files that each keep one concern of it: the physics
// (plantphysics.cpp), the register map and its settings (plantregisters.cpp), the alarm and
// event logs (plantlogs.cpp) and the life cycle with the public calls that belong to no single
// concern (plant.cpp). Only those files include this header.

#include "ipblock.h"
#include "plant.h"
#include "scenario.h"

#include <QByteArray>
#include <QList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

namespace qeln::sim {

namespace detail {

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
constexpr int BmsAlarmCode = 24;
constexpr int RemoteResetCode = 26;

// Identity of each model: firmware, DSP and battery-unit versions, rated output.
struct Identity {
    std::uint16_t firmwareHigh, firmwareLow, firmwareYear, firmwareDate;
    std::uint16_t dspVersion, dspDate, bmsFirmware, bmsFirmwareDate;
    double ratedCurrent;
};
Identity identityOf(int model);
std::uint16_t overCurrentDefault(int model);

// Open-circuit voltage of one lithium iron phosphate cell against its state of charge.
double cellOcv(double soc);

inline int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 31;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : days[month - 1];
}

// A status bit with its own set and clear conditions, so that noise near a threshold cannot
// make it chatter.
inline void holdBit(std::uint16_t &bits, int bit, bool set, bool clear)
{
    const std::uint16_t mask = std::uint16_t(1u << bit);
    if (set)
        bits |= mask;
    else if (clear)
        bits &= std::uint16_t(~mask);
}

inline std::uint16_t toWord(double v)
{
    return std::uint16_t(std::clamp<long long>(std::llround(v), 0, 65535));
}
inline std::uint16_t toSignedWord(double v)
{
    return std::uint16_t(std::int16_t(std::clamp<long long>(std::llround(v), -32768, 32767)));
}

inline void appendWord(QByteArray &b, std::uint16_t w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
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

} // namespace detail

struct Plant::Model {
    Plant *q = nullptr;
    int model = 3;
    double speed = 1.0;
    double tickCarry = 0.0;
    detail::Random random;
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
    std::array<double, detail::Cells> cellSocOffset{};  // percent, the pack's natural spread
    std::array<double, detail::Cells> cellBias{};       // volts, each cell's own small difference
    std::array<double, detail::Cells> cellVoltOffset{}; // volts, forced by a scenario
    std::array<double, detail::Cells> cellVolts{};
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
    IpBlock ip;

    detail::Identity identity() const { return detail::identityOf(model); }
    bool batteryInUse() const { return reg[detail::RegBatteryUse] != 0; }
    bool batteryConnected() const { return batteryInUse() && breaker; }

    // plantphysics.cpp: one simulated second and what moves in it.
    void seedCells();
    void step();
    void tickClock();
    void runScenario(qint64 ms);
    void applyEvent(const ScenarioEvent &e);
    void integrate(double dt);
    void drawNoise();
    void runRectifiers(double t);
    double shareCurrent(double load);
    double chargeCurrent(double ideal, double capacity, double load);
    void moveCells(double ib, double dt);
    void balanceCells(double ib);
    void followTemperatures(double ib, double dt);
    void runDischargeTest(qint64 ms);
    bool canStartTest() const;
    void evaluateBms();
    double setVoltageTenths() const;

    // plantregisters.cpp: the status block and the settings that writes change.
    void factoryDefaults();
    void evaluate();
    void fillRegisters();
    void fillBatteryUnit(std::uint16_t batteryTenths);
    void evaluateAlarms();
    static bool acceptable(int address, std::uint16_t value);
    void applySetting(int address, std::uint16_t value);
    void calibrate(int address, std::uint16_t value);
    std::optional<std::pair<int, std::uint16_t>> eventFor(int address, std::uint16_t value) const;

    // plantlogs.cpp: the alarm history and the event log.
    void recordAlarms(std::uint16_t now1, std::uint16_t now2);
    QByteArray clockBytes() const;
    QByteArray alarmRecord(int code, bool occurred, std::uint8_t detail) const;
    void append(LogKind kind, const QByteArray &record);
    void appendEvent(int code, std::uint16_t value);
    QList<QByteArray> &log(LogKind kind) { return kind == AlarmLog ? alarmLog : eventLog; }
    const QList<QByteArray> &log(LogKind kind) const { return kind == AlarmLog ? alarmLog : eventLog; }
};

} // namespace qeln::sim
