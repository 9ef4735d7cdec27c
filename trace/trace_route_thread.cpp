#include "trace/trace_route_thread.h"

#include "probe/echo_service.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void walkHops(TraceRouteInputs& page, EchoHandle handle, const HostAddress& destination)
{
    ProbeMessageTarget* window = page.m_pWindow;
    // Cleared once so a first hop that fails early never reads indeterminate bytes; per hop only
    // the status is reset, the engine writes the rest (responder 0 when nothing answered).
    EchoReply reply{};
    std::int32_t hop = 1;
    if (page.m_iMaxHopCount.load(kRelaxed) <= 1) {
        return;
    }
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        const std::uint32_t count =
            SendProbe(handle, destination, hop, page.m_iHopTimeout.load(kRelaxed), reply);
        if (EchoNotPermitted(count)) {
            // Every further hop would fail the same way; one hint beats a wall of silence.
            NotifyNotPermitted(window);
            return;
        }
        // No address when nothing answered, so an unanswered hop never ends the walk.
        const HostAddress responder = GetLastEchoResponder();
        ProbeResult result{nullptr, nullptr, &reply};
        if (count != 0) {
            result.m_roundTripMicros = GetLastEchoRoundTripMicros();
            result.m_mpls = GetLastEchoMplsLabels();
            result.m_address = FormatAddress(responder);
            if (page.m_bResolveIP.load(kRelaxed)) {
                result.m_name = ResolveHostAddress(responder);
            }
        }
        NotifyResult(window, result);
        if (responder == destination) {
            return;
        }
        ++hop;
        if (hop >= page.m_iMaxHopCount.load(kRelaxed)) {
            return;
        }
    }
}

} // namespace

std::uint32_t TraceRouteThread(TraceRouteInputs* page)
{
    const ScopedEchoSocketSettings socket(page->m_socket);
    RunToDestination(page->m_pWindow, page->m_szHost, page->m_families,
                     [page](const HostAddress& destination) {
                         const EchoHandle handle = OpenEchoHandle();
                         walkHops(*page, handle, destination);
                         CloseEchoHandle(handle);
                     });
    return 0;
}

} // namespace hopwise
