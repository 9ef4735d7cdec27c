// The monitor's worker over a chain of three routers: the first answers every second probe that
// ends at it, the second is silent, the target answers all. The model drained from the run
// counts every probe, and notes the first router as rate limited. Pausing stops the cycles; while
// paused, the third router's reports move to another source address: a route change. And the
// run's probe method reaches the engine: TCP probes to a port on 127.0.0.1 land on a listener.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "monitor/monitor_run.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;

constexpr char kMoved[] = "10.224.99.1";

HostAddress Ipv4(const std::string& text)
{
    return HostAddress::ipv4(inet_addr(text.c_str()));
}

// Drains until hop 1 has sent at least sent probes, for at most 10 s.
void DrainUntil(MonitorRun& run, MonitorModel& model, std::uint32_t sent)
{
    for (int i = 0; i < 200 && (model.rows().empty() || model.rows()[0].sent < sent); ++i) {
        std::this_thread::sleep_for(50ms);
        run.drain(model, nullptr);
    }
}

// A window that doesn't drain in time loses the oldest samples, never the newest.
TEST(SampleRing, FullKeepsTheNewest)
{
    SampleRing ring(4);
    MonitorSample sample;
    for (std::int32_t cycle = 0; cycle < 6; ++cycle) {
        sample.cycle = cycle;
        ring.push(sample);
    }
    std::vector<std::int32_t> cycles;
    while (ring.pop(sample)) {
        cycles.push_back(sample.cycle);
    }
    EXPECT_EQ(cycles, (std::vector<std::int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(ring.dropped(), 2U);
}

TEST(MonitorRun, CountsEveryProbeOverARouterChain)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    if (RunCommand("command -v nft >/dev/null") != 0) {
        GTEST_SKIP() << "nft is not installed (tools/install-deps.sh installs nftables)";
    }
    RouterChain chain(3, 224);
    chain.silence(1);
    const std::string nft = "ip netns exec " + chain.router(0).name() + " nft ";
    ASSERT_EQ(RunCommand(nft + "add table ip halve && " + nft +
                         "'add chain ip halve in { type filter hook prerouting priority -300; }' "
                         "&& " +
                         nft + "add rule ip halve in ip ttl 1 icmp type echo-request " +
                         "numgen inc mod 2 == 1 drop"),
              0);

    MonitorRunOptions options;
    options.destination = Ipv4(chain.targetAddress());
    options.intervalMs = 100;
    options.timeoutMs = 300;
    options.maxHop = 6;
    MonitorModel model;
    {
        EnterNamespace inside(chain.client()); // the worker starts in it
        MonitorRun run(options);
        run.start();
        DrainUntil(run, model, 8);
        run.pause();
        std::this_thread::sleep_for(600ms); // the probes out end
        run.drain(model, nullptr);
        const std::uint32_t paused = model.rows().at(0).sent;
        std::this_thread::sleep_for(300ms);
        run.drain(model, nullptr);
        EXPECT_EQ(model.rows().at(0).sent, paused); // no cycle started meanwhile
        // Hop 3 answers from another address from now on: its reports take the source of its route
        // back to the client (link 0, through its left neighbour 10.224.2.1).
        ASSERT_EQ(RunCommand("ip -n " + chain.router(2).name() + " addr add " + kMoved +
                             "/32 dev hwl && ip -n " + chain.router(2).name() +
                             " route replace 10.224.0.0/30 via 10.224.2.1 src " + kMoved),
                  0);
        run.resume();
        DrainUntil(run, model, paused + 4);
        run.pause();
        std::this_thread::sleep_for(600ms);
        run.drain(model, nullptr);
        run.stop();
        EXPECT_FALSE(run.running());
        EXPECT_EQ(run.end(), RouteReportEnd::Cancelled);
        EXPECT_EQ(run.dropped(), 0U);
    }

    const std::vector<HopRow>& rows = model.rows();
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(model.destinationHop(), 4);
    const std::uint32_t sent = rows[0].sent;
    const std::uint32_t received[] = {(sent + 1) / 2, 0, sent, sent};
    const HopNote notes[] = {HopNote::RateLimited, HopNote::None, HopNote::None, HopNote::None};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].sent, sent) << "hop " << i + 1;
        EXPECT_EQ(rows[i].received, received[i]) << "hop " << i + 1;
        EXPECT_EQ(rows[i].note, notes[i]) << "hop " << i + 1;
    }
    EXPECT_EQ(rows[0].responders, std::vector<HostAddress>{Ipv4(chain.routerAddress(0))});
    EXPECT_TRUE(rows[2].routeChanged);
    ASSERT_EQ(model.routeChanges().size(), 1U);
    EXPECT_EQ(model.routeChanges()[0].hop, 3);
    EXPECT_EQ(model.routeChanges()[0].from, Ipv4(chain.routerAddress(2)));
    EXPECT_EQ(model.routeChanges()[0].to, Ipv4(kMoved));
}

TEST(MonitorRun, ProbesWithItsMethod)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    ASSERT_EQ(bind(listener, any, length), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    ASSERT_EQ(getsockname(listener, any, &length), 0);

    MonitorRunOptions options;
    options.destination = Ipv4("127.0.0.1");
    options.intervalMs = 100;
    options.maxHop = 2;
    options.method = {ProbeProtocol::Tcp, ntohs(address.sin_port)};
    MonitorRun run(options);
    MonitorModel model;
    run.start();
    DrainUntil(run, model, 2);
    run.stop();
    const int accepted = accept(listener, nullptr, nullptr);
    EXPECT_GE(accepted, 0) << "no TCP probe reached the port";
    ASSERT_FALSE(model.rows().empty());
    EXPECT_GT(model.rows()[0].received, 0U);
    if (accepted >= 0) {
        close(accepted);
    }
    close(listener);
}

} // namespace
} // namespace hopwise::test
