// trace --mtu over client - router 1 - router 2 - router 3 - target, where the links behind
// router 2 and router 3 take 1400 and 1280 bytes: as root (raw socket) and as an ordinary user
// (datagram socket), over IPv4 and IPv6, the first hop carries the MTU past it, routers 2 and 3
// the MTU each lets through, the trace reaches the target, and tracepath finds the same path
// MTU. A raw socket in the target reads the requests that reach it: each of a trace's requests
// of one size has the same checksum (one flow for a load balancer), and the replies still
// matched, or the trace would not have reached the target.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

constexpr int kBase = 224;

struct MtuCase {
    const char* name;
    bool ipv6;
    bool asUser;
};

const MtuCase kCases[] = {
    {"rawSocketIpv4", false, false},
    {"datagramSocketIpv4", false, true},
    {"rawSocketIpv6", true, false},
    {"datagramSocketIpv6", true, true},
};

void PrintTo(const MtuCase& row, std::ostream* out)
{
    *out << row.name;
}

// The echo requests that reach a namespace, read on a raw socket there: for each size, the
// checksums they carried.
class RequestCapture {
public:
    RequestCapture(const NetNamespace& ns, bool ipv6)
        : m_thread([this, &ns, ipv6] { read(ns, ipv6); })
    {
    }
    ~RequestCapture() { stop(); }
    RequestCapture(const RequestCapture&) = delete;
    RequestCapture& operator=(const RequestCapture&) = delete;

    std::map<std::size_t, std::vector<unsigned>> stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_sums;
    }

private:
    void read(const NetNamespace& ns, bool ipv6)
    {
        const EnterNamespace inside(ns);
        const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_RAW | SOCK_CLOEXEC,
                              ipv6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
        const timeval slice{0, 50000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        unsigned char packet[2048];
        while (fd >= 0 && !m_stop && std::chrono::steady_clock::now() < limit) {
            const ssize_t size = recv(fd, packet, sizeof packet, 0);
            // IPv4 raw sockets hand the IP header over too, IPv6 ones the ICMPv6 message alone.
            const std::size_t at = ipv6 || size < 1 ? 0 : (packet[0] & 0x0fu) * 4u;
            if (size < static_cast<ssize_t>(at + 8) || packet[at] != (ipv6 ? 128 : 8))
                continue;
            m_sums[static_cast<std::size_t>(size) - at].push_back(packet[at + 2] << 8 |
                                                                  packet[at + 3]);
        }
        if (fd >= 0)
            close(fd);
    }

    std::atomic<bool> m_stop{false};
    std::map<std::size_t, std::vector<unsigned>> m_sums;
    std::thread m_thread;
};

class PathMtuTest : public ::testing::TestWithParam<MtuCase> {
protected:
    static void SetUpTestSuite()
    {
        if (!NetNamespaceSkipReason().empty())
            return;
        s_chain = std::make_unique<RouterChain>(3, kBase, RouterChain::Stack::Dual);
        RouterChain& chain = *s_chain;
        const std::string commands[] = {
            "ip -n " + chain.router(1).name() + " link set hwr mtu 1400",
            "ip -n " + chain.router(2).name() + " link set hwl mtu 1400",
            "ip -n " + chain.router(2).name() + " link set hwr mtu 1280",
            "ip -n " + chain.target().name() + " link set hwl mtu 1280",
            "ip netns exec " + chain.client().name() +
                " sysctl -qw net.ipv4.ping_group_range='65534 65534'",
        };
        for (const std::string& command : commands) {
            std::string output;
            if (RunCommand(command, &output) != 0)
                s_setupFailure += command + ": " + output;
        }
    }
    static void TearDownTestSuite() { s_chain.reset(); }

    // Runs a command in the client after the routes there forgot what earlier runs learned.
    static std::string runInClient(const std::string& command, int exitCode = 0)
    {
        RunCommand("ip netns exec " + s_chain->client().name() +
                   " sh -c 'ip route flush cache; ip -6 route flush cache'");
        ChildProcess child(Words("ip netns exec " + s_chain->client().name() + " " + command));
        EXPECT_EQ(child.finish(std::chrono::seconds(20)), exitCode) << command << child.err();
        return child.out();
    }

    static std::unique_ptr<RouterChain> s_chain;
    static std::string s_setupFailure;
};

std::unique_ptr<RouterChain> PathMtuTest::s_chain;
std::string PathMtuTest::s_setupFailure;

TEST_P(PathMtuTest, showsWhereTheMtuFallsAndReachesTheTarget)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    ASSERT_EQ(s_setupFailure, "");
    const MtuCase& row = GetParam();
    const std::string target = row.ipv6 ? s_chain->targetAddress6() : s_chain->targetAddress();

    RequestCapture capture(s_chain->target(), row.ipv6);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the capture's socket is open
    const std::string out = runInClient(
        std::string(row.asUser ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
        HOPWISE_CLI_PATH + " trace --mtu -n --json " + target);
    const auto sums = capture.stop();

    std::string hops;
    std::string last;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_object() || event.value("type", "") != "hop")
            continue;
        if (event.contains("mtu"))
            hops += std::to_string(event["hop"].get<int>()) + ":" +
                    std::to_string(event["mtu"].get<int>()) + " ";
        last = event["address"].is_string() ? event["address"].get<std::string>() : "*";
    }
    EXPECT_EQ(hops, "1:1500 2:1400 3:1280 ") << out;
    EXPECT_EQ(last, target) << out;

    // Hops 4 to 16 went out together: several requests of one size reached the target.
    std::size_t most = 0;
    for (const auto& [size, checksums] : sums) {
        EXPECT_EQ(std::set<unsigned>(checksums.begin(), checksums.end()).size(), 1u)
            << size << "-byte requests";
        most = std::max(most, checksums.size());
    }
    EXPECT_GE(most, 2u);

    if (row.asUser)
        return;
    if (RunCommand("command -v tracepath >/dev/null") != 0)
        GTEST_SKIP() << "tracepath is not installed (iputils-tracepath): not compared";
    const std::string anchor = runInClient("tracepath -n " + target);
    EXPECT_NE(anchor.find("Resume: pmtu 1280 "), std::string::npos) << anchor;
}

INSTANTIATE_TEST_SUITE_P(Rows, PathMtuTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
