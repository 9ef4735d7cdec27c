#pragma once

// What the error queue of a UDP or TCP probe socket hands over, judged: whether a router's or the
// destination's report is about one of our probes, and the reply status it stands for. Pure
// functions over what the kernel gives (origin, type, code, reporter, the quoted destination and
// bytes), so every rule is a row of a table test; probe/linux/ only reads the socket.
//
// The quoted bytes: for UDP the datagram's payload (the kernel has taken the UDP header and
// matched its ports to the socket), for TCP the segment from its header on.

#include <cstdint>
#include <optional>
#include <span>

#include "probe/host_address.h"
#include "probe/probe_method.h"

namespace hopwise {

// sock_extended_err's origins of a report from the network (linux/errqueue.h).
inline constexpr std::uint8_t kReportOriginIcmp = 2;
inline constexpr std::uint8_t kReportOriginIcmp6 = 3;

// One flow: where its probes go, and the local port they leave from.
struct ProbeFlow {
    ProbeMethod method;
    HostAddress destination;
    std::uint16_t destinationPort = 0;
    std::uint16_t sourcePort = 0; // TCP: the one the flow's sockets bind; UDP: the kernel checked
};

struct QuotedReport {
    std::uint8_t origin = 0;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    HostAddress reporter;           // SO_EE_OFFENDER
    HostAddress quotedTo;           // the message's name: the quoted packet's destination
    std::uint16_t quotedToPort = 0; // and its port (host order)
    std::span<const std::uint8_t> quoted;
};

enum class ProbeReportReject {
    None,
    NotFromNetwork,   // a local error, or another family's report
    OtherDestination, // quotes a packet to another address or port
    OtherSourcePort,  // TCP: quotes another source port
    OtherFlow,        // UDP: the payload carries another flow's tag
    Truncated,        // TCP: the quote is too short to show the ports
};

struct ProbeReportVerdict {
    ProbeReportReject reject = ProbeReportReject::None;
    std::uint32_t status = 0; // the reply status (probe/echo_status.h) when ours
    // UDP: the probe number the quoted payload names; none when the quote carries no tag.
    std::optional<std::uint32_t> probe;

    bool ours() const { return reject == ProbeReportReject::None; }
};

// The status a report stands for: time exceeded is the TTL-expired status; a port unreachable
// from the destination is success (the destination was reached); other reports their ICMP
// (ICMPv6) counterparts' status.
std::uint32_t ProbeReportStatus(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                                bool fromDestination);

ProbeReportVerdict JudgeProbeReport(const ProbeFlow& flow, const QuotedReport& report);

// A UDP probe's payload: "Hw", the flow (2 bytes), the probe's number (4 bytes), big-endian.
inline constexpr std::size_t kProbeTagSize = 8;
void WriteProbeTag(std::span<std::uint8_t, kProbeTagSize> payload, std::uint16_t flow,
                   std::uint32_t probe);

// Which of the probes out (by number) a verdict of ours belongs to: the one its quote names if
// that one is out; a quote without a tag only while exactly one probe is out; otherwise none
// (never the wrong probe's).
std::optional<std::uint32_t> AttributeReport(const ProbeReportVerdict& verdict,
                                             std::span<const std::uint32_t> probesOut);

} // namespace hopwise
