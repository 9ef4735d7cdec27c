#include "probe/linux/privilege.h"

#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace hopwise {
namespace {

bool setRawEffective(bool on)
{
    cap_t caps = cap_get_proc();
    if (caps == nullptr) {
        return false;
    }
    const cap_value_t raw[] = {CAP_NET_RAW};
    bool done = cap_set_flag(caps, CAP_EFFECTIVE, 1, raw, on ? CAP_SET : CAP_CLEAR) == 0 &&
                cap_set_proc(caps) == 0;
    cap_free(caps);
    return done;
}

bool rawFlag(cap_flag_t which)
{
    cap_t caps = cap_get_proc();
    if (caps == nullptr) {
        return false;
    }
    cap_flag_value_t value = CAP_CLEAR;
    cap_get_flag(caps, CAP_NET_RAW, which, &value);
    cap_free(caps);
    return value == CAP_SET;
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

    const bool keepRaw = rawFlag(CAP_PERMITTED);
    cap_t caps = cap_init(); // every set empty
    if (caps == nullptr) {
        return PrivilegeOutcome::Failed;
    }
    const cap_value_t raw[] = {CAP_NET_RAW};
    if (keepRaw) {
        cap_set_flag(caps, CAP_PERMITTED, 1, raw, CAP_SET);
    }
    const bool done = cap_set_proc(caps) == 0;
    cap_free(caps);
    if (!done) {
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
    if (rawFlag(CAP_PERMITTED) && !rawFlag(CAP_EFFECTIVE)) {
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
