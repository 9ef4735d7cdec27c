#pragma once

// What the ping worker reads from its page: the stored settings (every request's TTL is the low
// 8 bits of m_iMaxHopCount; m_iNumTrials -1 runs until cancelled, 0 or less otherwise makes one
// trial) and the run's own host, cancel flag and receiver. The page must outlive every run it
// starts, as it does when it holds the run's ProbeRun as a member.

#include <atomic>

#include "probe/resolver.h"
#include "run/host_text.h"
#include "run/probe_messages.h"
#include "settings/page_settings.h"

namespace hopwise {

struct PingInputs : PingSettings {
    char m_szHost[kHostTextSize] = {};           // set with SetHostText before the run starts
    std::atomic<bool> m_bCancel{false};          // set by the page; checked before every trial
    ProbeMessageTarget* m_pWindow = nullptr;     // where notifications go; nullptr drops them
    FamilyChoice m_families = FamilyChoice::Any; // hopwise-cli's -4 / -6; the window takes either
    // From one request to the next; 0 sends back to back, as the page does (hopwise-cli's
    // --interval sets it).
    std::atomic<std::int32_t> m_iIntervalMs{0};
};

} // namespace hopwise
