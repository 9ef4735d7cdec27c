#pragma once

// Throw-away network namespaces for tests that send real packets or look names up. Names carry
// the run's pid, the destructors remove everything, and nothing routes beyond the namespaces.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hopwise::test {

// Why namespace tests can't run here (not root, no `ip`, no netns support), or empty. The first
// call also removes what killed runs left behind.
std::string NetNamespaceSkipReason();

// Runs a shell command and yields its exit status; stdout and stderr go to *output when given.
int RunCommand(const std::string& command, std::string* output = nullptr);

// "hw<pid>-<n>-<role>" with lo up, ICMP error rate limits off (IPv4 and IPv6) and forwarding on.
class NetNamespace {
public:
    explicit NetNamespace(const std::string& role);
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;
    const std::string& name() const { return m_name; }
    // /etc/netns/NAME/hosts, which `ip netns exec` and RunInNamespace bind over the real one, with
    // a resolv.conf naming 127.0.0.1: nothing listens there unless a test makes a silent server
    // (then a lookup waits 5 s for it), so no query leaves the namespace.
    void setHosts(const std::string& hosts) const;
    // IPv6 on, forwarding and without error rate limits like IPv4, and without duplicate address
    // detection: links made afterwards are usable at once.
    void enableIpv6() const;

private:
    std::string m_name;
};

// Runs body in a forked child that joined ns (and its /etc files) and became uid:uid with no
// other groups. Yields body's text (empty means it passed) or how the child failed; the child is
// killed after timeoutMs.
std::string RunInNamespace(const NetNamespace& ns, unsigned uid,
                           const std::function<std::string()>& body, int timeoutMs = 10000);

// The calling thread inside the namespace until destroyed; the thread's cached echo sockets
// belong to the namespace they were made in, so they are dropped on the way in and out.
class EnterNamespace {
public:
    explicit EnterNamespace(const NetNamespace& ns);
    ~EnterNamespace();

private:
    int m_original;
};

class LinkWire;

// Delays on a chain's links. The kernels tests run on may have no netem, so a delayed link is two
// veth pairs into a namespace of its own, whose frames a thread of this process carries across.
struct ChainDelays {
    int linkMs = 0;      // every link holds what crosses it this long, each way
    int lateRouter = -1; // 0-based: this router's IPv4 time-exceeded reports are held lateMs more
    int lateMs = 0;
};

// client - router 1 - ... - router N - target on veth pairs, with static routes both ways. Link i
// (0-based) is 10.<base>.<i>.0/30, its left end .1 and its right end .2; a dual-stack chain's is
// also fd00:<base>:<i>::/64, its ends ::1 and ::2. Router i sits between link i and link i + 1.
class RouterChain {
public:
    enum class Stack { Ipv4, Dual };
    RouterChain(int routers, int base = 201, Stack stack = Stack::Ipv4,
                const ChainDelays& delays = {});
    ~RouterChain();
    // Router i (0-based) still forwards but sends nothing itself: no IPv4 time-exceeded report,
    // no answer to an echo addressed to it.
    void silence(int i);
    // Every router drops the ICMP (and ICMPv6) echo requests it would forward, as networks that
    // pass only UDP and TCP do; what it sends itself, its time-exceeded reports, still goes.
    // Needs nft (tools/install-deps.sh installs nftables).
    void dropEchoInForward();
    NetNamespace& client() { return *m_nodes.front(); }
    NetNamespace& target() { return *m_nodes.back(); }
    NetNamespace& router(int i) { return *m_nodes[1 + i]; } // 0-based
    // Router i's address towards the client, the one its reports come from.
    std::string routerAddress(int i) const { return address(i, 2); }
    std::string targetAddress() const { return address(routers(), 2); }
    // The same in RFC 5952 text, as the programs print them.
    std::string routerAddress6(int i) const { return address6(i, 2); }
    std::string targetAddress6() const { return address6(routers(), 2); }
    int routers() const { return static_cast<int>(m_nodes.size()) - 2; }
    bool dual() const { return m_dual; }

private:
    std::string address(int link, int end) const;
    std::string address6(int link, int end) const;

    int m_base;
    bool m_dual;
    std::vector<std::unique_ptr<NetNamespace>> m_nodes;
    std::unique_ptr<NetNamespace> m_wireSpace;
    std::unique_ptr<LinkWire> m_wire; // stopped before the namespaces go
};

// Two equal-cost paths: client - r1 - {r2a, r2b} - r3 - target, IPv4 only. r1 reaches the
// target's link through either middle router (a multipath route) and hashes each flow's ports as
// well as its addresses (fib_multipath_hash_policy 1), so the middle router a packet meets is its
// flow's. Link i is 10.<base>.<i>.0/30: 0 client-r1, 1 r1-r2a, 2 r1-r2b, 3 r2a-r3, 4 r2b-r3,
// 5 r3-target, each left end .1 and right end .2. Everything answers back through r2a.
class DiamondRoutes {
public:
    explicit DiamondRoutes(int base = 231);
    NetNamespace& client() { return *m_nodes.front(); }
    // Each router's address towards the client, the one its reports come from: hop 1 is r1, hop
    // 2 r2a or r2b, hop 3 r3, hop 4 the target.
    std::string r1() const { return address(0, 2); }
    std::string r2a() const { return address(1, 2); }
    std::string r2b() const { return address(2, 2); }
    std::string r3() const { return address(3, 2); }
    std::string target() const { return address(5, 2); }

private:
    std::string address(int link, int end) const;

    int m_base;
    std::vector<std::unique_ptr<NetNamespace>> m_nodes; // client r1 r2a r2b r3 target
};

} // namespace hopwise::test
