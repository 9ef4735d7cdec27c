// Feeds arbitrary bytes to the ICMPv6 reply decoder as either socket kind would hand them over.
// The first bytes choose what was sent; the rest is the packet. Besides not crashing, a verdict
// of "ours" must only ever point inside the packet and must agree with what was sent.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "probe/icmp6_reply_decoder.h"

namespace {

// mode, identifier, sequence, destination, type, code. The mode's top bit sends the error
// queue's report about some other destination.
constexpr std::size_t kPrefix = 23;

bool inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole)
{
    if (part.empty())
        return true;
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace hopwise;
    if (size < kPrefix)
        return 0;
    SentEcho sent;
    const std::uint8_t mode = (bytes[0] & 0x7F) % 3;
    const bool elsewhere = (bytes[0] & 0x80) != 0;
    sent.kind = mode == 0 ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram;
    sent.identifier = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
    sent.sequence = static_cast<std::uint16_t>((bytes[3] << 8) | bytes[4]);
    std::array<std::uint8_t, kIpv6AddressSize> destination{};
    std::memcpy(destination.data(), bytes + 5, destination.size());
    sent.destination = HostAddress::ipv6(destination);
    const std::uint8_t type = bytes[21];
    const std::uint8_t code = bytes[22];
    const std::span<const std::uint8_t> packet{bytes + kPrefix, size - kPrefix};

    IcmpReplyFields fields;
    if (mode == 2) {
        if (elsewhere)
            destination.back() ^= 1;
        fields = DecodeQuotedEcho6(packet, HostAddress::ipv6(destination), type, code, sent);
    } else {
        fields = DecodeIcmp6Reply(packet, sent);
    }
    check(inside(fields.data, packet));
    check(fields.options.empty());
    check(!fields.hasIpHeader);
    if (fields.verdict == IcmpVerdict::NotOurs) {
        check(fields.reason != IcmpRejectReason::None);
        check(fields.data.empty() && fields.mtu == 0);
        return 0;
    }
    check(fields.reason == IcmpRejectReason::None);
    check(!(mode == 2 && elsewhere));
    if (fields.verdict == IcmpVerdict::EchoReply) {
        check(fields.type == icmp6_type::kEchoReply && fields.status == 0 && fields.mtu == 0);
        check(packet.size() >= kIcmpHeaderSize);
        check(((packet[6] << 8) | packet[7]) == sent.sequence);
        check(mode != 0 || ((packet[4] << 8) | packet[5]) == sent.identifier);
    } else {
        check(fields.status != 0 && fields.data.empty());
        check(fields.type >= icmp6_type::kDestUnreachable &&
              fields.type <= icmp6_type::kParameterProblem);
        // Only a report read from the ordinary queue carries its MTU in the packet.
        check(fields.mtu == 0 || (mode != 2 && fields.type == icmp6_type::kPacketTooBig));
    }
    return 0;
}
