#include "ping/ping_thread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "probe/echo_service.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Paces the trials at m_iIntervalMs from one request to the next, as ping does (a trial that
// took longer is followed at once). The wait looks at the cancel flag every few milliseconds,
// so a cancel needn't sit out a long interval.
void waitForNextTrial(const PingInputs& page, std::chrono::steady_clock::time_point sentAt)
{
    const std::int32_t interval = page.m_iIntervalMs.load(kRelaxed);
    if (interval <= 0) {
        return;
    }
    constexpr auto kSlice = std::chrono::milliseconds(10);
    const auto next = sentAt + std::chrono::milliseconds(interval);
    for (auto now = std::chrono::steady_clock::now(); now < next && !page.m_bCancel.load();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(next - now, kSlice));
    }
}

void runTrials(PingInputs& page, EchoHandle handle, const HostAddress& destination)
{
    ProbeMessageTarget* window = page.m_pWindow;
    EchoReply reply{};
    // 64 bits: an endless run on loopback must not overflow the count.
    std::int64_t trials = 0;
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        const auto sentAt = std::chrono::steady_clock::now();
        const std::uint32_t count =
            SendProbe(handle, destination, page.m_iMaxHopCount.load(kRelaxed),
                      page.m_iHopTimeout.load(kRelaxed), reply);
        if (EchoNotPermitted(count)) {
            NotifyNotPermitted(window);
            return;
        }
        const ProbeResult result{count != 0 ? FormatAddress(GetLastEchoResponder()) : nullptr,
                                 nullptr, &reply, count != 0 ? GetLastEchoRoundTripMicros() : 0};
        NotifyResult(window, result);
        ++trials;
        const std::int32_t wanted = page.m_iNumTrials.load(kRelaxed);
        if (wanted != -1 && trials >= wanted) {
            return;
        }
        waitForNextTrial(page, sentAt);
    }
}

} // namespace

std::uint32_t PingThread(PingInputs* page)
{
    RunToDestination(page->m_pWindow, page->m_szHost, page->m_families,
                     [page](const HostAddress& destination) {
                         const EchoHandle handle = OpenEchoHandle();
                         runTrials(*page, handle, destination);
                         CloseEchoHandle(handle);
                     });
    return 0;
}

} // namespace hopwise
