#include "monitor/session_file.h"

#include <arpa/inet.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "res/texts.h"

namespace hopwise {

namespace {

// "HPWS" in the header's application id tells a session from any other SQLite file.
constexpr int kApplicationId = 0x48505753;

constexpr char kSchema[] = "CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                           "CREATE TABLE samples(clock_ms INTEGER NOT NULL, cycle INTEGER NOT NULL,"
                           " hop INTEGER NOT NULL, answered INTEGER NOT NULL,"
                           " round_trip_us INTEGER NOT NULL, responder TEXT NOT NULL);";

std::string withReason(std::string_view text, const std::string& path, sqlite3* db)
{
    std::string message = std::string(text) + ": " + path;
    if (db != nullptr) {
        message += " (" + std::string(sqlite3_errmsg(db)) + ")";
    }
    return message;
}

bool exec(sqlite3* db, const std::string& sql)
{
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string cacheFolder()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && *cache == '/') {
        return std::string(cache) + "/hopwise";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.cache/hopwise";
}

bool makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

HostAddress parseAddress(const char* text)
{
    in_addr ipv4{};
    if (inet_pton(AF_INET, text, &ipv4) == 1) {
        return HostAddress::ipv4(ipv4.s_addr);
    }
    return ParseIpv6Literal(text).value_or(HostAddress{});
}

struct Statement {
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

struct Database {
    sqlite3* handle = nullptr;
    ~Database() { sqlite3_close(handle); }
};

} // namespace

SessionWriter::SessionWriter() = default;

SessionWriter::~SessionWriter()
{
    sqlite3_finalize(m_insert);
    sqlite3_finalize(m_setEnd);
    sqlite3_close(m_db);
    if (!m_path.empty()) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            unlink((m_path + suffix).c_str());
        }
    }
}

bool SessionWriter::open(const SessionInfo& info, std::string& error)
{
    const std::string folder = cacheFolder();
    std::string name = folder + "/session-XXXXXX";
    int fd = -1;
    if (makeFolders(folder)) {
        fd = mkstemp(name.data());
    }
    if (fd < 0) {
        error = withReason(res::kSessionCacheFailed, folder, nullptr);
        return false;
    }
    close(fd);
    m_path = name;
    if (sqlite3_open(m_path.c_str(), &m_db) != SQLITE_OK ||
        !exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                    "PRAGMA application_id=" +
                        std::to_string(kApplicationId) +
                        "; PRAGMA user_version=" + std::to_string(kSessionVersion) + ";") ||
        !exec(m_db, kSchema)) {
        error = withReason(res::kSessionCacheFailed, m_path, m_db);
        return false;
    }
    Statement meta;
    sqlite3_prepare_v2(m_db, "INSERT OR REPLACE INTO metadata VALUES(?1, ?2)", -1, &meta.handle,
                       nullptr);
    const std::pair<const char*, std::string> values[] = {
        {"host", info.host},
        {"address", info.address},
        {"interval_ms", std::to_string(info.intervalMs)},
        {"timeout_ms", std::to_string(info.timeoutMs)},
        {"start_ms", std::to_string(info.startMs)},
        {"end_ms", std::to_string(info.endMs)},
    };
    for (const auto& [key, value] : values) {
        sqlite3_bind_text(meta.handle, 1, key, -1, SQLITE_STATIC);
        sqlite3_bind_text(meta.handle, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(meta.handle) != SQLITE_DONE) {
            error = withReason(res::kSessionCacheFailed, m_path, m_db);
            return false;
        }
        sqlite3_reset(meta.handle);
    }
    if (sqlite3_prepare_v2(m_db, "INSERT INTO samples VALUES(?1, ?2, ?3, ?4, ?5, ?6)", -1,
                           &m_insert, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(m_db, "UPDATE metadata SET value = ?1 WHERE key = 'end_ms'", -1,
                           &m_setEnd, nullptr) != SQLITE_OK) {
        error = withReason(res::kSessionCacheFailed, m_path, m_db);
        return false;
    }
    return true;
}

bool SessionWriter::append(const MonitorSample* samples, std::size_t count)
{
    if (m_db == nullptr || !exec(m_db, "BEGIN")) {
        return false;
    }
    bool ok = true;
    std::int64_t end = 0;
    for (std::size_t i = 0; i < count && ok; ++i) {
        const MonitorSample& sample = samples[i];
        const bool answered = sample.answered && sample.responder;
        sqlite3_bind_int64(m_insert, 1, sample.clockMs);
        sqlite3_bind_int(m_insert, 2, sample.cycle);
        sqlite3_bind_int(m_insert, 3, sample.hop);
        sqlite3_bind_int(m_insert, 4, answered ? 1 : 0);
        sqlite3_bind_int64(m_insert, 5, sample.roundTripUs);
        sqlite3_bind_text(m_insert, 6, answered ? FormatAddress(sample.responder) : "", -1,
                          SQLITE_TRANSIENT);
        ok = sqlite3_step(m_insert) == SQLITE_DONE;
        sqlite3_reset(m_insert);
        end = std::max(end, sample.clockMs);
    }
    if (ok && end != 0) {
        const std::string text = std::to_string(end);
        sqlite3_bind_text(m_setEnd, 1, text.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(m_setEnd) == SQLITE_DONE;
        sqlite3_reset(m_setEnd);
    }
    return exec(m_db, ok ? "COMMIT" : "ROLLBACK") && ok;
}

bool SaveSessionCopy(const SessionWriter& writer, const std::string& path, std::string& error)
{
    if (writer.database() == nullptr) {
        error = withReason(res::kSessionSaveFailed, path, nullptr);
        return false;
    }
    Database target;
    if (sqlite3_open(path.c_str(), &target.handle) != SQLITE_OK) {
        error = withReason(res::kSessionSaveFailed, path, target.handle);
        return false;
    }
    sqlite3_backup* backup = sqlite3_backup_init(target.handle, "main", writer.database(), "main");
    if (backup == nullptr) {
        error = withReason(res::kSessionSaveFailed, path, target.handle);
        return false;
    }
    const int stepped = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    // The copy keeps the WAL mode of its source; as a file to share it is better whole.
    if (stepped != SQLITE_DONE || !exec(target.handle, "PRAGMA journal_mode=DELETE")) {
        error = withReason(res::kSessionSaveFailed, path, target.handle);
        return false;
    }
    return true;
}

bool OpenSession(const std::string& path, SessionInfo& info, MonitorModel& model,
                 std::string& error)
{
    Database db;
    if (access(path.c_str(), R_OK) != 0 ||
        sqlite3_open_v2(path.c_str(), &db.handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = withReason(res::kSessionOpenFailed, path, nullptr);
        return false;
    }
    const auto pragma = [&db](const char* sql, int& value) {
        Statement query;
        if (sqlite3_prepare_v2(db.handle, sql, -1, &query.handle, nullptr) != SQLITE_OK ||
            sqlite3_step(query.handle) != SQLITE_ROW) {
            return false;
        }
        value = sqlite3_column_int(query.handle, 0);
        return true;
    };
    int application = 0;
    int version = 0;
    if (!pragma("PRAGMA application_id", application) || !pragma("PRAGMA user_version", version)) {
        error = withReason(res::kSessionNotASession, path, nullptr);
        return false;
    }
    if (application != kApplicationId) {
        error = withReason(res::kSessionNotASession, path, nullptr);
        return false;
    }
    if (version > kSessionVersion) {
        error = withReason(res::kSessionTooNew, path, nullptr);
        return false;
    }

    SessionInfo read;
    Statement meta;
    if (sqlite3_prepare_v2(db.handle, "SELECT key, value FROM metadata", -1, &meta.handle,
                           nullptr) != SQLITE_OK) {
        error = withReason(res::kSessionDamaged, path, db.handle);
        return false;
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(meta.handle)) == SQLITE_ROW) {
        const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(meta.handle, 0));
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(meta.handle, 1));
        const std::string k = key != nullptr ? key : "";
        const std::string v = value != nullptr ? value : "";
        const long long number = std::strtoll(v.c_str(), nullptr, 10);
        if (k == "host") {
            read.host = v;
        } else if (k == "address") {
            read.address = v;
        } else if (k == "interval_ms") {
            read.intervalMs = static_cast<std::uint32_t>(number);
        } else if (k == "timeout_ms") {
            read.timeoutMs = static_cast<std::uint32_t>(number);
        } else if (k == "start_ms") {
            read.startMs = number;
        } else if (k == "end_ms") {
            read.endMs = number;
        }
    }
    if (step != SQLITE_DONE) {
        error = withReason(res::kSessionDamaged, path, db.handle);
        return false;
    }

