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
    // Path MTU, as tracepath finds it: probes as large as the route lets them leave, never
    // fragmented (EchoPathMtu::Do for the run); one that a router or the local stack finds too
    // large goes again at the MTU it was given (trace/path_mtu.h). The MTU rides on the first
    // result of the first hop and of each hop after which it falls (ProbeResult::m_mtu), and a
    // hop is sent on only once the next hop's probes, which tell of a limit behind it, ended.
    bool m_pathMtu = false;
    ProbeMethod m_method; // ICMP echo, UDP or TCP: passed on to the flight as it is
    // UDP or TCP flows traced side by side, each a flight of its own (so its own source port) and
    // m_method's flow plus its place; a hop's results come flow after flow.
    std::int32_t m_flows = 1;
};

// Sends the notices TraceRouteThread sends, in the same order: every probe's result in hop
// order (a hop's probes in the order they were sent), each hop's as soon as it and every hop
// before it are known, ending with the first hop the destination answered (hops past it are
// answered by the destination too, and never shown). Probes still out at that point are
// abandoned. Cancel stops it before the next hop's results.
std::uint32_t ParallelTraceThread(ParallelTraceInputs* page);

} // namespace hopwise
