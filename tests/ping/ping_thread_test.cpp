// The ping worker against the scripted stack and the table resolver, message by message.

#include "ping/ping_thread.h"

#include <gtest/gtest.h>

#include <climits>

#include "probe/echo_permission.h"
#include "tests/support/table_resolver.h"
#include "tests/run/worker_test_support.h"

namespace hopwise::test {
namespace {

using Text = std::optional<std::string>;
constexpr const char* kTarget = "127.0.0.1";

class PingThreadTest : public ::testing::Test {
protected:
    PingThreadTest()
    {
        m_resolver.addName("loop.test", {Ip(kTarget)});
        m_page.m_iHopTimeout = 300;
        m_page.m_pWindow = &m_window;
        m_stack.answerAll(AnswerFrom(kTarget, kIpSuccess, 20));
    }

    std::uint32_t run(const char* host = kTarget)
    {
        SetHostText(m_page.m_szHost, host);
        return PingThread(&m_page);
    }

    // Sets the cancel flag while the given result (1-based) is handled.
    void cancelAtResult(std::size_t result)
    {
        m_window.setHook([this, result](const RecordedMessage& record, std::size_t index) {
            if (record.message == WM_PROBE_RESULT && index == result) { // index 0 is DESTINATION
                m_page.m_bCancel = true;
            }
        });
    }

    ScriptedEchoStack m_stack;
    ScopedEchoStack m_installStack{m_stack};
    TableResolver m_resolver;
    ScopedHostResolver m_installResolver{m_resolver};
    RecordingTarget m_window;
    PingInputs m_page;
};

TEST_F(PingThreadTest, DefaultsAreThoseOfThePage)
{
    const PingInputs page;
    EXPECT_EQ(page.m_iMaxHopCount.load(), 20);
    EXPECT_EQ(page.m_iNumTrials.load(), -1);
    EXPECT_EQ(page.m_iHopTimeout.load(), 1000);
    EXPECT_EQ(page.m_iMaxItemsInList, 50);
    EXPECT_FALSE(page.m_bCancel.load());
    EXPECT_EQ(page.m_pWindow, nullptr);
}

// --- trial counts ------------------------------------------------------------------------------

struct TrialCase {
    const char* name;
    std::int32_t numTrials;
    std::size_t expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TrialCase& c, std::ostream* os)
{
    *os << c.name;
}

class PingTrialTest : public PingThreadTest, public ::testing::WithParamInterface<TrialCase> {};

TEST_P(PingTrialTest, SendsThisManyTrials)
{
    m_page.m_iNumTrials = GetParam().numTrials;
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(m_window.kinds(),
              Kinds({WM_PROBE_DESTINATION}, GetParam().expected, {WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), GetParam().expected);
    EXPECT_FALSE(m_page.m_bCancel.load());
}

INSTANTIATE_TEST_SUITE_P(Counts, PingTrialTest,
                         ::testing::Values(TrialCase{"Three", 3, 3}, TrialCase{"One", 1, 1},
                                           TrialCase{"ZeroMeansOne", 0, 1},
                                           TrialCase{"NegativeMeansOne", -5, 1},
                                           TrialCase{"MostNegativeMeansOne", INT_MIN, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

class PingEndlessTest : public PingThreadTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(PingEndlessTest, MinusOneRunsUntilCancelled)
{
    m_page.m_iNumTrials = -1;
    cancelAtResult(GetParam());
    run();
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, GetParam(), {WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(CancelAfter, PingEndlessTest, ::testing::Values(1u, 2u, 7u));

TEST_F(PingThreadTest, CancelBeforeTheFirstTrialSendsNothing)
{
    m_page.m_bCancel = true;
    m_page.m_iNumTrials = 3;
    run();
    EXPECT_EQ(m_window.kinds(),
              (std::vector<std::uint32_t>{WM_PROBE_DESTINATION, WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), 0u);
}

TEST_F(PingThreadTest, CancelDuringTheLastTrialStillReportsIt)
{
    m_page.m_iNumTrials = 2;
    m_stack.answerNext(Silence());
    m_stack.answerNext(Silence([this] { m_page.m_bCancel = true; }));
    run();
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, 2, {WM_PROBE_FINISHED}));
    EXPECT_TRUE(m_page.m_bCancel.load());
}

TEST_F(PingThreadTest, TrialCountIsReadAfterEveryTrial)
{
    m_page.m_iNumTrials = -1;
    m_window.setHook([this](const RecordedMessage& record, std::size_t) {
        if (record.message == WM_PROBE_RESULT) {
            m_page.m_iNumTrials = 2;
        }
    });
    run();
    EXPECT_EQ(m_stack.callCount(), 2u);
}

// --- TTL and timeout ---------------------------------------------------------------------------

struct TtlCase {
    std::int32_t maxHop;
    std::uint8_t sent;
};

class PingTtlTest : public PingThreadTest, public ::testing::WithParamInterface<TtlCase> {};

TEST_P(PingTtlTest, SendsTheLowByteOfTheHopCountAsTtl)
{
    m_page.m_iMaxHopCount = GetParam().maxHop;
    m_page.m_iNumTrials = 2;
    run();
    EXPECT_EQ(SentTtls(m_stack), (std::vector<std::uint8_t>{GetParam().sent, GetParam().sent}));
}

INSTANTIATE_TEST_SUITE_P(Values, PingTtlTest,
                         ::testing::Values(TtlCase{20, 20}, TtlCase{1, 1}, TtlCase{255, 255},
                                           TtlCase{256, 0}, TtlCase{300, 44}, TtlCase{0, 0},
                                           TtlCase{-1, 255}));

TEST_F(PingThreadTest, RequestsCarryTheDestinationTimeoutAndNoExtras)
{
    m_page.m_iNumTrials = 1;
    m_page.m_iHopTimeout = 777;
    run("loop.test");
    const std::vector<ScriptedCall> calls = m_stack.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].request.destination, Ip(kTarget));
    EXPECT_EQ(calls[0].request.timeout, 777u);
    EXPECT_TRUE(calls[0].request.hasOptions);
    EXPECT_EQ(calls[0].request.tos, 0);
    EXPECT_EQ(calls[0].request.flags, 0);
    EXPECT_TRUE(calls[0].request.options.empty());
    EXPECT_TRUE(calls[0].request.data.empty());
}

TEST_F(PingThreadTest, TtlAndTimeoutAreReadBeforeEveryTrial)
{
    m_page.m_iNumTrials = 2;
    m_window.setHook([this](const RecordedMessage& record, std::size_t) {
        if (record.message == WM_PROBE_RESULT) {
            m_page.m_iMaxHopCount = 9;
            m_page.m_iHopTimeout = 55;
        }
    });
    run();
    const std::vector<ScriptedCall> calls = m_stack.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].request.ttl, 20);
    EXPECT_EQ(calls[0].request.timeout, 300u);
    EXPECT_EQ(calls[1].request.ttl, 9);
    EXPECT_EQ(calls[1].request.timeout, 55u);
}

// --- message content ---------------------------------------------------------------------------

TEST_F(PingThreadTest, SendsExactMessagesForRepliesAndSilence)
{
    m_page.m_iNumTrials = 3;
    m_stack.answerNext([](const EchoRequest&, void* reply, std::uint32_t size) -> std::uint32_t {
        WriteEchoReply(reply, size, AnswerFrom(kTarget, kIpSuccess, 57));
        return 0;
    });
    m_stack.answerNext(Silence());
    m_resolver.addAddress(Ip(kTarget), "localhost"); // never asked: ping shows no names
    run();
    const std::vector<RecordedMessage> messages = m_window.messages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0].message, WM_PROBE_DESTINATION);
    EXPECT_EQ(messages[0].destination, u"Dest IP: 127.0.0.1");
    EXPECT_EQ(messages[0].lParam, 0);

