#pragma once

// STAND-IN: the integrator replaces it with the monitor model's own (SQLite). This one keeps
// the samples in memory and saves them as text lines.

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/monitor_model.h"

namespace hopwise {

struct SessionInfo {
    std::string host;
    std::uint32_t intervalMs = 1000, timeoutMs = 1000;
    std::int64_t startMs = 0, endMs = 0;
};

class SessionWriter {
public:
    explicit SessionWriter(SessionInfo info) : m_info(std::move(info)) {}

private:
    friend class MonitorRun;
    friend bool SaveSessionCopy(const SessionWriter&, const std::string&, std::string&);
    SessionInfo m_info;
    std::vector<MonitorSample> m_samples;
};

bool SaveSessionCopy(const SessionWriter& writer, const std::string& path, std::string& error);
bool OpenSession(const std::string& path, SessionInfo& info, MonitorModel& model,
                 std::string& error);

} // namespace hopwise
