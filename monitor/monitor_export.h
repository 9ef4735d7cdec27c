#pragma once

// STAND-IN: the integrator replaces it with the monitor model's own.

#include <string>

#include "monitor/monitor_model.h"
#include "monitor/session_file.h"

namespace hopwise {

std::string MonitorTableCsv(const MonitorModel& model);
std::string MonitorReportJson(const MonitorModel& model, const SessionInfo& info);
std::string MonitorTableText(const MonitorModel& model);

} // namespace hopwise
