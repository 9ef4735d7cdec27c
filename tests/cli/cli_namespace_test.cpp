// hopwise-cli end to end over a chain of routers in network namespaces this test makes and
// removes. Packets never leave the namespaces; names come from the client namespace's own hosts
// file, and its resolv.conf points at 127.0.0.1 there so an unknown name never leaves either.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/exit_codes.h"
#include "probe/echo_permission.h"
#include "tests/cli/cli_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

constexpr int kRouters = 3;
constexpr int kChainBase = 213;

// The router stops generating ICMP of its own (time exceeded included) but still forwards:
// locally generated packets are routed through a table whose only route is unreachable.
void SilenceRouter(NetNamespace& router)
{
    ASSERT_EQ(router.exec("ip rule add iif lo lookup 77 pref 50 && "
                          "ip route add unreachable default table 77"),
              0);
}

class CliNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = NetNamespaceSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << "needs network namespaces: " << reason;
        }
        m_chain = std::make_unique<RouterChain>(kRouters, kChainBase);
    }

    Args inClient() const { return {"ip", "netns", "exec", m_chain->client().name()}; }
    CliOutcome cli(const Args& args) { return RunCli(args, inClient(), 30s); }

    std::string router(int i) const { return m_chain->routerAddress(i); }
    std::string target() const { return m_chain->targetAddress(); }

    std::unique_ptr<RouterChain> m_chain;
};

TEST_F(CliNamespaceTest, TraceListsTheRoutersInOrderAndEndsAtTheTarget)
{
    const CliOutcome run = cli({"trace", "--timeout", "1000", target()});
    EXPECT_EQ(run.exitCode, cli::kExitDone) << run.err;
    EXPECT_EQ(WithoutTimes(run.out), "Dest IP: " + target() + "\n" + router(0) + " [N ms]\n" +
                                         router(1) + " [N ms]\n" + router(2) + " [N ms]\n" +
                                         target() +
                                         " [N ms]\n"
                                         "Done\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(CliNamespaceTest, SilentRouterReadsNoResponseAndTheWalkGoesOn)
{
    SilenceRouter(m_chain->router(1));
    const CliOutcome run = cli({"trace", "--timeout", "300", target()});
    EXPECT_EQ(run.exitCode, cli::kExitDone) << run.err;
    EXPECT_EQ(WithoutTimes(run.out), "Dest IP: " + target() + "\n" + router(0) +
                                         " [N ms]\n"
                                         "No Response [N ms]\n" +
                                         router(2) + " [N ms]\n" + target() +
                                         " [N ms]\n"
                                         "Done\n");
}

TEST_F(CliNamespaceTest, MaxHopStopsTheWalkOneHopShort)
{
    const CliOutcome run = cli({"trace", "--max-hop", "3", "--timeout", "500", target()});
    EXPECT_EQ(run.exitCode, cli::kExitDone);
    EXPECT_EQ(WithoutTimes(run.out), "Dest IP: " + target() + "\n" + router(0) + " [N ms]\n" +
                                         router(1) + " [N ms]\nDone\n");
}

TEST_F(CliNamespaceTest, ResolveShowsNamesFromTheHostsFile)
{
    // Router 1 has no entry: its reverse lookup goes to 127.0.0.1 inside the namespace and fails.
    NamespaceEtcFiles files(m_chain->client().name(),
                            "127.0.0.1 localhost\n" + router(0) + " r0.hopwise.test\n" + router(2) +
                                " r2.hopwise.test\n" + target() + " target.hopwise.test\n");
    const CliOutcome run = cli({"trace", "--resolve", "--timeout", "1000", "target.hopwise.test"});
    EXPECT_EQ(run.exitCode, cli::kExitDone) << run.err;
    EXPECT_EQ(WithoutTimes(run.out), "Dest IP: " + target() + "\n" + router(0) +
                                         " [N ms]\n    r0.hopwise.test\n" + router(1) +
                                         " [N ms]\n" + router(2) +
                                         " [N ms]\n    r2.hopwise.test\n" + target() +
                                         " [N ms]\n    target.hopwise.test\n"
                                         "Done\n");
}

TEST_F(CliNamespaceTest, UnknownNameCantBeResolved)
{
    NamespaceEtcFiles files(m_chain->client().name(), "127.0.0.1 localhost\n");
    const CliOutcome run = cli({"trace", "nowhere.hopwise.test"});
    EXPECT_EQ(run.exitCode, cli::kExitUnresolved);
    EXPECT_EQ(run.out, "Done\n");
    EXPECT_EQ(run.err, "Can't resolve name\n");
}

TEST_F(CliNamespaceTest, JsonTraceReportsStatusAndReplyTtlPerHop)
{
    const CliOutcome run = cli({"trace", "--json", "--timeout", "1000", target()});
    EXPECT_EQ(run.exitCode, cli::kExitDone);
    std::vector<nlohmann::json> hops;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line);
        if (event["event"] == "hop") {
            hops.push_back(event);
        }
    }
    ASSERT_EQ(hops.size(), 4u) << run.out;
    for (int i = 0; i < kRouters; ++i) {
        EXPECT_EQ(hops[i]["hop"], i + 1);
        EXPECT_EQ(hops[i]["address"], router(i));
        EXPECT_EQ(hops[i]["status"], 11013) << "time exceeded in transit";
        EXPECT_EQ(hops[i]["reply_ttl"], 64 - i)
            << "router " << i << "'s own TTL, less the routers before it";
    }
    EXPECT_EQ(hops[3]["address"], target());
    EXPECT_EQ(hops[3]["status"], 0);
}

