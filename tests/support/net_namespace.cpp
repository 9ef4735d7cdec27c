#include "tests/support/net_namespace.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <stdexcept>
#include <thread>

#include "probe/linux/linux_echo_stack.h"

namespace hopwise::test {
namespace {

void runOrThrow(const std::string& command)
{
    std::string output;
    if (RunCommand(command, &output) != 0)
        throw std::runtime_error(command + ": " + output);
}

// In the child of RunInNamespace: what `ip netns exec` does, then the user.
std::string enter(const NetNamespace& ns, unsigned uid)
{
    const int fd = open(("/var/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0 || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "child: can't join " + ns.name();
    for (const std::string file : {"hosts", "resolv.conf"}) {
        const std::string own = "/etc/netns/" + ns.name() + "/" + file;
        if (access(own.c_str(), F_OK) == 0 &&
            mount(own.c_str(), ("/etc/" + file).c_str(), nullptr, MS_BIND, nullptr) != 0)
            return "child: can't bind " + own;
    }
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
        return "child: can't become " + std::to_string(uid);
    return {};
}

} // namespace

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
    char chunk[512];
    for (std::size_t got; pipe && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        if (output != nullptr)
            output->append(chunk, got);
    }
    const int status = pipe ? pclose(pipe) : -1;
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string NetNamespaceSkipReason()
{
    static const std::string reason = []() -> std::string {
        if (geteuid() != 0)
            return "network namespace tests need root";
        // A killed run can't run its destructors; its names carry its pid, which is then gone.
        RunCommand("for n in $(ls /var/run/netns); do case $n in hw[0-9]*-*) p=${n#hw}; "
                   "kill -0 ${p%%-*} || { ip netns del $n; rm -rf /etc/netns/$n; };; esac; done");
        const std::string check = "hw" + std::to_string(getpid()) + "-check";
        std::string output;
        if (RunCommand("ip netns add " + check + " && ip netns del " + check, &output) != 0)
            return "`ip netns add` fails here: " + output;
        return {};
    }();
    return reason;
}

NetNamespace::NetNamespace(const std::string& role)
{
    static std::atomic<int> sequence{0};
    m_name = "hw" + std::to_string(getpid()) + "-" + std::to_string(sequence++) + "-" + role;
    // Routers must answer every probe: the default rate limits turn fast traces flaky, and make
    // a report's loss at a router depend on how fast the probes came. A kernel without IPv6 has
    // no key for its limit (-e).
    runOrThrow("ip netns add " + m_name + " && ip -n " + m_name + " link set lo up && ip netns " +
               "exec " + m_name + " sysctl -qew net.ipv4.icmp_ratelimit=0 net.ipv4.ip_forward=1 " +
               "net.ipv4.icmp_msgs_per_sec=100000 net.ipv4.icmp_msgs_burst=100000 " +
               "net.ipv6.icmp.ratelimit=0 || { ip netns del " + m_name + "; false; }");
}

NetNamespace::~NetNamespace()
{
    // A process left inside (a flood ping) would keep the network alive after the name is gone;
    // a thread of this process may be inside too, and is not ours to kill.
    RunCommand("ip netns pids " + m_name + " | grep -vx " + std::to_string(getpid()) +
               " | xargs -r kill -9; ip netns del " + m_name + "; rm -rf /etc/netns/" + m_name);
}

void NetNamespace::setHosts(const std::string& hosts) const
{
    const std::string dir = "/etc/netns/" + m_name;
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/hosts") << hosts;
    std::ofstream(dir + "/resolv.conf") << "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n";
}

void NetNamespace::enableIpv6() const
{
    // A router solicits a forwarded packet's next hop from its link-local address, and sends
    // nothing while that is tentative: without DAD off, the first second of a trace is lost.
    runOrThrow("ip netns exec " + m_name + " sysctl -qw net.ipv6.conf.all.disable_ipv6=0 " +
               "net.ipv6.conf.default.disable_ipv6=0 net.ipv6.conf.all.accept_dad=0 " +
               "net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.forwarding=1");
}

std::string RunInNamespace(const NetNamespace& ns, unsigned uid,
                           const std::function<std::string()>& body, int timeoutMs)
{
    constexpr std::size_t kSize = 4096;
    void* shared = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    const pid_t child = shared == MAP_FAILED ? -1 : fork();
    if (child == 0) {
        // The alarm kills a child that overruns, which bounds the wait below.
        alarm(static_cast<unsigned>((timeoutMs + 999) / 1000));
        std::string result = enter(ns, uid);
        result = result.empty() ? body() : result;
        (result.empty() ? std::string("ok") : result).copy(static_cast<char*>(shared), kSize - 1);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return "fork or wait failed";
    const std::string text(static_cast<const char*>(shared));
    munmap(shared, kSize);
    if (text.empty())
        return "the child died without a word (status " + std::to_string(status) + ")";
    return text == "ok" ? std::string() : text;
}

EnterNamespace::EnterNamespace(const NetNamespace& ns)
    : m_original(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
{
    const int target = open(("/var/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_original < 0 || target < 0 || setns(target, CLONE_NEWNET) != 0)
        throw std::runtime_error("can't enter namespace " + ns.name());
    close(target);
    DropThreadEchoSockets();
}

EnterNamespace::~EnterNamespace()
{
    setns(m_original, CLONE_NEWNET);
    close(m_original);
    DropThreadEchoSockets();
}

// Carries the frames of delayed links across the wire namespace, each held for its link's delay:
// wire ends "wl<i>" (towards the client) and "wr<i>" (towards the target) of link i.
class LinkWire {
public:
    struct Link {
        int index = 0;
        int delayMs = 0;
        in_addr_t lateSource = 0; // IPv4 time-exceeded reports from it, towards the client, ...
        int lateMs = 0;           // ... are held this much longer
    };

    LinkWire(const NetNamespace& wireSpace, std::vector<Link> links)
        : m_links(std::move(links)), m_stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        std::future<std::string> opened = m_ready.get_future();
        m_thread = std::thread([this, &wireSpace] { run(wireSpace, m_ready); });
        if (const std::string error = opened.get(); !error.empty()) {
            m_thread.join();
            close(m_stop);
            throw std::runtime_error(error);
        }
    }
    ~LinkWire()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t wrote = write(m_stop, &one, sizeof one);
        m_thread.join();
        close(m_stop);
    }
    LinkWire(const LinkWire&) = delete;
    LinkWire& operator=(const LinkWire&) = delete;

private:
    using Clock = std::chrono::steady_clock;
    struct Held {
        int out; // the socket of the end it leaves by
        std::vector<std::uint8_t> frame;
    };
    // A wire outlives no test by much; past this it stops carrying frames.
    static constexpr auto kLifetime = std::chrono::minutes(30);
    static constexpr std::size_t kMaxHeld = 10000;

    bool lateReport(const Link& link, const std::uint8_t* frame, std::size_t size) const
    {
        constexpr std::size_t kIp = sizeof(ether_header);
        if (link.lateMs == 0 || size < kIp + 20 || frame[12] != 0x08 || frame[13] != 0x00 ||
            frame[kIp + 9] != IPPROTO_ICMP ||
            std::memcmp(frame + kIp + 12, &link.lateSource, sizeof link.lateSource) != 0)
            return false;
        const std::size_t icmp = kIp + static_cast<std::size_t>(frame[kIp] & 0x0f) * 4;
        return icmp < size && frame[icmp] == 11;
    }

    void run(const NetNamespace& wireSpace, std::promise<std::string>& ready)
    {
        std::vector<pollfd> fds; // two per link, towards the client first, then m_stop
        try {
            const EnterNamespace inWire(wireSpace);
            for (const Link& link : m_links) {
                for (const char* side : {"wl", "wr"}) {
                    const std::string name = side + std::to_string(link.index);
                    sockaddr_ll end{};
                    end.sll_family = AF_PACKET;
                    end.sll_protocol = htons(ETH_P_ALL);
                    end.sll_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
                    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                          htons(ETH_P_ALL));
                    if (fd >= 0)
                        fds.push_back({fd, POLLIN, 0});
                    if (fd < 0 || end.sll_ifindex == 0 ||
                        bind(fd, reinterpret_cast<const sockaddr*>(&end), sizeof end) != 0)
                        throw std::runtime_error("wire end " + name + ": " + std::strerror(errno));
                }
            }
        } catch (const std::exception& error) {
            for (const pollfd& fd : fds)
                close(fd.fd);
            ready.set_value(error.what());
            return;
        }
        fds.push_back({m_stop, POLLIN, 0});
        ready.set_value({});
        const Clock::time_point end = Clock::now() + kLifetime;
        std::multimap<Clock::time_point, Held> held;
        std::vector<std::uint8_t> buffer(65536);
        while ((fds.back().revents & POLLIN) == 0 && Clock::now() < end) {
            const auto next = held.empty() ? end : std::min(end, held.begin()->first);
            const auto wait = std::max<Clock::duration>(next - Clock::now(), {});
            const timespec timeout{
                static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(wait).count()),
                static_cast<long>((wait % std::chrono::seconds(1)) / std::chrono::nanoseconds(1))};
            if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
                break;
            for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
                const Link& link = m_links[i / 2];
                const bool towardsClient = i % 2 == 1;
                for (int frames = 0; frames < 64 && (fds[i].revents & POLLIN) != 0; ++frames) {
                    sockaddr_ll from{};
                    socklen_t fromSize = sizeof from;
                    const ssize_t got = recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                                                 reinterpret_cast<sockaddr*>(&from), &fromSize);
                    if (got <= 0)
                        break;
                    // What this thread sends itself shows up as outgoing: not to be carried back.
                    if (from.sll_pkttype == PACKET_OUTGOING || held.size() >= kMaxHeld)
                        continue;
                    const auto size = static_cast<std::size_t>(got);
                    int ms = link.delayMs;
                    if (towardsClient && lateReport(link, buffer.data(), size))
                        ms += link.lateMs;
                    held.emplace(Clock::now() + std::chrono::milliseconds(ms),
                                 Held{fds[i ^ 1].fd, {buffer.begin(), buffer.begin() + got}});
                }
            }
            for (const auto now = Clock::now(); !held.empty() && held.begin()->first <= now;) {
                const Held& frame = held.begin()->second;
                send(frame.out, frame.frame.data(), frame.frame.size(), 0);
                held.erase(held.begin());
            }
        }
        for (std::size_t i = 0; i + 1 < fds.size(); ++i)
            close(fds[i].fd);
    }

