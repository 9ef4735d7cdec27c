#pragma once

// How a route report reads: a table in the shape of mtr's report, and one JSON object per hop.

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/console_format.h"
#include "monitor/report_json.h"
#include "trace/route_report.h"

namespace hopwise::cli {

// The address column's width for an IPv4 destination; AddressColumnWidth gives it for the others.
inline constexpr int kReportAddressWidth = 24;

// "Start: 2026-12-07T23:59:00+0000", the run's start in local time, as mtr's report begins.
std::string ReportStartLine(WallTime start);

// The heading, which names the local host as mtr's does, and one line per hop
// ("  3.|-- 10.1.2.2  50.0%  10  0.051 ..."), times in milliseconds; a hop that never answered
// reads "???", and every further address a hop had gets a line of its own under it. label gives
// an address's text (the address, or its name with --resolve); the column widens to the longest.
std::vector<std::string> ReportLines(const std::string& localHost,
                                     const std::vector<HopStatistics>& table, int addressWidth,
                                     const std::function<std::string(const HostAddress&)>& label);

// A "report_hop" object, shared with the monitor's export.
using hopwise::ReportHopEvent;

} // namespace hopwise::cli
