// What the workers cost on top of the echo service, measured beside a reference in the same run:
//  - the ping worker's trials/s to 127.0.0.1 (no window) next to bare SendEcho calls/s;
//  - a trace over a 30-router namespace chain, in-process and through hopwise-cli walking one hop
//    at a time and with its default parallel probes, next to `traceroute -I -n -q 1 -N 1` over
//    the same chain (needs root; skipped otherwise); the same over an IPv6 chain of 30 routers,
//    next to `traceroute -6 -I -n -q 1 -N 1`;
//  - a trace over a 10-router chain silent from hop 4 (1 s time-out, --max-hop 20): hopwise-cli
//    with its hops' probes in parallel and one hop at a time, next to `traceroute -I -n -q 1`
//    with its default 16 probes at once.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
#include "probe/echo_service.h"
#include "probe/resolver.h"
#include "tests/support/net_namespace.h"
#include "trace/trace_route_thread.h"

namespace {

using namespace hopwise;

constexpr std::int64_t kTrialsPerIteration = 200;
constexpr int kChainRouters = 30;
constexpr int kChainBase = 231;
constexpr int kChain6Base = 232;
constexpr int kSilentChainRouters = 10;
constexpr int kSilentChainBase = 224;
constexpr int kFirstSilentHop = 4;

bool echoPermitted(benchmark::State& state)
{
    if (CheckEchoPermission() == IcmpSocketKind::None) {
        state.SkipWithError(EchoPermissionHint());
        return false;
    }
    return true;
}

void BM_BareSendEchoLoopback(benchmark::State& state)
{
    if (!echoPermitted(state)) {
        return;
    }
    const EchoHandle handle = OpenEchoHandle();
    const IpAddress loopback = ResolveHostName("127.0.0.1");
    EchoOptions options;
    options.ttl = 20;
    EchoReply reply{};
    std::int64_t answered = 0;
    for (auto _ : state) {
        for (std::int64_t i = 0; i < kTrialsPerIteration; ++i) {
            answered +=
                SendEcho(handle, loopback, nullptr, 0, &options, &reply, kEchoReplySize, 1000);
        }
    }
    CloseEchoHandle(handle);
    state.SetItemsProcessed(state.iterations() * kTrialsPerIteration);
    state.counters["answered"] = static_cast<double>(answered);
}

void BM_PingWorkerLoopback(benchmark::State& state)
{
    if (!echoPermitted(state)) {
        return;
    }
    PingInputs page;
    SetHostText(page.m_szHost, "127.0.0.1");
    page.m_iNumTrials = kTrialsPerIteration;
    page.m_pWindow = nullptr; // the worker's own cost, no receiver
    for (auto _ : state) {
        PingThread(&page);
    }
    state.SetItemsProcessed(state.iterations() * kTrialsPerIteration);
}

BENCHMARK(BM_BareSendEchoLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PingWorkerLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a trace over the chain is sent to: the IPv6 address on a dual-stack chain.
std::string targetOf(const test::RouterChain& routers)
{
    return routers.dual() ? routers.targetAddress6() : routers.targetAddress();
}

// One chain for all three trace benchmarks, built on first use and removed at exit.
test::RouterChain* chain(benchmark::State& state)
{
    static const std::string reason = test::NetNamespaceSkipReason();
    if (!reason.empty()) {
        state.SkipWithError(("needs network namespaces: " + reason).c_str());
        return nullptr;
    }
    static std::unique_ptr<test::RouterChain> made =
        std::make_unique<test::RouterChain>(kChainRouters, kChainBase);
    return made.get();
}

// The same chain over IPv6, its neighbours found before the first timed run.
test::RouterChain* chain6(benchmark::State& state)
{
    static const std::string reason = test::NetNamespaceSkipReason();
    if (!reason.empty()) {
        state.SkipWithError(("needs network namespaces: " + reason).c_str());
        return nullptr;
    }
    static std::unique_ptr<test::RouterChain> made = [] {
        auto routers = std::make_unique<test::RouterChain>(kChainRouters, kChain6Base,
                                                           test::RouterChain::Stack::Dual);
        test::RunCommand("ip netns exec " + routers->client().name() + " ping -6 -c 1 -W 2 " +
                         targetOf(*routers) + " >/dev/null");
        return routers;
    }();
    return made.get();
}

// Counts the hops of a trace, so a walk that never reached the target can't pass for a fast one.
class HopCounter final : public ProbeMessageTarget {
public:
    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t) override
    {
        if (message == WM_PROBE_RESULT) {
            ++m_hops;
            const ProbeResult& result = ProbeResultOf(wParam);
            m_last = result.m_address != nullptr ? result.m_address : "";
        }
        return 0;
    }
    int m_hops = 0;
    std::string m_last;
};

void traceWorkerOverChain(benchmark::State& state, test::RouterChain* (*chainOf)(benchmark::State&),
                          FamilyChoice families)
{
    test::RouterChain* routers = chainOf(state);
    if (routers == nullptr) {
        return;
    }
    test::EnterNamespace inClient(routers->client());
    TraceRouteInputs page;
    SetHostText(page.m_szHost, targetOf(*routers));
    page.m_iMaxHopCount = kChainRouters + 10;
    page.m_iHopTimeout = 1000;
    page.m_families = families;
    HopCounter counter;
    page.m_pWindow = &counter;
    for (auto _ : state) {
        counter.m_hops = 0;
        TraceRouteThread(&page);
        if (counter.m_hops != kChainRouters + 1 || counter.m_last != targetOf(*routers)) {
            state.SkipWithError("the trace did not end at the target after every router");
            return;
        }
    }
    state.counters["hops"] = counter.m_hops;
}

void BM_TraceWorkerChain30(benchmark::State& state)
{
    traceWorkerOverChain(state, chain, FamilyChoice::Any);
}

void BM_TraceWorkerChain30Ipv6(benchmark::State& state)
{
    traceWorkerOverChain(state, chain6, FamilyChoice::Ipv6Only);
}

// Routers 4 to 10 forward but never answer themselves; the target, hop 11, does.
test::RouterChain* silentChain(benchmark::State& state)
{
    static const std::string reason = test::NetNamespaceSkipReason();
    if (!reason.empty()) {
        state.SkipWithError(("needs network namespaces: " + reason).c_str());
        return nullptr;
    }
    static std::unique_ptr<test::RouterChain> made = [] {
        auto routers = std::make_unique<test::RouterChain>(kSilentChainRouters, kSilentChainBase);
        for (int i = kFirstSilentHop - 1; i < kSilentChainRouters; ++i) {
            routers->silence(i);
        }
        // Every link's neighbours resolved before the first timed run, which would pay for it.
        test::RunCommand("ip netns exec " + routers->client().name() + " ping -c 1 -W 2 " +
                         targetOf(*routers) + " >/dev/null");
        return routers;
    }();
    return made.get();
}

// Runs command (words split at spaces, no shell) as a whole process in the chain's client
// namespace, once per iteration: the namespace is entered by this thread and inherited by the
// child, so nothing but the program itself (loading, probing, exit) is timed.
void runInClient(benchmark::State& state, const std::string& command,
                 test::RouterChain* (*chainOf)(benchmark::State&) = chain)
{
    test::RouterChain* routers = chainOf(state);
    if (routers == nullptr) {
        return;
    }
    std::vector<std::string> words;
    std::istringstream split(command + " " + targetOf(*routers));
    for (std::string word; split >> word;) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);
    test::EnterNamespace inClient(routers->client());
    // On a loaded machine the wall time is mostly waiting for a processor; the CPU the child
    // itself used (user and system) is the steadier figure beside it.
    double childCpuMs = 0;
    for (auto _ : state) {
        pid_t child = -1;
        int status = -1;
        rusage usage{};
        if (posix_spawnp(&child, argv[0], &quiet, nullptr, argv.data(), environ) != 0 ||
            wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            break;
        }
        childCpuMs += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    }
    posix_spawn_file_actions_destroy(&quiet);
    state.counters["child_cpu_ms"] =
        benchmark::Counter(childCpuMs, benchmark::Counter::kAvgIterations);
}

