#pragma once

// Several echo requests in flight at once on the calling thread's ICMP socket, for a trace that
// doesn't wait out one time-out per silent hop. Each request has its own sequence number, its
// own time-out and its own kernel time stamps, and a packet counts as its answer only by the rules
// a lone SendEcho applies (identifier, sequence, the quoted header, the checksum): both read the
// sockets through the same code. A flight belongs to the thread that made it. While another
// stack than the system's is installed (a test's), each probe is one SendEcho through it, made
// when it is sent: the flight then has one probe out at a time.
//
// Every echo request of a flight is one flow: the same identifier (the socket's) and the same
// ICMP checksum, since the first two data bytes make up for the sequence number (the one's
// complement sum of the two words never changes). A load balancer that hashes the ICMP header
// keeps every probe of a trace on one path, so the hops it shows are one route's.
// A flight made with a UDP or TCP ProbeMethod (probe/probe_method.h) sends those instead, as one
// flow to one destination, with the same outcomes (probe/linux/transport_flight.cpp); a test's
// stack still answers ICMP echoes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "probe/echo_service.h"
#include "probe/probe_method.h"

namespace hopwise {

struct EchoProbe {
    HostAddress destination;
    std::uint8_t ttl = 0; // TTL 0 can't leave a Linux host: it waits out its time-out unanswered
    std::uint32_t timeoutMs = 0;
    std::uint32_t tag = 0; // the caller's, handed back with the outcome; unique among those out
    // The whole IP packet, headers included, as an MTU counts it; 0, or less than the method's
    // smallest probe: that smallest. With the thread's EchoPathMtu::Do a probe larger than the
    // path ends with status kIpPacketTooBig and the MTU that refused it.
    std::uint16_t packetSize = 0;
};

struct EchoOutcome {
    std::uint32_t tag = 0;
    // 1 when answered, else 0; the record as SendEcho leaves it (an unanswered probe's responder
    // and round trip are 0).
    std::uint32_t count = 0;
    EchoReply reply{};
    std::uint32_t roundTripUs = 0;
    HostAddress responder; // of either family (the record holds only an IPv4 one); none unanswered
    // Status kIpPacketTooBig: the MTU a router's report gave (count 1, the router answered), or
    // the route's own for a probe the local stack refused as too large (count 0, at once). Else 0.
    std::uint32_t mtu = 0;
    MplsLabels mpls{}; // the labels a router's report carried (GetLastEchoMplsLabels)
};

// The MTU of the route to the destination now, on the thread's interface and source, with what
// the system learned of the path from earlier reports: the size a probe may have to leave. 0 when
// the system can't say, or while a test's stack is installed.
std::uint32_t EchoRouteMtu(const HostAddress& destination);

class EchoFlight {
public:
    explicit EchoFlight(const ProbeMethod& method = {});
    ~EchoFlight();
    EchoFlight(const EchoFlight&) = delete;
    EchoFlight& operator=(const EchoFlight&) = delete;

    // Sends the probe now and yields 0, or the error SendEcho would leave (kErrorAccessDenied
    // when ICMP is not permitted, kErrorNotEnoughMemory) with nothing put in flight.
    std::uint32_t send(const EchoProbe& probe);

    // Waits until at least one probe has ended (answered, or its time-out passed), then appends
    // every ended probe's outcome. False, with nothing waited for, when nothing is in flight or
    // the thread's probe interrupt was raised.
    bool collect(std::vector<EchoOutcome>& ended);

    // The same, but returns at until too, with nothing ended, and with nothing in flight waits
    // for until alone (a caller that paces its sends waits here for the next one). False only
    // when the thread's probe interrupt was raised.
    bool collectUntil(std::vector<EchoOutcome>& ended, std::chrono::steady_clock::time_point until);

    // Gives the probe up waitMs after its own send when that is sooner than its time-out or an
    // earlier cut; a wait is never made longer. False when no probe with this tag is out (it
    // ended, or an installed stack answered it when it was sent).
    bool cutWait(std::uint32_t tag, std::uint32_t waitMs);

    std::size_t inFlight() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace hopwise
