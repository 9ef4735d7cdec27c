#include "tests/probe/real_echo.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>

#include "tests/support/isolated_process.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {

EchoOutcome Echo(const char* destination, const EchoOptions* options, std::uint32_t timeoutMs,
                 const std::vector<std::uint8_t>& data)
{
    using namespace std::chrono;
    // One record, the echoed data and up to 40 option bytes.
    std::vector<EchoReply> buffer(3 + (data.size() + sizeof(EchoReply) - 1) / sizeof(EchoReply));
    EchoOutcome outcome;
    SetLastEchoError(0);
    const auto start = steady_clock::now();
    outcome.count =
        SendEcho(OpenEchoHandle(), Ip(destination), data.data(),
                 static_cast<std::uint16_t>(data.size()), options, buffer.data(),
                 static_cast<std::uint32_t>(buffer.size() * sizeof(EchoReply)), timeoutMs);
    outcome.elapsedMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
    outcome.lastError = GetLastEchoError();
    outcome.record = buffer[0];
    if (const std::uint8_t* bytes = outcome.count > 0 ? buffer[0].data() : nullptr)
        outcome.data.assign(bytes, bytes + buffer[0].dataSize);
    if (const std::uint8_t* bytes = outcome.count > 0 ? buffer[0].optionBytes() : nullptr)
        outcome.options.assign(bytes, bytes + buffer[0].options.optionsSize);
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

} // namespace hopwise::test
