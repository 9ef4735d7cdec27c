// The settings store's routines against a backing file in a private directory: defaults and
// key creation on first start, how odd stored values read, what the history listing keeps and
// where it stops, names in any case, texts of any kind, and the exact file written.

#include <gtest/gtest.h>

#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"
#include "settings_test_util.h"

namespace hopwise {
namespace {

using Hosts = std::vector<std::u16string>;

const std::string kHead = "Windows Registry Editor Version 5.00\n\n";
const std::string kPingSection = "[HKEY_CURRENT_USER\\Software\\Velmor\\Hopwise\\Ping]\n";
const std::string kPingSettings = "[HKEY_CURRENT_USER\\Software\\Velmor\\Hopwise\\PingDialog]\n";

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStore openStore()
    {
        SettingsStore store(m_file);
        store.SetRegistryKey(kCompanyKey);
        store.SetAppName(kApplicationName);
        return store;
    }

    // Reads the seven settings as the two pages do on construction.
    std::vector<std::int32_t> readPageSettings(SettingsStore& store)
    {
        return {
            store.GetSettingInt(kTraceSettingsSection, kMaxHopCountName, kDefaultMaxHopCount),
            store.GetSettingInt(kTraceSettingsSection, kHopTimeoutName, kDefaultHopTimeout),
            store.GetSettingInt(kTraceSettingsSection, kResolveIpName, kDefaultResolveIp),
            store.GetSettingInt(kPingSettingsSection, kMaxHopCountName, kDefaultMaxHopCount),
            store.GetSettingInt(kPingSettingsSection, kNumTrialsName, kDefaultNumTrials),
            store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, kDefaultHopTimeout),
            store.GetSettingInt(kPingSettingsSection, kMaxItemsInListName, kDefaultMaxItemsInList)};
    }

    test::TempDir m_dir;
    std::filesystem::path m_file = m_dir.path() / "Velmor" / "Hopwise.reg";
};

TEST_F(SettingsStoreTest, firstStartReadsDefaultsAndCreatesOnlyTheSettingsSections)
{
    SettingsStore store = openStore();
    EXPECT_EQ(LoadHostHistory(store, kTraceHistorySection), Hosts{});
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "Velmor")) << "listing created something";

    EXPECT_EQ(readPageSettings(store), (std::vector<std::int32_t>{20, 1000, 0, 20, -1, 1000, 50}));
    EXPECT_EQ(test::ReadWholeFile(m_file), test::TestDataFile("first_start.expected.reg"));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_EQ(test::ReadWholeFile(m_file), test::TestDataFile("first_start.expected.reg"));
}

TEST_F(SettingsStoreTest, withoutACompanyKeyReadsZeroAndWritesNothing)
{
    SettingsStore store(m_file);
    store.SetAppName(kApplicationName);
    EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 0);
    EXPECT_FALSE(store.WriteSettingInt(kPingSettingsSection, kHopTimeoutName, 5));
    EXPECT_FALSE(store.AddSectionEntry(kPingHistorySection, u"host"));
    Hosts hosts{u"kept"};
    EXPECT_EQ(store.ReadSectionEntries(kPingHistorySection, hosts), 1);
    EXPECT_FALSE(std::filesystem::exists(m_file));
}

struct ReadCase {
    const char* name;
    std::string valueLine; // in PingDialog, named "v"
    std::int32_t expected; // read with default 77
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.name;
}

class StoredIntegerRead : public SettingsStoreTest,
                          public ::testing::WithParamInterface<ReadCase> {};

