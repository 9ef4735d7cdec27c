#include "cli/console_run.h"

#include <memory>
#include <optional>

#include "cli/cli_options.h"
#include "cli/console_receiver.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_signal.h"
#include "cli/report_run.h"
#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
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
                              options.firstHop, options.probesPerHop},
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

    // Cheap, and it spares the user a name lookup that could never be followed by a probe.
    if (CheckEchoPermission() == IcmpSocketKind::None) {
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
        page.m_families = options.families;
        // One probe out at a time leaves nothing to cut a wait short: the window's own walk.
        if (options.parallel == 1 && options.firstHop == 1 && options.probesPerHop == 1) {
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
    page.m_families = options.families;
    return runPageHere(page, PingThread, options, out, err, hooks);
}

} // namespace hopwise::cli
