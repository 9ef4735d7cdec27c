// A flight's cut waits and its collect up to a time point, on the system's sockets (probes with
// TTL 0 to loopback: they never leave the host and only wait out their time) and through an
// installed stack, which answers each probe as it is sent.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "probe/echo_flight.h"
#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

using namespace std::chrono;

struct FlightCase {
    const char* name;
    bool scripted;           // through an installed stack
    std::uint32_t timeoutMs; // the probe's own
    std::optional<std::uint32_t> cutMs;
    bool cutFound;      // what cutWait yields
    milliseconds until; // collectUntil's time point, from the send
    bool ended;         // the probe ended before it
    friend void PrintTo(const FlightCase& c, std::ostream* os) { *os << c.name; }
};

class EchoFlightTest : public ::testing::TestWithParam<FlightCase> {};

TEST_P(EchoFlightTest, EndsAProbeAtItsWaitAndReturnsAtTheTimePoint)
{
    const FlightCase& c = GetParam();
    ScriptedEchoStack stack;
    std::optional<ScopedEchoStack> install;
    if (c.scripted) {
        install.emplace(stack);
    } else if (CheckEchoPermission() == IcmpSocketKind::None) {
        GTEST_SKIP() << "no ICMP socket is permitted for this user";
    }
    EchoFlight flight;
    ASSERT_EQ(flight.send(EchoProbe{HostAddress::ipv4(Ip("127.0.0.1")), 0, c.timeoutMs, 7}), 0u);
    const auto until = steady_clock::now() + c.until;
    if (c.cutMs) {
        EXPECT_EQ(flight.cutWait(7, *c.cutMs), c.cutFound);
    }
    std::vector<EchoOutcome> ended;
    ASSERT_TRUE(flight.collectUntil(ended, until));
    if (!c.ended) {
        EXPECT_TRUE(ended.empty());
        EXPECT_GE(steady_clock::now(), until);
        return;
    }
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(std::tuple(ended[0].tag, ended[0].count, ended[0].reply.status),
              std::tuple(7u, 0u, kIpReqTimedOut));
    // Nothing is out any more: the collect now waits for the time point alone.
    ended.clear();
    const auto soon = steady_clock::now() + milliseconds(20);
    EXPECT_TRUE(flight.collectUntil(ended, soon));
    EXPECT_TRUE(ended.empty());
    EXPECT_GE(steady_clock::now(), soon);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, EchoFlightTest,
    ::testing::Values(
        FlightCase{"cutEndsTheWaitEarly", false, 60000, 10, true, 5s, true},
        FlightCase{"cutNeverLengthensIt", false, 20, 60000, true, 5s, true},
        FlightCase{"uncutWaitOutlastsTheTimePoint", false, 60000, {}, false, 100ms, false},
        FlightCase{"installedStackAnswersAtTheSend", true, 60000, 10, false, 5s, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
