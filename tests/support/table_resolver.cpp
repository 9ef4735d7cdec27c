#include "tests/support/table_resolver.h"

namespace hopwise::test {

void TableResolver::addName(const std::string& name, const std::vector<IpAddress>& addresses)
{
    std::vector<HostAddress> all;
    for (const IpAddress address : addresses)
        all.push_back(HostAddress::ipv4(address));
    addHost(name, std::move(all));
}

std::optional<HostAddress> TableResolver::lookUpName(const char* name, AddressFamily family)
{
    ++m_nameLookups;
    const auto it = m_names.find(name);
    if (it == m_names.end())
        return std::nullopt;
    for (const HostAddress& address : it->second) {
        if (address.family() == family)
            return address;
    }
    return std::nullopt;
}

std::optional<std::string> TableResolver::lookUpAddress(const HostAddress& address)
{
    ++m_addressLookups;
    const auto it = m_addresses.find(address);
    if (it == m_addresses.end())
        return std::nullopt;
    return it->second;
}

} // namespace hopwise::test
