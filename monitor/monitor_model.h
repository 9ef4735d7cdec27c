#pragma once

// What a route monitor shows: per hop the report's figures over the whole run, a sparkline of the
// latest round trips, every responder, route changes and a note on where loss comes from; and
// each hop's history for a chart. Every probe is kept for the recent span, older ones only as
// per-minute aggregates, both in storage allocated once per hop, so memory stays bounded however
// long a run goes. Not thread-safe: one thread adds and reads.

#include <array>
#include <cstdint>
#include <vector>

#include "monitor/monitor_sample.h"
#include "trace/route_report.h"

namespace hopwise {

enum class HopNote {
    None,
    RateLimited, // loss here, none at the destination
    LossBegins,  // loss starts here and continues to the destination
};

struct MonitorModelOptions {
    std::int64_t detailSpanMs = 60LL * 60 * 1000; // every probe is kept this long
    std::uint32_t detailSamples = 8192;           // per hop at most (an hour of 0.44 s cycles)
    std::uint32_t minutesKept = 7 * 24 * 60;      // per-minute aggregates per hop, the oldest go
    std::int32_t maxHops = 64;                    // later hops are passed over
};

class MonitorModel {
public:
    explicit MonitorModel(const MonitorModelOptions& options = {});

    struct HopRow {
        std::int32_t hop = 0;
        std::vector<HostAddress> responders; // every responder, first seen first
        std::uint32_t sent = 0;
        std::uint32_t received = 0;
        double lossPercent = 0;
        std::uint32_t lastUs = 0;
        std::uint32_t bestUs = 0; // 0 without replies, as the worst
        std::uint32_t worstUs = 0;
        double averageUs = 0;
        double stdevUs = 0;  // the sample deviation, as mtr's StDev
        double jitterUs = 0; // the mean absolute difference of consecutive round trips
        bool routeChanged = false;
        std::int64_t routeChangedMs = 0; // the latest change
        std::array<float, 32> spark{};   // the last round trips in ms, newest last; negative: lost
        std::uint8_t sparkCount = 0;     // how many of spark's last entries are filled
        HopNote note = HopNote::None;
    };

    struct ChartPoint {
        std::int64_t clockMs = 0;
        float minMs = 0; // negative when no reply came
        float averageMs = 0;
        float maxMs = 0;
        float lossPercent = 0; // 0..100; 100 = a lost probe in full detail
    };

    struct RouteChange {
        std::int64_t clockMs = 0;
        std::int32_t hop = 0;
        HostAddress from;
        HostAddress to;
    };

    // The destination's address: its first answering hop ends the rows.
    void setDestination(const HostAddress& destination);
    const HostAddress& destination() const { return m_destination; }

    // No allocation but when a hop or responder first shows up.
    void add(const MonitorSample& sample);

    // Hops 1 up to the destination's (every hop seen while it never answered).
    const std::vector<HopRow>& rows() const;
    // One hop's points from fromMs to toMs (both included), oldest first: one per probe where
    // every probe is still held, one per minute (its start) before that.
    void series(std::int32_t hop, std::int64_t fromMs, std::int64_t toMs,
                std::vector<ChartPoint>& out) const;
    // The latest changes (at most a few thousand are kept), oldest first.
    const std::vector<RouteChange>& routeChanges() const { return m_changes; }
    std::int64_t firstMs() const { return m_firstMs; }
    std::int64_t lastMs() const { return m_lastMs; }
    // 0 while the destination never answered.
    std::int32_t destinationHop() const { return m_destinationHop; }
    // Cycles with a probe seen.
    std::int32_t cycles() const { return m_cycles; }
    // A row's running totals in the report's form (its JSON is shared with hopwise-cli report).
    const HopStatistics& statistics(std::int32_t hop) const;

    // The bytes held for samples and minutes, and the most they can grow to with hops hops.
    std::size_t storageBytes() const;
    std::size_t capacityBytes(std::int32_t hops) const;

    struct Detail {
        std::int64_t clockMs;
        std::uint32_t roundTripUs;
        bool answered;
    };
    struct Minute {
        std::int64_t startMs;
        float minMs;
        float maxMs;
        double sumMs;
        std::uint32_t sent;
        std::uint32_t received;
    };

private:
    // A ring over storage allocated once.
    template <typename T> struct Ring {
        std::vector<T> items;
        std::size_t first = 0;
        std::size_t size = 0;
        const T& at(std::size_t i) const { return items[(first + i) % items.size()]; }
        T& at(std::size_t i) { return items[(first + i) % items.size()]; }
        bool push(const T& item); // true when the oldest made way
    };
    struct Hop {
        HopStatistics totals;
        HopRow row;
        HostAddress current; // the latest responder
        bool hadReply = false;
        std::uint32_t previousUs = 0;
        double jitterSum = 0;
        std::uint32_t jitterCount = 0;
        Ring<Detail> detail;
        bool detailWhole = true; // no probe left the detail yet
        Ring<Minute> minutes;
    };

    Hop& hop(std::int32_t number);
    void addMinute(Ring<Minute>& minutes, const MonitorSample& sample);
    void trimDetail(Hop& at) const;
    void refreshRows() const;

    MonitorModelOptions m_options;
    HostAddress m_destination;
    std::vector<Hop> m_hops; // hop n at n - 1, made when first seen
    std::vector<RouteChange> m_changes;
    mutable std::vector<HopRow> m_rows;
    mutable bool m_dirty = false;
    std::int64_t m_firstMs = 0;
    std::int64_t m_lastMs = 0;
    std::int32_t m_destinationHop = 0;
    std::int32_t m_cycles = 0;
};

using HopRow = MonitorModel::HopRow;
using ChartPoint = MonitorModel::ChartPoint;
using RouteChange = MonitorModel::RouteChange;

} // namespace hopwise
