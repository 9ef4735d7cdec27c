#include "probe/linux/linux_echo_stack.h"

#include <netinet/in.h>
#include <time.h>

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "probe/echo_status.h"
#include "probe/icmp_reply_decoder.h"
#include "probe/linux/privilege.h"
#include "probe/linux/probe_interrupt.h"

namespace hopwise {

namespace {

constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;

constexpr int kUnknown = -1000;     // no value set yet: the next request sets it
constexpr int kDefaultTtl = -1;     // IP_TTL -1 restores the system default
constexpr int kPacketsPerPass = 64; // interrupt and deadline are rechecked between passes
constexpr std::size_t kReceiveSize = 65536;
constexpr std::size_t kControlSize = 512;

// One ICMP socket and the option values it currently has, so that a run of requests with the
// same options costs no setsockopt at all.
struct CachedSocket {
    int fd = -1;
    int ttl = kUnknown;
    int tos = kUnknown;
    int pmtu = kUnknown;
    bool optionsKnown = false;
    std::vector<std::uint8_t> options;

    void reset()
    {
        if (fd >= 0) {
            close(fd);
        }
        *this = CachedSocket{};
    }
};

// Set in a forked child, where sockets inherited from the parent may belong elsewhere.
std::atomic<bool> g_forked{false};

void markForked()
{
    g_forked.store(true, std::memory_order_relaxed);
}

[[maybe_unused]] const int g_forkWatch = pthread_atfork(nullptr, nullptr, markForked);

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

    // Thread ids are unique within the system's pid space, so threads (and other pingers keyed
    // by pid) don't share an identifier on raw sockets.
    ThreadSockets() : tid(static_cast<pid_t>(syscall(SYS_gettid)))
    {
        identifier = static_cast<std::uint16_t>(tid);
    }

    ~ThreadSockets() { drop(); }

    void drop()
    {
        datagram.reset();
        raw.reset();
        datagramRefused = false;
        rawRefused = false;
        keyKnown = false;
    }

    // The namespace is looked up once per thread, and on every request in a forked child, whose
    // sockets came from the parent and which may have moved since (test helpers do).
    void checkNamespace()
    {
        if (keyKnown && !g_forked.load(std::memory_order_relaxed)) {
            return;
        }
        const auto nowTid = static_cast<pid_t>(syscall(SYS_gettid));
        if (nowTid != tid) {
            // A forked child must not answer to its parent's identifier.
            drop();
            tid = nowTid;
            identifier = static_cast<std::uint16_t>(tid);
        }
        struct stat ns {};
        if (stat("/proc/thread-self/ns/net", &ns) != 0) {
            keyKnown = true; // no /proc: nothing to compare against
            return;
        }
        if (keyKnown && ns.st_dev == netnsDevice && ns.st_ino == netnsInode) {
            return;
        }
        drop();
        keyKnown = true;
        netnsDevice = ns.st_dev;
        netnsInode = ns.st_ino;
    }
};

thread_local ThreadSockets t_sockets;

bool isRefusal(int error)
{
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == EAFNOSUPPORT ||
           error == ESOCKTNOSUPPORT;
}

int enable(int fd, int level, int name)
{
    const int on = 1;
    return setsockopt(fd, level, name, &on, sizeof on);
}

// Everyone's echo replies reach every raw ICMP socket; under another process's flood they would
// fill our receive buffer and push our own reply out. The kernel keeps only echo replies with our
// identifier (and the error reports the ICMP filter lets through) in the queue.
void attachIdentifierFilter(int fd, std::uint16_t identifier)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),  // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp_type::kEchoReply, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), // echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

int openIcmpSocket(IcmpSocketKind kind, std::uint16_t identifier)
{
    const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    int fd = -1;
    int socketError = 0;
    {
        // cap_net_raw, where granted, is effective for this one call only.
        std::optional<ScopedRawSocketPrivilege> privilege;
        if (kind == IcmpSocketKind::Raw) {
            privilege.emplace();
        }
        fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        socketError = errno;
    }
    if (fd < 0) {
        errno = socketError; // the caller tells a refusal from a shortage by it
        return -1;
    }
    // Round trips come from the kernel's receive stamp, not from when we got round to reading.
    enable(fd, SOL_SOCKET, SO_TIMESTAMPNS);
    if (kind == IcmpSocketKind::Datagram) {
        // Without IP_RECVERR a router's report would only surface as an errno on some later
        // call, without the router's address.
        enable(fd, IPPROTO_IP, IP_RECVERR);
        enable(fd, IPPROTO_IP, IP_RECVTTL);
        enable(fd, IPPROTO_IP, IP_RECVTOS);
        enable(fd, IPPROTO_IP, IP_RECVOPTS);
    } else {
        // A raw ICMP socket sees every ICMP packet of the namespace; the kernel drops the types
        // that can never answer an echo before they wake us.
        icmp_filter filter{};
        filter.data = ~((1u << icmp_type::kEchoReply) | (1u << icmp_type::kDestUnreachable) |
                        (1u << icmp_type::kSourceQuench) | (1u << icmp_type::kTimeExceeded) |
                        (1u << icmp_type::kParameterProblem));
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        attachIdentifierFilter(fd, identifier);
    }
    return fd;
}

