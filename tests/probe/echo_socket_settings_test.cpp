// A thread's echo socket settings on real sockets, as root (the raw socket) and as an ordinary
// user (the datagram socket): client - router - target, where the router forwards at most 1400
// bytes towards the target, and the target drops whatever comes from the client's second address
// (a /32 on its loopback). So a row is answered or not by where its echo really left from, and a
// don't-fragment echo larger than the path gets the router's report, then the local error.

#include <gtest/gtest.h>

#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_status.h"
#include "probe/linux/linux_echo_stack.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

constexpr int kBase = 223;
const char* const kDroppedSource = "10.223.9.1";
const char* const kDroppedSource6 = "fd00:223:9::1";

enum class To { Router, Target };

// How a row's last echo comes out: the destination's reply, nothing, the router's packet-too-big
// report, or a local error (too large to leave) without a record.
enum class Outcome { Reply, Silence, RouterReport, LocalError };

struct SettingsRow {
    const char* name;
    bool ipv6;
    To to;
    EchoSocketSettings settings; // a source given here stands for the dropped one
    std::uint16_t dataSize = 7;
    int sends = 1; // the last one is judged
    Outcome outcome = Outcome::Reply;
    std::uint32_t mtu = 0;
};

const HostAddress kAnySource = HostAddress::ipv4(1); // replaced by the dropped source
constexpr auto kDo = EchoPathMtu::Do;
constexpr auto kWant = EchoPathMtu::Want;
constexpr auto kSilence = Outcome::Silence;
constexpr auto kRouterReport = Outcome::RouterReport;
constexpr auto kLocalError = Outcome::LocalError;

const SettingsRow kRows[] = {
    {"boundToTheInterfaceThatLeadsThere", false, To::Target, {"hwr", {}, {}}},
    {"boundToLoopbackWhichLeadsNowhere", false, To::Target, {"lo", {}, {}}, 7, 1, kSilence},
    {"fromTheSourceTheTargetDrops", false, To::Target, {"", kAnySource, {}}, 7, 1, kSilence},
    {"fromThatSourceToTheRouter", false, To::Router, {"", kAnySource, {}}},
    {"fragmentedOnTheWayWhenAllowed", false, To::Target, {"", {}, EchoPathMtu::Dont}, 1472},
    {"tooBigForTheNextHop", false, To::Target, {"", {}, kDo}, 1472, 1, kRouterReport, 1400},
    {"thenTooLargeToLeave", false, To::Target, {"", {}, kDo}, 1472, 2, kLocalError, 1400},
    {"tooLargeForTheLocalLink", false, To::Router, {"", {}, kDo}, 1473, 1, kLocalError, 1500},
    {"boundToTheInterfaceThatLeadsThere6", true, To::Target, {"hwr", {}, {}}},
    {"fromTheSourceTheTargetDrops6", true, To::Target, {"", kAnySource, {}}, 7, 1, kSilence},
    {"fromThatSourceToTheRouter6", true, To::Router, {"", kAnySource, {}}},
    {"tooBigForTheNextHop6", true, To::Target, {"", {}, kWant}, 1452, 1, kRouterReport, 1400},
    {"thenFragmentedLocally6", true, To::Target, {"", {}, kWant}, 1452, 2},
    {"thenTooLargeToLeave6", true, To::Target, {"", {}, kDo}, 1452, 2, kLocalError, 1400},
};

HostAddress Address(const std::string& text, bool ipv6)
{
    return ipv6 ? *ParseIpv6Literal(text.c_str()) : HostAddress::ipv4(Ip(text.c_str()));
}

