#pragma once

// Privilege in one narrow place. The programs never run setuid; an administrator who wants raw
// ICMP sockets for users outside net.ipv4.ping_group_range grants cap_net_raw as a permitted
// file capability. At start-up every other capability is dropped and cap_net_raw leaves the
// effective set; it is raised only on the thread that creates a raw socket, for that call.
//
// Capabilities are per thread on Linux, and new threads copy their creator's: restricting must
// happen in main() before any thread exists, so that every later thread starts without any
// effective capability.

#include <string>

namespace hopwise {

enum class PrivilegeOutcome {
    Restricted,    // at most cap_net_raw is left, permitted but not effective
    RefusedSetuid, // set-user-ID or set-group-ID: the program must not go on
    Failed,        // the kernel refused to change the sets; nothing is known to be dropped
};

PrivilegeOutcome RestrictPrivileges();

// What to tell a user for RefusedSetuid; names the program's own path.
std::string SetuidRefusalMessage(const std::string& programPath);

// Raises cap_net_raw into the calling thread's effective set for its lifetime when it is
// permitted and not already effective, and lowers it again.
class ScopedRawSocketPrivilege {
public:
    ScopedRawSocketPrivilege();
    ~ScopedRawSocketPrivilege();
    ScopedRawSocketPrivilege(const ScopedRawSocketPrivilege&) = delete;
    ScopedRawSocketPrivilege& operator=(const ScopedRawSocketPrivilege&) = delete;

private:
    bool m_raised = false;
};

} // namespace hopwise