struct PingTtlCase {
    const char* name;
    std::string ttl;
    int responder; // router index, or -1 for the target
    int replyTtl;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PingTtlCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliNamespacePingTest : public CliNamespaceTest,
                             public ::testing::WithParamInterface<PingTtlCase> {};

TEST_P(CliNamespacePingTest, RowsShowTheReplyTtlTheResponderSent)
{
    m_chain->target().sysctl("net.ipv4.ip_default_ttl", "77");
    const CliOutcome run =
        cli({"ping", "--count", "2", "--ttl", GetParam().ttl, "--timeout", "1000", target()});
    EXPECT_EQ(run.exitCode, cli::kExitDone) << run.err;
    const std::string responder =
        GetParam().responder < 0 ? target() : router(GetParam().responder);
    char row[96];
    std::snprintf(row, sizeof row, "%-16s N ms %d\n", responder.c_str(), GetParam().replyTtl);
    EXPECT_EQ(WithoutTimes(run.out),
              "Dest IP: " + target() + "\nIP               Time      TTL\n" + row + row + "Done\n");
}

INSTANTIATE_TEST_SUITE_P(Ttls, CliNamespacePingTest,
                         ::testing::Values(PingTtlCase{"ReachesTarget", "20", -1, 77 - kRouters},
                                           PingTtlCase{"ExactlyEnough", "4", -1, 77 - kRouters},
                                           PingTtlCase{"ExpiresAtLastRouter", "3", 2, 64 - 2},
                                           PingTtlCase{"ExpiresAtFirstRouter", "1", 0, 64}),
                         [](const auto& info) { return std::string(info.param.name); });

// ICMP messages the namespace's stack has taken in (an ignored echo request counts too).
int IcmpMessagesIn(const NetNamespace& ns)
{
    std::string output;
    ns.exec("awk '/^Icmp:/ { if (++n == 2) print $2 }' /proc/net/snmp", &output);
    return output.empty() ? -1 : std::stoi(output);
}

TEST_F(CliNamespaceTest, SecondCtrlCLeavesAtOnceWhileAProbeWaits)
{
    m_chain->target().sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    const int before = IcmpMessagesIn(m_chain->target());
    CliProcess process(CliCommand({"ping", "--timeout", "60000", target()}, inClient()));
    if (!process.waitForOutput("TTL\n", 10s)) {
        const CliOutcome early = process.finish(1s);
        FAIL() << "exit " << early.exitCode << "\n" << early.out << early.err;
    }
    // Only once the request reached the target is the probe surely in flight.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (IcmpMessagesIn(m_chain->target()) <= before &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(IcmpMessagesIn(m_chain->target()), before);
    process.signal(SIGINT); // the probe in flight still waits out its timeout, as the page's would
    ASSERT_TRUE(process.waitForError("Ctrl-C again", 10s));
    process.signal(SIGINT);
    const CliOutcome run = process.finish(10s);
    EXPECT_FALSE(run.timedOut) << "a second Ctrl-C must not wait for the probe";
    EXPECT_EQ(run.exitCode, cli::kExitInterrupted);
    EXPECT_EQ(run.out.find("Cancelled"), std::string::npos);
}

TEST_F(CliNamespaceTest, FirstCtrlCEndsAnEndlessRunWithCancelled)
{
    m_chain->target().sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    CliProcess process(CliCommand({"ping", "--timeout", "300", target()}, inClient()));
    ASSERT_TRUE(process.waitForOutput("No Response\n", 10s)) << process.out();
    process.signal(SIGINT);
    const CliOutcome run = process.finish(10s);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, cli::kExitCancelled);
    ASSERT_GE(run.out.size(), 10u);
    EXPECT_EQ(run.out.substr(run.out.size() - 10), "Cancelled\n");
    EXPECT_NE(run.err.find("Ctrl-C again to quit"), std::string::npos);
}

TEST_F(CliNamespaceTest, NoIcmpPermissionGivesTheHintAndItsExitCode)
{
    // Neither socket kind: no group may open datagram ICMP sockets here, and the process runs
    // without CAP_NET_RAW.
    m_chain->client().sysctl("net.ipv4.ping_group_range", "1 0");
    Args prefix = inClient();
    prefix.insert(prefix.end(), {"setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw"});
    const CliOutcome run = RunCli({"ping", "--count", "1", target()}, prefix, 10s);
    EXPECT_EQ(run.exitCode, cli::kExitNotPermitted) << run.err;
    EXPECT_EQ(run.out, "");
    // The hint names the program that was refused, not this test.
    EXPECT_EQ(run.err.rfind("ICMP sockets are not permitted for this user", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(std::string("sudo setcap cap_net_raw+p ") + HOPWISE_CLI_PATH + "\n"),
              std::string::npos)
        << run.err;
}

} // namespace
} // namespace hopwise::test
