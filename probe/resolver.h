#pragma once

// Host name and address resolution. Texts yielded here live in storage of the calling thread and
// stay valid until that thread's next call of the same function.

#include <optional>
#include <string>

#include "probe/ip_address.h"

namespace hopwise {

// The dotted address when the text is one, else the first IPv4 address that the resolver gives
// for the name; kAddressNone when neither works. 0.0.0.0 yields 0 (callers treat it as failure).
IpAddress ResolveHostName(const char* host);

// The official name of the address, or nullptr when there is none; kAddressNone is never looked up.
const char* ResolveHostAddress(IpAddress address);

// The dotted-decimal form of an address (what inet_ntoa gives).
const char* FormatAddress(IpAddress address);

// The lookups behind the two operations above.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    // The first IPv4 address that the name has, in the resolver's order.
    virtual std::optional<IpAddress> lookUpName(const char* name) = 0;
    // The official name of the address.
    virtual std::optional<std::string> lookUpAddress(IpAddress address) = 0;
};

// Replaces the resolver for the whole process and yields the previous one; nullptr puts the
// system resolver back.
HostResolver* InstallHostResolver(HostResolver* resolver);

// gethostbyname2_r / getnameinfo, each run so that a raised probe interrupt returns at once.
HostResolver& SystemHostResolver();

} // namespace hopwise
