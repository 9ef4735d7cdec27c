#include "settings/registry_file.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "settings/settings_warning.h"

namespace hopwise {

namespace {

struct WarningState {
    std::mutex mutex;
    SettingsWarningSink sink;
    std::array<bool, kSettingsWarningKinds> warned{};
};

WarningState& warningState()
{
    static WarningState state;
    return state;
}

void warnOnce(SettingsWarning kind, const std::string& message)
{
    WarningState& state = warningState();
    const std::lock_guard lock(state.mutex);
    bool& warned = state.warned.at(static_cast<std::size_t>(kind));
    if (warned)
        return;
    warned = true;
    if (state.sink)
        state.sink(kind, message);
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

// The file a symbolic link finally names (settings kept with the dotfiles elsewhere), so that a
// write replaces that file and the link stays; a dangling link names the file to create.
std::filesystem::path throughLinks(std::filesystem::path file)
{
    constexpr int kMaxLinks = 40; // as the kernel's own limit
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        std::error_code error;
        if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return file;
        const std::filesystem::path target = std::filesystem::read_symlink(file, error);
        if (error)
            return file;
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return file;
}

bool replaceAtomically(const std::filesystem::path& link, const std::string& bytes)
{
    const std::filesystem::path file = throughLinks(link);
    // A file the person gave another mode keeps it; only a new one is private.
    struct stat existing {};
    const mode_t mode = ::stat(file.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600;
    // One fixed temporary name is enough: only the holder of the lock writes it, and whatever a
    // killed writer left there is truncated by the next one.
    const std::filesystem::path temporary = file.string() + ".tmp";
    FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid())
        return false;
    const bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) &&
                         ::fsync(fd.get()) == 0 && fd.reset();
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return fsyncDirectory(file.has_parent_path() ? file.parent_path() : ".");
}

// The lock's descriptor, locked, or -1. Waits at most about two seconds; after one wait in vain
// later operations only try, so that a lock held elsewhere costs the window one short pause, not
// one per value. The wait is a blocking flock on a helper thread, because the kernel queues
// blocked requests fairly, while polling would starve behind a writer that takes the lock again
// at once. An abandoned helper keeps waiting and lets the lock go as soon as it gets it.
int takeLock(const std::filesystem::path& lockName, bool& gaveUp)
{
    const int fd = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        gaveUp = false;
        return fd;
    }
    if (errno != EWOULDBLOCK || gaveUp) {
        ::close(fd);
        return -1;
    }
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool locked = false;
        bool abandoned = false;
    };
    auto wait = std::make_shared<Wait>();
    try {
        std::thread([wait, fd] {
            int result = 0;
            do {
                result = ::flock(fd, LOCK_EX);
            } while (result != 0 && errno == EINTR);
            const std::lock_guard lock(wait->mutex);
            wait->finished = true;
            wait->locked = result == 0;
            if (wait->abandoned)
                ::close(fd);
            else
                wait->done.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        ::close(fd);
        gaveUp = true;
        return -1;
    }
    std::unique_lock lock(wait->mutex);
    constexpr auto kWait = std::chrono::seconds(2);
    if (wait->done.wait_for(lock, kWait, [&] { return wait->finished; }) && wait->locked) {
        gaveUp = false;
        return fd;
    }
    if (wait->finished)
        ::close(fd);
    else
        wait->abandoned = true;
    gaveUp = true;
    return -1;
}

std::string describeWriteFailure(const std::filesystem::path& file)
{
    return "hopwise: the settings could not be saved to " +
           throughLinks(file).lexically_normal().string() + ": " + std::strerror(errno);
}

std::string describeLocked(const std::filesystem::path& file)
{
    return "hopwise: another program holds the lock on the settings file " + file.string() + " (" +
           file.string() + ".lock); settings are kept in memory and not saved";
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
    state.warned = {};
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
    const FileDescriptor lock(takeLock(lockName, cache.lockGaveUp));
    const bool locked = lock.valid();

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
                warnOnce(SettingsWarning::Unreadable, describeUnparsable(file, error));
            }
        }
        if (cache.valid)
            document = &cache.document;
    } else if (loaded.state == LoadState::Unreadable) {
        warnOnce(SettingsWarning::Unreadable, describeUnreadable(file));
    } else if (cache.valid && cache.bytes.empty()) {
        document = &cache.document; // values kept in memory while the lock was held elsewhere
    }

    Registry registry(*document);
    operation(registry);
    if (!registry.modified())
        return true;
    // Without the lock another process could be between its read and its rename: the change
    // stays in memory, standing for the file's current bytes, and later operations build on it
    // until the file changes or the lock is free again.
    if (!locked && loaded.state != LoadState::Unreadable) {
        if (document == &scratch)
            cache.document = std::move(scratch);
        cache.bytes = std::move(loaded.bytes);
        cache.valid = true;
        warnOnce(SettingsWarning::Locked, describeLocked(file));
        return false;
    }
    // The cached document no longer matches the file until the write below succeeds.
    cache.valid = false;
    // Without the old bytes in hand we can't tell what the write would destroy.
    if (loaded.state == LoadState::Unreadable)
        return false;
    std::optional<std::string> text = SerializeRegistryText(*document);
    if (!text)
        return false;
    if ((unparsable && !keepBackup(file, loaded.bytes)) || !replaceAtomically(file, *text)) {
        warnOnce(SettingsWarning::WriteFailed, describeWriteFailure(file));
        return false;
    }
    if (document == &scratch)
        cache.document = std::move(scratch);
    cache.bytes = std::move(*text);
    cache.valid = true;
    return true;
}

} // namespace hopwise
