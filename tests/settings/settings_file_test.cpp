// The backing file under stress: killed writers, two writers at once, a file that can't be parsed,
// a lock another program holds, a file kept elsewhere behind a link, a write that fails.

#include "settings/settings_store.h"

#include <csignal>
#include <fcntl.h>
#include <future>
#include <random>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/settings/settings_test_util.h"

namespace hopwise::test {
namespace {

// Runs body in a child process that exits 0 after it; yields the child's wait status.
template <class Body> int InChild(Body body, const std::function<void(pid_t)>& meanwhile = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    if (meanwhile) {
        meanwhile(pid);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST_F(SettingsTest, WriterKilledAtRandomPointsLeavesAWholeFileAndLosesNoFinishedWrite)
{
    std::mt19937 random(12345);
    std::int32_t lastSeen = 0;
    for (int kill = 0; kill < 30; ++kill) {
        const int status = InChild(
            [&] {
                SettingsStore store = openStore();
                const std::int32_t start = store.GetSettingInt(u"Crash", u"counter", 0);
                for (std::int32_t i = start + 1; i < start + 100000; ++i) {
                    store.WriteSettingInt(u"Crash", u"counter", i);
                    RecordHost(store, kPingHistorySection, std::u16string(1, u'a' + i % 26));
                }
            },
            [&](pid_t child) {
                ::usleep(std::uniform_int_distribution<useconds_t>(2000, 15000)(random));
                ::kill(child, SIGKILL);
            });
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished before it was killed";
        const std::int32_t seen = openStore().GetSettingInt(u"Crash", u"counter", 0);
        EXPECT_GE(seen, lastSeen) << "a finished write was lost";
        lastSeen = seen;
    }
    EXPECT_GT(lastSeen, 0) << "no write finished in any child";
    EXPECT_TRUE(openStore().WriteSettingInt(u"Crash", u"counter", 0));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_file.parent_path()), {}), 2)
        << "only the file and its lock: no temporary left, no broken file kept aside";
}

TEST_F(SettingsTest, TwoProcessesWritingAtOnceLoseNothing)
{
    const auto writer = [&](int first) {
        SettingsStore store = openStore();
        for (int i = first; i < first + 150; ++i) {
            const std::string name = std::to_string(i);
            if (!RecordHost(store, kPingHistorySection, std::u16string(name.begin(), name.end()))) {
                ::_exit(2);
            }
        }
    };
    EXPECT_EQ(InChild([&] { writer(1000); }, [&](pid_t) { writer(2000); }), 0);
    SettingsStore store = openStore();
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection).size(), 300u);
}

TEST_F(SettingsTest, UnparsableFileReadsAsEmptyAndIsKeptAsideBeforeTheFirstWrite)
{
    CapturedWarnings warnings;
    const std::string broken[] = {"Windows Registry Editor Version 5.00\n\n\"a\"=dword:1\n",
                                  "[HKEY_CURRENT_USER\\Software]\n"};
    SettingsStore store = openStore();
    for (const std::string& text : broken) {
        writeFile(text);
        EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), std::vector<std::u16string>{});
        EXPECT_EQ(ReadFile(m_file), text) << "a read replaced the file";
        // Reading a setting creates its section: the first write.
        EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 1000);
    }
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path())) {
        if (entry.path().filename().string().starts_with("Hopwise.reg.bad-")) {
            kept.push_back(ReadFile(entry.path()));
        }
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, std::vector<std::string>(std::begin(broken), std::end(broken)));
    EXPECT_EQ(warnings.texts.size(), 1u) << "one warning per process";
}

TEST_F(SettingsTest, LockHeldByAnotherProgramKeepsTheValuesInMemoryAndSaysSoOnce)
{
    CapturedWarnings warnings;
    SettingsStore store = openStore();
    ASSERT_TRUE(store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 1));
    const int other = ::open((m_file.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    auto writes = std::async(std::launch::async, [&] {
        return store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 2) ||
               store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 3);
    });
    const bool finished = writes.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    ::close(other); // lets a writer that waits without end go, too
    ASSERT_TRUE(finished) << "waited for the lock without end";
    EXPECT_FALSE(writes.get());
    EXPECT_EQ(openStore().GetSettingInt(kPingSettingsSection, kHopTimeoutName, 0), 1);
    EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 0), 3);
    EXPECT_EQ(warnings.kinds, std::vector{SettingsWarning::Locked});
    // With the lock free again (once the store's abandoned wait has had and dropped it), the
    // next write saves what was kept.
    const int probe = ::open((m_file.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    for (int attempt = 0; attempt < 500 && ::flock(probe, LOCK_EX | LOCK_NB) != 0; ++attempt)
        ::usleep(10000);
    ::close(probe);
    ASSERT_TRUE(store.WriteSettingInt(kPingSettingsSection, kMaxHopCountName, 9));
    EXPECT_EQ(openStore().GetSettingInt(kPingSettingsSection, kHopTimeoutName, 0), 3);
}

TEST_F(SettingsTest, WritesGoThroughALinkKeepTheFilesModeAndTellAFailureOnce)
{
    struct Case {
        const char* name;
        bool link;
        int existingMode; // -1: no file yet
        int expectedMode;
    };
    const Case cases[] = {
        {"regular file", false, 0644, 0644},
        {"link into the dotfiles", true, 0640, 0640},
        {"dangling link", true, -1, 0600},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(m_dir / "Velmor");
        std::filesystem::remove_all(m_dir / "dotfiles");
        std::filesystem::create_directories(m_file.parent_path());
        std::filesystem::create_directories(m_dir / "dotfiles");
        const std::filesystem::path data = row.link ? m_dir / "dotfiles" / "hopwise.reg" : m_file;
        if (row.link)
            std::filesystem::create_symlink("../dotfiles/hopwise.reg", m_file);
        if (row.existingMode >= 0) {
            std::ofstream(data) << "Windows Registry Editor Version 5.00\n";
            std::filesystem::permissions(data, std::filesystem::perms(row.existingMode));
        }
        EXPECT_TRUE(openStore().WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 5));
        EXPECT_EQ(std::filesystem::is_symlink(m_file), row.link);
        EXPECT_EQ(int(std::filesystem::status(data).permissions()), row.expectedMode);
        EXPECT_EQ(openStore().GetSettingInt(kPingSettingsSection, kHopTimeoutName, 0), 5);
    }

    CapturedWarnings warnings;
    std::filesystem::create_directory(m_dir / "dotfiles" / "hopwise.reg.tmp"); // in the way
    SettingsStore store = openStore();
    EXPECT_FALSE(store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 6));
    EXPECT_FALSE(store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 7));
    ASSERT_EQ(warnings.texts.size(), 1u) << "one warning per process";
    EXPECT_NE(warnings.texts[0].find((m_dir / "dotfiles" / "hopwise.reg").string()),
              std::string::npos)
        << warnings.texts[0];
}

} // namespace
} // namespace hopwise::test
