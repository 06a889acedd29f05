#pragma once

#include "app/consolestate.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace qeln {

// The status block as received: register n at index n-1, each an unsigned 16-bit value.
using RegisterBlock = std::array<std::int32_t, StatusRegisterSlots>;

// How a register's count becomes a number.
enum class Scale {
    Tenths,       // 2205 -> 220.5
    Hundredths,   // 5305 -> 53.05
    SignedTenths, // 16-bit two's complement in tenths: 0xFFDD -> -3.5
    Units,        // the count itself: 87 (%)
};

// The number a count stands for, exactly as the status page writes it: counts the page shows
// without a point (10000 and above, negatives, 0x8000 as "-32768") give that plain number,
// because every recording, series and log made so far carries them so.
double scaledNumber(int count, Scale scale);

// One measurement: the register's count as received, its scale, and whether the status page
// shows a number for it (a hidden panel, an absent or open sensor: no number).
struct Reading {
    int count = 0;
    Scale scale = Scale::Tenths;
    bool valid = false;

    // Volts, amperes, °C or percent; nothing where the page shows no number.
    std::optional<double> value() const
    {
        return valid ? std::optional<double>(scaledNumber(count, scale)) : std::nullopt;
    }
};

// The controller's clock as it reports it (registers 1..6), not checked for a real date.
struct ControllerClock {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The controller's clock minus this computer's (`nowSeconds`, Unix time), reading the
// controller's date and time in this computer's time zone (the controller keeps the site's local
// time); none for an unset (zeros) or impossible clock.
std::optional<double> clockOffsetSeconds(const ControllerClock &clock, double nowSeconds);

// A processor's version and build date as the controller packs them in two registers: the
// version in the first's high byte, then year, month and day bytes.
struct VersionDate {
    int version = 0;
    int year = 0;
    int month = 0;
    int day = 0;
};

// The controller's firmware: version V a.b.c.d and its build date, the date in BCD as sent
// (0x2023, 0x06, 0x15).
struct ControllerFirmware {
    std::array<int, 4> version{};
    int yearBcd = 0;
    int monthBcd = 0;
    int dayBcd = 0;
};

// The battery management unit's pack. Its readings are valid only while the battery is in
// use (the page hides its panel otherwise); the raw words are kept whatever.
struct BatteryPack {
    int firmware = 0;      // register 96; its text depends on the model
    int firmwareDate = 0;  // register 126
    Reading packVoltage;   // V
    Reading voltage;       // V; a count of 0 also means no reading from the unit
    Reading current;       // A, negative while discharging
    Reading stateOfCharge; // %
    Reading temperature;   // °C
    Reading cutOffVoltage; // V
    Reading chargeCurrentLimit; // A
    Reading cellMax;       // V
    Reading cellMin;       // V
    std::array<Reading, 15> cells; // V
    int alarmBits = 0;      // register 106, bits 0..7
    int protectionBits = 0; // register 107, bits 0..7
    int balancingBits = 0;  // register 108, bits 0..14 (cell k: bit k-1)
    int statusBits = 0;     // register 109
    // The unit stopped talking: the BMS alarm alone among the battery alarms, and no voltage.
    bool communicationLost = false;

    bool chargeFetOn() const { return statusBits & 0x04; }
    bool dischargeFetOn() const { return statusBits & 0x08; }
    // The battery breaker: off when the unit says so or reads no voltage.
    bool breakerOn() const { return !(statusBits & 0x01) && voltage.count != 0; }
    bool linkUp() const { return statusBits & 0x02; }
};

// The CAN processor of model 4.
struct CanProcessor {
    int failCount = 0;
    VersionDate version; // the version in tenths
    bool communicationOk = true;
};

// One alarm of the alarm table (alarmBits()), by the name the console's tables give it.
struct PlantAlarm {
    QString name;
    bool active = false;
};

// Dry contacts 1..6 and the alarm masks the contact-alarm window reads.
struct DryContacts {
    int count = 6; // 4 on models 3 and 4 with TTL alarm output
    std::array<bool, 6> inAlarm{};
    std::array<int, 12> alarmMasks{}; // registers 80..91

    // Contact k (1-based) is shown and in alarm.
    bool active(int k) const { return k >= 1 && k <= count && inAlarm[size_t(k - 1)]; }
};

// One status of the plant, decoded once from the status block into numbers with their units
// and validity. Everything shown, logged, recorded or exported about a status reads it.
struct PlantStatus {
    RegisterBlock registers{};
    ControllerClock clock;

    Reading acVoltage;            // V
    Reading acCurrent;            // A
    Reading dcVoltage;            // V
    Reading loadCurrent;          // A, signed
    Reading setVoltage;           // V; tenths up to 100.0 V, hundredths above
    Reading rectifierTemperature; // °C
    Reading batteryCurrent;       // A, negative while discharging; only with a battery
    Reading batteryTemperature;   // °C; only with a sensor that is not open
    bool batteryInUse = false;    // register 66
    bool batterySensorFitted = false; // register 67
    bool batterySensorOpen = false;   // the sensor reads 1250

    int alarm1 = 0; // ALARM1, register 15
    int alarm2 = 0; // ALARM2, register 16
    std::array<PlantAlarm, 16> alarms; // in the order of alarmBits()
    int moduleAlarmWord = 0;           // register 21

    DryContacts contacts;

    int modelCode = 0;
    // The model's name as the window caption shows it (" QELN-2KN"); an unknown code keeps
    // the last known one.
    QString modelText;
    ControllerFirmware firmware;
    std::array<VersionDate, 2> dsp;
    std::optional<CanProcessor> can; // model 4 only

    int firmwareCounter = 0;     // register 14
    int taskFailCount = 0;       // register 31
    int ethernetSpeedSetting = 0; // register 43: 0 auto, 1..4 fixed speeds
    int ethernetSpeed = 0;       // register 44
    bool alarmTestActive = false; // register 71 is 1
    int chargeLimitFlag = 0;     // register 93
    bool batteryTestRunning = false; // register 94

    BatteryPack battery;

    // The names of the active alarms, in the order of the alarm table.
    QStringList activeAlarmNames() const;
};

// Decodes the status block with the console's alarm name tables; `lastModelText` is the model
// an unknown model code keeps.
PlantStatus decodePlantStatus(const RegisterBlock &registers, const ConsoleState &nameTables,
                              const QString &lastModelText);
// The console state's last status block, with its name tables and its model text.
PlantStatus decodePlantStatus(const ConsoleState &state);

} // namespace qeln
