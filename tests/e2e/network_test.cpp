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
#include "probe/resolver.h"
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

// hopwise-cli's stdout from a run inside the client namespace, as root or as the ordinary user,
// which must end with the exit code given. Like the peer, it runs at a real-time priority: a busy
// build machine woke it up to 11 ms late, which would be charged to the engine's round trips.
std::string RunCli(const NetNamespace& client, bool asUser, const std::string& args,
                   int exitCode = 0)
{
    ChildProcess cli(Words("ip netns exec " + client.name() + " chrt -f 10 " +
                           (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                           HOPWISE_CLI_PATH + " " + args));
    EXPECT_EQ(cli.finish(std::chrono::seconds(30)), exitCode) << cli.err();
    return cli.out();
}

// Round-trip times and run times vary from run to run: each reads N (a padded column's blanks
// shrink to one; its width is checked in-process, with fixed times), as do a report's columns,
// its start and the local host's name.
std::string WithoutTimes(const std::string& text)
{
    static const std::regex rtt(R"(= [\d.]+/[\d.]+/[\d.]+/[\d.]+ ms)");
    static const std::regex runTime(R"(time \d+ms)");
    static const std::regex padded(R"(\b\d+\.\d{3} ms +)");
    static const std::regex time(R"(\b\d+\.\d{3} ms)");
    std::string plain = std::regex_replace(text, rtt, "= N/N/N/N ms");
    plain = std::regex_replace(plain, runTime, "time Nms");
    static const std::regex column(R"( +\d+\.\d{3}(?=[ \n]))");
    // A report's start and the local host's name, padded to the address column.
    static const std::regex start(R"(Start: \S+\n)");
    static const std::regex localHost(R"(HOST: \S+ +Loss%)");
    plain = std::regex_replace(plain, start, "Start: T\n");
    plain = std::regex_replace(plain, localHost, "HOST: H Loss%");
    plain = std::regex_replace(plain, padded, "N ms ");
    plain = std::regex_replace(plain, time, "N ms");
    return std::regex_replace(plain, column, " N");
}

std::string RowName(bool asUser, const char* name)
{
    return std::string(asUser ? "User_" : "Root_") + name;
}

struct ChainCase {
    const char* name;
    const char* args;
    std::vector<int> silentNodes; // routers 0-based, the target after the routers
    std::string out;
    int exitCode = 0;
    int halvingRouter = -1; // drops every second probe that ends at it (nftables)
};

// Routers 2 and 3 silent: their probes go out together with the others', and the trace still
// ends at the target, with nothing shown past it.
const std::string kSilentFromHopTwo =
    "Dest IP: 10.213.3.2\n  1  10.213.0.2  N ms\n  2  No Response\n  3  No Response\n"
    "  4  10.213.3.2  N ms\nDone\nDestination reached at hop 4\n";

const std::string kPingHeader = "Dest IP: 10.213.3.2\nSeq   IP               Time        TTL\n";

const ChainCase kChainCases[] = {
    {"TraceNamesTheRoutersInOrder",
     "trace --resolve --timeout 1000 target.test",
     {},
     "Dest IP: 10.213.3.2\n  1  10.213.0.2  N ms r1.test\n  2  10.213.1.2  N ms\n"
     "  3  10.213.2.2  N ms r3.test\n  4  10.213.3.2  N ms target.test\nDone\n"
     "Destination reached at hop 4\n"},
    {"SilentRouterReadsNoResponse",
     "trace -w 0.3 10.213.3.2",
     {1},
     "Dest IP: 10.213.3.2\n  1  10.213.0.2  N ms\n  2  No Response\n  3  10.213.2.2  N ms\n"
     "  4  10.213.3.2  N ms\nDone\nDestination reached at hop 4\n"},
    {"SilentFromHopTwo", "trace -w 0.3 10.213.3.2", {1, 2}, kSilentFromHopTwo},
    {"SilentFromHopTwoOneHopAtATime",
     "trace --parallel 1 -w 0.3 10.213.3.2",
     {1, 2},
     kSilentFromHopTwo},
    // Hop 2's router drops every second probe that expires there; the other hops lose none.
    {"ReportCountsEachHopsLoss",
     "report --cycles 4 --interval 0 -w 0.3 10.213.3.2",
     {},
     "Start: T\nHOST: H Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
     "  1.|-- 10.213.0.2                 0.0%     4 N N N N N\n"
     "  2.|-- 10.213.1.2                50.0%     4 N N N N N\n"
     "  3.|-- 10.213.2.2                 0.0%     4 N N N N N\n"
     "  4.|-- 10.213.3.2                 0.0%     4 N N N N N\n",
     0,
     1},
    {"OnePingReadsTheTargetsTtl",
     "ping -c 1 -W 1 target.test",
     {},
     kPingHeader + "1     10.213.3.2       N ms 61\nDone\n\n--- target.test ping statistics ---\n" +
         "1 packets transmitted, 1 received, 0% packet loss, time Nms\n" +
         "rtt min/avg/max/mdev = N/N/N/N ms\n"},
    {"SilentHostExits1",
     "ping -c 2 -i 0 --timeout 300 10.213.3.2",
     {3},
     kPingHeader + "1     No Response\n2     No Response\nDone\n\n" +
         "--- 10.213.3.2 ping statistics ---\n" +
         "2 packets transmitted, 0 received, 100% packet loss, time Nms\n",
     1},
    {"UnresolvableNameExits3", "trace --json nosuch.test", {}, "", 3},
    {"BadOptionExits2", "ping -c 1 -W 700 target.test", {}, "", 2},
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
    for (const int silent : row.silentNodes) {
        if (silent == chain.routers()) {
            RunCommand("ip netns exec " + chain.target().name() +
                       " sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
            continue;
        }
        chain.silence(silent);
    }
    if (row.halvingRouter >= 0) {
        if (RunCommand("command -v nft") != 0) {
            GTEST_SKIP() << "nft is not installed (tools/install-deps.sh installs nftables)";
        }
        const std::string nft = "ip netns exec " + chain.router(row.halvingRouter).name() + " nft ";
        ASSERT_EQ(RunCommand(nft + "add table ip halve && " + nft +
                             "'add chain ip halve in { type filter hook prerouting priority -300; "
                             "}' && " +
                             nft + "add rule ip halve in ip ttl 1 icmp type echo-request " +
                             "numgen inc mod 2 == 1 drop"),
                  0);
    }
    const std::string out = RunCli(chain.client(), asUser, row.args, row.exitCode);
    if (row.exitCode == 3) {
        EXPECT_NE(out.find(R"("code":"unresolved")"), std::string::npos) << out;
    } else {
        EXPECT_EQ(WithoutTimes(out), row.out);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RouterChainCli,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kChainCases)),
                         [](const auto& info) {
                             return RowName(std::get<0>(info.param), std::get<1>(info.param).name);
                         });

// Ctrl-\ prints the summary so far on stderr and the run goes on; Ctrl-C then ends it with the
// final summary, and with exit code 0 as replies came.
TEST(RunningPing, QuitShowsTheSummarySoFarThenInterruptEndsTheRun)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    using std::chrono_literals::operator""s;
    NetNamespace ns("sig");
    ChildProcess ping(
        {"ip", "netns", "exec", ns.name(), HOPWISE_CLI_PATH, "ping", "-i", "0.05", "127.0.0.1"});
    ASSERT_TRUE(ping.waitFor(1, "\n3     127.0.0.1", 5s)) << ping.err();
    ping.signal(SIGQUIT);
    const std::string heading = "--- 127.0.0.1 ping statistics ---\n";
    ASSERT_TRUE(ping.waitFor(2, heading, 5s)) << ping.err();
    ASSERT_TRUE(ping.waitFor(2, "ms\n", 5s)) << ping.err();
    const std::string running = ping.err().substr(ping.err().find(heading) + heading.size());
    const long sent = std::stol(running);
    EXPECT_NE(running.find(" packets transmitted, " + std::to_string(sent) + " received"),
              std::string::npos)
        << running;
    EXPECT_TRUE(ping.waitFor(1, "\n" + std::to_string(sent + 2) + "     127.0.0.1", 5s));
    ping.signal(SIGINT);
    EXPECT_EQ(ping.finish(10s), 0) << ping.err();
    EXPECT_NE(ping.out().find("Cancelled\n\n" + heading), std::string::npos) << ping.out();
}

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
        std::istringstream lines(RunCli(client, asUser,
                                        "ping -i 0 --timeout 300 --count " +
                                            std::to_string(want.size()) + " " + kTarget));
        std::size_t i = 0;
        for (std::string line; std::getline(lines, line);) {
            char from[32] = {};
            std::uint32_t rtt = 0;
            double ms = 0;
            if (std::sscanf(line.c_str(), "%*d %31s %lf ms", from, &ms) == 2) {
                rtt = static_cast<std::uint32_t>(ms);
                got += seen(i++, from == kTarget ? "T" : from, rtt);
            }
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

// A name with several addresses resolves to the first one its hosts file lists. With IPv6 on and
// one of the addresses on the client's own subnet, an RFC 6724 sort would put that one first
// whatever the file's order, so one of the two orders catches it.
TEST(SystemResolver, TakesTheFirstAddressInTheHostsFilesOrder)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    NetNamespace client("resolve");
    ASSERT_EQ(RunCommand("ip netns exec " + client.name() +
                         " sh -c 'sysctl -qw net.ipv6.conf.all.disable_ipv6=0 "
                         "net.ipv6.conf.default.disable_ipv6=0 && ip link add va type veth peer "
                         "name vb && ip link set va up && ip link set vb up && "
                         "ip addr add 10.77.1.1/24 dev va'"),
              0);
    for (const std::string first : {"10.99.0.5", "10.77.1.5"}) {
        const std::string other = first == "10.99.0.5" ? "10.77.1.5" : "10.99.0.5";
        client.setHosts(first + " multi.test\n" + other + " multi.test\n");
        EXPECT_EQ(RunInNamespace(client, 0,
                                 [&first] {
                                     const auto address = SystemHostResolver().lookUpName(
                                         "multi.test", AddressFamily::Ipv4);
                                     const std::string got =
                                         address ? FormatAddress(*address) : "no address";
                                     return got == first ? std::string() : "took " + got;
                                 }),
                  "")
            << "hosts file: " << first << " first";
    }
}

} // namespace
} // namespace hopwise::test
