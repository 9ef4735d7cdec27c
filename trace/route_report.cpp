#include "trace/route_report.h"

#include <algorithm>
#include <chrono>
#include <deque>

#include "probe/echo_flight.h"
#include "probe/echo_status.h"
#include "run/probe_notify.h"
#include "trace/adaptive_wait.h"

namespace hopwise {

bool HopStatistics::add(bool answered, const HostAddress& responder, std::uint32_t roundTripUs,
                        const MplsLabels& labels)
{
    ++sent;
    if (!answered) {
        return false;
    }
    replies.add(roundTripUs);
    if (!labels.empty()) {
        mpls = labels;
    }
    if (std::find(addresses.begin(), addresses.end(), responder) != addresses.end()) {
        return false;
    }
    addresses.push_back(responder);
    return true;
}

double HopStatistics::lossPercent() const
{
    return sent == 0
               ? 0.0
               : 100.0 * (static_cast<double>(sent) - static_cast<double>(replies.count)) / sent;
}

namespace {

using Clock = std::chrono::steady_clock;

// A probe's tag: its cycle times this, plus its hop. The cycle wraps within the tag's 24 bits
// left (a monitor's run of 1 s cycles passes 2^24 in half a year): the cycles still open are far
// fewer, so a tag's cycle is told from the oldest open one.
constexpr std::uint32_t kTagsPerCycle = 256;
constexpr std::uint32_t kTagCycles = 1U << 24;

// One report's probes across its cycles: the ones still to send, the flight, and how many of
// each open cycle have yet to end.
class Report {
public:
    Report(const RouteReportOptions& options, std::vector<HopStatistics>& table,
           const std::function<void(const std::vector<HopStatistics>&, bool)>& changed)
        : m_options(options), m_table(table), m_changed(changed),
          m_waits({options.timeoutMs, options.waitHere, options.waitNear}),
          m_flight(options.method), m_lastHop(options.maxHop - 1)
    {
        m_table.clear();
        for (std::int32_t hop = 1; hop <= m_lastHop; ++hop) {
            HopStatistics row;
            row.hop = hop;
            m_table.push_back(row);
        }
    }

    std::int32_t started() const { return m_started; }
    bool allDone() const { return m_done == m_options.cycles; }

    void startCycle()
    {
        const std::int32_t hops = std::max(0, m_lastHop);
        for (std::int32_t hop = 1; hop <= hops; ++hop) {
            m_queue.push_back(static_cast<std::uint32_t>(m_started) % kTagCycles * kTagsPerCycle +
                              static_cast<std::uint32_t>(hop));
        }
        m_open.push_back(hops);
        m_starts.push_back(std::chrono::system_clock::now());
        ++m_started;
        completeCycles();
    }

    // False when ICMP is not permitted.
    bool sendQueued()
    {
        const auto width = static_cast<std::size_t>(std::max(1, m_options.probesInFlight));
        while (!m_queue.empty() && m_flight.inFlight() < width) {
            const std::uint32_t tag = m_queue.front();
            m_queue.pop_front();
            const auto hop = static_cast<std::int32_t>(tag % kTagsPerCycle);
            if (hop > m_lastHop) {
                ended(tag); // past the destination, found meanwhile: never sent, never counted
                continue;
            }
            const EchoProbe probe{m_options.destination, ProbeOptions(hop).ttl, m_options.timeoutMs,
                                  tag};
            const std::uint32_t error = m_flight.send(probe);
            if (error == kErrorAccessDenied) {
                return false;
            }
            if (error != 0) {
                m_table[static_cast<std::size_t>(hop - 1)].add(false, {}, 0);
                report(tag, false, {}, 0);
                ended(tag);
                continue;
            }
            m_waits.sent(tag, hop);
        }
        completeCycles();
        return true;
    }

