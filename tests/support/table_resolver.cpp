#include "tests/support/table_resolver.h"

namespace hopwise::test {

std::optional<IpAddress> TableResolver::lookUpName(const char* name)
{
    ++m_nameLookups;
    const auto it = m_names.find(name);
    if (it == m_names.end() || it->second.empty())
        return std::nullopt;
    return it->second.front();
}

std::optional<std::string> TableResolver::lookUpAddress(IpAddress address)
{
    ++m_addressLookups;
    const auto it = m_addresses.find(address);
    if (it == m_addresses.end())
        return std::nullopt;
    return it->second;
}

} // namespace hopwise::test
