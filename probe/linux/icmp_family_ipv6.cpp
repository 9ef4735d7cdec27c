// ICMPv6: both socket kinds hand over the ICMPv6 message alone, with the source in the message's
// name and the hop limit and traffic class as ancillary data; the kernel computes and checks the
// checksum on both (RFC 3542 3.1), so a raw socket's packets need no checksum of ours.

#include <netinet/icmp6.h>
#include <netinet/in.h>

#include <linux/errqueue.h>
#include <linux/filter.h>

#include <sys/socket.h>

#include <cstring>

#include "probe/icmp6_reply_decoder.h"
#include "probe/linux/icmp_socket.h"

namespace hopwise::icmp_socket {

namespace {

int enable(int fd, int level, int name)
{
    const int on = 1;
    return setsockopt(fd, level, name, &on, sizeof on);
}

// The raw socket's filter as for IPv4, but a raw ICMPv6 socket's packet starts at the ICMPv6
// header: only echo replies with our identifier and reports stay queued.
void attachIdentifierFilter(int fd, std::uint16_t identifier)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0), // ICMPv6 type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, icmp6_type::kEchoReply, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4), // echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

void configure(int fd, IcmpSocketKind kind, std::uint16_t identifier)
{
    enable(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT);
    enable(fd, IPPROTO_IPV6, IPV6_RECVTCLASS);
    if (kind == IcmpSocketKind::Datagram) {
        // Routers' reports come through the error queue, with the router's address.
        enable(fd, IPPROTO_IPV6, IPV6_RECVERR);
        enable(fd, IPPROTO_IPV6, IPV6_RECVERR_RFC4884);
        return;
    }
    icmp6_filter filter{};
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(icmp6_type::kEchoReply, &filter);
    ICMP6_FILTER_SETPASS(icmp6_type::kDestUnreachable, &filter);
    ICMP6_FILTER_SETPASS(icmp6_type::kPacketTooBig, &filter);
    ICMP6_FILTER_SETPASS(icmp6_type::kTimeExceeded, &filter);
    ICMP6_FILTER_SETPASS(icmp6_type::kParameterProblem, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    attachIdentifierFilter(fd, identifier);
}

} // namespace

const IcmpFamily kIcmpIpv6{
    AddressFamily::Ipv6,
    AF_INET6,
    IPPROTO_ICMPV6,
    IPPROTO_IPV6,
    icmp6_type::kEchoRequest,
    IPV6_UNICAST_HOPS,
    IPV6_TCLASS,
    IPV6_MTU_DISCOVER,
    IPV6_PMTUDISC_DO,
    IPV6_PMTUDISC_WANT,
    IPV6_PMTUDISC_DONT,
    IPV6_PMTUDISC_WANT,
    IPV6_MTU,
    SO_EE_ORIGIN_ICMP6,
    configure,
    DecodeIcmp6Reply,
    DecodeQuotedEcho6,
    40,
};

} // namespace hopwise::icmp_socket
