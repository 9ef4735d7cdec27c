#include "tests/support/net_namespace.h"

#include "probe/linux/linux_echo_stack.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>

namespace hopwise::test {

namespace {

constexpr const char* kNamespaceDir = "/var/run/netns";

std::string quoteForShell(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

void runOrThrow(const std::string& command)
{
    std::string output;
    if (RunCommand(command, &output) != 0) {
        throw std::runtime_error("command failed: " + command + ": " + output);
    }
}

// A crashed or killed test run can't run its destructors; its namespaces would pile up. Names
// carry the pid, so the ones whose process is gone are ours to remove.
void removeStaleNamespaces()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(kNamespaceDir, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("hw", 0) != 0) {
                continue;
            }
            const std::size_t dash = name.find('-');
            if (dash == std::string::npos || dash == 2) {
                continue;
            }
            const std::string digits = name.substr(2, dash - 2);
            if (digits.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            const pid_t owner = static_cast<pid_t>(std::stol(digits));
            if (owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH) {
                RunCommand("ip netns del " + quoteForShell(name));
            }
        }
    });
}

std::string linkAddress(int base, int link, int end)
{
    return "10." + std::to_string(base) + "." + std::to_string(link) + "." + std::to_string(end);
}

} // namespace

int RunCommand(const std::string& command, std::string* output)
{
    const std::string full = "(" + command + ") 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char chunk[512];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        if (output != nullptr) {
            output->append(chunk, got);
        }
    }
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string NetNamespaceSkipReason()
{
    static std::once_flag once;
    static std::string reason;
    std::call_once(once, [] {
        if (geteuid() != 0) {
            reason = "network namespace tests need root";
            return;
        }
        if (RunCommand("ip -V") != 0) {
            reason = "the `ip` tool (iproute2) is not installed";
            return;
        }
        const std::string probe = "hw" + std::to_string(getpid()) + "-check";
        std::string output;
        if (RunCommand("ip netns add " + probe, &output) != 0) {
            reason = "`ip netns add` fails here: " + output;
            return;
        }
        RunCommand("ip netns del " + probe);
    });
    return reason;
}

NetNamespace::NetNamespace(const std::string& role)
{
    removeStaleNamespaces();
    // The sequence number keeps two namespaces of the same role in one run apart.
    static std::atomic<int> sequence{0};
    m_name = "hw" + std::to_string(getpid()) + "-" + std::to_string(sequence++) + "-" + role;
    runOrThrow("ip netns add " + quoteForShell(m_name));
    try {
        exec("ip link set lo up");
        // Routers must answer every probe: the default rate limits turn fast traces flaky.
        sysctl("net.ipv4.icmp_ratelimit", "0");
        sysctl("net.ipv4.icmp_msgs_per_sec", "100000");
        sysctl("net.ipv4.icmp_msgs_burst", "100000");
        sysctl("net.ipv4.ip_forward", "1");
    } catch (...) {
        RunCommand("ip netns del " + quoteForShell(m_name));
        throw;
    }
}

NetNamespace::~NetNamespace()
{
    // Processes still inside (a flood ping) would keep the network alive after the name is
    // gone; kill them first, then drop the name.
    // A thread of this very process may still be inside; it is not ours to kill.
    RunCommand("ip netns pids " + quoteForShell(m_name) + " | grep -vx " +
               std::to_string(getpid()) + " | xargs -r kill -9");
    RunCommand("ip netns del " + quoteForShell(m_name));
}

int NetNamespace::exec(const std::string& command, std::string* output) const
{
    return RunCommand("ip netns exec " + quoteForShell(m_name) + " sh -c " + quoteForShell(command),
                      output);
}

void NetNamespace::sysctl(const std::string& key, const std::string& value) const
{
    std::string output;
    if (exec("sysctl -qw " + quoteForShell(key + "=" + value), &output) != 0) {
        throw std::runtime_error("sysctl " + key + "=" + value + " failed in " + m_name + ": " +
                                 output);
    }
}

void LinkNamespaces(const NetNamespace& a, const std::string& addressA, const NetNamespace& b,
                    const std::string& addressB)
{
    // Both ends are made directly inside their namespaces, so the device names only have to be
    // unique there, never in the host's namespace.
    static std::atomic<int> sequence{0};
    const int link = sequence++;
    const std::string nameA = "hwv" + std::to_string(link) + "a";
    const std::string nameB = "hwv" + std::to_string(link) + "b";
    runOrThrow("ip link add " + nameA + " netns " + quoteForShell(a.name()) +
               " type veth peer name " + nameB + " netns " + quoteForShell(b.name()));
    runOrThrow("ip -n " + quoteForShell(a.name()) + " addr add " + addressA + " dev " + nameA);
    runOrThrow("ip -n " + quoteForShell(b.name()) + " addr add " + addressB + " dev " + nameB);
    runOrThrow("ip -n " + quoteForShell(a.name()) + " link set " + nameA + " up");
    runOrThrow("ip -n " + quoteForShell(b.name()) + " link set " + nameB + " up");
}

EnterNamespace::EnterNamespace(const NetNamespace& ns)
{
    m_original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_original < 0) {
        throw std::runtime_error("can't open this thread's network namespace");
    }
    const std::string path = std::string(kNamespaceDir) + "/" + ns.name();
    const int target = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        close(m_original);
        throw std::runtime_error("can't open namespace " + path);
    }
    const int result = setns(target, CLONE_NEWNET);
    close(target);
    if (result != 0) {
        close(m_original);
        throw std::runtime_error("setns into " + ns.name() + " failed");
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
    if (routers < 0 || routers > 250 || base < 0 || base > 255) {
        throw std::invalid_argument("RouterChain: routers 0..250 and base 0..255");
    }
    // Should anything below throw, the namespaces made so far go with m_nodes.
    m_nodes.push_back(std::make_unique<NetNamespace>("client"));
    for (int i = 0; i < routers; ++i) {
        m_nodes.push_back(std::make_unique<NetNamespace>("r" + std::to_string(i + 1)));
    }
    m_nodes.push_back(std::make_unique<NetNamespace>("target"));

    const int links = routers + 1;
    for (int link = 0; link < links; ++link) {
        LinkNamespaces(*m_nodes[link], linkAddress(base, link, 1) + "/30", *m_nodes[link + 1],
                       linkAddress(base, link, 2) + "/30");
    }
    // Node j sits between link j-1 (left, its end .2) and link j (right, its end .1).
    for (int node = 0; node < static_cast<int>(m_nodes.size()); ++node) {
        std::string script;
        for (int link = 0; link < links; ++link) {
            std::string via;
            if (link < node - 1) {
                via = linkAddress(base, node - 1, 1);
            } else if (link > node) {
                via = linkAddress(base, node, 2);
            } else {
                continue; // directly attached
            }
            if (!script.empty()) {
                script += " && ";
            }
            script += "ip route add " + linkAddress(base, link, 0) + "/30 via " + via;
        }
        if (!script.empty()) {
            std::string output;
            if (m_nodes[node]->exec(script, &output) != 0) {
                throw std::runtime_error("routes in " + m_nodes[node]->name() + ": " + output);
            }
        }
    }
}

std::string RouterChain::routerAddress(int i) const
{
    return linkAddress(m_base, i, 2);
}

std::string RouterChain::targetAddress() const
{
    return linkAddress(m_base, m_routers, 2);
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

} // namespace hopwise::test
