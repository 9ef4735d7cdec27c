#pragma once

#include <cstdint>

#include "trace/trace_route_inputs.h"

namespace hopwise {

// A trace for the console with many hops' probes in flight at once, so silent hops cost about
// one time-out together rather than one each.
struct ParallelTraceInputs : TraceRouteInputs {
    std::int32_t m_probesInFlight = 16; // at most this many hops' probes out at once
};

// Sends the notices TraceRouteThread sends, in the same order: every hop's result in hop order,
// each as soon as it and every hop before it are known, ending at the first hop the destination
// answered (hops past it are answered by the destination too, and never shown). Hops whose
// probes are still out at that point are abandoned. Cancel stops it before the next result.
std::uint32_t ParallelTraceThread(ParallelTraceInputs* page);

} // namespace hopwise
