#pragma once

// Throw-away network namespaces for tests that send real packets. Names carry the run's pid,
// the destructors remove everything, and nothing routes beyond the namespaces.

#include <memory>
#include <string>
#include <vector>

namespace hopwise::test {

// Why namespace tests can't run here (not root, no `ip`, no netns support), or empty. The first
// call also removes what killed runs left behind.
std::string NetNamespaceSkipReason();

// Runs a shell command and yields its exit status; stdout and stderr go to *output when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

// "hw<pid>-<n>-<role>" with lo up, ICMP error rate limits off and forwarding on.
class NetNamespace : NoCopy {
public:
    explicit NetNamespace(const std::string& role);
    ~NetNamespace();
    const std::string& name() const { return m_name; }
    int exec(const std::string& command, std::string* output = nullptr) const;
    void sysctl(const std::string& key, const std::string& value) const;

private:
    std::string m_name;
};

// /etc/netns/NAME/{hosts,resolv.conf}, which `ip netns exec` binds over the real ones. The
// resolv.conf names 127.0.0.1, where nothing listens inside, so no query leaves the namespace.
class NamespaceEtcFiles : NoCopy {
public:
    NamespaceEtcFiles(const std::string& ns, const std::string& hosts);
    ~NamespaceEtcFiles();

private:
    std::string m_dir;
};

// The calling thread inside the namespace until destroyed; the thread's cached echo sockets
// belong to the namespace they were made in, so they are dropped on the way in and out.
class EnterNamespace : NoCopy {
public:
    explicit EnterNamespace(const NetNamespace& ns);
    ~EnterNamespace();

private:
    int m_original;
};

// client - router 1 - ... - router N - target on veth pairs, with static routes both ways. Link i
// (0-based) is 10.<base>.<i>.0/30, its left end .1 and its right end .2.
class RouterChain {
public:
    RouterChain(int routers, int base = 201);
    NetNamespace& client() { return *m_nodes.front(); }
    NetNamespace& target() { return *m_nodes.back(); }
    NetNamespace& router(int i) { return *m_nodes[1 + i]; } // 0-based
    // Router i's address towards the client, the one its reports come from.
    std::string routerAddress(int i) const { return address(i, 2); }
    std::string targetAddress() const { return address(m_routers, 2); }
    int routers() const { return m_routers; }

private:
    std::string address(int link, int end) const;

    int m_routers;
    int m_base;
    std::vector<std::unique_ptr<NetNamespace>> m_nodes;
};

} // namespace hopwise::test
