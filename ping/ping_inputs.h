#pragma once

// What the ping worker reads from its page: the stored settings (every request's TTL is the low
// 8 bits of m_iMaxHopCount; m_iNumTrials -1 runs until cancelled, 0 or less otherwise makes one
// trial), the run's own host, cancel flag and receiver, and what hopwise-cli adds. The page must
// outlive every run it starts, as it does when it holds the run's ProbeRun as a member.

#include <atomic>

#include "probe/echo_service.h"
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
    // hopwise-cli's ping options, read once when the run starts. The page sends no data and no
    // type of service, leaves interface, source and fragmentation to the system, and runs until
    // its trials are done.
    std::int32_t m_iPayloadSize = 0; // -s: data bytes after the ICMP header, up to kMaxPingPayload
    std::uint8_t m_tos = 0;          // -Q: type of service, or the IPv6 traffic class
    EchoSocketSettings m_socket;     // -I, -M
    // -w: the run ends this long after its first request; -1 never. With a deadline, m_iNumTrials
    // counts replies rather than requests and the first router's report ends the run, as ping's.
    std::int32_t m_iDeadlineMs = -1;
};

// The most data an echo request can carry: an IPv4 datagram of 65535 bytes less the IP and ICMP
// headers.
inline constexpr std::int32_t kMaxPingPayload = 65507;

} // namespace hopwise
