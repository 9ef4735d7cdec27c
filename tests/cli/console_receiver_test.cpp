// The console receiver and its formatting, fed fabricated notifications laid out exactly as the
// workers lay them out.

#include "cli/console_receiver.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/exit_codes.h"
#include "probe/echo_status.h"

namespace hopwise::cli {
namespace {

EchoReply Reply(std::uint32_t rtt, std::uint8_t ttl, std::uint32_t status = kIpSuccess)
{
    EchoReply reply{};
    reply.roundTripTime = rtt;
    reply.options.ttl = ttl;
    reply.status = status;
    return reply;
}

// Sends like a worker: records on this stack frame, valid only during the call.
void SendDestination(ProbeMessageTarget& target, const char16_t* text)
{
    const char16_t* cell = text;
    target.sendMessage(WM_PROBE_DESTINATION, reinterpret_cast<std::intptr_t>(&cell), 0);
}

void SendResult(ProbeMessageTarget& target, const char* address, const char* name, EchoReply reply)
{
    const ProbeResult result{address, name, &reply};
    target.sendMessage(WM_PROBE_RESULT, reinterpret_cast<std::intptr_t>(&result), 0);
}

void SendNotPermitted(ProbeMessageTarget& target, const char* hint)
{
    const char* cell = hint;
    target.sendMessage(WM_PROBE_NOT_PERMITTED, reinterpret_cast<std::intptr_t>(&cell), 0);
}

void SendFinished(ProbeMessageTarget& target)
{
    target.sendMessage(WM_PROBE_FINISHED, -1, 0);
}
void SendUnresolved(ProbeMessageTarget& target)
{
    target.sendMessage(WM_PROBE_UNRESOLVED, 0, 0);
}

// --- line formats ------------------------------------------------------------------------------

struct HopLineCase {
    const char* address;
    std::uint32_t rtt;
    std::string expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HopLineCase& c, std::ostream* os)
{
    *os << (c.address ? c.address : "null") << " " << c.rtt;
}

class HopLineTest : public ::testing::TestWithParam<HopLineCase> {};

TEST_P(HopLineTest, ReadsLikeTheHopItem)
{
    const EchoReply reply = Reply(GetParam().rtt, 64);
    EXPECT_EQ(HopLine({GetParam().address, nullptr, &reply}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, HopLineTest,
                         ::testing::Values(HopLineCase{"10.0.0.1", 5, "10.0.0.1 [5 ms]"},
                                           HopLineCase{"255.255.255.254", 1234,
                                                       "255.255.255.254 [1234 ms]"},
                                           HopLineCase{nullptr, 0, "No Response [0 ms]"},
                                           HopLineCase{nullptr, 7, "No Response [7 ms]"}));

struct PingRowCase {
    const char* address;
    std::uint32_t rtt;
    std::uint8_t ttl;
    std::string expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PingRowCase& c, std::ostream* os)
{
    *os << (c.address ? c.address : "null") << " " << c.rtt << " " << int{c.ttl};
}

class PingRowTest : public ::testing::TestWithParam<PingRowCase> {};

TEST_P(PingRowTest, FillsTheIpTimeAndTtlColumns)
{
    const EchoReply reply = Reply(GetParam().rtt, GetParam().ttl);
    EXPECT_EQ(PingRow({GetParam().address, nullptr, &reply}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PingRowTest,
    ::testing::Values(PingRowCase{"127.0.0.1", 0, 64, "127.0.0.1        0 ms      64"},
                      PingRowCase{"255.255.255.254", 12345, 255, "255.255.255.254  12345 ms  255"},
                      PingRowCase{nullptr, 0, 0, "No Response"},
                      PingRowCase{nullptr, 9, 9, "No Response"}));

TEST(PingHeaderTest, NamesTheColumns)
{
    EXPECT_EQ(PingHeader(), "IP               Time      TTL");
}

// --- whole runs --------------------------------------------------------------------------------

struct Console {
    explicit Console(ProbeKind kind, bool json = false)
        : receiver(kind, json, out, err, cancel, [this] { ++finishedCalls; })
    {
    }
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<bool> cancel{false};
    int finishedCalls = 0;
    ConsoleReceiver receiver;
};

TEST(ConsoleReceiverTest, TraceRunReadsLikeThePage)
{
    Console console(ProbeKind::Trace);
    SendDestination(console.receiver, u"Dest IP: 10.9.9.9");
    SendResult(console.receiver, "10.0.0.1", "r1.test", Reply(3, 63, kIpTtlExpiredTransit));
    SendResult(console.receiver, nullptr, nullptr, Reply(0, 0, kIpReqTimedOut));
    SendResult(console.receiver, "10.9.9.9", nullptr, Reply(4, 61));
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::Running);
    SendFinished(console.receiver);
    EXPECT_EQ(console.out.str(), "Dest IP: 10.9.9.9\n"
                                 "10.0.0.1 [3 ms]\n"
                                 "    r1.test\n"
                                 "No Response [0 ms]\n"
                                 "10.9.9.9 [4 ms]\n"
                                 "Done\n");
    EXPECT_EQ(console.err.str(), "");
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::Done);
    EXPECT_EQ(console.finishedCalls, 1);
}

TEST(ConsoleReceiverTest, PingRunListsRowsOldestFirst)
{
    Console console(ProbeKind::Ping);
    SendDestination(console.receiver, u"Dest IP: 127.0.0.1");
    SendResult(console.receiver, "127.0.0.1", nullptr, Reply(1, 64));
    SendResult(console.receiver, nullptr, nullptr, Reply(0, 0, kIpReqTimedOut));
    SendResult(console.receiver, "127.0.0.1", nullptr, Reply(2, 63));
    SendFinished(console.receiver);
    EXPECT_EQ(console.out.str(), "Dest IP: 127.0.0.1\n"
                                 "IP               Time      TTL\n"
                                 "127.0.0.1        1 ms      64\n"
                                 "No Response\n"
                                 "127.0.0.1        2 ms      63\n"
                                 "Done\n");
}

TEST(ConsoleReceiverTest, RunFinishedWithCancelSetReadsCancelled)
{
    Console console(ProbeKind::Trace);
    SendDestination(console.receiver, u"Dest IP: 10.9.9.9");
    SendResult(console.receiver, "10.9.9.9", nullptr, Reply(1, 64));
    console.cancel = true; // Ctrl-C during the last probe: results complete, still cancelled
    SendFinished(console.receiver);
    EXPECT_EQ(console.out.str(), "Dest IP: 10.9.9.9\n10.9.9.9 [1 ms]\nCancelled\n");
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::Cancelled);
}

TEST(ConsoleReceiverTest, UnresolvedGoesToStandardError)
{
    Console console(ProbeKind::Ping);
    SendUnresolved(console.receiver);
    SendFinished(console.receiver);
    EXPECT_EQ(console.out.str(), "Done\n");
    EXPECT_EQ(console.err.str(), "Can't resolve name\n");
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::Unresolved);
}

TEST(ConsoleReceiverTest, NotPermittedHintGoesToStandardError)
{
    Console console(ProbeKind::Trace);
    SendDestination(console.receiver, u"Dest IP: 10.9.9.9");
    SendNotPermitted(console.receiver, "allow ICMP sockets");
    SendFinished(console.receiver);
    EXPECT_EQ(console.out.str(), "Dest IP: 10.9.9.9\nDone\n");
    EXPECT_EQ(console.err.str(), "allow ICMP sockets\n");
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::NotPermitted);
}

TEST(ConsoleReceiverTest, UnknownMessagesAreIgnored)
{
    Console console(ProbeKind::Trace);
    EXPECT_EQ(console.receiver.sendMessage(4242, 12345, 678), 0);
    EXPECT_EQ(console.out.str(), "");
    EXPECT_EQ(console.err.str(), "");
    EXPECT_EQ(console.receiver.outcome(), RunOutcome::Running);
}

TEST(ConsoleReceiverTest, JsonHasOneObjectPerNotificationWithRawFields)
{
    Console console(ProbeKind::Trace, true);
    SendDestination(console.receiver, u"Dest IP: 10.9.9.9");
    SendResult(console.receiver, "10.0.0.1", "r1.test", Reply(3, 63, kIpTtlExpiredTransit));
    SendResult(console.receiver, nullptr, nullptr, Reply(0, 0, kIpReqTimedOut));
    SendFinished(console.receiver);

    std::vector<nlohmann::json> events;
    std::istringstream lines(console.out.str());
    for (std::string line; std::getline(lines, line);) {
        events.push_back(nlohmann::json::parse(line));
    }
    const std::vector<nlohmann::json> expected = {
        {{"event", "destination"}, {"text", "Dest IP: 10.9.9.9"}, {"address", "10.9.9.9"}},
        {{"event", "hop"},
         {"hop", 1},
         {"address", "10.0.0.1"},
         {"name", "r1.test"},
         {"rtt_ms", 3},
         {"reply_ttl", 63},
         {"status", kIpTtlExpiredTransit}},
        {{"event", "hop"},
         {"hop", 2},
         {"address", nullptr},
         {"name", nullptr},
         {"rtt_ms", 0},
         {"reply_ttl", 0},
         {"status", kIpReqTimedOut}},
        {{"event", "finished"}, {"outcome", "done"}},
    };
    EXPECT_EQ(events, expected);
}

TEST(ConsoleReceiverTest, JsonEscapesWhatANameMayHold)
{
    Console console(ProbeKind::Trace, true);
    SendResult(console.receiver, "10.0.0.1", "we\"ird\\name\n", Reply(1, 64));
    EXPECT_EQ(nlohmann::json::parse(console.out.str())["name"], "we\"ird\\name\n");
}

struct JsonOutcomeCase {
    const char* name;
    std::function<void(ConsoleReceiver&, std::atomic<bool>&)> run;
    std::string outcome;
    int exitCode;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const JsonOutcomeCase& c, std::ostream* os)
{
    *os << c.name;
}

class JsonOutcomeTest : public ::testing::TestWithParam<JsonOutcomeCase> {};

TEST_P(JsonOutcomeTest, FinishedEventNamesTheOutcome)
{
    Console console(ProbeKind::Ping, true);
    GetParam().run(console.receiver, console.cancel);
    SendFinished(console.receiver);
    std::string last;
    std::istringstream lines(console.out.str());
    for (std::string line; std::getline(lines, line);) {
        last = line;
    }
    EXPECT_EQ(nlohmann::json::parse(last)["outcome"], GetParam().outcome);
    EXPECT_EQ(ExitCodeFor(console.receiver.outcome()), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, JsonOutcomeTest,
    ::testing::Values(
        JsonOutcomeCase{"Done", [](ConsoleReceiver&, std::atomic<bool>&) {}, "done", kExitDone},
        JsonOutcomeCase{"Cancelled", [](ConsoleReceiver&, std::atomic<bool>& c) { c = true; },
                        "cancelled", kExitCancelled},
        JsonOutcomeCase{"Unresolved",
                        [](ConsoleReceiver& r, std::atomic<bool>&) { SendUnresolved(r); },
                        "unresolved", kExitUnresolved},
        JsonOutcomeCase{"NotPermitted",
                        [](ConsoleReceiver& r, std::atomic<bool>&) { SendNotPermitted(r, "hint"); },
                        "not_permitted", kExitNotPermitted}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExitCodeTest, RunThatNeverFinishedCountsAsCancelled)
{
    EXPECT_EQ(ExitCodeFor(RunOutcome::Running), kExitCancelled);
}

} // namespace
} // namespace hopwise::cli
