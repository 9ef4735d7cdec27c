// The stack entry on the kernel's ICMP sockets: checks the call, then opens (or reuses) the
// thread's socket, sends the request and waits for its answer, each step in its own file.

#include "probe/linux/linux_echo_stack.h"

#include <cerrno>
#include <optional>

#include "probe/echo_status.h"
#include "probe/linux/icmp_socket.h"
#include "probe/linux/probe_interrupt.h"

namespace hopwise {

using namespace icmp_socket;

namespace {

constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;

} // namespace

LinuxEchoStack::LinuxEchoStack(IcmpSocketKind first)
    : m_first(first == IcmpSocketKind::Raw ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram)
{
}

void DropThreadEchoSockets()
{
    t_sockets.drop();
}

IcmpSocketKind LinuxEchoStack::kindInUse() const
{
    return t_sockets.kindInUse;
}

std::uint32_t LinuxEchoStack::control(std::uint32_t protocol, std::uint32_t action,
                                      const void* request, std::uint32_t* requestLength,
                                      void* reply, std::uint32_t* replyLength)
{
    if (protocol != kEchoProtocol || (action != kEchoAction && action != kEchoAction6)) {
        return kErrorNotSupported;
    }
    if (request == nullptr || requestLength == nullptr || reply == nullptr ||
        replyLength == nullptr) {
        return kErrorInvalidParameter;
    }
    if (*replyLength < kEchoReplySize) {
        return kErrorInsufficientBuffer;
    }
    const std::optional<EchoRequest> parsed = ParseEchoRequest(request, *requestLength, action);
    if (!parsed) {
        return kErrorInvalidParameter;
    }
    const EchoRequest& echo = *parsed;
    const std::int64_t deadline = monotonicNs() + std::int64_t{echo.timeout} * 1000000;
    const ProbeInterrupt* interrupt = CurrentProbeInterrupt();

    ThreadSockets& cache = t_sockets;
    IcmpSocketKind kind = IcmpSocketKind::None;
    CachedSocket* socket = nullptr;
    switch (acquireSocket(IcmpFamilyOf(echo.destination), m_first, kind, socket)) {
    case AcquireResult::Ready:
        break;
    case AcquireResult::Refused:
        WriteNoEchoReply(reply, *replyLength, kIpGeneralFailure);
        return kErrorAccessDenied;
    case AcquireResult::NoResources:
        WriteNoEchoReply(reply, *replyLength, kIpNoResources);
        return kErrorNotEnoughMemory;
    }

    if (interruptRaised(interrupt)) {
        WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
        return kErrorOperationAborted;
    }

    Exchange exchange{
        socket->fd, kind,  SentEcho{kind, cache.identifier, ++cache.sequence, echo.destination},
        timespec{}, reply, *replyLength};

    // TTL 0 can't leave a Linux host, and a request the stack refuses outright (no route, bad
    // options) gets no answer either: both wait out their time like any unanswered request, so
    // that a caller looping over them never spins.
    bool sent = false;
    bool tooBig = false;
    if (!(echo.hasOptions && echo.ttl == 0) && applyOptions(*socket, echo)) {
        if (!arrivalStampsTrusted(*socket)) {
            discardQueued(socket->fd, kind);
        }
        buildPacket(cache.packet, echo, kind, cache.identifier, exchange.sent.sequence);
        sent = sendPacket(socket->fd, kind, cache.packet, echo.destination, exchange.sentAt);
        // Larger than the path allows, and not to be fragmented: it never left. The record says
        // so, with the MTU it may have, as a router's fragmentation-needed report would.
        tooBig = !sent && errno == EMSGSIZE;
    }
    if (!sent) {
        const std::uint32_t mtu = tooBig ? localPathMtu(echo.destination) : 0;
        if (waitFor(-1, deadline, interrupt) == WaitResult::Interrupted) {
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return kErrorOperationAborted;
        }
        WriteNoEchoReply(reply, *replyLength, tooBig ? kIpPacketTooBig : kIpReqTimedOut);
        SetLastEchoMtu(mtu);
        return 0;
    }

    // On loopback the reply is usually queued before sendto returns: look before sleeping.
    for (;;) {
        if (drainQueued(exchange)) {
            return 0;
        }
        const WaitResult waited = waitFor(socket->fd, deadline, interrupt);
        if (waited == WaitResult::Interrupted) {
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return kErrorOperationAborted;
        }
        if (waited == WaitResult::Deadline) {
            // A reply that arrived together with the deadline still counts.
            if (drainQueued(exchange)) {
                return 0;
            }
            WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
            return 0;
        }
    }
}

} // namespace hopwise