    EXPECT_EQ(messages[1].address, Text(kTarget));
    EXPECT_EQ(messages[1].reply.roundTripTime, 67u);
    EXPECT_EQ(messages[1].reply.options.ttl, 117);
    EXPECT_EQ(messages[2].address, std::nullopt);
    EXPECT_TRUE(messages[2].hasReply) << "the reply record is passed even without a reply";
    EXPECT_EQ(messages[2].reply.status, kIpReqTimedOut);
    EXPECT_EQ(messages[3].address, Text(kTarget));
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(messages[i].message, WM_PROBE_RESULT);
        EXPECT_EQ(messages[i].name, std::nullopt);
        EXPECT_EQ(messages[i].lParam, 0);
    }
    EXPECT_EQ(messages[4].message, WM_PROBE_FINISHED);
    EXPECT_EQ(messages[4].wParam, -1);
    EXPECT_EQ(m_resolver.addressLookups(), 0);
}

class PingUnresolvedTest : public PingThreadTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(PingUnresolvedTest, ReportsUnresolvedThenFinishesWithoutProbing)
{
    m_page.m_iNumTrials = 3;
    run(GetParam());
    const std::vector<RecordedMessage> messages = m_window.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message, WM_PROBE_UNRESOLVED);
    EXPECT_EQ(messages[0].wParam, 0);
    EXPECT_EQ(messages[1].message, WM_PROBE_FINISHED);
    EXPECT_EQ(messages[1].wParam, -1);
    EXPECT_EQ(m_stack.callCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Hosts, PingUnresolvedTest,
                         ::testing::Values("0.0.0.0", "255.255.255.255", "", "nowhere.test"));

// --- ICMP not permitted ------------------------------------------------------------------------

class PingNotPermittedTest : public PingThreadTest,
                             public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(PingNotPermittedTest, OneHintThenFinished)
{
    m_page.m_iNumTrials = GetParam();
    m_stack.answerNext(Silence());
    m_stack.answerNext(StackError(kErrorAccessDenied));
    run();
    EXPECT_EQ(m_window.kinds(),
              Kinds({WM_PROBE_DESTINATION}, 1, {WM_PROBE_NOT_PERMITTED, WM_PROBE_FINISHED}));
    EXPECT_EQ(m_window.messages()[2].hint, std::string(EchoPermissionHint()));
    EXPECT_EQ(m_stack.callCount(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Trials, PingNotPermittedTest, ::testing::Values(-1, 5));

} // namespace
} // namespace hopwise::test
