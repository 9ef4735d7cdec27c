#pragma once

// The pieces every worker shares: the frame of a run, the notifications it sends and the option
// block of a probe.

#include <array>
#include <cstdint>
#include <functional>

#include "probe/echo_service.h"
#include "probe/host_address.h"
#include "probe/resolver.h"
#include "run/probe_messages.h"

namespace hopwise {

// The Dest IP prefix + the longest address text (an IPv6 address with its zone) + NUL.
using DestinationText = std::array<char16_t, 80>;

// The Dest IP line's text: res::kDestIpPrefix followed by the text form of the address (dotted
// for IPv4), NUL-terminated.
DestinationText MakeDestinationText(const HostAddress& destination);

// Option block for one probe: TTL is the low 8 bits of the value (a hop count of 256 goes out
// as TTL 0, 300 as 44), everything else zero, no option bytes.
EchoOptions ProbeOptions(std::int32_t ttl);

// One probe as both workers send it: no data, the option block above, the status of the reply
// record cleared (nothing else of it), one record of room. Yields SendEcho's count.
// For an IPv6 destination the TTL is the hop limit. The responder is GetLastEchoResponder's.
std::uint32_t SendProbe(EchoHandle handle, const HostAddress& destination, std::int32_t ttl,
                        std::int32_t timeoutMs, EchoReply& reply);

// True when SendEcho's zero count means this process may not send ICMP at all.
bool EchoNotPermitted(std::uint32_t replyCount);

// Each sends one notification to the target (nothing when it is nullptr).
void NotifyFinished(ProbeMessageTarget* target);
void NotifyUnresolved(ProbeMessageTarget* target);
void NotifyDestination(ProbeMessageTarget* target, const HostAddress& destination);
void NotifyResult(ProbeMessageTarget* target, const ProbeResult& result);
void NotifyNotPermitted(ProbeMessageTarget* target);

// The frame of every worker's run: looks host up (ResolveHost, within the families chosen), then
// either tells the target where the run goes and calls probe with the address, or tells it the
// name can't be resolved; tells it the run has finished in both cases.
void RunToDestination(ProbeMessageTarget* target, const char* host, FamilyChoice families,
                      const std::function<void(const HostAddress& destination)>& probe);

} // namespace hopwise
