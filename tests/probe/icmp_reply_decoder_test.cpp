// The reply decoder against crafted packets: what it takes as ours, and everything that must
// never be taken as ours even though it arrives on the same socket.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "probe/echo_status.h"
#include "probe/icmp_reply_decoder.h"
#include "tests/probe/icmp_packets.h"

namespace hopwise::test {
namespace {

constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSeq = 7;
constexpr IpAddress kLoopback = 0x0100007F; // 127.0.0.1
constexpr IpAddress kTarget = 0x0900000A;   // 10.0.0.9
constexpr IpAddress kRouter = 0x0200010A;   // 10.1.0.2
constexpr IpAddress kOther = 0x0800000A;    // 10.0.0.8

const Bytes kPayload = {'h', 'o', 'p', 'w', 'i', 's', 'e', '!', 1, 2, 3};

SentEcho rawSent(IpAddress destination = kLoopback)
{
    return SentEcho{IcmpSocketKind::Raw, kId, kSeq, destination};
}

SentEcho datagramSent(IpAddress destination = kLoopback)
{
    return SentEcho{IcmpSocketKind::Datagram, 0, kSeq, destination};
}

Bytes ourReply()
{
    return IpPacket({}, IcmpMessage(icmp_type::kEchoReply, 0, kId, kSeq, kPayload));
}

// Our echo request as it left for kTarget, as a router quotes it (header plus 8 bytes or more).
Bytes quotedRequest(IpAddress destination = kTarget, std::uint16_t id = kId,
                    std::uint16_t seq = kSeq, std::uint8_t type = icmp_type::kEchoRequest)
{
    IpFields original;
    original.source = 0x0100000A;
    original.destination = destination;
    original.ttl = 1;
    return IpPacket(original, IcmpMessage(type, 0, id, seq, kPayload));
}

Bytes routerReport(std::uint8_t type, std::uint8_t code, const Bytes& quoted)
{
    IpFields outer;
    outer.source = kRouter;
    outer.destination = 0x0100000A;
    outer.ttl = 63;
    outer.fragment = 0;
    return IpPacket(outer, IcmpError(type, code, quoted));
}

struct RawCase {
    const char* name;
    std::function<Bytes()> packet;
    SentEcho sent;
    IcmpVerdict verdict;
    IcmpRejectReason reason;
};

void PrintTo(const RawCase& c, std::ostream* os)
{
    *os << c.name;
}

class RawSocketPacket : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawSocketPacket, getsTheExpectedVerdict)
{
    const RawCase& c = GetParam();
    const Bytes packet = c.packet();
    const IcmpReplyFields fields = DecodeIcmpReply(packet, c.sent);
    EXPECT_EQ(fields.verdict, c.verdict);
    EXPECT_EQ(fields.reason, c.reason) << "got " << IcmpRejectReasonName(fields.reason) << ", want "
                                       << IcmpRejectReasonName(c.reason);
    if (c.verdict == IcmpVerdict::NotOurs) {
        EXPECT_TRUE(fields.data.empty());
        EXPECT_TRUE(fields.options.empty());
    }
}

const RawCase kRawCases[] = {
    {"ourEchoReply", ourReply, rawSent(), IcmpVerdict::EchoReply, IcmpRejectReason::None},
    {"anotherProcessesIdentifier",
     [] { return IpPacket({}, IcmpMessage(0, 0, kId + 1, kSeq, kPayload)); }, rawSent(),
     IcmpVerdict::NotOurs, IcmpRejectReason::WrongIdentifier},
    {"staleSequence", [] { return IpPacket({}, IcmpMessage(0, 0, kId, kSeq - 1, kPayload)); },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::WrongSequence},
    {"badChecksum",
     [] {
         Bytes p = ourReply();
         p.back() ^= 0x01;
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::BadChecksum},
    {"truncatedIpHeader",
     [] {
         Bytes p = ourReply();
         p.resize(12);
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::Truncated},
    {"emptyPacket", [] { return Bytes{}; }, rawSent(), IcmpVerdict::NotOurs,
     IcmpRejectReason::Truncated},
    {"ihlLargerThanPacket",
     [] {
         Bytes p = ourReply();
         p.resize(30);
         p[0] = 0x4F; // 60-byte header claimed
         putBig16(p, 2, 30);
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::Truncated},
    {"ihlBelowMinimum",
     [] {
         Bytes p = ourReply();
         p[0] = 0x44;
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::BadIpHeader},
    {"notVersion4",
     [] {
         Bytes p = ourReply();
         p[0] = 0x65;
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::BadIpHeader},
    {"totalLengthBeyondPacket",
     [] {
         Bytes p = ourReply();
         putBig16(p, 2, static_cast<std::uint16_t>(p.size() + 1));
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::Truncated},
    {"totalLengthInsideHeader",
     [] {
         Bytes p = ourReply();
         putBig16(p, 2, 19);
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::BadIpHeader},
    {"totalLengthCutsIcmpHeader",
     [] {
         Bytes p = ourReply();
         putBig16(p, 2, 24);
         return p;
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::Truncated},
    {"notIcmp",
     [] {
         IpFields udp;
         udp.protocol = 17;
         return IpPacket(udp, IcmpMessage(0, 0, kId, kSeq, kPayload));
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::NotIcmp},
    {"ourEchoRequestLoopedBack",
     [] { return IpPacket({}, IcmpMessage(icmp_type::kEchoRequest, 0, kId, kSeq, kPayload)); },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::UnexpectedType},
    {"echoReplyWithNonzeroCode", [] { return IpPacket({}, IcmpMessage(0, 1, kId, kSeq, {})); },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::UnexpectedType},
    {"timestampReply", [] { return IpPacket({}, IcmpMessage(14, 0, kId, kSeq, Bytes(12))); },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::UnexpectedType},
    {"icmpShorterThanHeader",
     [] {
         return IpPacket({}, Bytes{0, 0, 0xFF, 0xFF});
     },
     rawSent(), IcmpVerdict::NotOurs, IcmpRejectReason::Truncated},
    {"timeExceededForUs", [] { return routerReport(11, 0, quotedRequest()); }, rawSent(kTarget),
     IcmpVerdict::ErrorReport, IcmpRejectReason::None},
    {"timeExceededQuotingOnlyEightBytes",
     [] {
         Bytes quoted = quotedRequest();
         quoted.resize(kIpMinHeaderSize + kIcmpHeaderSize);
         return routerReport(11, 0, quoted);
     },
     rawSent(kTarget), IcmpVerdict::ErrorReport, IcmpRejectReason::None},
    {"timeExceededForSomeoneElsesDestination",
     [] { return routerReport(11, 0, quotedRequest(kOther)); }, rawSent(kTarget),
     IcmpVerdict::NotOurs, IcmpRejectReason::WrongDestination},
    {"timeExceededQuotingAnotherSequence",
     [] { return routerReport(11, 0, quotedRequest(kTarget, kId, kSeq + 1)); }, rawSent(kTarget),
     IcmpVerdict::NotOurs, IcmpRejectReason::WrongSequence},
    {"timeExceededQuotingAnotherIdentifier",
     [] { return routerReport(11, 0, quotedRequest(kTarget, kId ^ 0x100)); }, rawSent(kTarget),
     IcmpVerdict::NotOurs, IcmpRejectReason::WrongIdentifier},
    {"unreachableQuotingAnEchoReply",
     [] { return routerReport(3, 1, quotedRequest(kTarget, kId, kSeq, icmp_type::kEchoReply)); },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::QuotedNotEcho},
    {"unreachableQuotingUdp",
     [] {
         IpFields udp;
         udp.destination = kTarget;
         udp.protocol = 17;
         return routerReport(3, 3, IpPacket(udp, Bytes(8)));
     },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::QuotedNotEcho},
    {"quoteCutInsideEchoHeader",
     [] {
         Bytes quoted = quotedRequest();
         quoted.resize(kIpMinHeaderSize + 4);
         return routerReport(11, 0, quoted);
     },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::QuotedTruncated},
    {"quoteCutInsideIpHeader",
     [] {
         Bytes quoted = quotedRequest();
         quoted.resize(12);
         return routerReport(11, 0, quoted);
     },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::QuotedTruncated},
    {"quotedIhlBeyondQuote",
     [] {
         Bytes quoted = quotedRequest();
         quoted[0] = 0x4F;
         quoted.resize(40);
         return routerReport(11, 0, quoted);
     },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::QuotedTruncated},
    {"reportWithBadChecksum",
     [] {
         Bytes p = routerReport(11, 0, quotedRequest());
         p[kIpMinHeaderSize + 1] ^= 0x01; // code changed after the checksum was made
         return p;
     },
     rawSent(kTarget), IcmpVerdict::NotOurs, IcmpRejectReason::BadChecksum},
};

INSTANTIATE_TEST_SUITE_P(Table, RawSocketPacket, ::testing::ValuesIn(kRawCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RawSocketReply, carriesTheReplysIpHeaderFieldsAndPayload)
{
    IpFields ip;
    ip.ttl = 42;
    ip.tos = 0x28;
    ip.fragment = 0x4000;
    ip.options = {0x01, 0x01, 0x01, 0x00}; // NOP NOP NOP EOL
    ip.source = kTarget;
    Bytes packet = IpPacket(ip, IcmpMessage(0, 0, kId, kSeq, kPayload));
    // Link-layer padding after the datagram must not become echo data.
    packet.insert(packet.end(), {0xEE, 0xEE, 0xEE});

    const IcmpReplyFields fields = DecodeIcmpReply(packet, rawSent(kTarget));
    ASSERT_EQ(fields.verdict, IcmpVerdict::EchoReply);
    EXPECT_TRUE(fields.hasIpHeader);
    EXPECT_EQ(fields.source, kTarget);
    EXPECT_EQ(fields.status, kIpSuccess);
    EXPECT_EQ(fields.ttl, 42);
    EXPECT_EQ(fields.tos, 0x28);
    EXPECT_EQ(fields.flags, 0x02);
    EXPECT_EQ(Bytes(fields.options.begin(), fields.options.end()), ip.options);
    EXPECT_EQ(Bytes(fields.data.begin(), fields.data.end()), kPayload);
}

TEST(RawSocketReply, errorReportNamesTheRouterAndCarriesNoData)
{
    const Bytes packet = routerReport(11, 0, quotedRequest());
    const IcmpReplyFields fields = DecodeIcmpReply(packet, rawSent(kTarget));
    ASSERT_EQ(fields.verdict, IcmpVerdict::ErrorReport);
    EXPECT_EQ(fields.source, kRouter);
    EXPECT_EQ(fields.ttl, 63);
    EXPECT_EQ(fields.flags, 0);
    EXPECT_EQ(fields.status, kIpTtlExpiredTransit);
    EXPECT_TRUE(fields.data.empty());
}

TEST(DatagramSocketReply, takesTheKernelsIdentifierAndMatchesOnSequence)
{
    // The kernel rewrote the identifier to the socket's own; any value comes back.
    const Bytes reply = IcmpMessage(0, 0, 0xBEEF, kSeq, kPayload);
    const IcmpReplyFields ours = DecodeIcmpReply(reply, datagramSent());
    ASSERT_EQ(ours.verdict, IcmpVerdict::EchoReply);
    EXPECT_FALSE(ours.hasIpHeader);
    EXPECT_EQ(Bytes(ours.data.begin(), ours.data.end()), kPayload);

    const IcmpReplyFields stale =
        DecodeIcmpReply(IcmpMessage(0, 0, 0xBEEF, kSeq - 1, kPayload), datagramSent());
    EXPECT_EQ(stale.reason, IcmpRejectReason::WrongSequence);

    const IcmpReplyFields shortOne = DecodeIcmpReply(Bytes{0, 0, 0, 0, 0, 0, 0}, datagramSent());
    EXPECT_EQ(shortOne.reason, IcmpRejectReason::Truncated);

    const IcmpReplyFields request =
        DecodeIcmpReply(IcmpMessage(icmp_type::kEchoRequest, 0, 1, kSeq, {}), datagramSent());
    EXPECT_EQ(request.reason, IcmpRejectReason::UnexpectedType);
}

TEST(DatagramSocketReply, leavesTheChecksumToTheKernel)
{
    // The kernel drops corrupt packets before a datagram socket sees them, so the decoder has
    // no second opinion; a raw socket gets no such help.
    Bytes reply = IcmpMessage(0, 0, 0xBEEF, kSeq, kPayload);
    reply[2] ^= 0xFF;
    EXPECT_EQ(DecodeIcmpReply(reply, datagramSent()).verdict, IcmpVerdict::EchoReply);
    EXPECT_EQ(DecodeIcmpReply(IpPacket({}, reply), rawSent()).reason,
              IcmpRejectReason::BadChecksum);
}

TEST(DatagramErrorQueue, matchesTheQuotedEchoAndItsDestination)
{
    const Bytes quoted = IcmpMessage(icmp_type::kEchoRequest, 0, 0xBEEF, kSeq, kPayload);
    const IcmpReplyFields ours = DecodeQuotedEcho(quoted, kTarget, 11, 0, datagramSent(kTarget));
    EXPECT_EQ(ours.verdict, IcmpVerdict::ErrorReport);
    EXPECT_EQ(ours.status, kIpTtlExpiredTransit);

    const Bytes eightBytes(quoted.begin(), quoted.begin() + kIcmpHeaderSize);
    EXPECT_EQ(DecodeQuotedEcho(eightBytes, kTarget, 3, 1, datagramSent(kTarget)).status,
              kIpDestHostUnreachable);

    EXPECT_EQ(DecodeQuotedEcho(quoted, kOther, 11, 0, datagramSent(kTarget)).reason,
              IcmpRejectReason::WrongDestination);
    const Bytes otherSeq = IcmpMessage(icmp_type::kEchoRequest, 0, 0xBEEF, kSeq + 1, {});
    EXPECT_EQ(DecodeQuotedEcho(otherSeq, kTarget, 11, 0, datagramSent(kTarget)).reason,
              IcmpRejectReason::WrongSequence);
    const Bytes cut(quoted.begin(), quoted.begin() + 7);
    EXPECT_EQ(DecodeQuotedEcho(cut, kTarget, 11, 0, datagramSent(kTarget)).reason,
              IcmpRejectReason::QuotedTruncated);
    const Bytes reply = IcmpMessage(icmp_type::kEchoReply, 0, 0xBEEF, kSeq, {});
    EXPECT_EQ(DecodeQuotedEcho(reply, kTarget, 11, 0, datagramSent(kTarget)).reason,
              IcmpRejectReason::QuotedNotEcho);
    EXPECT_EQ(
        DecodeQuotedEcho(quoted, kTarget, icmp_type::kEchoReply, 0, datagramSent(kTarget)).reason,
        IcmpRejectReason::UnexpectedType);
}

TEST(DatagramErrorQueue, checksTheIdentifierOnlyWhenItIsOurs)
{
    const Bytes quoted = IcmpMessage(icmp_type::kEchoRequest, 0, kId + 5, kSeq, {});
    EXPECT_EQ(DecodeQuotedEcho(quoted, kTarget, 11, 0, datagramSent(kTarget)).verdict,
              IcmpVerdict::ErrorReport);
    EXPECT_EQ(DecodeQuotedEcho(quoted, kTarget, 11, 0, rawSent(kTarget)).reason,
              IcmpRejectReason::WrongIdentifier);
}

struct StatusCase {
    std::uint8_t type;
    std::uint8_t code;
    std::uint32_t status;
};

TEST(IcmpErrorStatus, mapsTypeAndCodeToConventionalCodes)
{
    const StatusCase cases[] = {
        {3, 0, kIpDestNetUnreachable},  {3, 1, kIpDestHostUnreachable},
        {3, 2, kIpDestProtUnreachable}, {3, 3, kIpDestPortUnreachable},
        {3, 4, kIpPacketTooBig},        {3, 5, kIpBadRoute},
        {3, 6, kIpDestNetUnreachable},  {3, 7, kIpDestHostUnreachable},
        {3, 13, kIpGeneralFailure},     {11, 0, kIpTtlExpiredTransit},
        {11, 1, kIpTtlExpiredReassem},  {11, 2, kIpGeneralFailure},
        {12, 0, kIpParamProblem},       {4, 0, kIpSourceQuench},
        {5, 0, kIpGeneralFailure},
    };
    for (const StatusCase& c : cases) {
        EXPECT_EQ(IcmpErrorStatus(c.type, c.code), c.status)
            << "type " << int(c.type) << " code " << int(c.code);
    }
}

TEST(InternetChecksum, matchesTheWorkedExampleAndHandlesOddLengths)
{
    // The example sum of RFC 1071 section 3: 0xDDF2, so the checksum is its complement.
    const Bytes words = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(InternetChecksum(words), static_cast<std::uint16_t>(~0xDDF2));
    // An odd trailing byte counts as the high half of a final word.
    EXPECT_EQ(InternetChecksum(Bytes{0x12}), static_cast<std::uint16_t>(~0x1200));
    EXPECT_EQ(InternetChecksum(Bytes{}), 0xFFFF);
    // A message carrying its own checksum sums to zero.
    EXPECT_EQ(InternetChecksum(IcmpMessage(0, 0, kId, kSeq, kPayload)), 0);
}

} // namespace
} // namespace hopwise::test
