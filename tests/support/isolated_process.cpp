#include "tests/support/isolated_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace hopwise::test {
namespace {

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string isolateChild(const IsolatedFiles& files)
{
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);

    char dir[] = "/tmp/hopwise-isolated-XXXXXX";
    if (!mkdtemp(dir))
        return "mkdtemp failed";
    const std::string hosts = std::string(dir) + "/hosts";
    const std::string resolv = std::string(dir) + "/resolv.conf";
    if (!writeFile(hosts, files.hosts) || !writeFile(resolv, files.resolvConf))
        return "writing the private files failed";
    if (mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        return std::string("binding the private files: ") + std::strerror(errno);
    return {};
}

} // namespace

std::string IsolationSkipReason()
{
    if (geteuid() != 0)
        return "needs root to make private network and mount namespaces";
    const std::string probe = RunIsolated(
        {"", ""}, [] { return std::string(); }, 5000);
    if (!probe.empty())
        return "can't isolate a child here: " + probe;
    return {};
}

std::string RunIsolated(const IsolatedFiles& files, const std::function<std::string()>& body,
                        int timeoutMs)
{
    return RunInChild([&files] { return isolateChild(files); }, body, timeoutMs);
}

std::string RunInChild(const std::function<std::string()>& setup,
                       const std::function<std::string()>& body, int timeoutMs)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return "pipe failed";

    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return "fork failed";
    }
    if (child == 0) {
        close(pipeFds[0]);
        std::string result = setup();
        if (result.empty())
            result = body();
        if (result.empty())
            result = "ok";
        [[maybe_unused]] const ssize_t written = write(pipeFds[1], result.data(), result.size());
        _exit(0);
    }

    close(pipeFds[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(child, SIGKILL);
            text = "timed out after " + std::to_string(timeoutMs) + " ms; said: " + text;
            break;
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        char chunk[512];
        const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (text.empty())
        return "the child died without a word (status " + std::to_string(status) + ")";
    return text == "ok" ? std::string() : text;
}

} // namespace hopwise::test
