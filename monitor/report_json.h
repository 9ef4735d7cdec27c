#pragma once

// The JSON of a route report, one object per line, as `hopwise-cli report --json` writes it and a
// monitor's export saves it: every object starts with schema_version, type and time. The README
// has the table of types and fields.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "trace/route_report.h"

namespace hopwise {

using WallTime = std::chrono::system_clock::time_point;

inline constexpr int kJsonSchemaVersion = 1;

// "2026-12-07T12:20:48.123Z"
std::string Rfc3339(WallTime time);

nlohmann::ordered_json JsonEvent(std::string_view type, WallTime time);
// method: the probe method of a trace or report ("udp", "tcp"); empty (ICMP echo) leaves it out.
nlohmann::ordered_json DestinationEvent(WallTime time, std::string_view host,
                                        std::string_view address, std::string_view method = {});

// The "mpls" array of a hop: {"label","tc","s","ttl"} per entry, top first.
nlohmann::ordered_json MplsJson(const MplsLabels& labels);

// A "report_hop" object; the labels last seen as "mpls" when there were any.
nlohmann::ordered_json ReportHopEvent(WallTime time, const HopStatistics& hop);

struct ReportSummary {
    std::string_view outcome; // "done", "cancelled"
    std::string_view host;
    std::string_view address;
    std::int32_t cycles = 0;
    std::size_t hops = 0;
    bool reached = false;
    int exitCode = 0;
};

// The report's final "summary" object.
nlohmann::ordered_json ReportSummaryEvent(WallTime time, const ReportSummary& summary);

} // namespace hopwise
