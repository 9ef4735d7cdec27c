#include "trace/parallel_trace.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "probe/echo_flight.h"
#include "probe/echo_status.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void show(const ParallelTraceInputs& page, EchoOutcome& outcome)
{
    ProbeResult result{nullptr, nullptr, &outcome.reply};
    if (outcome.count != 0) {
        result.m_roundTripMicros = outcome.roundTripUs;
        result.m_address = FormatAddress(outcome.responder);
        if (page.m_bResolveIP.load(kRelaxed)) {
            result.m_name = ResolveHostAddress(outcome.responder);
        }
    }
    NotifyResult(page.m_pWindow, result);
}

void walkInParallel(ParallelTraceInputs& page, const HostAddress& destination)
{
    const std::int32_t maxHop = page.m_iMaxHopCount.load(kRelaxed);
    if (maxHop <= 1) {
        return;
    }
    const auto timeout = static_cast<std::uint32_t>(page.m_iHopTimeout.load(kRelaxed));
    const std::size_t width = static_cast<std::size_t>(std::max(1, page.m_probesInFlight));
    std::vector<std::optional<EchoOutcome>> known(static_cast<std::size_t>(maxHop));
    std::int32_t nextSend = 1;
    std::int32_t nextShow = 1;
    // The lowest hop the destination answered: nothing past it is sent any more.
    std::int32_t destinationHop = maxHop;
    EchoFlight flight;
    std::vector<EchoOutcome> ended;
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        while (nextSend < destinationHop && flight.inFlight() < width) {
            const EchoProbe probe{destination, ProbeOptions(nextSend).ttl, timeout,
                                  static_cast<std::uint32_t>(nextSend)};
            const std::uint32_t error = flight.send(probe);
            if (error == kErrorAccessDenied) {
                NotifyNotPermitted(page.m_pWindow);
                return;
            }
            if (error != 0) {
                EchoOutcome unanswered;
                unanswered.reply.status = kIpNoResources;
                known[static_cast<std::size_t>(nextSend)] = unanswered;
            }
            ++nextSend;
        }
        while (nextShow < maxHop && known[static_cast<std::size_t>(nextShow)]) {
            EchoOutcome& outcome = *known[static_cast<std::size_t>(nextShow)];
            show(page, outcome);
            if (outcome.responder == destination || page.m_bCancel.load()) {
                return;
            }
            ++nextShow;
        }
        if (nextShow >= maxHop) {
            return;
        }
        ended.clear();
        if (!flight.collect(ended)) {
            return; // interrupted
        }
        for (const EchoOutcome& outcome : ended) {
            const auto hop = static_cast<std::int32_t>(outcome.tag);
            known[static_cast<std::size_t>(hop)] = outcome;
            if (outcome.responder == destination) {
                destinationHop = std::min(destinationHop, hop);
            }
        }
    }
}

} // namespace

std::uint32_t ParallelTraceThread(ParallelTraceInputs* page)
{
    const ScopedEchoSocketSettings socket(page->m_socket);
    RunToDestination(
        page->m_pWindow, page->m_szHost, page->m_families,
        [page](const HostAddress& destination) { walkInParallel(*page, destination); });
    return 0;
}

} // namespace hopwise
