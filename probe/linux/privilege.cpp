#include "probe/linux/privilege.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace hopwise {
namespace {

// The calling thread's capability sets, through the kernel's own interface: the one bit this
// program cares about doesn't call for a library to be loaded at every start.
struct CapabilitySets {
    __user_cap_data_struct words[_LINUX_CAPABILITY_U32S_3]{};
};

static_assert(CAP_NET_RAW < 32, "CAP_NET_RAW lives in the first word of each set");
constexpr std::uint32_t kRawBit = std::uint32_t{1} << CAP_NET_RAW;

bool readSets(CapabilitySets& sets)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, sets.words) == 0;
}

bool writeSets(const CapabilitySets& sets)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, sets.words) == 0;
}

bool setRawEffective(bool on)
{
    CapabilitySets sets;
    if (!readSets(sets)) {
        return false;
    }
    sets.words[0].effective =
        on ? (sets.words[0].effective | kRawBit) : (sets.words[0].effective & ~kRawBit);
    return writeSets(sets);
}

enum class Set { Permitted, Effective };

bool rawFlag(Set which)
{
    CapabilitySets sets;
    if (!readSets(sets)) {
        return false;
    }
    const std::uint32_t word =
        which == Set::Permitted ? sets.words[0].permitted : sets.words[0].effective;
    return (word & kRawBit) != 0;
}

} // namespace

PrivilegeOutcome RestrictPrivileges()
{
    // A set-ID program would run with someone else's identity on behalf of whoever starts it;
    // nothing here needs that, and the probing would be the user's to abuse.
    if (getuid() != geteuid() || getgid() != getegid()) {
        return PrivilegeOutcome::RefusedSetuid;
    }

    // Ambient capabilities would survive into anything the process started.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);

    CapabilitySets sets;
    if (!readSets(sets)) {
        return PrivilegeOutcome::Failed;
    }
    const bool keepRaw = (sets.words[0].permitted & kRawBit) != 0;
    CapabilitySets kept; // every set empty
    if (keepRaw) {
        kept.words[0].permitted = kRawBit;
    }
    if (!writeSets(kept)) {
        return PrivilegeOutcome::Failed;
    }
    // Nothing this process could start may gain privileges it does not have.
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    return PrivilegeOutcome::Restricted;
}

std::string SetuidRefusalMessage(const std::string& programPath)
{
    return programPath +
           " must not run set-user-ID or set-group-ID. Remove the bit (chmod u-s,g-s " +
           programPath +
           ") and, if raw ICMP sockets are wanted, grant the one capability "
           "instead: sudo setcap cap_net_raw+p " +
           programPath;
}

ScopedRawSocketPrivilege::ScopedRawSocketPrivilege()
{
    if (rawFlag(Set::Permitted) && !rawFlag(Set::Effective)) {
        m_raised = setRawEffective(true);
    }
}

ScopedRawSocketPrivilege::~ScopedRawSocketPrivilege()
{
    if (m_raised) {
        setRawEffective(false);
    }
}

} // namespace hopwise
