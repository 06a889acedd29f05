#include "plantstatus.h"

#include "monitor/alarmmodel.h"

#include <QDateTime>

namespace qeln {

namespace {

// The formatters write 1..9999 with a point and everything else (0, negatives, 10000 and
// above) as the plain count; 0 is 0 either way.
double withPoint(int count, double divisor)
{
    return count >= 1 && count <= 9999 ? count / divisor : double(count);
}

int hi(int value)
{
    return (value >> 8) & 0xFF;
}

int lo(int value)
{
    return value & 0xFF;
}

VersionDate versionDate(int first, int second)
{
    return {hi(first), lo(first), hi(second), lo(second)};
}

QString modelTextOf(int code, const QString &last)
{
    switch (code) {
    case 1:
        return QStringLiteral("  ");
    case 2:
        return QStringLiteral(" QELN-2K");
    case 3:
        return QStringLiteral(" QELN-2KN");
    case 4:
        return QStringLiteral(" QELN-2KN(A)");
    default:
        return last;
    }
}

} // namespace

double scaledNumber(int count, Scale scale)
{
    switch (scale) {
    case Scale::Tenths:
        return withPoint(count, 10);
    case Scale::Hundredths:
        return withPoint(count, 100);
    case Scale::SignedTenths:
        // Sign and magnitude as the page writes them: bit 15 set is minus the two's
        // complement, so 0x8000 is -32768 (no point: the magnitude is above 9999).
        if (count & 0x8000)
            return -withPoint(((count ^ 0xFFFF) & 0xFFFF) + 1, 10);
        return withPoint(count, 10);
    case Scale::Units:
        return count;
    }
    return count;
}

QStringList PlantStatus::activeAlarmNames() const
{
    QStringList names;
    for (const PlantAlarm &a : alarms) {
        if (a.active)
            names << a.name;
    }
    return names;
}

PlantStatus decodePlantStatus(const RegisterBlock &registers, const ConsoleState &nameTables,
                              const QString &lastModelText)
{
    PlantStatus p;
    p.registers = registers;
    const auto reg = [&registers](int n) { return registers[size_t(n - 1)]; };
    const auto reading = [&reg](int n, Scale scale, bool valid = true) { return Reading{reg(n), scale, valid}; };

    p.clock = {reg(1), reg(2), reg(3), reg(4), reg(5), reg(6)};
    p.modelCode = reg(26);
    p.modelText = modelTextOf(p.modelCode, lastModelText);
    p.batteryInUse = reg(66) != 0;
    p.batterySensorFitted = reg(67) != 0;
    p.batterySensorOpen = reg(12) == 1250;

    p.acVoltage = reading(7, Scale::Tenths);
    p.acCurrent = reading(8, Scale::Tenths);
    p.dcVoltage = reading(9, Scale::Tenths);
    p.loadCurrent = reading(10, Scale::SignedTenths);
    p.batteryCurrent = reading(11, Scale::SignedTenths, p.batteryInUse);
    p.batteryTemperature = reading(12, Scale::SignedTenths, p.batterySensorFitted && !p.batterySensorOpen);
    p.rectifierTemperature = reading(13, Scale::SignedTenths);
    p.setVoltage = reading(61, reg(61) <= 1000 ? Scale::Tenths : Scale::Hundredths);
    p.firmwareCounter = reg(14);

    p.alarm1 = reg(15);
    p.alarm2 = reg(16);
    const auto &bits = alarmBits();
    for (size_t i = 0; i < bits.size(); ++i) {
        const AlarmBit &bit = bits[i];
        p.alarms[i] = {alarmName(nameTables, bit), ((bit.word == 1 ? p.alarm1 : p.alarm2) & (1 << bit.bit)) != 0};
    }
    p.moduleAlarmWord = reg(21);

    p.dsp = {versionDate(reg(22), reg(23)), versionDate(reg(24), reg(25))};
    p.firmware.version = {hi(reg(27)), lo(reg(27)), hi(reg(28)), lo(reg(28))};
    p.firmware.yearBcd = reg(29);
    p.firmware.monthBcd = hi(reg(30));
    p.firmware.dayBcd = lo(reg(30));
    p.taskFailCount = reg(31);

    p.contacts.count = ((p.modelCode == 3 || p.modelCode == 4) && reg(42) == 1) ? 4 : 6;
    for (int k = 0; k < 6; ++k)
        p.contacts.inAlarm[size_t(k)] = (reg(41) & (1 << k)) != 0;
    for (int i = 0; i < 12; ++i)
        p.contacts.alarmMasks[size_t(i)] = reg(80 + i);

    p.ethernetSpeedSetting = reg(43);
    p.ethernetSpeed = reg(44);
    p.alarmTestActive = reg(71) == 1;
    p.chargeLimitFlag = reg(93);
    p.batteryTestRunning = reg(94) != 0;

    BatteryPack &b = p.battery;
    const bool pack = p.batteryInUse;
    b.firmware = reg(96);
    b.packVoltage = reading(97, Scale::Hundredths, pack);
    b.voltage = reading(98, Scale::Hundredths, pack);
    b.current = reading(99, Scale::SignedTenths, pack);
    b.stateOfCharge = reading(100, Scale::Units, pack);
    b.temperature = reading(101, Scale::SignedTenths, pack);
    b.cutOffVoltage = reading(102, Scale::Tenths, pack);
    b.chargeCurrentLimit = reading(103, Scale::Tenths, pack);
    b.cellMax = reading(104, Scale::Hundredths, pack);
    b.cellMin = reading(105, Scale::Hundredths, pack);
    for (int k = 0; k < 15; ++k)
        b.cells[size_t(k)] = reading(110 + k, Scale::Hundredths, pack);
    b.alarmBits = reg(106);
    b.protectionBits = reg(107);
    b.balancingBits = reg(108);
    b.statusBits = reg(109);
    b.firmwareDate = reg(126);
    b.communicationLost = (p.alarm2 & 0x0080) && !(p.alarm2 & 0xFF00) && reg(98) == 0;

    if (p.modelCode == 4)
        p.can = CanProcessor{reg(128), versionDate(reg(129), reg(130)), reg(131) == 0};
    return p;
}

PlantStatus decodePlantStatus(const ConsoleState &state)
{
    return decodePlantStatus(state.StatusRegisters, state, state.ModelText);
}

std::optional<double> clockOffsetSeconds(const ControllerClock &clock, double nowSeconds)
{
    const QDate date(clock.year, clock.month, clock.day);
    const QTime time(clock.hour, clock.minute, clock.second);
    if (clock.year < 1970 || !date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime controller(date, time, Qt::LocalTime);
    return controller.toMSecsSinceEpoch() / 1000.0 - nowSeconds;
}

} // namespace qeln
