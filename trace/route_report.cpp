#include "trace/route_report.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "probe/echo_flight.h"
#include "probe/echo_status.h"
#include "run/probe_notify.h"

namespace hopwise {

void HopStatistics::add(bool answered, const HostAddress& responder, std::uint32_t roundTripUs)
{
    ++sent;
    if (!answered) {
        return;
    }
    if (std::find(addresses.begin(), addresses.end(), responder) == addresses.end()) {
        addresses.push_back(responder);
    }
    replies.add(roundTripUs);
}

double HopStatistics::lossPercent() const
{
    return sent == 0
               ? 0.0
               : 100.0 * (static_cast<double>(sent) - static_cast<double>(replies.count)) / sent;
}

namespace {

enum class CycleEnd { Done, Cancelled, NotPermitted };

// One probe per hop 1 .. lastHop, at most probesInFlight out at once; lastHop shrinks to the
// first hop the destination answers.
CycleEnd runCycle(const RouteReportOptions& options, const std::atomic<bool>& cancel,
                  std::int32_t& lastHop, std::vector<HopStatistics>& table)
{
    EchoFlight flight;
    std::vector<EchoOutcome> ended;
    std::int32_t nextSend = 1;
    const auto width = static_cast<std::size_t>(std::max(1, options.probesInFlight));
    for (;;) {
        while (nextSend <= lastHop && flight.inFlight() < width) {
            const EchoProbe probe{options.destination, ProbeOptions(nextSend).ttl,
                                  options.timeoutMs, static_cast<std::uint32_t>(nextSend)};
            const std::uint32_t error = flight.send(probe);
            if (error == kErrorAccessDenied) {
                return CycleEnd::NotPermitted;
            }
            if (error != 0) {
                table[static_cast<std::size_t>(nextSend - 1)].add(false, {}, 0);
            }
            ++nextSend;
        }
        ended.clear();
        if (!flight.collect(ended)) {
            return nextSend > lastHop ? CycleEnd::Done : CycleEnd::Cancelled;
        }
        for (const EchoOutcome& outcome : ended) {
            const auto hop = static_cast<std::int32_t>(outcome.tag);
            if (hop > lastHop) {
                continue; // past the destination, found meanwhile
            }
            table[static_cast<std::size_t>(hop - 1)].add(outcome.count != 0, outcome.responder,
                                                         outcome.roundTripUs);
            if (outcome.count != 0 && outcome.responder == options.destination) {
                lastHop = hop;
            }
        }
        if (cancel.load()) {
            return CycleEnd::Cancelled;
        }
    }
}

} // namespace

RouteReportEnd
RunRouteReport(const RouteReportOptions& options, const std::atomic<bool>& cancel,
               std::vector<HopStatistics>& table,
               const std::function<void(const std::vector<HopStatistics>&)>& afterCycle)
{
    using Clock = std::chrono::steady_clock;
    std::int32_t lastHop = options.maxHop - 1;
    table.clear();
    for (std::int32_t hop = 1; hop <= lastHop; ++hop) {
        HopStatistics row;
        row.hop = hop;
        table.push_back(row);
    }
    for (std::int32_t cycle = 0; cycle < options.cycles; ++cycle) {
        const Clock::time_point started = Clock::now();
        const CycleEnd end = runCycle(options, cancel, lastHop, table);
        table.resize(static_cast<std::size_t>(std::max(0, lastHop)));
        if (end == CycleEnd::NotPermitted) {
            return RouteReportEnd::NotPermitted;
        }
        if (afterCycle) {
            afterCycle(table);
        }
        if (end == CycleEnd::Cancelled) {
            return RouteReportEnd::Cancelled;
        }
        if (cycle + 1 == options.cycles) {
            break;
        }
        // The pause is slept in short steps so that Ctrl-C is seen at once.
        const Clock::time_point next = started + std::chrono::milliseconds(options.intervalMs);
        while (Clock::now() < next) {
            if (cancel.load()) {
                return RouteReportEnd::Cancelled;
            }
            std::this_thread::sleep_for(
                std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
        }
    }
    return cancel.load() ? RouteReportEnd::Cancelled : RouteReportEnd::Done;
}

} // namespace hopwise
