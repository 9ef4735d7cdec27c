// Workers run through the channel and the run owner, cancelled and shut down at awkward points.
// Built to run under ThreadSanitizer: any race, hang or use-after-free here is a real fault.

#include "run/probe_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>

#include "ping/ping_thread.h"
#include "probe/linux/probe_interrupt.h"
#include "tests/support/table_resolver.h"
#include "tests/run/message_loop_thread.h"
#include "tests/run/worker_test_support.h"
#include "trace/trace_route_thread.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough that a shutdown which waited it out would be obvious, short enough that a broken
// build fails within the test timeout rather than hanging.
constexpr std::int32_t kLongTimeoutMs = 20000;
constexpr auto kPromptly = std::chrono::milliseconds(kLongTimeoutMs / 4);

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Blocks until the calling thread's probe interrupt is raised (or kLongTimeoutMs passes).
void WaitForInterrupt()
{
    ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLongTimeoutMs);
    while ((interrupt == nullptr || !interrupt->raised()) && Clock::now() < deadline) {
        pollfd fd{interrupt != nullptr ? interrupt->pollDescriptor() : -1, POLLIN, 0};
        poll(&fd, 1, 50);
    }
}

// A resolver whose lookups hang like an unreachable name server, but honour the interrupt.
class HangingResolver final : public HostResolver {
public:
    std::optional<IpAddress> lookUpName(const char*) override
    {
        m_entered = true;
        WaitForInterrupt();
        return std::nullopt;
    }
    std::optional<std::string> lookUpAddress(IpAddress) override
    {
        m_entered = true;
        WaitForInterrupt();
        return std::nullopt;
    }
    std::atomic<bool> m_entered{false};
};

class ProbeRunTest : public ::testing::Test {
protected:
    ProbeRunTest()
    {
        m_trace.m_iHopTimeout = kLongTimeoutMs;
        m_ping.m_iHopTimeout = kLongTimeoutMs;
        SetHostText(m_trace.m_szHost, "10.9.9.9");
        SetHostText(m_ping.m_szHost, "127.0.0.1");
    }

    std::unique_ptr<ProbeRun> startTrace()
    {
        return StartProbeRun(m_trace, TraceRouteThread, m_window, m_loop.poster());
    }
    std::unique_ptr<ProbeRun> startPing()
    {
        return StartProbeRun(m_ping, PingThread, m_window, m_loop.poster());
    }

    // Destroys the run on the receiver's thread, as a closing window would; yields how long it
    // took.
    Clock::duration destroyOnLoop(std::unique_ptr<ProbeRun>& run)
    {
        Clock::duration took{};
        m_loop.runAndWait([&] {
            const auto start = Clock::now();
            run.reset();
            took = Clock::now() - start;
        });
        m_loop.runAndWait([] {}); // lets calls queued behind the shutdown run out
        return took;
    }

    ScriptedEchoStack m_stack;
    ScopedEchoStack m_installStack{m_stack};
    TableResolver m_resolver;
    ScopedHostResolver m_installResolver{m_resolver};
    RecordingTarget m_window;
    TraceRouteInputs m_trace;
    PingInputs m_ping;
    MessageLoopThread m_loop; // last: stops first, after every run in a test is gone
};

TEST_F(ProbeRunTest, TraceRunDeliversEveryMessageOnTheReceiverThread)
{
    m_stack.answerTtl(3, AnswerFrom("10.9.9.9", kIpSuccess, 3));
    auto run = startTrace();
    ASSERT_TRUE(m_window.waitFor(WM_PROBE_FINISHED, 5s));
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, 3, {WM_PROBE_FINISHED}));
    for (const RecordedMessage& record : m_window.messages()) {
        EXPECT_EQ(record.thread, m_loop.id());
    }
    EXPECT_EQ(Addresses(m_window.results()).back(), std::optional<std::string>("10.9.9.9"));
    EXPECT_TRUE(WaitUntil([&] { return run->finished(); }));
    EXPECT_FALSE(m_trace.m_bCancel.load()) << "a run that ended by itself was not cancelled";
    destroyOnLoop(run);
}

