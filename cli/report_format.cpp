#include "cli/report_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "probe/resolver.h"

namespace hopwise::cli {

namespace {

std::string formatted(const char* format, auto... values)
{
    char text[224];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

double ms(double us)
{
    return us / 1000.0;
}

} // namespace

std::string ReportStartLine(WallTime start)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(start);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "Start: %Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

std::vector<std::string> ReportLines(const std::string& localHost,
                                     const std::vector<HopStatistics>& table, int addressWidth,
                                     const std::function<std::string(const HostAddress&)>& label)
{
    for (const HopStatistics& hop : table) {
        for (const HostAddress& address : hop.addresses) {
            addressWidth = std::max(addressWidth, static_cast<int>(label(address).size()) + 1);
        }
    }
    std::vector<std::string> lines;
    lines.push_back(formatted("HOST: %-*s %6s %5s %8s %8s %8s %8s %8s", addressWidth + 2,
                              localHost.c_str(), "Loss%", "Snt", "Last", "Avg", "Best", "Wrst",
                              "StDev"));
    for (const HopStatistics& hop : table) {
        const std::string address =
            hop.addresses.empty() ? std::string("???") : label(hop.addresses.front());
        lines.push_back(formatted("%3d.|-- %-*s %5.1f%% %5u %8.3f %8.3f %8.3f %8.3f %8.3f",
                                  static_cast<int>(hop.hop), addressWidth, address.c_str(),
                                  hop.lossPercent(), hop.sent, ms(hop.replies.last),
                                  ms(hop.replies.mean()), ms(hop.replies.best),
                                  ms(hop.replies.worst), ms(hop.replies.sampleDeviation())));
        for (std::size_t i = 1; i < hop.addresses.size(); ++i) {
            lines.push_back(formatted("    |-- %s", label(hop.addresses[i]).c_str()));
        }
        // The labels the hop's reports last carried, an entry a line as under a trace's hop.
        for (const MplsLabelEntry& entry : hop.mpls) {
            lines.push_back(MplsLine(entry));
        }
    }
    return lines;
}

} // namespace hopwise::cli
