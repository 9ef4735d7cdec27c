#pragma once

// What the three parts of the Linux echo stack share: opening a thread's ICMP sockets and the
// permission check (icmp_socket_open.cpp), sending a request (icmp_socket_send.cpp) and waiting
// for and reading its answer (icmp_socket_receive.cpp). LinuxEchoStack::control runs them in
// turn. Nothing outside probe/linux/ includes this.

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "probe/echo_permission.h"
#include "probe/echo_stack.h"
#include "probe/icmp_reply_decoder.h"

namespace hopwise {

class ProbeInterrupt;

namespace icmp_socket {

inline constexpr int kUnknown = -1000; // no value set yet: the next request sets it

// One ICMP socket and the option values it currently has, so that a run of requests with the
// same options costs no setsockopt at all.
struct CachedSocket {
    int fd = -1;
    int ttl = kUnknown;
    int tos = kUnknown;
    int pmtu = kUnknown;
    bool optionsKnown = false;
    std::vector<std::uint8_t> options;

    void reset();
};

// Everything a thread keeps between requests. A socket belongs to the network namespace it was
// made in; one opened with privilege stays usable after the thread gives it up, as with ping.
struct ThreadSockets {
    CachedSocket datagram;
    CachedSocket raw;
    bool datagramRefused = false;
    bool rawRefused = false;
    bool keyKnown = false;
    dev_t netnsDevice = 0;
    ino_t netnsInode = 0;
    IcmpSocketKind kindInUse = IcmpSocketKind::None;
    pid_t tid = 0;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    std::vector<std::uint8_t> packet;
    std::vector<std::uint8_t> receive;

    ThreadSockets();
    ~ThreadSockets() { drop(); }

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
AcquireResult acquireSocket(IcmpSocketKind first, IcmpSocketKind& kind, CachedSocket*& socket);

// Sending (icmp_socket_send.cpp).

// Gives the socket the request's TTL, TOS, don't-fragment flag and IP options (the system's
// defaults without an option block); false when the kernel refuses one of them.
bool applyOptions(CachedSocket& socket, const EchoRequest& request);
// The echo request message; on a raw socket with our identifier and its checksum.
void buildPacket(std::vector<std::uint8_t>& packet, const EchoRequest& request, IcmpSocketKind kind,
                 std::uint16_t identifier, std::uint16_t sequence);
// Sends the packet and notes when it left (on the clock of the kernel's receive stamps).
bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                IpAddress destination, timespec& sentAt);
// The same, where a failed send may be a report on another request still in flight:
// takePending reads such reports (clearing the socket's pending error) before the one retry.
bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                IpAddress destination, timespec& sentAt, const std::function<void()>& takePending);

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

} // namespace icmp_socket
} // namespace hopwise
