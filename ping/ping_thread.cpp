#include "ping/ping_thread.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_status.h"
#include "probe/resolver.h"
#include "run/probe_notify.h"

namespace hopwise {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

using Clock = std::chrono::steady_clock;

// The most IP option bytes a reply can bring.
constexpr std::size_t kMaxOptionBytes = 40;

// Paces the trials at m_iIntervalMs from one request to the next, as ping does (a trial that
// took longer is followed at once), never past the deadline. The wait looks at the cancel flag
// every few milliseconds, so a cancel needn't sit out a long interval.
void waitForNextTrial(const PingInputs& page, Clock::time_point sentAt,
                      std::optional<Clock::time_point> deadline)
{
    const std::int32_t interval = page.m_iIntervalMs.load(kRelaxed);
    if (interval <= 0) {
        return;
    }
    constexpr auto kSlice = std::chrono::milliseconds(10);
    auto next = sentAt + std::chrono::milliseconds(interval);
    if (deadline) {
        next = std::min(next, *deadline);
    }
    for (auto now = Clock::now(); now < next && !page.m_bCancel.load(); now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(next - now, kSlice));
    }
}

// ping's pattern: each data byte holds its offset's low 8 bits.
std::vector<std::uint8_t> requestData(std::int32_t size)
{
    std::vector<std::uint8_t> data(static_cast<std::size_t>(std::clamp(size, 0, kMaxPingPayload)));
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    return data;
}

void runTrials(PingInputs& page, EchoHandle handle, const HostAddress& destination)
{
    ProbeMessageTarget* window = page.m_pWindow;
    const std::vector<std::uint8_t> data = requestData(page.m_iPayloadSize);
    // A record, then the largest reply's data and options: a reply may bring more than was sent.
    std::vector<EchoReply> buffer(1 + (kMaxPingPayload + kMaxOptionBytes + kEchoReplySize - 1) /
                                          kEchoReplySize);
    EchoReply& reply = buffer.front();
    const auto bufferSize = static_cast<std::uint32_t>(buffer.size() * kEchoReplySize);
    std::optional<Clock::time_point> deadline;
    if (page.m_iDeadlineMs >= 0) {
        deadline = Clock::now() + std::chrono::milliseconds(page.m_iDeadlineMs);
    }
    // 64 bits: an endless run on loopback must not overflow the count.
    std::int64_t trials = 0;
    std::int64_t replies = 0;
    HostAddress shownResponder;
    std::string responderText;
    for (;;) {
        if (page.m_bCancel.load()) {
            return;
        }
        std::int32_t timeoutMs = page.m_iHopTimeout.load(kRelaxed);
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) {
                return;
            }
            timeoutMs = static_cast<std::int32_t>(std::min<std::int64_t>(timeoutMs, left));
        }
        const auto sentAt = Clock::now();
        EchoOptions options = ProbeOptions(page.m_iMaxHopCount.load(kRelaxed));
        options.tos = page.m_tos;
        reply.status = 0;
        const std::uint32_t count =
            SendEchoTo(handle, destination, data.data(), static_cast<std::uint16_t>(data.size()),
                       &options, buffer.data(), bufferSize, static_cast<std::uint32_t>(timeoutMs));
        if (EchoNotPermitted(count)) {
            NotifyNotPermitted(window);
            return;
        }
        const char* address = nullptr;
        if (count != 0) {
            // Formatted again only when the responder changes: it almost never does, and back
            // to back on loopback the text would cost a good part of each echo's own time.
            if (const HostAddress responder = GetLastEchoResponder();
                responderText.empty() || !(responder == shownResponder)) {
                shownResponder = responder;
                responderText = FormatAddress(responder);
            }
            address = responderText.c_str();
        }
        const ProbeResult result{address, nullptr, &reply,
                                 count != 0 ? GetLastEchoRoundTripMicros() : 0, GetLastEchoMtu()};
        NotifyResult(window, result);
        ++trials;
        const bool replied = count != 0 && reply.status == kIpSuccess;
        replies += replied ? 1 : 0;
        const std::int32_t wanted = page.m_iNumTrials.load(kRelaxed);
        if (deadline) {
            // As ping with a deadline: -c counts replies, and a report (or a local error) about
            // a request ends the run.
            const bool failed = count != 0 ? !replied : reply.status == kIpPacketTooBig;
            if (failed || (wanted != -1 && replies >= wanted)) {
                return;
            }
        } else if (wanted != -1 && trials >= wanted) {
            return;
        }
        waitForNextTrial(page, sentAt, deadline);
    }
}

} // namespace

std::uint32_t PingThread(PingInputs* page)
{
    const ScopedEchoSocketSettings socket(page->m_socket);
    RunToDestination(page->m_pWindow, page->m_szHost, page->m_families,
                     [page](const HostAddress& destination) {
                         const EchoHandle handle = OpenEchoHandle();
                         runTrials(*page, handle, destination);
                         CloseEchoHandle(handle);
                     });
    return 0;
}

} // namespace hopwise
