#pragma once

// A resolver that answers from tables and counts its lookups, so no test ever asks the network.
// The tables are filled before the lookups start; the counts may be read at any time.

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "probe/resolver.h"

namespace hopwise::test {

class TableResolver final : public HostResolver {
public:
    // The name resolves to these addresses, in this order.
    void addName(const std::string& name, std::vector<IpAddress> addresses)
    {
        m_names[name] = std::move(addresses);
    }
    // The address has this official name.
    void addAddress(IpAddress address, const std::string& name) { m_addresses[address] = name; }

    std::optional<IpAddress> lookUpName(const char* name) override;
    std::optional<std::string> lookUpAddress(IpAddress address) override;

    int nameLookups() const { return m_nameLookups; }
    int addressLookups() const { return m_addressLookups; }

private:
    std::map<std::string, std::vector<IpAddress>> m_names;
    std::map<IpAddress, std::string> m_addresses;
    std::atomic<int> m_nameLookups{0};
    std::atomic<int> m_addressLookups{0};
};

class ScopedHostResolver {
public:
    explicit ScopedHostResolver(HostResolver& resolver) : m_previous(InstallHostResolver(&resolver))
    {
    }
    ~ScopedHostResolver() { InstallHostResolver(m_previous); }
    ScopedHostResolver(const ScopedHostResolver&) = delete;
    ScopedHostResolver& operator=(const ScopedHostResolver&) = delete;

private:
    HostResolver* m_previous;
};

} // namespace hopwise::test