struct CancelPoint {
    const char* name;
    std::size_t afterResults; // 0: set before the run starts
};

class ProbeRunCancelTest : public ProbeRunTest,
                           public ::testing::WithParamInterface<CancelPoint> {};

TEST_P(ProbeRunCancelTest, TraceCancelledThroughTheChannelEndsAfterTheCurrentHop)
{
    const std::size_t after = GetParam().afterResults;
    m_window.setHook([&](const RecordedMessage& record, std::size_t index) {
        if (record.message == WM_PROBE_RESULT && index == after) {
            m_trace.m_bCancel = true; // the Cancel button, on the window's thread
        }
    });
    m_trace.m_bCancel = after == 0;
    auto run = startTrace();
    ASSERT_TRUE(m_window.waitFor(WM_PROBE_FINISHED, 5s));
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, after, {WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), after);
    destroyOnLoop(run);
}

TEST_P(ProbeRunCancelTest, EndlessPingCancelledThroughTheChannelEndsAfterTheCurrentTrial)
{
    const std::size_t after = GetParam().afterResults;
    m_stack.answerAll(AnswerFrom("127.0.0.1", kIpSuccess, 20));
    m_window.setHook([&](const RecordedMessage& record, std::size_t index) {
        if (record.message == WM_PROBE_RESULT && index == after) {
            m_ping.m_bCancel = true;
        }
    });
    m_ping.m_bCancel = after == 0;
    auto run = startPing();
    ASSERT_TRUE(m_window.waitFor(WM_PROBE_FINISHED, 5s));
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, after, {WM_PROBE_FINISHED}));
    destroyOnLoop(run);
}

INSTANTIATE_TEST_SUITE_P(Points, ProbeRunCancelTest,
                         ::testing::Values(CancelPoint{"BeforeStart", 0},
                                           CancelPoint{"FirstResult", 1},
                                           CancelPoint{"ThirdResult", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeRunTest, ShutdownWhileTheWorkerIsBlockedSendingToTheClosingThread)
{
    std::unique_ptr<ProbeRun> run;
    Clock::duration took{};
    m_loop.runAndWait([&] {
        run = startTrace();
        // The worker's first message is now queued behind this very call: it is blocked in a
        // send to the thread that is about to shut it down.
        ASSERT_TRUE(m_loop.waitForPosted(1, 5s));
        const auto start = Clock::now();
        run.reset();
        took = Clock::now() - start;
    });
    m_loop.runAndWait([] {});
    EXPECT_LT(took, kPromptly);
    EXPECT_TRUE(m_window.messages().empty()) << "nothing reaches a window after shutdown";
    EXPECT_EQ(m_stack.callCount(), 0u) << "the cancel flag stops the walk before the first hop";
    EXPECT_TRUE(m_trace.m_bCancel.load());
}

TEST_F(ProbeRunTest, ShutdownWhileAnEchoIsInFlight)
{
    m_stack.waitOutTimeouts(true);
    auto run = startTrace();
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 1; }));
    EXPECT_LT(destroyOnLoop(run), kPromptly);
    EXPECT_EQ(m_window.kinds(), (std::vector<std::uint32_t>{WM_PROBE_DESTINATION}));
    EXPECT_EQ(m_stack.callCount(), 1u);
}

TEST_F(ProbeRunTest, ShutdownWhilePingWaitsForAReply)
{
    m_stack.waitOutTimeouts(true);
    auto run = startPing();
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 1; }));
    EXPECT_LT(destroyOnLoop(run), kPromptly);
    EXPECT_EQ(m_window.kinds(), (std::vector<std::uint32_t>{WM_PROBE_DESTINATION}));
}

TEST_F(ProbeRunTest, ShutdownWhileTheHostNameLookupHangs)
{
    HangingResolver hanging;
    ScopedHostResolver install(hanging);
    SetHostText(m_trace.m_szHost, "slow.test");
    auto run = startTrace();
    ASSERT_TRUE(WaitUntil([&] { return hanging.m_entered.load(); }));
    EXPECT_LT(destroyOnLoop(run), kPromptly);
    EXPECT_TRUE(m_window.messages().empty());
    EXPECT_EQ(m_stack.callCount(), 0u);
}

