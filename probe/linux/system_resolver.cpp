#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "probe/linux/probe_interrupt.h"
#include "probe/resolver.h"

namespace hopwise {
namespace {

// gethostbyname2_r rather than getaddrinfo: getaddrinfo sorts a host's addresses by RFC 6724
// (with IPv6 configured it puts an address on one of this machine's own subnets first), while
// the first address is meant to be the first one the hosts file or the name server gives. The
// NSS lookup behind gethostbyname2_r keeps that order and is thread-safe in its _r form.
std::optional<HostAddress> lookUpNameNow(const std::string& name, AddressFamily family)
{
    const int af = family == AddressFamily::Ipv6 ? AF_INET6 : AF_INET;
    const std::size_t size = family == AddressFamily::Ipv6 ? sizeof(in6_addr) : sizeof(in_addr);
    constexpr std::size_t kMaxBuffer = std::size_t{1} << 20;
    std::vector<char> buffer(1024);
    for (;;) {
        hostent entry{};
        hostent* result = nullptr;
        int error = 0;
        const int status = gethostbyname2_r(name.c_str(), af, &entry, buffer.data(), buffer.size(),
                                            &result, &error);
        if (status == ERANGE && buffer.size() < kMaxBuffer) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (status != 0 || result == nullptr || result->h_addrtype != af ||
            static_cast<std::size_t>(result->h_length) != size || result->h_addr_list[0] == nullptr)
            return std::nullopt;
        if (af == AF_INET) {
            in_addr first{};
            std::memcpy(&first, result->h_addr_list[0], sizeof first);
            return HostAddress::ipv4(first.s_addr);
        }
        std::array<std::uint8_t, kIpv6AddressSize> first{};
        std::memcpy(first.data(), result->h_addr_list[0], first.size());
        return HostAddress::ipv6(first);
    }
}

std::optional<std::string> lookUpAddressNow(const HostAddress& address)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.isIpv4()) {
        auto& in = reinterpret_cast<sockaddr_in&>(storage);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = address.toIpv4();
        length = sizeof in;
    } else {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_addr, address.bytes().data(), sizeof in6.sin6_addr);
        in6.sin6_scope_id = address.scopeId();
        length = sizeof in6;
    }
    char host[NI_MAXHOST];
    // NI_NAMEREQD: an address without a name has no name, not its own text form.
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return std::string(host);
}

// A lookup that the thread's probe interrupt can abandon. The C library's lookups can't be
// cancelled, so the lookup runs on a helper thread of its own; when the interrupt is raised the
// caller returns at once and the helper finishes in the background, holding the shared state.
template <typename Result, typename Lookup> Result lookUpInterruptibly(Lookup lookup)
{
    ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    if (!interrupt)
        return lookup();
    if (interrupt->raised())
        return Result{};

    struct Shared {
        std::mutex mutex;
        Result result{};
        int doneFd = -1;
        ~Shared()
        {
            if (doneFd >= 0)
                close(doneFd);
        }
    };
    auto shared = std::make_shared<Shared>();
    shared->doneFd = eventfd(0, EFD_CLOEXEC);
    if (shared->doneFd < 0)
        return lookup();

    try {
        std::thread([shared, lookup]() mutable {
            Result result = lookup();
            std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(shared->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return lookup();
    }

    pollfd fds[2] = {{shared->doneFd, POLLIN, 0}, {interrupt->pollDescriptor(), POLLIN, 0}};
    const nfds_t count = interrupt->pollDescriptor() >= 0 ? 2 : 1;
    for (;;) {
        const int ready = poll(fds, count, count == 2 ? -1 : 50);
        if (ready < 0 && errno != EINTR)
            return Result{};
        if (fds[0].revents & POLLIN) {
            std::lock_guard lock(shared->mutex);
            return std::move(shared->result);
        }
        if (interrupt->raised())
            return Result{};
    }
}

class SystemResolver final : public HostResolver {
public:
    std::optional<HostAddress> lookUpName(const char* name, AddressFamily family) override
    {
        std::string copy(name);
        return lookUpInterruptibly<std::optional<HostAddress>>(
            [copy, family] { return lookUpNameNow(copy, family); });
    }

    std::optional<std::string> lookUpAddress(const HostAddress& address) override
    {
        return lookUpInterruptibly<std::optional<std::string>>(
            [address] { return lookUpAddressNow(address); });
    }
};

} // namespace

HostResolver& SystemHostResolver()
{
    static SystemResolver resolver;
    return resolver;
}

} // namespace hopwise
