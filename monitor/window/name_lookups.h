#pragma once

// The monitor's names: responders' names and the host's address, looked up on a thread of
// their own so that a slow name server never holds up a row. The window asks and, on its timer,
// takes what has come back. The thread is detached: a lookup can't be cancelled, and one left
// over when the window goes finishes into state nobody reads any more.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "probe/host_address.h"

namespace hopwise {

class NameLookups {
public:
    NameLookups();
    ~NameLookups();
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // Asks for address's name once; later asks for it do nothing.
    void ask(const HostAddress& address);
    // Asks for host's address (a name, or an address taken as it is); replaces an earlier ask.
    void resolve(const std::string& host);
    // The names that came back since the last call.
    std::vector<std::pair<HostAddress, std::string>> takeNames();
    // The host's address once resolve has finished (no address: it can't be resolved).
    std::optional<HostAddress> takeResolved();

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::map<HostAddress, bool> m_asked;
};

} // namespace hopwise
