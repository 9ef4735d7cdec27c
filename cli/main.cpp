// hopwise-cli: one trace route or ping run for the host on the command line, on the same workers
// the window uses, with a console receiver in place of the page.

#include <iostream>
#include <memory>

#include "cli/cli_options.h"
#include "cli/console_receiver.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_signal.h"
#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
#include "probe/linux/privilege.h"
#include "run/message_loop.h"
#include "run/probe_run.h"
#include "trace/trace_route_thread.h"

namespace {

using namespace hopwise;
using namespace hopwise::cli;

// Runs the worker to its end with the main thread as the receiver's thread.
template <class Inputs>
int runPage(Inputs& page, std::uint32_t (*worker)(Inputs*), const CliOptions& options)
{
    InstallInterruptHandlers(page.m_bCancel);
    MessageLoop loop;
    ConsoleReceiver receiver(options.kind, options.json, std::cout, std::cerr, page.m_bCancel,
                             [&loop] { loop.quit(); });
    std::unique_ptr<ProbeRun> run;
    {
        InterruptsBlockedForNewThreads onlyMainTakesInterrupts;
        run = StartProbeRun(page, worker, receiver, loop.poster());
    }
    loop.run();
    run.reset();
    return ExitCodeFor(receiver.outcome());
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else, and before any thread exists: see probe/linux/privilege.h.
    switch (RestrictPrivileges()) {
    case PrivilegeOutcome::RefusedSetuid:
        std::cerr << SetuidRefusalMessage(argc > 0 ? argv[0] : "hopwise-cli") << '\n';
        return kExitNotPermitted;
    case PrivilegeOutcome::Failed:
        std::cerr << "hopwise-cli: could not drop capabilities\n";
        return kExitNotPermitted;
    case PrivilegeOutcome::Restricted:
        break;
    }

    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    std::cout << parsed.out << std::flush;
    std::cerr << parsed.err << std::flush;
    if (!parsed.options) {
        return parsed.exitCode;
    }
    const CliOptions& options = *parsed.options;

    // Cheap, and it spares the user a name lookup that could never be followed by a probe.
    if (CheckEchoPermission() == IcmpSocketKind::None) {
        std::cerr << EchoPermissionHint() << '\n';
        return kExitNotPermitted;
    }

    if (options.kind == ProbeKind::Trace) {
        TraceRouteInputs page;
        SetHostText(page.m_szHost, options.host);
        page.m_iMaxHopCount = options.maxHop;
        page.m_iHopTimeout = options.timeoutMs;
        page.m_bResolveIP = options.resolve;
        return runPage(page, TraceRouteThread, options);
    }
    PingInputs page;
    SetHostText(page.m_szHost, options.host);
    page.m_iMaxHopCount = options.ttl;
    page.m_iNumTrials = options.count;
    page.m_iHopTimeout = options.timeoutMs;
    return runPage(page, PingThread, options);
}
