#pragma once

// Host name and address resolution. Texts yielded here live in storage of the calling thread and
// stay valid until that thread's next call of the same function.

#include <cstdint>
#include <optional>
#include <string>

#include "probe/host_address.h"
#include "probe/ip_address.h"

namespace hopwise {

// The dotted address when the text is one, else the first IPv4 address that the resolver gives
// for the name; kAddressNone when neither works. 0.0.0.0 yields 0 (callers treat it as failure).
IpAddress ResolveHostName(const char* host);

// Which families a host may resolve to (hopwise-cli's -4 and -6; the window takes either).
enum class FamilyChoice : std::uint8_t { Any, Ipv4Only, Ipv6Only };

// What every worker and command resolves its host with. Dotted text and IPv6 literals (with a
// zone) are taken as they are; a name yields its first IPv4 address as ResolveHostName finds it,
// and only a name with none its first IPv6 address. A choice of one family refuses a literal of
// the other and looks up only that family. Yields no address (false) for anything that names no
// host to probe: 0.0.0.0, ::, 255.255.255.255, a malformed literal (text with a colon is never
// looked up as a name), a zone that names no interface.
HostAddress ResolveHost(const char* host, FamilyChoice choice);

// The official name of the address, or nullptr when there is none; kAddressNone is never looked up.
const char* ResolveHostAddress(IpAddress address);
// The same for either family; no address is never looked up.
const char* ResolveHostAddress(const HostAddress& address);

// The dotted-decimal form of an address (what inet_ntoa gives).
const char* FormatAddress(IpAddress address);

// The lookups behind the operations above.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    // The first address of the family (Ipv4 or Ipv6) that the name has, in the resolver's order.
    virtual std::optional<HostAddress> lookUpName(const char* name, AddressFamily family) = 0;
    // The official name of the address.
    virtual std::optional<std::string> lookUpAddress(const HostAddress& address) = 0;
};

// Replaces the resolver for the whole process and yields the previous one; nullptr puts the
// system resolver back.
HostResolver* InstallHostResolver(HostResolver* resolver);

// gethostbyname2_r / getnameinfo, each run so that a raised probe interrupt returns at once.
HostResolver& SystemHostResolver();

} // namespace hopwise
