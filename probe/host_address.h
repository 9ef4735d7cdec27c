#pragma once

// An address of either family, for everything that carries a destination or a responder through
// the engine, the workers and the front ends. The 32-bit IpAddress stays where a record or call
// is IPv4 by design (SendEcho, EchoReply, ResolveHostName); HostAddress wraps it losslessly.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>

#include "probe/ip_address.h"

namespace hopwise {

enum class AddressFamily : std::uint8_t { None = 0, Ipv4 = 4, Ipv6 = 6 };

inline constexpr std::size_t kIpv6AddressSize = 16;

// Longest text FormatAddress can yield: an IPv6 address in its longest form (45), '%' and an
// interface name (15), the terminator.
inline constexpr std::size_t kAddressTextSize = 64;

class HostAddress {
public:
    constexpr HostAddress() = default;

    static HostAddress ipv4(IpAddress address);
    // The 16 bytes in network order; the zone (an interface index) matters only for link-local
    // and multicast addresses, and is 0 for every other.
    static HostAddress ipv6(std::span<const std::uint8_t, kIpv6AddressSize> bytes,
                            std::uint32_t scopeId = 0);

    AddressFamily family() const { return m_family; }
    bool isIpv4() const { return m_family == AddressFamily::Ipv4; }
    bool isIpv6() const { return m_family == AddressFamily::Ipv6; }
    // False for the default-made value, the "no address" of every function that yields one.
    explicit operator bool() const { return m_family != AddressFamily::None; }

    // The IPv4 value in network order; 0 for any other family.
    IpAddress toIpv4() const;
    // IPv6: all 16 bytes; IPv4: the 4 bytes of the value first, the rest zero.
    const std::array<std::uint8_t, kIpv6AddressSize>& bytes() const { return m_bytes; }
    std::uint32_t scopeId() const { return m_scopeId; }

    // 0.0.0.0 or ::, which name no host to probe.
    bool isUnspecified() const;
    // fe80::/10: the zone is part of the address.
    bool isLinkLocal() const;

    friend bool operator==(const HostAddress&, const HostAddress&) = default;
    // clang-tidy takes the defaulted operator's own comparison of its result with 0 for a null
    // pointer constant, wherever a map of addresses instantiates it.
    friend auto operator<=>(const HostAddress&,
                            const HostAddress&) = default; // NOLINT(modernize-use-nullptr)

private:
    AddressFamily m_family = AddressFamily::None;
    std::array<std::uint8_t, kIpv6AddressSize> m_bytes{};
    std::uint32_t m_scopeId = 0;
};

// An IPv6 literal as people type it, with an optional zone: "2001:db8::1", "::1",
// "fe80::1%eth0" or "fe80::1%2". Empty for anything else, a zone that names no interface
// included; never looks anything up beyond the interface name.
std::optional<HostAddress> ParseIpv6Literal(const char* text);

// The text form: dotted for IPv4 (what inet_ntoa gives), RFC 5952 for IPv6 with "%zone" (the
// interface's name, or its number when it has none). Lives in storage of the calling thread until
// that thread's next call.
const char* FormatAddress(const HostAddress& address);

} // namespace hopwise
