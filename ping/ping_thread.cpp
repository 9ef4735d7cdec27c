#include "ping/ping_thread.h"

#include "probe/echo_service.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void runTrials(PingInputs& page, EchoHandle handle, IpAddress destination)
{
    ProbeMessageTarget* window = page.m_pWindow;
    EchoReply reply{};
    // 64 bits: an endless run on loopback must not overflow the count.
    std::int64_t trials = 0;
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        const std::uint32_t count =
            SendProbe(handle, destination, page.m_iMaxHopCount.load(kRelaxed),
                      page.m_iHopTimeout.load(kRelaxed), reply);
        if (EchoNotPermitted(count)) {
            NotifyNotPermitted(window);
            return;
        }
        const ProbeResult result{count != 0 ? FormatAddress(reply.address) : nullptr, nullptr,
                                 &reply};
        NotifyResult(window, result);
        ++trials;
        const std::int32_t wanted = page.m_iNumTrials.load(kRelaxed);
        if (wanted != -1 && trials >= wanted) {
            return;
        }
    }
}

} // namespace

std::uint32_t PingThread(PingInputs* page)
{
    ProbeMessageTarget* window = page->m_pWindow;
    const IpAddress destination = ResolveHostName(page->m_szHost);
    if (destination == 0 || destination == kAddressNone) {
        NotifyUnresolved(window);
        NotifyFinished(window);
        return 0;
    }
    NotifyDestination(window, destination);
    const EchoHandle handle = OpenEchoHandle();
    runTrials(*page, handle, destination);
    CloseEchoHandle(handle);
    NotifyFinished(window);
    return 0;
}

} // namespace hopwise
