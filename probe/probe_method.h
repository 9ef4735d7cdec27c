#pragma once

// How a trace's probes travel: ICMP echo requests (the default, and all the window sends), UDP
// datagrams to a port, or TCP SYNs to a port. A value the front end chooses once and the workers
// only pass on to EchoFlight: nothing above probe/ looks inside it.
//
// UDP and TCP need no privilege: ordinary sockets with the TTL set per probe, routers' reports
// read from the socket's error queue. Every probe of one flight is one flow (Paris traceroute):
// the same ports throughout, so a router that balances by flow sends every probe the same way.

#include <cstdint>
#include <string_view>

namespace hopwise {

enum class ProbeProtocol : std::uint8_t { IcmpEcho, Udp, Tcp };

struct ProbeMethod {
    ProbeProtocol protocol = ProbeProtocol::IcmpEcho;
    std::uint16_t port = 0; // the destination port (UDP, TCP); 0: the protocol's default
    // Tells flows to one destination apart (a route monitor may run several): UDP probes carry it
    // in their payload, and a report quoting another flow's is never taken for ours.
    std::uint16_t flow = 0;

    bool operator==(const ProbeMethod&) const = default;
};

// traceroute's defaults: UDP from 33434 up (here the one port, a flow keeps it), TCP to 443.
inline constexpr std::uint16_t kDefaultUdpPort = 33434;
inline constexpr std::uint16_t kDefaultTcpPort = 443;

inline std::uint16_t DestinationPort(const ProbeMethod& method)
{
    if (method.port != 0) {
        return method.port;
    }
    switch (method.protocol) {
    case ProbeProtocol::Udp:
        return kDefaultUdpPort;
    case ProbeProtocol::Tcp:
        return kDefaultTcpPort;
    case ProbeProtocol::IcmpEcho:
        break;
    }
    return 0;
}

// "icmp", "udp", "tcp": the JSON start event's "method".
inline std::string_view ProbeMethodName(const ProbeMethod& method)
{
    switch (method.protocol) {
    case ProbeProtocol::Udp:
        return "udp";
    case ProbeProtocol::Tcp:
        return "tcp";
    case ProbeProtocol::IcmpEcho:
        break;
    }
    return "icmp";
}

} // namespace hopwise
