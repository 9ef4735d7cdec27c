#include "monitor/monitor_export.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "monitor/report_json.h"
#include "res/texts.h"

namespace hopwise {

namespace {

std::string responders(const HopRow& row)
{
    std::string text;
    for (const HostAddress& address : row.responders) {
        text += text.empty() ? "" : " ";
        text += FormatAddress(address);
    }
    return text;
}

std::string number(const char* format, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The row's cells; times are empty for a hop that never answered.
std::array<std::string, 12> cells(const HopRow& row)
{
    const bool replies = row.received != 0;
    const auto ms = [replies](double us) { return replies ? number("%.3f", us / 1000.0) : ""; };
    return {std::to_string(row.hop),
            responders(row),
            number("%.1f", row.lossPercent),
            std::to_string(row.sent),
            std::to_string(row.received),
            ms(row.lastUs),
            ms(row.averageUs),
            ms(row.bestUs),
            ms(row.worstUs),
            ms(row.stdevUs),
            ms(row.jitterUs),
            std::string(HopNoteText(row.note))};
}

constexpr std::array<std::string_view, 12> kColumns = {
    res::kMonitorColumnHop,     res::kMonitorColumnResponders, res::kMonitorColumnLoss,
    res::kMonitorColumnSent,    res::kMonitorColumnReceived,   res::kMonitorColumnLast,
    res::kMonitorColumnAverage, res::kMonitorColumnBest,       res::kMonitorColumnWorst,
    res::kMonitorColumnStdev,   res::kMonitorColumnJitter,     res::kMonitorColumnNote};

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string csvField(std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(field);
    }
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

WallTime wallTime(std::int64_t ms)
{
    return WallTime(std::chrono::milliseconds(ms));
}

} // namespace

std::string_view HopNoteText(HopNote note)
{
    switch (note) {
    case HopNote::RateLimited:
        return res::kMonitorNoteRateLimited;
    case HopNote::LossBegins:
        return res::kMonitorNoteLossBegins;
    case HopNote::None:
        break;
    }
    return {};
}

std::string MonitorTableCsv(const MonitorModel& model)
{
    std::string text;
    const auto line = [&text](const auto& fields) {
        bool first = true;
        for (const auto& field : fields) {
            text += first ? "" : ",";
            text += csvField(field);
            first = false;
        }
        text += "\r\n";
    };
    line(kColumns);
    for (const HopRow& row : model.rows()) {
        line(cells(row));
    }
    return text;
}

std::string MonitorReportJson(const MonitorModel& model, const SessionInfo& info)
{
    const WallTime end = wallTime(info.endMs != 0 ? info.endMs : model.lastMs());
    const WallTime start = wallTime(info.startMs != 0 ? info.startMs : model.firstMs());
    std::string text = DestinationEvent(start, info.host, info.address).dump() + '\n';
    const std::vector<HopRow>& rows = model.rows();
    for (const HopRow& row : rows) {
        text += ReportHopEvent(end, model.statistics(row.hop)).dump() + '\n';
    }
    ReportSummary summary;
    summary.outcome = "done";
    summary.host = info.host;
    summary.address = info.address;
    summary.cycles = model.cycles();
    summary.hops = rows.size();
    summary.reached = model.destinationHop() != 0;
    summary.exitCode = summary.reached ? 0 : 1; // as hopwise-cli report would exit
    nlohmann::ordered_json event = ReportSummaryEvent(end, summary);
    event["start"] = Rfc3339(start);
    event["end"] = Rfc3339(end);
    return text + event.dump() + '\n';
}

std::string MonitorTableText(const MonitorModel& model)
{
    std::vector<std::array<std::string, 12>> table;
    std::array<std::string, 12> heading;
    std::copy(kColumns.begin(), kColumns.end(), heading.begin());
    table.push_back(heading);
    for (const HopRow& row : model.rows()) {
        table.push_back(cells(row));
        if (row.responders.empty()) {
            table.back()[1] = res::kMonitorNoResponse;
        }
    }
    std::array<std::size_t, 12> widths{};
    for (const auto& row : table) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : table) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            // The responders and the note to the left, the figures to the right.
            const bool left = i == 1 || i == row.size() - 1;
            const std::string pad(widths[i] - row[i].size(), ' ');
            line += (i == 0 ? "" : "  ") + (left ? row[i] + pad : pad + row[i]);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
}

} // namespace hopwise
