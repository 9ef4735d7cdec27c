// The real program started more than once, on the offscreen platform with a private config and
// runtime directory: a second launch asks the first to raise its window and exits with -1; a
// socket left behind by a killed instance doesn't block the next start; SIGTERM ends the
// program the normal way, with its settings saved.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

#include "app/single_instance.h"

namespace hopwise {
namespace {

constexpr int kStartTimeoutMs = 10000;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        ASSERT_TRUE(m_runtime.isValid());
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        // The test computes the same socket name the program will.
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_serverName = SingleInstance::ServerName(QStringLiteral(HOPWISE_BINARY));
    }

    void TearDown() override
    {
        for (auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(kStartTimeoutMs);
            }
        }
    }

    QProcess& launch()
    {
        auto& process = m_processes.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(m_environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(HOPWISE_BINARY), {});
        EXPECT_TRUE(process->waitForStarted(kStartTimeoutMs));
        return *process;
    }

    // Asks as a second launch would, until an instance answers; true when it confirmed that it
    // raised its window.
    bool waitForRunningInstance()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kStartTimeoutMs) {
            SingleInstance client(m_serverName);
            if (client.askRunningInstanceToRaise()) {
                return client.otherConfirmedRaise();
            }
            QThread::msleep(20);
        }
        return false;
    }

    QTemporaryDir m_config;
    QTemporaryDir m_runtime;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QString m_serverName;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

TEST_F(SingleInstanceTest, secondLaunchRaisesTheFirstAndExitsMinusOne)
{
    QProcess& first = launch();
    ASSERT_TRUE(waitForRunningInstance()) << "the first instance confirms a raise request";

    QProcess& second = launch();
    ASSERT_TRUE(second.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 255);
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(SingleInstanceTest, socketLeftByAKilledInstanceDoesNotBlockTheNextStart)
{
    QProcess& first = launch();
    ASSERT_TRUE(waitForRunningInstance());
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(kStartTimeoutMs));
    ASSERT_TRUE(QFileInfo::exists(m_serverName)) << "a killed instance leaves its socket";

    QProcess& next = launch();
    ASSERT_TRUE(waitForRunningInstance()) << "the next start listens in its place";
    EXPECT_EQ(next.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(next.processId()), SIGTERM);
    ASSERT_TRUE(next.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(next.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.exitCode(), 0);

    // The pages saved their settings on the way out.
    QFile settings(QDir(m_config.path()).filePath(QStringLiteral("Velmor/Hopwise.reg")));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray content = settings.readAll();
    EXPECT_TRUE(content.contains("m_iMaxHopCount")) << content.toStdString();
    EXPECT_TRUE(content.contains("m_iMaxItemsInList")) << content.toStdString();
}

} // namespace
} // namespace hopwise
