#include "probe/resolver.h"

#include <arpa/inet.h>

#include <atomic>

namespace hopwise {
namespace {

std::atomic<HostResolver*> g_installedResolver{nullptr};

HostResolver& currentResolver()
{
    HostResolver* resolver = g_installedResolver.load(std::memory_order_acquire);
    return resolver ? *resolver : SystemHostResolver();
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

    return currentResolver().lookUpName(host).value_or(kAddressNone);
}

const char* ResolveHostAddress(IpAddress address)
{
    if (address == kAddressNone)
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
