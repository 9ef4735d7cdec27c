// The MPLS labels of a router's report (RFC 4884 extensions, RFC 4950 label stack objects) on
// crafted bytes: what is believed, and every way a hostile or broken router's structure is
// refused while the report itself stands.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "probe/icmp6_reply_decoder.h"
#include "probe/icmp_extension.h"
#include "probe/icmp_reply_decoder.h"

namespace hopwise::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Entries = std::vector<MplsLabelEntry>;

const MplsLabelEntry kTop{24001, 0, false, 1};
const MplsLabelEntry kBottom{16, 5, true, 1};

// An object's header and the entries as a label stack encodes them.
Bytes stackObject(const Entries& entries, std::uint8_t classNum = 1)
{
    Bytes o = {0, std::uint8_t(4 + 4 * entries.size()), classNum, 1};
    for (const MplsLabelEntry& e : entries)
        o.insert(o.end(),
                 {std::uint8_t(e.label >> 12), std::uint8_t(e.label >> 4),
                  std::uint8_t(e.label << 4 | e.trafficClass << 1 | (e.bottom ? 1 : 0)), e.ttl});
    return o;
}

// A version 2 structure over the objects, with its checksum unless told to leave it 0.
Bytes structure(const Bytes& objects, bool checksum = true)
{
    Bytes s = {0x20, 0, 0, 0};
    s.insert(s.end(), objects.begin(), objects.end());
    const std::uint16_t sum = checksum ? InternetChecksum(s) : 0;
    s[2] = std::uint8_t(sum >> 8);
    s[3] = std::uint8_t(sum);
    return s;
}

// A 128-byte quote (only its first bytes matter here) followed by the structure.
Bytes afterQuote(const Bytes& tail, Bytes quote = Bytes(128, 0))
{
    quote.resize(128);
    quote.insert(quote.end(), tail.begin(), tail.end());
    return quote;
}

Bytes with(Bytes b, std::size_t at, std::uint8_t value)
{
    b[at] = value;
    return b;
}

struct ExtensionCase {
    const char* name;
    Bytes afterHeader;
    std::uint8_t lengthField;
    IcmpLengthUnit unit;
    Entries want;
};

TEST(IcmpExtension, believesOnlyAWellFormedLabelStack)
{
    using enum IcmpLengthUnit;
    const Bytes two = structure(stackObject({kTop, kBottom}));
    Entries nineEntries(9, kTop);
    nineEntries.back() = kBottom;
    const Bytes nine = structure(stackObject(nineEntries));
    Bytes shortQuote(64, 0); // a well-formed structure, but behind less than RFC 4884's 128 bytes
    shortQuote.insert(shortQuote.end(), two.begin(), two.end());
    Bytes otherThenStack = {0, 8, 2, 1, 9, 9, 9, 9}; // class 2, then the stack
    const Bytes stack = stackObject({kBottom});
    otherThenStack.insert(otherThenStack.end(), stack.begin(), stack.end());
    const ExtensionCase cases[] = {
        {"oneEntry", afterQuote(structure(stackObject({kBottom}))), 32, Words32, {kBottom}},
        {"twoEntries", afterQuote(two), 32, Words32, {kTop, kBottom}},
        {"ipv6CountsIn64BitWords", afterQuote(two), 16, Words64, {kTop, kBottom}},
        {"zeroChecksumWasNotComputed",
         afterQuote(structure(stackObject({kBottom}), false)),
         32,
         Words32,
         {kBottom}},
        {"otherObjectsAreWalkedPast",
         afterQuote(structure(otherThenStack)),
         32,
         Words32,
         {kBottom}},
        {"badChecksum", afterQuote(with(two, 3, two[3] ^ 1)), 32, Words32, {}},
        {"versionOne", afterQuote(with(two, 0, 0x10)), 32, Words32, {}},
        {"lengthPastThePacket", afterQuote(two), 255, Words32, {}},
        {"quoteShorterThan128", shortQuote, 16, Words32, {}},
        {"objectLengthZero",
         afterQuote(structure(with(stackObject({kBottom}), 1, 0))),
         32,
         Words32,
         {}},
        {"objectPastTheStructure",
         afterQuote(structure(with(stackObject({kBottom}), 1, 12))),
         32,
         Words32,
         {}},
        {"noBottomOfStack", afterQuote(structure(stackObject({kTop, kTop}))), 32, Words32, {}},
        {"bottomBeforeTheEnd",
         afterQuote(structure(stackObject({kBottom, kBottom}))),
         32,
         Words32,
         {}},
        {"moreEntriesThanFit", afterQuote(nine), 32, Words32, {}},
        // A router from before RFC 4884: length 0, the structure at 128, believed on its checksum.
        {"lengthZeroAt128WithChecksum", afterQuote(two), 0, Words32, {kTop, kBottom}},
        {"lengthZeroAt128WithoutChecksum",
         afterQuote(structure(stackObject({kBottom}), false)),
         0,
         Words32,
         {}},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const MplsLabels got = DecodeMplsLabels(c.afterHeader, c.lengthField, c.unit);
        EXPECT_EQ(Entries(got.begin(), got.end()), c.want);
    }
}

