#pragma once

// The notifications a probing worker sends to its page's window, and the seam they go through.
// Every notification is sent synchronously: the records that wParam points at live on the
// worker's stack and are valid only while the receiver handles that one message.

#include <cstdint>

#include "probe/echo_service.h"

namespace hopwise {

// The run is over (wParam -1, lParam 0). Always the last message of a run.
inline constexpr std::uint32_t WM_PROBE_FINISHED = 1025;
// The host text named no usable address (wParam 0, lParam 0).
inline constexpr std::uint32_t WM_PROBE_UNRESOLVED = 1026;
// wParam: address of a pointer-sized cell that holds the address of the 16-bit text
// "Dest IP: " (res::kDestIpPrefix) followed by the dotted destination address.
inline constexpr std::uint32_t WM_PROBE_DESTINATION = 1027;
// wParam: address of a ProbeResult.
inline constexpr std::uint32_t WM_PROBE_RESULT = 1028;
// The system refused both kinds of ICMP socket, so no probe can ever be answered. wParam: address
// of a pointer-sized cell holding the address of an 8-bit hint for the user. Sent instead of the
// result of the probe that found out; the run then finishes as usual. A receiver that knows only
// the four messages above ignores it and simply sees a run that finished early.
inline constexpr std::uint32_t WM_PROBE_NOT_PERMITTED = 1029;

// What one probe brought back. The first three fields are pointers, in this order, because
// receivers read the record through wParam exactly as the worker lays it out; the microseconds
// the MTU and the labels follow them, for receivers that show more than the record holds.
struct ProbeResult {
    const char* m_address = nullptr;    // responder, dotted; nullptr when nothing answered
    const char* m_name = nullptr;       // responder's name; nullptr when not asked for or not found
    const EchoReply* m_reply = nullptr; // the worker's reply record, always set
    std::uint32_t m_roundTripMicros = 0; // the reply's round trip; 0 when nothing answered
    // The path's MTU when a router's report or the local link refused a request too large for it
    // (GetLastEchoMtu); 0 otherwise.
    std::uint32_t m_mtu = 0;
    // The MPLS labels the router's report carried (GetLastEchoMplsLabels); empty otherwise.
    MplsLabels m_mpls{};
};

// The page's window as the worker sees it.
class ProbeMessageTarget {
public:
    virtual ~ProbeMessageTarget() = default;
    // Handles one message before returning. Workers ignore the value returned.
    virtual std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                                      std::intptr_t lParam) = 0;
};

// Readers for the receiving side, so no receiver repeats the casts.
inline const char16_t* DestinationTextOf(std::intptr_t wParam)
{
    return *reinterpret_cast<const char16_t* const*>(wParam);
}

inline const ProbeResult& ProbeResultOf(std::intptr_t wParam)
{
    return *reinterpret_cast<const ProbeResult*>(wParam);
}

inline const char* NotPermittedHintOf(std::intptr_t wParam)
{
    return *reinterpret_cast<const char* const*>(wParam);
}

} // namespace hopwise
