#pragma once

// STAND-IN: the integrator replaces it with the monitor model's own.

#include <array>
#include <cstdint>
#include <vector>

#include "monitor/monitor_sample.h"

namespace hopwise {

enum class HopNote { None, RateLimited, LossBegins };

class MonitorModel {
public:
    struct HopRow {
        std::int32_t hop = 0;
        std::vector<HostAddress> responders;
        std::uint32_t sent = 0, received = 0;
        double lossPercent = 0;
        std::uint32_t lastUs = 0, bestUs = 0, worstUs = 0;
        double averageUs = 0, stdevUs = 0, jitterUs = 0;
        bool routeChanged = false;
        std::int64_t routeChangedMs = 0;
        std::array<float, 32> spark{}; // last 32 round trips in ms, newest last, negative = lost
        std::uint8_t sparkCount = 0;
        HopNote note = HopNote::None;
    };
    struct ChartPoint {
        std::int64_t clockMs = 0;
        float minMs = 0, averageMs = 0, maxMs = 0;
        float lossPercent = 0;
    };
    struct RouteChange {
        std::int64_t clockMs = 0;
        std::int32_t hop = 0;
        HostAddress from, to;
    };

    void add(const MonitorSample& sample);
    const std::vector<HopRow>& rows() const { return m_rows; }
    void series(std::int32_t hop, std::int64_t fromMs, std::int64_t toMs,
                std::vector<ChartPoint>& out) const;
    const std::vector<RouteChange>& routeChanges() const { return m_changes; }
    std::int64_t firstMs() const { return m_samples.empty() ? 0 : m_samples.front().clockMs; }
    std::int64_t lastMs() const { return m_samples.empty() ? 0 : m_samples.back().clockMs; }
    std::int32_t destinationHop() const;

private:
    void notes();

    std::vector<MonitorSample> m_samples;
    std::vector<HopRow> m_rows;
    std::vector<RouteChange> m_changes;
    std::vector<double> m_sums; // per row: sum of squares of the round trips in ms
};

} // namespace hopwise
