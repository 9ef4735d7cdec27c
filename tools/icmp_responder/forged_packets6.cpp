#include "tools/icmp_responder/forged_packets6.h"

#include <algorithm>

namespace hopwise::responder {

namespace {

constexpr std::uint8_t kDestUnreachable = 1;
constexpr std::uint8_t kPacketTooBig = 2;
constexpr std::uint8_t kTimeExceeded = 3;
constexpr std::uint8_t kEchoRequest = 128;
constexpr std::uint8_t kEchoReply = 129;
constexpr std::uint8_t kAddressUnreachable = 3;
constexpr std::uint8_t kNextHeaderIcmpv6 = 58;
constexpr std::uint8_t kNextHeaderDestinationOptions = 60;
constexpr std::size_t kIpv6HeaderSize = 40;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kOversizedPayload = 1400; // as for IPv4: below the links' MTU
// The smallest MTU IPv6 allows, and so the only one a report may name without being clamped.
constexpr std::uint32_t kMinimumMtu = 1280;
// Quoted in reports about a packet the client never sent to us; no namespace holds it.
constexpr Address6 kForeignDestination{0xfd, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 1};

std::uint16_t readBig16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void writeBig16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> ipv6Header(const Address6& from, const Address6& to,
                                     std::uint8_t hopLimit, std::uint8_t trafficClass,
                                     std::uint8_t nextHeader, std::size_t payloadSize)
{
    std::vector<std::uint8_t> header(kIpv6HeaderSize);
    header[0] = static_cast<std::uint8_t>(0x60 | (trafficClass >> 4));
    header[1] = static_cast<std::uint8_t>(trafficClass << 4);
    writeBig16(&header[4], static_cast<std::uint16_t>(payloadSize));
    header[6] = nextHeader;
    header[7] = hopLimit;
    std::copy(from.begin(), from.end(), header.begin() + 8);
    std::copy(to.begin(), to.end(), header.begin() + 24);
    return header;
}

// The checksum field is written last, over everything else, so an ICMPv6 message built here is
// sealed exactly once for the addresses it travels between.
void sealIcmp(std::vector<std::uint8_t>& icmp, const Address6& from, const Address6& to)
{
    icmp[2] = 0;
    icmp[3] = 0;
    writeBig16(&icmp[2], Icmp6Checksum(from, to, icmp));
}

std::vector<std::uint8_t> datagram(const Address6& from, const Address6& to, std::uint8_t hopLimit,
                                   std::vector<std::uint8_t> icmp, bool seal = true)
{
    if (seal) {
        sealIcmp(icmp, from, to);
    }
    std::vector<std::uint8_t> packet =
        ipv6Header(from, to, hopLimit, 0, kNextHeaderIcmpv6, icmp.size());
    packet.insert(packet.end(), icmp.begin(), icmp.end());
    return packet;
}

std::vector<std::uint8_t> echoReply(std::uint16_t identifier, std::uint16_t sequence,
                                    std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> icmp(kIcmpHeaderSize + payload.size());
    icmp[0] = kEchoReply;
    writeBig16(&icmp[4], identifier);
    writeBig16(&icmp[6], sequence);
    std::copy(payload.begin(), payload.end(), icmp.begin() + kIcmpHeaderSize);
    return icmp;
}

enum class QuoteShape { Whole, WithOptions, Truncated, OtherProbe, OtherDestination };

// What a reporter quotes: as much of the request as fits in the minimum MTU, which for a test's
// requests is all of it, shaped as asked.
std::vector<std::uint8_t> quoteOf(const EchoRequestSeen6& request, QuoteShape shape)
{
    std::vector<std::uint8_t> echo = request.icmp;
    Address6 destination = request.destination;
    std::vector<std::uint8_t> extension;
    switch (shape) {
    case QuoteShape::Whole:
        break;
    case QuoteShape::WithOptions:
        // A destination options header holding only a PadN option: the receiver must walk past
        // it to find the echo request.
        extension = {kNextHeaderIcmpv6, 0, 1, 4, 0, 0, 0, 0};
        break;
    case QuoteShape::Truncated:
        echo.resize(4); // type, code, checksum: not whose it is
        break;
    case QuoteShape::OtherProbe:
        writeBig16(&echo[6], static_cast<std::uint16_t>(request.sequence - 1));
        sealIcmp(echo, request.source, destination);
        break;
    case QuoteShape::OtherDestination:
        destination = kForeignDestination;
        sealIcmp(echo, request.source, destination);
        break;
    }
    std::vector<std::uint8_t> quote =
        ipv6Header(request.source, destination, request.hopLimit, request.trafficClass,
                   extension.empty() ? kNextHeaderIcmpv6 : kNextHeaderDestinationOptions,
                   extension.size() + request.icmp.size());
    quote.insert(quote.end(), extension.begin(), extension.end());
    quote.insert(quote.end(), echo.begin(), echo.end());
    return quote;
}

std::vector<std::uint8_t> report(std::uint8_t type, std::uint8_t code, std::uint32_t parameter,
                                 std::span<const std::uint8_t> quote)
{
    std::vector<std::uint8_t> icmp(kIcmpHeaderSize + quote.size());
    icmp[0] = type;
    icmp[1] = code;
    writeBig16(&icmp[4], static_cast<std::uint16_t>(parameter >> 16));
    writeBig16(&icmp[6], static_cast<std::uint16_t>(parameter));
    std::copy(quote.begin(), quote.end(), icmp.begin() + kIcmpHeaderSize);
    return icmp;
}

} // namespace

std::uint16_t Icmp6Checksum(const Address6& from, const Address6& to,
                            std::span<const std::uint8_t> icmp)
{
    std::vector<std::uint8_t> covered(from.begin(), from.end());
    covered.insert(covered.end(), to.begin(), to.end());
    const auto length = static_cast<std::uint32_t>(icmp.size());
    covered.insert(covered.end(),
                   {static_cast<std::uint8_t>(length >> 24),
                    static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length), 0, 0, 0, kNextHeaderIcmpv6});
    covered.insert(covered.end(), icmp.begin(), icmp.end());
    return InternetChecksum(covered);
}

