#include "tools/icmp_responder/forged_packets.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace hopwise::responder {

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kTimestampReply = 14;
constexpr std::uint8_t kHostUnreachable = 1;
constexpr std::uint8_t kPortUnreachable = 3;
constexpr std::uint8_t kFragmentationNeeded = 4;
constexpr std::uint16_t kNextHopMtu = 576;
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kIcmpHeaderSize = 8;
// Far more than any test request carries, still below the links' MTU: a raw socket that writes
// its own header may not have the kernel fragment it.
constexpr std::size_t kOversizedPayload = 1400;
// Quoted in reports about a packet the client never sent to us (TEST-NET-1, never routed).
constexpr Address kForeignDestination = 0x010200C0; // 192.0.2.1

struct KindName {
    PacketKind kind;
    std::string_view name;
};

constexpr std::array kKindNames{
    KindName{PacketKind::Echo, "echo"},
    KindName{PacketKind::EchoOtherSource, "echo-other-source"},
    KindName{PacketKind::EchoWrongId, "echo-wrong-id"},
    KindName{PacketKind::EchoWrongSeq, "echo-wrong-seq"},
    KindName{PacketKind::EchoNextSeq, "echo-next-seq"},
    KindName{PacketKind::EchoBadChecksum, "echo-bad-checksum"},
    KindName{PacketKind::EchoTruncated, "echo-truncated"},
    KindName{PacketKind::EchoOversized, "echo-oversized"},
    KindName{PacketKind::TimeExceeded, "time-exceeded"},
    KindName{PacketKind::TimeExceededOptions, "time-exceeded-options"},
    KindName{PacketKind::TimeExceededTruncated, "time-exceeded-truncated"},
    KindName{PacketKind::TimeExceededOtherProbe, "time-exceeded-other-probe"},
    KindName{PacketKind::TimeExceededOtherDestination, "time-exceeded-other-destination"},
    KindName{PacketKind::Unreachable, "unreachable"},
    KindName{PacketKind::UnreachableOptions, "unreachable-options"},
    KindName{PacketKind::UnreachableTruncated, "unreachable-truncated"},
    KindName{PacketKind::UnreachableOtherProbe, "unreachable-other-probe"},
    KindName{PacketKind::PacketTooBig, "packet-too-big"},
    KindName{PacketKind::TimeExceededMpls, "time-exceeded-mpls"},
    KindName{PacketKind::TimeExceededMplsBadChecksum, "time-exceeded-mpls-bad-checksum"},
    KindName{PacketKind::TimeExceededMplsBadLength, "time-exceeded-mpls-bad-length"},
    KindName{PacketKind::TimeExceededMplsNoBottom, "time-exceeded-mpls-no-bottom"},
};

std::uint16_t readBig16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void writeBig16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}

// Addresses are copied as they lie: network order in memory, network order on the wire.
void writeAddress(std::uint8_t* bytes, Address address)
{
    std::memcpy(bytes, &address, sizeof address);
}

