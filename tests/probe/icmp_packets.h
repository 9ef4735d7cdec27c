#pragma once

// Hand-made ICMP packets for the decoder's tests and the fuzzer's seeds: every field explicit,
// checksums computed, so a test can break exactly one thing at a time.

#include <cstdint>
#include <vector>

#include "probe/icmp_reply_decoder.h"

namespace hopwise::test {

using Bytes = std::vector<std::uint8_t>;

inline void putBig16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

inline void putAddress(Bytes& bytes, std::size_t at, IpAddress address)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(address >> (8 * i));
}

inline void fixIcmpChecksum(Bytes& icmp, std::size_t start = 0)
{
    putBig16(icmp, start + 2, 0);
    const std::span<const std::uint8_t> body{icmp.data() + start, icmp.size() - start};
    putBig16(icmp, start + 2, InternetChecksum(body));
}

// An ICMP message: type, code, identifier, sequence, then the payload; checksum filled in.
inline Bytes IcmpMessage(std::uint8_t type, std::uint8_t code, std::uint16_t identifier,
                         std::uint16_t sequence, const Bytes& payload)
{
    Bytes icmp(kIcmpHeaderSize);
    icmp[0] = type;
    icmp[1] = code;
    putBig16(icmp, 4, identifier);
    putBig16(icmp, 6, sequence);
    icmp.insert(icmp.end(), payload.begin(), payload.end());
    fixIcmpChecksum(icmp);
    return icmp;
}

struct IpFields {
    IpAddress source = 0x0100007F; // 127.0.0.1
    IpAddress destination = 0x0100007F;
    std::uint8_t ttl = 64;
    std::uint8_t tos = 0;
    std::uint16_t fragment = 0x4000; // DF
    std::uint8_t protocol = kIpProtocolIcmp;
    Bytes options; // a multiple of 4 bytes
};

// The payload behind an IPv4 header built from the fields (header checksum left 0: the
// receive path never looks at it).
inline Bytes IpPacket(const IpFields& ip, const Bytes& payload)
{
    const std::size_t headerSize = kIpMinHeaderSize + ip.options.size();
    Bytes packet(kIpMinHeaderSize);
    packet[0] = static_cast<std::uint8_t>(0x40 | (headerSize / 4));
    packet[1] = ip.tos;
    putBig16(packet, 2, static_cast<std::uint16_t>(headerSize + payload.size()));
    putBig16(packet, 6, ip.fragment);
    packet[8] = ip.ttl;
    packet[9] = ip.protocol;
    putAddress(packet, 12, ip.source);
    putAddress(packet, 16, ip.destination);
    packet.insert(packet.end(), ip.options.begin(), ip.options.end());
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

// An ICMP error quoting the given original packet (IP header onwards).
inline Bytes IcmpError(std::uint8_t type, std::uint8_t code, const Bytes& quoted)
{
    Bytes icmp(kIcmpHeaderSize);
    icmp[0] = type;
    icmp[1] = code;
    icmp.insert(icmp.end(), quoted.begin(), quoted.end());
    fixIcmpChecksum(icmp);
    return icmp;
}

} // namespace hopwise::test
