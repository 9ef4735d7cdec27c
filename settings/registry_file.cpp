#include "settings/registry_file.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/settings_warning.h"

namespace hopwise {

namespace {

struct WarningState {
    std::mutex mutex;
    SettingsWarningSink sink;
    bool warned = false;
};

WarningState& warningState()
{
    static WarningState state;
    return state;
}

void warnOnce(const std::string& message)
{
    WarningState& state = warningState();
    const std::lock_guard lock(state.mutex);
    if (state.warned)
        return;
    state.warned = true;
    if (state.sink)
        state.sink(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now, reporting whether the close succeeded (it can report a deferred write error).
    bool reset()
    {
        const bool ok = m_fd < 0 || ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool fsyncDirectory(const std::filesystem::path& directory)
{
    const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

// mkdir -p with 0700 for what it creates; existing directories keep their mode.
bool makeDirectories(const std::filesystem::path& directory)
{
    std::filesystem::path prefix;
    for (const std::filesystem::path& part : directory) {
        prefix /= part;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

enum class LoadState { Read, Missing, Unreadable };

struct Loaded {
    LoadState state = LoadState::Missing;
    std::string bytes;
};

Loaded readFile(const std::filesystem::path& file)
{
    Loaded loaded;
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        loaded.state =
            (errno == ENOENT || errno == ENOTDIR) ? LoadState::Missing : LoadState::Unreadable;
        return loaded;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            loaded.state = LoadState::Unreadable;
            return loaded;
        }
        if (n == 0)
            break;
        loaded.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    loaded.state = LoadState::Read;
    return loaded;
}

std::string utcStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// Keeps the bytes of an unparsable file beside it; O_EXCL so that an earlier backup survives.
bool keepBackup(const std::filesystem::path& file, const std::string& bytes)
{
    const std::string stem = file.string() + ".bad-" + utcStamp();
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        FileDescriptor fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.valid() && errno == EEXIST)
            continue;
        if (!fd.valid())
            return false;
        if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.reset()) {
            ::unlink(name.c_str());
            return false;
        }
        return true;
    }
    return false;
}

bool replaceAtomically(const std::filesystem::path& file, const std::string& bytes)
{
    // One fixed temporary name is enough: only the holder of the lock writes it, and whatever a
    // killed writer left there is truncated by the next one.
    const std::filesystem::path temporary = file.string() + ".tmp";
    FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid())
        return false;
    const bool written = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), bytes) &&
                         ::fsync(fd.get()) == 0 && fd.reset();
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return fsyncDirectory(file.parent_path());
}

std::string describeUnreadable(const std::filesystem::path& file)
{
    return "hopwise: can't read the settings file " + file.string() + "; using the defaults";
}

std::string describeUnparsable(const std::filesystem::path& file, const RegistryParseError& error)
{
    return "hopwise: the settings file " + file.string() + " can't be parsed (line " +
           std::to_string(error.line) + ": " + error.message +
           "); using the defaults. It is kept as " + file.string() +
           ".bad-<time> before settings are next saved.";
}

} // namespace

void SetSettingsWarningSink(SettingsWarningSink sink)
{
    WarningState& state = warningState();
    const std::lock_guard lock(state.mutex);
    state.sink = std::move(sink);
    state.warned = false;
}

bool UpdateRegistryFile(const std::filesystem::path& file, RegistryFileCache& cache,
                        const std::function<void(Registry&)>& operation)
{
    const std::filesystem::path directory =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        // Nothing is stored yet and there is no place for a lock: an operation that only reads
        // is done; one that writes creates the directory and starts over under the lock.
        RegistryDocument empty;
        Registry registry(empty);
        operation(registry);
        if (!registry.modified())
            return true;
        if (!makeDirectories(directory))
            return false;
    }

    const std::filesystem::path lockName = file.string() + ".lock";
    const FileDescriptor lock(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    bool locked = lock.valid();
    while (locked && ::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            locked = false;
    }

    Loaded loaded = readFile(file);
    bool unparsable = false;
    RegistryDocument scratch; // a missing or unusable file: an empty registry
    RegistryDocument* document = &scratch;
    if (loaded.state == LoadState::Read) {
        if (!cache.valid || cache.bytes != loaded.bytes) {
            RegistryParseError error;
            cache.valid = ParseRegistryText(loaded.bytes, cache.document, error);
            if (cache.valid) {
                cache.bytes = loaded.bytes;
            } else {
                unparsable = true;
                warnOnce(describeUnparsable(file, error));
            }
        }
        if (cache.valid)
            document = &cache.document;
    } else if (loaded.state == LoadState::Unreadable) {
        warnOnce(describeUnreadable(file));
    }

    Registry registry(*document);
    operation(registry);
    if (!registry.modified())
        return true;
    // The cached document no longer matches the file until the write below succeeds.
    cache.valid = false;
    // Without the lock another process could be between its read and its rename; without the
    // old bytes in hand we can't tell what the write would destroy.
    if (!locked || loaded.state == LoadState::Unreadable)
        return false;
    std::optional<std::string> text = SerializeRegistryText(*document);
    if (!text)
        return false;
    if (unparsable && !keepBackup(file, loaded.bytes))
        return false;
    if (!replaceAtomically(file, *text))
        return false;
    if (document == &scratch)
        cache.document = std::move(scratch);
    cache.bytes = std::move(*text);
    cache.valid = true;
    return true;
}

} // namespace hopwise
