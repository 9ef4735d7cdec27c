// The backing file under stress: writers killed at random points, two processes writing at
// once, a file that can't be parsed, hand edits made while the program runs, file modes.

#include <csignal>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"
#include "settings/settings_warning.h"
#include "settings_test_util.h"

namespace hopwise {
namespace {

std::u16string Ascii(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

class SettingsFileTest : public ::testing::Test {
protected:
    void TearDown() override { SetSettingsWarningSink({}); }

    SettingsStore openStore()
    {
        SettingsStore store(m_file);
        store.SetRegistryKey(kCompanyKey);
        store.SetAppName(kApplicationName);
        return store;
    }

    std::vector<std::filesystem::path> backups()
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path()))
            if (entry.path().filename().string().starts_with("Hopwise.reg.bad-"))
                found.push_back(entry.path());
        return found;
    }

    // Forks a child that runs body and exits 0; yields its pid.
    template <typename Body> pid_t spawn(Body body)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            body();
            ::_exit(0);
        }
        return pid;
    }

    static int waitFor(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    test::TempDir m_dir;
    std::filesystem::path m_file = m_dir.path() / "Velmor" / "Hopwise.reg";
};

TEST_F(SettingsFileTest, writerKilledAtRandomPointsNeverLeavesABrokenFile)
{
    constexpr int kKills = 30;
    constexpr int kWritesPerChild = 100000; // bounds the child; the kill comes far sooner
    std::mt19937 random(12345);
    std::int32_t lastSeen = -1;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = spawn([&] {
            SettingsStore store = openStore();
            const std::int32_t start = store.GetSettingInt(u"Crash", u"counter", 0);
            for (std::int32_t i = start + 1; i < start + kWritesPerChild; ++i) {
                store.WriteSettingInt(u"Crash", u"counter", i);
                RecordHost(store, kPingHistorySection, Ascii("host" + std::to_string(i % 26)));
            }
        });
        ASSERT_GT(child, 0);
        ::usleep(std::uniform_int_distribution<useconds_t>(2000, 15000)(random));
        ::kill(child, SIGKILL);
        const int status = waitFor(child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished before it was killed";
        if (!std::filesystem::exists(m_file))
            continue;
        RegistryDocument document = test::ParseFile(m_file);
        RegistryKeyNode* section =
            test::FindKey(document, {u"Software", u"Velmor", u"Hopwise", u"Crash"});
        if (section == nullptr || section->findValue(u"counter") == nullptr)
            continue;
        std::int32_t value = 0;
        std::memcpy(&value, section->findValue(u"counter")->data.data(), 4);
        EXPECT_GE(value, lastSeen) << "a completed write was lost";
        lastSeen = value;
    }
    EXPECT_GT(lastSeen, 0) << "no write completed in any child";
    SettingsStore store = openStore();
    EXPECT_TRUE(store.WriteSettingInt(u"Crash", u"counter", 0));
    EXPECT_FALSE(std::filesystem::exists(m_file.string() + ".tmp"));
    EXPECT_TRUE(backups().empty());
}

TEST_F(SettingsFileTest, concurrentWritersLoseNothing)
{
    constexpr int kWrites = 150;
    std::vector<pid_t> children;
    for (const std::string writer : {"a-", "b-"}) {
        children.push_back(spawn([&, writer] {
            SettingsStore store = openStore();
            for (int i = 0; i < kWrites; ++i)
                if (!store.WriteSettingInt(u"Race", Ascii(writer + std::to_string(i)), i))
                    ::_exit(2);
        }));
    }
    for (pid_t child : children) {
        const int status = waitFor(child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    RegistryDocument document = test::ParseFile(m_file);
    RegistryKeyNode* section =
        test::FindKey(document, {u"Software", u"Velmor", u"Hopwise", u"Race"});
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->values.size(), 2u * kWrites);
}

TEST_F(SettingsFileTest, unparsableFileIsKeptAsBackupWithOneWarning)
{
    std::vector<std::string> warnings;
    SetSettingsWarningSink([&](std::string_view text) { warnings.emplace_back(text); });
    std::filesystem::create_directories(m_file.parent_path());
    const std::string broken[] = {
        "not a registry file\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"a\"=dword:xyz\n"};
    SettingsStore store = openStore();
    for (const std::string& text : broken) {
        test::WriteWholeFile(m_file, text);
        EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), std::vector<std::u16string>{});
        EXPECT_EQ(test::ReadWholeFile(m_file), text) << "a read replaced the file";
        // The read of a setting creates its keys, so it is the first write.
        EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 1000);
        EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 1000);
        test::ParseFile(m_file);
    }
    std::vector<std::string> kept;
    for (const auto& backup : backups())
        kept.push_back(test::ReadWholeFile(backup).value_or(""));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{broken[1], broken[0]}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("line 1"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(m_file.string()), std::string::npos) << warnings[0];
}

TEST_F(SettingsFileTest, handEditWhileRunningIsReadAndNeverOverwritten)
{
    SettingsStore store = openStore();
    ASSERT_TRUE(store.WriteSettingInt(kTraceSettingsSection, kHopTimeoutName, 1000));
    std::string text = test::ReadWholeFile(m_file).value();
    const std::string old = "\"m_iHopTimeout\"=dword:000003e8";
    ASSERT_NE(text.find(old), std::string::npos) << text;
    text.replace(text.find(old), old.size(), "\"m_iHopTimeout\"=dword:000001f4");
    test::WriteWholeFile(m_file, text);

    ASSERT_TRUE(store.WriteSettingInt(kTraceSettingsSection, kMaxHopCountName, 25));
    EXPECT_EQ(store.GetSettingInt(kTraceSettingsSection, kHopTimeoutName, 1000), 500);
    EXPECT_EQ(openStore().GetSettingInt(kTraceSettingsSection, kMaxHopCountName, 20), 25);
}

TEST_F(SettingsFileTest, fileIsPrivateAndMissingDirectoriesAreCreatedPrivate)
{
    m_file = m_dir.path() / "config" / "Velmor" / "Hopwise.reg";
    const mode_t savedMask = ::umask(0);
    const bool written = openStore().WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 1);
    ::umask(savedMask);
    ASSERT_TRUE(written);
    struct Case {
        std::filesystem::path path;
        mode_t mode;
    };
    for (const Case& c : {Case{m_file, 0600}, Case{m_file.parent_path(), 0700},
                          Case{m_file.parent_path().parent_path(), 0700}}) {
        struct stat info {};
        ASSERT_EQ(::stat(c.path.c_str(), &info), 0) << c.path;
        EXPECT_EQ(info.st_mode & 0777, c.mode) << c.path;
    }
}

} // namespace
} // namespace hopwise
