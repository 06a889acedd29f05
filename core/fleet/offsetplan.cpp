#include "offsetplan.h"

#include "fleet/pollschedule.h"

#include <algorithm>
#include <map>
#include <set>

namespace qeln::fleet {

using std::chrono::milliseconds;

namespace {

// The offsets placed so far for one interval, and how many one window may hold.
class Grid {
public:
    Grid(std::int64_t interval, std::int64_t window, std::int64_t cap)
        : interval_(interval), window_(std::min(window, interval)), cap_(cap)
    {
    }

    void add(std::int64_t offset) { placed_.insert(offset); }

    // Whether a window holding `x` would hold more than the cap with `x` in it.
    bool fits(std::int64_t x) const
    {
        // Offsets within one window of x, as distances from x in (-window, window).
        std::vector<std::int64_t> near;
        const auto collect = [&](std::int64_t from, std::int64_t to, std::int64_t shift) {
            for (auto it = placed_.lower_bound(from); it != placed_.end() && *it <= to; ++it)
                near.push_back(*it + shift - x);
        };
        const std::int64_t lo = x - window_ + 1;
        const std::int64_t hi = x + window_ - 1;
        collect(std::max<std::int64_t>(lo, 0), std::min(hi, interval_ - 1), 0);
        if (lo < 0)
            collect(lo + interval_, interval_ - 1, -interval_);
        if (hi >= interval_)
            collect(0, hi - interval_, interval_);
        near.push_back(0);
        std::sort(near.begin(), near.end());
        // Every window holding x can start at an offset at or before x: count from each.
        std::size_t end = 0;
        for (std::size_t start = 0; start < near.size() && near[start] <= 0; ++start) {
            end = std::max(end, start);
            while (end < near.size() && near[end] < near[start] + window_)
                ++end;
            if (near[start] + window_ > 0 && std::int64_t(end - start) > cap_)
                return false;
        }
        return true;
    }

    std::int64_t place(std::int64_t preferred)
    {
        for (std::int64_t step = 0; step < interval_; ++step) {
            const std::int64_t x = (preferred + step) % interval_;
            if (fits(x)) {
                add(x);
                return x;
            }
        }
        add(preferred); // full everywhere: cannot happen with a cap of twice the average
        return preferred;
    }

private:
    std::int64_t interval_;
    std::int64_t window_;
    std::int64_t cap_;
    std::multiset<std::int64_t> placed_;
};

} // namespace

QHash<QString, milliseconds> planOffsets(const std::vector<PlanEntry> &controllers,
                                         const QHash<QString, milliseconds> &keep, milliseconds window)
{
    QHash<QString, milliseconds> result;
    // Each interval is a grid of its own.
    std::map<std::int64_t, std::vector<const PlanEntry *>> byInterval;
    for (const PlanEntry &c : controllers)
        byInterval[std::max<std::int64_t>(c.interval.count(), 1)].push_back(&c);
    for (auto &[interval, entries] : byInterval) {
        const std::int64_t n = std::int64_t(entries.size());
        // Twice the average share of a window, at least one.
        const std::int64_t cap = std::max<std::int64_t>(1, (2 * n * window.count() + interval - 1) / interval);
        Grid grid(interval, window.count(), cap);
        std::vector<std::pair<std::int64_t, const PlanEntry *>> order;
        for (const PlanEntry *c : entries) {
            const auto kept = keep.constFind(c->name);
            if (kept != keep.cend() && kept->count() >= 0 && kept->count() < interval) {
                grid.add(kept->count());
                result.insert(c->name, *kept);
            } else {
                order.emplace_back(pollOffset(c->name, milliseconds(interval)).count(), c);
            }
        }
        std::sort(order.begin(), order.end(), [](const auto &a, const auto &b) {
            return a.first != b.first ? a.first < b.first : a.second->name < b.second->name;
        });
        for (const auto &[preferred, c] : order)
            result.insert(c->name, milliseconds(grid.place(preferred)));
    }
    return result;
}

int mostInWindow(std::vector<milliseconds> offsets, milliseconds interval, milliseconds window)
{
    std::vector<std::int64_t> points;
    for (milliseconds o : offsets)
        points.push_back(o.count());
    std::sort(points.begin(), points.end());
    const std::size_t n = points.size();
    for (std::size_t i = 0; i < n; ++i) // the windows that wrap round the interval
        points.push_back(points[i] + interval.count());
    int most = 0;
    std::size_t end = 0;
    for (std::size_t start = 0; start < n; ++start) {
        end = std::max(end, start);
        while (end < points.size() && end < start + n && points[end] < points[start] + window.count())
            ++end;
        most = std::max(most, int(end - start));
    }
    return most;
}

} // namespace qeln::fleet
