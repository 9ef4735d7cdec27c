#pragma once

// Which kind of ICMP socket this process may open. Linux admits unprivileged ICMP datagram
// sockets to the groups in net.ipv4.ping_group_range; raw ICMP sockets need CAP_NET_RAW.

namespace hopwise {

enum class IcmpSocketKind {
    None,     // neither kind is permitted: every SendEcho yields 0 with kErrorAccessDenied
    Datagram, // SOCK_DGRAM / IPPROTO_ICMP, the kernel owns the echo identifier
    Raw,      // SOCK_RAW / IPPROTO_ICMP, needs CAP_NET_RAW
};

// Cheap up-front check, asked of the installed echo stack (EchoStack::permittedKind): the kind
// SendEcho's requests would go out on now. The system's stack opens and closes one socket of
// each kind in the order it tries them, and yields the first that works.
IcmpSocketKind CheckEchoPermission();

// What to tell a user when the check yields None (how to permit ICMP sockets on this system).
const char* EchoPermissionHint();

const char* IcmpSocketKindName(IcmpSocketKind kind);

} // namespace hopwise
