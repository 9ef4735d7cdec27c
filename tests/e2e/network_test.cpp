// hopwise-cli and SendEcho over namespaced networks, each row as root (the raw socket) and as an
// ordinary user whose group alone the client's ping_group_range admits (the datagram socket).
// A chain of three routers: names come from the client's own hosts file, and its resolv.conf
// points where nothing listens, so no lookup leaves it. A hostile peer (tools/icmp_responder) one
// link away: forged, malformed, duplicate and foreign packets are never taken as the answer, and
// round trips read the peer's delay to the millisecond.

#include <gtest/gtest.h>
#include <sched.h>

#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "tests/e2e/child_process.h"
#include "tests/probe/real_echo.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The stdout of a successful hopwise-cli run inside the client namespace, as root or as the
// ordinary user. Like the peer, it runs at a real-time priority: a busy build machine woke it up
// to 11 ms late, which would be charged to the engine's round trips.
std::string RunCli(const NetNamespace& client, bool asUser, const std::string& args)
{
    ChildProcess cli(Words("ip netns exec " + client.name() + " chrt -f 10 " +
                           (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                           HOPWISE_CLI_PATH + " " + args));
    EXPECT_EQ(cli.finish(std::chrono::seconds(30)), 0) << cli.err();
    return cli.out();
}

// Round-trip times vary from run to run: "[3 ms]" reads "[N ms]", a ping row's padded "3 ms"
// column reads "N ms " (its width is checked in-process, with fixed times), a report's
// right-aligned "   0.051" reads " N".
std::string WithoutTimes(const std::string& text)
{
    static const std::regex bracketed(R"(\[\d+ ms\])");
    static const std::regex column(R"(\b\d+ ms +)");
    static const std::regex decimal(R"( +\d+\.\d{3}(?=[ \n]))");
    return std::regex_replace(
        std::regex_replace(std::regex_replace(text, bracketed, "[N ms]"), column, "N ms "), decimal,
        " N");
}

std::string RowName(bool asUser, const char* name)
{
    return std::string(asUser ? "User_" : "Root_") + name;
}

struct ChainCase {
    const char* name;
    const char* args;
    std::vector<int> silentRouters; // 0-based
    std::string out;
    int halvingRouter = -1; // drops every second probe that ends at it (nftables)
};

// Routers 2 and 3 silent: the hops' probes go out together, and the trace still ends at the
// target, with nothing shown past it.
const std::string kSilentFromHopTwo = "Dest IP: 10.213.3.2\n10.213.0.2 [N ms]\nNo Response [N ms]\n"
                                      "No Response [N ms]\n10.213.3.2 [N ms]\nDone\n";

const ChainCase kChainCases[] = {
    {"TraceNamesTheRoutersInOrder",
     "trace --resolve --timeout 1000 target.test",
     {},
     "Dest IP: 10.213.3.2\n10.213.0.2 [N ms]\n    r1.test\n10.213.1.2 [N ms]\n"
     "10.213.2.2 [N ms]\n    r3.test\n10.213.3.2 [N ms]\n    target.test\nDone\n"},
    {"SilentRouterReadsNoResponse",
     "trace --timeout 300 10.213.3.2",
     {1},
     "Dest IP: 10.213.3.2\n10.213.0.2 [N ms]\nNo Response [N ms]\n10.213.2.2 [N ms]\n"
     "10.213.3.2 [N ms]\nDone\n"},
    {"SilentFromHopTwo", "trace --timeout 300 10.213.3.2", {1, 2}, kSilentFromHopTwo},
    {"SilentFromHopTwoOneHopAtATime",
     "trace --parallel 1 --timeout 300 10.213.3.2",
     {1, 2},
     kSilentFromHopTwo},
    // Hop 2's router drops every second probe that expires there; the other hops lose none.
    {"ReportCountsEachHopsLoss",
     "report --cycles 4 --interval 0 --timeout 300 10.213.3.2",
     {},
     "HOST: 10.213.3.2 (10.213.3.2)     Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
     "  1.|-- 10.213.0.2                 0.0%     4 N N N N N\n"
     "  2.|-- 10.213.1.2                50.0%     4 N N N N N\n"
     "  3.|-- 10.213.2.2                 0.0%     4 N N N N N\n"
     "  4.|-- 10.213.3.2                 0.0%     4 N N N N N\n",
     1},
    {"OnePingReadsTheTargetsTtl",
     "ping --count 1 --timeout 1000 target.test",
     {},
     "Dest IP: 10.213.3.2\nIP               Time      TTL\n10.213.3.2       N ms 61\nDone\n"},
};

class RouterChainCli : public ::testing::TestWithParam<std::tuple<bool, ChainCase>> {};

TEST_P(RouterChainCli, PrintsTheRoute)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, row] = GetParam();
    RouterChain chain(3, 213);
    RunCommand("ip netns exec " + chain.client().name() +
               " sysctl -qw net.ipv4.ping_group_range='65534 65534'");
    chain.client().setHosts("127.0.0.1 localhost\n10.213.0.2 r1.test\n10.213.2.2 r3.test\n"
                            "10.213.3.2 target.test\n");
    // The router still forwards, but what it sends itself has no route.
    for (const int silent : row.silentRouters) {
        const std::string router = chain.router(silent).name();
        ASSERT_EQ(RunCommand("ip -n " + router + " rule add iif lo lookup 77 && ip -n " + router +
                             " route add unreachable default table 77"),
                  0);
    }
    if (row.halvingRouter >= 0) {
        if (RunCommand("command -v nft") != 0) {
            GTEST_SKIP() << "nft is not installed (tools/install-deps.sh installs nftables)";
        }
        const std::string nft = "ip netns exec " + chain.router(row.halvingRouter).name() + " nft ";
        ASSERT_EQ(RunCommand(
                      nft + "add table ip halve && " + nft +
                      "'add chain ip halve in { type filter hook prerouting priority -300; }' && " +
                      nft +
                      "add rule ip halve in ip ttl 1 icmp type echo-request "
                      "numgen inc mod 2 == 1 drop"),
                  0);
    }
    EXPECT_EQ(WithoutTimes(RunCli(chain.client(), asUser, row.args)), row.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, RouterChainCli,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kChainCases)),
                         [](const auto& info) {
                             return RowName(std::get<0>(info.param), std::get<1>(info.param).name);
                         });

