// The reply decoder on crafted packets: what it takes as the answer to our request, and what
// arrives on the same socket and must never be taken for it, one row per reason.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/echo_status.h"
#include "probe/icmp_reply_decoder.h"

namespace hopwise::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSeq = 7;
constexpr IpAddress kTarget = 0x0900000A; // 10.0.0.9, where our request went
constexpr IpAddress kOther = 0x0800000A;  // 10.0.0.8

// An ICMP message with its checksum; an error report carries the quoted packet as payload.
Bytes icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
           const Bytes& payload = {'h', 'o', 'p'})
{
    Bytes m = {type,
               code,
               0,
               0,
               std::uint8_t(id >> 8),
               std::uint8_t(id),
               std::uint8_t(seq >> 8),
               std::uint8_t(seq)};
    m.insert(m.end(), payload.begin(), payload.end());
    const std::uint16_t sum = InternetChecksum(m);
    m[2] = std::uint8_t(sum >> 8);
    m[3] = std::uint8_t(sum);
    return m;
}

// An IPv4 packet (its header checksum stays 0: nothing on the receive path reads it).
Bytes ip(const Bytes& payload, IpAddress to = 0x0100007F, std::uint8_t protocol = 1)
{
    const auto total = std::uint8_t(kIpMinHeaderSize + payload.size());
    Bytes p = {0x45, 0, 0, total, 0, 0, 0, 0, 64, protocol, 0, 0, 10, 1, 0, 2};
    for (int i = 0; i < 4; ++i)
        p.push_back(std::uint8_t(to >> 8 * i));
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// A router's report (time exceeded unless told) on the quoted packet, cut to `size` when given;
// a fragmentation-needed report's next-hop MTU in the low 16 bits of its second word.
Bytes report(Bytes quoted, std::size_t size = 0, std::uint8_t type = 11, std::uint8_t code = 0,
             std::uint16_t mtu = 0)
{
    quoted.resize(size ? size : quoted.size());
    return ip(icmp(type, code, 0, mtu, quoted));
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
    IpAddress quotedTo = kTarget; // of a report from the error queue
    std::uint32_t mtu = 0;
};

TEST(IcmpReplyDecoder, takesOnlyTheAnswerToOurRequest)
{
    using R = IcmpRejectReason;
    using enum Via;
    const Bytes reply = ip(icmp(0, 0, kId, kSeq));
    const Bytes request = ip(icmp(8, 0, kId, kSeq), kTarget);
    const DecodeCase cases[] = {
        {"ourReply", Raw, reply, R::None},
        {"reportQuotingEightBytes", Raw, report(request, 28, 3, 1), R::None,
         kIpDestHostUnreachable},
        {"fragmentationNeededNamesTheMtu", Raw, report(request, 0, 3, 4, 1400), R::None,
         kIpPacketTooBig, kTarget, 1400},
        {"datagramReplyWithKernelsId", Datagram, icmp(0, 0, 0xBEEF, kSeq), R::None},
        {"errorQueueReport", ErrorQueue, icmp(8, 0, 0xBEEF, kSeq), R::None, kIpTtlExpiredTransit},
        {"totalLengthBeyondPacket", Raw, with(reply, 3, 32), R::Truncated},
        {"totalLengthInsideHeader", Raw, with(reply, 3, 19), R::BadIpHeader},
        {"notIcmp", Raw, ip(icmp(0, 0, kId, kSeq), 0x0100007F, 17), R::NotIcmp},
        {"badChecksum", Raw, with(reply, 30, 0), R::BadChecksum},
        {"ourRequestLoopedBack", Raw, request, R::UnexpectedType},
        {"anotherIdentifier", Raw, ip(icmp(0, 0, kId + 1, kSeq)), R::WrongIdentifier},
        {"reportOnAnotherIdentifier", Raw, report(ip(icmp(8, 0, 1, kSeq), kTarget)),
         R::WrongIdentifier},
        {"staleSequence", Raw, ip(icmp(0, 0, kId, kSeq - 1)), R::WrongSequence},
        {"reportOnAnotherSequence", Raw, report(ip(icmp(8, 0, kId, 9), kTarget)), R::WrongSequence},
        {"reportOnAnotherDestination", Raw, report(ip(icmp(8, 0, kId, kSeq), kOther)),
         R::WrongDestination},
        {"errorQueueOnAnotherDestination", ErrorQueue, icmp(8, 0, 1, kSeq), R::WrongDestination, 0,
         kOther},
        {"reportOnAReply", Raw, report(ip(icmp(0, 0, kId, kSeq), kTarget)), R::QuotedNotEcho},
        {"quoteCutInsideEchoHeader", Raw, report(request, 24), R::QuotedTruncated},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SentEcho sent{c.via == Raw ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram, kId,
                            kSeq, HostAddress::ipv4(kTarget)};
        const IcmpReplyFields got = c.via == ErrorQueue
                                        ? DecodeQuotedEcho(c.packet, c.quotedTo, 11, 0, sent)
                                        : DecodeIcmpReply(c.packet, sent);
        EXPECT_STREQ(IcmpRejectReasonName(got.reason), IcmpRejectReasonName(c.reason));
        EXPECT_EQ(got.verdict, c.reason != R::None      ? IcmpVerdict::NotOurs
                               : c.status == kIpSuccess ? IcmpVerdict::EchoReply
                                                        : IcmpVerdict::ErrorReport);
        EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(got.mtu, c.mtu);
    }
}

} // namespace
} // namespace hopwise::test
