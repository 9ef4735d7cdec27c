// Opening a thread's ICMP sockets: the datagram socket first, a raw one when that is refused,
// kept per thread and per network namespace, with the kernel filters a raw socket needs; and the
// permission check, which tries the same sockets without keeping them.

#include "probe/linux/icmp_socket.h"

#include <net/if.h>
#include <netinet/in.h>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "probe/linux/linux_echo_stack.h"
#include "probe/linux/privilege.h"

namespace hopwise::icmp_socket {

namespace {

// Set in a forked child, where sockets inherited from the parent may belong elsewhere.
std::atomic<bool> g_forked{false};

void markForked()
{
    g_forked.store(true, std::memory_order_relaxed);
}

[[maybe_unused]] const int g_forkWatch = pthread_atfork(nullptr, nullptr, markForked);

bool isRefusal(int error)
{
    return error == EACCES || error == EPERM || error == EPROTONOSUPPORT || error == EAFNOSUPPORT ||
           error == ESOCKTNOSUPPORT;
}

// An ICMP socket of the kind with nothing set on it yet.
int openBare(const IcmpFamily& family, IcmpSocketKind kind)
{
    const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    int fd = -1;
    int socketError = 0;
    {
        // cap_net_raw, where granted, is effective for this one call only.
        std::optional<ScopedRawSocketPrivilege> privilege;
        if (kind == IcmpSocketKind::Raw) {
            privilege.emplace();
        }
        fd = socket(family.domain, type | SOCK_CLOEXEC, family.protocol);
        socketError = errno;
    }
    if (fd < 0) {
        errno = socketError; // the caller tells a refusal from a shortage by it
    }
    return fd;
}

bool canOpen(const IcmpFamily& family, IcmpSocketKind kind)
{
    const int fd = openBare(family, kind);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

int openIcmpSocket(const IcmpFamily& family, IcmpSocketKind kind, std::uint16_t identifier)
{
    const int fd = openBare(family, kind);
    if (fd < 0) {
        return -1;
    }
    // Round trips come from the kernel's receive stamp, not from when we got round to reading.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    family.configure(fd, kind, identifier);
    return fd;
}

} // namespace

thread_local ThreadSockets t_sockets;

void CachedSocket::reset()
{
    if (fd >= 0) {
        close(fd);
    }
    *this = CachedSocket{};
}

// A raw socket's identifier is the low 16 bits of the thread id, which keeps the threads of one
// process (and pingers keyed by pid) apart; two thread ids 65536 apart do share one, and then
// only the sequence tells their replies apart.
ThreadSockets::ThreadSockets() : tid(static_cast<pid_t>(syscall(SYS_gettid)))
{
    identifier = static_cast<std::uint16_t>(tid);
}

void FamilySockets::drop()
{
    datagram.reset();
    raw.reset();
    datagramRefused = false;
    rawRefused = false;
}

CachedSocket* ThreadSockets::owning(int fd)
{
    for (CachedSocket* socket : {&ipv4.datagram, &ipv4.raw, &ipv6.datagram, &ipv6.raw}) {
        if (socket->fd == fd) {
            return socket;
        }
    }
    return nullptr;
}

void ThreadSockets::drop()
{
    ipv4.drop();
    ipv6.drop();
    keyKnown = false;
}

void ThreadSockets::checkNamespace()
{
    if (keyKnown && !g_forked.load(std::memory_order_relaxed)) {
        return;
    }
    const auto nowTid = static_cast<pid_t>(syscall(SYS_gettid));
    if (nowTid != tid) {
        // A forked child must not answer to its parent's identifier.
        drop();
        tid = nowTid;
        identifier = static_cast<std::uint16_t>(tid);
    }
    struct stat ns {};
    if (stat("/proc/thread-self/ns/net", &ns) != 0) {
        keyKnown = true; // no /proc: nothing to compare against
        return;
    }
    if (keyKnown && ns.st_dev == netnsDevice && ns.st_ino == netnsInode) {
        return;
    }
    drop();
    keyKnown = true;
    netnsDevice = ns.st_dev;
    netnsInode = ns.st_ino;
}

namespace {

// A whole datagram of any size the kernel may hand over.
constexpr std::size_t kReceiveSize = 65536;

AcquireResult openFirstPermitted(const IcmpFamily& family, IcmpSocketKind first,
                                 IcmpSocketKind& kind, CachedSocket*& socket)
{
    ThreadSockets& threadCache = t_sockets;
    FamilySockets& cache = threadCache.of(family);
    const IcmpSocketKind order[2] = {first, IcmpSocketKind::Raw};
    const int tries = first == IcmpSocketKind::Raw ? 1 : 2;
    for (int i = 0; i < tries; ++i) {
        const bool datagram = order[i] == IcmpSocketKind::Datagram;
        CachedSocket& candidate = datagram ? cache.datagram : cache.raw;
        bool& refused = datagram ? cache.datagramRefused : cache.rawRefused;
        if (candidate.fd < 0 && !refused) {
            candidate.fd = openIcmpSocket(family, order[i], threadCache.identifier);
            if (candidate.fd < 0) {
                if (!isRefusal(errno)) {
                    return AcquireResult::NoResources;
                }
                refused = true;
            }
        }
        if (candidate.fd >= 0) {
            kind = order[i];
            socket = &candidate;
            return AcquireResult::Ready;
        }
    }
    return AcquireResult::Refused;
}

} // namespace

AcquireResult acquireSocket(const IcmpFamily& family, IcmpSocketKind first, IcmpSocketKind& kind,
                            CachedSocket*& socket)
{
    ThreadSockets& cache = t_sockets;
    cache.checkNamespace();
    const EchoSocketSettings& settings = GetEchoSocketSettings();
    if (settings.interface != cache.interface || settings.source != cache.source) {
        cache.ipv4.drop();
        cache.ipv6.drop();
        cache.interface = settings.interface;
        cache.source = settings.source;
    }
    if (cache.receive.size() != kReceiveSize) {
        cache.receive.resize(kReceiveSize);
    }
    kind = IcmpSocketKind::None;
    const AcquireResult result = openFirstPermitted(family, first, kind, socket);
    cache.kindInUse = result == AcquireResult::Ready ? kind : IcmpSocketKind::None;
    return result;
}

} // namespace hopwise::icmp_socket

namespace hopwise {

IcmpSocketKind LinuxEchoStack::permittedKind()
{
    // The IPv4 sockets answer for both families: one sysctl and one capability govern both.
    using icmp_socket::kIcmpIpv4;
    if (m_first == IcmpSocketKind::Datagram &&
        icmp_socket::canOpen(kIcmpIpv4, IcmpSocketKind::Datagram)) {
        return IcmpSocketKind::Datagram;
    }
    if (icmp_socket::canOpen(kIcmpIpv4, IcmpSocketKind::Raw)) {
        return IcmpSocketKind::Raw;
    }
    return IcmpSocketKind::None;
}

EchoSocketProblem CheckEchoSocketSettings(const EchoSocketSettings& settings)
{
    if (!settings.interface.empty() && if_nametoindex(settings.interface.c_str()) == 0) {
        return EchoSocketProblem::NoSuchInterface;
    }
    if (!settings.source) {
        return EchoSocketProblem::None;
    }
    // Binding a UDP socket asks the kernel whether the address is one of this system's; nothing
    // is sent, and no privilege is needed.
    const int fd =
        socket(settings.source.isIpv6() ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage local{};
    const socklen_t length = icmp_socket::ToSocketAddress(settings.source, local);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return bound ? EchoSocketProblem::None : EchoSocketProblem::NotLocalAddress;
}

const char* EchoPermissionHint()
{
    // Names the exact commands, with this very program's path for the capability.
    static const std::string hint = [] {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        return std::string("ICMP sockets are not permitted for this user: allow them with sysctl "
                           "net.ipv4.ping_group_range (it governs ICMPv6 too) or grant "
                           "cap_net_raw, for example\n"
                           "  sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                           "  sudo setcap cap_net_raw+p ") +
               (error ? std::string("<program>") : self.string());
    }();
    return hint.c_str();
}

} // namespace hopwise