void BM_TraceCliChain30(benchmark::State& state)
{
    runInClient(state, std::string(HOPWISE_CLI_PATH) + " trace --parallel 1 --max-hop 40");
}

void BM_ParallelTraceCliChain30(benchmark::State& state)
{
    runInClient(state, std::string(HOPWISE_CLI_PATH) + " trace --max-hop 40");
}

void BM_TracerouteChain30(benchmark::State& state)
{
    runInClient(state, "traceroute -I -n -q 1 -N 1 -m 40");
}

void BM_TraceCliChain30Ipv6(benchmark::State& state)
{
    runInClient(state, std::string(HOPWISE_CLI_PATH) + " trace -6 --parallel 1 --max-hop 40",
                chain6);
}

void BM_ParallelTraceCliChain30Ipv6(benchmark::State& state)
{
    runInClient(state, std::string(HOPWISE_CLI_PATH) + " trace -6 --max-hop 40", chain6);
}

void BM_TracerouteChain30Ipv6(benchmark::State& state)
{
    runInClient(state, "traceroute -6 -I -n -q 1 -N 1 -m 40", chain6);
}

void BM_ParallelTraceSilentChain10(benchmark::State& state)
{
    runInClient(state, std::string(HOPWISE_CLI_PATH) + " trace --timeout 1000 --max-hop 20",
                silentChain);
}

void BM_OneHopAtATimeSilentChain10(benchmark::State& state)
{
    runInClient(state,
                std::string(HOPWISE_CLI_PATH) + " trace --parallel 1 --timeout 1000 --max-hop 20",
                silentChain);
}

// Hops 1 .. 19, as hopwise-cli's --max-hop 20 probes.
void BM_TracerouteSilentChain10(benchmark::State& state)
{
    runInClient(state, "traceroute -I -n -q 1 -w 1 -m 19", silentChain);
}

BENCHMARK(BM_ParallelTraceSilentChain10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_OneHopAtATimeSilentChain10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_TracerouteSilentChain10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_TraceWorkerChain30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_TraceCliChain30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_ParallelTraceCliChain30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_TracerouteChain30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_TraceWorkerChain30Ipv6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_TraceCliChain30Ipv6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_ParallelTraceCliChain30Ipv6)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);
BENCHMARK(BM_TracerouteChain30Ipv6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

} // namespace

BENCHMARK_MAIN();
