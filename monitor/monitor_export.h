#pragma once

// A monitor's table as files and the clipboard take it: CSV (RFC 4180), the JSON of
// `hopwise-cli report --json` with the run's start and end, and aligned plain text.

#include <string>

#include "monitor/monitor_model.h"
#include "monitor/session_file.h"

namespace hopwise {

// A header row, then one row per hop; a hop's responders joined by spaces, times in ms.
std::string MonitorTableCsv(const MonitorModel& model);

// The report's objects, one per line: "destination", a "report_hop" per row and the "summary",
// which adds "start" and "end" (RFC 3339).
std::string MonitorReportJson(const MonitorModel& model, const SessionInfo& info);

// The table as aligned columns, for Copy.
std::string MonitorTableText(const MonitorModel& model);

// What a note reads as in the table ("" for none).
std::string_view HopNoteText(HopNote note);

} // namespace hopwise
