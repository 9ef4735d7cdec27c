#include "trace/parallel_trace.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "probe/echo_flight.h"
#include "probe/echo_status.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"
#include "trace/adaptive_wait.h"
#include "trace/path_mtu.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void show(const ParallelTraceInputs& page, EchoOutcome& outcome, std::uint32_t mtu)
{
    ProbeResult result{nullptr, nullptr, &outcome.reply};
    result.m_mtu = mtu;
    if (outcome.count != 0) {
        result.m_roundTripMicros = outcome.roundTripUs;
        result.m_mpls = outcome.mpls;
        result.m_address = FormatAddress(outcome.responder);
        if (page.m_bResolveIP.load(kRelaxed)) {
            result.m_name = ResolveHostAddress(outcome.responder);
        }
    }
    NotifyResult(page.m_pWindow, result);
}

// EchoFlight::collect over every flight: a lone one waits as it does; several are each waited
// on in turn for a moment until one of them has ended a probe. False, as collect: nothing in
// flight, or the thread's probe interrupt was raised.
bool collectAny(const std::vector<std::unique_ptr<EchoFlight>>& flights,
                std::vector<EchoOutcome>& ended)
{
    if (flights.size() == 1) {
        return flights.front()->collect(ended);
    }
    constexpr auto kTurn = std::chrono::milliseconds(2);
    for (;;) {
        bool any = false;
        for (const auto& flight : flights) {
            if (flight->inFlight() == 0) {
                continue;
            }
            any = true;
            if (!flight->collectUntil(ended, std::chrono::steady_clock::now() + kTurn)) {
                return false;
            }
        }
        if (!any || !ended.empty()) {
            return any;
        }
    }
}