Address readAddress(const std::uint8_t* bytes)
{
    Address address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::uint16_t g_ipIdentification = 1;

// IP header (no options) + payload, with the header checksum filled in.
std::vector<std::uint8_t> ipDatagram(Address from, Address to, std::uint8_t ttl,
                                     std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> packet(kIpHeaderSize + payload.size());
    packet[0] = 0x45;
    writeBig16(&packet[2], static_cast<std::uint16_t>(packet.size()));
    writeBig16(&packet[4], g_ipIdentification++);
    packet[8] = ttl;
    packet[9] = kProtocolIcmp;
    writeAddress(&packet[12], from);
    writeAddress(&packet[16], to);
    writeBig16(&packet[10], InternetChecksum(std::span(packet).first(kIpHeaderSize)));
    std::copy(payload.begin(), payload.end(), packet.begin() + kIpHeaderSize);
    return packet;
}

void sealIcmp(std::vector<std::uint8_t>& icmp)
{
    icmp[2] = 0;
    icmp[3] = 0;
    writeBig16(&icmp[2], InternetChecksum(icmp));
}

std::vector<std::uint8_t> echoReply(std::uint16_t identifier, std::uint16_t sequence,
                                    std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> icmp(kIcmpHeaderSize + payload.size());
    icmp[0] = kEchoReply;
    writeBig16(&icmp[4], identifier);
    writeBig16(&icmp[6], sequence);
    std::copy(payload.begin(), payload.end(), icmp.begin() + kIcmpHeaderSize);
    sealIcmp(icmp);
    return icmp;
}

enum class QuoteShape { Whole, WithOptions, Truncated, OtherProbe, OtherDestination };

// What a reporter quotes: the original's IP header and the first eight bytes after it (the
// minimum every router sends), shaped as asked.
std::vector<std::uint8_t> quoteOf(const EchoRequestSeen& request, QuoteShape shape)
{
    std::vector<std::uint8_t> header = request.ipHeader;
    std::vector<std::uint8_t> echo(request.icmp.begin(),
                                   request.icmp.begin() + static_cast<long>(kIcmpHeaderSize));
    if (shape == QuoteShape::OtherProbe) {
        writeBig16(&echo[6], static_cast<std::uint16_t>(request.sequence - 1));
        sealIcmp(echo);
    }
    if (shape == QuoteShape::WithOptions) {
        // Three no-operations and an end of list: the receiver must skip them by the quoted
        // header's own length to find the echo header.
        header.resize(kIpHeaderSize);
        header.insert(header.end(), {1, 1, 1, 0});
        header[0] = static_cast<std::uint8_t>(0x40 | (header.size() / 4));
        writeBig16(&header[2], static_cast<std::uint16_t>(readBig16(&header[2]) + 4));
        header[10] = 0;
        header[11] = 0;
        writeBig16(&header[10], InternetChecksum(header));
    }
    if (shape == QuoteShape::OtherDestination) {
        writeAddress(&header[16], kForeignDestination);
        header[10] = 0;
        header[11] = 0;
        writeBig16(&header[10], InternetChecksum(header));
    }
    if (shape == QuoteShape::Truncated) {
        echo.resize(4); // type, code, checksum: not whose it is
    }
    header.insert(header.end(), echo.begin(), echo.end());
    return header;
}

std::vector<std::uint8_t> report(std::uint8_t type, std::uint8_t code,
                                 std::span<const std::uint8_t> quote, std::uint16_t nextHopMtu = 0)
{
    std::vector<std::uint8_t> icmp(kIcmpHeaderSize + quote.size());
    icmp[0] = type;
    icmp[1] = code;
    writeBig16(&icmp[6], nextHopMtu);
    std::copy(quote.begin(), quote.end(), icmp.begin() + kIcmpHeaderSize);
    sealIcmp(icmp);
    return icmp;
}

} // namespace

