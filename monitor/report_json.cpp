#include "monitor/report_json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "probe/host_address.h"

namespace hopwise {

std::string Rfc3339(WallTime time)
{
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = seconds.count();
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

nlohmann::ordered_json JsonEvent(std::string_view type, WallTime time)
{
    return {{"schema_version", kJsonSchemaVersion}, {"type", type}, {"time", Rfc3339(time)}};
}

nlohmann::ordered_json DestinationEvent(WallTime time, std::string_view host,
                                        std::string_view address, std::string_view method)
{
    nlohmann::ordered_json event = JsonEvent("destination", time);
    event["host"] = host;
    event["address"] = address;
    if (!method.empty()) {
        event["method"] = method;
    }
    return event;
}

nlohmann::ordered_json MplsJson(const MplsLabels& labels)
{
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const MplsLabelEntry& entry : labels) {
        entries.push_back({{"label", entry.label},
                           {"tc", entry.trafficClass},
                           {"s", entry.bottom ? 1 : 0},
                           {"ttl", entry.ttl}});
    }
    return entries;
}

nlohmann::ordered_json ReportHopEvent(WallTime time, const HopStatistics& hop)
{
    nlohmann::ordered_json addresses = nlohmann::ordered_json::array();
    for (const HostAddress& address : hop.addresses) {
        addresses.push_back(FormatAddress(address));
    }
    // Times in whole microseconds, none at all for a hop that never answered.
    const auto us = [&hop](double value) {
        return hop.replies.count != 0 ? nlohmann::ordered_json(std::llround(value))
                                      : nlohmann::ordered_json(nullptr);
    };
    nlohmann::ordered_json event = JsonEvent("report_hop", time);
    event["hop"] = hop.hop;
    event["addresses"] = addresses;
    event["loss_percent"] = hop.lossPercent();
    event["sent"] = hop.sent;
    event["received"] = hop.replies.count;
    event["last_us"] = us(hop.replies.last);
    event["avg_us"] = us(hop.replies.mean());
    event["best_us"] = us(hop.replies.best);
    event["worst_us"] = us(hop.replies.worst);
    event["stdev_us"] = us(hop.replies.sampleDeviation());
    if (!hop.mpls.empty()) {
        event["mpls"] = MplsJson(hop.mpls);
    }
    return event;
}

nlohmann::ordered_json ReportSummaryEvent(WallTime time, const ReportSummary& summary)
{
    nlohmann::ordered_json event = JsonEvent("summary", time);
    event["final"] = true;
    event["outcome"] = summary.outcome;
    event["host"] = summary.host;
    event["address"] = summary.address;
    event["cycles"] = summary.cycles;
    event["hops"] = summary.hops;
    event["reached"] = summary.reached;
    event["exit_code"] = summary.exitCode;
    return event;
}

} // namespace hopwise
