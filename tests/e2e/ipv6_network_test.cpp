// hopwise-cli over a dual-stack chain of three routers, each row as root (the raw ICMPv6 socket)
// and as an ordinary user admitted by the client's ping_group_range (the datagram socket). The
// client's hosts file names only6.test (AAAA only), both.test (A and AAAA) and router 2; its
// resolv.conf points where nothing listens, so no lookup leaves it.

#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

struct CliRun {
    std::string out, err;
    int exitCode;
};

// Like the IPv4 chain's runs, at a real-time priority so that a busy machine's late wake-ups are
// not charged to the round trips (which are masked anyway, but a late one can outlast -w).
CliRun RunCli(const NetNamespace& client, bool asUser, const std::string& args)
{
    std::istringstream in("ip netns exec " + client.name() + " chrt -f 10 " +
                          (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                          HOPWISE_CLI_PATH + " " + args);
    ChildProcess cli(
        {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()});
    const int exitCode = cli.finish(std::chrono::seconds(30));
    return {cli.out(), cli.err(), exitCode};
}

// What varies from run to run reads N: round trips, run times, a report's columns and, with
// --json, the time stamps; a report's start and the local host's name read T and H.
std::string WithoutTimes(const std::string& text)
{
    static const std::pair<std::regex, const char*> kMasks[] = {
        {std::regex(R"(= [\d.]+/[\d.]+/[\d.]+/[\d.]+ ms)"), "= N/N/N/N ms"},
        {std::regex(R"(time \d+ms)"), "time Nms"},
        {std::regex(R"(\b\d+\.\d{3} ms +)"), "N ms "},
        {std::regex(R"(\b\d+\.\d{3} ms)"), "N ms"},
        {std::regex(R"( +\d+\.\d{3}(?=[ \n]))"), " N"},
        {std::regex(R"("time":"[^"]+")"), R"("time":"T")"},
        {std::regex(R"("rtt_us":\d+)"), R"("rtt_us":N)"},
        {std::regex(R"(Start: \S+\n)"), "Start: T\n"},
        {std::regex(R"(HOST: \S+ +Loss%)"), "HOST: H Loss%"},
    };
    std::string plain = text;
    for (const auto& [pattern, mask] : kMasks)
        plain = std::regex_replace(plain, pattern, mask);
    return plain;
}

struct Ipv6Case {
    const char* name;
    const char* args;
    std::string out;
    int exitCode = 0;
    const char* err = ""; // what stderr holds
};

const std::string kTrace6 = "Dest IP: fd00:217:3::2\n  1  fd00:217::2  N ms\n"
                            "  2  fd00:217:1::2  N ms\n  3  fd00:217:2::2  N ms\n"
                            "  4  fd00:217:3::2  N ms\nDone\nDestination reached at hop 4\n";

const std::string kJsonHop = R"({"schema_version":1,"type":"hop","time":"T","hop":)";

const Ipv6Case kCases[] = {
    {"TraceShowsEveryRoutersAddress", "trace only6.test", kTrace6},
    {"WalkShowsTheSame", "trace --parallel 1 only6.test", kTrace6},
    {"TraceOfBothTakesIpv6WhenTold", "trace -6 both.test", kTrace6},
    {"TraceOfBothTakesIpv4", "trace both.test",
     "Dest IP: 10.217.3.2\n  1  10.217.0.2  N ms\n  2  10.217.1.2  N ms\n  3  10.217.2.2  N ms\n"
     "  4  10.217.3.2  N ms\nDone\nDestination reached at hop 4\n"},
    {"ResolveNamesRoutersFromTheHostsFile", "trace --resolve only6.test",
     "Dest IP: fd00:217:3::2\n  1  fd00:217::2  N ms\n  2  fd00:217:1::2  N ms r2.test\n"
     "  3  fd00:217:2::2  N ms\n  4  fd00:217:3::2  N ms only6.test\nDone\n"
     "Destination reached at hop 4\n"},
    {"PingReadsTheHopLimit", "ping -c 3 -i 0.05 only6.test",
     "Dest IP: fd00:217:3::2\nSeq   IP                                       Time        TTL\n"
     "1     fd00:217:3::2                            N ms 61\n2     fd00:217:3::2                  "
     "          N ms 61\n"
     "3     fd00:217:3::2                            N ms 61\nDone\n\n--- only6.test ping "
     "statistics ---\n"
     "3 packets transmitted, 3 received, 0% packet loss, time Nms\n"
     "rtt min/avg/max/mdev = N/N/N/N ms\n"},
    {"ReportListsTheIpv6Hops", "report -c 2 -i 0.1 -6 both.test",
     "Start: T\nHOST: H Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
     "  1.|-- fd00:217::2                                0.0%     2 N N N N N\n"
     "  2.|-- fd00:217:1::2                              0.0%     2 N N N N N\n"
     "  3.|-- fd00:217:2::2                              0.0%     2 N N N N N\n"
     "  4.|-- fd00:217:3::2                              0.0%     2 N N N N N\n"},
    {"JsonCarriesIpv6Text", "trace --json --max-hop 3 only6.test",
     R"({"schema_version":1,"type":"destination","time":"T","host":"only6.test",)"
     R"("address":"fd00:217:3::2"})"
     "\n" +
         kJsonHop + R"(1,"address":"fd00:217::2","rtt_us":N,"ttl":64,"status":11013,"name":null})" +
         "\n" + kJsonHop +
         R"(2,"address":"fd00:217:1::2","rtt_us":N,"ttl":63,"status":11013,"name":null})" + "\n" +
         R"({"schema_version":1,"type":"summary","time":"T","final":true,"outcome":"done",)"
         R"("host":"only6.test","address":"fd00:217:3::2","hops":2,"reached":false,)"
         R"("exit_code":1})"
         "\n",
     1},
    // The zone picks the link; without it the address names no router.
    {"PingsALinkLocalRouterThroughItsZone", "ping -c 1 fe80::217:2%hwr",
     "Dest IP: fe80::217:2%hwr\nSeq   IP                                       Time        TTL\n"
     "1     fe80::217:2%hwr                          N ms 64\nDone\n\n--- fe80::217:2%hwr ping "
     "statistics ---\n"
     "1 packets transmitted, 1 received, 0% packet loss, time Nms\n"
     "rtt min/avg/max/mdev = N/N/N/N ms\n"},
    {"AaaaOnlyNameWithIpv4OnlyExits3", "trace -4 only6.test", "Done\n", 3, "Can't resolve name"},
    {"Ipv4LiteralWithIpv6OnlyExits3", "ping -6 -c 1 10.217.3.2", "Done\n", 3, "Can't resolve name"},
};

class Ipv6RouterChain : public ::testing::TestWithParam<std::tuple<bool, Ipv6Case>> {};

TEST_P(Ipv6RouterChain, PrintsTheRoute)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, row] = GetParam();
    RouterChain chain(3, 217, RouterChain::Stack::Dual);
    ASSERT_EQ(RunCommand("ip netns exec " + chain.client().name() +
                         " sysctl -qw net.ipv4.ping_group_range='65534 65534'"),
              0);
    ASSERT_EQ(
        RunCommand("ip -n " + chain.router(0).name() + " addr add fe80::217:2/64 dev hwl nodad"),
        0);
    chain.client().setHosts("127.0.0.1 localhost\n::1 localhost\nfd00:217:3::2 only6.test\n"
                            "10.217.3.2 both.test\nfd00:217:3::2 both.test\n"
                            "fd00:217:1::2 r2.test\n");
    const CliRun run = RunCli(chain.client(), asUser, row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_EQ(WithoutTimes(run.out), row.out);
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, Ipv6RouterChain,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "User_" : "Root_") +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace hopwise::test
