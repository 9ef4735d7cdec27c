// The echo service against the scripted stack: the request block it packs, the reply records it
// hands back and its failure table.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

template <typename T> T fieldAt(const std::vector<std::uint8_t>& block, std::size_t offset)
{
    T value;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

struct BlockCase {
    const char* name;
    bool withOptions;
    std::uint8_t optionSize;
    std::uint16_t dataSize;
    std::uint32_t replySize;
    // What the block must read.
    std::uint32_t blockLength;
    std::uint8_t optionsPresent;
    std::uint16_t dataOffset;
};

void PrintTo(const BlockCase& c, std::ostream* os)
{
    *os << c.name;
}

class RequestBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(RequestBlock, packsEveryFieldAtItsOffset)
{
    const BlockCase& c = GetParam();
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);

    std::vector<std::uint8_t> optionBytes(c.optionSize);
    std::iota(optionBytes.begin(), optionBytes.end(), std::uint8_t{0xA0});
    std::vector<std::uint8_t> data(c.dataSize);
    std::iota(data.begin(), data.end(), std::uint8_t{1});
    EchoOptions options{.ttl = 7,
                        .tos = 0x10,
                        .flags = kIpFlagDontFragment,
                        .optionsSize = c.optionSize,
                        .optionsData = optionBytes.data()};
    std::vector<EchoReply> reply(c.replySize / sizeof(EchoReply) + 1);

    SendEcho(1, Ip("10.1.2.3"), data.data(), c.dataSize, c.withOptions ? &options : nullptr,
             reply.data(), c.replySize, 1234);

    ASSERT_EQ(stack.callCount(), 1u);
    const ScriptedCall call = stack.calls().front();
    const auto& block = call.block;
    EXPECT_EQ(call.protocol, 6u);
    EXPECT_EQ(call.action, 2u);
    EXPECT_EQ(call.blockLength, c.blockLength);
    EXPECT_EQ(call.replyLength, c.replySize);
    EXPECT_EQ(fieldAt<std::uint32_t>(block, 0), Ip("10.1.2.3"));
    EXPECT_EQ(fieldAt<std::uint32_t>(block, 4), 1234u);
    EXPECT_EQ(fieldAt<std::uint16_t>(block, 8), c.dataOffset);
    EXPECT_EQ(fieldAt<std::uint16_t>(block, 10), c.dataSize);
    EXPECT_EQ(block[12], c.optionsPresent);
    EXPECT_EQ(fieldAt<std::uint16_t>(block, 16), 20);
    EXPECT_EQ(block[18], c.withOptions ? c.optionSize : 0);
    if (c.withOptions) {
        EXPECT_EQ(block[13], 7);
        EXPECT_EQ(block[14], 0x10);
        EXPECT_EQ(block[15], kIpFlagDontFragment);
    }
    EXPECT_TRUE(std::equal(optionBytes.begin(), optionBytes.end(), block.begin() + 20));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin() + c.dataOffset));
}

INSTANTIATE_TEST_SUITE_P(EchoService, RequestBlock,
                         ::testing::Values(
                             // 20 bytes of header are raised to the one-record reply buffer.
                             BlockCase{"bare", false, 0, 0, 28, 28, 0, 20},
                             BlockCase{"emptyOptionBlock", true, 0, 0, 28, 28, 1, 20},
                             BlockCase{"optionsAndData", true, 3, 32, 28, 55, 1, 23},
                             BlockCase{"largerReplyBufferWins", true, 3, 32, 100, 100, 1, 23},
                             BlockCase{"dataWithoutOptions", false, 0, 64, 28, 84, 0, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EchoService, refusesReplyBufferSmallerThanOneRecord)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    std::uint8_t buffer[27];
    std::memset(buffer, 0x5A, sizeof buffer);

    EXPECT_EQ(SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, buffer, 27, 100), 0u);
    EXPECT_EQ(GetLastEchoError(), kErrorInsufficientBuffer);
    EXPECT_EQ(stack.callCount(), 0u);
    for (std::uint8_t byte : buffer)
        EXPECT_EQ(byte, 0x5A);
}

