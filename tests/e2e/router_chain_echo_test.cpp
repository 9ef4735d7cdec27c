// Echoes through a namespace network the test builds: client - three routers - target. Every
// packet stays inside those namespaces. Each case runs on both socket kinds.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <thread>

#include "probe/echo_status.h"
#include "probe/linux/linux_echo_stack.h"
#include "probe/linux/probe_interrupt.h"
#include "tests/probe/real_echo.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {
namespace {

constexpr int kRouters = 3;

class RouterChainEcho : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override
    {
        if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
            GTEST_SKIP() << reason;
        m_chain = std::make_unique<RouterChain>(kRouters);
        // Root's group 0 is then admitted to datagram sockets inside the client namespace.
        if (GetParam() == IcmpSocketKind::Datagram)
            m_chain->client().sysctl("net.ipv4.ping_group_range", "0 2147483647");
        m_stack = std::make_unique<LinuxEchoStack>(GetParam());
        m_installed = std::make_unique<ScopedEchoStack>(*m_stack);
    }

    void TearDown() override
    {
        m_installed.reset();
        m_stack.reset();
        m_chain.reset();
    }

    EchoOutcome echoWithTtl(const std::string& destination, std::uint8_t ttl,
                            std::uint32_t timeoutMs = 300)
    {
        EchoOptions options{
            .ttl = ttl, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
        return Echo(destination.c_str(), &options, timeoutMs);
    }

    std::unique_ptr<RouterChain> m_chain;
    std::unique_ptr<LinuxEchoStack> m_stack;
    std::unique_ptr<ScopedEchoStack> m_installed;
};

TEST_P(RouterChainEcho, eachHopAnswersInTurnAndTheTargetLast)
{
    EnterNamespace inside(m_chain->client());
    const std::string target = m_chain->targetAddress();
    for (int round = 0; round < 3; ++round) {
        for (int hop = 0; hop < kRouters; ++hop) {
            const EchoOutcome outcome = echoWithTtl(target, static_cast<std::uint8_t>(hop + 1));
            ASSERT_EQ(outcome.count, 1u)
                << "hop " << hop + 1 << " last error " << outcome.lastError;
            EXPECT_EQ(outcome.record.status, kIpTtlExpiredTransit) << "hop " << hop + 1;
            EXPECT_EQ(outcome.record.address, Ip(m_chain->routerAddress(hop).c_str()))
                << "hop " << hop + 1;
            // The report's own TTL: each router is one hop further away than the last.
            EXPECT_EQ(outcome.record.options.ttl, 64 - hop) << "hop " << hop + 1;
        }
        const EchoOutcome last = echoWithTtl(target, kRouters + 1);
        ASSERT_EQ(last.count, 1u) << "last error " << last.lastError;
        EXPECT_EQ(last.record.status, kIpSuccess);
        EXPECT_EQ(last.record.address, Ip(target.c_str()));
        EXPECT_EQ(last.data, (std::vector<std::uint8_t>{'h', 'o', 'p', 'w', 'i', 's', 'e'}));
        EXPECT_EQ(last.record.options.ttl, 64 - kRouters);
    }
    EXPECT_EQ(m_stack->kindInUse(), GetParam());
}

TEST_P(RouterChainEcho, routerWithoutRouteReportsNetUnreachable)
{
    // The client sends 10.99.0.0/24 to the first router, which has no route for it.
    ASSERT_EQ(m_chain->client().exec("ip route add 10.99.0.0/24 via " + m_chain->routerAddress(0)),
              0);
    EnterNamespace inside(m_chain->client());
    const EchoOutcome outcome = echoWithTtl("10.99.0.1", 64);
    ASSERT_EQ(outcome.count, 1u) << "last error " << outcome.lastError;
    EXPECT_EQ(outcome.record.status, kIpDestNetUnreachable);
    EXPECT_EQ(outcome.record.address, Ip(m_chain->routerAddress(0).c_str()));
}

TEST_P(RouterChainEcho, dontFragmentFlagReachesTheWire)
{
    // The first router's link onwards carries only 1000 bytes: a larger request gets through
    // fragmented, unless it asked not to be fragmented, when that router says so.
    const auto shrink = [](const NetNamespace& ns, const std::string& address) {
        return ns.exec("ip link set mtu 1000 dev \"$(ip -o -4 addr show to " + address +
                       " | cut -d' ' -f2)\"");
    };
    ASSERT_EQ(shrink(m_chain->router(0), "10.201.1.1"), 0);
    ASSERT_EQ(shrink(m_chain->router(1), "10.201.1.2"), 0);
    EnterNamespace inside(m_chain->client());
    const std::vector<std::uint8_t> big(1200, 0x42);
    EchoOptions mayFragment{
        .ttl = 64, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
    const EchoOutcome fragmented = Echo(m_chain->targetAddress().c_str(), &mayFragment, 300, big);
    ASSERT_EQ(fragmented.count, 1u) << "last error " << fragmented.lastError;
    EXPECT_EQ(fragmented.record.status, kIpSuccess);
    EXPECT_EQ(fragmented.data, big);

    EchoOptions whole{.ttl = 64,
                      .tos = 0,
                      .flags = kIpFlagDontFragment,
                      .optionsSize = 0,
                      .optionsData = nullptr};
    const EchoOutcome refused = Echo(m_chain->targetAddress().c_str(), &whole, 300, big);
    ASSERT_EQ(refused.count, 1u) << "last error " << refused.lastError;
    EXPECT_EQ(refused.record.status, kIpPacketTooBig);
    EXPECT_EQ(refused.record.address, Ip(m_chain->routerAddress(0).c_str()));
}

TEST_P(RouterChainEcho, silentTargetYieldsTimeoutAfterTheTimeout)
{
    m_chain->target().sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    EnterNamespace inside(m_chain->client());
    const EchoOutcome outcome = echoWithTtl(m_chain->targetAddress(), 64, 200);
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_EQ(outcome.lastError, kIpReqTimedOut);
    EXPECT_EQ(outcome.record.address, 0u);
    EXPECT_GE(outcome.elapsedMs, 200);
    EXPECT_LT(outcome.elapsedMs, 2000);
}

TEST_P(RouterChainEcho, unroutableDestinationWaitsOutItsTimeout)
{
    // No route at all: the send fails at once, yet the caller sees an ordinary timeout.
    EnterNamespace inside(m_chain->client());
    const EchoOutcome outcome = echoWithTtl("10.98.0.1", 64, 150);
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_EQ(outcome.lastError, kIpReqTimedOut);
    EXPECT_GE(outcome.elapsedMs, 150);
    EXPECT_LT(outcome.elapsedMs, 2000);
}

TEST_P(RouterChainEcho, interruptCutsAWaitForASilentTargetShort)
{
    m_chain->target().sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    EnterNamespace inside(m_chain->client());
    ProbeInterrupt interrupt;
    ScopedProbeInterrupt bound(interrupt);
    std::thread raiser([&interrupt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        interrupt.raise();
    });
    const EchoOutcome outcome = echoWithTtl(m_chain->targetAddress(), 64, 5000);
    raiser.join();
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_EQ(outcome.lastError, kErrorOperationAborted);
    EXPECT_EQ(outcome.record.address, 0u);
    EXPECT_GE(outcome.elapsedMs, 90);
    EXPECT_LT(outcome.elapsedMs, 1500);
}

TEST_P(RouterChainEcho, concurrentProbesEachGetTheirOwnAnswerDuringAFlood)
{
    const std::string target = m_chain->targetAddress();
    // Another process's echoes and replies pass the same sockets' view the whole time; it runs
    // until the probes are done (at most 5 s) and is then stopped.
    std::atomic<bool> floodDone{false};
    std::string floodOutput;
    std::thread flood([&] {
        m_chain->client().exec("ping -q -f -w 5 " + target, &floodOutput);
        floodDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    auto prober = [&](int hop, std::string* failure) {
        try {
            EnterNamespace inside(m_chain->client());
            for (int i = 0; i < 100 && failure->empty(); ++i) {
                const EchoOutcome outcome = echoWithTtl(target, static_cast<std::uint8_t>(hop));
                const bool atTarget = hop > kRouters;
                const IpAddress expected =
                    Ip(atTarget ? target.c_str() : m_chain->routerAddress(hop - 1).c_str());
                if (outcome.count != 1)
                    *failure = "no answer, last error " + std::to_string(outcome.lastError);
                else if (outcome.record.address != expected)
                    *failure = "answer from the wrong node";
                else if (outcome.record.status != (atTarget ? kIpSuccess : kIpTtlExpiredTransit))
                    *failure = "status " + std::to_string(outcome.record.status);
                if (!failure->empty())
                    *failure = "hop " + std::to_string(hop) + " echo " + std::to_string(i) + ": " +
                               *failure;
            }
        } catch (const std::exception& error) {
            *failure = error.what();
        }
    };
    std::string nearFailure;
    std::string farFailure;
    std::thread near(prober, 1, &nearFailure);
    std::thread far(prober, kRouters + 1, &farFailure);
    near.join();
    far.join();
    const bool overlapped = !floodDone.load();
    RunCommand("ip netns pids " + m_chain->client().name() + " | grep -vx " +
               std::to_string(getpid()) + " | xargs -r kill -INT");
    flood.join();
    EXPECT_EQ(nearFailure, "");
    EXPECT_EQ(farFailure, "");
    EXPECT_TRUE(overlapped) << "the flood ended before the probes did: " << floodOutput;
    EXPECT_NE(floodOutput.find(" received"), std::string::npos) << floodOutput;
    EXPECT_EQ(floodOutput.find(" 0 received"), std::string::npos) << floodOutput;
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, RouterChainEcho,
                         ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const auto& info) { return IcmpSocketKindName(info.param); });

} // namespace
} // namespace hopwise::test