TEST_P(StoredIntegerRead, readsAsTheStoreDefines)
{
    std::filesystem::create_directories(m_file.parent_path());
    test::WriteWholeFile(m_file, kHead + kPingSettings + GetParam().valueLine + "\n");
    SettingsStore store = openStore();
    EXPECT_EQ(store.GetSettingInt(kPingSettingsSection, u"v", 77), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredIntegerRead,
    ::testing::Values(ReadCase{"missing", "\"other\"=dword:00000001", 77},
                      ReadCase{"dword", "\"v\"=dword:000001f4", 500},
                      ReadCase{"minusOne", "\"v\"=dword:ffffffff", -1},
                      ReadCase{"otherCase", "\"V\"=dword:00000005", 5},
                      ReadCase{"eightByteInteger", "\"v\"=hex(4):01,00,00,00,00,00,00,00", 77},
                      ReadCase{"fiveByteBinary", "\"v\"=hex:01,00,00,00,00", 77},
                      ReadCase{"fourByteString", "\"v\"=\"-\"", 0x2D},
                      ReadCase{"twoByteString", "\"v\"=\"\"", 0},
                      ReadCase{"threeBytes", "\"v\"=hex:01,02,03", 0x030201},
                      ReadCase{"noBytes", "\"v\"=hex(4):", 0},
                      ReadCase{"typeNotChecked", "\"v\"=hex(7):02,00,00,80", -0x7FFFFFFE}),
    [](const auto& info) { return std::string(info.param.name); });

struct ListCase {
    const char* name;
    std::string values; // lines in the Ping history section
    Hosts expected;
};

std::vector<ListCase> ListCases()
{
    const std::string name255(255, 'n');
    const std::string name256(256, 'n');
    std::string data256 = "hex:00";
    for (int i = 1; i < 256; ++i)
        data256 += ",00";
    return {
        {"emptyDataSkipped", "\"a\"=\"-\"\n\"b\"=hex(1):\n\"c\"=\"-\"\n", {u"a", u"c"}},
        {"anyTypeListed", "\"a\"=dword:00000000\n\"b\"=hex:ff\n", {u"a", u"b"}},
        {"unnamedValueListed", "@=\"-\"\n", {u""}},
        {"name255Listed",
         "\"a\"=\"-\"\n\"" + name255 + "\"=\"-\"\n\"c\"=\"-\"\n",
         {u"a", std::u16string(255, u'n'), u"c"}},
        {"name256EndsListing", "\"a\"=\"-\"\n\"" + name256 + "\"=\"-\"\n\"c\"=\"-\"\n", {u"a"}},
        {"data256Listed", "\"a\"=" + data256 + "\n\"c\"=\"-\"\n", {u"a", u"c"}},
        {"data257EndsListing", "\"a\"=\"-\"\n\"b\"=" + data256 + ",00\n\"c\"=\"-\"\n", {u"a"}},
    };
}

void PrintTo(const ListCase& c, std::ostream* out)
{
    *out << c.name;
}

class HistoryListing : public SettingsStoreTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(HistoryListing, appendsWhatTheStoreCountsAsEntries)
{
    std::filesystem::create_directories(m_file.parent_path());
    test::WriteWholeFile(m_file, kHead + kPingSection + GetParam().values + "\n");
    SettingsStore store = openStore();
    Hosts list{u"already"};
    Hosts expected = GetParam().expected;
    expected.insert(expected.begin(), u"already");
    EXPECT_EQ(store.ReadSectionEntries(kPingHistorySection, list),
              static_cast<int>(expected.size()));
    EXPECT_EQ(list, expected);
}

INSTANTIATE_TEST_SUITE_P(Sections, HistoryListing, ::testing::ValuesIn(ListCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsStoreTest, historiesKeepTheirOrderAcrossStoresAndStayApart)
{
    {
        SettingsStore store = openStore();
        for (std::u16string_view host : {u"gateway1", u"10.0.0.1", u"example.test"})
            EXPECT_TRUE(RecordHost(store, kTraceHistorySection, host));
        EXPECT_TRUE(RecordHost(store, kTraceHistorySection, u"GATEWAY1")); // same entry
        EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"10.0.0.1"));
    }
    SettingsStore store = openStore();
    EXPECT_EQ(LoadHostHistory(store, kTraceHistorySection),
              (Hosts{u"gateway1", u"10.0.0.1", u"example.test"}));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{u"10.0.0.1"});

    EXPECT_EQ(ClearHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_EQ(LoadHostHistory(store, kTraceHistorySection),
              (Hosts{u"gateway1", u"10.0.0.1", u"example.test"}));
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"after"));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{u"after"});
}

TEST_F(SettingsStoreTest, deletingAMissingSectionChangesNothing)
{
    SettingsStore store = openStore();
    EXPECT_TRUE(RecordHost(store, kTraceHistorySection, u"kept"));
    const std::optional<std::string> before = test::ReadWholeFile(m_file);
    EXPECT_EQ(ClearHostHistory(store, kPingHistorySection), Hosts{});
    EXPECT_EQ(test::ReadWholeFile(m_file), before);
    SettingsStore nothingStored(m_dir.path() / "elsewhere" / "Hopwise.reg");
    nothingStored.SetRegistryKey(kCompanyKey);
    EXPECT_EQ(ClearHostHistory(nothingStored, kPingHistorySection), Hosts{});
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "elsewhere"));
}

TEST_F(SettingsStoreTest, namesMatchInAnyCaseAcrossBothGroupsOfRoutines)
{
    SettingsStore store = openStore();
    ASSERT_TRUE(store.WriteSettingInt(u"PINGDIALOG", u"M_IHOPTIMEOUT", 250));
    ASSERT_TRUE(store.AddSectionEntry(u"PING", u"host"));
    SettingsStore other(m_file);
    other.SetRegistryKey(u"VELMOR");
    other.SetAppName(u"hopwise");
    EXPECT_EQ(other.GetSettingInt(kPingSettingsSection, kHopTimeoutName, 1000), 250);
    EXPECT_EQ(LoadHostHistory(other, u"ping"), Hosts{u"host"});
    other.DeleteSection(u"pInG");
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{});
    // The spellings first written stay in the file.
    RegistryDocument document = test::ParseFile(m_file);
    RegistryKeyNode* section =
        test::FindKey(document, {u"Software", u"Velmor", u"Hopwise", u"PingDialog"});
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->name, u"PINGDIALOG");
}

