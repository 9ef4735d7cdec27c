#pragma once

// What the three parts of the Linux echo stack share: opening a thread's ICMP sockets and the
// permission check (icmp_socket_open.cpp), sending a request (icmp_socket_send.cpp) and waiting
// for and reading its answer (icmp_socket_receive.cpp). LinuxEchoStack::control runs them in
// turn. Nothing outside probe/linux/ includes this.

#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "probe/echo_permission.h"
#include "probe/echo_stack.h"
#include "probe/icmp_reply_decoder.h"

namespace hopwise {

class ProbeInterrupt;

namespace icmp_socket {

inline constexpr int kUnknown = -1000; // no value set yet: the next request sets it

// What differs between an IPv4 and an IPv6 ICMP socket, one table per family
// (icmp_family_ipv4.cpp, icmp_family_ipv6.cpp); everything else is the same code for both.
struct IcmpFamily {
    AddressFamily family;
    int domain;   // AF_INET, AF_INET6
    int protocol; // IPPROTO_ICMP, IPPROTO_ICMPV6
    int level;    // the socket option level of the family's IP layer
    std::uint8_t echoRequestType;
    int hopsOption;  // IP_TTL, IPV6_UNICAST_HOPS
    int classOption; // IP_TOS, IPV6_TCLASS
    int mtuOption;   // IP_MTU_DISCOVER, IPV6_MTU_DISCOVER
    int mtuDo;       // don't fragment
    int mtuDefault;  // without the don't-fragment flag
    int mtuDont;     // -M dont, -M want (EchoPathMtu)
    int mtuWant;
    int mtuQuery;             // IP_MTU, IPV6_MTU: a connected socket's path MTU
    std::uint8_t errorOrigin; // the sock_extended_err origin of a router's report
    // Kernel filters and the ancillary data asked for, once a socket of the kind is open.
    void (*configure)(int fd, IcmpSocketKind kind, std::uint16_t identifier);
    // A packet from the ordinary queue, as the socket kind hands it over.
    IcmpReplyFields (*decode)(std::span<const std::uint8_t> packet, const SentEcho& sent);
    // A report from a datagram socket's error queue; quotedTo is the message's name.
    IcmpReplyFields (*decodeQuoted)(std::span<const std::uint8_t> quoted,
                                    const HostAddress& quotedTo, std::uint8_t type,
                                    std::uint8_t code, const SentEcho& sent);
    std::uint16_t ipHeaderSize; // without options or extension headers, as an MTU counts it
};

extern const IcmpFamily kIcmpIpv4;
extern const IcmpFamily kIcmpIpv6;

inline const IcmpFamily& IcmpFamilyOf(const HostAddress& address)
{
    return address.isIpv6() ? kIcmpIpv6 : kIcmpIpv4;
}

// The socket address of either family; its length, 0 for no address.
socklen_t ToSocketAddress(const HostAddress& address, sockaddr_storage& storage);
HostAddress FromSocketAddress(const sockaddr_storage& storage, socklen_t length);

// One ICMP socket and the option values it currently has, so that a run of requests with the
// same options costs no setsockopt at all.
struct CachedSocket {
    int fd = -1;
    // A packet came with a kernel stamp older than our call to read it: the kernel stamps on
    // arrival (see arrivalStampsTrusted), and keeps doing so while this socket asks it to.
    bool stampsOnArrival = false;
    int ttl = kUnknown;
    int tos = kUnknown;
    int pmtu = kUnknown;
    bool optionsKnown = false;
    std::vector<std::uint8_t> options;
    // Bound to the thread's interface and source (EchoSocketSettings) before its first send.
    bool bound = false;

    void reset();
};

// A thread's sockets of one family.
struct FamilySockets {
    CachedSocket datagram;
    CachedSocket raw;
    bool datagramRefused = false;
    bool rawRefused = false;

    void drop();
};

// Everything a thread keeps between requests. A socket belongs to the network namespace it was
// made in; one opened with privilege stays usable after the thread gives it up, as with ping.
// Both families share the identifier and the sequence.
struct ThreadSockets {
    FamilySockets ipv4;
    FamilySockets ipv6;
    bool keyKnown = false;
    dev_t netnsDevice = 0;
    ino_t netnsInode = 0;
    IcmpSocketKind kindInUse = IcmpSocketKind::None;
    pid_t tid = 0;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    std::vector<std::uint8_t> packet;
    std::vector<std::uint8_t> receive;
    // The interface and source the sockets above are bound to: a socket can't be bound twice, so
    // new settings drop them and the next request opens sockets bound the new way.
    std::string interface;
    HostAddress source;

