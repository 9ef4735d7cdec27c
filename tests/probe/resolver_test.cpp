// Name and address resolution: the dotted-text shortcut, the failure values, the first of
// several addresses, reverse lookups, and lookups that a closing worker abandons.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "probe/linux/probe_interrupt.h"
#include "probe/resolver.h"
#include "tests/support/isolated_process.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

struct NameCase {
    const char* name;
    const char* host;
    IpAddress expected;
    int lookups; // how many times the resolver must have been asked
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResolveHostNameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResolveHostNameTable, yieldsTheAddressAndAsksOnlyWhenNeeded)
{
    const NameCase& c = GetParam();
    TableResolver table;
    table.addName("multi.test", {Ip("192.0.2.7"), Ip("192.0.2.8"), Ip("192.0.2.9")});
    table.addName("zero.test", {0});
    ScopedHostResolver installed(table);

    EXPECT_EQ(ResolveHostName(c.host), c.expected);
    EXPECT_EQ(table.nameLookups(), c.lookups);
}

INSTANTIATE_TEST_SUITE_P(
    Resolver, ResolveHostNameTable,
    ::testing::Values(
        NameCase{"dottedNeedsNoLookup", "10.0.0.1", Ip("10.0.0.1"), 0},
        // The broadcast address parses to the failure value, so it is tried as a name.
        NameCase{"broadcastIsLookedUpAndFails", "255.255.255.255", kAddressNone, 1},
        NameCase{"zeroParsesToZero", "0.0.0.0", 0, 0},
        NameCase{"firstOfSeveralAddresses", "multi.test", Ip("192.0.2.7"), 1},
        NameCase{"unknownName", "nowhere.test", kAddressNone, 1},
        NameCase{"emptyTextIsNoHost", "", kAddressNone, 0},
        NameCase{"nameMappedToZero", "zero.test", 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Resolver, nullHostIsUnresolvable)
{
    TableResolver table;
    ScopedHostResolver installed(table);
    EXPECT_EQ(ResolveHostName(nullptr), kAddressNone);
    EXPECT_EQ(table.nameLookups(), 0);
}

TEST(Resolver, reverseLookupWithAndWithoutAName)
{
    TableResolver table;
    table.addAddress(Ip("192.0.2.1"), "gw.example.test");
    ScopedHostResolver installed(table);

    const char* name = ResolveHostAddress(Ip("192.0.2.1"));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "gw.example.test");
    EXPECT_EQ(ResolveHostAddress(Ip("192.0.2.2")), nullptr);
    EXPECT_EQ(table.addressLookups(), 2);

    EXPECT_EQ(ResolveHostAddress(kAddressNone), nullptr);
    EXPECT_EQ(table.addressLookups(), 2);
}

TEST(Resolver, textsLiveInTheCallingThreadsStorage)
{
    TableResolver table;
    table.addAddress(Ip("192.0.2.1"), "one.test");
    table.addAddress(Ip("192.0.2.2"), "two.test");
    ScopedHostResolver installed(table);

    const char* mine = ResolveHostAddress(Ip("192.0.2.1"));
    const char* dotted = FormatAddress(Ip("10.20.30.40"));
    std::thread([] {
        ResolveHostAddress(Ip("192.0.2.2"));
        FormatAddress(Ip("1.2.3.4"));
    }).join();
    EXPECT_STREQ(mine, "one.test");
    EXPECT_STREQ(dotted, "10.20.30.40");
}

TEST(Resolver, formatsDottedAddresses)
{
    EXPECT_STREQ(FormatAddress(Ip("127.0.0.1")), "127.0.0.1");
    EXPECT_STREQ(FormatAddress(0), "0.0.0.0");
    EXPECT_STREQ(FormatAddress(kAddressNone), "255.255.255.255");
}

// The system resolver, against /etc/hosts only: localhost is there on every Debian machine.
TEST(SystemResolver, resolvesLocalhostFromHostsFile)
{
    EXPECT_EQ(SystemHostResolver().lookUpName("localhost"), Ip("127.0.0.1"));
    const auto name = SystemHostResolver().lookUpAddress(Ip("127.0.0.1"));
    ASSERT_TRUE(name.has_value());
    EXPECT_FALSE(name->empty());
}

class IsolatedSystemResolver : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = IsolationSkipReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }
};

TEST_F(IsolatedSystemResolver, unknownNameFailsWithoutLeavingTheMachine)
{
    // The child's network namespace has only a downed loopback, so a DNS query can go nowhere.
    const std::string failure = RunIsolated(
        {"127.0.0.1 localhost\n192.0.2.5 first.test\n192.0.2.6 first.test\n",
         "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
        [] {
            if (ResolveHostName("first.test") != Ip("192.0.2.5"))
                return std::string("first.test did not resolve to its first address");
            if (ResolveHostName("unknown.test") != kAddressNone)
                return std::string("unknown.test resolved");
            const char* name = ResolveHostAddress(Ip("192.0.2.6"));
            if (!name || std::strcmp(name, "first.test") != 0)
                return std::string("reverse lookup of 192.0.2.6 did not give first.test");
            if (ResolveHostAddress(Ip("192.0.2.77")) != nullptr)
                return std::string("an address without a name got one");
            return std::string();
        });
    EXPECT_EQ(failure, "");
}

bool bringLoopbackUp()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return ok;
}

TEST_F(IsolatedSystemResolver, raisedInterruptAbandonsALookupInProgress)
{
    const std::string failure = RunIsolated(
        {"127.0.0.1 localhost\n", "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n"}, [] {
            // A name server inside the child that never answers: the lookup hangs for seconds.
            if (!bringLoopbackUp())
                return std::string("can't bring lo up");
            const int server = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(53);
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
                return std::string("can't bind the silent name server");

            ProbeInterrupt interrupt;
            auto lookup = std::async(std::launch::async, [&] {
                ScopedProbeInterrupt bound(interrupt);
                return ResolveHostName("silent.test");
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            interrupt.raise();
            // The resolver itself would wait 5 s for the silent server.
            if (lookup.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
                return std::string("the lookup held on after the interrupt");
            if (lookup.get() != kAddressNone)
                return std::string("an abandoned lookup yielded an address");
            return std::string();
        });
    EXPECT_EQ(failure, "");
}

} // namespace
} // namespace hopwise::test
