#include "probe/echo_permission.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hopwise {

namespace {

bool canOpen(int type)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
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
    return "ICMP sockets are not permitted for this user: allow them with sysctl "
           "net.ipv4.ping_group_range or grant cap_net_raw";
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
