#include "cli/console_run.h"

#include <memory>

#include "cli/cli_options.h"
#include "cli/console_receiver.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_signal.h"
#include "cli/report_run.h"
#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
#include "run/message_loop.h"
#include "run/probe_run.h"
#include "trace/parallel_trace.h"
#include "trace/trace_route_thread.h"

namespace hopwise::cli {

namespace {

// Runs the worker to its end with the calling thread as the receiver's thread.
template <class Inputs>
int runPage(Inputs& page, std::uint32_t (*worker)(Inputs*), const CliOptions& options,
            std::ostream& out, std::ostream& err,
            const std::function<void(std::atomic<bool>&)>& watchCancel)
{
    if (watchCancel) {
        watchCancel(page.m_bCancel);
    }
    MessageLoop loop;
    ConsoleReceiver receiver(options.kind, options.json, out, err, page.m_bCancel,
                             [&loop] { loop.quit(); });
    std::unique_ptr<ProbeRun> run;
    {
        InterruptsBlockedForNewThreads onlyCallerTakesInterrupts;
        run = StartProbeRun(page, worker, receiver, loop.poster());
    }
    loop.run();
    run.reset();
    return ExitCodeFor(receiver.outcome());
}

} // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   const std::function<void(std::atomic<bool>&)>& watchCancel)
{
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    out << parsed.out << std::flush;
    err << parsed.err << std::flush;
    if (!parsed.options) {
        return parsed.exitCode;
    }
    const CliOptions& options = *parsed.options;

    // Cheap, and it spares the user a name lookup that could never be followed by a probe.
    if (CheckEchoPermission() == IcmpSocketKind::None) {
        err << EchoPermissionHint() << '\n';
        return kExitNotPermitted;
    }

    if (options.kind == ProbeKind::Report) {
        return RunReport(options, out, err, watchCancel);
    }
    if (options.kind == ProbeKind::Trace) {
        ParallelTraceInputs page;
        SetHostText(page.m_szHost, options.host);
        page.m_iMaxHopCount = options.maxHop;
        page.m_iHopTimeout = options.timeoutMs;
        page.m_bResolveIP = options.resolve;
        page.m_probesInFlight = options.parallel;
        if (options.parallel == 1) {
            TraceRouteInputs& walk = page;
            return runPage(walk, TraceRouteThread, options, out, err, watchCancel);
        }
        return runPage(page, ParallelTraceThread, options, out, err, watchCancel);
    }
    PingInputs page;
    SetHostText(page.m_szHost, options.host);
    page.m_iMaxHopCount = options.ttl;
    page.m_iNumTrials = options.count;
    page.m_iHopTimeout = options.timeoutMs;
    return runPage(page, PingThread, options, out, err, watchCancel);
}

} // namespace hopwise::cli
