#include "cli/report_run.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>

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

// The local host's name, as mtr's report heading gives it.
std::string localHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "localhost";
    }
    return name;
}

// An address's name with --resolve, looked up once per address for the whole run (a live table
// is drawn again after every cycle); std::nullopt when it has none.
class HopNames {
public:
    explicit HopNames(bool resolve) : m_resolve(resolve) {}

    std::optional<std::string> name(const HostAddress& address)
    {
        if (!m_resolve) {
            return std::nullopt;
        }
        const std::string text = FormatAddress(address);
        const auto [known, added] = m_names.try_emplace(text);
        if (added) {
            const char* found = ResolveHostAddress(address);
            if (found != nullptr && *found != '\0') {
                known->second = found;
            }
        }
        return known->second;
    }

    std::string label(const HostAddress& address)
    {
        return name(address).value_or(FormatAddress(address));
    }

private:
    bool m_resolve;
    std::map<std::string, std::optional<std::string>> m_names;
};

void printTable(std::ostream& out, const std::string& start,
                const std::vector<HopStatistics>& table, int addressWidth, HopNames& names)
{
    out << start << '\n';
    for (const std::string& line :
         ReportLines(localHostName(), table, addressWidth,
                     [&names](const HostAddress& address) { return names.label(address); })) {
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
        return error(out, err, options, hooks, "unresolved",
                     std::string(res::kCantResolveName) + ": " + options.host, kExitUnresolved);
    }
    const std::string address = FormatAddress(destination);
    if (options.json) {
        out << DestinationEvent(hooks.now(), options.host, address, JsonMethodName(options.method))
                   .dump()
            << '\n'
            << std::flush;
    }
    const std::string start = ReportStartLine(hooks.now());
    HopNames names(options.resolve);
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
    report.method = options.method;
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
            printTable(out, start, {sofar.begin(), shown}, addressWidth, names);
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
        printTable(out, start, table, addressWidth, names);
        return exitCode;
    }
    for (const HopStatistics& hop : table) {
        nlohmann::ordered_json event = ReportHopEvent(hooks.now(), hop);
        if (options.resolve) {
            nlohmann::ordered_json hopNames = nlohmann::ordered_json::array();
            for (const HostAddress& responder : hop.addresses) {
                const std::optional<std::string> name = names.name(responder);
                hopNames.push_back(name ? nlohmann::ordered_json(*name)
                                        : nlohmann::ordered_json(nullptr));
            }
            event["names"] = hopNames;
        }
        out << event.dump() << '\n';
    }
    ReportSummary summary;
    summary.outcome = end == RouteReportEnd::Cancelled ? "cancelled" : "done";
    summary.host = options.host;
    summary.address = address;
    summary.cycles = run.cycles;
    summary.hops = table.size();
    summary.reached = reached;
    summary.exitCode = exitCode;
    out << ReportSummaryEvent(hooks.now(), summary).dump() << '\n' << std::flush;
    return exitCode;
}

} // namespace hopwise::cli
