// The ICMPv6 reply decoder on crafted messages: what it takes as the answer to our request, and
// what arrives on the same socket and must never be taken for it, one row per rule.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "probe/echo_status.h"
#include "probe/icmp6_reply_decoder.h"

namespace hopwise::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Address = std::array<std::uint8_t, kIpv6AddressSize>;

constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSeq = 7;
constexpr Address kTarget = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
constexpr Address kOther = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8};
constexpr Address kSource = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// An ICMPv6 message; the checksum stays 0 (the kernel checked it). `word` is bytes 4..8:
// identifier and sequence of an echo, the MTU of a packet too big, unused in other reports.
Bytes icmp6(std::uint8_t type, std::uint8_t code, std::uint32_t word, const Bytes& payload = {})
{
    Bytes m = {type, code, 0, 0};
    for (int shift = 24; shift >= 0; shift -= 8)
        m.push_back(std::uint8_t(word >> shift));
    m.insert(m.end(), payload.begin(), payload.end());
    return m;
}

Bytes echo(std::uint8_t type, std::uint16_t id, std::uint16_t seq)
{
    return icmp6(type, 0, std::uint32_t(id) << 16 | seq, {'h', 'o', 'p'});
}

// An IPv6 packet to `to` whose extension headers, of the kinds given in order, lead to the
// payload. Each is 8 bytes (AH 12); a fragment header carries `fragmentOffset` (in 8-byte units)
// and says more fragments follow.
Bytes ipv6(const Bytes& payload, const Address& to = kTarget, const Bytes& headers = {},
           std::uint16_t fragmentOffset = 0)
{
    Bytes chain;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const std::uint8_t next = i + 1 < headers.size() ? headers[i + 1] : 58;
        if (headers[i] == 51)
            chain.insert(chain.end(), {next, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1});
        else if (headers[i] == 44)
            chain.insert(chain.end(), {next, 0, std::uint8_t(fragmentOffset >> 5),
                                       std::uint8_t(fragmentOffset << 3 | 1), 0, 0, 0, 1});
        else
            chain.insert(chain.end(), {next, 0, 1, 4, 0, 0, 0, 0}); // options: one PadN
    }
    chain.insert(chain.end(), payload.begin(), payload.end());
    const std::uint8_t first = headers.empty() ? 58 : headers[0];
    Bytes p = {0x60, 0, 0, 0, 0, std::uint8_t(chain.size()), first, 1};
    p.insert(p.end(), kSource.begin(), kSource.end());
    p.insert(p.end(), to.begin(), to.end());
    p.insert(p.end(), chain.begin(), chain.end());
    return p;
}

// A router's report (time exceeded unless told) quoting the packet, cut to `size` when given.
Bytes report(Bytes quoted, std::size_t size = 0, std::uint8_t type = 3, std::uint8_t code = 0,
             std::uint32_t mtu = 0)
{
    quoted.resize(size ? size : quoted.size());
    return icmp6(type, code, mtu, quoted);
}

Bytes with(Bytes p, std::size_t at, std::uint8_t value)
{
    p[at] = value;
    return p;
}

enum class Via { Raw, Datagram, ErrorQueue }; // the error queue: a time exceeded report

struct DecodeCase {
    const char* name;
    Via via;
    Bytes packet;
    IcmpRejectReason reason; // None: the packet is ours
    std::uint32_t status = kIpSuccess;
    std::uint32_t mtu = 0;
    HostAddress quotedTo = HostAddress::ipv6(kTarget, 3); // from the error queue, with a zone
};