TEST(EchoService, successReturnsCountClearsItAndLeavesLastErrorAlone)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    stack.answerAll({.address = Ip("192.0.2.9"),
                     .status = kIpTtlExpiredTransit,
                     .roundTripTime = 17,
                     .ttl = 63});
    SetLastEchoError(4242);

    EchoReply reply{};
    EchoOptions options{.ttl = 3};
    ASSERT_EQ(SendEcho(99, Ip("192.0.2.1"), nullptr, 0, &options, &reply, sizeof reply, 500), 1u);
    EXPECT_EQ(reply.address, Ip("192.0.2.9"));
    EXPECT_EQ(reply.status, kIpTtlExpiredTransit);
    EXPECT_EQ(reply.roundTripTime, 17u);
    EXPECT_EQ(reply.options.ttl, 63);
    EXPECT_EQ(reply.reserved, 0);
    EXPECT_EQ(GetLastEchoError(), 4242u);
}

TEST(EchoService, zeroRecordsYieldStatusOfFirstRecordAsLastError)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    stack.answerNext([](const EchoRequest&, void* reply, std::uint32_t) {
        EchoReply record{};
        record.address = Ip("10.9.9.9");
        record.status = kIpDestHostUnreachable;
        std::memcpy(reply, &record, sizeof record); // count 0
        return 0u;
    });

    EchoReply reply{};
    EXPECT_EQ(SendEcho(1, Ip("10.9.9.9"), nullptr, 0, nullptr, &reply, sizeof reply, 100), 0u);
    EXPECT_EQ(GetLastEchoError(), kIpDestHostUnreachable);
}

TEST(EchoService, unansweredRequestLeavesNoStaleResponder)
{
    ScriptedEchoStack stack; // silence
    ScopedEchoStack installed(stack);

    EchoReply reply{};
    reply.address = Ip("10.0.0.1"); // what an earlier hop may have left behind
    reply.roundTripTime = 777;
    EXPECT_EQ(SendEcho(1, Ip("10.0.0.1"), nullptr, 0, nullptr, &reply, sizeof reply, 100), 0u);
    EXPECT_EQ(GetLastEchoError(), kIpReqTimedOut);
    EXPECT_EQ(reply.address, 0u);
    EXPECT_EQ(reply.roundTripTime, 0u);
    EXPECT_EQ(reply.status, kIpReqTimedOut);
}

TEST(EchoService, stackFailureBecomesLastError)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    stack.answerNext([](const EchoRequest&, void*, std::uint32_t) { return kErrorAccessDenied; });

    EchoReply reply{};
    EXPECT_EQ(SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, &reply, sizeof reply, 100), 0u);
    EXPECT_EQ(GetLastEchoError(), kErrorAccessDenied);
}

TEST(EchoService, dataAndOptionsOfEachRecordAreRelativeToThatRecord)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    // Two records, then record 0's data "AB", record 1's data "CDE" and options {7, 8}.
    stack.answerNext([](const EchoRequest&, void* reply, std::uint32_t) {
        auto* bytes = static_cast<std::uint8_t*>(reply);
        EchoReply first{};
        first.reserved = 2;
        first.dataSize = 2;
        first.dataOffset = 56;
        EchoReply second{};
        second.dataSize = 3;
        second.dataOffset = 58 - 28;
        second.options.optionsSize = 2;
        second.options.optionsOffset = 61 - 28;
        std::memcpy(bytes, &first, 28);
        std::memcpy(bytes + 28, &second, 28);
        std::memcpy(bytes + 56, "ABCDE\x07\x08", 7);
        return 0u;
    });

    alignas(EchoReply) std::uint8_t buffer[80] = {};
    ASSERT_EQ(SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, buffer, sizeof buffer, 100), 2u);
    const auto* records = reinterpret_cast<const EchoReply*>(buffer);
    EXPECT_EQ(records[0].reserved, 0);
    ASSERT_NE(records[0].data(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(records[0].data()), 2), "AB");
    ASSERT_NE(records[1].data(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(records[1].data()), 3), "CDE");
    ASSERT_NE(records[1].optionBytes(), nullptr);
    EXPECT_EQ(records[1].optionBytes()[0], 7);
    EXPECT_EQ(records[1].optionBytes()[1], 8);
    EXPECT_EQ(records[0].optionBytes(), nullptr);
}

