#include "tests/cli/cli_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>

namespace hopwise::test {

CliProcess::CliProcess(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    m_fd[0] = memfd_create("cli-out", MFD_CLOEXEC);
    m_fd[1] = memfd_create("cli-err", MFD_CLOEXEC);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(m_fd[0], STDOUT_FILENO);
        dup2(m_fd[1], STDERR_FILENO);
        // The test runner may ignore SIGINT; the CLI must see it as a terminal would send it.
        ::signal(SIGINT, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    m_pidFd = m_pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0)) : -1;
    if (m_fd[0] < 0 || m_fd[1] < 0 || m_pidFd < 0) {
        throw std::runtime_error("can't start " + argv.front());
    }
}

CliProcess::~CliProcess()
{
    signal(SIGKILL);
    if (m_pid > 0) {
        waitpid(m_pid, nullptr, 0);
    }
    for (const int fd : {m_fd[0], m_fd[1], m_pidFd}) {
        close(fd);
    }
}

bool CliProcess::exited(int timeoutMs)
{
    pollfd child{m_pidFd, POLLIN, 0};
    const bool ended = poll(&child, 1, timeoutMs) > 0;
    for (int i = 0; i < 2; ++i) {
        char chunk[4096];
        ssize_t got;
        while ((got = pread(m_fd[i], chunk, sizeof chunk, std::ssize(m_text[i]))) > 0) {
            m_text[i].append(chunk, static_cast<std::size_t>(got));
        }
    }
    return ended;
}

bool CliProcess::waitFor(int stream, const std::string& text, Ms limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (bool last = false; !last;) {
        // What the child wrote before it ended is read after it ended, so one last look.
        last = exited(10) || std::chrono::steady_clock::now() >= deadline;
        if (m_text[stream].find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void CliProcess::signal(int number)
{
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

CliOutcome CliProcess::finish(Ms limit)
{
    CliOutcome outcome;
    outcome.timedOut = !exited(static_cast<int>(limit.count()));
    signal(SIGKILL); // a child that has ended keeps its status
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    exited(0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = m_text[0];
    outcome.err = m_text[1];
    return outcome;
}

std::vector<std::string> CliCommand(const std::vector<std::string>& args,
                                    const std::vector<std::string>& prefix)
{
    std::vector<std::string> argv = prefix;
    argv.push_back(HOPWISE_CLI_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

CliOutcome RunCli(const std::vector<std::string>& args, const std::vector<std::string>& prefix,
                  std::chrono::milliseconds limit)
{
    return CliProcess(CliCommand(args, prefix)).finish(limit);
}

std::string WithoutTimes(const std::string& text)
{
    static const std::regex bracketed(R"(\[\d+ ms\])");
    static const std::regex column(R"(\b\d+ ms +)"); // the padding depends on the digits
    return std::regex_replace(std::regex_replace(text, bracketed, "[N ms]"), column, "N ms ");
}

} // namespace hopwise::test
