#pragma once

// The IPv6 side of forged_packets.h: the same kinds of answer to an ICMPv6 echo request, each
// as a whole IPv6 datagram for an IPPROTO_RAW socket, whose ICMPv6 checksum (over the
// pseudo-header) is computed here, so a spoiled one goes out spoiled.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/icmp_responder/forged_packets.h"

namespace hopwise::responder {

using Address6 = std::array<std::uint8_t, 16>;

// One echo request as a raw ICMPv6 socket hands it over: the ICMPv6 message, with the addresses,
// hop limit and traffic class from the ancillary data.
struct EchoRequestSeen6 {
    Address6 source{};
    Address6 destination{};
    std::uint8_t hopLimit = 0;
    std::uint8_t trafficClass = 0;
    std::uint16_t identifier = 0;   // host order
    std::uint16_t sequence = 0;     // host order
    std::vector<std::uint8_t> icmp; // header and payload
};

// Empty unless `icmp` is an echo request (the socket has checked its checksum already).
std::optional<EchoRequestSeen6> ParseEchoRequest6(std::span<const std::uint8_t> icmp,
                                                  const Address6& source,
                                                  const Address6& destination,
                                                  std::uint8_t hopLimit, std::uint8_t trafficClass);

struct ForgeSettings6 {
    std::uint8_t hopLimit = 64;
    std::optional<Address6> otherSource; // empty: the request's own destination
};

// The whole IPv6 datagram (header included) to the request's source; empty for a kind that has
// no IPv6 form.
std::vector<std::uint8_t> ForgePacket6(PacketKind kind, const EchoRequestSeen6& request,
                                       const ForgeSettings6& settings);

// A router's time-exceeded report from `router` quoting the request (fake hops of a trace).
std::vector<std::uint8_t> ForgeHopReport6(const EchoRequestSeen6& request, const Address6& router,
                                          std::uint8_t hopLimit);

// The checksum an ICMPv6 message from `from` to `to` carries; 0 when it already carries it.
std::uint16_t Icmp6Checksum(const Address6& from, const Address6& to,
                            std::span<const std::uint8_t> icmp);

} // namespace hopwise::responder
