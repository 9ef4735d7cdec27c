// hopwise-cli: one trace route or ping run for the host on the command line, on the same workers
// the window uses, with a console receiver in place of the page.

#include <iostream>

#include "cli/console_run.h"
#include "cli/exit_codes.h"
#include "cli/interrupt_signal.h"
#include "probe/linux/privilege.h"

int main(int argc, char** argv)
{
    using namespace hopwise;

    cli::ConsoleHooks hooks;
    hooks.watchCancel = cli::InstallInterruptHandlers;
    hooks.summaryOnQuit = true;
    // Before anything else, and before any thread exists: see probe/linux/privilege.h.
    switch (RestrictPrivileges()) {
    case PrivilegeOutcome::RefusedSetuid:
        return cli::RefuseStart(argc, argv, std::cout, std::cerr,
                                SetuidRefusalMessage(argc > 0 ? argv[0] : "hopwise-cli"), hooks);
    case PrivilegeOutcome::Failed:
        return cli::RefuseStart(argc, argv, std::cout, std::cerr,
                                "hopwise-cli: could not drop capabilities", hooks);
    case PrivilegeOutcome::Restricted:
        break;
    }
    return cli::RunCommandLine(argc, argv, std::cout, std::cerr, hooks);
}
