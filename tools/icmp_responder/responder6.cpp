#include "tools/icmp_responder/responder6.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace hopwise::responder {

namespace {

constexpr int kPacketsPerWake = 64;
constexpr Address6 kLoopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
// Unique local addresses: the only ones a test's namespaces use.
constexpr std::uint8_t kUniqueLocalFirstByte = 0xfd;
constexpr unsigned kRejectRoute = 0x0200; // RTF_REJECT in /proc/net/ipv6_route

std::string text(const Address6& address)
{
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.data(), buffer, sizeof buffer);
    return buffer;
}

Address6 fromIn6(const in6_addr& address)
{
    Address6 bytes{};
    std::memcpy(bytes.data(), &address, bytes.size());
    return bytes;
}

// Where this process may send: ::1, and outside the machine's own namespace the unique local
// neighbours on its links.
class SendPolicy6 {
public:
    SendPolicy6() : m_initialNamespace(InInitialNamespace())
    {
        ifaddrs* list = nullptr;
        if (m_initialNamespace || getifaddrs(&list) != 0) {
            return;
        }
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr ||
                entry->ifa_addr->sa_family != AF_INET6 || (entry->ifa_flags & IFF_UP) == 0 ||
                (entry->ifa_flags & IFF_LOOPBACK) != 0) {
                continue;
            }
            const Address6 address =
                fromIn6(reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
            const Address6 mask =
                fromIn6(reinterpret_cast<const sockaddr_in6*>(entry->ifa_netmask)->sin6_addr);
            if (address[0] == kUniqueLocalFirstByte) {
                m_links.push_back({address, mask});
            }
        }
        freeifaddrs(list);
    }

    bool mayReach(const Address6& address) const
    {
        if (address == kLoopback) {
            return true;
        }
        if (m_initialNamespace || address[0] != kUniqueLocalFirstByte) {
            return false;
        }
        return std::any_of(m_links.begin(), m_links.end(), [&address](const Link& link) {
            for (std::size_t i = 0; i < address.size(); ++i) {
                if ((address[i] & link.mask[i]) != (link.address[i] & link.mask[i])) {
                    return false;
                }
            }
            return true;
        });
    }

private:
    struct Link {
        Address6 address;
        Address6 mask;
    };
    bool m_initialNamespace;
    std::vector<Link> m_links;
};

// The kernel lists a rejecting ::/0 on lo in every namespace; only a usable one leads out.
bool hasDefaultRoute6()
{
    std::ifstream routes("/proc/net/ipv6_route");
    std::string line;
    while (std::getline(routes, line)) {
        char destination[33] = {};
        unsigned prefix = 1;
        unsigned flags = 0;
        if (std::sscanf(line.c_str(), "%32s %x %*s %*x %*s %*x %*x %*x %x", destination, &prefix,
                        &flags) == 3 &&
            prefix == 0 && (flags & kRejectRoute) == 0) {
            return true;
        }
    }
    return false;
}

bool kernelAnswersEcho6()
{
    std::ifstream setting("/proc/sys/net/ipv6/icmp/echo_ignore_all");
    int ignoreAll = 0;
    return !(setting >> ignoreAll) || ignoreAll == 0;
}

Address6 hopAddress(const Address6& base, int hop)
{
    Address6 address = base;
    unsigned carry = static_cast<unsigned>(hop - 1);
    for (std::size_t i = address.size(); i-- > 0 && carry != 0;) {
        carry += address[i];
        address[i] = static_cast<std::uint8_t>(carry);
        carry >>= 8;
    }
    return address;
}

struct Pending6 {
    std::vector<std::uint8_t> packet;
    Address6 to;
};

