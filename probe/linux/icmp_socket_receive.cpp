// Waiting for the answer to a request and reading it: kernel receive stamps and ancillary data,
// the reply decoder's verdict on each packet, and emptying the queues of what can't be ours.

#include "probe/linux/icmp_socket.h"

#include <netinet/in.h>

#include <linux/errqueue.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#include "probe/echo_status.h"
#include "probe/linux/probe_interrupt.h"

namespace hopwise::icmp_socket {

HostAddress FromSocketAddress(const sockaddr_storage& storage, socklen_t length)
{
    if (storage.ss_family == AF_INET && length >= sizeof(sockaddr_in)) {
        return HostAddress::ipv4(reinterpret_cast<const sockaddr_in&>(storage).sin_addr.s_addr);
    }
    if (storage.ss_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&in6.sin6_addr);
        const HostAddress address =
            HostAddress::ipv6(std::span<const std::uint8_t, kIpv6AddressSize>(bytes, 16));
        // The kernel names the interface of every link-local sender; only there is it part of
        // the address.
        return address.isLinkLocal()
                   ? HostAddress::ipv6(std::span<const std::uint8_t, kIpv6AddressSize>(bytes, 16),
                                       in6.sin6_scope_id)
                   : address;
    }
    return {};
}

namespace {

constexpr std::size_t kControlSize = 512;
// Queues are read in bounded passes: the interrupt and the deadline are rechecked between them.
constexpr int kPacketsPerPass = 64;

std::int64_t nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What a received message's ancillary data adds to the decoder's view; for a report from the
// error queue, also the address of whoever sent it.
struct ReceivedMeta {
    bool haveStamp = false;
    timespec stamp{};
    bool haveTtl = false;
    std::uint8_t ttl = 0;
    bool haveTos = false;
    std::uint8_t tos = 0;
    std::span<const std::uint8_t> options;
    const sock_extended_err* error = nullptr;
    HostAddress offender;
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
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT &&
                   length >= sizeof(int)) {
            int hops = 0;
            std::memcpy(&hops, payload, sizeof hops);
            meta.ttl = static_cast<std::uint8_t>(hops);
            meta.haveTtl = true;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_TCLASS &&
                   length >= sizeof(int)) {
            int trafficClass = 0;
            std::memcpy(&trafficClass, payload, sizeof trafficClass);
            meta.tos = static_cast<std::uint8_t>(trafficClass);
            meta.haveTos = true;
        } else if (((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                    (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) &&
                   length >= sizeof(sock_extended_err)) {
            meta.error = reinterpret_cast<const sock_extended_err*>(payload);
            // The reporter's address follows the error (SO_EE_OFFENDER).
            sockaddr_storage offender{};
            const std::size_t offenderLength =
                std::min(length - sizeof(sock_extended_err), sizeof offender);
            std::memcpy(&offender, payload + sizeof(sock_extended_err), offenderLength);
            meta.offender = FromSocketAddress(offender, static_cast<socklen_t>(offenderLength));
        }
    }
    return meta;
}

// Microseconds, from the kernel's receive stamp when there is one.
std::uint32_t roundTripMicros(const timespec& received, const timespec& sentAt)
{
    const std::int64_t elapsed = nanoseconds(received) - nanoseconds(sentAt);
    // The wall clock may step backwards between the two stamps.
    // More than 71 minutes can't be a reply to a request that waits 10 at most.
    return elapsed <= 0
               ? 0u
               : static_cast<std::uint32_t>(std::min<std::int64_t>(elapsed / 1000, UINT32_MAX));
}

enum class ReadResult { Matched, Empty, Failed };

// The decoder's verdict on a packet for the first request in flight that it answers; each
// request is judged by exactly the rules a lone one is, so a packet never answers two.
struct Judged {
    IcmpReplyFields fields;
    std::size_t index = 0;
};

// A packet the kernel stamped before a request left can't answer it, however well it matches: a
// duplicate of an earlier answer, or a forgery naming the next sequence, queued behind the answer.
template <class Decode>
Judged judge(std::span<const Exchange> inFlight, const ReceivedMeta& meta, Decode decode)
{
    Judged judged;
    for (std::size_t i = 0; i < inFlight.size(); ++i) {
        if (meta.haveStamp && nanoseconds(meta.stamp) < nanoseconds(inFlight[i].sentAt)) {
            continue;
        }
        judged.fields = decode(inFlight[i].sent);
        if (judged.fields.verdict != IcmpVerdict::NotOurs) {
            judged.index = i;
            return judged;
        }
    }
    return judged;
}

// Reads one message from the socket's ordinary queue (or its error queue) without blocking and
// writes the reply record of the request in flight that it answers.
ReadResult readOne(int fd, std::span<const Exchange> inFlight, bool errorQueue, Answer& answer)
{
    if (inFlight.empty()) {
        return ReadResult::Empty;
    }
    std::vector<std::uint8_t>& buffer = t_sockets.receive;
    // The kernel writes what it sends back and says how much; clearing it would only cost time.
    alignas(cmsghdr) std::array<std::uint8_t, kControlSize> control; // NOLINT
    sockaddr_storage from{};
    iovec vector{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    CachedSocket* owner = t_sockets.owning(fd);
    const bool learning = owner != nullptr && !owner->stampsOnArrival;
    timespec beforeRead{};
    if (learning) {
        clock_gettime(CLOCK_REALTIME, &beforeRead);
    }
    const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return ReadResult::Empty;
        }
        // A datagram socket reports a queued ICMP error this way; the error queue holds it.
        return ReadResult::Failed;
    }
    const std::span<const std::uint8_t> bytes{buffer.data(), static_cast<std::size_t>(got)};
    const ReceivedMeta meta = readControl(message);
    if (learning && meta.haveStamp && nanoseconds(meta.stamp) < nanoseconds(beforeRead)) {
        owner->stampsOnArrival = true;
    }

