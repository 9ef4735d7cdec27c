#pragma once

// Throw-away network namespaces for tests that send real packets. Every name carries a per-run
// prefix, everything is removed in the destructor (and on failure), and nothing here ever
// routes beyond the namespaces it made.

#include <memory>
#include <string>
#include <vector>

namespace hopwise::test {

// Why namespace tests can't run here (not root, no `ip`, no netns support), or empty.
std::string NetNamespaceSkipReason();

// Runs a shell command, returns its exit status; output is captured into *output when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

class NetNamespace {
public:
    // Creates "hw<pid>-<n>-<role>" with lo up, ICMP error rate limiting off and forwarding on.
    explicit NetNamespace(const std::string& role);
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    const std::string& name() const { return m_name; }
    // Runs a command inside the namespace ("ip netns exec NAME sh -c ...").
    int exec(const std::string& command, std::string* output = nullptr) const;
    void sysctl(const std::string& key, const std::string& value) const;

private:
    std::string m_name;
};

// /etc/netns/NAME/{hosts,resolv.conf}, which `ip netns exec` binds over the real ones, for as
// long as this lives. resolv.conf names 127.0.0.1 inside the namespace, where nothing listens,
// so a name that the hosts file lacks fails at once and no query leaves the namespace.
class NamespaceEtcFiles {
public:
    NamespaceEtcFiles(const std::string& ns, const std::string& hosts);
    ~NamespaceEtcFiles();
    NamespaceEtcFiles(const NamespaceEtcFiles&) = delete;
    NamespaceEtcFiles& operator=(const NamespaceEtcFiles&) = delete;

private:
    std::string m_dir;
};

// A veth pair between two namespaces with the given addresses (CIDR, e.g. "10.200.1.1/30").
void LinkNamespaces(const NetNamespace& a, const std::string& addressA, const NetNamespace& b,
                    const std::string& addressB);

// Runs the calling thread inside the namespace until destroyed (setns on the thread only;
// sockets made meanwhile stay in that namespace; the thread's cached echo sockets are dropped on
// the way in and out).
class EnterNamespace {
public:
    explicit EnterNamespace(const NetNamespace& ns);
    ~EnterNamespace();
    EnterNamespace(const EnterNamespace&) = delete;
    EnterNamespace& operator=(const EnterNamespace&) = delete;

private:
    int m_original = -1;
};

// A chain client - router1 - ... - routerN - target with static routes both ways.
// Addresses: link i (0-based) is 10.<base>.<i>.0/30, the left end .1, the right end .2.
class RouterChain {
public:
    RouterChain(int routers, int base = 201);
    NetNamespace& client() { return *m_nodes.front(); }
    NetNamespace& target() { return *m_nodes.back(); }
    NetNamespace& router(int i) { return *m_nodes[1 + i]; } // 0-based
    // The address of router i on its link towards the client (the one it answers from).
    std::string routerAddress(int i) const;
    std::string targetAddress() const;
    int routers() const { return m_routers; }

private:
    int m_routers;
    int m_base;
    std::vector<std::unique_ptr<NetNamespace>> m_nodes;
};

} // namespace hopwise::test