TEST_F(SettingsStoreTest, listRoutinesOnlySeeTheProductNamedHopwise)
{
    SettingsStore store = openStore();
    store.SetAppName(u"Renamed");
    ASSERT_TRUE(store.AddSectionEntry(kPingHistorySection, u"host"));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), Hosts{});
    RegistryDocument document = test::ParseFile(m_file);
    EXPECT_NE(test::FindKey(document, {u"Software", u"Velmor", u"Renamed", u"Ping"}), nullptr);
}

TEST_F(SettingsStoreTest, textsOfAnyKindRoundTripOrAreRefused)
{
    const std::u16string texts[] = {u"say \"hi\"",
                                    u"C:\\dir\\",
                                    u"two\nlines\r\n",
                                    u"\u00E9\u4E2D\U0001F600",
                                    std::u16string(u"nul\0inside", 10),
                                    u"lone \xD800 half",
                                    std::u16string(10240, u'k')};
    SettingsStore store = openStore();
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_TRUE(
            store.WriteSettingString(u"Texts", u"t" + std::u16string(1, u'a' + i), texts[i]));
    RegistryDocument document = test::ParseFile(m_file);
    RegistryKeyNode* section =
        test::FindKey(document, {u"Software", u"Velmor", u"Hopwise", u"Texts"});
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->values.size(), std::size(texts));
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        std::u16string back;
        const std::vector<std::uint8_t>& data = section->values[i].data;
        for (std::size_t b = 0; b + 1 < data.size(); b += 2)
            back += static_cast<char16_t>(data[b] | (data[b + 1] << 8));
        EXPECT_EQ(back, texts[i] + u'\0') << i;
    }

    const std::u16string hosts[] = {u"a \"quoted\" \\host\\", u"h\u00F6st.example",
                                    std::u16string(255, u'h')};
    for (const std::u16string& host : hosts)
        EXPECT_TRUE(RecordHost(store, kTraceHistorySection, host));
    EXPECT_EQ(LoadHostHistory(store, kTraceHistorySection),
              Hosts(std::begin(hosts), std::end(hosts)));

    const std::optional<std::string> before = test::ReadWholeFile(m_file);
    for (std::u16string_view refused :
         {std::u16string_view(u"new\nline"), std::u16string_view(u"\xDC00"),
          std::u16string_view(u"tab\t")})
        EXPECT_FALSE(RecordHost(store, kTraceHistorySection, refused));
    EXPECT_EQ(test::ReadWholeFile(m_file), before);
}

TEST_F(SettingsStoreTest, handWrittenFileReadsAndIsRewrittenExactly)
{
    std::filesystem::create_directories(m_file.parent_path());
    test::WriteWholeFile(m_file, test::TestDataFile("hand_edited.reg"));
    SettingsStore store = openStore();
    EXPECT_EQ(readPageSettings(store), (std::vector<std::int32_t>{30, 500, 1, 20, -1, 1000, 50}));
    EXPECT_EQ(LoadHostHistory(store, kPingHistorySection), (Hosts{u"gateway1", u"10.0.0.1", u""}));
    EXPECT_TRUE(store.WriteSettingInt(kPingSettingsSection, kNumTrialsName, 4));
    EXPECT_TRUE(RecordHost(store, kPingHistorySection, u"new.host"));
    EXPECT_EQ(test::ReadWholeFile(m_file), test::TestDataFile("hand_edited.expected.reg"));
}

TEST(SplitFirstComponent, takesTheTextUpToTheFirstBackslash)
{
    struct Case {
        std::u16string path, first, rest;
    };
    for (const Case& c :
         {Case{u"HKEY_CURRENT_USER\\Software\\Velmor", u"HKEY_CURRENT_USER", u"Software\\Velmor"},
          Case{u"Hopwise", u"Hopwise", u""}, Case{u"", u"", u""}, Case{u"\\lead", u"", u"lead"},
          Case{u"trail\\", u"trail", u""}, Case{u"a\\\\b", u"a", u"\\b"}}) {
        std::u16string path = c.path;
        EXPECT_EQ(SplitFirstComponent(path), c.first);
        EXPECT_EQ(path, c.rest);
    }
}

TEST(DefaultBackingFile, followsTheConfigHome)
{
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> xdg =
        savedXdg ? std::optional<std::string>(savedXdg) : std::nullopt;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    ::setenv("HOME", "/home/tester", 1);
    struct Case {
        const char* xdg;
        const char* expected;
    };
    for (const Case& c : {Case{"/cfg", "/cfg/Velmor/Hopwise.reg"},
                          Case{"", "/home/tester/.config/Velmor/Hopwise.reg"},
                          Case{"relative", "/home/tester/.config/Velmor/Hopwise.reg"},
                          Case{nullptr, "/home/tester/.config/Velmor/Hopwise.reg"}}) {
        if (c.xdg != nullptr)
            ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(SettingsStore::DefaultBackingFile(), c.expected);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    if (xdg)
        ::setenv("XDG_CONFIG_HOME", xdg->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace hopwise
