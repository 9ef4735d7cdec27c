#pragma once

// Decides whether a packet read from an ICMP socket answers the echo request we sent, and pulls
// out the fields a reply record needs. Pure functions over bytes: no sockets, no clocks, so every
// rule can be exercised with crafted packets.

#include <cstddef>
#include <cstdint>
#include <span>

#include "probe/echo_permission.h"
#include "probe/host_address.h"
#include "probe/icmp_extension.h"
#include "probe/ip_address.h"

namespace hopwise {

namespace icmp_type {
inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kSourceQuench = 4;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
} // namespace icmp_type

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpMinHeaderSize = 20;
inline constexpr std::uint8_t kIpProtocolIcmp = 1;

// What went out: the socket kind decides the packet layout (a raw socket hands over the IP
// header, a datagram socket only the ICMP message) and who owns the identifier (on a datagram
// socket the kernel rewrites it and already filtered by it).
struct SentEcho {
    IcmpSocketKind kind = IcmpSocketKind::Raw;
    std::uint16_t identifier = 0; // host order; ignored for datagram sockets
    std::uint16_t sequence = 0;   // host order
    HostAddress destination;
};

enum class IcmpVerdict {
    EchoReply,   // the echo reply to our request
    ErrorReport, // a router's or host's ICMP error about our request
    NotOurs,
};

enum class IcmpRejectReason {
    None,
    Truncated,   // shorter than the headers it claims
    BadIpHeader, // version, IHL or total length don't add up
    NotIcmp,     // IP protocol is not ICMP
    BadChecksum,
    UnexpectedType, // an echo request (our own, looped back) or an informational type
    WrongIdentifier,
    WrongSequence,
    WrongDestination, // an error report about a packet to some other address
    QuotedNotEcho,    // an error report about something other than an echo request
    QuotedTruncated,  // the quoted original is too short to tell whose it is
};

struct IcmpReplyFields {
    IcmpVerdict verdict = IcmpVerdict::NotOurs;
    IcmpRejectReason reason = IcmpRejectReason::None;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint32_t status = 0; // reply record status, see IcmpErrorStatus
    // The next hop's MTU of a fragmentation-needed (ICMP) or packet-too-big (ICMPv6) report read
    // as a packet (from the error queue the kernel gives it as the extended error's ee_info).
    std::uint32_t mtu = 0;
    // From the IP header; only packets from a raw socket carry one.
    bool hasIpHeader = false;
    IpAddress source = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0; // the three IP flag bits, DF = 0x02
    std::span<const std::uint8_t> options;
    std::span<const std::uint8_t> data; // echoed payload (echo replies only)
    // The label stack a report's RFC 4884 extension carries (time exceeded, unreachable,
    // parameter problem); none for anything else.
    MplsLabels mpls{};
};

// Status of a reply record for an ICMP error of the given type and code.
std::uint32_t IcmpErrorStatus(std::uint8_t type, std::uint8_t code);

// Internet checksum (one's complement sum) over the bytes; 0 when a packet that carries its
// checksum is intact.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// A packet as read from the socket's ordinary queue: IP header + ICMP message for a raw socket,
// the ICMP message alone for a datagram socket.
IcmpReplyFields DecodeIcmpReply(std::span<const std::uint8_t> packet, const SentEcho& sent);

// The payload of a datagram socket's error queue message: the start of the echo request as it
// left (ICMP header onwards), quoted back by the reporter. The kernel gives the type, code and
// reporter separately, and the quoted packet's destination as the message's name.
IcmpReplyFields DecodeQuotedEcho(std::span<const std::uint8_t> quoted, IpAddress quotedDestination,
                                 std::uint8_t type, std::uint8_t code, const SentEcho& sent);

const char* IcmpRejectReasonName(IcmpRejectReason reason);

} // namespace hopwise
