#include "cli/console_run.h"

#include <arpa/inet.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "cli/cli_options.h"
#include "cli/console_receiver.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_signal.h"
#include "cli/report_run.h"
#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
#include "res/texts.h"
#include "trace/parallel_trace.h"
#include "trace/trace_route_thread.h"

namespace hopwise::cli {

namespace {

// Runs the worker to its end on the calling thread, which is then the receiver's thread too:
// each notice is written out from inside the worker's send, with no second thread to start and
// no hand-over per probe (a thread put to sleep and woken costs more than an echo on loopback).
// Ctrl-C only sets the cancel flag, so the run ends after the probe in flight. Ping's running
// summary (Ctrl-\) is written by the quit watch's thread, which the receiver lets in between two
// notices.
template <class Inputs>
int runPageHere(Inputs& page, std::uint32_t (*worker)(Inputs*), const CliOptions& options,
                std::ostream& out, std::ostream& err, const ConsoleHooks& hooks)
{
    if (hooks.watchCancel) {
        hooks.watchCancel(page.m_bCancel);
    }
    ConsoleReceiver receiver({options.kind, options.host, options.json, options.quiet,
                              options.firstHop, options.probesPerHop, options.showBytes,
                              options.reportOutstanding, options.unixTimes,
                              std::string(JsonMethodName(options.method)), options.flows},
                             out, err, page.m_bCancel, hooks.now, [] {});
    std::optional<QuitSignalWatch> quitWatch;
    if (options.kind == ProbeKind::Ping && hooks.summaryOnQuit) {
        quitWatch.emplace([&receiver] { receiver.runningSummary(); });
    }
    page.m_pWindow = &receiver;
    worker(&page);
    quitWatch.reset();
    return receiver.exitCode();
}

// The -I / -i / -s option that named an unusable interface or address, and why.
struct SourceProblem {
    std::string option;
    std::string value;
    std::string_view why;
};

// An address as -I or -s gives it: dotted IPv4, or an IPv6 literal with its zone. Never looked up.
HostAddress sourceAddressOf(const std::string& text)
{
    in_addr ipv4{};
    if (inet_pton(AF_INET, text.c_str(), &ipv4) == 1) {
        return HostAddress::ipv4(ipv4.s_addr);
    }
    return ParseIpv6Literal(text.c_str()).value_or(HostAddress{});
}

EchoPathMtu pathMtuOf(PathMtuMode mode)
{
    switch (mode) {
    case PathMtuMode::Do:
        return EchoPathMtu::Do;
    case PathMtuMode::Dont:
        return EchoPathMtu::Dont;
    case PathMtuMode::Want:
        return EchoPathMtu::Want;
    case PathMtuMode::Default:
        break;
    }
    return EchoPathMtu::ByFlags;
}

// How the run's echoes leave, checked against this system before anything is sent. A source
// address holds the run to its family, as -4 or -6 would.
std::optional<SourceProblem> socketSettingsOf(const CliOptions& options,
                                              EchoSocketSettings& settings, FamilyChoice& families)
{
    const bool ping = options.kind == ProbeKind::Ping;
    settings.interface = options.interface;
    settings.pathMtu = ping ? pathMtuOf(options.pathMtu) : EchoPathMtu::ByFlags;
    if (!options.interface.empty() &&
        CheckEchoSocketSettings({options.interface, {}, {}}) != EchoSocketProblem::None) {
        return SourceProblem{ping ? "-I" : "-i", options.interface,
                             ping ? res::kNoSuchInterfaceOrAddress : res::kNoSuchInterface};
    }
    if (options.source.empty()) {
        return std::nullopt;
    }
    const std::string option = ping ? "-I" : "-s";
    settings.source = sourceAddressOf(options.source);
    if (!settings.source ||
        CheckEchoSocketSettings({{}, settings.source, {}}) != EchoSocketProblem::None) {
        return SourceProblem{option, options.source, res::kNotLocalAddress};
    }
    const FamilyChoice own =
        settings.source.isIpv6() ? FamilyChoice::Ipv6Only : FamilyChoice::Ipv4Only;
    if (families != FamilyChoice::Any && families != own) {
        return SourceProblem{option, options.source,
                             families == FamilyChoice::Ipv4Only ? res::kNotIpv4Address
                                                                : res::kNotIpv6Address};
    }
    families = own;
    return std::nullopt;
}

} // namespace

int RefuseStart(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const std::string& message, const ConsoleHooks& hooks)
{
    err << message << '\n' << std::flush;
    if (WantsJson(argc, argv)) {
        out << ErrorEvent(hooks.now(), "not_permitted", message, kExitNotPermitted).dump() << '\n'
            << std::flush;
    }
    return kExitNotPermitted;
}

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   const ConsoleHooks& hooks)
{
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    out << parsed.out << std::flush;
    err << parsed.err << std::flush;
    if (!parsed.options) {
        if (parsed.exitCode == kExitUsage && WantsJson(argc, argv)) {
            // The first line says what was wrong; the usage that follows is for people.
            const std::string what = parsed.err.substr(0, parsed.err.find('\n'));
            out << ErrorEvent(hooks.now(), "usage", what, kExitUsage).dump() << '\n' << std::flush;
        }
        return parsed.exitCode;
    }
    const CliOptions& options = *parsed.options;

    EchoSocketSettings socket;
    FamilyChoice families = options.families;
    if (options.kind != ProbeKind::Report) {
        if (const auto problem = socketSettingsOf(options, socket, families)) {
            char line[512];
            std::snprintf(line, sizeof line, std::string(res::kOptionValueFormat).c_str(),
                          options.kind == ProbeKind::Ping ? "ping" : "trace",
                          problem->option.c_str(), problem->value.c_str(),
                          std::string(problem->why).c_str());
            err << line << "\nTry 'hopwise-cli "
                << (options.kind == ProbeKind::Ping ? "ping" : "trace") << " --help'.\n"
                << std::flush;
            if (options.json) {
                out << ErrorEvent(hooks.now(), "usage", line, kExitUsage).dump() << '\n'
                    << std::flush;
            }
            return kExitUsage;
        }
    }

    // Cheap, and it spares the user a name lookup that could never be followed by a probe.
    // UDP and TCP probes need no permission at all.
    if (options.method.protocol == ProbeProtocol::IcmpEcho &&
        CheckEchoPermission() == IcmpSocketKind::None) {
        return RefuseStart(argc, argv, out, err, EchoPermissionHint(), hooks);
    }

    if (options.kind == ProbeKind::Report) {
        return RunReport(options, out, err, hooks);
    }
    if (options.kind == ProbeKind::Trace) {
        ParallelTraceInputs page;
        SetHostText(page.m_szHost, options.host);
        page.m_iMaxHopCount = options.maxHop;
        page.m_iHopTimeout = options.timeoutMs;
        page.m_bResolveIP = options.resolve;
        page.m_probesInFlight = options.parallel;
        page.m_firstHop = options.firstHop;
        page.m_probesPerHop = options.probesPerHop;
        page.m_waitHere = options.waitHere;
        page.m_waitNear = options.waitNear;
        page.m_families = families;
        page.m_socket = socket;
        page.m_pathMtu = options.traceMtu;
        page.m_method = options.method;
        page.m_flows = options.flows;
        // One probe out at a time leaves nothing to cut a wait short: the window's own walk, which
        // sends ICMP echo alone.
        if (options.parallel == 1 && options.firstHop == 1 && options.probesPerHop == 1 &&
            !options.traceMtu && options.method == ProbeMethod{}) {
            TraceRouteInputs& walk = page;
            return runPageHere(walk, TraceRouteThread, options, out, err, hooks);
        }
        return runPageHere(page, ParallelTraceThread, options, out, err, hooks);
    }
    PingInputs page;
    SetHostText(page.m_szHost, options.host);
    page.m_iMaxHopCount = options.ttl;
    page.m_iNumTrials = options.count;
    page.m_iHopTimeout = options.timeoutMs;
    page.m_iIntervalMs = options.intervalMs;
    page.m_families = families;
    page.m_iPayloadSize = options.payloadSize;
    page.m_tos = static_cast<std::uint8_t>(options.tos);
    page.m_socket = socket;
    page.m_iDeadlineMs = options.deadlineMs;
    return runPageHere(page, PingThread, options, out, err, hooks);
}

} // namespace hopwise::cli
