#pragma once

// A running report on every hop of a route: each cycle probes every hop once, all in flight at
// once, and adds each probe's outcome to its hop's loss and round-trip statistics. One probe per
// hop and cycle keeps under the rate at which routers answer with time-exceeded reports.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "probe/host_address.h"
#include "run/round_trip_tally.h"

namespace hopwise {

struct HopStatistics {
    std::int32_t hop = 0;
    std::vector<HostAddress> addresses; // every responder this hop has had, first seen first
    std::uint32_t sent = 0;
    RoundTripTally replies; // its spread is the sample deviation, as mtr's StDev

    void add(bool answered, const HostAddress& responder, std::uint32_t roundTripUs);
    double lossPercent() const;
};

struct RouteReportOptions {
    HostAddress destination;
    std::int32_t maxHop = 20; // hops 1 .. maxHop - 1, as for a trace
    std::uint32_t timeoutMs = 1000;
    std::int32_t cycles = 10;
    std::uint32_t intervalMs = 1000; // from the start of one cycle to the start of the next
    std::int32_t probesInFlight = 16;
};

enum class RouteReportEnd { Done, Cancelled, NotPermitted };

// Runs the cycles on the calling thread. The table holds hops 1 up to the first hop the
// destination answered (every hop while it never did); afterCycle sees it after each cycle.
// cancel is checked whenever a probe ends and between cycles; what ended counts.
RouteReportEnd
RunRouteReport(const RouteReportOptions& options, const std::atomic<bool>& cancel,
               std::vector<HopStatistics>& table,
               const std::function<void(const std::vector<HopStatistics>&)>& afterCycle);

} // namespace hopwise
