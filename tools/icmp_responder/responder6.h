#pragma once

// icmp-responder's IPv6 mode (--ipv6): the requests come in on a raw ICMPv6 socket and every
// answer leaves as a whole IPv6 datagram on an IPPROTO_RAW socket.

#include "tools/icmp_responder/responder_common.h"

namespace hopwise::responder {

// Exits with a reason unless IPv6 mode may run here: the kernel must leave echo requests alone,
// and no IPv6 default route may lead out of the namespace.
void CheckIpv6Start(const Settings& settings);

int RunIpv6(const Settings& settings);

} // namespace hopwise::responder
