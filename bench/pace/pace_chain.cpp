// hopwise_pace_chain ROUTERS SILENT [--drop-echo] -- COMMAND [ARG...]
//
// Builds a chain of ROUTERS routers (tests/support's RouterChain, ICMP rate limits off) whose
// routers at the hops listed in SILENT (1-based, comma-separated, "-" for none) never answer
// (with --drop-echo, every router drops the ICMP echo requests it would forward),
// runs COMMAND in the client's namespace with HOPWISE_TARGET set to the target's address, and
// removes the chain. Exits with COMMAND's status; COMMAND and what it started are killed on
// Ctrl-C or SIGTERM, or after ten minutes.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/net_namespace.h"

namespace {

using namespace hopwise::test;

constexpr auto kLimit = std::chrono::minutes(10);

volatile sig_atomic_t g_stop = 0;

void onStop(int)
{
    g_stop = 1;
}

int runInClient(RouterChain& chain, char** command)
{
    const EnterNamespace inClient(chain.client()); // the child is forked from this thread
    setenv("HOPWISE_TARGET", chain.targetAddress().c_str(), 1);
    // The command in a process group of its own, ended as a whole; the chain is removed after.
    signal(SIGINT, onStop);
    signal(SIGTERM, onStop);
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }
    if (child > 0)
        setpgid(child, child); // either side may come first
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (child > 0 && waitpid(child, &status, WNOHANG) == 0) {
        if (g_stop != 0 || std::chrono::steady_clock::now() > deadline) {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return child < 0 ? 1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    const bool dropEcho = argc > 3 && std::string(argv[3]) == "--drop-echo";
    const int dashes = dropEcho ? 4 : 3;
    if (argc < dashes + 2 || std::string(argv[dashes]) != "--") {
        std::fprintf(stderr, "usage: hopwise_pace_chain ROUTERS SILENT [--drop-echo] -- COMMAND "
                             "[ARG...]\n");
        return 2;
    }
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty()) {
        std::fprintf(stderr, "hopwise_pace_chain: %s\n", reason.c_str());
        return 3;
    }
    try {
        RouterChain chain(std::atoi(argv[1]), 215);
        std::istringstream silent(argv[2]);
        for (std::string hop; std::getline(silent, hop, ',');) {
            if (hop != "-")
                chain.silence(std::stoi(hop) - 1);
        }
        if (dropEcho)
            chain.dropEchoInForward();
        return runInClient(chain, argv + dashes + 1);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hopwise_pace_chain: %s\n", error.what());
        return 3;
    }
}