// The error queue's payload starts at the quoted ICMP header, behind the quoted IP header the
// kernel took off, and the kernel gives the structure's offset in it in bytes.
TEST(IcmpExtension, errorQueueOffsetIsInBytes)
{
    Bytes payload(108, 0); // an IPv4 request's 128-byte quote without its IP header
    const Bytes tail = structure(stackObject({kBottom}));
    payload.insert(payload.end(), tail.begin(), tail.end());
    EXPECT_EQ(DecodeMplsLabelsAt(payload, 108).size(), 1u);
    EXPECT_TRUE(DecodeMplsLabelsAt(payload, 0).empty());
    EXPECT_TRUE(DecodeMplsLabelsAt(payload, payload.size()).empty());
}

// A raw socket's report goes through the reply decoders, which read the length field from the
// family's place in the header; the report is ours with or without believable labels.
TEST(IcmpExtension, rawReportsCarryTheirLabels)
{
    const SentEcho sent4{IcmpSocketKind::Raw, 0x1234, 7, HostAddress::ipv4(0x0900000A)};
    Bytes quote4 = {0x45, 0, 0,  28, 0, 0, 0, 0, 1, 1, 0,    0,    10, 1,
                    0,    2, 10, 0,  0, 9, 8, 0, 0, 0, 0x12, 0x34, 0,  7};
    Bytes report4 = {11, 0, 0, 0, 0, 32, 0, 0};
    const Bytes tail = afterQuote(structure(stackObject({kTop, kBottom})), quote4);
    report4.insert(report4.end(), tail.begin(), tail.end());
    const std::uint16_t sum = InternetChecksum(report4);
    report4[2] = std::uint8_t(sum >> 8);
    report4[3] = std::uint8_t(sum);
    Bytes packet4 = {
        0x45, 0, 0, std::uint8_t(20 + report4.size()), 0, 0, 0, 0, 64, 1, 0, 0, 10, 1, 0, 1, 10,
        0,    0, 1};
    packet4.insert(packet4.end(), report4.begin(), report4.end());
    const IcmpReplyFields got4 = DecodeIcmpReply(packet4, sent4);
    EXPECT_EQ(got4.verdict, IcmpVerdict::ErrorReport);
    EXPECT_EQ(Entries(got4.mpls.begin(), got4.mpls.end()), (Entries{kTop, kBottom}));

    std::array<std::uint8_t, kIpv6AddressSize> target{0xfd, 0, 0, 0, 0, 0, 0, 0,
                                                      0,    0, 0, 0, 0, 0, 0, 9};
    const SentEcho sent6{IcmpSocketKind::Raw, 0x1234, 7, HostAddress::ipv6(target)};
    Bytes quote6 = {0x60, 0, 0, 0, 0, 8, 58, 1};
    quote6.resize(24, 0);
    quote6.insert(quote6.end(), target.begin(), target.end());
    quote6.insert(quote6.end(), {128, 0, 0, 0, 0x12, 0x34, 0, 7});
    for (const std::uint8_t type : {std::uint8_t{3}, std::uint8_t{4}}) {
        SCOPED_TRACE(type == 3 ? "timeExceeded" : "parameterProblemHasNoLengthField");
        Bytes report6 = {type, 0, 0, 0, 16, 0, 0, 0};
        const Bytes tail6 = afterQuote(structure(stackObject({kBottom})), quote6);
        report6.insert(report6.end(), tail6.begin(), tail6.end());
        const IcmpReplyFields got6 = DecodeIcmp6Reply(report6, sent6);
        EXPECT_EQ(got6.verdict, IcmpVerdict::ErrorReport);
        EXPECT_EQ(got6.mpls.size(), type == 3 ? 1u : 0u);
    }
}

} // namespace
} // namespace hopwise::test
