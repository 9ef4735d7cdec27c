#pragma once

// STAND-IN: the integrator replaces it with the monitor model's own. This one probes nothing:
// every hop up to a fixed third answers each cycle with a made-up round trip.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "monitor/monitor_model.h"
#include "trace/route_report.h"

namespace hopwise {

class SessionWriter;

struct MonitorRunOptions {
    HostAddress destination;
    std::uint32_t intervalMs = 1000;
    std::uint32_t timeoutMs = 1000;
    std::int32_t maxHop = 30;
};

class MonitorRun {
public:
    explicit MonitorRun(MonitorRunOptions options) : m_options(options) {}
    void start();
    void pause() { m_paused = true; }
    void resume();
    void stop() { m_running = false; }
    std::size_t drain(MonitorModel& model, SessionWriter* writer);
    bool running() const { return m_running; }
    RouteReportEnd end() const { return RouteReportEnd::Done; }

private:
    MonitorRunOptions m_options;
    std::chrono::steady_clock::time_point m_next;
    std::int32_t m_cycle = 0;
    bool m_running = false;
    bool m_paused = false;
};

} // namespace hopwise
