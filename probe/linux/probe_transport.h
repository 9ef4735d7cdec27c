#pragma once

// What differs between the probe methods that need no privilege, one table per method
// (probe_transport.cpp), as IcmpFamily is one per address family: how a flow's socket is opened,
// how a probe leaves with its TTL, and what the socket itself says besides the error queue. The
// flight around them (transport_flight.cpp) and the reading of the error queue are shared, and
// judging a report is probe/probe_report.h's. Nothing outside probe/linux/ includes this.

#include <sys/socket.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "probe/echo_flight.h"
#include "probe/probe_report.h"

namespace hopwise::probe_transport {

// What the socket of a probe shows without a report: the destination answered.
struct SocketAnswer {
    std::uint32_t status = 0;
    std::optional<std::uint32_t> roundTripUs; // the kernel's measure, when it has one
};

struct ProbeTransport {
    ProbeProtocol protocol;
    // TCP: a socket per probe, and one probe of a flow out at a time (an unprivileged connect()
    // allows one socket per 4-tuple). UDP: one connected socket for the flow.
    bool socketPerProbe;
    // A socket for the flow (UDP) or one probe (TCP): non-blocking, bound to the thread's interface
    // and source and to the flow's source port (learnt on the first open), error queue, kernel
    // stamps and the reports' TTL asked for. -1 when the system refuses.
    int (*open)(ProbeFlow& flow);
    // Sets the TTL and sends: UDP the payload that names the probe, TCP the SYN (a connect that
    // doesn't wait). sentAt is when it left, on the clock of the kernel's stamps. False: nothing
    // left (or TCP was refused at once, see answeredAtOnce).
    bool (*send)(int fd, const ProbeFlow& flow, std::uint8_t ttl, std::uint32_t probe,
                 timespec& sentAt);
    // After the error queue is empty: whether the socket shows the destination's answer (TCP's
    // SYN-ACK or RST; UDP data from the destination). Reads the socket's pending error.
    std::optional<SocketAnswer> (*answered)(int fd);
    short pollEvents; // what waking for that answer takes besides POLLERR
};

extern const ProbeTransport kUdpTransport;
extern const ProbeTransport kTcpTransport;

const ProbeTransport& TransportOf(const ProbeMethod& method);

// Closes a probe socket so that nothing is left half-open: SO_LINGER {1, 0}, so a completed
// handshake is reset and no TIME_WAIT stays.
void CloseAbortively(int fd);

// One message of a socket's error queue, as the kernel hands it over; false when it is empty.
struct QueuedReport {
    QuotedReport report;
    bool haveStamp = false;
    timespec stamp{};
    std::uint8_t ttl = 0; // of the report's packet, when the kernel gave it
    MplsLabels mpls{};    // the labels the report's extensions carried (IP_RECVERR_RFC4884)
};
bool ReadErrorQueue(int fd, std::vector<std::uint8_t>& buffer, QueuedReport& out);

// Many UDP or TCP probes of one flow, behind EchoFlight.
class TransportFlight {
public:
    explicit TransportFlight(const ProbeMethod& method);
    ~TransportFlight();
    TransportFlight(const TransportFlight&) = delete;
    TransportFlight& operator=(const TransportFlight&) = delete;

    std::uint32_t send(const EchoProbe& probe);
    enum class Collected { Ended, TimeReached, Idle, Interrupted };
    Collected collect(std::vector<EchoOutcome>& ended, std::int64_t untilNs, bool idleWaits);
    bool cutWait(std::uint32_t tag, std::uint32_t waitMs);
    std::size_t inFlight() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace hopwise::probe_transport
