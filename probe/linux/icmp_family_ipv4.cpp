// ICMP over IPv4: a raw socket hands over the IP header with each packet, and its kernel filters
// must look past that header.

#include <netinet/in.h>

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>

#include <sys/socket.h>

#include <cstring>

#include "probe/linux/icmp_socket.h"

namespace hopwise::icmp_socket {

namespace {

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

void configure(int fd, IcmpSocketKind kind, std::uint16_t identifier)
{
    if (kind == IcmpSocketKind::Datagram) {
        // Without IP_RECVERR a router's report would only surface as an errno on some later
        // call, without the router's address.
        enable(fd, IPPROTO_IP, IP_RECVERR);
        enable(fd, IPPROTO_IP, IP_RECVTTL);
        enable(fd, IPPROTO_IP, IP_RECVTOS);
        enable(fd, IPPROTO_IP, IP_RECVOPTS);
        // Where a report's extensions (MPLS labels) start, beside each error (Linux 5.9).
        enable(fd, IPPROTO_IP, IP_RECVERR_RFC4884);
        return;
    }
    // A raw ICMP socket sees every ICMP packet of the namespace; the kernel drops the types
    // that can never answer an echo before they wake us.
    icmp_filter filter{};
    filter.data = ~((1u << icmp_type::kEchoReply) | (1u << icmp_type::kDestUnreachable) |
                    (1u << icmp_type::kSourceQuench) | (1u << icmp_type::kTimeExceeded) |
                    (1u << icmp_type::kParameterProblem));
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    attachIdentifierFilter(fd, identifier);
}

IcmpReplyFields decodeQuoted(std::span<const std::uint8_t> quoted, const HostAddress& quotedTo,
                             std::uint8_t type, std::uint8_t code, const SentEcho& sent)
{
    if (!quotedTo.isIpv4()) {
        IcmpReplyFields fields;
        fields.reason = IcmpRejectReason::WrongDestination;
        return fields;
    }
    return DecodeQuotedEcho(quoted, quotedTo.toIpv4(), type, code, sent);
}

} // namespace

const IcmpFamily kIcmpIpv4{
    AddressFamily::Ipv4,
    AF_INET,
    IPPROTO_ICMP,
    IPPROTO_IP,
    icmp_type::kEchoRequest,
    IP_TTL,
    IP_TOS,
    IP_MTU_DISCOVER,
    IP_PMTUDISC_DO,
    IP_PMTUDISC_DONT,
    IP_PMTUDISC_DONT,
    IP_PMTUDISC_WANT,
    IP_MTU,
    SO_EE_ORIGIN_ICMP,
    configure,
    DecodeIcmpReply,
    decodeQuoted,
    20,
};

} // namespace hopwise::icmp_socket
