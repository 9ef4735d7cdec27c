#include "probe/resolver.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstring>

namespace hopwise {
namespace {

std::atomic<HostResolver*> g_installedResolver{nullptr};

HostResolver& currentResolver()
{
    HostResolver* resolver = g_installedResolver.load(std::memory_order_acquire);
    return resolver ? *resolver : SystemHostResolver();
}

// Digits and dots that inet_addr refused (255.255.255.255, 1.2.3.999): a mistyped address, which
// a name server asked for an IPv6 address would only be asked to make sense of.
bool looksNumeric(const char* text)
{
    for (const char* c = text; *c != '\0'; ++c) {
        if ((*c < '0' || *c > '9') && *c != '.') {
            return false;
        }
    }
    return true;
}

HostAddress usable(const std::optional<HostAddress>& address, AddressFamily family)
{
    if (!address || address->family() != family || address->isUnspecified()) {
        return {};
    }
    return *address;
}

} // namespace

IpAddress ResolveHostName(const char* host)
{
    // An empty text is what a host that was too long to store leaves behind: it names nothing,
    // and must not become a lookup of the empty name.
    if (!host || *host == '\0')
        return kAddressNone;

    const IpAddress parsed = inet_addr(host);
    if (parsed != kAddressNone)
        return parsed;

    const std::optional<HostAddress> found =
        currentResolver().lookUpName(host, AddressFamily::Ipv4);
    return found && found->isIpv4() ? found->toIpv4() : kAddressNone;
}

HostAddress ResolveHost(const char* host, FamilyChoice choice)
{
    if (!host || *host == '\0')
        return {};
    if (std::strchr(host, ':') != nullptr) {
        if (choice == FamilyChoice::Ipv4Only)
            return {};
        return usable(ParseIpv6Literal(host), AddressFamily::Ipv6);
    }
    if (choice == FamilyChoice::Ipv6Only) {
        if (inet_addr(host) != kAddressNone || looksNumeric(host))
            return {};
        return usable(currentResolver().lookUpName(host, AddressFamily::Ipv6), AddressFamily::Ipv6);
    }
    const IpAddress ipv4 = ResolveHostName(host);
    if (ipv4 != kAddressNone) {
        return ipv4 == 0 ? HostAddress{} : HostAddress::ipv4(ipv4);
    }
    if (choice == FamilyChoice::Ipv4Only || looksNumeric(host))
        return {};
    return usable(currentResolver().lookUpName(host, AddressFamily::Ipv6), AddressFamily::Ipv6);
}

const char* ResolveHostAddress(IpAddress address)
{
    if (address == kAddressNone)
        return nullptr;
    return ResolveHostAddress(HostAddress::ipv4(address));
}

const char* ResolveHostAddress(const HostAddress& address)
{
    if (!address || (address.isIpv4() && address.toIpv4() == kAddressNone))
        return nullptr;

    thread_local std::string t_name;
    std::optional<std::string> name = currentResolver().lookUpAddress(address);
    if (!name)
        return nullptr;
    t_name = std::move(*name);
    // Valid until this thread's next call, by contract: the worker hands it on synchronously.
    return t_name.c_str(); // NOLINT(clang-analyzer-cplusplus.InnerPointer)
}

const char* FormatAddress(IpAddress address)
{
    thread_local char t_dotted[INET_ADDRSTRLEN];
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, t_dotted, sizeof t_dotted);
    return t_dotted;
}

HostResolver* InstallHostResolver(HostResolver* resolver)
{
    return g_installedResolver.exchange(resolver, std::memory_order_acq_rel);
}

} // namespace hopwise
