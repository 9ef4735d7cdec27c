// A router inside an MPLS network names the labels our probe carried in its time-exceeded
// report (RFC 4884 extensions, RFC 4950 label stack). icmp-responder poses as that router one
// link away, well-formed or hostile, over IPv4 and IPv6: hopwise-cli's trace, its JSON and the
// report show the labels of a well-formed report under the hop and none of a hostile one, whose
// hop still reads as the router's. As root on the raw socket, which hands over the whole report,
// and as an ordinary user on the datagram socket, where the kernel points at the extensions.

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

struct MplsCase {
    const char* name;
    const char* kind; // icmp-responder's --send
    bool labelled;    // the report's labels are believed
};

const MplsCase kCases[] = {
    {"WellFormed", "time-exceeded-mpls", true},
    {"BadChecksum", "time-exceeded-mpls-bad-checksum", false},
    {"LengthPastThePacket", "time-exceeded-mpls-bad-length", false},
    {"NoBottomOfStack", "time-exceeded-mpls-no-bottom", false},
};

using Run = std::tuple<bool, bool>; // as the user, IPv6

class MplsReports : public ::testing::TestWithParam<Run> {};

// One link for every row of a socket kind and family: a fresh peer per row.
TEST_P(MplsReports, ShowUnderTheirHopOnlyWhenWellFormed)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, ipv6] = GetParam();
    if (ipv6 && access("/proc/sys/net/ipv6", F_OK) != 0)
        GTEST_SKIP() << "this kernel runs without IPv6";
    RouterChain link(0, 233, ipv6 ? RouterChain::Stack::Dual : RouterChain::Stack::Ipv4);
    const std::string client = link.client().name();
    const std::string target = link.target().name();
    const std::string targetAddress = ipv6 ? link.targetAddress6() : link.targetAddress();
    const std::string router = ipv6 ? "fd00:233::7" : "10.233.9.7"; // held by no one
    RunCommand("ip netns exec " + target + " sysctl -qw " +
               (ipv6 ? "net.ipv6.icmp.echo_ignore_all=1" : "net.ipv4.icmp_echo_ignore_all=1"));
    RunCommand("ip netns exec " + client + " sysctl -qw net.ipv4.ping_group_range='65534 " +
               "65534' net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0");
    // The one-hop-at-a-time walk reads the labels beside SendEcho's record, the others from a
    // flight.
    const char* commands[] = {"trace -n", "trace -n --json", "report -c 1 -i 0 -n",
                              "trace -n --parallel 1"};
    // Only what differs between rows is compared: the hop's line and what follows it.
    const std::pair<std::regex, const char*> masks[] = {
        {std::regex(R"(\d+\.\d{3} ms)"), "N ms"},
        {std::regex(R"("rtt_us":\d+)"), R"("rtt_us":N)"},
        {std::regex(R"((\|-- \S+) .*)"), "$1 N"},
    };
    for (const MplsCase& row : kCases) {
        SCOPED_TRACE(row.name);
        ChildProcess responder(Words("ip netns exec " + target + " " + HOPWISE_RESPONDER_PATH +
                                     (ipv6 ? " --ipv6" : "") + " --other-source " + router +
                                     " --seconds 20 --count " +
                                     std::to_string(std::size(commands)) + " --send " + row.kind));
        ASSERT_TRUE(responder.waitFor(1, "ready\n", std::chrono::seconds(5))) << responder.err();
        const std::string lines = row.labelled ? "     [MPLS: Lbl 24001 TC 0 S 0 TTL 1]\n"
                                                 "     [MPLS: Lbl 16 TC 5 S 1 TTL 1]\n"
                                               : "";
        const std::string json = row.labelled ? R"(,"mpls":[{"label":24001,"tc":0,"s":0,"ttl":1},)"
                                                R"({"label":16,"tc":5,"s":1,"ttl":1}])"
                                              : "";
        std::string want[] = {
            "Dest IP: " + targetAddress + "\n  1  " + router + "  N ms\n" + lines +
                "Done\nDestination not reached\n",
            R"("hop":1,"address":")" + router + R"(","rtt_us":N,"ttl":64,"status":11013,)" +
                R"("name":null)" + json + "}\n",
            "  1.|-- " + router + " N\n" + lines,
            "",
        };
        want[3] = want[0];
        for (std::size_t i = 0; i < std::size(commands); ++i) {
            SCOPED_TRACE(commands[i]);
            ChildProcess cli(
                Words("ip netns exec " + client + " " +
                      (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                      HOPWISE_CLI_PATH + " " + commands[i] + " --max-hop 2 -w 1 " + targetAddress));
            EXPECT_EQ(cli.finish(std::chrono::seconds(10)), 1) << cli.err();
            std::string out = cli.out();
            for (const auto& [pattern, mask] : masks)
                out = std::regex_replace(out, pattern, mask);
            const std::size_t from = i == 1   ? out.find(R"("hop":1,)")
                                     : i == 2 ? out.find("  1.|--")
                                              : 0;
            const std::size_t to = i == 1 ? out.find('\n', from) + 1 : std::string::npos;
            EXPECT_EQ(from == std::string::npos ? out : out.substr(from, to - from), want[i]);
        }
        responder.finish(std::chrono::seconds(10));
        EXPECT_NE(
            responder.out().find("done requests " + std::to_string(std::size(commands)) + " "),
            std::string::npos)
            << responder.out() << responder.err();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, MplsReports,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Run>& info) {
                             return std::string(std::get<0>(info.param) ? "User_" : "Root_") +
                                    (std::get<1>(info.param) ? "Ipv6" : "Ipv4");
                         });

} // namespace
} // namespace hopwise::test
