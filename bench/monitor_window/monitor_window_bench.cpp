// The route monitor window on the offscreen platform (private config home), fed synthetic
// samples, no probes sent:
//   - redrawing the chart over a day of samples of one hop (one a second, 86,400), the shown
//     range "24 hours": the series rebuilt (median of 21 redraws), and rebuilt and painted;
//     the target is at most 16 ms, one frame;
//   - the process's CPU while the window shows a 30-hop monitor at a 0.1 s interval for 10 s:
//     each 100 ms a cycle of 30 samples arrives and the window repaints once; the target is at
//     most 5 % of one core.
// Prints "name value unit" lines.
//
//   hopwise_monitor_window_bench [SECONDS]

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

#include "monitor/window/monitor_chart.h"
#include "monitor/window/monitor_window.h"
#include "settings/settings_store.h"

namespace {

using namespace hopwise;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

HostAddress Responder(int hop)
{
    return HostAddress::ipv4(IpAddress(0x0000000A | (hop << 24)));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void ChartOverADay()
{
    constexpr std::int64_t kDayMs = 86'400'000;
    MonitorModel model;
    const std::int64_t start = 1'700'000'000'000;
    for (std::int32_t cycle = 0; cycle < kDayMs / 1000; ++cycle) {
        const bool lost = cycle % 97 == 0;
        model.add({start + std::int64_t(cycle) * 1000, cycle, 1, !lost,
                   std::uint32_t(8000 + (cycle * 7919) % 5000), Responder(1)});
    }
    MonitorChart chart;
    chart.resize(900, 300);
    chart.show();
    chart.setRange(2); // 24 hours
    std::vector<double> redraw;
    std::vector<double> painted;
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer timer;
        timer.start();
        chart.redraw(model, 1);
        redraw.push_back(double(timer.nsecsElapsed()) / 1e6);
        (void)chart.view().grab();
        painted.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("chart_redraw_day %.2f ms\n", Median(redraw));
    std::printf("chart_redraw_and_paint_day %.2f ms\n", Median(painted));
}

void LiveWindowCpu(SettingsStore& store, int seconds)
{
    constexpr int kHops = 30;
    MonitorWindow window(store);
    window.resize(1000, 700);
    window.show();
    std::int32_t cycle = 0;
    const auto oneCycle = [&] {
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        for (int hop = 1; hop <= kHops; ++hop) {
            const bool lost = (cycle + hop) % 23 == 0;
            window.model().add({now, cycle, std::int16_t(hop), !lost,
                                std::uint32_t(1000 * hop + (cycle * 131) % 900), Responder(hop)});
        }
        ++cycle;
        window.refresh();
    };
    // A minute of history first, as a window that has run a while has.
    for (int i = 0; i < 600; ++i) {
        oneCycle();
    }
    QTimer feed;
    feed.setInterval(MonitorWindow::kDrainIntervalMs);
    QObject::connect(&feed, &QTimer::timeout, oneCycle);
    QApplication::processEvents();
    feed.start();
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("monitor_window_30_hops_0.1s_cpu %.1f %%\n",
                100.0 * cpu / (double(wall.elapsed()) / 1000));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    SettingsStore store(SettingsStore::DefaultBackingFile());
    store.SetRegistryKey(u"Velmor");
    store.SetAppName(u"Hopwise");
    ChartOverADay();
    LiveWindowCpu(store, seconds);
    return 0;
}
