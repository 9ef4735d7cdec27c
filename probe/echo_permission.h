#pragma once

// Which kind of ICMP socket this process may open. Linux admits unprivileged ICMP datagram
// sockets to the groups in net.ipv4.ping_group_range; raw ICMP sockets need CAP_NET_RAW.

namespace hopwise {

enum class IcmpSocketKind {
    None,     // neither kind is permitted: every SendEcho yields 0 with kErrorAccessDenied
    Datagram, // SOCK_DGRAM / IPPROTO_ICMP, the kernel owns the echo identifier
    Raw,      // SOCK_RAW / IPPROTO_ICMP, needs CAP_NET_RAW
};

// Cheap up-front check: opens and closes one socket of each kind in the order SendEcho tries
// them, and yields the first that works.
IcmpSocketKind CheckEchoPermission();

// What to tell a user when the check yields None.
const char* EchoPermissionHint();

const char* IcmpSocketKindName(IcmpSocketKind kind);

} // namespace hopwise
