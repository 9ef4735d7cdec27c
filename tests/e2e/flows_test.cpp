// Equal-cost multipath: a router that hashes each flow's ports sends the classic trace, whose
// source port changes from run to run, through either middle router, while every probe of one
// of hopwise-cli's UDP flows keeps to one of them, and --flows shows both.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

// Hop 2's responders in a trace's JSON, by flow (1 when the run names none).
std::map<int, std::set<std::string>> MiddleHop(const std::string& json)
{
    std::map<int, std::set<std::string>> seen;
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json o = nlohmann::json::parse(line, nullptr, false);
        if (o.is_object() && o.value("type", "") == "hop" && o.value("hop", 0) == 2)
            seen[o.value("flow", 1)].insert(o["address"].is_null() ? "*" : o["address"]);
    }
    return seen;
}

std::string Trace(DiamondRoutes& net, const std::string& args)
{
    ChildProcess cli(Words("ip netns exec " + net.client().name() + " " + HOPWISE_CLI_PATH +
                           " trace --json -U -w 1 --max-hop 6 " + args + " " + net.target()));
    EXPECT_EQ(cli.finish(std::chrono::seconds(20)), 0) << cli.err();
    return cli.out();
}

TEST(Flows, EachKeepsToOnePathAndSeveralFindBoth)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    if (RunCommand("command -v traceroute >/dev/null") != 0)
        GTEST_SKIP() << "traceroute is not installed";
    DiamondRoutes net;
    const std::set<std::string> both = {net.r2a(), net.r2b()};
    std::set<std::string> classic;
    for (int run = 0; run < 10 && classic.size() < 2; ++run) {
        std::string out;
        RunCommand("ip netns exec " + net.client().name() +
                       " traceroute -U -n -q 1 -f 2 -m 2 -w 1 " + net.target(),
                   &out);
        for (const std::string& word : Words(out))
            if (both.count(word) != 0)
                classic.insert(word);
    }
    if (classic.size() < 2)
        GTEST_SKIP() << "this kernel sent ten classic traces through one middle router";

    for (int run = 0; run < 3; ++run) {
        const auto seen = MiddleHop(Trace(net, "-q 4"));
        ASSERT_EQ(seen.size(), 1U);
        ASSERT_EQ(seen.begin()->second.size(), 1U) << "one flow took both paths";
        EXPECT_EQ(both.count(*seen.begin()->second.begin()), 1U);
    }
    const auto flows = MiddleHop(Trace(net, "-q 2 --flows 16"));
    EXPECT_EQ(flows.size(), 16U);
    std::set<std::string> all;
    for (const auto& [flow, responders] : flows) {
        EXPECT_EQ(responders.size(), 1U) << "flow " << flow << " took both paths";
        all.insert(responders.begin(), responders.end());
    }
    EXPECT_EQ(all, both);
}

} // namespace
} // namespace hopwise::test
