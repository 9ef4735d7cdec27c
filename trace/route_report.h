#pragma once

// A running report on every hop of a route: each cycle probes every hop once, and adds each
// probe's outcome to its hop's loss and round-trip statistics. Cycles start at their interval
// whatever is still out, so a silent hop holds up no cycle: every probe keeps its own wait (the
// adaptive waits of trace/adaptive_wait.h) and counts in its own cycle. One probe per hop and
// cycle keeps under the rate at which routers answer with time-exceeded reports.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "probe/host_address.h"
#include "probe/icmp_extension.h"
#include "probe/probe_method.h"
#include "run/round_trip_tally.h"

namespace hopwise {

struct HopStatistics {
    std::int32_t hop = 0;
    std::vector<HostAddress> addresses; // every responder this hop has had, first seen first
    std::uint32_t sent = 0;
    RoundTripTally replies; // its spread is the sample deviation, as mtr's StDev
    MplsLabels mpls{};      // the labels of the last report here that carried any

    // True when the responder is one the hop hadn't had.
    bool add(bool answered, const HostAddress& responder, std::uint32_t roundTripUs,
             const MplsLabels& labels = {});
    double lossPercent() const;
};

// One probe that ended, as RouteReportOptions::probeEnded sees it.
struct ReportProbe {
    std::int32_t cycle = 0; // from 0, in the order the cycles started
    std::int32_t hop = 0;
    bool answered = false;
    std::uint32_t roundTripUs = 0;                    // 0 unanswered
    HostAddress responder;                            // none unanswered
    std::chrono::system_clock::time_point cycleStart; // the wall clock when its cycle started
    MplsLabels labels{};                              // what the router's report carried
};

struct RouteReportOptions {
    HostAddress destination;
    std::int32_t maxHop = 20;       // hops 1 .. maxHop - 1, as for a trace
    std::uint32_t timeoutMs = 1000; // the longest wait of a probe
    double waitHere = 0;            // the adaptive waits' factors; both 0: each waits timeoutMs
    double waitNear = 0;
    std::int32_t cycles = 10;
    std::uint32_t intervalMs = 1000; // from the start of one cycle to the start of the next
    std::int32_t probesInFlight = 16;
    ProbeMethod method; // ICMP echo, UDP or TCP: passed on to the flight as it is
    // While set, no further cycle starts; the probes out still end and count. When it clears, the
    // next cycle starts at once and the interval counts from there.
    const std::atomic<bool>* paused = nullptr;
    // Called on the report's thread once for every probe that counts in the table, as it is
    // added (a probe that couldn't leave counts as unanswered).
    std::function<void(const ReportProbe&)> probeEnded;
};

enum class RouteReportEnd { Done, Cancelled, NotPermitted };

struct RouteReportResult {
    RouteReportEnd end = RouteReportEnd::Done;
    std::int32_t cycles = 0; // cycles started
};

// Runs the cycles on the calling thread; after the last one starts, it waits for its probes (at
// most one time-out). The table holds hops 1 up to the first hop the destination answered (every
// hop while it never did). changed sees it when a cycle has completed (every probe of it and of
// the cycles before ended; cycleDone true) and when a hop answered from an address it hadn't.
// cancel is seen within 50 ms; what ended by then counts, probes still out don't.
RouteReportResult RunRouteReport(
    const RouteReportOptions& options, const std::atomic<bool>& cancel,
    std::vector<HopStatistics>& table,
    const std::function<void(const std::vector<HopStatistics>&, bool cycleDone)>& changed);

} // namespace hopwise