    // False when the thread's probe interrupt was raised.
    bool collect(Clock::time_point until)
    {
        m_ended.clear();
        if (!m_flight.collectUntil(m_ended, until)) {
            return false;
        }
        for (const EchoOutcome& outcome : m_ended) {
            take(outcome);
        }
        completeCycles();
        return true;
    }

private:
    void take(const EchoOutcome& outcome)
    {
        const auto hop = static_cast<std::int32_t>(outcome.tag % kTagsPerCycle);
        const bool answered = outcome.count != 0;
        if (answered) {
            for (const AdaptiveWaits::Cut& cut :
                 m_waits.answered(outcome.tag, outcome.roundTripUs)) {
                m_flight.cutWait(cut.tag, cut.waitMs);
            }
        } else {
            m_waits.ended(outcome.tag);
        }
        if (hop > m_lastHop) {
            ended(outcome.tag);
            return; // past the destination, found meanwhile
        }
        const bool newAddress = m_table[static_cast<std::size_t>(hop - 1)].add(
            answered, outcome.responder, outcome.roundTripUs, outcome.mpls);
        report(outcome.tag, answered, outcome.responder, outcome.roundTripUs, outcome.mpls);
        ended(outcome.tag);
        if (answered && outcome.responder == m_options.destination && hop < m_lastHop) {
            m_lastHop = hop;
            m_table.resize(static_cast<std::size_t>(hop));
        }
        if (newAddress && m_changed) {
            m_changed(m_table, false);
        }
    }

    std::int32_t cycleOf(std::uint32_t tag) const
    {
        const std::uint32_t since =
            (tag / kTagsPerCycle - static_cast<std::uint32_t>(m_done)) % kTagCycles;
        return m_done + static_cast<std::int32_t>(since);
    }

    // Before ended(tag), while its cycle's start is still held.
    void report(std::uint32_t tag, bool answered, const HostAddress& responder,
                std::uint32_t roundTripUs, const MplsLabels& labels = {})
    {
        if (!m_options.probeEnded) {
            return;
        }
        const std::int32_t cycle = cycleOf(tag);
        m_options.probeEnded({cycle, static_cast<std::int32_t>(tag % kTagsPerCycle), answered,
                              roundTripUs, responder,
                              m_starts[static_cast<std::size_t>(cycle - m_done)], labels});
    }

    void ended(std::uint32_t tag)
    {
        const std::int32_t cycle = cycleOf(tag);
        --m_open[static_cast<std::size_t>(cycle - m_done)];
    }

    // Cycles complete in order: a later one that ended first waits for those before it.
    void completeCycles()
    {
        while (!m_open.empty() && m_open.front() == 0) {
            m_open.pop_front();
            m_starts.pop_front();
            ++m_done;
            if (m_changed) {
                m_changed(m_table, true);
            }
        }
    }

    const RouteReportOptions& m_options;
    std::vector<HopStatistics>& m_table;
    const std::function<void(const std::vector<HopStatistics>&, bool)>& m_changed;
    AdaptiveWaits m_waits;
    EchoFlight m_flight;
    std::vector<EchoOutcome> m_ended;
    std::deque<std::uint32_t> m_queue; // tags to send, in order
    std::deque<std::int32_t> m_open;   // probes yet to end, of cycles m_done onwards
    std::deque<std::chrono::system_clock::time_point> m_starts; // when each of those started
    std::int32_t m_lastHop;
    std::int32_t m_started = 0;
    std::int32_t m_done = 0;
};

} // namespace

RouteReportResult
RunRouteReport(const RouteReportOptions& options, const std::atomic<bool>& cancel,
               std::vector<HopStatistics>& table,
               const std::function<void(const std::vector<HopStatistics>&, bool)>& changed)
{
    // Ctrl-C sets the flag only; the waits are sliced so that it is seen this soon.
    constexpr auto kCancelSlice = std::chrono::milliseconds(50);
    Report report(options, table, changed);
    RouteReportResult result;
    Clock::time_point nextStart = Clock::now();
    for (;;) {
        if (cancel.load()) {
            result.end = RouteReportEnd::Cancelled;
            break;
        }
        const Clock::time_point now = Clock::now();
        const bool moreCycles = report.started() < options.cycles;
        const bool paused = options.paused != nullptr && options.paused->load();
        if (paused) {
            nextStart = std::max(nextStart, now);
        }
        if (moreCycles && !paused && now >= nextStart) {
            report.startCycle();
            nextStart += std::chrono::milliseconds(options.intervalMs);
            continue;
        }
        if (!report.sendQueued()) {
            result.end = RouteReportEnd::NotPermitted;
            break;
        }
        if (!moreCycles && report.allDone()) {
            break;
        }
        const Clock::time_point until =
            moreCycles && !paused ? std::min(nextStart, now + kCancelSlice) : now + kCancelSlice;
        if (!report.collect(until)) {
            result.end = RouteReportEnd::Cancelled;
            break;
        }
    }
    result.cycles = report.started();
    return result;
}

} // namespace hopwise
