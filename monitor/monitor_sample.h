#pragma once

// One probe of a route monitor: which cycle and hop it belonged to, and how it ended. Plain data
// without heap, copied from the worker to the window and into the session file.

#include <cstdint>

#include "probe/host_address.h"
#include "probe/icmp_extension.h"

namespace hopwise {

struct MonitorSample {
    std::int64_t clockMs = 0; // wall clock, ms since the epoch, when its cycle was sent
    std::int32_t cycle = 0;   // from 0
    std::int16_t hop = 0;     // 1-based
    bool answered = false;
    std::uint32_t roundTripUs = 0;
    HostAddress responder; // empty when lost
    MplsLabels mpls{};     // the label stack the router's report carried; sessions don't keep it
};

} // namespace hopwise