std::optional<PacketKind> ParsePacketKind(std::string_view name)
{
    for (const KindName& entry : kKindNames) {
        if (entry.name == name) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

std::string_view PacketKindName(PacketKind kind)
{
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "?";
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += readBig16(bytes.data() + i);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::optional<MplsTail> MplsTailOf(PacketKind kind, std::vector<std::uint8_t> quote,
                                   std::size_t unit)
{
    constexpr std::size_t kPaddedQuote = 128;
    constexpr std::uint8_t kMplsClass = 1;
    constexpr std::uint8_t kIncomingStack = 1;
    struct Entry {
        std::uint32_t label;
        std::uint8_t trafficClass;
        bool bottom;
        std::uint8_t ttl;
    };
    const bool noBottom = kind == PacketKind::TimeExceededMplsNoBottom;
    if (kind != PacketKind::TimeExceededMpls && kind != PacketKind::TimeExceededMplsBadChecksum &&
        kind != PacketKind::TimeExceededMplsBadLength && !noBottom) {
        return std::nullopt;
    }
    const Entry entries[] = {{24001, 0, false, 1}, {16, 5, !noBottom, 1}};
    MplsTail tail;
    quote.resize(std::max(quote.size(), kPaddedQuote), 0);
    quote.resize((quote.size() + unit - 1) / unit * unit, 0);
    tail.lengthField = kind == PacketKind::TimeExceededMplsBadLength
                           ? 255
                           : static_cast<std::uint8_t>(quote.size() / unit);
    std::vector<std::uint8_t> structure{0x20, 0, 0, 0}; // version 2, checksum below
    const std::size_t objectSize = 4 + 4 * std::size(entries);
    structure.insert(structure.end(),
                     {0, static_cast<std::uint8_t>(objectSize), kMplsClass, kIncomingStack});
    for (const Entry& entry : entries) {
        structure.insert(structure.end(),
                         {static_cast<std::uint8_t>(entry.label >> 12),
                          static_cast<std::uint8_t>(entry.label >> 4),
                          static_cast<std::uint8_t>((entry.label << 4) | (entry.trafficClass << 1) |
                                                    (entry.bottom ? 1 : 0)),
                          entry.ttl});
    }
    writeBig16(&structure[2], InternetChecksum(structure));
    if (kind == PacketKind::TimeExceededMplsBadChecksum) {
        structure[3] ^= 0xFF;
    }
    tail.bytes = std::move(quote);
    tail.bytes.insert(tail.bytes.end(), structure.begin(), structure.end());
    return tail;
}

std::optional<EchoRequestSeen> ParseEchoRequest(std::span<const std::uint8_t> packet)
{
    if (packet.size() < kIpHeaderSize || (packet[0] >> 4) != 4) {
        return std::nullopt;
    }
    const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    const std::size_t total = readBig16(&packet[2]);
    if (headerSize < kIpHeaderSize || total > packet.size() ||
        total < headerSize + kIcmpHeaderSize || packet[9] != kProtocolIcmp) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> icmp = packet.subspan(headerSize, total - headerSize);
    if (icmp[0] != kEchoRequest || icmp[1] != 0 || InternetChecksum(icmp) != 0) {
        return std::nullopt;
    }
    EchoRequestSeen request;
    request.source = readAddress(&packet[12]);
    request.destination = readAddress(&packet[16]);
    request.ttl = packet[8];
    request.identifier = readBig16(&icmp[4]);
    request.sequence = readBig16(&icmp[6]);
    request.ipHeader.assign(packet.begin(), packet.begin() + static_cast<long>(headerSize));
    request.icmp.assign(icmp.begin(), icmp.end());
    return request;
}

std::vector<std::uint8_t> ForgePacket(PacketKind kind, const EchoRequestSeen& request,
                                      const ForgeSettings& settings)
{
    const std::span<const std::uint8_t> payload = std::span(request.icmp).subspan(kIcmpHeaderSize);
    const Address self = request.destination;
    const Address other = settings.otherSource != 0 ? settings.otherSource : self;
    const std::uint8_t ttl = settings.replyTtl;
    const auto reportFrom = [&](std::uint8_t type, std::uint8_t code, QuoteShape shape) {
        return ipDatagram(other, request.source, ttl, report(type, code, quoteOf(request, shape)));
    };
    switch (kind) {
    case PacketKind::Echo:
        return ipDatagram(self, request.source, ttl,
                          echoReply(request.identifier, request.sequence, payload));
    case PacketKind::EchoOtherSource:
        return ipDatagram(other, request.source, ttl,
                          echoReply(request.identifier, request.sequence, payload));
    case PacketKind::EchoWrongId:
        return ipDatagram(self, request.source, ttl,
                          echoReply(request.identifier ^ 0x5A5A, request.sequence, payload));
    case PacketKind::EchoWrongSeq:
        return ipDatagram(self, request.source, ttl,
                          echoReply(request.identifier,
                                    static_cast<std::uint16_t>(request.sequence - 1), payload));
    case PacketKind::EchoNextSeq:
        return ipDatagram(self, request.source, ttl,
                          echoReply(request.identifier,
                                    static_cast<std::uint16_t>(request.sequence + 1), payload));
    case PacketKind::EchoBadChecksum: {
        std::vector<std::uint8_t> icmp = echoReply(request.identifier, request.sequence, payload);
        icmp[3] ^= 0xFF;
        return ipDatagram(self, request.source, ttl, icmp);
    }
    case PacketKind::EchoTruncated: {
        std::vector<std::uint8_t> icmp = echoReply(request.identifier, request.sequence, {});
        icmp.resize(6); // the sequence is cut off
        sealIcmp(icmp);
        return ipDatagram(self, request.source, ttl, icmp);
    }
    case PacketKind::EchoOversized: {
        std::vector<std::uint8_t> padded(payload.begin(), payload.end());
        padded.resize(std::max(padded.size(), kOversizedPayload), 0xA5);
        return ipDatagram(self, request.source, ttl,
                          echoReply(request.identifier, request.sequence, padded));
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
        return reportFrom(kDestUnreachable, kHostUnreachable, QuoteShape::Whole);
    case PacketKind::UnreachableOptions:
        return reportFrom(kDestUnreachable, kHostUnreachable, QuoteShape::WithOptions);
    case PacketKind::UnreachableTruncated:
        return reportFrom(kDestUnreachable, kHostUnreachable, QuoteShape::Truncated);
    case PacketKind::UnreachableOtherProbe:
        return reportFrom(kDestUnreachable, kHostUnreachable, QuoteShape::OtherProbe);
    case PacketKind::PacketTooBig:
        return ipDatagram(other, request.source, ttl,
                          report(kDestUnreachable, kFragmentationNeeded,
                                 quoteOf(request, QuoteShape::Whole), kNextHopMtu));
    case PacketKind::TimeExceededMpls:
    case PacketKind::TimeExceededMplsBadChecksum:
    case PacketKind::TimeExceededMplsBadLength:
    case PacketKind::TimeExceededMplsNoBottom: {
        const std::optional<MplsTail> tail =
            MplsTailOf(kind, quoteOf(request, QuoteShape::Whole), 4);
        std::vector<std::uint8_t> icmp = report(kTimeExceeded, 0, tail->bytes);
        icmp[5] = tail->lengthField;
        sealIcmp(icmp);
        return ipDatagram(other, request.source, ttl, icmp);
    }
    }
    return {};
}

std::vector<std::uint8_t> ForgeHopReport(const EchoRequestSeen& request, Address router,
                                         std::uint8_t replyTtl)
{
    return ipDatagram(router, request.source, replyTtl,
                      report(kTimeExceeded, 0, quoteOf(request, QuoteShape::Whole)));
}

std::vector<std::uint8_t> ForgeFloodPacket(std::uint32_t n, Address from, Address client,
                                           std::uint16_t clientIdentifier)
{
    const auto sequence = static_cast<std::uint16_t>(n);
    const std::array<std::uint8_t, 16> payload{'u', 'n', 'r', 'e', 'l', 'a', 't', 'e', 'd'};
    switch (n % 5) {
    case 0: // another pinger's reply
        return ipDatagram(
            from, client, 64,
            echoReply(static_cast<std::uint16_t>(clientIdentifier ^ 0x8000), sequence, payload));
    case 1: { // a timestamp reply carrying the client's identifier
        std::vector<std::uint8_t> icmp(kIcmpHeaderSize + 12);
        icmp[0] = kTimestampReply;
        writeBig16(&icmp[4], clientIdentifier);
        writeBig16(&icmp[6], sequence);
        sealIcmp(icmp);
        return ipDatagram(from, client, 64, icmp);
    }
    case 2: { // a request the client's kernel answers
        std::vector<std::uint8_t> icmp(kIcmpHeaderSize + payload.size());
        icmp[0] = kEchoRequest;
        writeBig16(&icmp[4], static_cast<std::uint16_t>(clientIdentifier ^ 0x4000));
        writeBig16(&icmp[6], sequence);
        std::copy(payload.begin(), payload.end(), icmp.begin() + kIcmpHeaderSize);
        sealIcmp(icmp);
        return ipDatagram(from, client, 64, icmp);
    }
    case 3: { // port unreachable about a UDP datagram
        std::vector<std::uint8_t> udp(kIcmpHeaderSize, 0);
        writeBig16(&udp[0], 40000);
        writeBig16(&udp[2], 33434);
        writeBig16(&udp[4], 8);
        std::vector<std::uint8_t> quote = ipDatagram(client, from, 1, udp);
        quote[9] = kProtocolUdp;
        return ipDatagram(from, client, 64, report(kDestUnreachable, kPortUnreachable, quote));
    }
    default: { // time exceeded about an echo with the client's identifier to somewhere else
        EchoRequestSeen foreign;
        foreign.source = client;
        foreign.destination = kForeignDestination;
        foreign.identifier = clientIdentifier;
        foreign.sequence = sequence;
        std::vector<std::uint8_t> icmp(kIcmpHeaderSize, 0);
        icmp[0] = kEchoRequest;
        writeBig16(&icmp[4], clientIdentifier);
        writeBig16(&icmp[6], sequence);
        sealIcmp(icmp);
        foreign.icmp = icmp;
        foreign.ipHeader = ipDatagram(client, kForeignDestination, 1, icmp);
        foreign.ipHeader.resize(kIpHeaderSize);
        return ipDatagram(from, client, 64,
                          report(kTimeExceeded, 0, quoteOf(foreign, QuoteShape::Whole)));
    }
    }
}

} // namespace hopwise::responder
