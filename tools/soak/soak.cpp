// Soak run, outside the test suite: the ping page on the offscreen platform against 127.0.0.1
// for 1,000,000 trials in one run, then the trace route page for 10,000 traces of 127.0.0.1.
// Resident memory and open file descriptors are sampled as it goes and must end where they
// started (after a warm-up): the page keeps at most its row limit, the workers their sockets.
//
//   hopwise-soak [PING_TRIALS] [TRACES]      (defaults 1000000 and 10000)
//
// Prints one line per sample and a verdict; exits 1 when memory or descriptors grew.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "ping/ping_page.h"
#include "probe/echo_permission.h"
#include "res/resource_ids.h"
#include "res/stored_names.h"
#include "res/texts.h"
#include "settings/settings_store.h"
#include "trace/trace_route_page.h"

namespace {

using namespace hopwise;

constexpr long kAllowedGrowthKiB = 1024;

struct Sample {
    long rssKiB = 0;
    long fds = 0;
};

Sample sample()
{
    Sample s;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            s.rssKiB = std::stol(line.substr(6));
        }
    }
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++s.fds;
    }
    return s;
}

void print(const char* what, long done, const Sample& s)
{
    std::printf("%-8s %10ld  VmRSS %8ld KiB  fds %4ld\n", what, done, s.rssKiB, s.fds);
    std::fflush(stdout);
}

// Runs the event loop until done() holds or the limit passes; calls tick about once a second.
bool waitUntil(const std::function<bool()>& done, int limitMs, const std::function<void()>& tick)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        } else if (tick && sinceTick.elapsed() >= 1000) {
            tick();
            sinceTick.restart();
        }
    });
    poll.start(5);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    loop.exec();
    return done();
}

// Memory is compared from a sample taken after the warm-up, descriptors from before the run:
// a worker holds its sockets while it runs and closes them as it ends.
bool grew(const char* what, const Sample& warm, const Sample& before, const Sample& last)
{
    const bool memory = last.rssKiB - warm.rssKiB > kAllowedGrowthKiB;
    const bool fds = last.fds != before.fds;
    std::printf("%s: VmRSS %+ld KiB, fds %+ld: %s\n", what, last.rssKiB - warm.rssKiB,
                last.fds - before.fds, memory || fds ? "GREW" : "flat");
    return memory || fds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    const long pingTrials = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const long traces = argc > 2 ? std::atol(argv[2]) : 10'000;
    QApplication app(argc, argv);
    if (CheckEchoPermission() == IcmpSocketKind::None) {
        std::fprintf(stderr, "%s\n", EchoPermissionHint());
        return 2;
    }

    SettingsStore store(std::filesystem::path(configHome.filePath("Hopwise.reg").toStdString()));
    store.SetRegistryKey(kCompanyKey);
    store.SetAppName(kApplicationName);
    const auto messageBox = [](QWidget*, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    };
    QWidget parent;
    CPingPage ping(store);
    ping.setMessageBox(messageBox);
    ping.Create(&parent);
    CTraceRoutePage trace(store);
    trace.setMessageBox(messageBox);
    trace.Create(&parent);

    // A short ping run first, so that what a finished run keeps (its reaped worker's interrupt
    // descriptor, the list's rows) is there at both ends of the comparison; then one run of
    // pingTrials, sampled once a second.
    ping.findChild<QComboBox*>(QString::number(res::kPingHost))->setEditText("127.0.0.1");
    auto* pingTrialsEdit = ping.findChild<QLineEdit*>(QString::number(res::kPingNumTrials));
    auto* pingStatus = ping.findChild<QLabel*>(QString::number(res::kPingStatus));
    auto* pingGo = ping.findChild<QAbstractButton*>(QString::number(res::kPingGo));
    const auto pingEnded = [&] { return pingGo->isEnabled() && !pingStatus->isHidden(); };
    pingTrialsEdit->setText(QStringLiteral("1000"));
    pingGo->click();
    if (!waitUntil(pingEnded, 60'000, nullptr)) {
        std::printf("warm-up ping run did not finish\n");
        return 1;
    }
    const Sample pingBefore = sample();
    print("ping", 0, pingBefore);
    pingTrialsEdit->setText(QString::number(pingTrials));
    pingGo->click();
    Sample pingFirst = pingBefore;
    Sample pingLast;
    long seconds = 0;
    const bool finished = waitUntil(pingEnded, static_cast<int>(60'000 + pingTrials / 5), [&] {
        pingLast = sample();
        if (++seconds == 2) {
            pingFirst = pingLast; // after the warm-up of the allocator and the list
        }
        print("ping", seconds, pingLast);
    });
    if (!finished ||
        pingStatus->text() != QString::fromUtf8(res::kStatusDone.data(),
                                                static_cast<qsizetype>(res::kStatusDone.size()))) {
        std::printf("ping run did not finish\n");
        return 1;
    }
    pingLast = sample();
    print("ping end", seconds, pingLast);

    // traces one after another, sampled every tenth of the way.
    trace.findChild<QComboBox*>(QString::number(res::kTraceHost))->setEditText("127.0.0.1");
    trace.findChild<QLineEdit*>(QString::number(res::kTraceMaxHop))->setText("2");
    auto* traceStatus = trace.findChild<QLabel*>(QString::number(res::kTraceStatus));
    auto* traceGo = trace.findChild<QAbstractButton*>(QString::number(res::kTraceGo));
    Sample traceBefore;
    Sample traceFirst;
    Sample traceLast;
    const long every = std::max(traces / 10, 1L);
    for (long i = 0; i <= traces; ++i) {
        traceGo->click();
        if (!waitUntil([&] { return traceGo->isEnabled() && !traceStatus->isHidden(); }, 10'000,
                       nullptr)) {
            std::printf("trace %ld did not finish\n", i);
            return 1;
        }
        if (i == 0) {
            traceBefore = sample(); // the first trace is the warm-up
            continue;
        }
        if (i % every == 0) {
            traceLast = sample();
            if (i == every) {
                traceFirst = traceLast;
            }
            print("traces", i, traceLast);
        }
    }

    const bool pingGrew = seconds >= 2 && grew("ping page", pingFirst, pingBefore, pingLast);
    const bool traceGrew = traces >= 10 && grew("trace page", traceFirst, traceBefore, traceLast);
    return pingGrew || traceGrew ? 1 : 0;
}
