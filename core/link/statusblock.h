#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

namespace qeln {

// Size of the write queue: a settings dialog never queues more entries than this.
inline constexpr int WriteQueueCapacity = 100;
inline constexpr int StatusRegisterSlots = 131;

// What the link engine knows of the controller's status block: its layout (how many registers
// a status read asks for, and so how long its answer is) and the registers of the last status
// answer it took whole. The engine fills it; everything above reads it. The console state
// extends it with what the decode makes of the registers.
struct StatusBlock {
    std::int32_t StatusRegisterCount = StatusRegisterSlots;
    std::int32_t StatusFrameLength = StatusRegisterSlots * 4 + 11;
    QByteArray StatusByteCountHex = "06";
    std::int32_t HistoryRecordLength = 43;

    // The 131 registers of the last status response; entry n-1 holds register n.
    std::array<std::int32_t, StatusRegisterSlots> StatusRegisters{};
    // Registers 80..91: the alarm masks of the six dry contacts, from the last status decode
    // or, once the controller echoed a write of one, what it echoed.
    std::array<std::int32_t, 12> ContactAlarmMasks{};

    int ModelCode() const { return StatusRegisters[25]; }
};

} // namespace qeln
