// hopwise-cli over a chain of three routers in namespaces: names come from the client namespace's
// own hosts file, and its resolv.conf points where nothing listens, so no lookup leaves it. Every
// row runs as root (the raw socket) and as an ordinary user (the datagram socket).

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

struct ChainCase {
    const char* name;
    std::vector<std::string> args;
    int silentRouter; // 0-based; -1 when every router reports
    std::string out;
};

const ChainCase kCases[] = {
    {"TraceNamesTheRoutersInOrder",
     {"trace", "--resolve", "--timeout", "1000", "target.test"},
     -1,
     "Dest IP: 10.213.3.2\n10.213.0.2 [N ms]\n    r1.test\n10.213.1.2 [N ms]\n"
     "10.213.2.2 [N ms]\n    r3.test\n10.213.3.2 [N ms]\n    target.test\nDone\n"},
    {"SilentRouterReadsNoResponse",
     {"trace", "--timeout", "300", "10.213.3.2"},
     1,
     "Dest IP: 10.213.3.2\n10.213.0.2 [N ms]\nNo Response [N ms]\n10.213.2.2 [N ms]\n"
     "10.213.3.2 [N ms]\nDone\n"},
    {"OnePingReadsTheTargetsTtl",
     {"ping", "--count", "1", "--timeout", "1000", "target.test"},
     -1,
     "Dest IP: 10.213.3.2\nIP               Time      TTL\n10.213.3.2       N ms 61\nDone\n"},
};

class RouterChainCli : public ::testing::TestWithParam<std::tuple<bool, ChainCase>> {};

TEST_P(RouterChainCli, PrintsTheRoute)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, row] = GetParam();
    RouterChain chain(3, 213);
    // Only the ordinary user's group may open datagram sockets; root is left the raw socket.
    chain.client().sysctl("net.ipv4.ping_group_range", "65534 65534");
    NamespaceEtcFiles files(chain.client().name(), "127.0.0.1 localhost\n10.213.0.2 r1.test\n"
                                                   "10.213.2.2 r3.test\n10.213.3.2 target.test\n");
    // The router still forwards, but what it sends itself has no route.
    if (row.silentRouter >= 0) {
        ASSERT_EQ(chain.router(row.silentRouter)
                      .exec("ip rule add iif lo lookup 77 && ip route add unreachable default "
                            "table 77"),
                  0);
    }
    std::vector<std::string> prefix{"ip", "netns", "exec", chain.client().name()};
    if (asUser)
        prefix.insert(prefix.end(),
                      {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const CliOutcome run = RunCli(row.args, prefix, std::chrono::seconds(30));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(WithoutTimes(run.out), row.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, RouterChainCli,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "User_" : "Root_") +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace hopwise::test