    ThreadSockets();
    ~ThreadSockets() { drop(); }

    // The cached socket with this descriptor, if any.
    CachedSocket* owning(int fd);
    FamilySockets& of(const IcmpFamily& family)
    {
        return family.family == AddressFamily::Ipv6 ? ipv6 : ipv4;
    }
    void drop();
    // The namespace is looked up once per thread, and on every request in a forked child, whose
    // sockets came from the parent and which may have moved since (test helpers do).
    void checkNamespace();
};

extern thread_local ThreadSockets t_sockets;

// Opening (icmp_socket_open.cpp).

enum class AcquireResult { Ready, Refused, NoResources };

// The calling thread's socket of the first permitted kind, opened now if it isn't yet, with the
// thread's cache checked against its namespace and its receive buffer sized; records the kind
// in use (None when nothing could be opened).
AcquireResult acquireSocket(const IcmpFamily& family, IcmpSocketKind first, IcmpSocketKind& kind,
                            CachedSocket*& socket);

// Sending (icmp_socket_send.cpp).

// Binds a socket not yet bound to the thread's interface and source, and gives it the request's
// TTL (hop limit), TOS (traffic class), path MTU discovery (the thread's EchoPathMtu, or the
// request's don't-fragment flag) and, for IPv4, IP options (the system's defaults without an
// option block); false when the kernel refuses one of them.
bool applyOptions(CachedSocket& socket, const EchoRequest& request);
// The MTU a request to the destination may have now, on the thread's interface and source: the
// local link's, or a router's smaller one that the kernel has learned for the path. 0 when the
// kernel can't say.
std::uint32_t localPathMtu(const HostAddress& destination);
// The echo request message; on a raw socket with our identifier and its checksum.
void buildPacket(std::vector<std::uint8_t>& packet, const EchoRequest& request, IcmpSocketKind kind,
                 std::uint16_t identifier, std::uint16_t sequence);
// Sends the packet and notes when it left (on the clock of the kernel's receive stamps).
bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                const HostAddress& destination, timespec& sentAt);
// The same, where a failed send may be a report on another request still in flight:
// takePending reads such reports (clearing the socket's pending error) before the one retry.
bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                const HostAddress& destination, timespec& sentAt,
                const std::function<void()>& takePending);

// Receiving (icmp_socket_receive.cpp).

// Deadlines are kept in nanoseconds: rounding to milliseconds could end a wait early.
std::int64_t monotonicNs();

bool interruptRaised(const ProbeInterrupt* interrupt);

enum class WaitResult { Readable, Deadline, Interrupted };

// Sleeps until the socket (when given) is readable, the deadline passes or the thread's
// interrupt fires: never a busy loop, never longer than the deadline.
WaitResult waitFor(int fd, std::int64_t deadlineNs, const ProbeInterrupt* interrupt);

// One request in flight, and where its reply record goes.
struct Exchange {
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::None;
    SentEcho sent;
    timespec sentAt{};
    void* reply = nullptr;
    std::uint32_t replyLength = 0;
};

// Takes everything queued now; true once our reply was among it.
bool drainQueued(const Exchange& exchange);

// Which of several requests in flight on one socket a packet answered, and its round trip.
struct Answer {
    std::size_t index = 0;
    std::uint32_t roundTripMicros = 0;
};

// Reads what is queued on the socket until a packet answers one of the requests (its reply
// record is then written) or the queues are empty; what answers none of them is dropped.
std::optional<Answer> takeAnswer(int fd, IcmpSocketKind kind, std::span<const Exchange> inFlight);

// Reports that came in after their request timed out stay in a datagram socket's error queue,
// and the socket's pending error would fail the next send; reading them clears both.
void discardErrorQueue(int fd);

// Nothing that waits in the socket before a request leaves can answer it, however well it
// matches: drainQueued stops at our reply, so whatever came in right behind it (a duplicate, or
// a forgery naming the next sequence) would be taken by the next request. The receive stamps
// can't tell: while the kernel's timestamping is off (it is switched on lazily, system-wide),
// a packet is stamped when it is read, not when it came.
void discardQueued(int fd, IcmpSocketKind kind);

// Whether the socket's receive stamps are taken when a packet arrives, so that one stamped before
// a request left is known not to answer it and nothing needs emptying before a send. Opening the
// socket switches the kernel's stamping on (SO_TIMESTAMPNS), but through deferred work: until it
// has run, a packet is stamped when it is read, and only a packet seen stamped earlier proves it.
inline bool arrivalStampsTrusted(const CachedSocket& socket)
{
    return socket.stampsOnArrival;
}

} // namespace icmp_socket
} // namespace hopwise
