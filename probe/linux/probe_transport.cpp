// The UDP and TCP probe methods' tables: opening a flow's socket, sending a probe with its TTL,
// and what the socket says of the destination besides the error queue; and reading the error
// queue, which both share.

#include "probe/linux/probe_transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <linux/errqueue.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "probe/echo_service.h"
#include "probe/echo_status.h"
#include "probe/icmp_extension.h"
#include "probe/linux/icmp_socket.h"

namespace hopwise::probe_transport {

namespace {

using icmp_socket::FromSocketAddress;
using icmp_socket::ToSocketAddress;

constexpr int kOn = 1;

bool ipv6(const ProbeFlow& flow)
{
    return flow.destination.isIpv6();
}

socklen_t socketAddress(const HostAddress& address, std::uint16_t port, sockaddr_storage& storage)
{
    const socklen_t length = ToSocketAddress(address, storage);
    if (storage.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(storage).sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in&>(storage).sin_port = htons(port);
    }
    return length;
}

std::uint16_t portOf(const sockaddr_storage& storage)
{
    return ntohs(storage.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                     : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
}

// A socket of the flow's family and the transport's type, with the error queue, the kernel's
// receive stamps and the reports' TTL asked for, bound to the thread's interface and source and
// to the flow's source port (0 the first time: the kernel picks it, and the flow keeps it).
int openSocket(ProbeFlow& flow, int type, bool reuse)
{
    const int domain = ipv6(flow) ? AF_INET6 : AF_INET;
    const int fd = socket(domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int level = ipv6(flow) ? IPPROTO_IPV6 : IPPROTO_IP;
    const EchoSocketSettings& settings = GetEchoSocketSettings();
    bool ok =
        setsockopt(fd, level, ipv6(flow) ? IPV6_RECVERR : IP_RECVERR, &kOn, sizeof kOn) == 0 &&
        setsockopt(fd, level, ipv6(flow) ? IPV6_RECVHOPLIMIT : IP_RECVTTL, &kOn, sizeof kOn) == 0 &&
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &kOn, sizeof kOn) == 0 &&
        (!reuse || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &kOn, sizeof kOn) == 0);
    // Where a report's extensions (MPLS labels) start, beside each error (Linux 5.9; an older
    // kernel refuses it and its reports carry no labels).
    setsockopt(fd, level, ipv6(flow) ? IPV6_RECVERR_RFC4884 : IP_RECVERR_RFC4884, &kOn, sizeof kOn);
    if (ok && !settings.interface.empty()) {
        ok = setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, settings.interface.data(),
                        static_cast<socklen_t>(settings.interface.size())) == 0;
    }
    if (ok) {
        sockaddr_storage local{};
        socklen_t length = 0;
        if (settings.source && settings.source.family() == flow.destination.family()) {
            length = socketAddress(settings.source, flow.sourcePort, local);
        } else {
            local.ss_family = static_cast<sa_family_t>(domain);
            length = domain == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
            if (domain == AF_INET6) {
                reinterpret_cast<sockaddr_in6&>(local).sin6_port = htons(flow.sourcePort);
            } else {
                reinterpret_cast<sockaddr_in&>(local).sin_port = htons(flow.sourcePort);
            }
        }
        ok = bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
    }
    if (ok && flow.sourcePort == 0) {
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ok = getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
        flow.sourcePort = portOf(bound);
    }
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

bool setTtl(int fd, const ProbeFlow& flow, std::uint8_t ttl)
{
    const int value = ttl;
    return ipv6(flow) ? setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &value, sizeof value) == 0
                      : setsockopt(fd, IPPROTO_IP, IP_TTL, &value, sizeof value) == 0;
}

// UDP: one socket for the flow, connected, so the kernel hands it only what quotes its ports.
int openUdp(ProbeFlow& flow)
{
    const int fd = openSocket(flow, SOCK_DGRAM, false);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage to{};
    const socklen_t length = socketAddress(flow.destination, flow.destinationPort, to);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendUdp(int fd, const ProbeFlow& flow, std::uint8_t ttl, std::uint32_t probe, timespec& sentAt)
{
    std::array<std::uint8_t, kProbeTagSize> payload{};
    WriteProbeTag(payload, flow.method.flow, probe);
    if (!setTtl(fd, flow, ttl)) {
        return false;
    }
    clock_gettime(CLOCK_REALTIME, &sentAt);
    return ::send(fd, payload.data(), payload.size(), MSG_DONTWAIT) ==
           static_cast<ssize_t>(payload.size());
}

// Data on the flow's socket came from the destination's port: it answered.
std::optional<SocketAnswer> answeredUdp(int fd)
{
    std::array<std::uint8_t, 1> byte{};
    if (recv(fd, byte.data(), byte.size(), MSG_DONTWAIT | MSG_TRUNC) < 0) {
        return std::nullopt;
    }
    return SocketAnswer{kIpSuccess, std::nullopt};
}

// TCP: a socket per probe on the flow's one source port (SO_REUSEADDR, so the next probe's
// socket may bind it as soon as the last is closed).
int openTcp(ProbeFlow& flow)
{
    return openSocket(flow, SOCK_STREAM, true);
}

bool sendTcp(int fd, const ProbeFlow& flow, std::uint8_t ttl, std::uint32_t /*probe*/,
             timespec& sentAt)
{
    if (!setTtl(fd, flow, ttl)) {
        return false;
    }
    sockaddr_storage to{};
    const socklen_t length = socketAddress(flow.destination, flow.destinationPort, to);
    clock_gettime(CLOCK_REALTIME, &sentAt);
    // A connect that completed at once (loopback) shows as established to answeredTcp.
    return connect(fd, reinterpret_cast<const sockaddr*>(&to), length) == 0 || errno == EINPROGRESS;
}

// A SYN-ACK (the handshake completed) or a RST (refused): the destination answered. The round
// trip of a SYN-ACK is the kernel's first sample of the connection.
std::optional<SocketAnswer> answeredTcp(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return std::nullopt;
    }
    if (error == ECONNREFUSED) {
        return SocketAnswer{kIpSuccess, std::nullopt};
    }
    if (error != 0) {
        return std::nullopt;
    }
    tcp_info info{};
    length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        info.tcpi_state != TCP_ESTABLISHED) {
        return std::nullopt;
    }
    SocketAnswer answer{kIpSuccess, std::nullopt};
    if (info.tcpi_rtt != 0) {
        answer.roundTripUs = info.tcpi_rtt;
    }
    return answer;
}

} // namespace

