#include "probe/echo_permission.h"

#include "probe/linux/privilege.h"

#include <netinet/in.h>

#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace hopwise {

namespace {

bool canOpen(int type)
{
    int fd = -1;
    if (type == SOCK_RAW) {
        const ScopedRawSocketPrivilege privilege;
        fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    } else {
        fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

} // namespace

IcmpSocketKind CheckEchoPermission()
{
    if (canOpen(SOCK_DGRAM)) {
        return IcmpSocketKind::Datagram;
    }
    if (canOpen(SOCK_RAW)) {
        return IcmpSocketKind::Raw;
    }
    return IcmpSocketKind::None;
}

const char* EchoPermissionHint()
{
    // Names the exact commands, with this very program's path for the capability.
    static const std::string hint = [] {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        return std::string("ICMP sockets are not permitted for this user: allow them with sysctl "
                           "net.ipv4.ping_group_range or grant cap_net_raw, for example\n"
                           "  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                           "  sudo setcap cap_net_raw+p ") +
               (error ? std::string("<program>") : self.string());
    }();
    return hint.c_str();
}

const char* IcmpSocketKindName(IcmpSocketKind kind)
{
    switch (kind) {
    case IcmpSocketKind::None:
        return "none";
    case IcmpSocketKind::Datagram:
        return "datagram";
    case IcmpSocketKind::Raw:
        return "raw";
    }
    return "none";
}

} // namespace hopwise