    model.setDestination(parseAddress(read.address.c_str()));
    Statement rows;
    if (sqlite3_prepare_v2(db.handle,
                           "SELECT clock_ms, cycle, hop, answered, round_trip_us, responder"
                           " FROM samples ORDER BY rowid",
                           -1, &rows.handle, nullptr) != SQLITE_OK) {
        error = withReason(res::kSessionDamaged, path, db.handle);
        return false;
    }
    while ((step = sqlite3_step(rows.handle)) == SQLITE_ROW) {
        MonitorSample sample;
        sample.clockMs = sqlite3_column_int64(rows.handle, 0);
        sample.cycle = sqlite3_column_int(rows.handle, 1);
        sample.hop = static_cast<std::int16_t>(sqlite3_column_int(rows.handle, 2));
        const auto* responder = reinterpret_cast<const char*>(sqlite3_column_text(rows.handle, 5));
        sample.responder = responder != nullptr ? parseAddress(responder) : HostAddress{};
        sample.answered = sqlite3_column_int(rows.handle, 3) != 0 && sample.responder;
        sample.roundTripUs = static_cast<std::uint32_t>(sqlite3_column_int64(rows.handle, 4));
        model.add(sample);
    }
    if (step != SQLITE_DONE) {
        error = withReason(res::kSessionDamaged, path, db.handle);
        return false;
    }
    info = read;
    return true;
}

} // namespace hopwise