enum class AcquireResult { Ready, Refused, NoResources };

AcquireResult acquireSocket(IcmpSocketKind first, IcmpSocketKind& kind, CachedSocket*& socket)
{
    ThreadSockets& cache = t_sockets;
    const IcmpSocketKind order[2] = {first, IcmpSocketKind::Raw};
    const int tries = first == IcmpSocketKind::Raw ? 1 : 2;
    for (int i = 0; i < tries; ++i) {
        const bool datagram = order[i] == IcmpSocketKind::Datagram;
        CachedSocket& candidate = datagram ? cache.datagram : cache.raw;
        bool& refused = datagram ? cache.datagramRefused : cache.rawRefused;
        if (candidate.fd < 0 && !refused) {
            candidate.fd = openIcmpSocket(order[i], cache.identifier);
            if (candidate.fd < 0) {
                if (!isRefusal(errno)) {
                    return AcquireResult::NoResources;
                }
                refused = true;
            }
        }
        if (candidate.fd >= 0) {
            kind = order[i];
            socket = &candidate;
            return AcquireResult::Ready;
        }
    }
    return AcquireResult::Refused;
}

bool setIfChanged(int fd, int name, int& cached, int wanted)
{
    if (cached == wanted) {
        return true;
    }
    const int value = wanted;
    if (setsockopt(fd, IPPROTO_IP, name, &value, sizeof value) != 0) {
        cached = kUnknown;
        return false;
    }
    cached = wanted;
    return true;
}

bool applyOptions(CachedSocket& socket, const EchoRequest& request)
{
    const int ttl = request.hasOptions ? request.ttl : kDefaultTtl;
    const int tos = request.hasOptions ? request.tos : 0;
    const bool dontFragment = request.hasOptions && (request.flags & kIpFlagDontFragment) != 0;
    const int pmtu = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (!setIfChanged(socket.fd, IP_TTL, socket.ttl, ttl) ||
        !setIfChanged(socket.fd, IP_TOS, socket.tos, tos) ||
        !setIfChanged(socket.fd, IP_MTU_DISCOVER, socket.pmtu, pmtu)) {
        return false;
    }
    const std::span<const std::uint8_t> options =
        request.hasOptions ? request.options : std::span<const std::uint8_t>{};
    if (socket.optionsKnown && socket.options.size() == options.size() &&
        std::equal(options.begin(), options.end(), socket.options.begin())) {
        return true;
    }
    if (setsockopt(socket.fd, IPPROTO_IP, IP_OPTIONS, options.empty() ? nullptr : options.data(),
                   static_cast<socklen_t>(options.size())) != 0) {
        socket.optionsKnown = false;
        return false;
    }
    socket.options.assign(options.begin(), options.end());
    socket.optionsKnown = true;
    return true;
}

std::int64_t nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Deadlines are kept in nanoseconds: rounding to milliseconds could end a wait early.
std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return nanoseconds(now);
}

bool interruptRaised(const ProbeInterrupt* interrupt)
{
    return interrupt != nullptr && interrupt->raised();
}

enum class WaitResult { Readable, Deadline, Interrupted };

