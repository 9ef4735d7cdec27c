#pragma once

// STAND-IN: the integrator replaces this folder's non-window files with the monitor model's own.

#include <cstdint>

#include "probe/host_address.h"

namespace hopwise {

// One probe of a monitor: its cycle, hop and outcome.
struct MonitorSample {
    std::int64_t clockMs = 0;
    std::int32_t cycle = 0;
    std::int16_t hop = 0;
    bool answered = false;
    std::uint32_t roundTripUs = 0;
    HostAddress responder;
};

} // namespace hopwise
