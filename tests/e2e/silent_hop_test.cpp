// Traces and reports over a chain of nine routers, some of which never answer or answer late.
// However long a probe to a quiet router is waited for, hopwise-cli lists the same hops with
// its probes in flight together as one hop at a time, and as traceroute does: a responder per
// hop, none where a router is silent, nothing lost, nothing past the destination. A report
// counts every probe: a silent router loses all, the routers that answer none, and a target
// that drops every second request (tools/icmp_responder) exactly half.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

constexpr int kRouters = 9; // the target is hop 10

struct QuietCase {
    const char* name;
    std::vector<int> silentHops; // 1-based
    ChainDelays delays;
};

const QuietCase kCases[] = {
    {"silentHopsThreeFiveSeven", {3, 5, 7}, {}},
    {"silentHopBeforeTheDestination", {9}, {}},
    // Hop 3 answers 30 ms after the hops behind it: at 2 ms a link each way they are 16 ms and
    // more away, and ten times that still covers its lateness.
    {"lateHopThree", {}, {2, 2, 30}},
};

void PrintTo(const QuietCase& row, std::ostream* out)
{
    *out << row.name;
}

// stdout of a program run in the namespace, which must exit 0.
std::string RunIn(const NetNamespace& ns, const std::string& command)
{
    ChildProcess child(Words("ip netns exec " + ns.name() + " " + command));
    EXPECT_EQ(child.finish(std::chrono::seconds(60)), 0) << command << "\n" << child.err();
    return child.out();
}

std::vector<nlohmann::json> Objects(const std::string& text, const std::string& type)
{
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (object.is_object() && object.value("type", "") == type)
            objects.push_back(object);
    }
    return objects;
}

// One word per hop: its responder, or "*".
std::string CliHops(const std::string& json)
{
    std::string hops;
    for (const nlohmann::json& hop : Objects(json, "hop"))
        hops += std::to_string(hop["hop"].get<int>()) + ":" +
                (hop["address"].is_null() ? "*" : hop["address"].get<std::string>()) + " ";
    return hops;
}

std::string TracerouteHops(const std::string& text)
{
    std::string hops;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // "traceroute to ..."
    while (std::getline(lines, line)) {
        const std::vector<std::string> words = Words(line);
        if (words.size() >= 2)
            hops += words[0] + ":" + words[1] + " ";
    }
    return hops;
}

class QuietRouters : public ::testing::TestWithParam<QuietCase> {};

TEST_P(QuietRouters, TraceAndReportListEveryHop)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const QuietCase& row = GetParam();
    RouterChain chain(kRouters, 214, RouterChain::Stack::Ipv4, row.delays);
    const auto silent = [&row](int hop) {
        return std::count(row.silentHops.begin(), row.silentHops.end(), hop) != 0;
    };
    std::string route;
    for (int hop = 1; hop <= kRouters; ++hop) {
        if (silent(hop))
            chain.silence(hop - 1);
        route +=
            std::to_string(hop) + ":" + (silent(hop) ? "*" : chain.routerAddress(hop - 1)) + " ";
    }
    const std::string target = chain.targetAddress();
    route += std::to_string(kRouters + 1) + ":" + target + " ";
    const std::string cli = std::string(HOPWISE_CLI_PATH) + " ";

    EXPECT_EQ(CliHops(RunIn(chain.client(), cli + "trace -n --json " + target)), route);
    EXPECT_EQ(CliHops(RunIn(chain.client(), cli + "trace -n --json --parallel 1 " + target)),
              route);
    const bool traceroute = RunCommand("command -v traceroute >/dev/null") == 0;
    if (traceroute) {
        EXPECT_EQ(TracerouteHops(RunIn(chain.client(), "traceroute -I -n -q 1 " + target)), route);
    }

    // With --max-hop 11 the target is the last hop, so each cycle sends it one request.
    RunCommand("ip netns exec " + chain.target().name() +
               " sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    ChildProcess responder(Words("ip netns exec " + chain.target().name() + " " +
                                 HOPWISE_RESPONDER_PATH + " --drop-every 2 --seconds 100"));
    ASSERT_TRUE(responder.waitFor(1, "ready\n", std::chrono::seconds(5))) << responder.err();
    std::string losses;
    for (const nlohmann::json& hop :
         Objects(RunIn(chain.client(), cli + "report -c 10 -i 0.1 --max-hop 11 --json " + target),
                 "report_hop")) {
        const std::vector<std::string> from = hop["addresses"];
        losses += std::to_string(hop["hop"].get<int>()) + ":" +
                  (from.empty() ? "*" : from.front()) + "/" +
                  std::to_string(hop["sent"].get<int>()) + "/" +
                  std::to_string(hop["loss_percent"].get<double>()) + " ";
    }
    std::string counts;
    for (int hop = 1; hop <= kRouters; ++hop)
        counts += std::to_string(hop) + ":" + (silent(hop) ? "*" : chain.routerAddress(hop - 1)) +
                  "/10/" + std::to_string(silent(hop) ? 100.0 : 0.0) + " ";
    counts += std::to_string(kRouters + 1) + ":" + target + "/10/" + std::to_string(50.0) + " ";
    EXPECT_EQ(losses, counts);
    responder.signal(SIGTERM);
    responder.finish(std::chrono::seconds(5));
    if (!traceroute)
        GTEST_SKIP() << "traceroute is not installed (tools/install-deps.sh installs it): the "
                        "trace was not compared with its";
}

INSTANTIATE_TEST_SUITE_P(Rows, QuietRouters, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
