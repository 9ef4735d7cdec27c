// STAND-IN for the monitor model, run, session file and exports, so that the window builds and
// its tests run before the real ones arrive. Deliberately naive; the integrator deletes it.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "monitor/monitor_export.h"
#include "monitor/monitor_model.h"
#include "monitor/monitor_run.h"
#include "monitor/session_file.h"

namespace hopwise {

void MonitorModel::add(const MonitorSample& sample)
{
    m_samples.push_back(sample);
    auto row = std::find_if(m_rows.begin(), m_rows.end(),
                            [&sample](const HopRow& r) { return r.hop >= sample.hop; });
    if (row == m_rows.end() || row->hop != sample.hop) {
        const auto at = row - m_rows.begin();
        m_rows.insert(row, HopRow{});
        m_sums.insert(m_sums.begin() + at, 0.0);
        row = m_rows.begin() + at;
        row->hop = sample.hop;
    }
    HopRow& r = *row;
    const double ms = sample.roundTripUs / 1000.0;
    ++r.sent;
    if (sample.answered) {
        if (r.received > 0) {
            r.jitterUs += (std::abs(double(sample.roundTripUs) - r.lastUs) - r.jitterUs) / 16;
        }
        ++r.received;
        r.lastUs = sample.roundTripUs;
        r.bestUs = r.received == 1 ? r.lastUs : std::min(r.bestUs, r.lastUs);
        r.worstUs = std::max(r.worstUs, r.lastUs);
        r.averageUs += (sample.roundTripUs - r.averageUs) / r.received;
        double& squares = m_sums[std::size_t(row - m_rows.begin())];
        squares += ms * ms;
        const double meanMs = r.averageUs / 1000;
        r.stdevUs = r.received > 1
                        ? 1000 * std::sqrt(std::max(0.0, squares / r.received - meanMs * meanMs))
                        : 0;
        if (std::find(r.responders.begin(), r.responders.end(), sample.responder) ==
            r.responders.end()) {
            if (!r.responders.empty()) {
                m_changes.push_back({sample.clockMs, r.hop, r.responders.back(), sample.responder});
                r.routeChanged = true;
                r.routeChangedMs = sample.clockMs;
            }
            r.responders.push_back(sample.responder);
        }
    }
    r.lossPercent = 100.0 * (r.sent - r.received) / r.sent;
    std::rotate(r.spark.begin(), r.spark.begin() + 1, r.spark.end());
    r.spark.back() = sample.answered ? float(ms) : -1.0F;
    r.sparkCount = std::uint8_t(std::min<int>(r.sparkCount + 1, int(r.spark.size())));
    notes();
}

void MonitorModel::notes()
{
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        HopRow& r = m_rows[i];
        r.note = HopNote::None;
        if (r.lossPercent <= 0) {
            continue;
        }
        const bool laterAll =
            std::all_of(m_rows.begin() + long(i) + 1, m_rows.end(),
                        [](const HopRow& later) { return later.lossPercent > 0; });
        const bool laterLess =
            std::any_of(m_rows.begin() + long(i) + 1, m_rows.end(),
                        [&r](const HopRow& later) { return later.lossPercent < r.lossPercent; });
        if (laterLess && i + 1 < m_rows.size()) {
            r.note = HopNote::RateLimited;
        } else if (laterAll && (i == 0 || m_rows[i - 1].lossPercent <= 0)) {
            r.note = HopNote::LossBegins;
        }
    }
}

void MonitorModel::series(std::int32_t hop, std::int64_t fromMs, std::int64_t toMs,
                          std::vector<ChartPoint>& out) const
{
    out.clear();
    for (const MonitorSample& s : m_samples) {
        if (s.hop == hop && s.clockMs >= fromMs && s.clockMs <= toMs) {
            const float ms = s.answered ? float(s.roundTripUs) / 1000 : 0;
            out.push_back({s.clockMs, ms, ms, ms, s.answered ? 0.0F : 100.0F});
        }
    }
}

std::int32_t MonitorModel::destinationHop() const
{
    return m_rows.empty() ? 0 : m_rows.back().hop;
}

void MonitorRun::start()
{
    m_running = true;
    m_paused = false;
    m_next = std::chrono::steady_clock::now();
}

void MonitorRun::resume()
{
    m_paused = false;
    m_next = std::chrono::steady_clock::now();
}

std::size_t MonitorRun::drain(MonitorModel& model, SessionWriter* writer)
{
    constexpr std::int16_t kHops = 3;
    std::size_t count = 0;
    const auto now = std::chrono::steady_clock::now();
    for (int cycles = 0; m_running && !m_paused && m_next <= now && cycles < 100; ++cycles) {
        const auto clockMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
        for (std::int16_t hop = 1; hop <= kHops; ++hop) {
            const HostAddress responder =
                hop == kHops ? m_options.destination
                             : HostAddress::ipv4(IpAddress(0x0000000A | (hop << 24)));
            const MonitorSample sample{
                clockMs,  m_cycle, hop, true, std::uint32_t(1000 * hop + 100 * (m_cycle % 7)),
                responder};
            model.add(sample);
            if (writer != nullptr) {
                writer->m_samples.push_back(sample);
            }
            ++count;
        }
        ++m_cycle;
        m_next += std::chrono::milliseconds(m_options.intervalMs);
    }
    return count;
}

bool SaveSessionCopy(const SessionWriter& writer, const std::string& path, std::string& error)
{
    std::ofstream file(path);
    file << writer.m_info.host << '\n'
         << writer.m_info.intervalMs << ' ' << writer.m_info.timeoutMs << '\n';
    for (const MonitorSample& s : writer.m_samples) {
        file << s.clockMs << ' ' << s.cycle << ' ' << s.hop << ' ' << s.answered << ' '
             << s.roundTripUs << ' ' << s.responder.toIpv4() << '\n';
    }
    if (!file) {
        error = "can't write " + path;
    }
    return bool(file);
}

bool OpenSession(const std::string& path, SessionInfo& info, MonitorModel& model,
                 std::string& error)
{
    std::ifstream file(path);
    if (!std::getline(file, info.host) || !(file >> info.intervalMs >> info.timeoutMs)) {
        error = "not a session: " + path;
        return false;
    }
    MonitorSample s{};
    IpAddress address = 0;
    while (file >> s.clockMs >> s.cycle >> s.hop >> s.answered >> s.roundTripUs >> address) {
        s.responder = address != 0 ? HostAddress::ipv4(address) : HostAddress();
        model.add(s);
    }
    info.startMs = model.firstMs();
    info.endMs = model.lastMs();
    return true;
}

std::string MonitorTableCsv(const MonitorModel& model)
{
    std::ostringstream out;
    out << "hop,address,loss,sent,received\n";
    for (const auto& r : model.rows()) {
        out << r.hop << ',' << (r.responders.empty() ? "" : FormatAddress(r.responders.back()))
            << ',' << r.lossPercent << ',' << r.sent << ',' << r.received << '\n';
    }
    return out.str();
}

std::string MonitorReportJson(const MonitorModel& model, const SessionInfo& info)
{
    return "{\"host\":\"" + info.host + "\",\"hops\":" + std::to_string(model.rows().size()) +
           "}\n";
}

std::string MonitorTableText(const MonitorModel& model)
{
    std::string text = MonitorTableCsv(model);
    std::replace(text.begin(), text.end(), ',', '\t');
    return text;
}

} // namespace hopwise
