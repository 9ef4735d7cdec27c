// The ping page against 127.0.0.1 over real sockets, with no pause between trials: replies
// handled per second through the synchronous notification path (worker -> channel -> eventfd
// wake-up on the window thread -> list row, trimmed to 50), beside the bare ping worker's rate
// (no receiver) in the same run; how late a 10 ms timer on the window thread fires meanwhile
// (the page must stay responsive); and the resident memory after each page run, which must
// stay flat however long the run. Offscreen platform, private config home.
//
//   hopwise_page_rate_bench            10,000 trials
//   hopwise_page_rate_bench --long     also 1,000,000 trials (or HOPWISE_PAGE_BENCH_LONG=1)

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ping/ping_page.h"
#include "ping/ping_thread.h"
#include "probe/echo_permission.h"
#include "res/resource_ids.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"

namespace {

using namespace hopwise;

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

double bareWorkerRate(std::int32_t trials)
{
    PingInputs inputs;
    SetHostText(inputs.m_szHost, "127.0.0.1");
    inputs.m_iNumTrials = trials;
    QElapsedTimer timer;
    timer.start();
    PingThread(&inputs);
    return trials * 1e9 / static_cast<double>(timer.nsecsElapsed());
}

// How late each tick of a 10 ms timer on the window thread came, in ms.
struct Lateness {
    std::vector<double> ticks;
    double percentile(double p)
    {
        if (ticks.empty()) {
            return -1;
        }
        std::sort(ticks.begin(), ticks.end());
        return ticks[std::min(ticks.size() - 1,
                              static_cast<std::size_t>(p * static_cast<double>(ticks.size())))];
    }
};

// Yields rows per second, or a negative value when the run didn't end within the limit.
double pageRate(CPingPage& page, std::int32_t trials, Lateness& lateness)
{
    page.findChild<QComboBox*>(QString::number(res::kPingHost))->setEditText("127.0.0.1");
    page.findChild<QLineEdit*>(QString::number(res::kPingNumTrials))
        ->setText(QString::number(trials));
    auto* status = page.findChild<QLabel*>(QString::number(res::kPingStatus));
    QElapsedTimer timer;
    timer.start();
    page.findChild<QAbstractButton*>(QString::number(res::kPingGo))->click();
    // Bounded: a trial on loopback takes some 50 us; allow 1 ms each plus a margin.
    const int limitMs = 10000 + trials;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!status->isHidden()) {
            loop.quit();
        }
    });
    poll.start(1);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    constexpr int kTickMs = 10;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer sinceTick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        lateness.ticks.push_back(static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - kTickMs);
        sinceTick.start();
    });
    sinceTick.start();
    tick.start(kTickMs);
    loop.exec();
    if (status->isHidden()) {
        page.OnCancelPing();
        return -1;
    }
    return trials * 1e9 / static_cast<double>(timer.nsecsElapsed());
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    bool runLong = qEnvironmentVariableIntValue("HOPWISE_PAGE_BENCH_LONG") != 0;
    for (int i = 1; i < argc; ++i) {
        runLong = runLong || std::strcmp(argv[i], "--long") == 0;
    }
    QApplication app(argc, argv);

    if (CheckEchoPermission() == IcmpSocketKind::None) {
        std::fprintf(stderr, "skipped: %s\n", EchoPermissionHint());
        return 0;
    }

    SettingsStore store(std::filesystem::path(configHome.filePath("Hopwise.reg").toStdString()));
    store.SetRegistryKey(kCompanyKey);
    store.SetAppName(kApplicationName);
    QWidget parent;
    CPingPage page(store);
    page.setMessageBox([](QWidget*, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    });
    page.Create(&parent);

    std::printf("%-34s %14s %12s\n", "run", "per second", "VmRSS KiB");
    const long before = residentKiB();
    std::printf("%-34s %14s %12ld\n", "start", "-", before);
    std::vector<std::int32_t> runs{10'000};
    if (runLong) {
        runs.push_back(1'000'000);
    }
    int failures = 0;
    for (const std::int32_t trials : runs) {
        const double bare = bareWorkerRate(std::min(trials, 100'000));
        std::printf("bare ping worker, %-16d %14.0f %12s\n", std::min(trials, 100'000), bare, "-");
        Lateness lateness;
        const double rows = pageRate(page, trials, lateness);
        const auto* list = page.findChild<QTreeWidget*>(QString::number(res::kPingReplyList));
        std::printf("ping page rows, %-18d %14.0f %12ld\n", trials, rows, residentKiB());
        std::printf("timer_lateness_p99_%d %.1f ms\n", trials, lateness.percentile(0.99));
        std::printf("timer_lateness_max_%d %.1f ms\n", trials, lateness.percentile(1.0));
        if (rows < 0 || list->topLevelItemCount() != 50) {
            std::fprintf(stderr, "run of %d trials failed (%d rows kept)\n", trials,
                         list->topLevelItemCount());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
