#include "tests/support/isolated_process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace hopwise::test {

std::string IsolationSkipReason()
{
    if (geteuid() != 0)
        return "needs root to make private network and mount namespaces";
    const std::string failure = RunIsolated(
        {}, [] { return std::string(); }, 5000);
    return failure.empty() ? failure : "can't isolate a child here: " + failure;
}

std::string RunIsolated(const IsolatedFiles& files, const std::function<std::string()>& body,
                        int timeoutMs)
{
    const auto isolate = [&files]() -> std::string {
        char dir[] = "/tmp/hopwise-isolated-XXXXXX";
        if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mkdtemp(dir))
            return std::string("unsharing: ") + std::strerror(errno);
        const std::string hosts = std::string(dir) + "/hosts";
        const std::string resolv = std::string(dir) + "/resolv.conf";
        std::ofstream(hosts) << files.hosts;
        std::ofstream(resolv) << files.resolvConf;
        const bool bound =
            mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
            mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
        const std::string error = std::strerror(errno);
        std::filesystem::remove_all(dir); // the mounts keep the files for as long as they last
        return bound ? std::string() : "binding the private files: " + error;
    };
    return RunInChild(isolate, body, timeoutMs);
}

std::string RunInChild(const std::function<std::string()>& setup,
                       const std::function<std::string()>& body, int timeoutMs)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        // The child bounds itself: the parent reads until the pipe's end, which comes at the
        // latest when the alarm kills the child.
        alarm(static_cast<unsigned>((timeoutMs + 999) / 1000));
        std::string result = setup();
        result = result.empty() ? body() : result;
        result = result.empty() ? "ok" : result;
        [[maybe_unused]] const ssize_t written = write(fds[1], result.data(), result.size());
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char chunk[512];
    for (ssize_t got; child > 0 && (got = read(fds[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return "fork or wait failed";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return "timed out after " + std::to_string(timeoutMs) + " ms; said: " + text;
    if (text.empty())
        return "the child died without a word (status " + std::to_string(status) + ")";
    return text == "ok" ? std::string() : text;
}

} // namespace hopwise::test
