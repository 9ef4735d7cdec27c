// Many UDP or TCP probes of one flow in flight, behind EchoFlight: the same outcomes, waits and
// cuts as the ICMP flight, read from the flow's error queue and the probe sockets themselves.
//
// UDP: one connected socket, so one source port, for the whole flow; each probe carries its own
// number in its payload, which a router's report quotes back. A report that quotes no number of
// ours is taken only while exactly one probe is out (AttributeReport), otherwise dropped.
// TCP: a socket per probe, all bound to the flow's one source port; the kernel allows one socket
// per 4-tuple, so one probe is out at a time and the others queue here, each counting its wait
// from when it really left.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <limits>

#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "probe/linux/icmp_socket.h"
#include "probe/linux/probe_interrupt.h"
#include "probe/linux/probe_transport.h"

namespace hopwise::probe_transport {

namespace {

std::int64_t nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::uint32_t microsSince(const timespec& sentAt, const timespec& at)
{
    const std::int64_t elapsed = nanoseconds(at) - nanoseconds(sentAt);
    return elapsed <= 0
               ? 0u
               : static_cast<std::uint32_t>(std::min<std::int64_t>(elapsed / 1000, UINT32_MAX));
}

} // namespace

struct TransportFlight::State {
    struct Probe {
        std::uint32_t tag = 0;
        std::uint32_t number = 0; // the flight's own, in the UDP payload
        std::uint8_t ttl = 0;
        std::uint32_t timeoutMs = 0;
        std::uint32_t cutMs = std::numeric_limits<std::uint32_t>::max();
        std::int64_t sentNs = 0;
        std::int64_t deadlineNs = 0;
        timespec sentAt{};
        int fd = -1;       // TCP: the probe's own socket; UDP: the flow's
        bool left = false; // false: it never left and only waits out its time
    };

    const ProbeTransport& transport;
    ProbeFlow flow;
    int flowFd = -1; // UDP
    std::uint32_t nextNumber = 1;
    std::deque<Probe> queued; // TCP: behind the probe out
    std::vector<Probe> out;
    std::vector<EchoOutcome> ready;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(2048);

    explicit State(const ProbeMethod& method) : transport(TransportOf(method))
    {
        flow.method = method;
        flow.destinationPort = DestinationPort(method);
    }

    ~State()
    {
        for (const Probe& p : out) {
            closeProbe(p);
        }
        if (flowFd >= 0) {
            close(flowFd);
        }
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void closeProbe(const Probe& p) const
    {
        if (transport.socketPerProbe && p.fd >= 0) {
            CloseAbortively(p.fd);
        }
    }

    bool tcpOut() const
    {
        return std::any_of(out.begin(), out.end(), [](const Probe& p) { return p.fd >= 0; });
    }

    // Sends the probe now; it waits from here on.
    void launch(Probe probe)
    {
        probe.sentNs = icmp_socket::monotonicNs();
        probe.deadlineNs =
            probe.sentNs + std::int64_t{std::min(probe.timeoutMs, probe.cutMs)} * 1000000;
        int fd = transport.socketPerProbe ? transport.open(flow) : flowFd;
        if (fd >= 0 && probe.ttl != 0) {
            probe.left = transport.send(fd, flow, probe.ttl, probe.number, probe.sentAt);
            if (!probe.left && !transport.socketPerProbe) {
                // A report on an earlier probe fails the next send; read it, then try again.
                takeReports();
                probe.left = transport.send(fd, flow, probe.ttl, probe.number, probe.sentAt);
            }
        }
        if (transport.socketPerProbe && fd >= 0 && !probe.left) {
            CloseAbortively(fd);
            fd = -1;
        }
        probe.fd = probe.left ? fd : -1;
        out.push_back(probe);
    }

    void launchQueued()
    {
        while (!queued.empty() && !tcpOut()) {
            Probe next = queued.front();
            queued.pop_front();
            launch(next);
        }
    }

    void end(std::size_t index, std::uint32_t status, const HostAddress& responder,
             std::uint32_t roundTripUs, std::uint8_t ttl, const MplsLabels& mpls = {})
    {
        const Probe probe = out[index];
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(index));
        closeProbe(probe);
        EchoOutcome outcome;
        outcome.tag = probe.tag;
        outcome.count = 1;
        outcome.reply.address = responder.toIpv4();
        outcome.reply.status = status;
        outcome.reply.roundTripTime = roundTripUs / 1000;
        outcome.reply.options.ttl = ttl;
        outcome.roundTripUs = roundTripUs;
        outcome.responder = responder;
        outcome.mpls = mpls;
        ready.push_back(outcome);
    }

