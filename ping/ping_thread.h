#pragma once

#include <cstdint>

#include "ping/ping_inputs.h"

namespace hopwise {

// One ping run for the page, on the calling thread: resolves the host, reports the destination,
// then sends one echo request per trial with TTL m_iMaxHopCount (and hopwise-cli's data, type of
// service and socket settings) and reports each as a result, until m_iNumTrials trials are done,
// the deadline passes or the page cancels (or, when ICMP is not permitted at all, after one
// WM_PROBE_NOT_PERMITTED); always ends with WM_PROBE_FINISHED. Yields 0.
std::uint32_t PingThread(PingInputs* page);

} // namespace hopwise
