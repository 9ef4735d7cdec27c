#include "probe/host_address.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <charconv>
#include <cstring>
#include <string>

namespace hopwise {

HostAddress HostAddress::ipv4(IpAddress address)
{
    HostAddress result;
    result.m_family = AddressFamily::Ipv4;
    std::memcpy(result.m_bytes.data(), &address, sizeof address);
    return result;
}

HostAddress HostAddress::ipv6(std::span<const std::uint8_t, kIpv6AddressSize> bytes,
                              std::uint32_t scopeId)
{
    HostAddress result;
    result.m_family = AddressFamily::Ipv6;
    std::memcpy(result.m_bytes.data(), bytes.data(), kIpv6AddressSize);
    result.m_scopeId = scopeId;
    return result;
}

IpAddress HostAddress::toIpv4() const
{
    IpAddress address = 0;
    if (m_family == AddressFamily::Ipv4) {
        std::memcpy(&address, m_bytes.data(), sizeof address);
    }
    return address;
}

bool HostAddress::isUnspecified() const
{
    if (m_family == AddressFamily::Ipv4) {
        return toIpv4() == 0;
    }
    if (m_family == AddressFamily::Ipv6) {
        for (const std::uint8_t b : m_bytes) {
            if (b != 0) {
                return false;
            }
        }
        return true;
    }
    return false;
}

bool HostAddress::isLinkLocal() const
{
    return m_family == AddressFamily::Ipv6 && m_bytes[0] == 0xfe && (m_bytes[1] & 0xc0) == 0x80;
}

std::optional<HostAddress> ParseIpv6Literal(const char* text)
{
    if (text == nullptr) {
        return std::nullopt;
    }
    const char* percent = std::strchr(text, '%');
    const std::size_t addressLength =
        percent ? static_cast<std::size_t>(percent - text) : std::strlen(text);
    if (addressLength == 0 || addressLength >= INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    char address[INET6_ADDRSTRLEN];
    std::memcpy(address, text, addressLength);
    address[addressLength] = '\0';
    std::array<std::uint8_t, kIpv6AddressSize> bytes{};
    if (inet_pton(AF_INET6, address, bytes.data()) != 1) {
        return std::nullopt;
    }
    std::uint32_t scope = 0;
    if (percent != nullptr) {
        const char* zone = percent + 1;
        const std::size_t zoneLength = std::strlen(zone);
        if (zoneLength == 0 || zoneLength >= IF_NAMESIZE) {
            return std::nullopt;
        }
        // A number is an interface index, as in the kernel's own zone syntax; it must name one.
        const auto [end, error] = std::from_chars(zone, zone + zoneLength, scope);
        if (error == std::errc{} && end == zone + zoneLength) {
            char name[IF_NAMESIZE];
            if (scope == 0 || if_indextoname(scope, name) == nullptr) {
                return std::nullopt;
            }
        } else {
            scope = if_nametoindex(zone);
            if (scope == 0) {
                return std::nullopt;
            }
        }
    }
    return HostAddress::ipv6(bytes, scope);
}

const char* FormatAddress(const HostAddress& address)
{
    thread_local char t_text[kAddressTextSize];
    t_text[0] = '\0';
    if (address.isIpv4()) {
        inet_ntop(AF_INET, address.bytes().data(), t_text, sizeof t_text);
    } else if (address.isIpv6()) {
        inet_ntop(AF_INET6, address.bytes().data(), t_text, sizeof t_text);
        if (address.scopeId() != 0) {
            const std::size_t length = std::strlen(t_text);
            char name[IF_NAMESIZE];
            const std::string zone = if_indextoname(address.scopeId(), name) != nullptr
                                         ? std::string(name)
                                         : std::to_string(address.scopeId());
            std::snprintf(t_text + length, sizeof t_text - length, "%%%s", zone.c_str());
        }
    }
    return t_text;
}

} // namespace hopwise
