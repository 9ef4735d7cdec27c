// The echo service against the scripted stack: what it makes of the stack's answer (the count,
// the last error, the records read in place and never beyond the caller's buffer).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

constexpr IpAddress kFrom = 0x0900000A;  // 10.0.0.9
constexpr IpAddress kStale = 0x5A5A5A5A; // what an earlier call left in the buffer
constexpr std::uint32_t kKept = 4242;

// A record with the count, and the record-relative extents of its data and option bytes.
EchoReply rec(std::uint16_t count, std::uint16_t dataSize, std::uint32_t dataAt,
              std::uint8_t optionsSize = 0, std::uint32_t optionsAt = 0)
{
    EchoReply r{kFrom, kIpDestHostUnreachable, 0, dataSize, count, dataAt, {}};
    r.options.optionsSize = optionsSize;
    r.options.optionsOffset = optionsAt;
    return r;
}

TEST(SendEcho, yieldsTheCountTheLastErrorAndRecordsReadInPlace)
{
    const struct {
        const char* name;
        std::vector<EchoReply> records; // the stack writes them and "ABCDE" after; none: silence
        std::uint32_t replySize;
        std::uint32_t count;
        std::uint32_t lastError;
        IpAddress responder; // of the first record
        std::string bytes;   // each counted record's data and option bytes, each followed by '|'
    } cases[] = {
        {"bufferBelowOneRecord", {}, 27, 0, kErrorInsufficientBuffer, kStale, ""},
        {"noRecord", {rec(0, 0, 0)}, 84, 0, kIpDestHostUnreachable, kFrom, ""},
        {"silenceLeavesNoStaleResponder", {}, 28, 0, kIpReqTimedOut, 0, ""},
        // The second record's options lie beyond the buffer, counted from that record's start.
        {"perRecord", {rec(2, 2, 56), rec(0, 3, 30, 2, 60)}, 84, 2, kKept, kFrom, "AB||CDE||"},
        // Five records claimed, one fits: its data ends at the buffer's end, its options beyond.
        {"neverBeyondTheBuffer", {rec(5, 5, 28, 4, 0xFFFFFFF0u)}, 33, 1, kKept, kFrom, "ABCDE||"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedEchoStack stack;
        ScopedEchoStack installed(stack);
        if (!c.records.empty())
            stack.answerNext([&c](const EchoRequest&, void* reply, std::uint32_t) {
                const std::size_t size = c.records.size() * sizeof(EchoReply);
                std::memcpy(reply, c.records.data(), size);
                std::memcpy(static_cast<char*>(reply) + size, "ABCDE", 5);
                return 0u;
            });
        std::vector<EchoReply> buffer(3);
        std::memset(buffer.data(), 0x5A, buffer.size() * sizeof(EchoReply));
        SetLastEchoError(kKept);

        EXPECT_EQ(SendEcho(0xDEAD, kFrom, "data", 4, nullptr, buffer.data(), c.replySize, 50),
                  c.count);
        EXPECT_EQ(GetLastEchoError(), c.lastError);
        for (const ScriptedCall& call : stack.calls()) // 20 + 4 bytes, raised to the reply size
            EXPECT_EQ(call.block->size(), c.replySize);
        EXPECT_EQ(buffer[0].address, c.responder);
        EXPECT_EQ(buffer[0].reserved, c.responder == kStale ? 0x5A5A : 0);
        const auto text = [](const std::uint8_t* at, std::size_t size) {
            return (at ? std::string(reinterpret_cast<const char*>(at), size) : "") + "|";
        };
        std::string bytes;
        for (const EchoReply& r : std::span(buffer).first(c.count))
            bytes += text(r.data(), r.dataSize) + text(r.optionBytes(), r.options.optionsSize);
        EXPECT_EQ(bytes, c.bytes);
    }
}

// An IPv6 request goes to the stack in the same block with the address and zone after the header
// (options and data after them); the responder comes back beside the record, for both families,
// and a call that yields no record leaves none behind.
TEST(SendEchoTo, packsAnIpv6RequestAndHandsBackTheResponderBesideTheRecord)
{
    const HostAddress target = *ParseIpv6Literal("fd00:9::9%1");
    const HostAddress router = *ParseIpv6Literal("fd00:1::1");
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    EchoReplyInfo answer{};
    answer.responder = router;
    stack.answerNext([&answer](const EchoRequest&, void* reply, std::uint32_t size) {
        WriteEchoReply(reply, size, answer);
        return 0u;
    });
    const std::uint8_t option[2] = {1, 1};
    const EchoOptions options{3, 0, 0, 2, option};
    EchoReply reply{};
    ASSERT_EQ(SendEchoTo(0, target, "data", 4, &options, &reply, sizeof reply, 50), 1u);
    EXPECT_EQ(GetLastEchoResponder(), router);
    EXPECT_EQ(reply.address, 0u);

    const ScriptedCall call = stack.calls().at(0);
    EXPECT_EQ(call.request.destination, target);
    EXPECT_EQ(call.request.ttl, 3);
    const std::vector<std::uint8_t>& block = *call.block;
    ASSERT_EQ(block.size(), 46u); // 40 + 2 option bytes + 4 data bytes
    EXPECT_EQ(std::memcmp(block.data() + 20, target.bytes().data(), 16), 0);
    EXPECT_EQ(std::string(block.begin() + 42, block.end()), "data");

    EXPECT_EQ(SendEchoTo(0, target, nullptr, 0, nullptr, &reply, sizeof reply, 50), 0u);
    EXPECT_FALSE(GetLastEchoResponder()) << "a silent call kept the last responder";
    stack.answerAll(EchoReplyInfo{kFrom});
    EXPECT_EQ(SendEchoTo(0, HostAddress::ipv4(kFrom), nullptr, 0, nullptr, &reply, 28, 50), 1u);
    EXPECT_EQ(GetLastEchoResponder(), HostAddress::ipv4(kFrom));
    EXPECT_EQ(stack.calls().back().block->size(), 28u); // the IPv4 block, raised to one record
}

} // namespace
} // namespace hopwise::test
