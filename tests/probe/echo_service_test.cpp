// The echo service against the scripted stack: what it makes of the stack's answer (count, last
// error, records read in place), and the permission question asked of the installed stack.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

using Answer = ScriptedEchoStack::Responder;

// Writes the records (the count in the first one's reserved field) and the bytes after them.
Answer writes(std::vector<EchoReply> records, std::string bytes = {})
{
    return [=](const EchoRequest&, void* reply, std::uint32_t) {
        std::memcpy(reply, records.data(), records.size() * sizeof(EchoReply));
        std::memcpy(static_cast<char*>(reply) + records.size() * sizeof(EchoReply), bytes.data(),
                    bytes.size());
        return 0u;
    };
}

// A record with the count, and the record-relative extents of its data and option bytes.
EchoReply rec(std::uint16_t count, std::uint16_t dataSize, std::uint32_t dataAt,
              std::uint8_t optionsSize = 0, std::uint32_t optionsAt = 0)
{
    EchoReply r{Ip("10.0.0.9"), kIpDestHostUnreachable, 0, dataSize, count, dataAt, {}};
    r.options.optionsSize = optionsSize;
    r.options.optionsOffset = optionsAt;
    return r;
}

constexpr IpAddress kStale = 0x5A5A5A5A; // what an earlier call left in the buffer
constexpr std::uint32_t kKept = 4242;

struct AnswerCase {
    const char* name;
    std::uint32_t replySize;
    Answer answer; // none: silence
    std::uint32_t count;
    std::uint32_t lastError;
    IpAddress responder; // of the first record
    std::string bytes;   // each counted record's data and option bytes, each followed by '|'
};

TEST(SendEcho, yieldsTheCountTheLastErrorAndRecordsReadInPlace)
{
    const IpAddress from = Ip("10.0.0.9");
    const AnswerCase cases[] = {
        {"bufferBelowOneRecord", 27, {}, 0, kErrorInsufficientBuffer, kStale, ""},
        {"noRecord", 84, writes({rec(0, 0, 0)}), 0, kIpDestHostUnreachable, from, ""},
        {"silenceLeavesNoStaleResponder", 28, {}, 0, kIpReqTimedOut, 0, ""},
        // The second record's options would end inside the buffer only if counted from its start.
        {"eachRecordRelativeToItself", 84, writes({rec(2, 2, 56), rec(0, 3, 30, 2, 60)}, "ABCDE"),
         2, kKept, from, "AB||CDE||"},
        {"neverBeyondTheBuffer", 40, writes({rec(5, 100, 28, 4, 0xFFFFFFF0u)}), 1, kKept, from,
         "||"},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedEchoStack stack;
        ScopedEchoStack installed(stack);
        if (c.answer)
            stack.answerNext(c.answer);
        std::vector<EchoReply> buffer(3);
        std::memset(buffer.data(), 0x5A, buffer.size() * sizeof(EchoReply));
        SetLastEchoError(kKept);

        EXPECT_EQ(SendEcho(0xDEAD, from, "data", 4, nullptr, buffer.data(), c.replySize, 50),
                  c.count);
        EXPECT_EQ(GetLastEchoError(), c.lastError);
        EXPECT_EQ(stack.callCount(), c.replySize < 28 ? 0u : 1u);
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

TEST(EchoPermission, isAskedOfTheInstalledStack)
{
    ScriptedEchoStack stack;
    ScopedEchoStack installed(stack);
    for (IcmpSocketKind kind : {IcmpSocketKind::None, IcmpSocketKind::Raw}) {
        stack.permit(kind);
        EXPECT_EQ(CheckEchoPermission(), kind);
    }
}

} // namespace
} // namespace hopwise::test
