#include "tests/net/real_echo.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {

EchoOutcome Echo(const char* destination, const EchoOptions* options, std::uint32_t timeoutMs,
                 const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> buffer(sizeof(EchoReply) + data.size() + 64, 0xCC);
    EchoOutcome outcome;
    SetLastEchoError(0);
    const auto start = std::chrono::steady_clock::now();
    outcome.count = SendEcho(OpenEchoHandle(), Ip(destination), data.data(),
                             static_cast<std::uint16_t>(data.size()), options, buffer.data(),
                             static_cast<std::uint32_t>(buffer.size()), timeoutMs);
    outcome.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    outcome.lastError = GetLastEchoError();
    std::memcpy(&outcome.record, buffer.data(), sizeof(EchoReply));
    if (outcome.count > 0) {
        const EchoReply& record = outcome.record;
        if (record.dataSize > 0 && record.dataOffset + record.dataSize <= buffer.size())
            outcome.data.assign(buffer.data() + record.dataOffset,
                                buffer.data() + record.dataOffset + record.dataSize);
        const auto& o = record.options;
        if (o.optionsSize > 0 && o.optionsOffset + o.optionsSize <= buffer.size())
            outcome.options.assign(buffer.data() + o.optionsOffset,
                                   buffer.data() + o.optionsOffset + o.optionsSize);
    }
    return outcome;
}

std::string RunAsUser(const NetNamespace* ns, unsigned uid, unsigned gid,
                      const std::function<std::string()>& body, int timeoutMs)
{
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return "fork failed";
    }
    if (child == 0) {
        close(channel[0]);
        std::string result;
        if (ns != nullptr) {
            const std::string path = "/var/run/netns/" + ns->name();
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
                result = "child: can't join " + ns->name();
        }
        if (result.empty() && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            result = "child: can't become " + std::to_string(uid) + ":" + std::to_string(gid);
        if (result.empty())
            result = body();
        if (result.empty())
            result = "ok";
        [[maybe_unused]] const ssize_t written = write(channel[1], result.data(), result.size());
        _exit(0);
    }
    close(channel[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(child, SIGKILL);
            text = "child timed out; said: " + text;
            break;
        }
        pollfd fd{channel[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        std::array<char, 256> chunk;
        const ssize_t got = read(channel[0], chunk.data(), chunk.size());
        if (got <= 0)
            break;
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (text == "ok")
        return "";
    return text.empty() ? "child died without a word (status " + std::to_string(status) + ")"
                        : text;
}

int OpenDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace hopwise::test
