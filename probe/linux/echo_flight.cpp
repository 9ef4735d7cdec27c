// Many echo requests on the thread's socket at once: sending each as a lone request would, and
// reading answers with the same code, which judges each packet against every request in flight.

#include "probe/echo_flight.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "probe/linux/icmp_socket.h"
#include "probe/linux/probe_interrupt.h"
#include "probe/linux/probe_transport.h"

namespace hopwise {

using namespace icmp_socket;

namespace {

// The data word that keeps the flight's checksum: the sequence word and it always add up to
// 0xffff, so the one's complement sum over the message is the same whatever the sequence.
constexpr std::size_t kFlowBytes = 2;

std::size_t echoDataSize(const IcmpFamily& family, std::uint16_t packetSize)
{
    const std::size_t headers = family.ipHeaderSize + kIcmpHeaderSize;
    return std::max(kFlowBytes, packetSize > headers ? packetSize - headers : 0);
}

void fillFlowData(std::vector<std::uint8_t>& data, std::size_t size, std::uint16_t sequence)
{
    data.assign(size, 0);
    const auto flow = static_cast<std::uint16_t>(~sequence);
    data[0] = static_cast<std::uint8_t>(flow >> 8);
    data[1] = static_cast<std::uint8_t>(flow);
}

} // namespace

struct EchoFlight::State {
    // A record per probe, at a fixed address: an Exchange points at it while the vectors move.
    struct Pending {
        std::uint32_t tag = 0;
        std::int64_t sentNs = 0;
        std::int64_t deadlineNs = 0;
        EchoReply reply{};
    };

    // Sent probes, matched against what comes in; exchanges[i] belongs to sent[i].
    std::vector<Exchange> exchanges;
    std::vector<std::unique_ptr<Pending>> sent;
    // Probes that never left (TTL 0, a send the kernel refused): they only wait out their time.
    std::vector<std::unique_ptr<Pending>> unsent;
    // Answers read while sending, handed out by the next collect.
    std::vector<EchoOutcome> ready;
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::None;
    std::vector<std::uint8_t> data; // the request's data, built per send
    // A UDP or TCP flight: everything goes there.
    std::unique_ptr<probe_transport::TransportFlight> transport;

    void answered(const Answer& answer)
    {
        const Exchange& exchange = exchanges[answer.index];
        EchoOutcome outcome;
        outcome.tag = sent[answer.index]->tag;
        outcome.count = 1;
        std::memcpy(&outcome.reply, exchange.reply, sizeof outcome.reply);
        outcome.reply.reserved = 0;
        outcome.roundTripUs = answer.roundTripMicros;
        outcome.responder = GetLastEchoResponder();
        outcome.mtu = GetLastEchoMtu();
        outcome.mpls = GetLastEchoMplsLabels();
        ready.push_back(outcome);
        exchanges.erase(exchanges.begin() + static_cast<std::ptrdiff_t>(answer.index));
        sent.erase(sent.begin() + static_cast<std::ptrdiff_t>(answer.index));
    }

    // Everything queued now that answers a probe in flight.
    void takeAnswers()
    {
        while (!exchanges.empty()) {
            const std::optional<Answer> answer = takeAnswer(fd, kind, exchanges);
            if (!answer) {
                return;
            }
            answered(*answer);
        }
    }

