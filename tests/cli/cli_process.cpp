#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>

namespace hopwise::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

CliProcess::CliProcess(const std::vector<std::string>& argv)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        // The test runner may ignore SIGINT; the CLI must see it as a terminal would send it.
        ::signal(SIGINT, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
}

CliProcess::~CliProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0) {
        close(m_outFd);
    }
    if (m_errFd >= 0) {
        close(m_errFd);
    }
}

bool CliProcess::pump(int timeoutMs)
{
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    const int open = (m_outFd >= 0) + (m_errFd >= 0);
    if (open == 0) {
        return false;
    }
    if (poll(fds, 2, timeoutMs) <= 0) {
        return true;
    }
    int* descriptors[2] = {&m_outFd, &m_errFd};
    std::string* buffers[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (*descriptors[i] < 0 || fds[i].revents == 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = read(*descriptors[i], chunk, sizeof chunk);
        if (got > 0) {
            buffers[i]->append(chunk, static_cast<std::size_t>(got));
        } else {
            close(*descriptors[i]);
            *descriptors[i] = -1;
        }
    }
    return true;
}

bool CliProcess::waitFor(const std::string& buffer, const std::string& text,
                         std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (buffer.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !pump(remainingMs(deadline))) {
            return buffer.find(text) != std::string::npos;
        }
    }
    return true;
}

bool CliProcess::waitForOutput(const std::string& text, std::chrono::milliseconds limit)
{
    return waitFor(m_out, text, limit);
}

bool CliProcess::waitForError(const std::string& text, std::chrono::milliseconds limit)
{
    return waitFor(m_err, text, limit);
}

void CliProcess::signal(int number)
{
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

CliOutcome CliProcess::finish(std::chrono::milliseconds limit)
{
    CliOutcome outcome;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && pump(remainingMs(deadline))) {
    }
    if (m_outFd >= 0 || m_errFd >= 0) {
        outcome.timedOut = true;
        kill(m_pid, SIGKILL);
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = m_out;
    outcome.err = m_err;
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
    CliProcess process(CliCommand(args, prefix));
    return process.finish(limit);
}

std::string WithoutTimes(const std::string& text)
{
    static const std::regex bracketed(R"(\[\d+ ms\])");
    static const std::regex column(R"(\b\d+ ms +)"); // the padding depends on the digits
    return std::regex_replace(std::regex_replace(text, bracketed, "[N ms]"), column, "N ms ");
}

} // namespace hopwise::test
