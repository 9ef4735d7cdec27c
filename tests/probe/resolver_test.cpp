// Name and address resolution against a table, and the system resolver in a namespace that holds
// no name server but a silent one.

#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "probe/linux/probe_interrupt.h"
#include "probe/resolver.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

// Dotted text, names and odd hosts are decided through hopwise-cli's argument table; here what
// must never become a lookup, and the name's storage per thread.
TEST(Resolver, looksUpNeitherNoTextNorTheFailureValue)
{
    TableResolver table;
    table.addAddress(Ip("192.0.2.7"), "known.test");
    table.addAddress(Ip("192.0.2.9"), "other.test");
    ScopedHostResolver installed(table);
    EXPECT_EQ(ResolveHostName(""), kAddressNone); // what a host too long to store leaves
    EXPECT_EQ(ResolveHostName(nullptr), kAddressNone);
    EXPECT_EQ(table.nameLookups(), 0);
    const char* name = ResolveHostAddress(Ip("192.0.2.7"));
    std::thread([] { ResolveHostAddress(Ip("192.0.2.9")); }).join(); // into that thread's storage
    EXPECT_STREQ(name, "known.test");
    EXPECT_EQ(ResolveHostAddress(kAddressNone), nullptr);
    EXPECT_EQ(table.addressLookups(), 2); // none for the failure value
}

struct ResolveCase {
    std::string host;
    FamilyChoice choice;
    std::string address; // FormatAddress of what comes back; "" for no address
    int nameLookups;
};

constexpr FamilyChoice kAny = FamilyChoice::Any;
constexpr FamilyChoice k4 = FamilyChoice::Ipv4Only;
constexpr FamilyChoice k6 = FamilyChoice::Ipv6Only;

// "v4.test" has an IPv4 address, "v6.test" an IPv6 one, "both.test" both (the IPv6 one listed
// first), "none.test" neither.
const ResolveCase kResolveCases[] = {
    {"192.0.2.7", kAny, "192.0.2.7", 0},
    {"192.0.2.7", k6, "", 0},
    {"2001:DB8:0:0::7", kAny, "2001:db8::7", 0},
    {"2001:db8::7", k6, "2001:db8::7", 0},
    {"2001:db8::7", k4, "", 0},
    {"::1", kAny, "::1", 0},
    {"fe80::1%lo", kAny, "fe80::1%lo", 0},
    {"fe80::1%" + std::to_string(if_nametoindex("lo")), k6, "fe80::1%lo", 0},
    {"fe80::1%nosuchif", kAny, "", 0},
    {"2001:db8::g", kAny, "", 0},
    {"0.0.0.0", kAny, "", 0},
    {"::", kAny, "", 0},
    // Text that inet_addr refuses goes to the IPv4 lookup as it always has, never to an IPv6 one.
    {"255.255.255.255", kAny, "", 1},
    {"1.2.3.999", kAny, "", 1},
    {"255.255.255.255", k6, "", 0},
    {"v4.test", kAny, "192.0.2.1", 1},
    {"v4.test", k6, "", 1},
    {"v6.test", kAny, "2001:db8::1", 2},
    {"v6.test", k4, "", 1},
    {"v6.test", k6, "2001:db8::1", 1},
    {"both.test", kAny, "192.0.2.2", 1},
    {"both.test", k6, "2001:db8::2", 1},
    {"none.test", kAny, "", 2},
};

TEST(Resolver, resolvesHostsOfEitherFamilyAsTheChoiceAllows)
{
    TableResolver table;
    table.addHost("v4.test", {HostAddress::ipv4(Ip("192.0.2.1"))});
    table.addHost("v6.test", {Ip6("2001:db8::1")});
    table.addHost("both.test", {Ip6("2001:db8::2"), HostAddress::ipv4(Ip("192.0.2.2"))});
    ScopedHostResolver installed(table);
    for (const ResolveCase& c : kResolveCases) {
        SCOPED_TRACE(c.host + " choice " + std::to_string(static_cast<int>(c.choice)));
        const int before = table.nameLookups();
        const HostAddress address = ResolveHost(c.host.c_str(), c.choice);
        EXPECT_EQ(address ? std::string(FormatAddress(address)) : std::string(), c.address);
        EXPECT_EQ(table.nameLookups() - before, c.nameLookups);
    }
}

TEST(Resolver, namesAnIpv6Address)
{
    TableResolver table;
    table.addAddress(Ip6("2001:db8::1"), "six.test");
    ScopedHostResolver installed(table);
    EXPECT_STREQ(ResolveHostAddress(Ip6("2001:db8::1")), "six.test");
    EXPECT_EQ(ResolveHostAddress(Ip6("2001:db8::2")), nullptr);
    EXPECT_EQ(ResolveHostAddress(HostAddress{}), nullptr); // no address: no lookup
    EXPECT_EQ(table.addressLookups(), 2);
}

// In a namespace whose only name server is a silent one this child makes.
std::string firstAddressThenInterrupt()
{
    if (ResolveHostName("first.test") != Ip("192.0.2.5"))
        return "first.test did not resolve to its first address";
    const int server = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
    if (bind(server, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0)
        return "no silent name server";
    ProbeInterrupt interrupt;
    auto lookup = std::async(std::launch::async, [&interrupt] {
        ScopedProbeInterrupt bound(interrupt);
        return ResolveHostName("silent.test");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    interrupt.raise();
    if (lookup.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
        return "the lookup held on after the interrupt"; // the server holds it 5 s
    return lookup.get() == kAddressNone ? "" : "an abandoned lookup yielded an address";
}

TEST(SystemResolver, takesTheFirstAddressAndAbandonsALookupOnInterrupt)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    // With IPv6 on and the second address on the namespace's own subnet, an RFC 6724 sort would
    // put that one first: the hosts file's order must win.
    NetNamespace ns("resolver");
    ns.enableIpv6();
    ASSERT_EQ(RunCommand("ip -n " + ns.name() + " link add va type veth peer name vb && ip -n " +
                         ns.name() + " link set va up && ip -n " + ns.name() +
                         " link set vb up && ip -n " + ns.name() + " addr add 10.77.1.1/24 dev va"),
              0);
    ns.setHosts("192.0.2.5 first.test\n10.77.1.5 first.test\n");
    EXPECT_EQ(RunInNamespace(ns, 0, firstAddressThenInterrupt), "");
}

} // namespace
} // namespace hopwise::test
