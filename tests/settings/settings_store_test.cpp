// The settings store as the pages and the histories use it, against exact files under data/,
// and its edge cases: odd stored integers, oversize history values, no company key.

#include "settings/settings_store.h"

#include "tests/settings/settings_test_util.h"

namespace hopwise::test {
namespace {

using Hosts = std::vector<std::u16string>;

const std::string kSection = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Velmor\\Hopwise\\";

TEST_F(SettingsTest, PagesStartWithDefaultsThenReadAndWriteAHandEditedFile)
{
    SettingsStore store = openStore();
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_FALSE(std::filesystem::exists(m_file.parent_path())) << "a listing created something";
    TraceRouteSettings trace;
    PingSettings ping;
    LoadSettings(store, trace);
    LoadSettings(store, ping);
    EXPECT_EQ(ReadFile(m_file), ReadFile(kData + "first_start.expected.reg"));
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(m_file).permissions(),
              perms::owner_read | perms::owner_write);
    EXPECT_EQ(std::filesystem::status(m_file.parent_path()).permissions(), perms::owner_all);

    writeFile(ReadFile(kData + "hand_edited.reg")); // while the program runs
    LoadSettings(store, trace);
    LoadSettings(store, ping);
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), (Hosts{u"gateway1", u"10.0.0.1", u""}));
    ping.m_iNumTrials = 4;
    trace.m_iMaxHopCount = 31; // a value set again keeps its first spelling
    SaveSettings(store, trace);
    SaveSettings(store, ping);
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"new.host"));
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"fe80::1%lo"));
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"GATEWAY1")); // keeps place and spelling
    EXPECT_FALSE(RecordHost(store, kPingHistorySection, u"new\nline"));
    EXPECT_FALSE(store.WriteSettingInt(u"Tab\tSection", kNumTrialsName, 1));
    EXPECT_EQ(ReadFile(m_file), ReadFile(kData + "hand_edited.expected.reg"));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection),
              (Hosts{u"gateway1", u"10.0.0.1", u"", u"new.host", u"fe80::1%lo"}));

    EXPECT_EQ(ClearHostHistory(store, kTraceHistorySection), Hosts{});
    EXPECT_EQ(ReadFile(m_file), ReadFile(kData + "hand_edited.expected.reg"))
        << "deleted a missing section";
    EXPECT_EQ(ClearHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"after"));
    EXPECT_EQ(LoadHostHistory(store, u"PING"), Hosts{u"after"});
}

TEST_F(SettingsTest, StoredIntegersReadAsTheStoreDefines)
{
    const std::pair<std::string, std::int32_t> cases[] = {
        {"\"other\"=dword:00000001", 77},
        {"\"V\"=dword:fffffffe", -2},
        {"\"v\"=hex(4):01,00,00,00,00,00,00,00", 77},
        {"\"v\"=hex:", 0},
        {"\"v\"=hex:01,02,03", 0x030201},
        {"\"v\"=\"-\"", 0x2D},
        {"\"v\"=hex(7):02,00,00,80", -0x7FFFFFFE},
    };
    for (const auto& [value, expected] : cases) {
        writeFile(kSection + "PingDialog]\n" + value + "\n");
        EXPECT_EQ(openStore().GetSettingInt(kPingSettingsSection, u"v", 77), expected) << value;
    }
}

TEST_F(SettingsTest, HistoryListingKeepsEntriesWithDataAndSkipsAnOversizeValue)
{
    const std::string name255(255, 'n');
    const std::string data256 = '"' + std::string(127, 'd') + '"'; // with its terminator
    const std::pair<std::string, Hosts> cases[] = {
        {"\"a\"=\"-\"\n\"b\"=hex(1):\n@=dword:00000000\n", {u"a", u""}},
        {"\"" + name255 + "\"=\"-\"\n\"c\"=\"-\"\n", {std::u16string(255, u'n'), u"c"}},
        {"\"a\"=\"-\"\n\"n" + name255 + "\"=\"-\"\n\"c\"=\"-\"\n", {u"a", u"c"}},
        {"\"a\"=" + data256 + "\n\"c\"=\"-\"\n", {u"a", u"c"}},
        {"\"a\"=\"-\"\n\"b\"=\"d" + data256.substr(1) + "\n\"c\"=\"-\"\n", {u"a", u"c"}},
    };
    for (const auto& [values, expected] : cases) {
        writeFile(kSection + "Ping]\n" + values);
        Hosts list{u"kept"};
        EXPECT_EQ(openStore().ReadSectionEntries(kPingHistorySection, list),
                  int(expected.size()) + 1);
        list.erase(list.begin());
        EXPECT_EQ(list, expected) << values;
    }
}

TEST_F(SettingsTest, WithoutACompanyKeyReadsZeroAndWritesNothing)
{
    SettingsStore store(m_file);
    EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 0);
    EXPECT_FALSE(store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 5));
    EXPECT_FALSE(RecordHost(store, kPingHistorySection, u"host"));
    EXPECT_FALSE(std::filesystem::exists(m_file.parent_path()));
}

} // namespace
} // namespace hopwise::test
