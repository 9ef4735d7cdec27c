// The ping worker, one whole run per case; the stack answers every trial with TTL 20.

#include "ping/ping_thread.h"

#include <algorithm>
#include <chrono>

#include "tests/run/worker_test_support.h"

namespace hopwise::test {
namespace {

struct PingCase {
    const char* name;
    std::int32_t trials;
    std::string expected;
    Script script{};
    std::int32_t hopCount = 20;
    std::uint8_t ttl = 20;
    std::int32_t intervalMs = 0;
    friend void PrintTo(const PingCase& c, std::ostream* os) { *os << c.name; }
};

class PingThreadTest : public ::testing::TestWithParam<PingCase> {};

TEST_P(PingThreadTest, ReportsTheRun)
{
    const PingCase& c = GetParam();
    WorkerRun run;
    run.stack.answerTtl(20, EchoReplyInfo{Ip(kTarget)});
    PingInputs page;
    page.m_iNumTrials = c.trials;
    page.m_iMaxHopCount = c.hopCount;
    page.m_iIntervalMs = c.intervalMs;
    const char* host = c.expected == kUnresolved ? "0.0.0.0" : "target.test";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(PingThread, page, host, c.script, page.m_iNumTrials), c.expected);
    // Paced from request to request, and a cancel doesn't sit out the interval (a minute).
    const auto took = std::chrono::steady_clock::now() - start;
    const auto sent = static_cast<std::int32_t>(run.stack.callCount());
    EXPECT_GE(took, std::chrono::milliseconds(c.intervalMs * std::max(sent - 1, 0)));
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_EQ(run.resolver.addressLookups(), 0);
    for (const ScriptedCall& call : run.stack.calls()) {
        EXPECT_EQ(call.request.ttl, c.ttl);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PingThreadTest,
    ::testing::Values(
        PingCase{"ThreeTrials", 3, Run(3, kTarget)},
        PingCase{"ZeroMakesOneTrial", 0, Run(1, kTarget)},
        PingCase{"NegativeMakesOneTrial", -5, Run(1, kTarget)},
        PingCase{"MinusOneUntilCancelled", -1, Run(7, kTarget), {.cancelAfter = 7}},
        PingCase{"CancelBeforeTrial1", -1, Run(0, ""), {.cancelAfter = 0}},
        PingCase{"CountReadAfterEveryTrial", -1, Run(2, kTarget), {.boundAfter1 = 2}},
        PingCase{"NotPermitted", 5, kDest + "not permitted | finished", {.denied = true}},
        PingCase{"HopCount256SentAsTtl0", 1, Run(1, "-"), {}, 256, 0},
        PingCase{"ZeroAddress", 3, kUnresolved},
        PingCase{"IntervalPaces", 3, Run(3, kTarget), {}, 20, 20, 100},
        PingCase{"CancelCutsTheInterval", -1, Run(1, kTarget), {.cancelAfter = 1}, 20, 20, 60000}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