const ProbeTransport kUdpTransport{ProbeProtocol::Udp, false, openUdp, sendUdp,
                                   answeredUdp,        POLLIN};
const ProbeTransport kTcpTransport{ProbeProtocol::Tcp, true,   openTcp, sendTcp,
                                   answeredTcp,        POLLOUT};

const ProbeTransport& TransportOf(const ProbeMethod& method)
{
    return method.protocol == ProbeProtocol::Tcp ? kTcpTransport : kUdpTransport;
}

void CloseAbortively(int fd)
{
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

bool ReadErrorQueue(int fd, std::vector<std::uint8_t>& buffer, QueuedReport& out)
{
    alignas(cmsghdr) std::array<std::uint8_t, 512> control{};
    sockaddr_storage from{};
    iovec vector{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT | MSG_ERRQUEUE);
    if (got < 0) {
        return false;
    }
    out = QueuedReport{};
    out.report.quoted = {buffer.data(), static_cast<std::size_t>(got)};
    out.report.quotedTo = FromSocketAddress(from, message.msg_namelen);
    out.report.quotedToPort = portOf(from);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        const auto* payload = reinterpret_cast<const std::uint8_t*>(CMSG_DATA(c));
        const std::size_t length = c->cmsg_len - CMSG_LEN(0);
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
            length >= sizeof(timespec)) {
            std::memcpy(&out.stamp, payload, sizeof(timespec));
            out.haveStamp = true;
        } else if (((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) ||
                    (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) &&
                   length >= sizeof(int)) {
            int ttl = 0;
            std::memcpy(&ttl, payload, sizeof ttl);
            out.ttl = static_cast<std::uint8_t>(ttl);
        } else if (((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                    (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) &&
                   length >= sizeof(sock_extended_err)) {
            sock_extended_err error{};
            std::memcpy(&error, payload, sizeof error);
            out.report.origin = error.ee_origin;
            out.report.type = error.ee_type;
            out.report.code = error.ee_code;
            // Counted, as for the ICMP datagram socket, from the start of what was handed over.
            out.mpls = DecodeMplsLabelsAt(out.report.quoted, error.ee_rfc4884.len);
            sockaddr_storage offender{};
            const std::size_t offenderLength =
                std::min(length - sizeof(sock_extended_err), sizeof offender);
            std::memcpy(&offender, payload + sizeof(sock_extended_err), offenderLength);
            out.report.reporter =
                FromSocketAddress(offender, static_cast<socklen_t>(offenderLength));
        }
    }
    return true;
}

} // namespace hopwise::probe_transport
