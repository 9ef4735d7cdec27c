#include "tests/probe/real_echo.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "tests/support/isolated_process.h"
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
    const auto becomeUser = [ns, uid, gid]() -> std::string {
        if (ns != nullptr) {
            const std::string path = "/var/run/netns/" + ns->name();
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
                return "child: can't join " + ns->name();
        }
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            return "child: can't become " + std::to_string(uid) + ":" + std::to_string(gid);
        return {};
    };
    return RunInChild(becomeUser, body, timeoutMs);
}

int OpenDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace hopwise::test
