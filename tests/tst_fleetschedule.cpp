#include "fleet/offsetplan.h"
#include "fleet/pollschedule.h"

#include <QtTest>

using namespace qeln::fleet;
using std::chrono::milliseconds;
using namespace Qt::StringLiterals;

class TestFleetSchedule : public QObject {
    Q_OBJECT

private slots:
    void offsetsAreStable();
    void offsetSpread();
    void plannedSpread_data();
    void plannedSpread();
    void planKeepsOffsets();
    void slotsDoNotDrift();
    void firstSlotFrom_data();
    void firstSlotFrom();
    void backoffTable();
    void backoffOnOwnSlots();
    void stallSkipsMissedSlots();
};

static std::vector<PlanEntry> sites(int count, const char *pattern, milliseconds interval)
{
    std::vector<PlanEntry> names;
    for (int i = 1; i <= count; ++i)
        names.push_back({QString::asprintf(pattern, i), interval});
    return names;
}

void TestFleetSchedule::offsetsAreStable()
{
    // Pinned values (computed apart from this code): a change of the hash moves every
    // controller of every fleet after an upgrade.
    QCOMPARE(nameHash("site-0001"), 0x3c297d5b6b387c18ULL);
    QCOMPARE(nameHash(QString::fromUtf8("北쪽-7").toUtf8()), 0x4196c943f952c432ULL);
    QCOMPARE(nameHash(QByteArray()), 0xefd01f60ba992926ULL);
    QCOMPARE(pollOffset(QStringLiteral("site-0001"), milliseconds(10000)), milliseconds(2350));
    QCOMPARE(pollOffset(QStringLiteral("site-1000"), milliseconds(10000)), milliseconds(7434));
    QCOMPARE(pollOffset(QStringLiteral("site-0001"), milliseconds(500)), milliseconds(117));
    QCOMPARE(pollOffset(QStringLiteral("site-0001"), milliseconds(3600000)), milliseconds(846029));
    for (milliseconds interval : {milliseconds(1), milliseconds(500), milliseconds(10000), milliseconds(86400000)}) {
        for (const PlanEntry &site : sites(200, "site-%04d", interval)) {
            const milliseconds offset = pollOffset(site.name, interval);
            QVERIFY(offset >= milliseconds(0) && offset < interval);
            QCOMPARE(pollOffset(site.name, interval), offset);
        }
    }
    const std::vector<PlanEntry> fleet = sites(1000, "site-%04d", milliseconds(10000));
    QCOMPARE(planOffsets(fleet), planOffsets(fleet));
}

void TestFleetSchedule::offsetSpread()
{
    // The hash alone: figures for the report, not a bound (about 21 of 1000 is what hashing
    // into 100 windows gives at best; the plan below keeps to 20).
    for (const char *pattern : {"site-%04d", "plant%d"}) {
        std::vector<milliseconds> offsets;
        for (const PlanEntry &site : sites(1000, pattern, milliseconds(10000)))
            offsets.push_back(pollOffset(site.name, site.interval));
        const int most = mostInWindow(offsets, milliseconds(10000), milliseconds(100));
        qInfo("hash only, %s: at most %d of 1000 in one 100 ms window", pattern, most);
        QVERIFY(most >= 10 && most < 40);
    }
}

void TestFleetSchedule::plannedSpread_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("interval");
    QTest::addColumn<int>("limit"); // most in one 100 ms window
    QTest::addColumn<int>("maxMoved"); // controllers moved off their hash offset
    QTest::newRow("site-0001..site-1000 at 10s") << u"site-%04d"_s << 1000 << 10000LL << 20 << 10;
    QTest::newRow("plant1..plant1000 at 10s") << u"plant%d"_s << 1000 << 10000LL << 20 << 10;
    QTest::newRow("5000 at 10s") << u"ctl-%05d"_s << 5000 << 10000LL << 100 << 50;
    QTest::newRow("1000 at 1m") << u"site-%04d"_s << 1000 << 60000LL << 4 << 200;
    QTest::newRow("20 at 10s") << u"site-%04d"_s << 20 << 10000LL << 1 << 10;
    QTest::newRow("50 at 500ms") << u"site-%04d"_s << 50 << 500LL << 20 << 5;
}

void TestFleetSchedule::plannedSpread()
{
    QFETCH(QString, pattern);
    QFETCH(int, count);
    QFETCH(qint64, interval);
    QFETCH(int, limit);
    QFETCH(int, maxMoved);
    const std::vector<PlanEntry> fleet = sites(count, qPrintable(pattern), milliseconds(interval));
    const QHash<QString, milliseconds> plan = planOffsets(fleet);
    QCOMPARE(plan.size(), count);
    std::vector<milliseconds> offsets;
    int moved = 0;
    for (const PlanEntry &site : fleet) {
        const milliseconds offset = plan.value(site.name, milliseconds(-1));
        QVERIFY(offset >= milliseconds(0) && offset < milliseconds(interval));
        offsets.push_back(offset);
        moved += offset != pollOffset(site.name, site.interval);
    }
    const int most = mostInWindow(offsets, milliseconds(interval), milliseconds(100));
    qInfo("planned: at most %d of %d in one 100 ms window; %d moved from their hash offset", most, count, moved);
    QVERIFY2(most <= limit, qPrintable(QString::number(most)));
    // Only the crowded few move.
    QVERIFY2(moved <= maxMoved, qPrintable(QString::number(moved)));
}

