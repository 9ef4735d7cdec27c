#include "tests/support/table_resolver.h"

namespace hopwise::test {

void TableResolver::addName(const std::string& name, std::vector<IpAddress> addresses)
{
    std::lock_guard lock(m_mutex);
    m_names[name] = std::move(addresses);
}

void TableResolver::addAddress(IpAddress address, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    m_addresses[address] = name;
}

std::optional<IpAddress> TableResolver::lookUpName(const char* name)
{
    std::lock_guard lock(m_mutex);
    ++m_nameLookups;
    auto it = m_names.find(name);
    if (it == m_names.end() || it->second.empty())
        return std::nullopt;
    return it->second.front();
}

std::optional<std::string> TableResolver::lookUpAddress(IpAddress address)
{
    std::lock_guard lock(m_mutex);
    ++m_addressLookups;
    auto it = m_addresses.find(address);
    if (it == m_addresses.end())
        return std::nullopt;
    return it->second;
}

int TableResolver::nameLookups() const
{
    std::lock_guard lock(m_mutex);
    return m_nameLookups;
}

int TableResolver::addressLookups() const
{
    std::lock_guard lock(m_mutex);
    return m_addressLookups;
}

} // namespace hopwise::test
