// A hostile peer (tools/icmp_responder) one link away: forged, malformed, duplicate and foreign
// packets are never taken as the answer, and round trips read the peer's delay to the
// millisecond, through SendEcho and through hopwise-cli. Every row runs as root (the raw socket)
// and as an ordinary user on the datagram socket, admitted by the client's ping_group_range.

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "tests/cli/cli_process.h"
#include "tests/probe/real_echo.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

const std::string kTarget = "10.231.0.2";
const std::string kOther = "10.231.0.107"; // on the link, held by no one

struct HostileCase {
    const char* name;
    const char* peer; // icmp-responder's arguments: what it sends for each request
    // One word per probe: T (the target's answer), O (an answer from kOther) or X (a time
    // exceeded report from kOther), then the peer's delay D; "-" for a timeout.
    const char* probes;
    bool viaCli = false;
    int pauseMs = 0; // between probes
};

const HostileCase kCases[] = {
    {"RoundTrip5ms", "--send echo@5", "T5 T5"},
    {"CliRoundTrip50ms", "--send echo@50", "T50 T50", true},
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
     false, 20},
};

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

class HostileReply : public ::testing::TestWithParam<std::tuple<bool, HostileCase>> {};

TEST_P(HostileReply, OnlyTheGenuineAnswerIsTaken)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const auto& [asUser, row] = GetParam();
    const std::vector<std::string> want = Words(row.probes);
    NetNamespace client("hclient");
    NetNamespace target("htarget");
    LinkNamespaces(client, "10.231.0.1/24", target, kTarget + "/24");
    // The peer owns every answer; only the ordinary user's group gets datagram sockets, so root
    // is left the raw one; forged sources on the link must not be filtered out.
    target.sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    ASSERT_EQ(client.exec("sysctl -qw net.ipv4.ping_group_range='65534 65534' "
                          "net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0"),
              0);
    std::vector<std::string> peer =
        Words("ip netns exec " + target.name() + " " + HOPWISE_RESPONDER_PATH + " --other-source " +
              kOther + " --seconds 20 --count " + std::to_string(want.size()) + " " + row.peer);
    CliProcess responder(peer);
    ASSERT_TRUE(responder.waitForOutput("ready\n", std::chrono::seconds(5)))
        << responder.finish(std::chrono::seconds(1)).err;

    std::string got;
    if (row.viaCli) {
        const CliOutcome run = RunCli(
            Words("ping --timeout 300 --count " + std::to_string(want.size()) + " " + kTarget),
            Words("ip netns exec " + client.name() +
                  (asUser ? " setpriv --reuid=65534 --regid=65534 --clear-groups" : "")));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            char from[32] = {};
            std::uint32_t rtt = 0;
            if (std::sscanf(line.c_str(), "%31s %u ms", from, &rtt) == 2)
                got += (from == kTarget ? "T" : from) + std::to_string(rtt) + " ";
        }
    } else {
        got = RunAsUser(&client, asUser ? 65534 : 0, asUser ? 65534 : 0, [&] {
            if (CheckEchoPermission() != (asUser ? IcmpSocketKind::Datagram : IcmpSocketKind::Raw))
                return std::string("not the socket kind this row is for");
            std::string seen;
            for (std::size_t i = 0; i < want.size(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
                const EchoOutcome out = Echo(kTarget.c_str(), nullptr, 300);
                const IpAddress from = out.record.address;
                const std::string rtt = std::to_string(out.record.roundTripTime) + " ";
                if (out.count == 0)
                    seen += out.lastError == kIpReqTimedOut && out.elapsedMs >= 300 ? "- " : "? ";
                else if (from == Ip(kTarget.c_str()) && out.record.status == kIpSuccess &&
                         out.data == std::vector<std::uint8_t>{'h', 'o', 'p', 'w', 'i', 's', 'e'})
                    seen += "T" + rtt;
                else if (from == Ip(kOther.c_str()) && out.record.status == kIpSuccess)
                    seen += "O" + rtt;
                else if (from == Ip(kOther.c_str()) && out.record.status == kIpTtlExpiredTransit)
                    seen += "X" + rtt;
                else
                    seen += std::to_string(from) + "/" + std::to_string(out.record.status) + " ";
            }
            return seen;
        });
    }
    // A round trip of D + 1 ms reads D: the engine truncates to whole milliseconds, and the path
    // itself adds well under one.
    std::vector<std::string> seen = Words(got);
    for (std::size_t i = 0; i < seen.size() && i < want.size(); ++i) {
        if (want[i] != "-" && seen[i] == want[i][0] + std::to_string(std::stoi(&want[i][1]) + 1))
            seen[i] = want[i];
    }
    EXPECT_EQ(seen, want) << got;
    const CliOutcome log = responder.finish(std::chrono::seconds(10));
    EXPECT_NE(log.out.find("done requests " + std::to_string(want.size()) + " "), std::string::npos)
        << "the peer saw other requests than the probes: " << log.out << log.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileReply,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "User_" : "Root_") +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace hopwise::test