TEST_F(ProbeRunTest, ShutdownWhileAResponderNameLookupHangs)
{
    HangingResolver hanging;
    ScopedHostResolver install(hanging);
    m_stack.answerAll(AnswerFrom("10.0.0.1", kIpTtlExpiredTransit, 1));
    m_trace.m_bResolveIP = true;
    auto run = startTrace();
    ASSERT_TRUE(WaitUntil([&] { return hanging.m_entered.load(); }));
    EXPECT_LT(destroyOnLoop(run), kPromptly);
    EXPECT_EQ(m_window.kinds(), (std::vector<std::uint32_t>{WM_PROBE_DESTINATION}));
    EXPECT_EQ(m_stack.callCount(), 1u);
}

struct HandlerShutdownCase {
    const char* name;
    std::uint32_t message;
    std::vector<std::uint32_t> expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HandlerShutdownCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeRunHandlerShutdownTest : public ProbeRunTest,
                                    public ::testing::WithParamInterface<HandlerShutdownCase> {};

TEST_P(ProbeRunHandlerShutdownTest, WindowMayEndTheRunFromInsideItsHandler)
{
    std::unique_ptr<ProbeRun> run;
    std::atomic<bool> destroyed{false};
    m_window.setHook([&](const RecordedMessage& record, std::size_t) {
        if (record.message == GetParam().message && run) {
            run.reset();
            destroyed = true;
        }
    });
    m_loop.runAndWait([&] { run = startTrace(); });
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }));
    m_loop.runAndWait([] {});
    EXPECT_EQ(m_window.kinds(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ProbeRunHandlerShutdownTest,
    ::testing::Values(
        HandlerShutdownCase{"OnFinished", WM_PROBE_FINISHED,
                            Kinds({WM_PROBE_DESTINATION}, 19, {WM_PROBE_FINISHED})},
        HandlerShutdownCase{"OnFirstResult", WM_PROBE_RESULT, Kinds({WM_PROBE_DESTINATION}, 1, {})},
        HandlerShutdownCase{"OnDestination", WM_PROBE_DESTINATION, {WM_PROBE_DESTINATION}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeRunTest, ShutdownFromAnotherThreadWhileResultsStream)
{
    m_stack.answerAll(AnswerFrom("127.0.0.1", kIpSuccess, 20));
    auto run = startPing();
    ASSERT_TRUE(m_window.waitFor(WM_PROBE_RESULT, 5s, 20));
    run.reset();
    const std::size_t seen = m_window.messages().size();
    m_loop.runAndWait([] {});
    const std::vector<std::uint32_t> kinds = m_window.kinds();
    EXPECT_EQ(kinds.size(), seen) << "nothing arrives after shutdown returned";
    ASSERT_GE(kinds.size(), 21u);
    EXPECT_EQ(kinds.front(), WM_PROBE_DESTINATION);
    for (std::size_t i = 1; i + 1 < kinds.size(); ++i) {
        EXPECT_EQ(kinds[i], WM_PROBE_RESULT);
    }
}

TEST_F(ProbeRunTest, RepeatedRunsShutDownAtVaryingPoints)
{
    m_stack.answerAll(AnswerFrom("127.0.0.1", kIpSuccess, 20));
    for (int round = 0; round < 25; ++round) {
        auto run = startPing();
        ASSERT_TRUE(m_loop.waitForPosted(m_loop.posted() + round % 4, 5s));
        destroyOnLoop(run);
        m_ping.m_bCancel = false;
    }
    const std::vector<std::uint32_t> kinds = m_window.kinds();
    std::size_t destinations = 0;
    for (std::uint32_t kind : kinds) {
        destinations += kind == WM_PROBE_DESTINATION ? 1 : 0;
    }
    EXPECT_LE(destinations, 25u);
    EXPECT_EQ(m_window.messages().empty() ? WM_PROBE_DESTINATION : kinds.front(),
              WM_PROBE_DESTINATION);
}

} // namespace
} // namespace hopwise::test