void walkInParallel(ParallelTraceInputs& page, const HostAddress& destination)
{
    const std::int32_t maxHop = page.m_iMaxHopCount.load(kRelaxed);
    const std::int32_t firstHop = std::max(1, page.m_firstHop);
    if (maxHop <= firstHop) {
        return;
    }
    const auto perFlow = static_cast<std::uint32_t>(std::max(1, page.m_probesPerHop));
    const auto flows = static_cast<std::uint32_t>(std::max(1, page.m_flows));
    const std::uint32_t perHop = perFlow * flows;
    const auto timeout = static_cast<std::uint32_t>(page.m_iHopTimeout.load(kRelaxed));
    const std::size_t width = static_cast<std::size_t>(std::max(1, page.m_probesInFlight));
    // A probe's tag is its hop times perHop plus its place among the hop's probes: its flow's
    // times perFlow plus its place among the flow's.
    std::vector<std::optional<EchoOutcome>> known(static_cast<std::size_t>(maxHop) * perHop);
    const auto hopOf = [perHop](std::uint32_t tag) {
        return static_cast<std::int32_t>(tag / perHop);
    };
    auto nextSend = static_cast<std::uint32_t>(firstHop) * perHop;
    std::int32_t nextShow = firstHop;
    // The lowest hop the destination answered: nothing past it is sent any more (the rest of
    // its own probes still are).
    std::int32_t destinationHop = maxHop - 1;
    AdaptiveWaits waits({timeout, page.m_waitHere, page.m_waitNear});
    std::vector<std::unique_ptr<EchoFlight>> flights;
    for (std::uint32_t flow = 0; flow < flows; ++flow) {
        ProbeMethod method = page.m_method;
        method.flow = static_cast<std::uint16_t>(method.flow + flow);
        flights.push_back(std::make_unique<EchoFlight>(method));
    }
    const auto flightOf = [&flights, perHop, perFlow](std::uint32_t tag) -> EchoFlight& {
        return *flights[tag % perHop / perFlow];
    };
    const auto inFlight = [&flights] {
        std::size_t out = 0;
        for (const auto& flight : flights) {
            out += flight->inFlight();
        }
        return out;
    };
    std::vector<EchoOutcome> ended;
    // --mtu: each probe's size, and those found too large, to go again smaller.
    std::optional<PathMtuSteps> pathMtu;
    std::vector<std::uint16_t> sentSize(known.size(), 0);
    std::vector<std::uint32_t> again;
    if (page.m_pathMtu) {
        pathMtu.emplace(EchoRouteMtu(destination));
    }
    const auto hopKnown = [&known, perHop](std::int32_t hop) {
        const auto first =
            known.begin() + static_cast<std::ptrdiff_t>(hop) * static_cast<std::ptrdiff_t>(perHop);
        return std::all_of(first, first + perHop, [](const auto& o) { return o.has_value(); });
    };
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        while ((!again.empty() || hopOf(nextSend) <= destinationHop) && inFlight() < width) {
            const bool resend = !again.empty();
            const std::uint32_t tag = resend ? again.back() : nextSend;
            const std::int32_t hop = hopOf(tag);
            EchoProbe probe{destination, ProbeOptions(hop).ttl, timeout, tag};
            if (pathMtu) {
                probe.packetSize = sentSize[tag] = pathMtu->packetSize();
            }
            const std::uint32_t error = flightOf(tag).send(probe);
            if (error == kErrorAccessDenied) {
                NotifyNotPermitted(page.m_pWindow);
                return;
            }
            if (error != 0) {
                EchoOutcome unanswered;
                unanswered.reply.status = kIpNoResources;
                known[tag] = unanswered;
            } else {
                waits.sent(tag, hop);
            }
            if (resend) {
                again.pop_back();
            } else {
                ++nextSend;
            }
        }
        while (nextShow < maxHop && hopKnown(nextShow)) {
            // A limit behind this hop is told by the next hop's probes: wait for them.
            if (pathMtu && nextShow < destinationHop && nextShow + 1 < maxHop &&
                !hopKnown(nextShow + 1)) {
                break;
            }
            const auto first = known.begin() + static_cast<std::ptrdiff_t>(nextShow) *
                                                   static_cast<std::ptrdiff_t>(perHop);
            bool reached = false;
            std::uint32_t mtu = 0;
            if (pathMtu) {
                std::vector<HostAddress> responders;
                for (auto probe = first; probe != first + perHop; ++probe) {
                    responders.push_back((*probe)->responder);
                }
                mtu = pathMtu->shownAt(nextShow, responders);
            }
            for (auto probe = first; probe != first + perHop; ++probe) {
                show(page, **probe, std::exchange(mtu, 0));
                reached = reached || (*probe)->responder == destination;
            }
            if (reached || page.m_bCancel.load()) {
                return;
            }
            ++nextShow;
        }
        if (nextShow >= maxHop) {
            return;
        }
        ended.clear();
        if (!collectAny(flights, ended)) {
            return; // interrupted
        }
        for (const EchoOutcome& outcome : ended) {
            const std::int32_t hop = hopOf(outcome.tag);
            if (pathMtu && pathMtu->tooLarge(outcome, hop, sentSize[outcome.tag])) {
                waits.ended(outcome.tag);
                if (hop <= destinationHop) {
                    // Sent again lowest hop first (the last one out): the path's next limit is
                    // told soonest there.
                    again.insert(
                        std::upper_bound(again.begin(), again.end(), outcome.tag, std::greater<>()),
                        outcome.tag);
                }
                continue;
            }
            known[outcome.tag] = outcome;
            if (outcome.count == 0) {
                waits.ended(outcome.tag);
                continue;
            }
            for (const AdaptiveWaits::Cut& cut : waits.answered(outcome.tag, outcome.roundTripUs)) {
                flightOf(cut.tag).cutWait(cut.tag, cut.waitMs);
            }
            if (outcome.responder == destination) {
                destinationHop = std::min(destinationHop, hop);
            }
        }
    }
}

} // namespace

std::uint32_t ParallelTraceThread(ParallelTraceInputs* page)
{
    EchoSocketSettings settings = page->m_socket;
    if (page->m_pathMtu) {
        settings.pathMtu = EchoPathMtu::Do;
    }
    const ScopedEchoSocketSettings socket(settings);
    RunToDestination(
        page->m_pWindow, page->m_szHost, page->m_families,
        [page](const HostAddress& destination) { walkInParallel(*page, destination); });
    return 0;
}

} // namespace hopwise
