// The window started by root, who begins with every capability: once it runs and waits for the
// user, no thread of it has any capability effective, and only cap_net_raw is left permitted.

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "app/single_instance.h"

namespace hopwise {
namespace {

constexpr std::uint64_t kNetRawBit = std::uint64_t{1} << 13; // CAP_NET_RAW
constexpr int kStartTimeoutMs = 10000;

// One capability set of a task ("CapEff", "CapPrm"); nothing when the task is gone.
std::optional<std::uint64_t> capabilitySet(const std::filesystem::path& status,
                                           const std::string& set)
{
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(set + ":", 0) == 0) {
            return std::stoull(line.substr(set.size() + 1), nullptr, 16);
        }
    }
    return std::nullopt;
}

TEST(WindowPrivilege, idleWindowHasNoEffectiveCapability)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: only root starts with capabilities to drop";
    }
    QTemporaryDir config;
    QTemporaryDir runtime;
    ASSERT_TRUE(config.isValid() && runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());

    QProcess window;
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    window.start(QStringLiteral(HOPWISE_BINARY), {});
    ASSERT_TRUE(window.waitForStarted(kStartTimeoutMs));

    // Up and idle once it answers a second launch's request.
    bool running = false;
    QElapsedTimer timer;
    timer.start();
    while (!running && timer.elapsed() < kStartTimeoutMs) {
        SingleInstance client(SingleInstance::ServerName(QStringLiteral(HOPWISE_BINARY)));
        running = client.askRunningInstanceToRaise();
        if (!running) {
            QThread::msleep(20);
        }
    }
    ASSERT_TRUE(running);

    int samples = 0;
    const std::filesystem::path tasks = "/proc/" + std::to_string(window.processId()) + "/task";
    for (int round = 0; round < 5; ++round) {
        std::error_code gone;
        for (const auto& task : std::filesystem::directory_iterator(tasks, gone)) {
            const auto effective = capabilitySet(task.path() / "status", "CapEff");
            const auto permitted = capabilitySet(task.path() / "status", "CapPrm");
            if (!effective || !permitted) {
                continue; // the task ended meanwhile
            }
            EXPECT_EQ(*effective, 0u) << task.path();
            EXPECT_EQ(*permitted & ~kNetRawBit, 0u) << task.path();
            ++samples;
        }
        QThread::msleep(50);
    }
    EXPECT_GT(samples, 0);

    window.terminate();
    EXPECT_TRUE(window.waitForFinished(kStartTimeoutMs));
}

} // namespace
} // namespace hopwise
