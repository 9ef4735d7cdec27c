#pragma once

// STAND-IN: the integrator replaces this folder's non-window files with the monitor model's own.

#include <cstdint>

#include "probe/host_address.h"

namespace hopwise {

// One probe of a monitor: its cycle, hop and outcome.
struct MonitorSample {
    std::int64_t clockMs;
    std::int32_t cycle;
    std::int16_t hop;
    bool answered;
    std::uint32_t roundTripUs;
    HostAddress responder;
};

} // namespace hopwise