const std::string kTarget = "10.231.0.2";
const std::string kOther = "10.231.9.7"; // held by no one

struct HostileCase {
    const char* name;
    const char* peer; // icmp-responder's arguments: what it sends for each request
    // One word per probe: T (the target's answer), O (an answer from kOther) or X (a time
    // exceeded report from kOther), then the peer's delay D; "-" for a timeout.
    const char* probes;
    // A round trip in [D, D + slack] reads D. The rows about accuracy allow 1 ms: the engine
    // truncates to whole milliseconds, and the path itself adds well under one.
    std::uint32_t slackMs = 20;
    bool viaCli = false;
    int pauseMs = 0; // between probes
};

const HostileCase kCases[] = {
    {"RoundTrip5ms", "--send echo@5", "T5 T5 T5", 1},
    {"CliRoundTrip50ms", "--send echo@50", "T50 T50", 1, true},
    {"BadChecksum", "--send echo-bad-checksum@0 --send echo@40", "T40 T40"},
    {"WrongIdOrSequence", "--send echo-wrong-id@0 --send echo-wrong-seq@0 --send echo@40", "T40"},
    {"Truncated",
     "--send echo-truncated@0 --send time-exceeded-truncated@0 --send unreachable-truncated@0 "
     "--send echo@40",
     "T40 T40"},
    {"ReportAboutAnotherProbe",
     "--send time-exceeded-other-probe@0 --send unreachable-other-probe@0 --send echo@40", "T40"},
    {"OnlyForgeries",
     "--send echo-wrong-id@0 --send echo-bad-checksum@0 --send time-exceeded-other-probe@0", "- -"},
    {"AnswerFromAnotherAddress", "--send echo-other-source@40", "O40 O40"},
    {"ReportQuotingIpOptions", "--send time-exceeded-options@40", "X40 X40"},
    // The copy of answer 1 arrives while probe 2, which the peer leaves unanswered, waits.
    {"DuplicateIsNotTheNextAnswer", "--send echo@0 --send echo@40 --drop-every 2", "T0 - T0"},
    // An answer to the next request waits in the socket until that request leaves; the pause
    // makes sure it arrived before (one that comes after can't be told from the answer).
    {"EarlyAnswerToTheNextProbe", "--send echo@0 --send echo-next-seq@0 --drop-every 2", "T0 - T0",
     20, false, 20},
};

