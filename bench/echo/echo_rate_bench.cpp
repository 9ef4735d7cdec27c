// Echo round trips over loopback, one outstanding at a time, against iputils ping doing the
// same: SendEcho in-process to 127.0.0.1, and hopwise-cli as a whole process to 127.0.0.1 and ::1;
// and the CPU a request costs while it waits on a target that never answers.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_status.h"

namespace {

using hopwise::IpAddress;

constexpr int kCompareCount = 20000;
// Whole-process runs alternate between the two programs, so a burst of load elsewhere on the
// machine falls on both; the median of the rounds is the figure.
constexpr int kProcessRounds = 3;
const std::vector<std::uint8_t> kPayload(56, 0x5A); // ping's default size

IpAddress loopback()
{
    in_addr address{};
    inet_pton(AF_INET, "127.0.0.1", &address);
    return address.s_addr;
}

bool echoOnce(IpAddress destination, std::uint32_t timeoutMs)
{
    std::uint8_t reply[sizeof(hopwise::EchoReply) + 128];
    return hopwise::SendEcho(1, destination, kPayload.data(),
                             static_cast<std::uint16_t>(kPayload.size()), nullptr, reply,
                             sizeof reply, timeoutMs) == 1;
}

void BM_SequentialLoopbackEcho(benchmark::State& state)
{
    const IpAddress destination = loopback();
    std::int64_t failures = 0;
    for (auto _ : state) {
        if (!echoOnce(destination, 1000))
            ++failures;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["failures"] = static_cast<double>(failures);
    if (failures > 0)
        state.SkipWithError("some echoes were not answered (are ICMP sockets permitted?)");
}
BENCHMARK(BM_SequentialLoopbackEcho)->UseRealTime();

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void compareWithPing()
{
    const IpAddress destination = loopback();
    const auto ourStart = std::chrono::steady_clock::now();
    int answered = 0;
    for (int i = 0; i < kCompareCount; ++i)
        answered += echoOnce(destination, 1000) ? 1 : 0;
    const double ours = kCompareCount / seconds(std::chrono::steady_clock::now() - ourStart);

    const std::string command =
        "ping -i 0 -q -c " + std::to_string(kCompareCount) + " 127.0.0.1 > /dev/null 2>&1";
    const auto pingStart = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double theirs = kCompareCount / seconds(std::chrono::steady_clock::now() - pingStart);

    std::printf("\nsequential echoes to 127.0.0.1, %d each:\n", kCompareCount);
    std::printf("  hopwise SendEcho : %10.0f echoes/s (%d answered)\n", ours, answered);
    if (status != 0) {
        std::printf("  iputils ping     : not measured (`%s` failed with %d)\n", command.c_str(),
                    status);
        return;
    }
    std::printf("  iputils ping -i 0: %10.0f echoes/s\n", theirs);
    std::printf("  ratio hopwise/ping: %.2f\n", ours / theirs);
}

// Seconds one run of argv took, start to exit, its output discarded; none if it failed.
std::optional<double> timeProcess(std::vector<std::string> words)
{
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    int status = -1;
    const bool ran = posix_spawnp(&child, argv[0], &quiet, nullptr, argv.data(), environ) == 0 &&
                     waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                     WEXITSTATUS(status) == 0;
    const double elapsed = seconds(std::chrono::steady_clock::now() - start);
    posix_spawn_file_actions_destroy(&quiet);
    return ran ? std::optional<double>(elapsed) : std::nullopt;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// hopwise-cli ping and iputils ping, both `-i 0 -q -c kCompareCount`, as whole processes (start-up
// and exit included); one line per program in "name value unit" form, or why it was not measured.
void compareProcessesWithPing(const char* family, const char* destination, const char* tag)
{
    const std::string count = std::to_string(kCompareCount);
    const std::vector<std::string> ours = {
        HOPWISE_CLI_PATH, "ping", family, "-i", "0", "-q", "-c", count, destination};
    const std::vector<std::string> theirs = {"ping", family, "-i",  "0",
                                             "-q",   "-c",   count, destination};
    std::vector<double> ourRates;
    std::vector<double> theirRates;
    for (int round = 0; round < kProcessRounds; ++round) {
        if (const auto took = timeProcess(ours))
            ourRates.push_back(kCompareCount / *took);
        if (const auto took = timeProcess(theirs))
            theirRates.push_back(kCompareCount / *took);
    }
    std::printf("\nwhole processes, %d echoes to %s, median of %d rounds:\n", kCompareCount,
                destination, kProcessRounds);
    const auto line = [&](const char* who, const std::vector<double>& rates) {
        if (rates.size() != static_cast<std::size_t>(kProcessRounds)) {
            std::printf("  echo_%s_%s: not measured (a run failed; ping -i 0 needs root)\n", who,
                        tag);
            return;
        }
        std::printf("echo_%s_%s %.0f echoes/s (rounds %.0f .. %.0f)\n", who, tag, median(rates),
                    *std::min_element(rates.begin(), rates.end()),
                    *std::max_element(rates.begin(), rates.end()));
    };
    line("cli", ourRates);
    line("ping", theirRates);
}

int run(const std::string& command)
{
    const int status = std::system((command + " > /dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A namespace whose loopback ignores echo requests: the request goes out and nothing comes back,
// without a single packet leaving the machine.
void measureWaitingCpu()
{
    constexpr std::uint32_t kTimeoutMs = 1000;
    constexpr int kRequests = 2;
    const std::string ns = "hwbench" + std::to_string(getpid());
    std::printf("\nCPU while waiting on a silent target:\n");
    if (geteuid() != 0 || run("ip netns add " + ns) != 0) {
        std::printf("  not measured: needs root and `ip netns`\n");
        return;
    }
    if (run("ip -n " + ns + " link set lo up") != 0 ||
        run("ip netns exec " + ns + " sysctl -qw net.ipv4.icmp_echo_ignore_all=1") != 0) {
        std::printf("  not measured: could not set up namespace %s\n", ns.c_str());
        run("ip netns del " + ns);
        return;
    }
    std::thread waiter([&] {
        const int target = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (target < 0 || setns(target, CLONE_NEWNET) != 0) {
            std::printf("  not measured: could not enter %s\n", ns.c_str());
            return;
        }
        close(target);
        const IpAddress destination = loopback();
        const double cpuStart = threadCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        int answered = 0;
        for (int i = 0; i < kRequests; ++i)
            answered += echoOnce(destination, kTimeoutMs) ? 1 : 0;
        const double wall = seconds(std::chrono::steady_clock::now() - wallStart);
        const double cpu = threadCpuSeconds() - cpuStart;
        std::printf("  %d requests x %u ms timeout: %.3f s wall, %.3f ms CPU (%.4f%% of the wait),"
                    " %d answered, last error %u\n",
                    kRequests, kTimeoutMs, wall, cpu * 1e3, 100.0 * cpu / wall, answered,
                    hopwise::GetLastEchoError());
    });
    waiter.join();
    run("ip netns del " + ns);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compareWithPing();
    compareProcessesWithPing("-4", "127.0.0.1", "ipv4");
    compareProcessesWithPing("-6", "::1", "ipv6");
    measureWaitingCpu();
    return 0;
}