TEST(Icmp6ReplyDecoder, takesOnlyTheAnswerToOurRequest)
{
    using R = IcmpRejectReason;
    using enum Via;
    const Bytes request = ipv6(echo(128, kId, kSeq));
    const Bytes nine(9, 60); // destination options headers
    const DecodeCase cases[] = {
        {"ourReply", Raw, echo(129, kId, kSeq), R::None},
        {"datagramReplyWithKernelsId", Datagram, echo(129, 0xBEEF, kSeq), R::None},
        {"timeExceeded", Raw, report(request), R::None, kIpTtlExpiredTransit},
        {"throughHopByHopAndDestinationOptions", Raw,
         report(ipv6(echo(128, kId, kSeq), kTarget, {0, 60})), R::None, kIpTtlExpiredTransit},
        {"throughEightHeadersOfEveryKind", Raw,
         report(ipv6(echo(128, kId, kSeq), kTarget, {0, 43, 44, 51, 60, 60, 60, 60})), R::None,
         kIpTtlExpiredTransit},
        {"packetTooBig", Raw, report(request, 48, 2, 0, 1280), R::None, kIpPacketTooBig, 1280},
        {"unreachablePort", Raw, report(request, 0, 1, 4), R::None, kIpDestPortUnreachable},
        {"errorQueueReport", ErrorQueue, echo(128, 0xBEEF, kSeq), R::None, kIpTtlExpiredTransit},
        {"truncated", Raw, Bytes(7, 0), R::Truncated},
        {"ourRequestLoopedBack", Raw, echo(128, kId, kSeq), R::UnexpectedType},
        {"anotherIdentifier", Raw, echo(129, kId + 1, kSeq), R::WrongIdentifier},
        {"reportOnAnotherIdentifier", Raw, report(ipv6(echo(128, 1, kSeq))), R::WrongIdentifier},
        {"staleSequence", Raw, echo(129, kId, kSeq - 1), R::WrongSequence},
        {"reportOnAnotherSequence", Raw, report(ipv6(echo(128, kId, 9))), R::WrongSequence},
        {"reportOnAnotherDestination", Raw, report(ipv6(echo(128, kId, kSeq), kOther)),
         R::WrongDestination},
        {"errorQueueOnAnotherDestination", ErrorQueue, echo(128, 1, kSeq), R::WrongDestination, 0,
         0, HostAddress::ipv6(kOther)},
        {"quotedVersion4", Raw, report(with(request, 0, 0x45)), R::BadIpHeader},
        {"reportOnAReply", Raw, report(ipv6(echo(129, kId, kSeq))), R::QuotedNotEcho},
        {"quotedLaterFragment", Raw, report(ipv6(echo(128, kId, kSeq), kTarget, {44}, 1)),
         R::QuotedNotEcho},
        {"tooManyExtensionHeaders", Raw, report(ipv6(echo(128, kId, kSeq), kTarget, nine)),
         R::QuotedNotEcho},
        {"quoteCutInsideIpv6Header", Raw, report(request, 39), R::QuotedTruncated},
        {"quoteCutInsideExtensionHeader", Raw,
         report(ipv6(echo(128, kId, kSeq), kTarget, {0, 60}), 52), R::QuotedTruncated},
        {"quoteCutInsideEchoHeader", Raw, report(request, 47), R::QuotedTruncated},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SentEcho sent{c.via == Raw ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram, kId,
                            kSeq, HostAddress::ipv6(kTarget)};
        const IcmpReplyFields got = c.via == ErrorQueue
                                        ? DecodeQuotedEcho6(c.packet, c.quotedTo, 3, 0, sent)
                                        : DecodeIcmp6Reply(c.packet, sent);
        EXPECT_STREQ(IcmpRejectReasonName(got.reason), IcmpRejectReasonName(c.reason));
        EXPECT_EQ(got.verdict, c.reason != R::None      ? IcmpVerdict::NotOurs
                               : c.status == kIpSuccess ? IcmpVerdict::EchoReply
                                                        : IcmpVerdict::ErrorReport);
        EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(got.mtu, c.mtu);
        EXPECT_EQ(got.data.size(), got.verdict == IcmpVerdict::EchoReply ? 3U : 0U);
        EXPECT_FALSE(got.hasIpHeader);
    }
}

} // namespace
} // namespace hopwise::test
