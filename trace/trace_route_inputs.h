#pragma once

// What the trace route worker reads from its page: the stored settings (the hop limit again before
// every further hop) and the run's own host, cancel flag and receiver. The window's page is one of
// these, the console fills one; either must outlive every run it starts, as it does when it holds
// the run's ProbeRun as a member.

#include <atomic>

#include "probe/echo_service.h"
#include "probe/resolver.h"
#include "run/host_text.h"
#include "run/probe_messages.h"
#include "settings/page_settings.h"

namespace hopwise {

struct TraceRouteInputs : TraceRouteSettings {
    char m_szHost[kHostTextSize] = {};  // set with SetHostText before the run starts
    std::atomic<bool> m_bCancel{false}; // set by the page; the worker stops before the next hop
    ProbeMessageTarget* m_pWindow = nullptr;     // where notifications go; nullptr drops them
    FamilyChoice m_families = FamilyChoice::Any; // hopwise-cli's -4 / -6; the window takes either
    // hopwise-cli's -i IFACE and -s SOURCE; the window leaves both to the routing table.
    EchoSocketSettings m_socket;
};

} // namespace hopwise
