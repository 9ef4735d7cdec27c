#pragma once

#include <cstdint>

#include "trace/trace_route_inputs.h"

namespace hopwise {

// One trace route run for the page, on the calling thread: resolves the host, reports the
// destination, then probes hop 1, 2, ... up to m_iMaxHopCount - 1 with rising TTL, one result
// per hop, until the destination answers, the page cancels or the hops run out (or, when ICMP is
// not permitted at all, after one WM_PROBE_NOT_PERMITTED); always ends with WM_PROBE_FINISHED.
// Yields 0.
std::uint32_t TraceRouteThread(TraceRouteInputs* page);

} // namespace hopwise
