#pragma once

#include <prometheus/collectable.h>

#include <vector>

namespace qeln::fleet {

// The exporter process's own series in the usual names (process_cpu_seconds_total,
// process_open_fds, process_max_fds, process_resident_memory_bytes,
// process_virtual_memory_bytes, process_start_time_seconds), read from /proc at each scrape.
// Open files matter with a thousand controllers. Linux only; elsewhere it reports nothing.
class ProcessCollector : public prometheus::Collectable {
public:
    std::vector<prometheus::MetricFamily> Collect() const override;
};

} // namespace qeln::fleet
