#include "alarmmodel.h"

namespace qeln {

const std::array<AlarmBit, 16> &alarmBits()
{
    static const std::array<AlarmBit, 16> bits{{
        {1, 0, 0, 0, 1, "AC FAIL"},
        {1, 1, 1, 0, 2, "OV"},
        {1, 2, 1, 1, 3, "UV"},
        {1, 5, 1, 2, 6, "OCA"},
        {1, 6, 3, 7, 7, nullptr},
        {1, 8, 2, 0, 9, "UF"},
        {2, 1, 3, 1, 18, "BLV"},
        {2, 3, 2, 1, 20, "OT"},
        {2, 5, 3, 4, 22, "BF"},
        {2, 6, 3, 8, 23, "BCF"},
        {2, 7, 3, 9, 24, nullptr},
        {2, 8, 3, 0, 0, nullptr},
        {2, 9, 3, 2, 0, nullptr},
        {2, 11, 3, 3, 0, nullptr},
        {2, 12, 3, 5, 0, nullptr},
        {2, 13, 3, 6, 0, nullptr},
    }};
    return bits;
}

namespace {

const AlarmNameTable &table(const ConsoleState &state, int index)
{
    switch (index) {
    case 0:
        return state.AcAlarms;
    case 1:
        return state.OutputAlarms;
    case 2:
        return state.ModuleAlarms;
    default:
        return state.BatteryAlarms;
    }
}

QString slotText(const ConsoleState &state, int tableIndex, int slot)
{
    const AlarmNameTable &t = table(state, tableIndex);
    return slot >= 0 && slot < t.names.size() ? t.names.at(slot) : QString();
}

} // namespace

QString alarmName(const ConsoleState &state, const AlarmBit &alarm)
{
    return slotText(state, alarm.table, alarm.slot);
}

QString alarmNameOfHistoryCode(int code)
{
    static const ConsoleState tables; // the name tables as every console fills them
    for (const AlarmBit &a : alarmBits()) {
        if (a.historyCode == code && code != 0)
            return alarmName(tables, a);
    }
    return QString();
}

QStringList activeAlarmNames(const ConsoleState &state, int alarm1, int alarm2)
{
    QStringList names;
    for (const AlarmBit &a : alarmBits()) {
        const int word = a.word == 1 ? alarm1 : alarm2;
        if (word & (1 << a.bit))
            names << alarmName(state, a);
    }
    return names;
}

const std::array<ContactAlarmRow, 15> &contactAlarmRows()
{
    static const std::array<ContactAlarmRow, 15> rows{{
        {"CheckBox1", 1, 0, 0, 0},
        {"CheckBox2", 1, 1, 1, 0},
        {"CheckBox3", 1, 2, 1, 1},
        {"CheckBox6", 1, 5, 1, 2},
        {"CheckBox9", 1, 8, 2, 0},
        {"CheckBox7", 1, 6, 3, 7},
        {"CheckBox18", 2, 1, 3, 1},
        {"CheckBox20", 2, 3, 2, 1},
        {"CheckBox22", 2, 5, 3, 4},
        {"CheckBox23", 2, 6, 3, 8},
        {"CheckBox25", 2, 8, 3, 0},
        {"CheckBox26", 2, 9, 3, 2},
        {"CheckBox28", 2, 11, 3, 3},
        {"CheckBox29", 2, 12, 3, 5},
        {"CheckBox30", 2, 13, 3, 6},
    }};
    return rows;
}

QStringList dryContactCaptions()
{
    return {QStringLiteral("AC Fail"), QStringLiteral("DC Fail"), QStringLiteral("Module Fail"),
            QStringLiteral("Battery Fail"), QStringLiteral("예비 1"), QStringLiteral("예비 2")};
}

std::array<ContactAlarmTick, 15> contactAlarmTicks(const ConsoleState &state, int selectedContact)
{
    std::array<ContactAlarmTick, 15> ticks;
    const bool valid = selectedContact >= 0 && selectedContact + 1 < int(state.ContactAlarmMasks.size());
    const int mask1 = valid ? state.ContactAlarmMasks[size_t(selectedContact)] : 0;
    const int mask2 = valid ? state.ContactAlarmMasks[size_t(selectedContact) + 1] : 0;
    const auto &rows = contactAlarmRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const ContactAlarmRow &r = rows[i];
        ticks[i].ticked = ((r.word == 1 ? mask1 : mask2) & (1 << r.bit)) != 0;
        ticks[i].caption = slotText(state, r.table, r.slot);
    }
    return ticks;
}

const std::array<BatteryIndicator, 16> &batteryIndicators()
{
    static const std::array<BatteryIndicator, 16> indicators{{
        {"ImBatt", 1, 107, 0, "과전압경보", "알람"},
        {"ImBatt", 2, 107, 1, "과전류 경보", "알람"},
        {"ImBatt", 3, 107, 2, "충전과전압 차단", "보호"},
        {"ImBatt", 4, 107, 3, "충전과전류 차단", "보호"},
        {"ImBatt", 5, 107, 4, "방전저전압 차단", "보호"},
        {"ImBatt", 6, 107, 5, "방전과전류 차단", "보호"},
        {"ImBatt", 7, 107, 6, "고온 차단", "보호"},
        {"ImBatt", 8, 107, 7, "저온 차단", "보호"},
        {"ImBattP", 1, 106, 0, "셀편차 경보", "알람"},
        {"ImBattP", 2, 106, 1, "셀편차 차단", "보호"},
        {"ImBattP", 3, 106, 2, "예약1", "알람"},
        {"ImBattP", 4, 106, 3, "예약2", "알람"},
        {"ImBattP", 5, 106, 4, "방전저전압 경보", "알람"},
        {"ImBattP", 6, 106, 5, "방전과전류 경보", "알람"},
        {"ImBattP", 7, 106, 6, "고온 경보", "알람"},
        {"ImBattP", 8, 106, 7, "저온 경보", "알람"},
    }};
    return indicators;
}

} // namespace qeln