    // Every request in flight on one socket goes to the same family.
    const IcmpFamily& family = IcmpFamilyOf(inFlight.front().sent.destination);
    const HostAddress sender = FromSocketAddress(from, message.msg_namelen);
    Judged judged;
    HostAddress responder;
    if (errorQueue) {
        if (meta.error == nullptr || meta.error->ee_origin != family.errorOrigin ||
            sender.family() != family.family) {
            return ReadResult::Failed; // a local error, not a report about our request
        }
        judged = judge(inFlight, meta, [&](const SentEcho& sent) {
            return family.decodeQuoted(bytes, sender, meta.error->ee_type, meta.error->ee_code,
                                       sent);
        });
        responder = meta.offender;
    } else {
        judged =
            judge(inFlight, meta, [&](const SentEcho& sent) { return family.decode(bytes, sent); });
        responder = judged.fields.hasIpHeader ? HostAddress::ipv4(judged.fields.source) : sender;
    }
    const IcmpReplyFields& fields = judged.fields;
    if (fields.verdict == IcmpVerdict::NotOurs) {
        return ReadResult::Failed;
    }
    const Exchange& exchange = inFlight[judged.index];
    timespec received = meta.stamp;
    if (!meta.haveStamp) {
        clock_gettime(CLOCK_REALTIME, &received);
    }
    answer.index = judged.index;
    answer.roundTripMicros = roundTripMicros(received, exchange.sentAt);

    EchoReplyInfo info;
    info.address = responder.toIpv4();
    info.responder = responder;
    info.status = fields.status;
    info.roundTripMicros = answer.roundTripMicros;
    info.roundTripTime = answer.roundTripMicros / 1000;
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
    // The report's own MTU field, or the kernel's copy of it beside an error queue message.
    info.mtu = errorQueue && fields.status == kIpPacketTooBig ? meta.error->ee_info : fields.mtu;
    // The kernel says where a report's extensions begin in the payload it hands over
    // (IP_RECVERR_RFC4884); a raw socket's packet was read by the decoder itself.
    info.mpls = errorQueue ? DecodeMplsLabelsAt(bytes, meta.error->ee_rfc4884.len) : fields.mpls;
    WriteEchoReply(exchange.reply, exchange.replyLength, info);
    return ReadResult::Matched;
}

} // namespace

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

std::optional<Answer> takeAnswer(int fd, IcmpSocketKind kind, std::span<const Exchange> inFlight)
{
    Answer answer;
    for (int i = 0; i < kPacketsPerPass; ++i) {
        const ReadResult result = readOne(fd, inFlight, false, answer);
        if (result == ReadResult::Matched) {
            return answer;
        }
        if (result == ReadResult::Empty) {
            break;
        }
    }
    if (kind != IcmpSocketKind::Datagram) {
        return std::nullopt;
    }
    for (int i = 0; i < kPacketsPerPass; ++i) {
        const ReadResult result = readOne(fd, inFlight, true, answer);
        if (result == ReadResult::Matched) {
            return answer;
        }
        if (result == ReadResult::Empty) {
            break;
        }
    }
    return std::nullopt;
}

bool drainQueued(const Exchange& exchange)
{
    return takeAnswer(exchange.fd, exchange.kind, {&exchange, 1}).has_value();
}

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

} // namespace hopwise::icmp_socket
