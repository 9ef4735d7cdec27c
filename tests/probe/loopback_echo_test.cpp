// Real echoes over loopback in a network namespace of the test's own, through the system's stack:
// the datagram socket for a user whose group the namespace admits, else raw sockets for root,
// and a refusal at once for an ordinary user it doesn't admit.

#include <gtest/gtest.h>
#include <unistd.h>

#include "probe/echo_flight.h"
#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "tests/probe/real_echo.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

// It grows when an echo opens a socket and keeps it.
int lowestFreeDescriptor()
{
    const int fd = dup(0);
    close(fd);
    return fd;
}

// Echoes that take turns asking for a TOS and for a record-route option, so each reply shows
// whether the socket carried what that request asked for and nothing of the one before.
std::string echoesCarryTheirOwnOptions()
{
    const std::uint8_t recordRoute[12] = {7, 11, 4, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const EchoOptions asked[] = {{64, 0x28, 0, 0, nullptr}, {64, 0, 0, 12, recordRoute}};
    int unused = 0; // after the first echo, which opens the socket
    for (int i = 0; i < 6; ++i) {
        const EchoOutcome got = Echo("127.0.0.1", 500, &asked[i % 2]);
        if (got.count != 1 || got.record.address != Ip("127.0.0.1") || got.data != "hopwise" ||
            got.record.options.tos != asked[i % 2].tos ||
            got.options.starts_with("\x07\x0b") != (i % 2 == 1) ||
            // Measured to the microsecond; the record holds those truncated to milliseconds.
            got.micros == 0 || got.micros / 1000 != got.record.roundTripTime)
            return "echo " + std::to_string(i) + ", last error " + std::to_string(got.lastError);
        unused = i == 0 ? lowestFreeDescriptor() : unused;
    }
    return lowestFreeDescriptor() == unused ? "" : "a socket opened per echo";
}

// The same over ::1: the traffic class asked for comes back, the responder travels beside a record
// whose IPv4 field stays 0, and a flight of echoes with hop limits 1 to 3 is answered in full.
std::string ipv6EchoesAreAnsweredAlone()
{
    const HostAddress loopback = *ParseIpv6Literal("::1");
    const EchoOptions asked{64, 0x28, 0, 0, nullptr};
    for (int i = 0; i < 3; ++i) {
        const EchoOutcome got = Echo(loopback, 500, i == 1 ? &asked : nullptr);
        if (got.count != 1 || got.responder != loopback || got.record.address != 0 ||
            got.data != "hopwise" || got.record.options.tos != (i == 1 ? 0x28 : 0) ||
            got.record.options.ttl == 0 || got.micros / 1000 != got.record.roundTripTime)
            return "IPv6 echo " + std::to_string(i) + ", last error " +
                   std::to_string(got.lastError);
    }
    EchoFlight flight;
    for (std::uint8_t hops = 1; hops <= 3; ++hops) {
        if (flight.send(EchoProbe{loopback, hops, 500, hops}) != 0)
            return "a flight's echo was refused";
    }
    std::vector<hopwise::EchoOutcome> ended;
    for (int wakeUps = 0; ended.size() < 3 && wakeUps < 10 && flight.collect(ended); ++wakeUps) {
    }
    std::uint32_t tags = 0;
    for (const hopwise::EchoOutcome& outcome : ended) {
        if (outcome.count != 1 || outcome.responder != loopback)
            return "a flight's echo went unanswered";
        tags |= 1u << outcome.tag;
    }
    return tags == 0b1110 ? "" : "the flight's echoes were not each answered once";
}

TEST(LoopbackEcho, goesOutOnThePermittedSocketKindOnly)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const struct {
        const char* admittedGroups; // net.ipv4.ping_group_range
        unsigned uid;
        IcmpSocketKind permitted;
    } cases[] = {{"1 0", 0, IcmpSocketKind::Raw},
                 {"0 0", 0, IcmpSocketKind::Datagram},
                 {"65534 65534", 65534, IcmpSocketKind::Datagram},
                 {"1 0", 65534, IcmpSocketKind::None}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.uid) + " " + IcmpSocketKindName(c.permitted));
        NetNamespace ns("loopback");
        RunCommand("ip netns exec " + ns.name() + " sysctl -qw net.ipv4.ping_group_range='" +
                   c.admittedGroups + "'");
        const auto echoes = [&c]() -> std::string {
            if (CheckEchoPermission() != c.permitted)
                return std::string("permitted: ") + IcmpSocketKindName(CheckEchoPermission());
            if (c.permitted != IcmpSocketKind::None)
                return echoesCarryTheirOwnOptions() + ipv6EchoesAreAnsweredAlone();
            const EchoOutcome refused = Echo("127.0.0.1", 500);
            const EchoOutcome refused6 = Echo(*ParseIpv6Literal("::1"), 500);
            const bool atOnce =
                refused.lastError == kErrorAccessDenied && refused.elapsedMs < 500 &&
                refused6.lastError == kErrorAccessDenied && refused6.elapsedMs < 500;
            return atOnce ? "" : "not refused at once";
        };
        EXPECT_EQ(RunInNamespace(ns, c.uid, echoes), "");
    }
}

} // namespace
} // namespace hopwise::test
