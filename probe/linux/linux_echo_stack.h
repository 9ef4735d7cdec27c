#pragma once

// The real stack: ICMP echo over the kernel's ICMP sockets.

#include "probe/echo_permission.h"
#include "probe/echo_stack.h"

namespace hopwise {

class LinuxEchoStack final : public EchoStack {
public:
    // Datagram tries the datagram socket first and falls back to a raw one when it is refused;
    // Raw uses only the raw socket; None is not a valid choice.
    explicit LinuxEchoStack(IcmpSocketKind first = IcmpSocketKind::Datagram);

    std::uint32_t control(std::uint32_t protocol, std::uint32_t action, const void* request,
                          std::uint32_t* requestLength, void* reply,
                          std::uint32_t* replyLength) override;

    // Tries the kinds in the order a request would, opening and closing one socket of each.
    IcmpSocketKind permittedKind() override;

    // The socket kind the calling thread's last request went out on (None before any request,
    // or when no socket could be opened for it).
    IcmpSocketKind kindInUse() const;

private:
    IcmpSocketKind m_first;
};

// Each thread keeps its ICMP sockets between requests, and a socket belongs to the network
// namespace it was made in. Looking up the thread's namespace on every request would cost more
// than the echo itself, so a thread that moves to another namespace (setns, unshare) calls this
// afterwards and its next request opens sockets where it now is. A forked child needs no call:
// it checks on every request.
void DropThreadEchoSockets();

} // namespace hopwise
