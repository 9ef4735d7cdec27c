// hopwise-cli as a user runs it: arguments, exit codes and exact output. Only loopback is
// probed here, and no host name is ever looked up.

#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/exit_codes.h"
#include "probe/echo_permission.h"
#include "tests/cli/cli_process.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

struct UsageCase {
    const char* name;
    Args args;
    std::string errorMentions;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, BadArgumentsGetAMessageAndTheUsage)
{
    const CliOutcome run = RunCli(GetParam().args);
    EXPECT_EQ(run.exitCode, cli::kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(GetParam().errorMentions), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsageTest,
    ::testing::Values(
        UsageCase{"NoCommand", {}, "subcommand"},
        UsageCase{"UnknownCommand", {"frobnicate", "127.0.0.1"}, "frobnicate"},
        UsageCase{"TraceWithoutHost", {"trace"}, "HOST"},
        UsageCase{"PingWithoutHost", {"ping", "--count", "2"}, "HOST"},
        UsageCase{"MaxHopNotANumber", {"trace", "--max-hop", "abc", "127.0.0.1"}, "--max-hop"},
        UsageCase{"MaxHopNegative", {"trace", "--max-hop", "-1", "127.0.0.1"}, "--max-hop"},
        UsageCase{"MaxHopTooLarge", {"trace", "--max-hop", "257", "127.0.0.1"}, "--max-hop"},
        UsageCase{"TimeoutZero", {"trace", "--timeout", "0", "127.0.0.1"}, "--timeout"},
        UsageCase{"TimeoutNotANumber", {"ping", "--timeout", "1s", "127.0.0.1"}, "--timeout"},
        UsageCase{"CountZero", {"ping", "--count", "0", "127.0.0.1"}, "--count"},
        UsageCase{"CountMinusOne", {"ping", "--count", "-1", "127.0.0.1"}, "--count"},
        UsageCase{"CountWord", {"ping", "--count", "forever", "127.0.0.1"}, "--count"},
        UsageCase{"TtlZero", {"ping", "--ttl", "0", "127.0.0.1"}, "--ttl"},
        UsageCase{"TtlTooLarge", {"ping", "--ttl", "256", "127.0.0.1"}, "--ttl"},
        UsageCase{"UnknownOption", {"trace", "--bogus", "127.0.0.1"}, "--bogus"},
        UsageCase{"ResolveOnPing", {"ping", "--resolve", "127.0.0.1"}, "--resolve"},
        UsageCase{"TwoHosts", {"trace", "127.0.0.1", "127.0.0.2"}, "127.0.0.2"}),
    [](const auto& info) { return std::string(info.param.name); });

struct HelpCase {
    const char* name;
    Args args;
    std::vector<std::string> mentions;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HelpCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliHelpTest : public ::testing::TestWithParam<HelpCase> {};

TEST_P(CliHelpTest, HelpListsOptionsAndExitCodes)
{
    const CliOutcome run = RunCli(GetParam().args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    for (const std::string& text : GetParam().mentions) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << " in\n" << run.out;
    }
    EXPECT_NE(run.out.find(cli::kExitCodeHelp), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliHelpTest,
    ::testing::Values(
        HelpCase{"Top", {"--help"}, {"trace", "ping"}},
        HelpCase{"Trace", {"trace", "--help"}, {"--max-hop", "--timeout", "--resolve", "--json"}},
        HelpCase{"Ping", {"ping", "--help"}, {"--ttl", "--count", "inf", "--timeout"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- runs against loopback ---------------------------------------------------------------------

class CliLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (CheckEchoPermission() == IcmpSocketKind::None) {
            GTEST_SKIP() << "this user may not send ICMP echo requests: " << EchoPermissionHint();
        }
    }
};

struct RunCase {
    const char* name;
    Args args;
    int exitCode;
    std::string out; // times replaced, see WithoutTimes
    std::string err;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RunCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliRunTest : public CliLoopbackTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(CliRunTest, PrintsWhatThePageWouldShow)
{
    const CliOutcome run = RunCli(GetParam().args);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    EXPECT_EQ(WithoutTimes(run.out), GetParam().out);
    EXPECT_EQ(run.err, GetParam().err);
}

const std::string kPingHeader = "IP               Time      TTL\n";
const std::string kLoopRow = "127.0.0.1        N ms 64\n";

INSTANTIATE_TEST_SUITE_P(
    Loopback, CliRunTest,
    ::testing::Values(
        RunCase{
            "Trace", {"trace", "127.0.0.1"}, 0, "Dest IP: 127.0.0.1\n127.0.0.1 [N ms]\nDone\n", ""},
        RunCase{"TraceOtherLoopbackAddress",
                {"trace", "--timeout", "500", "127.0.0.2"},
                0,
                "Dest IP: 127.0.0.2\n127.0.0.2 [N ms]\nDone\n",
                ""},
        RunCase{"TraceMaxHopOneProbesNothing",
                {"trace", "--max-hop", "1", "127.0.0.1"},
                0,
                "Dest IP: 127.0.0.1\nDone\n",
                ""},
        RunCase{"TraceMaxHopZeroProbesNothing",
                {"trace", "--max-hop", "0", "127.0.0.1"},
                0,
                "Dest IP: 127.0.0.1\nDone\n",
                ""},
        RunCase{"PingThree",
                {"ping", "--count", "3", "127.0.0.1"},
                0,
                "Dest IP: 127.0.0.1\n" + kPingHeader + kLoopRow + kLoopRow + kLoopRow + "Done\n",
                ""},
        RunCase{"PingTtlOne",
                {"ping", "--count", "1", "--ttl", "1", "127.0.0.1"},
                0,
                "Dest IP: 127.0.0.1\n" + kPingHeader + kLoopRow + "Done\n",
                ""},
        RunCase{"TraceUnspecifiedAddress",
                {"trace", "0.0.0.0"},
                cli::kExitUnresolved,
                "Done\n",
                "Can't resolve name\n"},
        RunCase{"PingBroadcastAddress",
                {"ping", "--count", "1", "255.255.255.255"},
                cli::kExitUnresolved,
                "Done\n",
                "Can't resolve name\n"},
        RunCase{"HostTooLongIsRefusedNotCut",
                {"trace", std::string(600, '1')},
                cli::kExitUnresolved,
                "Done\n",
                "Can't resolve name\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliLoopbackTest, JsonTraceCarriesRawFields)
{
    const CliOutcome run = RunCli({"trace", "--json", "127.0.0.1"});
    EXPECT_EQ(run.exitCode, 0);
    std::vector<nlohmann::json> events;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        events.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(events.size(), 3u) << run.out;
    EXPECT_EQ(events[0]["event"], "destination");
    EXPECT_EQ(events[0]["address"], "127.0.0.1");
    EXPECT_EQ(events[1]["event"], "hop");
    EXPECT_EQ(events[1]["hop"], 1);
    EXPECT_EQ(events[1]["address"], "127.0.0.1");
    EXPECT_EQ(events[1]["name"], nullptr);
    EXPECT_EQ(events[1]["status"], 0);
    EXPECT_EQ(events[1]["reply_ttl"], 64);
    EXPECT_TRUE(events[1]["rtt_ms"].is_number_unsigned());
    EXPECT_EQ(events[2], nlohmann::json({{"event", "finished"}, {"outcome", "done"}}));
}

TEST_F(CliLoopbackTest, CtrlCEndsAnEndlessPingWithCancelled)
{
    CliProcess cli(CliCommand({"ping", "127.0.0.1"}));
    // Rows come as fast as loopback answers; wait for a few, then press Ctrl-C.
    ASSERT_TRUE(cli.waitForOutput(kPingHeader + kLoopRow.substr(0, 9), 10s)) << cli.out();
    cli.signal(SIGINT);
    const CliOutcome run = cli.finish(10s);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, cli::kExitCancelled);
    ASSERT_GE(run.out.size(), 10u);
    EXPECT_EQ(run.out.substr(run.out.size() - 10), "Cancelled\n");
    EXPECT_EQ(run.out.find("Done"), std::string::npos);
}

} // namespace
} // namespace hopwise::test
