// Feeds arbitrary bytes to the reply decoder as any socket kind would hand them over. The first
// bytes choose what was sent; the rest is the packet. Besides not crashing, a verdict of "ours"
// must only ever point inside the packet and must agree with what was sent.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "probe/icmp_reply_decoder.h"

namespace {

constexpr std::size_t kPrefix = 11; // mode, identifier, sequence, destination, type, code

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
    const std::uint8_t mode = bytes[0] % 3;
    sent.kind = mode == 0 ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram;
    sent.identifier = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
    sent.sequence = static_cast<std::uint16_t>((bytes[3] << 8) | bytes[4]);
    IpAddress destination = 0;
    std::memcpy(&destination, bytes + 5, 4);
    sent.destination = HostAddress::ipv4(destination);
    const std::span<const std::uint8_t> packet{bytes + kPrefix, size - kPrefix};

    IcmpReplyFields fields;
    if (mode == 2) {
        fields = DecodeQuotedEcho(packet, destination, bytes[9], bytes[10], sent);
    } else {
        fields = DecodeIcmpReply(packet, sent);
    }
    check(inside(fields.data, packet));
    check(inside(fields.options, packet));
    check(fields.options.size() <= 40);
    if (fields.verdict == IcmpVerdict::NotOurs) {
        check(fields.reason != IcmpRejectReason::None);
        check(fields.data.empty() && fields.options.empty());
        return 0;
    }
    check(fields.reason == IcmpRejectReason::None);
    if (fields.verdict == IcmpVerdict::EchoReply) {
        check(fields.type == 0 && fields.status == 0);
    } else {
        check(fields.status != 0 && fields.data.empty());
    }
    if (mode == 0) {
        check(fields.hasIpHeader);
        // Whatever a raw socket accepts passed the checksum over its ICMP part.
        const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
        const std::size_t total = static_cast<std::size_t>((packet[2] << 8) | packet[3]);
        check(total <= packet.size() && ihl + 8 <= total);
        check(InternetChecksum(packet.subspan(ihl, total - ihl)) == 0);
    }
    return 0;
}