class HostileReply : public ::testing::TestWithParam<std::tuple<bool, HostileCase>> {};

TEST_P(HostileReply, OnlyTheGenuineAnswerIsTaken)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const bool asUser = std::get<0>(GetParam());
    const HostileCase& row = std::get<1>(GetParam());
    const std::vector<std::string> want = Words(row.probes);
    const auto seen = [&](std::size_t i, const std::string& who, std::uint32_t rtt) {
        const std::uint32_t delay = i < want.size() && want[i] != "-" ? std::stoul(&want[i][1]) : 0;
        return who + std::to_string(rtt >= delay && rtt <= delay + row.slackMs ? delay : rtt) + " ";
    };
    RouterChain link(0, 231); // the client and the target, nothing between
    NetNamespace& client = link.client();
    NetNamespace& target = link.target();
    // The peer owns every answer; forged sources must not be filtered out.
    RunCommand("ip netns exec " + target.name() + " sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    RunCommand("ip netns exec " + client.name() + " sysctl -qw net.ipv4.ping_group_range='65534 " +
               "65534' net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0");
    std::vector<std::string> peer =
        Words("ip netns exec " + target.name() + " " + HOPWISE_RESPONDER_PATH + " --other-source " +
              kOther + " --seconds 20 --count " + std::to_string(want.size()) + " " + row.peer);
    ChildProcess responder(peer);
    ASSERT_TRUE(responder.waitFor(1, "ready\n", std::chrono::seconds(5))) << responder.err();

    std::string got;
    if (row.viaCli) {
        std::istringstream lines(
            RunCli(client, asUser,
                   "ping --timeout 300 --count " + std::to_string(want.size()) + " " + kTarget));
        std::size_t i = 0;
        for (std::string line; std::getline(lines, line);) {
            char from[32] = {};
            std::uint32_t rtt = 0;
            if (std::sscanf(line.c_str(), "%31s %u ms", from, &rtt) == 2)
                got += seen(i++, from == kTarget ? "T" : from, rtt);
        }
    } else {
        const sched_param realTime{.sched_priority = 10}; // the child inherits it; see RunCli
        sched_setscheduler(0, SCHED_FIFO, &realTime);
        got = RunInNamespace(client, asUser ? 65534 : 0, [&] {
            if (CheckEchoPermission() != (asUser ? IcmpSocketKind::Datagram : IcmpSocketKind::Raw))
                return std::string("not the socket kind this row is for");
            std::string text;
            for (std::size_t i = 0; i < want.size(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
                const EchoOutcome out = Echo(kTarget.c_str(), 300);
                const IpAddress from = out.record.address;
                const std::uint32_t status = out.record.status;
                const std::uint32_t rtt = out.record.roundTripTime;
                if (out.count == 0)
                    text += out.lastError == kIpReqTimedOut && out.elapsedMs >= 300 ? "- " : "? ";
                else if (from == Ip(kTarget.c_str()) && status == kIpSuccess &&
                         out.data == "hopwise")
                    text += seen(i, "T", rtt);
                else if (from == Ip(kOther.c_str()) && status == kIpSuccess)
                    text += seen(i, "O", rtt);
                else if (from == Ip(kOther.c_str()) && status == kIpTtlExpiredTransit)
                    text += seen(i, "X", rtt);
                else
                    text += std::to_string(from) + "/" + std::to_string(status) + " ";
            }
            return text;
        });
        const sched_param normal{.sched_priority = 0};
        sched_setscheduler(0, SCHED_OTHER, &normal);
    }
    EXPECT_EQ(got, std::string(row.probes) + " ");
    responder.finish(std::chrono::seconds(10));
    EXPECT_NE(responder.out().find("done requests " + std::to_string(want.size()) + " "),
              std::string::npos)
        << "the peer saw other requests than the probes: " << responder.out() << responder.err();
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileReply,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return RowName(std::get<0>(info.param), std::get<1>(info.param).name);
                         });

} // namespace
} // namespace hopwise::test
