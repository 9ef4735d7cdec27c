#include "tests/support/net_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "probe/linux/linux_echo_stack.h"

namespace hopwise::test {
namespace {

void runOrThrow(const std::string& command)
{
    std::string output;
    if (RunCommand(command, &output) != 0)
        throw std::runtime_error(command + ": " + output);
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
        if (RunCommand("ip -V") != 0)
            return "the `ip` tool (iproute2) is not installed";
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
    // Routers must answer every probe: the default rate limits turn fast traces flaky.
    runOrThrow("ip netns add " + m_name + " && ip -n " + m_name + " link set lo up && ip netns " +
               "exec " + m_name + " sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.ip_forward=1 " +
               "net.ipv4.icmp_msgs_per_sec=100000 net.ipv4.icmp_msgs_burst=100000 || " +
               "{ ip netns del " + m_name + "; false; }");
}

NetNamespace::~NetNamespace()
{
    // A process left inside (a flood ping) would keep the network alive after the name is gone;
    // a thread of this process may be inside too, and is not ours to kill.
    RunCommand("ip netns pids " + m_name + " | grep -vx " + std::to_string(getpid()) +
               " | xargs -r kill -9; ip netns del " + m_name);
}

int NetNamespace::exec(const std::string& command, std::string* output) const
{
    std::string quoted = "'";
    for (const char c : command)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return RunCommand("ip netns exec " + m_name + " sh -c " + quoted + "'", output);
}

void NetNamespace::sysctl(const std::string& key, const std::string& value) const
{
    runOrThrow("ip netns exec " + m_name + " sysctl -qw '" + key + "=" + value + "'");
}

NamespaceEtcFiles::NamespaceEtcFiles(const std::string& ns, const std::string& hosts)
    : m_dir("/etc/netns/" + ns)
{
    std::filesystem::create_directories(m_dir);
    std::ofstream(m_dir + "/hosts") << hosts;
    std::ofstream(m_dir + "/resolv.conf") << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
}

NamespaceEtcFiles::~NamespaceEtcFiles()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

EnterNamespace::EnterNamespace(const NetNamespace& ns)
    : m_original(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
{
    const int target = open(("/var/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = m_original >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    close(target);
    if (!entered) {
        close(m_original);
        throw std::runtime_error("can't enter namespace " + ns.name());
    }
    DropThreadEchoSockets();
}

EnterNamespace::~EnterNamespace()
{
    setns(m_original, CLONE_NEWNET);
    close(m_original);
    DropThreadEchoSockets();
}

RouterChain::RouterChain(int routers, int base) : m_routers(routers), m_base(base)
{
    // Should anything below throw, the namespaces made so far go with m_nodes.
    m_nodes.push_back(std::make_unique<NetNamespace>("client"));
    for (int i = 0; i < routers; ++i)
        m_nodes.push_back(std::make_unique<NetNamespace>("r" + std::to_string(i + 1)));
    m_nodes.push_back(std::make_unique<NetNamespace>("target"));
    // Both ends of a link are made inside their namespaces, so the names need only be unique there.
    const auto connect = [this](const std::string& a, const std::string& b, int link) {
        runOrThrow("ip link add hwr netns " + a + " type veth peer name hwl netns " + b +
                   " && ip -n " + a + " addr add " + address(link, 1) + "/30 dev hwr && ip -n " +
                   b + " addr add " + address(link, 2) + "/30 dev hwl && ip -n " + a +
                   " link set hwr up && ip -n " + b + " link set hwl up");
    };
    // Node j sits between link j-1 (its end .2) and link j (its end .1); links further left go
    // through its left neighbour, links further right through its right neighbour.
    const auto route = [this](int node, int link) {
        return " && ip route add " + address(link, 0) + "/30 via " +
               (link < node ? address(node - 1, 1) : address(node, 2));
    };
    for (int link = 0; link <= routers; ++link)
        connect(m_nodes[link]->name(), m_nodes[link + 1]->name(), link);
    for (int node = 0; node <= routers + 1; ++node) {
        std::string routes = "true";
        for (int link = 0; link <= routers; ++link) {
            if (link < node - 1 || link > node)
                routes += route(node, link);
        }
        runOrThrow("ip netns exec " + m_nodes[node]->name() + " sh -c '" + routes + "'");
    }
}

std::string RouterChain::address(int link, int end) const
{
    return "10." + std::to_string(m_base) + "." + std::to_string(link) + "." + std::to_string(end);
}

} // namespace hopwise::test