class Responder6 {
public:
    Responder6(const Settings& settings, const SendPolicy6& policy)
        : m_settings(settings), m_policy(policy)
    {
        m_receive = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        // IPPROTO_RAW implies a header of our own: source, hop limit and checksum are ours.
        m_send = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        if (m_receive < 0 || m_send < 0) {
            Fail(std::string("raw IPv6 sockets: ") + std::strerror(errno) + " (needs CAP_NET_RAW)");
        }
        icmp6_filter filter{};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
        const int on = 1;
        if (setsockopt(m_receive, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0 ||
            setsockopt(m_receive, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0 ||
            setsockopt(m_receive, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0 ||
            setsockopt(m_receive, IPPROTO_IPV6, IPV6_RECVTCLASS, &on, sizeof on) != 0 ||
            setsockopt(m_receive, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
            setsockopt(m_send, IPPROTO_IPV6, IPV6_HDRINCL, &on, sizeof on) != 0) {
            Fail(std::string("socket options: ") + std::strerror(errno));
        }
    }

    int run()
    {
        const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(m_settings.seconds * 1e9);
        std::printf("ready\n");
        std::fflush(stdout);
        while (g_stop == 0) {
            const std::int64_t now = NowNs();
            sendDue(now);
            if ((m_requests >= m_settings.count && m_pending.empty()) || now >= deadline) {
                break;
            }
            const std::int64_t wake =
                m_pending.empty() ? deadline : std::min(deadline, m_pending.begin()->first);
            const std::int64_t wait = std::max<std::int64_t>(wake - now, 0);
            const timespec timeout{static_cast<time_t>(wait / 1000000000),
                                   static_cast<long>(wait % 1000000000)};
            pollfd fd{m_receive, POLLIN, 0};
            if (ppoll(&fd, 1, &timeout, nullptr) > 0) {
                readRequests();
            }
        }
        std::printf("done requests %ld dropped %ld sent %ld flood 0\n", m_requests, m_dropped,
                    m_sent);
        std::fflush(stdout);
        return 0;
    }

private:
    void sendDue(std::int64_t now)
    {
        while (!m_pending.empty() && m_pending.begin()->first <= now) {
            const Pending6& pending = m_pending.begin()->second;
            transmit(pending.packet, pending.to);
            ++m_sent;
            m_pending.erase(m_pending.begin());
        }
    }

    void transmit(const std::vector<std::uint8_t>& packet, const Address6& to)
    {
        // Checked again at the last moment: nothing leaves unless the policy allows it.
        if (packet.empty() || !m_policy.mayReach(to)) {
            return;
        }
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        std::memcpy(&address.sin6_addr, to.data(), to.size());
        if (sendto(m_send, packet.data(), packet.size(), 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
            std::fprintf(stderr, "icmp-responder: send to %s: %s\n", text(to).c_str(),
                         std::strerror(errno));
        }
    }

    void readRequests()
    {
        for (int i = 0; i < kPacketsPerWake; ++i) {
            std::array<std::uint8_t, 65536> buffer; // NOLINT: read only up to what arrived
            alignas(cmsghdr) std::array<std::uint8_t, 256> control{};
            sockaddr_in6 from{};
            iovec vector{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control.data();
            message.msg_controllen = control.size();
            const ssize_t got = recvmsg(m_receive, &message, MSG_DONTWAIT);
            if (got < 0) {
                return;
            }
            std::int64_t stamp = NowNs();
            Address6 destination{};
            int hopLimit = 0;
            int trafficClass = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec received{};
                    std::memcpy(&received, CMSG_DATA(c), sizeof received);
                    stamp = Nanoseconds(received);
                } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                    in6_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    destination = fromIn6(info.ipi6_addr);
                } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT) {
                    std::memcpy(&hopLimit, CMSG_DATA(c), sizeof hopLimit);
                } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_TCLASS) {
                    std::memcpy(&trafficClass, CMSG_DATA(c), sizeof trafficClass);
                }
            }
            const auto request = ParseEchoRequest6(
                std::span(buffer.data(), static_cast<std::size_t>(got)), fromIn6(from.sin6_addr),
                destination, static_cast<std::uint8_t>(hopLimit),
                static_cast<std::uint8_t>(trafficClass));
            if (request) {
                handle(*request, stamp);
            }
        }
    }

    void handle(const EchoRequestSeen6& request, std::int64_t stamp)
    {
        if (m_settings.listen6 && request.destination != *m_settings.listen6) {
            return;
        }
        if (!m_policy.mayReach(request.source)) {
            std::printf("refused request from %s: not a neighbour in this namespace\n",
                        text(request.source).c_str());
            std::fflush(stdout);
            return;
        }
        if (m_requests >= m_settings.count) {
            return;
        }
        ++m_requests;
        const auto hopLimit = static_cast<std::uint8_t>(m_settings.replyTtl);
        std::string answers;
        if (m_settings.dropEvery > 0 && m_requests % m_settings.dropEvery == 0) {
            ++m_dropped;
            answers = " dropped";
        } else if (request.hopLimit <= m_settings.fakeHops) {
            const Address6 router = hopAddress(*m_settings.hopBase6, request.hopLimit);
            schedule(stamp, m_settings.delayMs, ForgeHopReport6(request, router, hopLimit),
                     request.source);
            answers = " hop-report from " + text(router);
        } else {
            const ForgeSettings6 forge{hopLimit, m_settings.otherSource6};
            for (const SendItem& item : m_settings.sends) {
                const int delay = item.delayMs >= 0 ? item.delayMs : m_settings.delayMs;
                schedule(stamp, delay, ForgePacket6(item.kind, request, forge), request.source);
                answers +=
                    " " + std::string(PacketKindName(item.kind)) + "@" + std::to_string(delay);
            }
        }
        std::printf("request %ld from %s id %u seq %u hops %u:%s\n", m_requests,
                    text(request.source).c_str(), request.identifier, request.sequence,
                    request.hopLimit, answers.c_str());
        std::fflush(stdout);
    }

    void schedule(std::int64_t stamp, int delayMs, std::vector<std::uint8_t> packet,
                  const Address6& to)
    {
        m_pending.emplace(stamp + std::int64_t{delayMs} * 1000000, Pending6{std::move(packet), to});
    }

    const Settings& m_settings;
    const SendPolicy6& m_policy;
    int m_receive = -1;
    int m_send = -1;
    // Ordered by due time; packets due together keep the order they were asked for in.
    std::multimap<std::int64_t, Pending6> m_pending;
    long m_requests = 0;
    long m_dropped = 0;
    long m_sent = 0;
};

} // namespace

void CheckIpv6Start(const Settings& settings)
{
    if (!InInitialNamespace() && hasDefaultRoute6()) {
        Fail("this namespace has an IPv6 default route; run me where nothing leads out");
    }
    for (const auto& address : {settings.otherSource6, settings.hopBase6}) {
        if (address && (*address)[0] != kUniqueLocalFirstByte) {
            Fail("forged sources must be unique local (fd00::/8): " + text(*address));
        }
    }
    if (!settings.allowKernelEcho && kernelAnswersEcho6()) {
        Fail("the kernel answers ICMPv6 echo requests here too; set "
             "net.ipv6.icmp.echo_ignore_all=1 in this namespace (or pass --allow-kernel-echo)");
    }
}

int RunIpv6(const Settings& settings)
{
    const SendPolicy6 policy;
    Responder6 responder(settings, policy);
    return responder.run();
}

} // namespace hopwise::responder