// Sleeps until the socket (when given) is readable, the deadline passes or the thread's
// interrupt fires: never a busy loop, never longer than the deadline.
WaitResult waitFor(int fd, std::int64_t deadlineNs, const ProbeInterrupt* interrupt)
{
    for (;;) {
        if (interruptRaised(interrupt)) {
            return WaitResult::Interrupted;
        }
        const std::int64_t remaining = deadlineNs - monotonicNs();
        if (remaining <= 0) {
            return WaitResult::Deadline;
        }
        std::array<pollfd, 2> fds{};
        nfds_t count = 0;
        if (fd >= 0) {
            fds[count++] = {fd, POLLIN, 0};
        }
        const int interruptFd = interrupt != nullptr ? interrupt->pollDescriptor() : -1;
        if (interruptFd >= 0) {
            fds[count++] = {interruptFd, POLLIN, 0};
        }
        // Without an eventfd the flag is only seen at wake-ups, so those come often enough.
        const std::int64_t slice = (interrupt != nullptr && interruptFd < 0)
                                       ? std::min<std::int64_t>(remaining, 50000000)
                                       : remaining;
        const timespec timeout{static_cast<time_t>(slice / 1000000000),
                               static_cast<long>(slice % 1000000000)};
        const int ready = ppoll(fds.data(), count, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            return WaitResult::Deadline;
        }
        if (interruptRaised(interrupt)) {
            return WaitResult::Interrupted;
        }
        if (ready > 0 && fd >= 0 && fds[0].revents != 0) {
            return WaitResult::Readable;
        }
    }
}

// What one received message adds to the decoder's view: ancillary data and the sender.
struct ReceivedMeta {
    bool haveStamp = false;
    timespec stamp{};
    bool haveTtl = false;
    std::uint8_t ttl = 0;
    bool haveTos = false;
    std::uint8_t tos = 0;
    std::span<const std::uint8_t> options;
    const sock_extended_err* error = nullptr;
    IpAddress offender = 0;
};

ReceivedMeta readControl(msghdr& message)
{
    ReceivedMeta meta;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        const auto* payload = reinterpret_cast<const std::uint8_t*>(CMSG_DATA(c));
        const std::size_t length = c->cmsg_len - CMSG_LEN(0);
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
            length >= sizeof(timespec)) {
            std::memcpy(&meta.stamp, payload, sizeof(timespec));
            meta.haveStamp = true;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL && length >= sizeof(int)) {
            int ttl = 0;
            std::memcpy(&ttl, payload, sizeof ttl);
            meta.ttl = static_cast<std::uint8_t>(ttl);
            meta.haveTtl = true;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS && length >= 1) {
            meta.tos = payload[0];
            meta.haveTos = true;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVOPTS) {
            // Received options are labelled with the option that asked for them.
            meta.options = {payload, length};
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR &&
                   length >= sizeof(sock_extended_err)) {
            meta.error = reinterpret_cast<const sock_extended_err*>(payload);
            if (length >= sizeof(sock_extended_err) + sizeof(sockaddr_in)) {
                sockaddr_in offender{};
                std::memcpy(&offender, payload + sizeof(sock_extended_err), sizeof offender);
                if (offender.sin_family == AF_INET) {
                    meta.offender = offender.sin_addr.s_addr;
                }
            }
        }
    }
    return meta;
}

std::uint32_t roundTripMs(const ReceivedMeta& meta, const timespec& sentAt)
{
    timespec received = meta.stamp;
    if (!meta.haveStamp) {
        clock_gettime(CLOCK_REALTIME, &received);
    }
    const std::int64_t elapsed = nanoseconds(received) - nanoseconds(sentAt);
    // The wall clock may step backwards between the two stamps.
    return elapsed <= 0 ? 0u : static_cast<std::uint32_t>(elapsed / 1000000);
}

enum class ReadResult { Matched, Empty, Failed };

struct Exchange {
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::None;
    SentEcho sent;
    timespec sentAt{};
    void* reply = nullptr;
    std::uint32_t replyLength = 0;
};