    std::vector<Link> m_links;
    int m_stop;
    std::promise<std::string> m_ready; // the thread's sockets open, or why not
    std::thread m_thread;
};

RouterChain::~RouterChain() = default;

void RouterChain::silence(int i)
{
    // What it sends itself finds no route; what it forwards still does.
    const std::string name = router(i).name();
    for (const std::string& ip : {std::string("ip -n "), std::string(m_dual ? "ip -6 -n " : "")}) {
        if (!ip.empty()) {
            runOrThrow(ip + name + " rule add iif lo lookup 77 && " + ip + name +
                       " route add unreachable default table 77");
        }
    }
}

void RouterChain::dropEchoInForward()
{
    for (int i = 0; i < routers(); ++i) {
        const std::string nft = "ip netns exec " + router(i).name() + " nft ";
        runOrThrow(nft + "add table inet noecho && " + nft +
                   "'add chain inet noecho forward { type filter hook forward priority 0; }' && " +
                   nft + "add rule inet noecho forward icmp type echo-request drop && " + nft +
                   "add rule inet noecho forward icmpv6 type echo-request drop");
    }
}

RouterChain::RouterChain(int routers, int base, Stack stack, const ChainDelays& delays)
    : m_base(base), m_dual(stack == Stack::Dual)
{
    // Should anything below throw, the namespaces made so far go with m_nodes.
    m_nodes.push_back(std::make_unique<NetNamespace>("client"));
    for (int i = 0; i < routers; ++i)
        m_nodes.push_back(std::make_unique<NetNamespace>("r" + std::to_string(i + 1)));
    m_nodes.push_back(std::make_unique<NetNamespace>("target"));
    const bool dual = m_dual;
    for (std::size_t node = 0; dual && node < m_nodes.size(); ++node)
        m_nodes[node]->enableIpv6();
    // Node j sits between link j-1 (its end .2) and link j (its end .1); both ends of a link are
    // made inside their namespaces, so the names need only be unique there. Links further left
    // go through the left neighbour, links further right through the right neighbour.
    std::vector<LinkWire::Link> wired;
    for (int link = 0; link <= routers; ++link) {
        LinkWire::Link held{link, delays.linkMs};
        if (link == delays.lateRouter) {
            held.lateSource = inet_addr(address(link, 2).c_str());
            held.lateMs = delays.lateMs;
        }
        if (held.delayMs > 0 || held.lateMs > 0)
            wired.push_back(held);
    }
    if (!wired.empty())
        m_wireSpace = std::make_unique<NetNamespace>("wire");
    for (int link = 0; link <= routers; ++link) {
        const std::string a = m_nodes[link]->name();
        const std::string b = m_nodes[link + 1]->name();
        const bool viaWire = std::any_of(wired.begin(), wired.end(),
                                         [link](const auto& held) { return held.index == link; });
        if (viaWire) {
            const std::string wire = m_wireSpace->name();
            const std::string l = "wl" + std::to_string(link);
            const std::string r = "wr" + std::to_string(link);
            runOrThrow("ip link add hwr netns " + a + " type veth peer name " + l + " netns " +
                       wire + " && ip link add hwl netns " + b + " type veth peer name " + r +
                       " netns " + wire + " && ip -n " + wire + " link set " + l +
                       " up promisc on && ip -n " + wire + " link set " + r + " up promisc on");
        } else {
            runOrThrow("ip link add hwr netns " + a + " type veth peer name hwl netns " + b);
        }
        runOrThrow("ip -n " + a + " addr add " + address(link, 1) + "/30 dev hwr && ip -n " + b +
                   " addr add " + address(link, 2) + "/30 dev hwl && ip -n " + a +
                   " link set hwr up && ip -n " + b + " link set hwl up");
        if (dual)
            runOrThrow("ip -n " + a + " addr add " + address6(link, 1) + "/64 dev hwr nodad && " +
                       "ip -n " + b + " addr add " + address6(link, 2) + "/64 dev hwl nodad");
    }
    // One `ip -batch` per node: a chain of 30 routers has nearly a thousand routes, and a shell
    // and an `ip` process for each took minutes on a loaded machine.
    for (int node = 0; node <= routers + 1; ++node) {
        std::string batch;
        for (int link = 0; link <= routers; ++link) {
            if (link >= node - 1 && link <= node)
                continue;
            batch += "route add " + address(link, 0) + "/30 via " +
                     (link < node ? address(node - 1, 1) : address(node, 2)) + "\n";
            if (dual)
                batch += "route add " + address6(link, 0) + "/64 via " +
                         (link < node ? address6(node - 1, 1) : address6(node, 2)) + "\n";
        }
        if (!batch.empty())
            runOrThrow("printf '" + batch + "' | ip -n " + m_nodes[node]->name() + " -batch -");
    }
    if (!wired.empty())
        m_wire = std::make_unique<LinkWire>(*m_wireSpace, wired);
}

DiamondRoutes::DiamondRoutes(int base) : m_base(base)
{
    for (const char* role : {"client", "r1", "r2a", "r2b", "r3", "target"})
        m_nodes.push_back(std::make_unique<NetNamespace>(role));
    // Link i joins these two nodes (indexes into m_nodes); each end is named l<i> in its node.
    const int ends[][2] = {{0, 1}, {1, 2}, {1, 3}, {2, 4}, {3, 4}, {4, 5}};
    for (int link = 0; link < 6; ++link) {
        const std::string a = m_nodes[ends[link][0]]->name();
        const std::string b = m_nodes[ends[link][1]]->name();
        const std::string dev = "l" + std::to_string(link);
        runOrThrow("ip link add " + dev + " netns " + a + " type veth peer name " + dev +
                   " netns " + b + " && ip -n " + a + " addr add " + address(link, 1) + "/30 dev " +
                   dev + " && ip -n " + b + " addr add " + address(link, 2) + "/30 dev " + dev +
                   " && ip -n " + a + " link set " + dev + " up && ip -n " + b + " link set " +
                   dev + " up");
    }
    const auto net = [this](int link) { return address(link, 0) + "/30"; };
    const std::string routes[] = {
        "route add default via " + address(0, 2),
        "route add " + net(3) + " via " + address(1, 2) + "\nroute add " + net(4) + " via " +
            address(2, 2) + "\nroute add " + net(5) + " nexthop via " + address(1, 2) +
            " nexthop via " + address(2, 2),
        "route add default via " + address(3, 2) + "\nroute add " + net(0) + " via " +
            address(1, 1),
        "route add default via " + address(4, 2) + "\nroute add " + net(0) + " via " +
            address(2, 1),
        "route add default via " + address(3, 1) + "\nroute add " + net(2) + " via " +
            address(4, 1),
        "route add default via " + address(5, 1),
    };
    for (std::size_t node = 0; node < m_nodes.size(); ++node)
        runOrThrow("printf '" + routes[node] + "\n' | ip -n " + m_nodes[node]->name() +
                   " -batch -");
    runOrThrow("ip netns exec " + m_nodes[1]->name() +
               " sysctl -qw net.ipv4.fib_multipath_hash_policy=1");
}

std::string DiamondRoutes::address(int link, int end) const
{
    return "10." + std::to_string(m_base) + "." + std::to_string(link) + "." + std::to_string(end);
}

std::string RouterChain::address(int link, int end) const
{
    return "10." + std::to_string(m_base) + "." + std::to_string(link) + "." + std::to_string(end);
}

std::string RouterChain::address6(int link, int end) const
{
    in6_addr bytes{};
    const std::string text =
        "fd00:" + std::to_string(m_base) + ":" + std::to_string(link) + "::" + std::to_string(end);
    char canonical[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, text.c_str(), &bytes) != 1 ||
        inet_ntop(AF_INET6, &bytes, canonical, sizeof canonical) == nullptr)
        throw std::invalid_argument(text);
    return canonical;
}

} // namespace hopwise::test
