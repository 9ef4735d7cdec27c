// The trace route worker, one whole run per case.

#include "trace/trace_route_thread.h"

#include "tests/run/worker_test_support.h"

namespace hopwise::test {
namespace {

struct TraceCase {
    const char* name;
    std::string expected;
    std::int32_t maxHop = 20;
    Script script{};
    const char* host = kTarget;
    int nameLookups = 0; // m_bResolveIP set when not 0
    friend void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }
};

class TraceRouteThreadTest : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceRouteThreadTest, ReportsTheRun)
{
    const TraceCase& c = GetParam();
    WorkerRun run;
    TraceRouteInputs page;
    page.m_iMaxHopCount = c.maxHop;
    page.m_bResolveIP = c.nameLookups != 0;
    EXPECT_EQ(run(TraceRouteThread, page, c.host, c.script, page.m_iMaxHopCount), c.expected);
    EXPECT_EQ(run.resolver.addressLookups(), c.nameLookups);
    const std::vector<ScriptedCall> calls = run.stack.calls();
    for (std::size_t hop = 1; hop <= calls.size(); ++hop) {
        EXPECT_EQ(calls[hop - 1].request.ttl, hop % 256) << "hop " << hop;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, TraceRouteThreadTest,
    ::testing::Values(
        TraceCase{"NameAnsweredAtHop1", Run(1, kTarget), 20, {{{1, kTarget}}}, "target.test"},
        TraceCase{"SilentHopGoesOn",
                  kDest + "10.0.0.1 | - | 10.9.9.9 | finished",
                  20,
                  {{{1, "10.0.0.1"}, {3, kTarget}}}},
        TraceCase{"NamesWhenAsked",
                  kDest + "10.0.0.1 r1.test | - | 10.0.1.1 | 10.9.9.9 target.test | finished",
                  20,
                  {{{1, "10.0.0.1"}, {3, "10.0.1.1"}, {4, kTarget}}},
                  kTarget,
                  3},
        TraceCase{"DefaultLimitProbes19Hops", Run(19, "-")},
        TraceCase{"LimitOneProbesNothing", Run(0, ""), 1},
        TraceCase{"HopCount256SentAsTtl0", Run(257, "-"), 258},
        TraceCase{"LimitLoweredDuringTheRun", Run(2, "-"), 20, {.boundAfter1 = 3}},
        TraceCase{"LimitRaisedDuringTheRun", Run(5, "-"), 3, {.boundAfter1 = 6}},
        TraceCase{"CancelBeforeHop1", Run(0, ""), 20, {.cancelAfter = 0}},
        TraceCase{"CancelStopsBeforeTheNextHop", Run(2, "-"), 20, {.cancelAfter = 2}},
        TraceCase{
            "NotPermittedSendsOneHint", kDest + "not permitted | finished", 20, {.denied = true}},
        TraceCase{"ZeroAddress", kUnresolved, 20, {}, "0.0.0.0"},
        TraceCase{"UnknownName", kUnresolved, 20, {}, "nowhere.test"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
