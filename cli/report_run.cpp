#include "cli/report_run.h"

#include <unistd.h>

#include <algorithm>
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

void printTable(std::ostream& out, const std::string& host, const std::vector<HopStatistics>& table,
                int addressWidth)
{
    for (const std::string& line : ReportLines(host, table, addressWidth)) {
        out << line << '\n';
    }
    out << std::flush;
}

int error(std::ostream& out, std::ostream& err, const CliOptions& options,
          const ConsoleHooks& hooks, std::string_view code, const std::string& message,
          int exitCode)
{
    err << message << '\n' << std::flush;
    if (options.json) {
        out << ErrorEvent(hooks.now(), code, message, exitCode).dump() << '\n' << std::flush;
    }
    return exitCode;
}

} // namespace

int RunReport(const CliOptions& options, std::ostream& out, std::ostream& err,
              const ConsoleHooks& hooks)
{
    std::atomic<bool> cancel{false};
    if (hooks.watchCancel) {
        hooks.watchCancel(cancel);
    }
    const HostAddress destination = ResolveHost(options.host.c_str(), options.families);
    if (!destination) {
        return error(out, err, options, hooks, "unresolved", std::string(res::kCantResolveName),
                     kExitUnresolved);
    }
    const std::string address = FormatAddress(destination);
    if (options.json) {
        out << DestinationEvent(hooks.now(), options.host, address).dump() << '\n' << std::flush;
    }
    const std::string host = options.host + " (" + address + ")";
    const int addressWidth = AddressColumnWidth(address, kReportAddressWidth);
    const bool live = options.live && !options.json && out.rdbuf() == std::cout.rdbuf() &&
                      isatty(STDOUT_FILENO) == 1;

    RouteReportOptions report;
    report.destination = destination;
    report.maxHop = options.maxHop;
    report.timeoutMs = static_cast<std::uint32_t>(options.timeoutMs);
    report.waitHere = options.waitHere;
    report.waitNear = options.waitNear;
    report.cycles = options.cycles;
    report.intervalMs = static_cast<std::uint32_t>(options.intervalMs);
    report.probesInFlight = options.parallel;
    std::vector<HopStatistics> table;
    const RouteReportResult run = RunRouteReport(
        report, cancel, table, [&](const std::vector<HopStatistics>& sofar, bool cycleDone) {
            if (!live) {
                return;
            }
            // Between cycles the hops found so far, up to the furthest that answered.
            auto shown = sofar.end();
            while (!cycleDone && shown != sofar.begin() && (shown - 1)->addresses.empty()) {
                --shown;
            }
            out << kRedraw;
            printTable(out, host, {sofar.begin(), shown}, addressWidth);
        });
    const RouteReportEnd end = run.end;
    if (end == RouteReportEnd::NotPermitted) {
        return error(out, err, options, hooks, "not_permitted", EchoPermissionHint(),
                     kExitNotPermitted);
    }
    const bool reached = !table.empty() && table.back().replies.count != 0 &&
                         std::find(table.back().addresses.begin(), table.back().addresses.end(),
                                   destination) != table.back().addresses.end();
    const int exitCode = reached ? kExitAnswered : kExitUnanswered;
    if (!options.json) {
        if (live) {
            out << kRedraw;
        }
        printTable(out, host, table, addressWidth);
        return exitCode;
    }
    for (const HopStatistics& hop : table) {
        out << ReportHopEvent(hooks.now(), hop).dump() << '\n';
    }
    nlohmann::ordered_json summary = JsonEvent("summary", hooks.now());
    summary["final"] = true;
    summary["outcome"] = end == RouteReportEnd::Cancelled ? "cancelled" : "done";
    summary["host"] = options.host;
    summary["address"] = address;
    summary["cycles"] = run.cycles;
    summary["hops"] = table.size();
    summary["reached"] = reached;
    summary["exit_code"] = exitCode;
    out << summary.dump() << '\n' << std::flush;
    return exitCode;
}

} // namespace hopwise::cli
