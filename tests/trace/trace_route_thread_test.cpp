// The trace route worker against the scripted stack and the table resolver, message by message.

#include "trace/trace_route_thread.h"

#include <gtest/gtest.h>

#include <climits>

#include "probe/echo_permission.h"
#include "tests/support/table_resolver.h"
#include "tests/run/worker_test_support.h"

namespace hopwise::test {
namespace {

using Text = std::optional<std::string>;
constexpr const char* kTarget = "10.9.9.9";
constexpr std::int32_t kTimeout = 250;

class TraceRouteThreadTest : public ::testing::Test {
protected:
    TraceRouteThreadTest()
    {
        m_resolver.addName("target.test", {Ip(kTarget)});
        m_page.m_iHopTimeout = kTimeout;
        m_page.m_pWindow = &m_window;
    }

    std::uint32_t run(const char* host = kTarget)
    {
        SetHostText(m_page.m_szHost, host);
        return TraceRouteThread(&m_page);
    }

    ScriptedEchoStack m_stack;
    ScopedEchoStack m_installStack{m_stack};
    TableResolver m_resolver;
    ScopedHostResolver m_installResolver{m_resolver};
    RecordingTarget m_window;
    TraceRouteInputs m_page;
};

// --- walks -----------------------------------------------------------------------------------

struct HopAnswer {
    std::uint8_t ttl;
    const char* from;
    std::uint32_t status;
};

struct WalkCase {
    const char* name;
    std::int32_t maxHop;
    std::vector<HopAnswer> answers;
    std::vector<Text> expected; // one per hop probed; nullopt: "No Response"
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<Text> NoResponses(std::size_t count)
{
    return std::vector<Text>(count);
}

class TraceWalkTest : public TraceRouteThreadTest,
                      public ::testing::WithParamInterface<WalkCase> {};

TEST_P(TraceWalkTest, ReportsEveryHopInOrderAndStopsWhereItShould)
{
    const WalkCase& walk = GetParam();
    for (const HopAnswer& answer : walk.answers) {
        m_stack.answerTtl(answer.ttl, AnswerFrom(answer.from, answer.status, answer.ttl));
    }
    m_page.m_iMaxHopCount = walk.maxHop;

    EXPECT_EQ(run(), 0u);

    EXPECT_EQ(m_window.kinds(),
              Kinds({WM_PROBE_DESTINATION}, walk.expected.size(), {WM_PROBE_FINISHED}));
    const std::vector<RecordedMessage> results = m_window.results();
    EXPECT_EQ(Addresses(results), walk.expected);
    EXPECT_EQ(Names(results), std::vector<Text>(results.size())) << "names only when asked for";

    std::vector<std::uint8_t> ttls;
    for (std::size_t hop = 1; hop <= walk.expected.size(); ++hop) {
        ttls.push_back(static_cast<std::uint8_t>(hop));
    }
    EXPECT_EQ(SentTtls(m_stack), ttls);
    for (const ScriptedCall& call : m_stack.calls()) {
        EXPECT_EQ(call.request.destination, Ip(kTarget));
        EXPECT_EQ(call.request.timeout, static_cast<std::uint32_t>(kTimeout));
        EXPECT_TRUE(call.request.hasOptions);
        EXPECT_EQ(call.request.tos, 0);
        EXPECT_EQ(call.request.flags, 0);
        EXPECT_TRUE(call.request.options.empty());
        EXPECT_TRUE(call.request.data.empty());
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        const std::uint8_t ttl = static_cast<std::uint8_t>(i + 1);
        ASSERT_TRUE(results[i].hasReply);
        if (results[i].address) {
            EXPECT_EQ(results[i].reply.roundTripTime, 10u + ttl) << "hop " << int(ttl);
            EXPECT_EQ(results[i].reply.options.ttl, 60 + ttl) << "hop " << int(ttl);
        } else {
            EXPECT_EQ(results[i].reply.address, 0u) << "hop " << int(ttl);
        }
    }
    EXPECT_EQ(m_resolver.addressLookups(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, TraceWalkTest,
    ::testing::Values(WalkCase{"DestinationAtFirstHop", 20, {{1, kTarget, kIpSuccess}}, {kTarget}},
                      WalkCase{"RoutersThenDestination",
                               20,
                               {{1, "10.0.0.1", kIpTtlExpiredTransit},
                                {2, "10.0.1.1", kIpTtlExpiredTransit},
                                {3, kTarget, kIpSuccess}},
                               {"10.0.0.1", "10.0.1.1", kTarget}},
                      WalkCase{"SilentRouterDoesNotEndTheWalk",
                               20,
                               {{1, "10.0.0.1", kIpTtlExpiredTransit}, {3, kTarget, kIpSuccess}},
                               {"10.0.0.1", std::nullopt, kTarget}},
                      WalkCase{"RouterUnreachableDoesNotEndTheWalk",
                               3,
                               {{1, "10.0.0.1", kIpDestHostUnreachable}},
                               {"10.0.0.1", std::nullopt}},
                      WalkCase{"DestinationEndsTheWalkWhateverItsStatus",
                               20,
                               {{2, kTarget, kIpTtlExpiredTransit}},
                               {std::nullopt, kTarget}},
                      WalkCase{"OtherAddressOfDestinationDoesNotEndTheWalk",
                               4,
                               {{1, "10.9.9.10", kIpSuccess},
                                {2, "10.9.9.10", kIpSuccess},
                                {3, "10.9.9.10", kIpSuccess}},
                               {"10.9.9.10", "10.9.9.10", "10.9.9.10"}},
                      WalkCase{"NoHopAnswers", 6, {}, NoResponses(5)},
                      WalkCase{"DefaultLimitProbesNineteenHops", 20, {}, NoResponses(19)},
                      WalkCase{"LimitTwoProbesOneHop", 2, {}, NoResponses(1)},
                      WalkCase{"DestinationBeyondTheLimitIsNeverReached",
                               3,
                               {{3, kTarget, kIpSuccess}},
                               NoResponses(2)}),
    [](const auto& info) { return std::string(info.param.name); });

// --- limits that probe nothing -----------------------------------------------------------------

class TraceNoProbeTest : public TraceRouteThreadTest,
                         public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(TraceNoProbeTest, ReportsDestinationThenFinishes)
{
    m_stack.answerAll(AnswerFrom(kTarget, kIpSuccess, 1));
    m_page.m_iMaxHopCount = GetParam();
    run();
    EXPECT_EQ(m_window.kinds(),
              (std::vector<std::uint32_t>{WM_PROBE_DESTINATION, WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, TraceNoProbeTest, ::testing::Values(1, 0, -5, INT_MIN));

// --- hosts that name nothing -------------------------------------------------------------------

class TraceUnresolvedTest : public TraceRouteThreadTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(TraceUnresolvedTest, ReportsUnresolvedThenFinishesWithoutProbing)
{
    m_stack.answerAll(AnswerFrom(kTarget, kIpSuccess, 1));
    EXPECT_EQ(run(GetParam()), 0u);
    const std::vector<RecordedMessage> messages = m_window.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message, WM_PROBE_UNRESOLVED);
    EXPECT_EQ(messages[0].wParam, 0);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[1].message, WM_PROBE_FINISHED);
    EXPECT_EQ(messages[1].wParam, -1);
    EXPECT_EQ(messages[1].lParam, 0);
    EXPECT_EQ(m_stack.callCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Hosts, TraceUnresolvedTest,
                         ::testing::Values("0.0.0.0", "255.255.255.255", "0", "", "nowhere.test"));

TEST_F(TraceRouteThreadTest, TooLongHostIsUnresolvableAndNeverLookedUp)
{
    const std::string tooLong(600, 'a');
    EXPECT_FALSE(SetHostText(m_page.m_szHost, tooLong));
    TraceRouteThread(&m_page);
    EXPECT_EQ(m_window.kinds(),
              (std::vector<std::uint32_t>{WM_PROBE_UNRESOLVED, WM_PROBE_FINISHED}));
    EXPECT_EQ(m_resolver.nameLookups(), 0);
}

// --- message content ---------------------------------------------------------------------------

TEST_F(TraceRouteThreadTest, SendsExactMessagesForALoopbackRun)
{
    m_stack.answerAll(AnswerFrom("127.0.0.1", kIpSuccess, 1));
    run("127.0.0.1");
    const std::vector<RecordedMessage> messages = m_window.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].message, WM_PROBE_DESTINATION);
    EXPECT_EQ(messages[0].destination, u"Dest IP: 127.0.0.1");
    EXPECT_NE(messages[0].wParam, 0);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[1].message, WM_PROBE_RESULT);
    EXPECT_EQ(messages[1].address, Text("127.0.0.1"));
    EXPECT_EQ(messages[1].name, std::nullopt);
    EXPECT_EQ(messages[1].lParam, 0);
    EXPECT_EQ(messages[1].reply.status, kIpSuccess);
    EXPECT_EQ(messages[1].reply.roundTripTime, 11u);
    EXPECT_EQ(messages[1].reply.options.ttl, 61);
    EXPECT_EQ(messages[2].message, WM_PROBE_FINISHED);
    EXPECT_EQ(messages[2].wParam, -1);
    EXPECT_EQ(messages[2].lParam, 0);
}

TEST_F(TraceRouteThreadTest, DestinationTextShowsTheResolvedAddressOfAName)
{
    m_stack.answerAll(AnswerFrom(kTarget, kIpSuccess, 1));
    run("target.test");
    const std::vector<RecordedMessage> messages = m_window.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].destination, u"Dest IP: 10.9.9.9");
    EXPECT_EQ(m_stack.calls().at(0).request.destination, Ip(kTarget));
}

TEST_F(TraceRouteThreadTest, TtlIsTheLowByteOfTheHop)
{
    m_page.m_iMaxHopCount = 258;
    run();
    const std::vector<std::uint8_t> ttls = SentTtls(m_stack);
    ASSERT_EQ(ttls.size(), 257u);
    EXPECT_EQ(ttls[0], 1);
    EXPECT_EQ(ttls[254], 255) << "hop 255";
    EXPECT_EQ(ttls[255], 0) << "hop 256";
    EXPECT_EQ(ttls[256], 1) << "hop 257";
    EXPECT_EQ(m_window.results().size(), 257u);
}

TEST_F(TraceRouteThreadTest, RunsWithoutAWindow)
{
    m_page.m_pWindow = nullptr;
    m_stack.answerTtl(2, AnswerFrom(kTarget, kIpSuccess, 2));
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(m_stack.callCount(), 2u);
}

// --- names -------------------------------------------------------------------------------------

struct NameCase {
    const char* name;
    bool resolve;
    std::vector<Text> expected;
    int lookups;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class TraceNameTest : public TraceRouteThreadTest,
                      public ::testing::WithParamInterface<NameCase> {};

TEST_P(TraceNameTest, LooksUpAnsweringHopsOnlyWhenAsked)
{
    m_resolver.addAddress(Ip("10.0.0.1"), "r1.test");
    m_resolver.addAddress(Ip(kTarget), "target.test");
    m_stack.answerTtl(1, AnswerFrom("10.0.0.1", kIpTtlExpiredTransit, 1));
    m_stack.answerTtl(3, AnswerFrom("10.0.1.1", kIpTtlExpiredTransit, 3)); // has no name
    m_stack.answerTtl(4, AnswerFrom(kTarget, kIpSuccess, 4));
    m_page.m_bResolveIP = GetParam().resolve;
    run();
    const std::vector<RecordedMessage> results = m_window.results();
    EXPECT_EQ(Addresses(results),
              (std::vector<Text>{"10.0.0.1", std::nullopt, "10.0.1.1", kTarget}));
    EXPECT_EQ(Names(results), GetParam().expected);
    EXPECT_EQ(m_resolver.addressLookups(), GetParam().lookups);
}

INSTANTIATE_TEST_SUITE_P(
    Resolve, TraceNameTest,
    ::testing::Values(
        NameCase{"On", true, {"r1.test", std::nullopt, std::nullopt, "target.test"}, 3},
        NameCase{"Off", false, {std::nullopt, std::nullopt, std::nullopt, std::nullopt}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- cancel and live settings ------------------------------------------------------------------

TEST_F(TraceRouteThreadTest, CancelBeforeTheFirstPassProbesNothing)
{
    m_page.m_bCancel = true;
    run();
    EXPECT_EQ(m_window.kinds(),
              (std::vector<std::uint32_t>{WM_PROBE_DESTINATION, WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), 0u);
}

struct CancelCase {
    const char* name;
    std::int32_t maxHop;
    std::size_t cancelDuringProbe; // 1-based
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CancelCase& c, std::ostream* os)
{
    *os << c.name;
}

class TraceCancelTest : public TraceRouteThreadTest,
                        public ::testing::WithParamInterface<CancelCase> {};

TEST_P(TraceCancelTest, ProbeInFlightIsReportedThenTheRunEnds)
{
    const CancelCase& c = GetParam();
    for (std::size_t probe = 1; probe <= c.cancelDuringProbe; ++probe) {
        m_stack.answerNext(Silence(probe == c.cancelDuringProbe
                                       ? std::function<void()>([this] { m_page.m_bCancel = true; })
                                       : std::function<void()>()));
    }
    m_page.m_iMaxHopCount = c.maxHop;
    run();
    EXPECT_EQ(m_window.kinds(),
              Kinds({WM_PROBE_DESTINATION}, c.cancelDuringProbe, {WM_PROBE_FINISHED}));
    EXPECT_EQ(m_stack.callCount(), c.cancelDuringProbe);
    EXPECT_TRUE(m_page.m_bCancel.load()) << "the page reads \"Cancelled\" from the flag";
}

INSTANTIATE_TEST_SUITE_P(Points, TraceCancelTest,
                         ::testing::Values(CancelCase{"FirstOfMany", 10, 1},
                                           CancelCase{"Middle", 10, 3},
                                           CancelCase{"LastProbe", 4, 3},
                                           CancelCase{"OnlyProbe", 2, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LiveLimitCase {
    const char* name;
    std::int32_t startLimit;
    std::int32_t newLimit; // set while the first result is handled
    std::size_t expectedHops;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LiveLimitCase& c, std::ostream* os)
{
    *os << c.name;
}

class TraceLiveLimitTest : public TraceRouteThreadTest,
                           public ::testing::WithParamInterface<LiveLimitCase> {};

TEST_P(TraceLiveLimitTest, HopLimitIsReadAgainBeforeEveryFurtherHop)
{
    m_window.setHook([this](const RecordedMessage& record, std::size_t) {
        if (record.message == WM_PROBE_RESULT) {
            m_page.m_iMaxHopCount = GetParam().newLimit;
        }
    });
    m_page.m_iMaxHopCount = GetParam().startLimit;
    run();
    EXPECT_EQ(m_window.results().size(), GetParam().expectedHops);
}

INSTANTIATE_TEST_SUITE_P(Changes, TraceLiveLimitTest,
                         ::testing::Values(LiveLimitCase{"Lowered", 20, 3, 2},
                                           LiveLimitCase{"LoweredBelowCurrentHop", 20, 1, 1},
                                           LiveLimitCase{"Raised", 3, 6, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- ICMP not permitted ------------------------------------------------------------------------

struct DeniedCase {
    const char* name;
    std::size_t deniedAtProbe; // 1-based
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const DeniedCase& c, std::ostream* os)
{
    *os << c.name;
}

class TraceNotPermittedTest : public TraceRouteThreadTest,
                              public ::testing::WithParamInterface<DeniedCase> {};

TEST_P(TraceNotPermittedTest, SendsOneHintInsteadOfAWallOfNoResponse)
{
    const std::size_t denied = GetParam().deniedAtProbe;
    for (std::size_t probe = 1; probe < denied; ++probe) {
        m_stack.answerNext(Silence());
    }
    m_stack.answerNext(StackError(kErrorAccessDenied));
    m_stack.answerAll(AnswerFrom("10.0.0.1", kIpTtlExpiredTransit, 1)); // never reached
    run();
    EXPECT_EQ(m_window.kinds(), Kinds({WM_PROBE_DESTINATION}, denied - 1,
                                      {WM_PROBE_NOT_PERMITTED, WM_PROBE_FINISHED}));
    const std::vector<RecordedMessage> messages = m_window.messages();
    EXPECT_EQ(messages[messages.size() - 2].hint, std::string(EchoPermissionHint()));
    EXPECT_FALSE(messages[messages.size() - 2].hint.empty());
    EXPECT_EQ(m_stack.callCount(), denied);
}

INSTANTIATE_TEST_SUITE_P(Probes, TraceNotPermittedTest,
                         ::testing::Values(DeniedCase{"First", 1}, DeniedCase{"Third", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TraceRouteThreadTest, OtherStackFailuresAreOrdinaryNoResponseHops)
{
    m_stack.answerNext(StackError(kErrorOperationAborted));
    m_stack.answerNext(StackError(kErrorNotEnoughMemory));
    m_page.m_iMaxHopCount = 4;
    run();
    EXPECT_EQ(Addresses(m_window.results()), NoResponses(3));
}

} // namespace
} // namespace hopwise::test
