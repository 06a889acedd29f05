#include "plantmodel.h"

#include <QDate>
#include <QTime>

namespace qeln::sim {

using namespace detail;

Identity detail::identityOf(int model)
{
    switch (model) {
    case 1: return {0x0100, 0x0203, 0x2021, 0x0310, 0x0215, 0x030A, 12, 2103, 30.0};
    case 2: return {0x0101, 0x0004, 0x2022, 0x0915, 0x0316, 0x090F, 25, 2209, 37.0};
    case 4: return {0x0103, 0x0100, 0x2024, 0x0220, 0x0418, 0x0214, 103, 2402, 37.0};
    default: return {0x0102, 0x0005, 0x2023, 0x0615, 0x0317, 0x060F, 102, 2306, 37.0};
    }
}

std::uint16_t detail::overCurrentDefault(int model)
{
    return model == 3 || model == 4 ? 103 : 105;
}

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

void Plant::Model::evaluate()
{
    evaluateBms();
    fillRegisters();
    evaluateAlarms();
}

void Plant::Model::fillRegisters()
{
    const Identity id = identity();

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
    const std::uint16_t batteryTenths = batteryConnected() && std::abs(batteryAmps) > 0.05
                                            ? toSignedWord(batteryAmps * 10.0 * batteryGain + noiseBattery)
                                            : 0;
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
    fillBatteryUnit(batteryTenths);

    const bool can = model == 4;
    reg[RegCanFailCount] = 0;
    reg[RegCanVersion] = can ? 0x0C17 : 0;
    reg[RegCanDate] = can ? 0x060F : 0;
    reg[RegCanCpuFail] = 0;
}

// What the battery unit reports; nothing without a battery or without its link.
void Plant::Model::fillBatteryUnit(std::uint16_t batteryTenths)
{
    if (!batteryInUse() || !bmsLink) {
        for (int a : {int(RegPackVoltage), int(RegBatteryVoltage), int(RegBmsCurrent), int(RegSoc),
                      int(RegBmsTemp), int(RegCellMax), int(RegCellMin), int(RegBalancingBits)})
            reg[a] = 0;
        for (int i = 0; i < Cells; ++i)
            reg[RegFirstCell + i] = 0;
        // Without the link the protection bits are unknown to the controller.
        reg[RegBmsAlarmBits] = reg[RegBmsProtectionBits] = 0;
        reg[RegBmsStatus] = batteryInUse() && !breaker ? 0x01 : 0x00;
        return;
    }
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
}

// The alarm words (15, 16) from the plant's conditions, with the alarm test's masks added, and
// the dry contacts (41) that follow them; changes go to the alarm history.
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

    recordAlarms(now1, now2);
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
