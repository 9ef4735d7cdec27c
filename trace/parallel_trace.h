#pragma once

#include <cstdint>

#include "probe/probe_method.h"
#include "trace/trace_route_inputs.h"

namespace hopwise {

// A trace for the console with many probes in flight at once, so silent hops cost about one
// time-out together rather than one each.
struct ParallelTraceInputs : TraceRouteInputs {
    std::int32_t m_probesInFlight = 16; // at most this many probes out at once
    std::int32_t m_firstHop = 1;        // hops below it are neither probed nor shown
    std::int32_t m_probesPerHop = 1;    // each a result of its own, a hop's one after another
    // The adaptive waits (trace/adaptive_wait.h) under m_iHopTimeout; both 0: a fixed wait.
    double m_waitHere = 0;
    double m_waitNear = 0;
    ProbeMethod m_method; // ICMP echo, UDP or TCP: passed on to the flight as it is
};

// Sends the notices TraceRouteThread sends, in the same order: every probe's result in hop
// order (a hop's probes in the order they were sent), each hop's as soon as it and every hop
// before it are known, ending with the first hop the destination answered (hops past it are
// answered by the destination too, and never shown). Probes still out at that point are
// abandoned. Cancel stops it before the next hop's results.
std::uint32_t ParallelTraceThread(ParallelTraceInputs* page);

} // namespace hopwise