    static void expire(std::vector<std::unique_ptr<Pending>>& pending, std::int64_t now,
                       std::vector<EchoOutcome>& out, std::vector<Exchange>* exchanges)
    {
        for (std::size_t i = 0; i < pending.size();) {
            if (pending[i]->deadlineNs > now) {
                ++i;
                continue;
            }
            EchoOutcome outcome;
            outcome.tag = pending[i]->tag;
            WriteNoEchoReply(&outcome.reply, kEchoReplySize, kIpReqTimedOut);
            out.push_back(outcome);
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            if (exchanges != nullptr) {
                exchanges->erase(exchanges->begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    enum class Collected { Ended, TimeReached, Idle, Interrupted };

    Collected collect(std::vector<EchoOutcome>& ended, std::int64_t untilNs, bool idleWaits)
    {
        const ProbeInterrupt* interrupt = CurrentProbeInterrupt();
        for (;;) {
            if (interruptRaised(interrupt)) {
                return Collected::Interrupted;
            }
            takeAnswers();
            const std::int64_t now = monotonicNs();
            expire(sent, now, ready, &exchanges);
            expire(unsent, now, ready, nullptr);
            if (!ready.empty()) {
                ended.insert(ended.end(), ready.begin(), ready.end());
                ready.clear();
                return Collected::Ended;
            }
            if (now >= untilNs) {
                return Collected::TimeReached;
            }
            if (sent.empty() && unsent.empty() && !idleWaits) {
                return Collected::Idle;
            }
            const int wake = exchanges.empty() ? -1 : fd;
            if (waitFor(wake, std::min(earliestDeadline(), untilNs), interrupt) ==
                WaitResult::Interrupted) {
                return Collected::Interrupted;
            }
        }
    }

    std::int64_t earliestDeadline() const
    {
        std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
        for (const auto& p : sent) {
            earliest = std::min(earliest, p->deadlineNs);
        }
        for (const auto& p : unsent) {
            earliest = std::min(earliest, p->deadlineNs);
        }
        return earliest;
    }
};

EchoFlight::EchoFlight(const ProbeMethod& method) : m_state(std::make_unique<State>())
{
    if (method.protocol != ProbeProtocol::IcmpEcho && SystemEchoStackInUse()) {
        m_state->transport = std::make_unique<probe_transport::TransportFlight>(method);
    }
}

EchoFlight::~EchoFlight() = default;

std::size_t EchoFlight::inFlight() const
{
    if (m_state->transport) {
        return m_state->transport->inFlight();
    }
    return m_state->sent.size() + m_state->unsent.size() + m_state->ready.size();
}

std::uint32_t EchoFlight::send(const EchoProbe& probe)
{
    State& state = *m_state;
    if (state.transport) {
        return state.transport->send(probe);
    }
    if (!SystemEchoStackInUse()) {
        EchoOptions options;
        options.ttl = probe.ttl;
        EchoOutcome outcome;
        outcome.tag = probe.tag;
        const std::size_t size =
            probe.packetSize != 0 ? echoDataSize(IcmpFamilyOf(probe.destination), probe.packetSize)
                                  : 0;
        state.data.assign(size, 0);
        outcome.count =
            SendEchoTo(OpenEchoHandle(), probe.destination, size != 0 ? state.data.data() : nullptr,
                       static_cast<std::uint16_t>(size), &options, &outcome.reply, kEchoReplySize,
                       probe.timeoutMs);
        if (outcome.count == 0 && GetLastEchoError() == kErrorAccessDenied) {
            return kErrorAccessDenied;
        }
        outcome.roundTripUs = GetLastEchoRoundTripMicros();
        outcome.responder = GetLastEchoResponder();
        outcome.mtu = GetLastEchoMtu();
        outcome.mpls = GetLastEchoMplsLabels();
        state.ready.push_back(outcome);
        return 0;
    }
    ThreadSockets& cache = t_sockets;
    IcmpSocketKind kind = IcmpSocketKind::None;
    CachedSocket* socket = nullptr;
    switch (
        acquireSocket(IcmpFamilyOf(probe.destination), IcmpSocketKind::Datagram, kind, socket)) {
    case AcquireResult::Ready:
        break;
    case AcquireResult::Refused:
        return kErrorAccessDenied;
    case AcquireResult::NoResources:
        return kErrorNotEnoughMemory;
    }
    if (state.fd != socket->fd) {
        state.fd = socket->fd;
        state.kind = kind;
    }

    auto pending = std::make_unique<State::Pending>();
    pending->tag = probe.tag;
    pending->sentNs = monotonicNs();
    pending->deadlineNs = pending->sentNs + std::int64_t{probe.timeoutMs} * 1000000;

    EchoRequest request;
    request.destination = probe.destination;
    request.timeout = probe.timeoutMs;
    request.hasOptions = true;
    request.ttl = probe.ttl;
    Exchange exchange{state.fd,
                      kind,
                      SentEcho{kind, cache.identifier, ++cache.sequence, probe.destination},
                      timespec{},
                      &pending->reply,
                      kEchoReplySize};

    bool sent = false;
    if (probe.ttl != 0 && applyOptions(*socket, request)) {
        if (state.sent.empty()) {
            // Nothing of ours is in flight: whatever waits in the socket answers nothing.
            if (!arrivalStampsTrusted(*socket)) {
                discardQueued(state.fd, kind);
            }
        } else {
            // A datagram socket fails a send while a report waits; those reports are ours.
            state.takeAnswers();
        }
        fillFlowData(state.data, echoDataSize(IcmpFamilyOf(probe.destination), probe.packetSize),
                     exchange.sent.sequence);
        request.data = state.data;
        buildPacket(cache.packet, request, kind, cache.identifier, exchange.sent.sequence);
        sent = sendPacket(state.fd, kind, cache.packet, probe.destination, exchange.sentAt,
                          [&state] { state.takeAnswers(); });
        if (!sent && errno == EMSGSIZE) {
            const std::uint32_t mtu = localPathMtu(probe.destination);
            if (mtu < IcmpFamilyOf(probe.destination).ipHeaderSize + cache.packet.size()) {
                // Larger than the route allows, and not to be fragmented: it ends now, with the
                // MTU it may have, as a router's report would end it.
                EchoOutcome outcome;
                outcome.tag = probe.tag;
                WriteNoEchoReply(&outcome.reply, kEchoReplySize, kIpPacketTooBig);
                outcome.mtu = mtu;
                state.ready.push_back(outcome);
                return 0;
            }
            // It fits: the error was a router's report on an earlier probe, left pending on a raw
            // socket (the kernel's sk_err), which failed this send in its place.
            sent = sendPacket(state.fd, kind, cache.packet, probe.destination, exchange.sentAt,
                              [&state] { state.takeAnswers(); });
        }
    }
    if (sent) {
        state.exchanges.push_back(exchange);
        state.sent.push_back(std::move(pending));
    } else {
        state.unsent.push_back(std::move(pending));
    }
    return 0;
}

std::uint32_t EchoRouteMtu(const HostAddress& destination)
{
    return SystemEchoStackInUse() ? localPathMtu(destination) : 0;
}

bool EchoFlight::collect(std::vector<EchoOutcome>& ended)
{
    if (m_state->transport) {
        return m_state->transport->collect(ended, std::numeric_limits<std::int64_t>::max(),
                                           false) ==
               probe_transport::TransportFlight::Collected::Ended;
    }
    return m_state->collect(ended, std::numeric_limits<std::int64_t>::max(), false) ==
           State::Collected::Ended;
}

bool EchoFlight::collectUntil(std::vector<EchoOutcome>& ended,
                              std::chrono::steady_clock::time_point until)
{
    // The steady clock is CLOCK_MONOTONIC, the clock of the deadlines.
    const std::int64_t untilNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
    if (m_state->transport) {
        return m_state->transport->collect(ended, untilNs, true) !=
               probe_transport::TransportFlight::Collected::Interrupted;
    }
    return m_state->collect(ended, untilNs, true) != State::Collected::Interrupted;
}

bool EchoFlight::cutWait(std::uint32_t tag, std::uint32_t waitMs)
{
    State& state = *m_state;
    if (state.transport) {
        return state.transport->cutWait(tag, waitMs);
    }
    for (auto* pending : {&state.sent, &state.unsent}) {
        for (const auto& p : *pending) {
            if (p->tag == tag) {
                p->deadlineNs = std::min(p->deadlineNs, p->sentNs + std::int64_t{waitMs} * 1000000);
                return true;
            }
        }
    }
    return false;
}

} // namespace hopwise
