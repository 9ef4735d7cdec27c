#pragma once

// The packets the responder can send back for one echo request: the honest echo reply, and the
// forged, malformed and misleading variants a hostile network produces. Pure functions over bytes
// so what goes on the wire is exactly what the caller asked for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace hopwise::responder {

// An IPv4 address in network byte order, as the socket layer stores it.
using Address = std::uint32_t;

enum class PacketKind {
    Echo,                         // the answer itself
    EchoOtherSource,              // the answer, from the other source address
    EchoWrongId,                  // identifier of another pinger
    EchoWrongSeq,                 // sequence of the previous request
    EchoNextSeq,                  // sequence of the request that will come next
    EchoBadChecksum,              // the answer with its ICMP checksum spoiled
    EchoTruncated,                // an echo reply cut off inside its own header
    EchoOversized,                // the answer padded with far more data than was asked for
    TimeExceeded,                 // a router's report (from the other source) quoting the request
    TimeExceededOptions,          // the same, the quoted IP header carrying options
    TimeExceededTruncated,        // the same, the quote cut off before the echo header ends
    TimeExceededOtherProbe,       // the same, quoting the previous request instead
    TimeExceededOtherDestination, // the same, quoting the request sent somewhere else
    Unreachable,                  // host unreachable, as TimeExceeded
    UnreachableOptions,
    UnreachableTruncated,
    UnreachableOtherProbe,
    PacketTooBig, // the request didn't fit the next link (IPv4: fragmentation needed)
    // A time-exceeded report (as TimeExceeded) from a router inside an MPLS network: the quote
    // padded to 128 bytes, then an RFC 4884 extension structure with the label stack the
    // request carried (RFC 4950): 24001, then 16 at the bottom ...
    TimeExceededMpls,
    TimeExceededMplsBadChecksum, // ... with the structure's checksum spoiled
    TimeExceededMplsBadLength,   // ... whose header puts the structure past the packet's end
    TimeExceededMplsNoBottom,    // ... whose stack has no bottom-of-stack entry
};

std::optional<PacketKind> ParsePacketKind(std::string_view name);
std::string_view PacketKindName(PacketKind kind);

// One echo request as it arrived: its IP header and its ICMP message.
struct EchoRequestSeen {
    Address source = 0;
    Address destination = 0;
    std::uint8_t ttl = 0;
    std::uint16_t identifier = 0; // host order
    std::uint16_t sequence = 0;   // host order
    std::vector<std::uint8_t> ipHeader;
    std::vector<std::uint8_t> icmp; // header and payload
};

// Reads a packet from a raw ICMP socket; empty unless it is an intact echo request.
std::optional<EchoRequestSeen> ParseEchoRequest(std::span<const std::uint8_t> packet);

struct ForgeSettings {
    std::uint8_t replyTtl = 64;
    Address otherSource = 0; // 0: the request's own destination
};

// The whole IP datagram (header included) to hand to an IPPROTO_RAW socket; it goes to the
// request's source.
std::vector<std::uint8_t> ForgePacket(PacketKind kind, const EchoRequestSeen& request,
                                      const ForgeSettings& settings);

// A router's time-exceeded report from `router` quoting the request (fake hops of a trace).
std::vector<std::uint8_t> ForgeHopReport(const EchoRequestSeen& request, Address router,
                                         std::uint8_t replyTtl);

// The n-th packet of the unrelated background flood at `client`: echo replies of other pingers,
// timestamp replies, an echo request, reports about packets that were never the client's echo.
// `clientIdentifier` is the identifier the client's requests carry; the flood steers clear of
// anything that could pass for an answer to them.
std::vector<std::uint8_t> ForgeFloodPacket(std::uint32_t n, Address from, Address client,
                                           std::uint16_t clientIdentifier);

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// For the TimeExceededMpls kinds: the quote zero-padded to 128 bytes and the extension structure
// behind it, shaped as the kind asks, and the value of the report's length field in units of
// `unit` bytes (4 for ICMP, 8 for ICMPv6). Nothing for another kind.
struct MplsTail {
    std::vector<std::uint8_t> bytes;
    std::uint8_t lengthField = 0;
};
std::optional<MplsTail> MplsTailOf(PacketKind kind, std::vector<std::uint8_t> quote,
                                   std::size_t unit);

} // namespace hopwise::responder
