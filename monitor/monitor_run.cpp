#include "monitor/monitor_run.h"

#include <algorithm>
#include <limits>

#include "monitor/session_file.h"

namespace hopwise {

SampleRing::SampleRing(std::size_t capacity)
    : m_slots(std::make_unique<Slot[]>(std::max<std::size_t>(capacity, 2))),
      m_capacity(std::max<std::size_t>(capacity, 2))
{
    // A slot is free for item n while its sequence is n, and holds item n once it is n + 1.
    for (std::size_t i = 0; i < m_capacity; ++i) {
        m_slots[i].sequence.store(i);
    }
}

void SampleRing::push(const MonitorSample& sample)
{
    Slot& slot = m_slots[m_write % m_capacity];
    if (slot.sequence.load(std::memory_order_acquire) != m_write) {
        // Full: take the oldest item as the consumer would, and drop it.
        std::uint64_t oldest = m_write - m_capacity;
        if (!m_read.compare_exchange_strong(oldest, oldest + 1, std::memory_order_acq_rel)) {
            m_dropped.fetch_add(1); // the consumer is taking it right now: drop the new one
            return;
        }
        m_dropped.fetch_add(1);
    }
    slot.sample = sample;
    slot.sequence.store(m_write + 1, std::memory_order_release);
    ++m_write;
}

bool SampleRing::pop(MonitorSample& sample)
{
    for (;;) {
        std::uint64_t read = m_read.load(std::memory_order_acquire);
        Slot& slot = m_slots[read % m_capacity];
        if (slot.sequence.load(std::memory_order_acquire) != read + 1) {
            return false;
        }
        if (!m_read.compare_exchange_strong(read, read + 1, std::memory_order_acq_rel)) {
            continue; // the producer dropped it meanwhile
        }
        sample = slot.sample;
        slot.sequence.store(read + m_capacity, std::memory_order_release);
        return true;
    }
}

MonitorRun::MonitorRun(const MonitorRunOptions& options)
    : m_options(options), m_ring(options.ringSamples)
{
    m_batch.reserve(std::max<std::size_t>(options.ringSamples, 2));
}

MonitorRun::~MonitorRun()
{
    stop();
}

void MonitorRun::start()
{
    if (m_thread.joinable()) {
        return;
    }
    m_cancel.store(false);
    m_running.store(true);
    m_thread = std::thread([this] {
        RouteReportOptions report;
        report.destination = m_options.destination;
        report.maxHop = m_options.maxHop + 1;
        report.timeoutMs = m_options.timeoutMs;
        report.method = m_options.method;
        // hopwise-cli report's adaptive waits (-w MAX,3,10).
        report.waitHere = 3;
        report.waitNear = 10;
        report.cycles = std::numeric_limits<std::int32_t>::max();
        report.intervalMs = m_options.intervalMs;
        report.paused = &m_paused;
        report.probesInFlight = std::max(16, m_options.maxHop);
        report.probeEnded = [this](const ReportProbe& probe) {
            MonitorSample sample;
            sample.clockMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 probe.cycleStart.time_since_epoch())
                                 .count();
            sample.cycle = probe.cycle;
            sample.hop = static_cast<std::int16_t>(probe.hop);
            sample.answered = probe.answered;
            sample.roundTripUs = probe.roundTripUs;
            sample.responder = probe.responder;
            sample.mpls = probe.labels;
            m_ring.push(sample);
        };
        std::vector<HopStatistics> table;
        const RouteReportResult result = RunRouteReport(report, m_cancel, table, nullptr);
        m_end.store(result.end);
        m_running.store(false);
    });
}

void MonitorRun::pause()
{
    m_paused.store(true);
}

void MonitorRun::resume()
{
    m_paused.store(false);
}

void MonitorRun::stop()
{
    m_cancel.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::size_t MonitorRun::drain(MonitorModel& model, SessionWriter* writer)
{
    if (!(model.destination() == m_options.destination)) {
        model.setDestination(m_options.destination);
    }
    m_batch.clear();
    MonitorSample sample;
    while (m_batch.size() < m_batch.capacity() && m_ring.pop(sample)) {
        m_batch.push_back(sample);
    }
    for (const MonitorSample& each : m_batch) {
        model.add(each);
    }
    if (writer != nullptr && !m_batch.empty()) {
        writer->append(m_batch.data(), m_batch.size());
    }
    return m_batch.size();
}

} // namespace hopwise
