#pragma once

// A route monitor's worker: the route report's cycles on a thread of their own until stopped,
// every probe's outcome handed to the window's thread as a MonitorSample. The worker never waits
// for the window: samples go through a ring of fixed size, and when the window falls that far
// behind the oldest make way and are counted.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "monitor/monitor_model.h"
#include "monitor/monitor_sample.h"
#include "trace/route_report.h"

namespace hopwise {

class SessionWriter;

struct MonitorRunOptions {
    HostAddress destination;
    std::uint32_t intervalMs = 1000; // from one cycle's start to the next
    std::uint32_t timeoutMs = 1000;  // the longest wait of a probe
    std::int32_t maxHop = 30;        // the last hop probed
    ProbeMethod method;              // ICMP echo, UDP or TCP to a port
    std::size_t ringSamples = 1 << 16;
};

// A single-producer single-consumer ring that the producer never waits on: when it is full the
// oldest sample makes way (or, while the consumer is taking that one, the new one is dropped).
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity);
    void push(const MonitorSample& sample); // the producer's thread only
    bool pop(MonitorSample& sample);        // the consumer's thread only
    std::uint64_t dropped() const { return m_dropped.load(); }

private:
    struct Slot {
        std::atomic<std::uint64_t> sequence{0};
        MonitorSample sample;
    };
    std::unique_ptr<Slot[]> m_slots;
    std::size_t m_capacity;
    std::uint64_t m_write = 0; // the producer's
    std::atomic<std::uint64_t> m_read{0};
    std::atomic<std::uint64_t> m_dropped{0};
};

class MonitorRun {
public:
    explicit MonitorRun(const MonitorRunOptions& options);
    ~MonitorRun(); // stops
    MonitorRun(const MonitorRun&) = delete;
    MonitorRun& operator=(const MonitorRun&) = delete;

    void start();
    // No new cycle starts while paused; probes out still end and count.
    void pause();
    void resume();
    // Cancels and joins; probes still out are not counted.
    void stop();

    // On the window's thread: moves every sample the worker produced into the model, and into
    // the session file in one transaction. Yields how many.
    std::size_t drain(MonitorModel& model, SessionWriter* writer);

    bool running() const { return m_running.load(); }
    bool paused() const { return m_paused.load(); }
    RouteReportEnd end() const { return m_end.load(); }
    // Samples lost because the window didn't drain for too long.
    std::uint64_t dropped() const { return m_ring.dropped(); }
    const MonitorRunOptions& options() const { return m_options; }

private:
    MonitorRunOptions m_options;
    SampleRing m_ring;
    std::vector<MonitorSample> m_batch; // the drain's, allocated once
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_running{false};
    std::atomic<RouteReportEnd> m_end{RouteReportEnd::Done};
    std::thread m_thread;
};

} // namespace hopwise
