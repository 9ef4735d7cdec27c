// Sending one echo request: the socket options it asks for, the packet, and the send itself.

#include "probe/linux/icmp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "probe/echo_service.h"

namespace hopwise::icmp_socket {

socklen_t ToSocketAddress(const HostAddress& address, sockaddr_storage& storage)
{
    storage = sockaddr_storage{};
    if (address.isIpv4()) {
        auto& in = reinterpret_cast<sockaddr_in&>(storage);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = address.toIpv4();
        return sizeof in;
    }
    if (address.isIpv6()) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_addr, address.bytes().data(), sizeof in6.sin6_addr);
        in6.sin6_scope_id = address.scopeId();
        return sizeof in6;
    }
    return 0;
}

namespace {

constexpr int kDefaultTtl = -1; // IP_TTL -1 restores the system default

bool setIfChanged(int fd, int level, int name, int& cached, int wanted)
{
    if (cached == wanted) {
        return true;
    }
    const int value = wanted;
    if (setsockopt(fd, level, name, &value, sizeof value) != 0) {
        cached = kUnknown;
        return false;
    }
    cached = wanted;
    return true;
}

// The thread's interface and source on a socket of the family. Binding to a device needs no
// privilege since Linux 5.7 (for a socket not yet bound to one). A source of the other family
// can't send this request: it stays unsent rather than leave from an address nobody asked for.
bool bindSource(int fd, const IcmpFamily& family)
{
    const EchoSocketSettings& settings = GetEchoSocketSettings();
    if (!settings.interface.empty() &&
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, settings.interface.data(),
                   static_cast<socklen_t>(settings.interface.size())) != 0) {
        return false;
    }
    if (!settings.source) {
        return true;
    }
    sockaddr_storage local{};
    const socklen_t length = ToSocketAddress(settings.source, local);
    return settings.source.family() == family.family &&
           bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
}

int pathMtuMode(const IcmpFamily& family, const EchoRequest& request)
{
    switch (GetEchoSocketSettings().pathMtu) {
    case EchoPathMtu::Do:
        return family.mtuDo;
    case EchoPathMtu::Dont:
        return family.mtuDont;
    case EchoPathMtu::Want:
        return family.mtuWant;
    case EchoPathMtu::ByFlags:
        break;
    }
    const bool dontFragment = request.hasOptions && (request.flags & kIpFlagDontFragment) != 0;
    return dontFragment ? family.mtuDo : family.mtuDefault;
}

} // namespace

bool applyOptions(CachedSocket& socket, const EchoRequest& request)
{
    const IcmpFamily& family = IcmpFamilyOf(request.destination);
    if (!socket.bound) {
        socket.bound = bindSource(socket.fd, family);
        if (!socket.bound) {
            return false;
        }
    }
    const int ttl = request.hasOptions ? request.ttl : kDefaultTtl;
    const int tos = request.hasOptions ? request.tos : 0;
    const int pmtu = pathMtuMode(family, request);
    if (!setIfChanged(socket.fd, family.level, family.hopsOption, socket.ttl, ttl) ||
        !setIfChanged(socket.fd, family.level, family.classOption, socket.tos, tos) ||
        !setIfChanged(socket.fd, family.level, family.mtuOption, socket.pmtu, pmtu)) {
        return false;
    }
    if (family.family != AddressFamily::Ipv4) {
        return true; // IP options are IPv4's; IPv6 has extension headers instead
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

std::uint32_t localPathMtu(const HostAddress& destination)
{
    // A connected UDP socket on the same interface and source reads the route's MTU, learned
    // reports included; connecting sends nothing.
    const IcmpFamily& family = IcmpFamilyOf(destination);
    const int fd = socket(family.domain, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_storage to{};
    const socklen_t toLength = ToSocketAddress(destination, to);
    // The port sits at the same offset in both families' addresses; the discard port is as good
    // as any other, since nothing is sent.
    reinterpret_cast<sockaddr_in&>(to).sin_port = htons(9);
    int mtu = 0;
    socklen_t size = sizeof mtu;
    if (!bindSource(fd, family) ||
        connect(fd, reinterpret_cast<const sockaddr*>(&to), toLength) != 0 ||
        getsockopt(fd, family.level, family.mtuQuery, &mtu, &size) != 0 || mtu < 0) {
        mtu = 0;
    }
    close(fd);
    return static_cast<std::uint32_t>(mtu);
}

void buildPacket(std::vector<std::uint8_t>& packet, const EchoRequest& request, IcmpSocketKind kind,
                 std::uint16_t identifier, std::uint16_t sequence)
{
    packet.resize(kIcmpHeaderSize + request.data.size());
    packet[0] = IcmpFamilyOf(request.destination).echoRequestType;
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
    // The kernel sums every ICMPv6 packet itself, over a pseudo-header with the source it picks.
    if (kind == IcmpSocketKind::Raw && request.destination.isIpv4()) {
        const std::uint16_t checksum = InternetChecksum(packet);
        packet[2] = static_cast<std::uint8_t>(checksum >> 8);
        packet[3] = static_cast<std::uint8_t>(checksum);
    }
}

bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                const HostAddress& destination, timespec& sentAt)
{
    return sendPacket(fd, kind, packet, destination, sentAt, [fd] { discardErrorQueue(fd); });
}

bool sendPacket(int fd, IcmpSocketKind kind, const std::vector<std::uint8_t>& packet,
                const HostAddress& destination, timespec& sentAt,
                const std::function<void()>& takePending)
{
    sockaddr_storage to{};
    const socklen_t toLength = ToSocketAddress(destination, to);
    bool drained = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        clock_gettime(CLOCK_REALTIME, &sentAt);
        const ssize_t sent = sendto(fd, packet.data(), packet.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&to), toLength);
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
