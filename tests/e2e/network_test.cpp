// hopwise-cli and the echo engine over namespaced networks, each row over IPv4, IPv6 or both, as
// root (the raw socket) and as an ordinary user whose group alone the client's ping_group_range
// admits (the datagram socket). A chain of three routers, dual-stack for IPv6: names come from
// the client's own hosts file, and its resolv.conf points where nothing listens, so no lookup
// leaves it. A hostile peer (tools/icmp_responder) one link away: forged, malformed, duplicate
// and foreign packets are never taken as the answer, reports about our own probe are, and round
// trips read the peer's delay to the millisecond.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <sstream>
#include <thread>

#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "probe/resolver.h"
#include "tests/e2e/child_process.h"
#include "tests/probe/real_echo.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

// hopwise-cli's stdout from a run inside the client namespace, as root or as the ordinary user,
// which must end with the exit code given; its stderr goes to *err when given. Like the peer, it
// runs at a real-time priority: a busy build machine woke it up to 11 ms late, which would be
// charged to the engine's round trips.
std::string RunCli(const NetNamespace& client, bool asUser, const std::string& args,
                   int exitCode = 0, std::string* err = nullptr)
{
    ChildProcess cli(Words("ip netns exec " + client.name() + " chrt -f 10 " +
                           (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                           HOPWISE_CLI_PATH + " " + args));
    EXPECT_EQ(cli.finish(std::chrono::seconds(30)), exitCode) << cli.err();
    if (err != nullptr)
        *err = cli.err();
    return cli.out();
}

// Round-trip times and run times vary from run to run: each reads N (a padded column's blanks
// shrink to one; its width is checked in-process, with fixed times), as do a report's columns
// and, with --json, the time stamps; a report's start and the local host's name read T and H.
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

// The families a row runs for.
enum Families : unsigned { kIpv4 = 1, kIpv6 = 2, kBoth = kIpv4 | kIpv6 };

// A table's rows once for each family they run for, IPv6 marked true.
template <typename Row, std::size_t N>
std::vector<std::pair<bool, Row>> ForFamilies(const Row (&rows)[N])
{
    std::vector<std::pair<bool, Row>> runs;
    for (const Row& row : rows)
        for (const bool ipv6 : {false, true})
            if ((row.families & (ipv6 ? kIpv6 : kIpv4)) != 0)
                runs.emplace_back(ipv6, row);
    return runs;
}

template <typename Row>
using FamilyRow = std::tuple<bool, std::pair<bool, Row>>; // as the user, then the family's row

template <typename Row> std::string RowName(const ::testing::TestParamInfo<FamilyRow<Row>>& info)
{
    const auto& [asUser, run] = info.param;
    return std::string(asUser ? "User_" : "Root_") + (run.first ? "Ipv6_" : "Ipv4_") +
           run.second.name;
}

std::string Ipv6SkipReason()
{
    return access("/proc/sys/net/ipv6", F_OK) == 0 ? "" : "this kernel runs without IPv6";
}

// A row's arguments and output name what differs between the families by field: {t} is the
// target's address and {r0} to {r2} the routers' (each towards the client), {T} and {IP} the
// target's address and the heading padded to the width of ping's IP column.
struct ChainCase {
    const char* name;
    const char* args;
    std::vector<int> silentNodes; // routers 0-based, the target after the routers
    std::string out;
    unsigned families = kBoth;
    int exitCode = 0;
    const char* err = "";   // what stderr holds
    int halvingRouter = -1; // drops every second probe that ends at it (nftables)
};

std::string ForFamily(std::string text, const RouterChain& chain, bool ipv6)
{
    const std::size_t column = ipv6 ? 41 : 17;
    const auto router = [&](int i) {
        return ipv6 ? chain.routerAddress6(i) : chain.routerAddress(i);
    };
    const std::string target = ipv6 ? chain.targetAddress6() : chain.targetAddress();
    const std::pair<std::string, std::string> fields[] = {
        {"{t}", target},
        {"{T}", target + std::string(column - target.size(), ' ')},
        {"{IP}", "IP" + std::string(column - 2, ' ')},
        {"{r0}", router(0)},
        {"{r1}", router(1)},
        {"{r2}", router(2)},
    };
    for (const auto& [field, value] : fields)
        for (std::size_t at; (at = text.find(field)) != std::string::npos;)
            text.replace(at, field.size(), value);
    return text;
}

const std::string kReached = "Done\nDestination reached at hop 4\n";
const std::string kTrace =
    "Dest IP: {t}\n  1  {r0}  N ms\n  2  {r1}  N ms\n  3  {r2}  N ms\n  4  {t}  N ms\n" + kReached;
const std::string kReportHeading =
    "Start: T\nHOST: H Loss%   Snt     Last      Avg     Best     Wrst    StDev\n";

// Routers 2 and 3 silent: each reads No Response, their probes go out together with the
// others', and the trace still ends at the target, with nothing shown past it.
const std::string kSilentFromHopTwo =
    "Dest IP: {t}\n  1  {r0}  N ms\n  2  No Response\n  3  No Response\n  4  {t}  N ms\n" +
    kReached;

const std::string kPingHeader = "Dest IP: {t}\nSeq   {IP}Time        TTL\n";

const std::string kJsonHop = R"({"schema_version":1,"type":"hop","time":"T","hop":)";

const ChainCase kChainCases[] = {
    {"TraceNamesTheRoutersInOrder",
     "trace --resolve --timeout 1000 target.test",
     {},
     "Dest IP: {t}\n  1  {r0}  N ms r1.test\n  2  {r1}  N ms\n  3  {r2}  N ms r3.test\n"
     "  4  {t}  N ms target.test\n" +
         kReached},
    {"SilentFromHopTwo", "trace -w 0.3 {t}", {1, 2}, kSilentFromHopTwo},
    {"SilentFromHopTwoOneHopAtATime", "trace --parallel 1 -w 0.3 {t}", {1, 2}, kSilentFromHopTwo},
    // Hop 2's router drops every second probe that expires there; the other hops lose none.
    {"ReportCountsEachHopsLoss",
     "report --cycles 4 --interval 0 -w 0.3 10.213.3.2",
     {},
     kReportHeading + "  1.|-- 10.213.0.2                 0.0%     4 N N N N N\n"
                      "  2.|-- 10.213.1.2                50.0%     4 N N N N N\n"
                      "  3.|-- 10.213.2.2                 0.0%     4 N N N N N\n"
                      "  4.|-- 10.213.3.2                 0.0%     4 N N N N N\n",
     kIpv4,
     0,
     "",
     1},
    // The hop limit is the TTL's counterpart.
    {"PingReadsTheTargetsTtl",
     "ping -c 2 -i 0.05 -W 1 target.test",
     {},
     kPingHeader + "1     {T}N ms 61\n2     {T}N ms 61\nDone\n\n" +
         "--- target.test ping statistics ---\n" +
         "2 packets transmitted, 2 received, 0% packet loss, time Nms\n" +
         "rtt min/avg/max/mdev = N/N/N/N ms\n"},
    {"SilentHostExits1",
     "ping -c 2 -i 0 --timeout 300 {t}",
     {3},
     kPingHeader + "1     No Response\n2     No Response\nDone\n\n--- {t} ping statistics ---\n" +
         "2 packets transmitted, 0 received, 100% packet loss, time Nms\n",
     kBoth,
     1},
    {"UnresolvableNameExits3",
     "trace --json nosuch.test",
     {},
     R"({"schema_version":1,"type":"error","time":"T","code":"unresolved",)"
     R"("message":"Can't resolve name: nosuch.test","exit_code":3})"
     "\n",
     kIpv4,
     3},
    {"BadOptionExits2", "ping -c 1 -W 700 target.test", {}, "", kIpv4, 2},
    // The rows below run on the dual-stack chain, where target.test has only its IPv6 address
    // and both.test has both.
    {"TraceOfBothTakesIpv6WhenTold", "trace -6 both.test", {}, kTrace, kIpv6},
    {"TraceOfBothTakesIpv4",
     "trace both.test",
     {},
     "Dest IP: 10.213.3.2\n  1  10.213.0.2  N ms\n  2  10.213.1.2  N ms\n  3  10.213.2.2  N ms\n"
     "  4  10.213.3.2  N ms\n" +
         kReached,
     kIpv6},
    {"ReportListsTheIpv6Hops",
     "report -c 2 -i 0.1 -6 both.test",
     {},
     kReportHeading + "  1.|-- fd00:213::2                                0.0%     2 N N N N N\n"
                      "  2.|-- fd00:213:1::2                              0.0%     2 N N N N N\n"
                      "  3.|-- fd00:213:2::2                              0.0%     2 N N N N N\n"
                      "  4.|-- fd00:213:3::2                              0.0%     2 N N N N N\n",
     kIpv6},
    {"JsonCarriesIpv6Text",
     "trace --json --max-hop 3 target.test",
     {},
     R"({"schema_version":1,"type":"destination","time":"T","host":"target.test",)"
     R"("address":"{t}"})"
     "\n" +
         kJsonHop + R"(1,"address":"{r0}","rtt_us":N,"ttl":64,"status":11013,"name":null})" + "\n" +
         kJsonHop + R"(2,"address":"{r1}","rtt_us":N,"ttl":63,"status":11013,"name":null})" + "\n" +
         R"({"schema_version":1,"type":"summary","time":"T","final":true,"outcome":"done",)"
         R"("host":"target.test","address":"{t}","hops":2,"reached":false,"exit_code":1})"
         "\n",
     kIpv6,
     1},
    // The zone picks the link; without it the address names no router.
    {"PingsALinkLocalRouterThroughItsZone",
     "ping -c 1 fe80::213:2%hwr",
     {},
     "Dest IP: fe80::213:2%hwr\nSeq   {IP}Time        TTL\n"
     "1     fe80::213:2%hwr                          N ms 64\nDone\n\n"
     "--- fe80::213:2%hwr ping statistics ---\n"
     "1 packets transmitted, 1 received, 0% packet loss, time Nms\n"
     "rtt min/avg/max/mdev = N/N/N/N ms\n",
     kIpv6},
    {"AaaaOnlyNameWithIpv4OnlyExits3",
     "trace -4 target.test",
     {},
     "Done\n",
     kIpv6,
     3,
     "Can't resolve name"},
};

class RouterChainCli : public ::testing::TestWithParam<FamilyRow<ChainCase>> {};

TEST_P(RouterChainCli, PrintsTheRoute)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, run] = GetParam();
    const auto& [ipv6, row] = run;
    if (const std::string reason = Ipv6SkipReason(); ipv6 && !reason.empty())
        GTEST_SKIP() << reason;
    RouterChain chain(3, 213, ipv6 ? RouterChain::Stack::Dual : RouterChain::Stack::Ipv4);
    RunCommand("ip netns exec " + chain.client().name() +
               " sysctl -qw net.ipv4.ping_group_range='65534 65534'");
    chain.client().setHosts(
        ForFamily("127.0.0.1 localhost\n::1 localhost\n{r0} r1.test\n{r2} r3.test\n"
                  "{t} target.test\n10.213.3.2 both.test\nfd00:213:3::2 both.test\n",
                  chain, ipv6));
    const std::string ip = ipv6 ? "ip -6 -n " : "ip -n ";
    if (ipv6) {
        ASSERT_EQ(
            RunCommand(ip + chain.router(0).name() + " addr add fe80::213:2/64 dev hwl nodad"), 0);
    }
    for (const int silent : row.silentNodes) {
        if (silent == chain.routers()) {
            RunCommand(
                "ip netns exec " + chain.target().name() + " sysctl -qw " +
                (ipv6 ? "net.ipv6.icmp.echo_ignore_all=1" : "net.ipv4.icmp_echo_ignore_all=1"));
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
    std::string err;
    const std::string out =
        RunCli(chain.client(), asUser, ForFamily(row.args, chain, ipv6), row.exitCode, &err);
    EXPECT_EQ(WithoutTimes(out), ForFamily(row.out, chain, ipv6));
    EXPECT_NE(err.find(row.err), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Rows, RouterChainCli,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::ValuesIn(ForFamilies(kChainCases))),
                         RowName<ChainCase>);

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

struct HostileCase {
    const char* name;
    const char* peer; // icmp-responder's arguments: what it sends for each request
    // One word per probe: T (the target's answer), O (an answer from the other address), or X,
    // U, P (a time exceeded, host unreachable or packet too big report from it), then the
    // peer's delay D; "-" for a timeout.
    const char* probes;
    unsigned families = kBoth;
    // A round trip in [D, D + slack] reads D. Most rows tell an early forgery from the answer D
    // ms later, not how exact the round trip is, and a loaded machine (a sanitizer build beside
    // other tests) is late by tens of milliseconds. The rows about accuracy allow 1 ms: the
    // engine truncates to whole milliseconds, and the path itself adds well under one.
    std::uint32_t slackMs = 150;
    // Through hopwise-cli ping --json, whose summary must count the answers as received and the
    // reports as errors; else through the engine in-process.
    bool viaCli = false;
    int pauseMs = 0; // between probes
};

const HostileCase kHostileCases[] = {
    {"RoundTrip5ms", "--send echo@5", "T5 T5 T5", kBoth, 1},
    {"CliRoundTrip50ms", "--send echo@50", "T50 T50", kBoth, 1, true},
    {"BadChecksum", "--send echo-bad-checksum@0 --send echo@40", "T40 T40"},
    {"WrongIdOrSequence", "--send echo-wrong-id@0 --send echo-wrong-seq@0 --send echo@40",
     "T40 T40"},
    {"Truncated",
     "--send echo-truncated@0 --send time-exceeded-truncated@0 --send unreachable-truncated@0 "
     "--send echo@40",
     "T40 T40"},
    {"ReportAboutAnotherFlow",
     "--send time-exceeded-other-probe@0 --send time-exceeded-other-destination@0 "
     "--send unreachable-other-probe@0 --send echo@40",
     "T40 T40"},
    {"OnlyForgeries",
     "--send echo-wrong-id@0 --send echo-bad-checksum@0 --send time-exceeded-other-probe@0 "
     "--send time-exceeded-other-destination@0",
     "- -"},
    {"OversizedIsStillTheAnswer", "--send echo-oversized@40", "T40 T40", kBoth, 150, true},
    {"AnswerFromAnotherAddress", "--send echo-other-source@40", "O40 O40"},
    // The copy of answer 1 arrives while probe 2, which the peer leaves unanswered, waits.
    {"DuplicateIsNotTheNextAnswer", "--send echo@0 --send echo@40 --drop-every 2", "T0 - T0"},
    // An answer to the next request waits in the socket until that request leaves; the pause
    // makes sure it arrived before (one that comes after can't be told from the answer).
    {"EarlyAnswerToTheNextProbe", "--send echo@0 --send echo-next-seq@0 --drop-every 2", "T0 - T0",
     kBoth, 20, false, 20},
    {"TimeExceeded", "--send time-exceeded@40", "X40 X40", kBoth, 150, true},
    // The quoted request carries IP options (IPv4) or a destination options header (IPv6) to
    // walk past.
    {"ReportQuotingOptions", "--send time-exceeded-options@40", "X40 X40"},
    {"Unreachable", "--send unreachable@40", "U40", kBoth, 150, true},
    {"PacketTooBig", "--send packet-too-big@40", "P40", kIpv6, 150, true},
};

class HostileReply : public ::testing::TestWithParam<FamilyRow<HostileCase>> {};

TEST_P(HostileReply, OnlyTheGenuineAnswerIsTaken)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    // Named, not bound: the lambdas below capture them.
    const bool asUser = std::get<0>(GetParam());
    const bool ipv6 = std::get<0>(std::get<1>(GetParam()));
    const auto& row = std::get<1>(std::get<1>(GetParam()));
    if (const std::string reason = Ipv6SkipReason(); ipv6 && !reason.empty())
        GTEST_SKIP() << reason;
    const std::vector<std::string> want = Words(row.probes);
    const auto count = [&want](const std::string& letters) {
        return std::count_if(want.begin(), want.end(), [&letters](const std::string& word) {
            return letters.find(word[0]) != std::string::npos;
        });
    };
    RouterChain link(0, 231, ipv6 ? RouterChain::Stack::Dual : RouterChain::Stack::Ipv4);
    const std::string client = link.client().name();
    const std::string target = link.target().name();
    const std::string targetAddress = ipv6 ? link.targetAddress6() : link.targetAddress();
    const std::string otherAddress = ipv6 ? "fd00:231::7" : "10.231.9.7"; // held by no one
    // One word of HostileCase::probes.
    const auto seen = [&](std::size_t i, const std::string& from, std::uint32_t status,
                          std::uint32_t rtt) {
        std::string who = from + "/" + std::to_string(status) + "/";
        if (from == targetAddress && status == kIpSuccess)
            who = "T";
        else if (from == otherAddress)
            who = status == kIpSuccess               ? "O"
                  : status == kIpTtlExpiredTransit   ? "X"
                  : status == kIpDestHostUnreachable ? "U"
                  : status == kIpPacketTooBig        ? "P"
                                                     : who;
        const std::uint32_t delay = i < want.size() && want[i] != "-" ? std::stoul(&want[i][1]) : 0;
        return who + std::to_string(rtt >= delay && rtt <= delay + row.slackMs ? delay : rtt) + " ";
    };
    // The peer owns every answer; forged sources must not be filtered out. Neighbours are known
    // from the start: a fresh IPv6 link lost the first neighbour solicitation, which delayed the
    // first answer by a second.
    RunCommand("ip netns exec " + target + " sysctl -qw " +
               (ipv6 ? "net.ipv6.icmp.echo_ignore_all=1" : "net.ipv4.icmp_echo_ignore_all=1"));
    RunCommand("ip netns exec " + client + " sysctl -qw net.ipv4.ping_group_range='65534 " +
               "65534' net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0");
    const auto mac = [](const std::string& ns, const char* device) {
        return "$(ip -n " + ns + " -o link show " + device +
               " | grep -o 'ether [0-9a-f:]*' | cut -d' ' -f2)";
    };
    if (ipv6) {
        ASSERT_EQ(RunCommand("ip -n " + client + " neigh replace " + targetAddress +
                             " dev hwr lladdr " + mac(target, "hwl") + " && ip -n " + target +
                             " neigh replace fd00:231::1 dev hwl lladdr " + mac(client, "hwr")),
                  0);
    }
    ChildProcess responder(Words("ip netns exec " + target + " " + HOPWISE_RESPONDER_PATH +
                                 (ipv6 ? " --ipv6" : "") + " --other-source " + otherAddress +
                                 " --seconds 20 --count " + std::to_string(want.size()) + " " +
                                 row.peer));
    ASSERT_TRUE(responder.waitFor(1, "ready\n", std::chrono::seconds(5))) << responder.err();

    std::string got;
    if (row.viaCli) {
        const int exitCode = count("TO") > 0 ? 0 : 1;
        nlohmann::json summary;
        std::istringstream lines(RunCli(link.client(), asUser,
                                        "ping --json -i 0 --timeout 300 --count " +
                                            std::to_string(want.size()) + " " + targetAddress,
                                        exitCode));
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
            if (event.is_object() && event["type"] == "echo")
                got += event["address"].is_null()
                           ? std::string("- ")
                           : seen(event["seq"].get<std::size_t>() - 1, event["address"],
                                  event["status"], event["rtt_us"].get<std::uint32_t>() / 1000);
            else if (event.is_object() && event["type"] == "summary")
                summary = event;
        }
        EXPECT_EQ(summary.value("transmitted", -1), std::ssize(want)) << summary;
        EXPECT_EQ(summary.value("received", -1), count("TO")) << summary;
        EXPECT_EQ(summary.value("errors", -1), count("XUP")) << summary;
    } else {
        const sched_param realTime{.sched_priority = 10}; // the child inherits it; see RunCli
        sched_setscheduler(0, SCHED_FIFO, &realTime);
        got = RunInNamespace(link.client(), asUser ? 65534 : 0, [&] {
            if (CheckEchoPermission() != (asUser ? IcmpSocketKind::Datagram : IcmpSocketKind::Raw))
                return std::string("not the socket kind this row is for");
            const HostAddress destination = ResolveHost(targetAddress.c_str(), FamilyChoice::Any);
            std::string text;
            for (std::size_t i = 0; i < want.size(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
                const EchoOutcome out = Echo(destination, 300);
                const std::uint32_t status = out.record.status;
                if (out.count == 0)
                    text += out.lastError == kIpReqTimedOut && out.elapsedMs >= 300 ? "- " : "? ";
                else if (status == kIpSuccess && out.data != "hopwise")
                    text += "data:" + out.data + " ";
                else
                    text += seen(i, FormatAddress(out.responder), status, out.record.roundTripTime);
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
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::ValuesIn(ForFamilies(kHostileCases))),
                         RowName<HostileCase>);

} // namespace
} // namespace hopwise::test