// Reads one message from the socket's ordinary queue (or its error queue) without blocking and
// writes the reply record when it answers our request.
ReadResult readOne(const Exchange& exchange, bool errorQueue)
{
    std::vector<std::uint8_t>& buffer = t_sockets.receive;
    // The kernel writes what it sends back and says how much; clearing it would only cost time.
    alignas(cmsghdr) std::array<std::uint8_t, kControlSize> control; // NOLINT
    sockaddr_in from{};
    iovec vector{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got =
        recvmsg(exchange.fd, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return ReadResult::Empty;
        }
        // A datagram socket reports a queued ICMP error this way; the error queue holds it.
        return ReadResult::Failed;
    }
    const std::span<const std::uint8_t> bytes{buffer.data(), static_cast<std::size_t>(got)};
    const ReceivedMeta meta = readControl(message);

    IcmpReplyFields fields;
    IpAddress responder = 0;
    if (errorQueue) {
        if (meta.error == nullptr || meta.error->ee_origin != SO_EE_ORIGIN_ICMP ||
            message.msg_namelen < sizeof(sockaddr_in) || from.sin_family != AF_INET) {
            return ReadResult::Failed; // a local error, not a report about our request
        }
        fields = DecodeQuotedEcho(bytes, from.sin_addr.s_addr, meta.error->ee_type,
                                  meta.error->ee_code, exchange.sent);
        responder = meta.offender;
    } else {
        fields = DecodeIcmpReply(bytes, exchange.sent);
        responder = fields.hasIpHeader ? fields.source : from.sin_addr.s_addr;
    }
    if (fields.verdict == IcmpVerdict::NotOurs) {
        return ReadResult::Failed;
    }

    EchoReplyInfo info;
    info.address = responder;
    info.status = fields.status;
    info.roundTripTime = roundTripMs(meta, exchange.sentAt);
    if (fields.hasIpHeader) {
        info.ttl = fields.ttl;
        info.tos = fields.tos;
        info.flags = fields.flags;
        info.options = fields.options;
    } else {
        info.ttl = meta.haveTtl ? meta.ttl : 0;
        info.tos = meta.haveTos ? meta.tos : 0;
        info.options = meta.options;
    }
    info.data = fields.data;
    WriteEchoReply(exchange.reply, exchange.replyLength, info);
    return ReadResult::Matched;
}

// Takes everything queued now; true once our reply was among it.
bool drainQueued(const Exchange& exchange)
{
    for (int i = 0; i < kPacketsPerPass; ++i) {
        const ReadResult result = readOne(exchange, false);
        if (result == ReadResult::Matched) {
            return true;
        }
        if (result == ReadResult::Empty) {
            break;
        }
    }
    if (exchange.kind != IcmpSocketKind::Datagram) {
        return false;
    }
    for (int i = 0; i < kPacketsPerPass; ++i) {
        const ReadResult result = readOne(exchange, true);
        if (result == ReadResult::Matched) {
            return true;
        }
        if (result == ReadResult::Empty) {
            break;
        }
    }
    return false;
}

// Reports that came in after their request timed out stay in a datagram socket's error queue,
// and the socket's pending error would fail the next send; reading them clears both.
void discardErrorQueue(int fd)
{
    for (int i = 0; i < kPacketsPerPass; ++i) {
        std::array<std::uint8_t, 64> bytes; // NOLINT: only read up to what the kernel wrote
        alignas(cmsghdr) std::array<std::uint8_t, kControlSize> control; // NOLINT: likewise
        iovec vector{bytes.data(), bytes.size()};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        if (recvmsg(fd, &message, MSG_DONTWAIT | MSG_ERRQUEUE) < 0) {
            return;
        }
    }
}

// Nothing that waits in the socket before a request leaves can answer it, however well it
// matches: drainQueued stops at our reply, so whatever came in right behind it (a duplicate, or
// a forgery naming the next sequence) would be taken by the next request. The receive stamps
// can't tell: while the kernel's timestamping is off (it is switched on lazily, system-wide),
// a packet is stamped when it is read, not when it came.
void discardQueued(int fd, IcmpSocketKind kind)
{
    for (int i = 0; i < 4 * kPacketsPerPass; ++i) {
        std::array<std::uint8_t, 64> bytes; // NOLINT: nothing of it is read
        if (recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_TRUNC) < 0) {
            break;
        }
    }
    if (kind == IcmpSocketKind::Datagram) {
        discardErrorQueue(fd);
    }
}

void buildPacket(std::vector<std::uint8_t>& packet, const EchoRequest& request, IcmpSocketKind kind,
                 std::uint16_t identifier, std::uint16_t sequence)
{
    packet.resize(kIcmpHeaderSize + request.data.size());
    packet[0] = icmp_type::kEchoRequest;
    packet[1] = 0;
    packet[2] = 0;
    packet[3] = 0;
    // A datagram socket puts its own identifier and checksum in.
    const std::uint16_t id = kind == IcmpSocketKind::Raw ? identifier : 0;
    packet[4] = static_cast<std::uint8_t>(id >> 8);
    packet[5] = static_cast<std::uint8_t>(id);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    if (!request.data.empty()) {
        std::memcpy(packet.data() + kIcmpHeaderSize, request.data.data(), request.data.size());
    }
    if (kind == IcmpSocketKind::Raw) {
        const std::uint16_t checksum = InternetChecksum(packet);
        packet[2] = static_cast<std::uint8_t>(checksum >> 8);
        packet[3] = static_cast<std::uint8_t>(checksum);
    }
}

bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                IpAddress destination, timespec& sentAt)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    bool drained = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        clock_gettime(CLOCK_REALTIME, &sentAt);
        const ssize_t sent = sendto(fd, packet.data(), packet.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        // The failure may be a late report on an earlier request rather than this one's.
        if (kind == IcmpSocketKind::Datagram && !drained) {
            drained = true;
            discardErrorQueue(fd);
            continue;
        }
        return false;
    }
    return false;
}

} // namespace

LinuxEchoStack::LinuxEchoStack(IcmpSocketKind first)
    : m_first(first == IcmpSocketKind::Raw ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram)
{
}

void DropThreadEchoSockets()
{
    t_sockets.drop();
}

IcmpSocketKind LinuxEchoStack::kindInUse() const
{
    return t_sockets.kindInUse;
}

std::uint32_t LinuxEchoStack::control(std::uint32_t protocol, std::uint32_t action,
                                      const void* request, std::uint32_t* requestLength,
                                      void* reply, std::uint32_t* replyLength)
{
    if (protocol != kEchoProtocol || action != kEchoAction) {
        return kErrorNotSupported;
    }
    if (request == nullptr || requestLength == nullptr || reply == nullptr ||
        replyLength == nullptr) {
        return kErrorInvalidParameter;
    }
    if (*replyLength < kEchoReplySize) {
        return kErrorInsufficientBuffer;
    }
    const std::optional<EchoRequest> parsed = ParseEchoRequest(request, *requestLength);
    if (!parsed) {
        return kErrorInvalidParameter;
    }
    const EchoRequest& echo = *parsed;
    const std::int64_t deadline = monotonicNs() + std::int64_t{echo.timeout} * 1000000;
    const ProbeInterrupt* interrupt = CurrentProbeInterrupt();

    ThreadSockets& cache = t_sockets;
    cache.checkNamespace();
    if (cache.receive.size() != kReceiveSize) {
        cache.receive.resize(kReceiveSize);
    }
    IcmpSocketKind kind = IcmpSocketKind::None;
    CachedSocket* socket = nullptr;
    switch (acquireSocket(m_first, kind, socket)) {
    case AcquireResult::Ready:
        break;
    case AcquireResult::Refused:
        cache.kindInUse = IcmpSocketKind::None;
        WriteNoEchoReply(reply, *replyLength, kIpGeneralFailure);
        return kErrorAccessDenied;
    case AcquireResult::NoResources:
        cache.kindInUse = IcmpSocketKind::None;
        WriteNoEchoReply(reply, *replyLength, kIpNoResources);
        return kErrorNotEnoughMemory;
    }
    cache.kindInUse = kind;

    if (interruptRaised(interrupt)) {
        WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
        return kErrorOperationAborted;
    }

    Exchange exchange{
        socket->fd, kind,  SentEcho{kind, cache.identifier, ++cache.sequence, echo.destination},
        timespec{}, reply, *replyLength};

    // TTL 0 can't leave a Linux host, and a request the stack refuses outright (no route, bad
    // options) gets no answer either: both wait out their time like any unanswered request, so
    // that a caller looping over them never spins.
    bool sent = false;
    if (!(echo.hasOptions && echo.ttl == 0) && applyOptions(*socket, echo)) {
        discardQueued(socket->fd, kind);
        buildPacket(cache.packet, echo, kind, cache.identifier, exchange.sent.sequence);
        sent = sendPacket(socket->fd, kind, cache.packet, echo.destination, exchange.sentAt);
    }
    if (!sent) {
        if (waitFor(-1, deadline, interrupt) == WaitResult::Interrupted) {
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return kErrorOperationAborted;
        }
        WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
        return 0;
    }

    // On loopback the reply is usually queued before sendto returns: look before sleeping.
    for (;;) {
        if (drainQueued(exchange)) {
            return 0;
        }
        const WaitResult waited = waitFor(socket->fd, deadline, interrupt);
        if (waited == WaitResult::Interrupted) {
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return kErrorOperationAborted;
        }
        if (waited == WaitResult::Deadline) {
            // A reply that arrived together with the deadline still counts.
            if (drainQueued(exchange)) {
                return 0;
            }
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return 0;
        }
    }
}

} // namespace hopwise
