// What a settings call costs with a long host history in the file, and what the pages' start-up
// reads and exit writes cost together. Each runs with the file on the temporary directory's
// disk (fsync as it comes) and, with /1, on /dev/shm, which leaves the library's own cost.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "res/stored_names.h"
#include "settings/host_history.h"
#include "settings/page_settings.h"
#include "settings/registry_text.h"
#include "settings/settings_store.h"

namespace {

using namespace hopwise;

constexpr int kHistoryEntries = 1000;

class BenchDir {
public:
    explicit BenchDir(bool inMemory)
    {
        const std::filesystem::path base =
            inMemory ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
        std::string pattern = (base / "hopwise-settings-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~BenchDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::u16string hostName(int n)
{
    const std::string text = "host-" + std::to_string(n) + ".example.test";
    return {text.begin(), text.end()};
}

// The settings of both pages and a history of kHistoryEntries hosts, as the program writes them.
std::string fileWithHistory()
{
    RegistryDocument document;
    RegistryKeyNode product{u"Hopwise", {}, {}};
    const std::vector<std::uint8_t> dash = {'-', 0, 0, 0};
    const std::vector<std::uint8_t> number = {20, 0, 0, 0};
    RegistryKeyNode trace{std::u16string(kTraceSettingsSection), {}, {}};
    for (const SettingEntry<TraceRouteSettings>& entry : kTraceRouteSettingTable)
        trace.values.push_back({std::u16string(entry.name), kRegDword, number});
    RegistryKeyNode ping{std::u16string(kPingSettingsSection), {}, {}};
    for (const SettingEntry<PingSettings>& entry : kPingSettingTable)
        ping.values.push_back({std::u16string(entry.name), kRegDword, number});
    RegistryKeyNode history{std::u16string(kPingHistorySection), {}, {}};
    for (int i = 0; i < kHistoryEntries; ++i)
        history.values.push_back({hostName(i), kRegSz, dash});
    product.subkeys = {trace, ping, history};
    document.roots[1].subkeys.push_back(
        RegistryKeyNode{u"Software", {}, {RegistryKeyNode{u"Velmor", {}, {product}}}});
    return SerializeRegistryText(document).value();
}

struct Fixture {
    explicit Fixture(bool inMemory) : dir(inMemory), file(dir.path() / "Hopwise.reg"), store(file)
    {
        store.SetRegistryKey(kCompanyKey);
        store.SetAppName(kApplicationName);
        reset();
    }
    void reset() const { std::ofstream(file, std::ios::binary | std::ios::trunc) << text; }

    BenchDir dir;
    std::filesystem::path file;
    std::string text = fileWithHistory();
    SettingsStore store;
};

void GetSettingIntWith1000Entries(benchmark::State& state)
{
    Fixture fixture(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            fixture.store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000));
}

void AddSectionEntryWith1000Entries(benchmark::State& state)
{
    Fixture fixture(state.range(0) != 0);
    for (auto _ : state) {
        if (!fixture.store.AddSectionEntry(kPingHistorySection, u"new-host.example.test"))
            state.SkipWithError("write failed");
        state.PauseTiming();
        fixture.reset(); // back to 1000 entries, so that every add writes
        // As in a running program, the store has read the file before.
        benchmark::DoNotOptimize(
            fixture.store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000));
        state.ResumeTiming();
    }
}

void AddKnownHostWith1000Entries(benchmark::State& state)
{
    Fixture fixture(state.range(0) != 0);
    for (auto _ : state)
        fixture.store.AddSectionEntry(kPingHistorySection, hostName(kHistoryEntries / 2));
}

// Both pages' constructors (seven reads) and destructors (seven writes) on a fresh store.
// Arguments: in memory; whether the exit writes change the values (else they write back what
// was read, as after a session in which the user changed nothing).
void StartupReadsAndExitWrites(benchmark::State& state)
{
    Fixture fixture(state.range(0) != 0);
    const bool changed = state.range(1) != 0;
    std::int32_t round = 0;
    for (auto _ : state) {
        SettingsStore store(fixture.file);
        store.SetRegistryKey(kCompanyKey);
        store.SetAppName(kApplicationName);
        // What the two pages read at start-up and write back when the window closes, in the
        // order they do it (the ping page goes first).
        TraceRouteSettings trace;
        PingSettings ping;
        LoadSettings(store, trace);
        LoadSettings(store, ping);
        if (changed) {
            ++round;
            trace.m_iMaxHopCount = ping.m_iMaxHopCount = round % 2 == 0 ? 20 : 21;
            trace.m_iHopTimeout = ping.m_iHopTimeout = round % 2 == 0 ? 20 : 21;
        }
        SaveSettings(store, ping);
        SaveSettings(store, trace);
    }
}

BENCHMARK(GetSettingIntWith1000Entries)->ArgName("shm")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(AddSectionEntryWith1000Entries)->ArgName("shm")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(AddKnownHostWith1000Entries)->ArgName("shm")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(StartupReadsAndExitWrites)
    ->ArgNames({"shm", "changed"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
