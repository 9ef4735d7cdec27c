#pragma once

// What the ping worker reads from its page; see trace_route_inputs.h for why the settings the
// worker reads during the run are atomics.

#include <atomic>
#include <cstdint>

#include "run/host_text.h"
#include "run/probe_messages.h"

namespace hopwise {

struct PingInputs {
    char m_szHost[kHostTextSize] = {};             // set with SetHostText before the run starts
    std::atomic<std::int32_t> m_iMaxHopCount{20};  // TTL of every request (low 8 bits)
    std::atomic<std::int32_t> m_iNumTrials{-1};    // -1: until cancelled; 0 or less: one trial
    std::atomic<std::int32_t> m_iHopTimeout{1000}; // milliseconds per request
    std::int32_t m_iMaxItemsInList = 50;           // rows the page keeps; the worker never reads it
    std::atomic<bool> m_bCancel{false};            // set by the page; checked before every trial
    ProbeMessageTarget* m_pWindow = nullptr;       // where notifications go; nullptr drops them
};

} // namespace hopwise
