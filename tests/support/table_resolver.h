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
    // The name resolves to these addresses, in this order (of each family, the first counts).
    void addHost(const std::string& name, std::vector<HostAddress> addresses)
    {
        m_names[name] = std::move(addresses);
    }
    void addName(const std::string& name, const std::vector<IpAddress>& addresses);
    // The address has this official name.
    void addAddress(const HostAddress& address, const std::string& name)
    {
        m_addresses[address] = name;
    }
    void addAddress(IpAddress address, const std::string& name)
    {
        addAddress(HostAddress::ipv4(address), name);
    }

    std::optional<HostAddress> lookUpName(const char* name, AddressFamily family) override;
    std::optional<std::string> lookUpAddress(const HostAddress& address) override;

    int nameLookups() const { return m_nameLookups; }
    int addressLookups() const { return m_addressLookups; }

private:
    std::map<std::string, std::vector<HostAddress>> m_names;
    std::map<HostAddress, std::string> m_addresses;
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
