// hopwise-cli ping -6 against icmp-responder's IPv6 mode one link away, as root (the raw ICMPv6
// socket) and as an ordinary user whose group alone the client's ping_group_range admits (the
// ICMPv6 datagram socket): forged, malformed, duplicate and foreign ICMPv6 packets that arrive
// before the genuine answer are passed over and never counted; reports about our own probe are.

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "probe/echo_status.h"
#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

const std::string kTarget = "fd00:6e7::2";
const std::string kOther = "fd00:6e7::7"; // on the link, held by no one

struct Hostile6Case {
    const char* name;
    const char* peer; // icmp-responder's arguments: what it sends for each request
    // One word per probe: T (the target's answer), O (an answer from kOther), or X, U, P (a time
    // exceeded, address unreachable or packet too big report from kOther), then the peer's delay
    // D; "-" for a timeout. A round trip in [D, D + 150] ms reads D: the rows tell an early
    // forgery from the answer D ms later, not how exact the round trip is, and a loaded machine
    // (a sanitizer build beside other tests) is late by tens of milliseconds.
    const char* probes;
};

const Hostile6Case kCases[] = {
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
     "--send echo-wrong-id@0 --send echo-bad-checksum@0 --send time-exceeded-other-destination@0",
     "- -"},
    {"OversizedIsStillTheAnswer", "--send echo-oversized@40", "T40 T40"},
    {"AnswerFromAnotherAddress", "--send echo-other-source@40", "O40 O40"},
    // The copy of answer 1 arrives while probe 2, which the peer leaves unanswered, waits.
    {"DuplicateIsNotTheNextAnswer", "--send echo@0 --send echo@40 --drop-every 2", "T0 - T0"},
    {"TimeExceeded", "--send time-exceeded@40", "X40 X40"},
    // The quoted request carries a destination options header to walk past.
    {"TimeExceededQuotingAnExtensionHeader", "--send time-exceeded-options@40", "X40"},
    {"Unreachable", "--send unreachable@40", "U40"},
    {"PacketTooBig", "--send packet-too-big@40", "P40"},
};

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// One word of Hostile6Case::probes for a ping's echo event.
std::string Outcome(const nlohmann::json& echo, const std::string& want)
{
    if (echo["address"].is_null())
        return "-";
    const std::string from = echo["address"];
    const std::uint32_t status = echo["status"];
    std::string who = from + "/" + std::to_string(status) + "/";
    if (from == kTarget && status == kIpSuccess)
        who = "T";
    else if (from == kOther)
        who = status == kIpSuccess               ? "O"
              : status == kIpTtlExpiredTransit   ? "X"
              : status == kIpDestHostUnreachable ? "U"
              : status == kIpPacketTooBig        ? "P"
                                                 : who;
    const auto rtt = echo["rtt_us"].get<std::uint32_t>() / 1000;
    const std::uint32_t delay = want.size() > 1 ? std::stoul(want.substr(1)) : 0;
    return who + std::to_string(rtt >= delay && rtt <= delay + 150 ? delay : rtt);
}

class HostileReply6 : public ::testing::TestWithParam<std::tuple<bool, Hostile6Case>> {};

TEST_P(HostileReply6, OnlyTheGenuineAnswerIsCounted)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    if (access("/proc/sys/net/ipv6", F_OK) != 0)
        GTEST_SKIP() << "this kernel runs without IPv6";
    const auto& [asUser, row] = GetParam();
    const std::vector<std::string> want = Words(row.probes);

    NetNamespace client("client6");
    NetNamespace target("target6");
    // No duplicate address detection, and neighbours known from the start: a fresh link lost the
    // first neighbour solicitation, which delayed the first answer by a second. The target's
    // kernel leaves echo requests to the peer; the client's ping_group_range admits uid 65534.
    const std::string c = client.name();
    const std::string t = target.name();
    const std::string link = "ip link add hw6 netns " + c +
                             " address 02:00:00:00:06:01 type veth " + "peer name hw6 netns " + t +
                             " address 02:00:00:00:06:02";
    ASSERT_EQ(RunCommand(link + " && ip -n " + c +
                         " addr add fd00:6e7::1/64 dev hw6 nodad && ip -n " + t + " addr add " +
                         kTarget + "/64 dev hw6 nodad && ip -n " + c + " neigh add " + kTarget +
                         " lladdr 02:00:00:00:06:02 dev hw6 && ip -n " + t +
                         " neigh add fd00:6e7::1 lladdr 02:00:00:00:06:01 dev hw6 && ip -n " + c +
                         " link set hw6 up && ip -n " + t + " link set hw6 up && ip netns exec " +
                         t + " sysctl -qw net.ipv6.icmp.echo_ignore_all=1 && ip netns exec " + c +
                         " sysctl -qw net.ipv4.ping_group_range='65534 65534'"),
              0);
    ChildProcess peer(Words("ip netns exec " + t + " " + HOPWISE_RESPONDER_PATH +
                            " --ipv6 --other-source " + kOther + " --seconds 20 --count " +
                            std::to_string(want.size()) + " " + row.peer));
    ASSERT_TRUE(peer.waitFor(1, "ready\n", std::chrono::seconds(5))) << peer.err();

    // Like the peer, the client runs at a real-time priority, so a busy machine's lateness isn't
    // charged to its round trips.
    ChildProcess cli(Words("ip netns exec " + c + " chrt -f 10 " +
                           (asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                           HOPWISE_CLI_PATH + " ping -6 --json -i 0 --timeout 300 --count " +
                           std::to_string(want.size()) + " " + kTarget));
    const int exitCode = cli.finish(std::chrono::seconds(30));

    std::string got;
    nlohmann::json summary;
    std::istringstream lines(cli.out());
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object() && event["type"] == "echo") {
            const std::size_t i = event["seq"].get<std::size_t>() - 1;
            got += Outcome(event, i < want.size() ? want[i] : "") + " ";
        } else if (event.is_object() && event["type"] == "summary") {
            summary = event;
        }
    }
    EXPECT_EQ(got, std::string(row.probes) + " ") << cli.out() << cli.err();
    const auto count = [&want](const std::string& letters) {
        return std::count_if(want.begin(), want.end(), [&letters](const std::string& word) {
            return letters.find(word[0]) != std::string::npos;
        });
    };
    EXPECT_EQ(summary.value("transmitted", -1), std::ssize(want)) << cli.out();
    EXPECT_EQ(summary.value("received", -1), count("TO")) << cli.out();
    EXPECT_EQ(summary.value("errors", -1), count("XUP")) << cli.out();
    EXPECT_EQ(exitCode, count("TO") > 0 ? 0 : 1) << cli.err();
    peer.finish(std::chrono::seconds(10));
    EXPECT_NE(peer.out().find("done requests " + std::to_string(want.size()) + " "),
              std::string::npos)
        << "the peer saw other requests than the probes: " << peer.out() << peer.err();
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileReply6,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "User_" : "Root_") +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace hopwise::test
