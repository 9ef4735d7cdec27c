// Name and address resolution against a table, and the system resolver in a namespace that holds
// no name server but a silent one.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
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
    NetNamespace ns("resolver");
    ns.setHosts("192.0.2.5 first.test\n192.0.2.6 first.test\n");
    EXPECT_EQ(RunInNamespace(ns, 0, firstAddressThenInterrupt), "");
}

} // namespace
} // namespace hopwise::test
