// UDP and TCP probes through routers that drop ICMP echo but forward the rest, as an ordinary user
// with no permission to send ICMP: the route shows every router and the destination answering
// (a port unreachable, a SYN-ACK from a listening port, a reset from a closed one), where ICMP
// echo meets a wall of unanswered hops; and no TCP socket is left behind. IPv4 and IPv6.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

constexpr int kRouters = 3; // the target is hop 4
constexpr int kListening = 8443;
constexpr int kClosed = 8444;

struct MethodRow {
    const char* args;  // {t}: the target
    const char* route; // the JSON's method ("none" for ICMP echo), then hop:responder ({rN}: router
                       // N, {t}: target)
    int exitCode;
    bool pingAllowed; // ICMP needs ping_group_range; UDP and TCP run without it
};

const MethodRow kRows[] = {
    {"trace --json -U -w 1 {t}", "udp 1:{r0} 2:{r1} 3:{r2} 4:{t} ", 0, false},
    {"trace --json -T -p 8443 -w 1 {t}", "tcp 1:{r0} 2:{r1} 3:{r2} 4:{t} ", 0, false},
    {"trace --json --tcp --port 8444 -w 1 {t}", "tcp 1:{r0} 2:{r1} 3:{r2} 4:{t} ", 0, false},
    {"report --json -T -p 8443 -c 2 -i 0.1 -w 1 --max-hop 5 {t}", "tcp 1:{r0} 2:{r1} 3:{r2} 4:{t} ",
     0, false},
    {"trace --json -w 0.3 --max-hop 5 {t}", "none 1:{r0} 2:* 3:* 4:* ", 1, true},
};

std::string Filled(std::string text, const RouterChain& chain, bool ipv6)
{
    for (int i = 0; i <= kRouters; ++i) {
        const std::string field = i < kRouters ? "{r" + std::to_string(i) + "}" : "{t}";
        const std::string value = i < kRouters
                                      ? (ipv6 ? chain.routerAddress6(i) : chain.routerAddress(i))
                                      : (ipv6 ? chain.targetAddress6() : chain.targetAddress());
        for (std::size_t at; (at = text.find(field)) != std::string::npos;)
            text.replace(at, field.size(), value);
    }
    return text;
}

// "method hop:responder ...": a trace's hop objects, or a report's rows (first responder).
std::string Route(const std::string& json)
{
    std::string route;
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json o = nlohmann::json::parse(line, nullptr, false);
        const std::string type = o.is_object() ? o.value("type", "") : "";
        if (type == "destination")
            route += o.value("method", "none") + " ";
        if (type == "hop")
            route += std::to_string(o["hop"].get<int>()) + ":" +
                     (o["address"].is_null() ? "*" : o["address"].get<std::string>()) + " ";
        if (type == "report_hop")
            route += std::to_string(o["hop"].get<int>()) + ":" +
                     (o["addresses"].empty() ? "*" : o["addresses"][0].get<std::string>()) + " ";
    }
    return route;
}

// Sockets of the namespace's TCP tables, listening ones aside.
int TcpSockets(const NetNamespace& ns)
{
    std::string out;
    RunCommand("ip netns exec " + ns.name() + " cat /proc/net/tcp /proc/net/tcp6", &out);
    int count = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> words = Words(line);
        count += words.size() > 3 && words[0] != "sl" && words[3] != "0A"; // 0A: listening
    }
    return count;
}

class ProbeMethods : public ::testing::TestWithParam<bool> {};

TEST_P(ProbeMethods, ReachTheTargetPastRoutersThatDropEcho)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    if (RunCommand("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "nft is not installed (tools/install-deps.sh installs nftables)";
    const bool ipv6 = GetParam();
    RouterChain chain(kRouters, 217, ipv6 ? RouterChain::Stack::Dual : RouterChain::Stack::Ipv4);
    chain.dropEchoInForward();
    int listener = -1;
    {
        const EnterNamespace inTarget(chain.target()); // the socket stays in its namespace
        listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 any6{};
        any6.sin6_family = AF_INET6;
        any6.sin6_port = htons(kListening);
        sockaddr_in any4{};
        any4.sin_family = AF_INET;
        any4.sin_port = htons(kListening);
        ASSERT_EQ(ipv6 ? bind(listener, reinterpret_cast<sockaddr*>(&any6), sizeof any6)
                       : bind(listener, reinterpret_cast<sockaddr*>(&any4), sizeof any4),
                  0);
        ASSERT_EQ(listen(listener, 16), 0);
    }
    for (const MethodRow& row : kRows) {
        SCOPED_TRACE(row.args);
        if (row.pingAllowed)
            RunCommand("ip netns exec " + chain.client().name() +
                       " sysctl -qw net.ipv4.ping_group_range='65534 65534'");
        ChildProcess cli(Words("ip netns exec " + chain.client().name() +
                               " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                               HOPWISE_CLI_PATH + " " + Filled(row.args, chain, ipv6)));
        EXPECT_EQ(cli.finish(std::chrono::seconds(20)), row.exitCode) << cli.err();
        EXPECT_EQ(Route(cli.out()), Filled(row.route, chain, ipv6));
        EXPECT_EQ(TcpSockets(chain.client()), 0);
    }
    close(listener);
}

INSTANTIATE_TEST_SUITE_P(Families, ProbeMethods, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Ipv6" : "Ipv4"; });

} // namespace
} // namespace hopwise::test
