#pragma once

// Decides whether a packet read from an ICMPv6 socket answers the echo request we sent: the
// IPv6 sibling of icmp_reply_decoder.h, with the same verdicts and reasons. Pure functions over
// bytes. Both ICMPv6 socket kinds hand over the ICMPv6 message alone (the kernel keeps the IPv6
// header, and gives the source, hop limit and traffic class beside the packet), and the kernel
// has verified the checksum of everything it queues on either kind (RFC 3542 3.1), so neither is
// checked here.

#include <cstddef>
#include <cstdint>
#include <span>

#include "probe/icmp_reply_decoder.h"

namespace hopwise {

namespace icmp6_type {
inline constexpr std::uint8_t kDestUnreachable = 1;
inline constexpr std::uint8_t kPacketTooBig = 2;
inline constexpr std::uint8_t kTimeExceeded = 3;
inline constexpr std::uint8_t kParameterProblem = 4;
inline constexpr std::uint8_t kEchoRequest = 128;
inline constexpr std::uint8_t kEchoReply = 129;
} // namespace icmp6_type

inline constexpr std::size_t kIpv6HeaderSize = 40;
inline constexpr std::uint8_t kIpProtocolIcmpv6 = 58;
// Extension headers walked in a quoted packet before giving up on finding its ICMPv6 header.
inline constexpr int kMaxQuotedExtensionHeaders = 8;

// Status of a reply record for an ICMPv6 error of the given type and code (the IPv4 statuses of
// echo_status.h for the corresponding reports).
std::uint32_t Icmp6ErrorStatus(std::uint8_t type, std::uint8_t code);

// A packet from the socket's ordinary queue (the ICMPv6 message). An echo reply must carry our
// sequence (and on a raw socket our identifier); an error report must quote an IPv6 packet to
// sent.destination whose extension headers (hop-by-hop, routing, fragment, destination options;
// at most kMaxQuotedExtensionHeaders) lead to our echo request. Of a report that quotes a later
// fragment no ICMPv6 header is left, so it is not ours. hasIpHeader stays false: the source,
// hop limit and traffic class come from the socket.
IcmpReplyFields DecodeIcmp6Reply(std::span<const std::uint8_t> packet, const SentEcho& sent);

// The payload of a datagram socket's error queue message: the echo request as it left (ICMPv6
// header onwards). The kernel gives the type, code and reporter separately and the quoted
// packet's destination as the message's name.
IcmpReplyFields DecodeQuotedEcho6(std::span<const std::uint8_t> quoted,
                                  const HostAddress& quotedDestination, std::uint8_t type,
                                  std::uint8_t code, const SentEcho& sent);

} // namespace hopwise
