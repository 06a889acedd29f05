#include "alarmtest.h"

namespace qeln::config {

QStringList alarmTestUsedEntries()
{
    return {QStringLiteral("미사용"), QStringLiteral("사용")};
}

AlarmTestOpening alarmTestOpening(const ConsoleState &state)
{
    AlarmTestOpening o;
    const int used = state.StatusRegisters[AlarmTestUsedRegister - 1];
    o.usedIndex = used >= 0 && used < alarmTestUsedEntries().size() ? used : -1;
    o.ticks = ticksFromWords(state.StatusRegisters[AlarmTestMaskARegister - 1],
                             state.StatusRegisters[AlarmTestMaskBRegister - 1]);
    return o;
}

int withDerivedBits(int wordA, int wordB)
{
    const bool disconnect = (wordA & 0x0040) != 0;
    int b = wordB;
    if (disconnect || (wordB & 0x3B22) != 0)
        b |= 1 << 7;
    if (wordB & (1 << 1))
        b |= 1 << 10;
    if (wordB & (1 << 5))
        b |= 1 << 14;
    if (disconnect)
        b |= 1 << 15;
    return b;
}

AlarmWords alarmTestWords(const AlarmTicks &ticks)
{
    AlarmWords w = wordsFromTicks(ticks);
    w.b = withDerivedBits(w.a, w.b);
    return w;
}

WritePlan alarmTestPlan(bool usedTicked, int usedIndex, bool masksTicked, const AlarmTicks &ticks)
{
    WritePlan p;
    if (usedTicked && usedIndex >= 0 && usedIndex < alarmTestUsedEntries().size())
        p.writes << RegisterWrite{AlarmTestUsedRegister, usedIndex};
    if (masksTicked) {
        const AlarmWords w = alarmTestWords(ticks);
        p.writes << RegisterWrite{AlarmTestMaskARegister, w.a}
                 << RegisterWrite{AlarmTestMaskBRegister, w.b};
    }
    return p;
}

} // namespace qeln::config
