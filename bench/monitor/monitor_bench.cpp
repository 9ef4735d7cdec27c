// A day of a route monitor: 86,400 cycles over 30 hops fed through the model. Prints the growth
// of resident memory (target: at most 64 MiB) and times series() over the whole day for one hop.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "monitor/monitor_model.h"

namespace {

using hopwise::HostAddress;
using hopwise::MonitorModel;
using hopwise::MonitorSample;

constexpr std::int32_t kHops = 30;
constexpr std::int32_t kCycles = 24 * 60 * 60;
constexpr std::int64_t kStart = 1'700'000'040'000;

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0; // kB
        }
    }
    return 0;
}

// Every hop answers from its own address, hop 7 from two by turns an hour, one probe in 20 lost.
void feedDay(MonitorModel& model)
{
    model.setDestination(HostAddress::ipv4(htonl(0x0A000000U | kHops)));
    for (std::int32_t cycle = 0; cycle < kCycles; ++cycle) {
        for (std::int32_t hop = 1; hop <= kHops; ++hop) {
            MonitorSample sample;
            sample.clockMs = kStart + cycle * 1000LL;
            sample.cycle = cycle;
            sample.hop = static_cast<std::int16_t>(hop);
            sample.answered = (cycle + hop) % 20 != 0;
            sample.roundTripUs = sample.answered ? 200U * hop + (cycle * 7919U) % 500U : 0;
            const std::uint32_t host = hop == 7 && (cycle / 3600) % 2 == 1 ? 100U : 0U;
            if (sample.answered) {
                sample.responder = HostAddress::ipv4(
                    htonl(0x0A000000U | (host + static_cast<std::uint32_t>(hop))));
            }
            model.add(sample);
        }
    }
}

void BM_MonitorDay(benchmark::State& state)
{
    for (auto _ : state) {
        const double before = residentMiB();
        auto model = std::make_unique<MonitorModel>();
        feedDay(*model);
        const double after = residentMiB();
        benchmark::DoNotOptimize(model->rows());
        state.counters["rss_growth_MiB"] = after - before;
        state.counters["storage_MiB"] = static_cast<double>(model->storageBytes()) / (1 << 20);
    }
    state.SetItemsProcessed(state.iterations() * kCycles * kHops);
}
BENCHMARK(BM_MonitorDay)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MonitorDaySeries(benchmark::State& state)
{
    static const auto model = [] {
        auto made = std::make_unique<MonitorModel>();
        feedDay(*made);
        return made;
    }();
    std::vector<MonitorModel::ChartPoint> points;
    for (auto _ : state) {
        model->series(15, model->firstMs(), model->lastMs(), points);
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["points"] = static_cast<double>(points.size());
}
BENCHMARK(BM_MonitorDaySeries)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
