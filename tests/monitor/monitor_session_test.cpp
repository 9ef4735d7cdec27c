// A session saved and opened again gives the same table; files that aren't sessions, or are
// damaged, give their error. The exports agree with the rows they come from.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "monitor/monitor_export.h"
#include "monitor/session_file.h"
#include "res/texts.h"

namespace hopwise {
namespace {

constexpr std::int64_t kStart = 1'700'000'040'000;

HostAddress Address(std::uint8_t last)
{
    return HostAddress::ipv4(htonl(0x0A000000U | last));
}

// Three hops over cycles: hop 1 has two responders, hop 2 is silent, hop 3 (the target) loses
// every fourth probe.
std::vector<MonitorSample> Samples(std::int32_t cycles)
{
    std::vector<MonitorSample> samples;
    for (std::int32_t cycle = 0; cycle < cycles; ++cycle) {
        for (std::int16_t hop = 1; hop <= 3; ++hop) {
            MonitorSample sample;
            sample.clockMs = kStart + cycle * 1000LL;
            sample.cycle = cycle;
            sample.hop = hop;
            sample.answered = hop == 1 || (hop == 3 && cycle % 4 != 0);
            sample.roundTripUs = sample.answered ? 300U * hop + cycle % 7 : 0;
            if (sample.answered) {
                sample.responder = Address(hop == 1 ? static_cast<std::uint8_t>(1 + cycle / 6) : 3);
            }
            samples.push_back(sample);
        }
    }
    return samples;
}

class SessionFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/hopwise-session-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        setenv("XDG_CACHE_HOME", folder, 1);
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string m_folder;
};

TEST_F(SessionFile, SavedAndOpenedGivesTheSameTable)
{
    const SessionInfo info{"target.test", 1000, 800, kStart, 0, "10.0.0.3"};
    MonitorModel live;
    live.setDestination(Address(3));
    std::string error;
    std::string saved = m_folder + "/saved.hopwise";
    {
        SessionWriter writer;
        ASSERT_TRUE(writer.open(info, error)) << error;
        EXPECT_EQ(writer.path().rfind(m_folder + "/hopwise/", 0), 0U) << writer.path();
        const std::vector<MonitorSample> samples = Samples(12);
        for (std::size_t half : {0U, 1U}) { // two drains
            const MonitorSample* from = samples.data() + half * samples.size() / 2;
            ASSERT_TRUE(writer.append(from, samples.size() / 2));
            for (std::size_t i = 0; i < samples.size() / 2; ++i) {
                live.add(from[i]);
            }
        }
        ASSERT_TRUE(SaveSessionCopy(writer, saved, error)) << error;
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_folder + "/hopwise")); // the temporary file went

    MonitorModel opened;
    SessionInfo read;
    ASSERT_TRUE(OpenSession(saved, read, opened, error)) << error;
    EXPECT_EQ(read.host, info.host);
    EXPECT_EQ(read.address, info.address);
    EXPECT_EQ(read.intervalMs, info.intervalMs);
    EXPECT_EQ(read.timeoutMs, info.timeoutMs);
    EXPECT_EQ(read.startMs, info.startMs);
    EXPECT_EQ(read.endMs, kStart + 11000);
    EXPECT_EQ(opened.destinationHop(), 3);
    EXPECT_EQ(MonitorTableCsv(opened), MonitorTableCsv(live));
    EXPECT_EQ(opened.firstMs(), live.firstMs());
    EXPECT_EQ(opened.lastMs(), live.lastMs());
    EXPECT_EQ(opened.routeChanges().size(), live.routeChanges().size());
}

struct BadFile {
    const char* name;
    std::string_view error;
    std::function<void(const std::string& path)> make;
};

void Sql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// A saved session of many pages, written over from its second page on.
void Damaged(const std::string& path)
{
    SessionWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open({"t", 1000, 1000, kStart, 0, "10.0.0.3"}, error)) << error;
    const std::vector<MonitorSample> samples = Samples(400);
    writer.append(samples.data(), samples.size());
    ASSERT_TRUE(SaveSessionCopy(writer, path, error)) << error;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    const std::string garbage(8192, '\x5a');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
}

const BadFile kBadFiles[] = {
    {"missing", res::kSessionOpenFailed, [](const std::string&) {}},
    {"text", res::kSessionNotASession,
     [](const std::string& path) { std::ofstream(path) << "Hop,Responders\r\n1,10.0.0.1\r\n"; }},
    {"otherDatabase", res::kSessionNotASession,
     [](const std::string& path) { Sql(path, "CREATE TABLE t(x);"); }},
    {"newerVersion", res::kSessionTooNew,
     [](const std::string& path) {
         Sql(path, "PRAGMA application_id=1213224787; PRAGMA user_version=2;");
     }},
    {"damaged", res::kSessionDamaged, Damaged},
};

class BadSessionFiles : public SessionFile, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadSessionFiles, GiveTheirError)
{
    const std::string path = m_folder + "/file";
    GetParam().make(path);
    MonitorModel model;
    SessionInfo info;
    std::string error;
    EXPECT_FALSE(OpenSession(path, info, model, error));
    EXPECT_EQ(error.rfind(GetParam().error, 0), 0U) << error;
}

INSTANTIATE_TEST_SUITE_P(Rows, BadSessionFiles, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MonitorExport, AgreesWithTheRows)
{
    MonitorModel model;
    model.setDestination(Address(3));
    for (const MonitorSample& sample : Samples(12)) {
        model.add(sample);
    }
    const std::vector<HopRow>& rows = model.rows();
    ASSERT_EQ(rows.size(), 3U);

    const std::string csv = MonitorTableCsv(model);
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
              "Hop,Responders,Loss%,Sent,Recv,Last,Avg,Best,Wrst,StDev,Jitter,Note\r\n");
    EXPECT_NE(csv.find("\r\n1,10.0.0.1 10.0.0.2,0.0,12,12,0.304,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\n2,,100.0,12,0,,,,,,,\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\n3,10.0.0.3,25.0,12,9,"), std::string::npos) << csv;

    const SessionInfo info{"target.test", 1000, 1000, kStart, kStart + 11000, "10.0.0.3"};
    std::istringstream lines(MonitorReportJson(model, info));
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(objects.size(), 5U);
    EXPECT_EQ(objects[0]["type"], "destination");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const nlohmann::json& hop = objects[1 + i];
        EXPECT_EQ(hop["type"], "report_hop");
        EXPECT_EQ(hop["hop"], rows[i].hop);
        EXPECT_EQ(hop["sent"], rows[i].sent);
        EXPECT_EQ(hop["received"], rows[i].received);
        EXPECT_EQ(hop["loss_percent"], rows[i].lossPercent);
        EXPECT_EQ(hop["addresses"].size(), rows[i].responders.size());
        if (rows[i].received != 0) {
            EXPECT_EQ(hop["avg_us"], std::llround(rows[i].averageUs));
        }
    }
    const nlohmann::json& summary = objects[4];
    EXPECT_EQ(summary["type"], "summary");
    EXPECT_EQ(summary["cycles"], 12);
    EXPECT_EQ(summary["reached"], true);
    EXPECT_EQ(summary["start"], "2023-11-14T22:14:00.000Z");
    EXPECT_EQ(summary["end"], "2023-11-14T22:14:11.000Z");

    const std::string text = MonitorTableText(model);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
    EXPECT_NE(text.find("  ???  "), std::string::npos) << text;
}

} // namespace
} // namespace hopwise
