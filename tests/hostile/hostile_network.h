#pragma once

// A two-namespace network for hostile-peer tests: the client, and a target whose kernel ignores
// echo requests so that icmp-responder (tools/icmp_responder) owns every answer. The client runs
// the engine on one socket kind: raw as root, or the datagram socket as an unprivileged user whom
// the client namespace's ping_group_range admits.

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "probe/echo_permission.h"
#include "tests/cli/cli_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {

// The user the datagram cases run as.
inline constexpr unsigned kUnprivilegedId = 65534;

// client 10.<base>.0.1/24 and target 10.<base>.0.2/24 on one link.
class HostileNetwork {
public:
    HostileNetwork(int base, IcmpSocketKind kind);
    NetNamespace& client() { return *m_client; }
    NetNamespace& target() { return *m_target; }
    IcmpSocketKind kind() const { return m_kind; }
    std::string clientAddress() const;
    std::string targetAddress() const;
    // An address on the link that no interface holds: forged sources and fake routers.
    std::string spareAddress(int n) const;

    // Runs body in the client namespace on this network's socket kind, in a forked child: as
    // root with only the raw socket, or as kUnprivilegedId with the engine's default choice
    // (which then can only be the datagram socket). Yields body's text, empty meaning it passed.
    std::string inClient(const std::function<std::string()>& body, int timeoutMs = 20000) const;

    // Empty when the target's kernel leaves echo requests alone, as the peer needs; else why not.
    // Checked once per process with one echo request before any peer runs.
    std::string kernelEchoSkipReason() const;

    // hopwise-cli as this socket kind would run it in the client namespace.
    std::vector<std::string> cliPrefix() const;

private:
    int m_base;
    IcmpSocketKind m_kind;
    std::unique_ptr<NetNamespace> m_client;
    std::unique_ptr<NetNamespace> m_target;
};

// icmp-responder in a namespace, started by the constructor (which waits until it listens).
class Responder {
public:
    Responder(const NetNamespace& ns, const std::vector<std::string>& args);
    // Waits (bounded) until it exited on its own; yields its output.
    CliOutcome finish();

private:
    CliProcess m_process;
};

// Round-trip times travel out of a child as text.
std::string EncodeTimes(const std::vector<std::uint32_t>& times);
// Empty when the text is not EncodeTimes output (then it is the child's failure).
std::vector<std::uint32_t> DecodeTimes(const std::string& text);

} // namespace hopwise::test

namespace hopwise {
// Names the socket kind in parameterised test listings.
inline void PrintTo(IcmpSocketKind kind, std::ostream* os)
{
    *os << IcmpSocketKindName(kind);
}
} // namespace hopwise