void TestFleetSchedule::planKeepsOffsets()
{
    // A reload adds 100 controllers to 1000: the running ones keep their slots, the new ones
    // still keep the windows under the limit.
    const std::vector<PlanEntry> before = sites(1000, "site-%04d", milliseconds(10000));
    const QHash<QString, milliseconds> running = planOffsets(before);
    std::vector<PlanEntry> after = sites(1100, "site-%04d", milliseconds(10000));
    after.erase(after.begin()); // site-0001 was removed
    const QHash<QString, milliseconds> plan = planOffsets(after, running);
    QCOMPARE(plan.size(), 1099);
    std::vector<milliseconds> offsets;
    for (const PlanEntry &site : after) {
        if (running.contains(site.name))
            QCOMPARE(plan.value(site.name), running.value(site.name));
        offsets.push_back(plan.value(site.name));
    }
    QVERIFY(mostInWindow(offsets, milliseconds(10000), milliseconds(100)) <= 22); // 2 % of 1099
    // A kept offset from another interval does not apply.
    const QHash<QString, milliseconds> longer =
        planOffsets({{QStringLiteral("site-0002"), milliseconds(1000)}}, running);
    QVERIFY(longer.value(QStringLiteral("site-0002")) < milliseconds(1000));
}

void TestFleetSchedule::slotsDoNotDrift()
{
    PollSchedule schedule(milliseconds(10000), milliseconds(2350));
    QCOMPARE(schedule.slotStart(0), 2350);
    QCOMPARE(schedule.slotStart(1), 12350);
    // A billion slots (317 years of 10 s) later: exactly on the grid.
    QCOMPARE(schedule.slotStart(1000000000LL), 10000000002350LL);
    // Slot k of a 1/3-second-ish interval after a year of polls: k * 333 + offset, not a sum
    // of rounded steps.
    PollSchedule odd(milliseconds(333), milliseconds(7));
    std::int64_t k = 94694400; // a year of 333 ms slots
    QCOMPARE(odd.slotStart(k), 7 + k * 333);
    QCOMPARE(odd.firstSlotFrom(odd.slotStart(k)), k);
    QCOMPARE(odd.firstSlotFrom(odd.slotStart(k) + 1), k + 1);
    // The offset is folded into the interval.
    QCOMPARE(PollSchedule(milliseconds(1000), milliseconds(2500)).offset(), milliseconds(500));
    QCOMPARE(PollSchedule(milliseconds(1000), milliseconds(-1)).offset(), milliseconds(999));
}

void TestFleetSchedule::firstSlotFrom_data()
{
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("slot");
    // Interval 10 s, offset 2.35 s.
    QTest::newRow("on a slot") << 12350LL << 1LL;
    QTest::newRow("just after") << 12351LL << 2LL;
    QTest::newRow("just before") << 12349LL << 1LL;
    QTest::newRow("origin") << 0LL << 0LL;
    QTest::newRow("before origin") << -7649LL << 0LL;
    QTest::newRow("on slot -1") << -7650LL << -1LL;
    QTest::newRow("just before slot -1") << -7651LL << -1LL;
    QTest::newRow("on slot -2") << -17650LL << -2LL;
    QTest::newRow("wall clock 2026") << 1796650002350LL << 179665000LL;
    QTest::newRow("wall clock 2026 + 1ms") << 1796650002351LL << 179665001LL;
}

void TestFleetSchedule::firstSlotFrom()
{
    QFETCH(qint64, now);
    QFETCH(qint64, slot);
    const PollSchedule schedule(milliseconds(10000), milliseconds(2350));
    QCOMPARE(schedule.firstSlotFrom(now), slot);
    QVERIFY(schedule.slotStart(slot) >= now);
    QVERIFY(schedule.slotStart(slot - 1) < now);
}

void TestFleetSchedule::backoffTable()
{
    const int expected[] = {1, 1, 2, 4, 5, 5, 5, 5, 5}; // n = 0 (a success) .. 8
    for (int n = 0; n <= 8; ++n)
        QCOMPARE(backoffIntervals(n), expected[n]);
    QCOMPARE(backoffIntervals(1000000), 5);
}

void TestFleetSchedule::backoffOnOwnSlots()
{
    // Eight failures, a success, one more failure: the tried of the tries.
    PollSchedule schedule(milliseconds(10000), milliseconds(2350));
    std::int64_t now = 100000; // slot 10 is next
    std::vector<std::int64_t> tried;
    const bool outcomes[] = {false, false, false, false, false, false, false, false, true, false, true};
    for (bool ok : outcomes) {
        const std::int64_t slot = schedule.nextSlot(now);
        tried.push_back(slot);
        now = schedule.slotStart(slot) + 2000; // the answer (or the timeout) 2 s into the slot
        schedule.recordTry(slot, ok);
    }
    const std::vector<std::int64_t> expected{10, 11, 13, 17, 22, 27, 32, 37, 42, 43, 44};
    QCOMPARE(tried, expected);
    QCOMPARE(schedule.failuresInARow(), 0);
    QCOMPARE(schedule.nextSlot(now), 45);
}

void TestFleetSchedule::stallSkipsMissedSlots()
{
    // The process stalled for 35 s after the try on slot 3: the next try is the first slot
    // still ahead, one try, not four to catch up.
    PollSchedule schedule(milliseconds(10000), milliseconds(2350));
    schedule.recordTry(3, true);
    const std::int64_t now = schedule.slotStart(3) + 35000;
    QCOMPARE(schedule.nextSlot(now), 7);
    // Within a back-off the later slot stands.
    schedule.recordTry(7, false);
    schedule.recordTry(8, false);
    schedule.recordTry(10, false); // 3 in a row: next is 4 intervals on
    QCOMPARE(schedule.nextSlot(schedule.slotStart(10) + 1), 14);
    QCOMPARE(schedule.nextSlot(schedule.slotStart(15) + 1), 16);
}

QTEST_GUILESS_MAIN(TestFleetSchedule)
#include "tst_fleetschedule.moc"
