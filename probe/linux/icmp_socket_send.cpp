// Sending one echo request: the socket options it asks for, the packet, and the send itself.

#include "probe/linux/icmp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "probe/echo_service.h"

namespace hopwise::icmp_socket {

namespace {

constexpr int kDefaultTtl = -1; // IP_TTL -1 restores the system default

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

} // namespace

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
    return sendPacket(fd, kind, packet, destination, sentAt, [fd] { discardErrorQueue(fd); });
}

bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                IpAddress destination, timespec& sentAt, const std::function<void()>& takePending)
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
            takePending();
            continue;
        }
        return false;
    }
    return false;
}

} // namespace hopwise::icmp_socket
