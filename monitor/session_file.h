#pragma once

// A monitor's session on disk: an SQLite file with the run's metadata and every sample, which
// replays into a model as it was. While a run goes, SessionWriter keeps it as a temporary file in
// the user's cache folder ($XDG_CACHE_HOME/hopwise/, or ~/.cache/hopwise/), one transaction per
// drain; saving copies it whole through SQLite's backup, so the copy is consistent while the run
// goes on.

#include <cstdint>
#include <string>

#include "monitor/monitor_model.h"
#include "monitor/monitor_sample.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hopwise {

struct SessionInfo {
    std::string host; // as typed
    std::uint32_t intervalMs = 0;
    std::uint32_t timeoutMs = 0;
    std::int64_t startMs = 0; // wall clock, ms since the epoch
    std::int64_t endMs = 0;   // the last sample's
    std::string address;      // the destination's address text
};

// The session format's version, in PRAGMA user_version.
inline constexpr int kSessionVersion = 1;

class SessionWriter {
public:
    SessionWriter();
    ~SessionWriter(); // closes and removes the temporary file
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    // Creates the temporary file and writes the metadata; false with error set when it can't.
    bool open(const SessionInfo& info, std::string& error);
    bool isOpen() const { return m_db != nullptr; }
    // Appends the samples and sets the end, in one transaction.
    bool append(const MonitorSample* samples, std::size_t count);
    const std::string& path() const { return m_path; }
    sqlite3* database() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_setEnd = nullptr;
    std::string m_path;
};

// Copies the session as written so far to path (replacing what is there).
bool SaveSessionCopy(const SessionWriter& writer, const std::string& path, std::string& error);

// Replays every sample of the file into model (which should be fresh) and fills info. A file
// that isn't a session, is of a later version or is damaged gives false and error, never more.
bool OpenSession(const std::string& path, SessionInfo& info, MonitorModel& model,
                 std::string& error);

} // namespace hopwise