std::optional<EchoRequestSeen6> ParseEchoRequest6(std::span<const std::uint8_t> icmp,
                                                  const Address6& source,
                                                  const Address6& destination,
                                                  std::uint8_t hopLimit, std::uint8_t trafficClass)
{
    if (icmp.size() < kIcmpHeaderSize || icmp[0] != kEchoRequest || icmp[1] != 0) {
        return std::nullopt;
    }
    EchoRequestSeen6 request;
    request.source = source;
    request.destination = destination;
    request.hopLimit = hopLimit;
    request.trafficClass = trafficClass;
    request.identifier = readBig16(&icmp[4]);
    request.sequence = readBig16(&icmp[6]);
    request.icmp.assign(icmp.begin(), icmp.end());
    return request;
}

std::vector<std::uint8_t> ForgePacket6(PacketKind kind, const EchoRequestSeen6& request,
                                       const ForgeSettings6& settings)
{
    const std::span<const std::uint8_t> payload = std::span(request.icmp).subspan(kIcmpHeaderSize);
    const Address6& self = request.destination;
    const Address6& other = settings.otherSource ? *settings.otherSource : self;
    const Address6& client = request.source;
    const std::uint8_t hops = settings.hopLimit;
    const std::uint16_t id = request.identifier;
    const std::uint16_t seq = request.sequence;
    const auto reportFrom = [&](std::uint8_t type, std::uint8_t code, QuoteShape shape,
                                std::uint32_t parameter = 0) {
        return datagram(other, client, hops,
                        report(type, code, parameter, quoteOf(request, shape)));
    };
    switch (kind) {
    case PacketKind::Echo:
        return datagram(self, client, hops, echoReply(id, seq, payload));
    case PacketKind::EchoOtherSource:
        return datagram(other, client, hops, echoReply(id, seq, payload));
    case PacketKind::EchoWrongId:
        return datagram(self, client, hops, echoReply(id ^ 0x5A5A, seq, payload));
    case PacketKind::EchoWrongSeq:
        return datagram(self, client, hops,
                        echoReply(id, static_cast<std::uint16_t>(seq - 1), payload));
    case PacketKind::EchoNextSeq:
        return datagram(self, client, hops,
                        echoReply(id, static_cast<std::uint16_t>(seq + 1), payload));
    case PacketKind::EchoBadChecksum: {
        std::vector<std::uint8_t> icmp = echoReply(id, seq, payload);
        sealIcmp(icmp, self, client);
        icmp[3] ^= 0xFF;
        return datagram(self, client, hops, icmp, false);
    }
    case PacketKind::EchoTruncated: {
        std::vector<std::uint8_t> icmp = echoReply(id, seq, {});
        icmp.resize(6); // the sequence is cut off
        return datagram(self, client, hops, icmp);
    }
    case PacketKind::EchoOversized: {
        std::vector<std::uint8_t> padded(payload.begin(), payload.end());
        padded.resize(std::max(padded.size(), kOversizedPayload), 0xA5);
        return datagram(self, client, hops, echoReply(id, seq, padded));
    }
    case PacketKind::TimeExceeded:
        return reportFrom(kTimeExceeded, 0, QuoteShape::Whole);
    case PacketKind::TimeExceededOptions:
        return reportFrom(kTimeExceeded, 0, QuoteShape::WithOptions);
    case PacketKind::TimeExceededTruncated:
        return reportFrom(kTimeExceeded, 0, QuoteShape::Truncated);
    case PacketKind::TimeExceededOtherProbe:
        return reportFrom(kTimeExceeded, 0, QuoteShape::OtherProbe);
    case PacketKind::TimeExceededOtherDestination:
        return reportFrom(kTimeExceeded, 0, QuoteShape::OtherDestination);
    case PacketKind::Unreachable:
        return reportFrom(kDestUnreachable, kAddressUnreachable, QuoteShape::Whole);
    case PacketKind::UnreachableOptions:
        return reportFrom(kDestUnreachable, kAddressUnreachable, QuoteShape::WithOptions);
    case PacketKind::UnreachableTruncated:
        return reportFrom(kDestUnreachable, kAddressUnreachable, QuoteShape::Truncated);
    case PacketKind::UnreachableOtherProbe:
        return reportFrom(kDestUnreachable, kAddressUnreachable, QuoteShape::OtherProbe);
    case PacketKind::PacketTooBig:
        return reportFrom(kPacketTooBig, 0, QuoteShape::Whole, kMinimumMtu);
    case PacketKind::TimeExceededMpls:
    case PacketKind::TimeExceededMplsBadChecksum:
    case PacketKind::TimeExceededMplsBadLength:
    case PacketKind::TimeExceededMplsNoBottom: {
        const std::optional<MplsTail> tail =
            MplsTailOf(kind, quoteOf(request, QuoteShape::Whole), 8);
        std::vector<std::uint8_t> icmp = report(kTimeExceeded, 0, 0, tail->bytes);
        icmp[4] = tail->lengthField;
        return datagram(other, client, hops, icmp);
    }
    }
    return {};
}

std::vector<std::uint8_t> ForgeHopReport6(const EchoRequestSeen6& request, const Address6& router,
                                          std::uint8_t hopLimit)
{
    return datagram(router, request.source, hopLimit,
                    report(kTimeExceeded, 0, 0, quoteOf(request, QuoteShape::Whole)));
}

} // namespace hopwise::responder