// Sends the row's echoes on the calling thread; empty when the last one came out as the row says.
std::string Judge(const SettingsRow& row, RouterChain& chain)
{
    const auto node = [&](To to) {
        return Address(to == To::Router
                           ? (row.ipv6 ? chain.routerAddress6(0) : chain.routerAddress(0))
                           : (row.ipv6 ? chain.targetAddress6() : chain.targetAddress()),
                       row.ipv6);
    };
    EchoSocketSettings settings = row.settings;
    if (settings.source) {
        settings.source = Address(row.ipv6 ? kDroppedSource6 : kDroppedSource, row.ipv6);
    }
    const ScopedEchoSocketSettings scoped(settings);
    const std::vector<std::uint8_t> data(row.dataSize, 0x5a);
    std::vector<EchoReply> buffer(1 + (row.dataSize + 40) / sizeof(EchoReply) + 1);
    const EchoOptions options{64, 0, 0, 0, nullptr};
    std::uint32_t count = 0;
    for (int i = 0; i < row.sends; ++i) {
        count = SendEchoTo(OpenEchoHandle(), node(row.to), data.data(), row.dataSize, &options,
                           buffer.data(),
                           static_cast<std::uint32_t>(buffer.size() * kEchoReplySize), 500);
    }
    const EchoReply& record = buffer[0];
    const std::uint32_t status = count != 0 ? record.status : GetLastEchoError();
    std::string got = "count " + std::to_string(count) + ", status " + std::to_string(status) +
                      ", mtu " + std::to_string(GetLastEchoMtu());
    if (count != 0) {
        got += std::string(", from ") + FormatAddress(GetLastEchoResponder()) + ", " +
               std::to_string(record.dataSize) + " bytes";
    }
    const bool reply = row.outcome == Outcome::Reply;
    const bool answered = reply || row.outcome == Outcome::RouterReport;
    const std::uint32_t wantedStatus = reply                             ? kIpSuccess
                                       : row.outcome == Outcome::Silence ? kIpReqTimedOut
                                                                         : kIpPacketTooBig;
    std::string wanted = "count " + std::to_string(answered ? 1 : 0) + ", status " +
                         std::to_string(wantedStatus) + ", mtu " + std::to_string(row.mtu);
    if (answered) {
        wanted += std::string(", from ") + FormatAddress(node(reply ? row.to : To::Router)) + ", " +
                  std::to_string(reply ? row.dataSize : 0) + " bytes";
    }
    return got == wanted ? "" : got + " (wanted " + wanted + ")";
}

void PrintTo(const SettingsRow& row, std::ostream* out)
{
    *out << row.name;
}

class EchoSocketSettingsTest : public ::testing::TestWithParam<SettingsRow> {
protected:
    static void SetUpTestSuite()
    {
        if (!NetNamespaceSkipReason().empty())
            return;
        s_chain = std::make_unique<RouterChain>(1, kBase, RouterChain::Stack::Dual);
        RouterChain& chain = *s_chain;
        const std::string client = chain.client().name();
        const std::string router = chain.router(0).name();
        const std::string target = chain.target().name();
        const std::string commands[] = {
            "ip -n " + client + " addr add " + kDroppedSource + "/32 dev lo",
            "ip -n " + client + " addr add " + kDroppedSource6 + "/128 dev lo",
            "ip -n " + router + " route add " + kDroppedSource + " via " + "10.223.0.1",
            "ip -n " + router + " route add " + kDroppedSource6 + " via fd00:223:0::1",
            "ip -n " + target + " route add " + kDroppedSource + " via 10.223.1.1",
            "ip -n " + target + " route add " + kDroppedSource6 + " via fd00:223:1::1",
            "ip -n " + router + " link set hwr mtu 1400",
            "ip -n " + target + " link set hwl mtu 1400",
            "ip netns exec " + target + " nft add table inet hw",
            "ip netns exec " + target +
                " nft add chain inet hw in '{ type filter hook input priority 0 ; }'",
            "ip netns exec " + target + " nft add rule inet hw in ip saddr " + kDroppedSource +
                " drop",
            "ip netns exec " + target + " nft add rule inet hw in ip6 saddr " + kDroppedSource6 +
                " drop",
            "ip netns exec " + client + " sysctl -qw net.ipv4.ping_group_range='65534 65534'",
        };
        for (const std::string& command : commands) {
            std::string output;
            if (RunCommand(command, &output) != 0)
                s_setupFailure += command + ": " + output;
        }
    }
    static void TearDownTestSuite() { s_chain.reset(); }

    static std::unique_ptr<RouterChain> s_chain;
    static std::string s_setupFailure;
};

std::unique_ptr<RouterChain> EchoSocketSettingsTest::s_chain;
std::string EchoSocketSettingsTest::s_setupFailure;

TEST_P(EchoSocketSettingsTest, leavesAsTheThreadAsks)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    ASSERT_EQ(s_setupFailure, "");
    for (const unsigned uid : {0u, 65534u}) {
        SCOPED_TRACE(uid == 0 ? "raw socket, as root" : "datagram socket, as an ordinary user");
        // Each kind learns the path's MTU for itself.
        RunCommand("ip netns exec " + s_chain->client().name() +
                   " sh -c 'ip route flush cache; ip -6 route flush cache'");
        EXPECT_EQ(
            RunInNamespace(s_chain->client(), uid, [] { return Judge(GetParam(), *s_chain); }), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, EchoSocketSettingsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
