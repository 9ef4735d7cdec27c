#include "cli/report_run.h"

#include <unistd.h>

#include <iostream>

#include "cli/console_format.h"
#include "cli/exit_codes.h"
#include "cli/report_format.h"
#include "probe/echo_permission.h"
#include "probe/resolver.h"
#include "res/texts.h"

namespace hopwise::cli {

namespace {

// Home, then clear to the end of the screen: the next table overwrites the last.
constexpr char kRedraw[] = "\x1b[H\x1b[J";

void printTable(std::ostream& out, const std::string& host, const std::vector<HopStatistics>& table)
{
    for (const std::string& line : ReportLines(host, table)) {
        out << line << '\n';
    }
    out << std::flush;
}

} // namespace

int RunReport(const CliOptions& options, std::ostream& out, std::ostream& err,
              const std::function<void(std::atomic<bool>&)>& watchCancel)
{
    std::atomic<bool> cancel{false};
    if (watchCancel) {
        watchCancel(cancel);
    }
    const IpAddress destination = ResolveHostName(options.host.c_str());
    if (destination == 0 || destination == kAddressNone) {
        err << res::kCantResolveName << '\n' << std::flush;
        if (options.json) {
            out << UnresolvedEvent().dump() << '\n' << std::flush;
        }
        return kExitUnresolved;
    }
    const std::string host = options.host + " (" + FormatAddress(destination) + ")";
    const bool live = options.live && !options.json && out.rdbuf() == std::cout.rdbuf() &&
                      isatty(STDOUT_FILENO) == 1;

    RouteReportOptions report;
    report.destination = destination;
    report.maxHop = options.maxHop;
    report.timeoutMs = static_cast<std::uint32_t>(options.timeoutMs);
    report.cycles = options.cycles;
    report.intervalMs = static_cast<std::uint32_t>(options.intervalMs);
    report.probesInFlight = options.parallel;
    std::vector<HopStatistics> table;
    const RouteReportEnd end =
        RunRouteReport(report, cancel, table, [&](const std::vector<HopStatistics>& sofar) {
            if (live) {
                out << kRedraw;
                printTable(out, host, sofar);
            }
        });
    if (end == RouteReportEnd::NotPermitted) {
        err << EchoPermissionHint() << '\n' << std::flush;
        if (options.json) {
            out << NotPermittedEvent(EchoPermissionHint()).dump() << '\n' << std::flush;
        }
        return kExitNotPermitted;
    }
    if (options.json) {
        for (const HopStatistics& hop : table) {
            out << ReportHopEvent(hop).dump() << '\n';
        }
        out << FinishedEvent(end == RouteReportEnd::Cancelled ? "cancelled" : "done").dump() << '\n'
            << std::flush;
    } else if (!live) {
        printTable(out, host, table);
    }
    return end == RouteReportEnd::Cancelled ? kExitCancelled : kExitDone;
}

} // namespace hopwise::cli