    std::vector<std::uint32_t> numbersOut(int fd) const
    {
        std::vector<std::uint32_t> numbers;
        for (const Probe& p : out) {
            if (p.left && p.fd == fd) {
                numbers.push_back(p.number);
            }
        }
        return numbers;
    }

    std::size_t indexOf(std::uint32_t number) const
    {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i].number == number) {
                return i;
            }
        }
        return out.size();
    }

    // Everything the socket's error queue holds, each report judged and given to its probe.
    void takeQueue(int fd)
    {
        QueuedReport queued;
        while (ReadErrorQueue(fd, buffer, queued)) {
            const std::vector<std::uint32_t> candidates = numbersOut(fd);
            const ProbeReportVerdict verdict = JudgeProbeReport(flow, queued.report);
            const std::optional<std::uint32_t> number = AttributeReport(verdict, candidates);
            if (!number) {
                continue;
            }
            const std::size_t index = indexOf(*number);
            timespec at = queued.stamp;
            if (!queued.haveStamp) {
                clock_gettime(CLOCK_REALTIME, &at);
            }
            end(index, verdict.status, queued.report.reporter, microsSince(out[index].sentAt, at),
                queued.ttl, queued.mpls);
        }
    }

    // The socket shows the destination's own answer (TCP's handshake, UDP data).
    void takeSocket(int fd)
    {
        const std::vector<std::uint32_t> candidates = numbersOut(fd);
        if (candidates.empty()) {
            return;
        }
        pollfd ready{fd, static_cast<short>(transport.pollEvents), 0};
        if (poll(&ready, 1, 0) <= 0) {
            return;
        }
        const std::optional<SocketAnswer> answer = transport.answered(fd);
        if (!answer || candidates.size() != 1) {
            if (transport.socketPerProbe && (ready.revents & (POLLERR | POLLHUP)) != 0 && !answer) {
                // A local error ended the handshake: nothing more comes; it waits out its time.
                const std::size_t index = indexOf(candidates.front());
                CloseAbortively(out[index].fd);
                out[index].fd = -1;
                out[index].left = false;
            }
            return;
        }
        const std::size_t index = indexOf(candidates.front());
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        end(index, answer->status, flow.destination,
            answer->roundTripUs.value_or(microsSince(out[index].sentAt, now)), 0);
    }

    void takeReports()
    {
        if (!transport.socketPerProbe) {
            if (flowFd >= 0) {
                takeQueue(flowFd);
                takeSocket(flowFd);
            }
            return;
        }
        std::vector<int> fds;
        for (const Probe& p : out) {
            if (p.fd >= 0) {
                fds.push_back(p.fd);
            }
        }
        for (const int fd : fds) {
            takeQueue(fd);
            takeSocket(fd);
        }
    }

    void expire(std::int64_t now)
    {
        for (std::size_t i = 0; i < out.size();) {
            if (out[i].deadlineNs > now) {
                ++i;
                continue;
            }
            closeProbe(out[i]);
            EchoOutcome outcome;
            outcome.tag = out[i].tag;
            WriteNoEchoReply(&outcome.reply, kEchoReplySize, kIpReqTimedOut);
            ready.push_back(outcome);
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    std::int64_t earliestDeadline() const
    {
        std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
        for (const Probe& p : out) {
            earliest = std::min(earliest, p.deadlineNs);
        }
        return earliest;
    }

    // Sleeps until a socket has something, the deadline passes or the interrupt fires.
    bool wait(std::int64_t deadlineNs, const ProbeInterrupt* interrupt)
    {
        std::vector<pollfd> fds;
        for (const Probe& p : out) {
            if (p.fd >= 0 && std::none_of(fds.begin(), fds.end(),
                                          [&p](const pollfd& f) { return f.fd == p.fd; })) {
                fds.push_back({p.fd, static_cast<short>(transport.pollEvents), 0});
            }
        }
        const int interruptFd = interrupt != nullptr ? interrupt->pollDescriptor() : -1;
        if (interruptFd >= 0) {
            fds.push_back({interruptFd, POLLIN, 0});
        }
        std::int64_t remaining = deadlineNs - icmp_socket::monotonicNs();
        if (remaining <= 0) {
            return true;
        }
        if (interrupt != nullptr && interruptFd < 0) {
            remaining = std::min<std::int64_t>(remaining, 50000000);
        }
        const timespec timeout{static_cast<time_t>(remaining / 1000000000),
                               static_cast<long>(remaining % 1000000000)};
        ppoll(fds.data(), fds.size(), &timeout, nullptr);
        return !icmp_socket::interruptRaised(interrupt);
    }
};

TransportFlight::TransportFlight(const ProbeMethod& method)
    : m_state(std::make_unique<State>(method))
{
}

TransportFlight::~TransportFlight() = default;

std::size_t TransportFlight::inFlight() const
{
    return m_state->out.size() + m_state->queued.size() + m_state->ready.size();
}

std::uint32_t TransportFlight::send(const EchoProbe& probe)
{
    State& state = *m_state;
    if (!(state.flow.destination == probe.destination)) {
        // A flight is one flow to one destination; a new one starts when nothing is out.
        if (!state.out.empty() || !state.queued.empty()) {
            return kErrorNotEnoughMemory;
        }
        if (state.flowFd >= 0) {
            close(state.flowFd);
            state.flowFd = -1;
        }
        state.flow.destination = probe.destination;
        state.flow.sourcePort = 0;
    }
    if (!state.transport.socketPerProbe && state.flowFd < 0) {
        state.flowFd = state.transport.open(state.flow);
        if (state.flowFd < 0) {
            return kErrorNotEnoughMemory;
        }
    }
    State::Probe p;
    p.tag = probe.tag;
    p.number = state.nextNumber++;
    p.ttl = probe.ttl;
    p.timeoutMs = probe.timeoutMs;
    if (state.transport.socketPerProbe && state.tcpOut()) {
        state.queued.push_back(p);
        return 0;
    }
    if (!state.transport.socketPerProbe && !state.out.empty()) {
        state.takeReports(); // a pending report would fail the send
    }
    state.launch(p);
    return 0;
}

TransportFlight::Collected TransportFlight::collect(std::vector<EchoOutcome>& ended,
                                                    std::int64_t untilNs, bool idleWaits)
{
    State& state = *m_state;
    const ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    for (;;) {
        if (icmp_socket::interruptRaised(interrupt)) {
            return Collected::Interrupted;
        }
        state.takeReports();
        const std::int64_t now = icmp_socket::monotonicNs();
        state.expire(now);
        state.launchQueued();
        if (!state.ready.empty()) {
            ended.insert(ended.end(), state.ready.begin(), state.ready.end());
            state.ready.clear();
            return Collected::Ended;
        }
        if (now >= untilNs) {
            return Collected::TimeReached;
        }
        if (state.out.empty() && state.queued.empty() && !idleWaits) {
            return Collected::Idle;
        }
        if (!state.wait(std::min(state.earliestDeadline(), untilNs), interrupt)) {
            return Collected::Interrupted;
        }
    }
}

bool TransportFlight::cutWait(std::uint32_t tag, std::uint32_t waitMs)
{
    State& state = *m_state;
    for (State::Probe& p : state.out) {
        if (p.tag == tag) {
            p.deadlineNs = std::min(p.deadlineNs, p.sentNs + std::int64_t{waitMs} * 1000000);
            return true;
        }
    }
    for (State::Probe& p : state.queued) {
        if (p.tag == tag) {
            p.cutMs = std::min(p.cutMs, waitMs); // from its real send
            return true;
        }
    }
    return false;
}

} // namespace hopwise::probe_transport
