#pragma once

// What the trace route worker reads from its page. The page (a window later, the console now)
// owns one of these and must outlive every run it starts. The settings are atomics because the
// worker reads them again during the run (the hop limit before every further hop) while the
// page's thread may be editing them.

#include <atomic>
#include <cstdint>

#include "run/host_text.h"
#include "run/probe_messages.h"

namespace hopwise {

struct TraceRouteInputs {
    char m_szHost[kHostTextSize] = {};             // set with SetHostText before the run starts
    std::atomic<std::int32_t> m_iMaxHopCount{20};  // hops 1 .. m_iMaxHopCount - 1 are probed
    std::atomic<std::int32_t> m_iHopTimeout{1000}; // milliseconds per probe
    std::atomic<bool> m_bResolveIP{false};         // look up each responder's name
    std::atomic<bool> m_bCancel{false}; // set by the page; the worker stops before the next hop
    ProbeMessageTarget* m_pWindow = nullptr; // where notifications go; nullptr drops them
};

} // namespace hopwise