TEST(EchoService, neverTrustsRecordsBeyondTheBuffer)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    stack.answerNext([](const EchoRequest&, void* reply, std::uint32_t) {
        EchoReply first{};
        first.reserved = 5;   // only one record fits
        first.dataSize = 100; // runs past the buffer
        first.dataOffset = 28;
        first.options.optionsSize = 4;
        first.options.optionsOffset = 0xFFFFFFF0u; // wraps if added carelessly
        std::memcpy(reply, &first, sizeof first);
        return 0u;
    });

    alignas(EchoReply) std::uint8_t buffer[40] = {};
    EXPECT_EQ(SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, buffer, sizeof buffer, 100), 1u);
    const auto* record = reinterpret_cast<const EchoReply*>(buffer);
    EXPECT_EQ(record->data(), nullptr);
    EXPECT_EQ(record->optionBytes(), nullptr);
}

TEST(EchoService, replyDataThatDoesNotFitIsCut)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    const std::uint8_t payload[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    stack.answerAll({.address = Ip("127.0.0.1"), .data = payload});

    alignas(EchoReply) std::uint8_t buffer[28 + 10] = {};
    ASSERT_EQ(
        SendEcho(1, Ip("127.0.0.1"), payload, sizeof payload, nullptr, buffer, sizeof buffer, 100),
        1u);
    const auto* record = reinterpret_cast<const EchoReply*>(buffer);
    EXPECT_EQ(record->dataSize, 10);
    ASSERT_NE(record->data(), nullptr);
    EXPECT_EQ(record->data()[9], 10);
}

TEST(EchoService, openAndCloseTakeAnyHandle)
{
    EXPECT_EQ(OpenEchoHandle(), 1u);
    EXPECT_EQ(CloseEchoHandle(0), 1u);
    EXPECT_EQ(CloseEchoHandle(0xDEADBEEF), 1u);

    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    stack.answerAll({.address = Ip("127.0.0.1")});
    EchoReply reply{};
    EXPECT_EQ(SendEcho(0xDEADBEEF, Ip("127.0.0.1"), nullptr, 0, nullptr, &reply, 28, 100), 1u);
}

TEST(EchoService, lastErrorBelongsToEachThread)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    EchoReply reply{};
    EXPECT_EQ(SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, &reply, 27, 100), 0u);
    std::uint32_t other = 0;
    std::thread([&] {
        SetLastEchoError(0);
        EchoReply own{};
        SendEcho(1, Ip("127.0.0.1"), nullptr, 0, nullptr, &own, 28, 100); // silence: 11010
        other = GetLastEchoError();
    }).join();
    EXPECT_EQ(other, kIpReqTimedOut);
    EXPECT_EQ(GetLastEchoError(), kErrorInsufficientBuffer);
}

TEST(EchoRequestParsing, rejectsFieldsPointingOutsideTheBlock)
{
    std::uint8_t block[28] = {};
    const std::uint16_t dataOffset = 20;
    const std::uint16_t tooMuchData = 9; // 20 + 9 > 28
    std::memcpy(block + 8, &dataOffset, 2);
    std::memcpy(block + 10, &tooMuchData, 2);
    EXPECT_FALSE(ParseEchoRequest(block, sizeof block).has_value());
    EXPECT_FALSE(ParseEchoRequest(block, 19).has_value());

    const std::uint16_t fits = 8;
    std::memcpy(block + 10, &fits, 2);
    const auto parsed = ParseEchoRequest(block, sizeof block);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->data.size(), 8u);
}

} // namespace
} // namespace hopwise::test
