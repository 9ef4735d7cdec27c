#pragma once

// A program run as a child process with its stdout and stderr captured apart, every wait
// bounded. Both go to memory files, so a child that writes a lot never blocks on a reader.

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace hopwise::test {

// A command line's words, split at blanks.
inline std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv)
    {
        std::vector<char*> args(argv.size() + 1); // null-terminated
        std::transform(argv.begin(), argv.end(), args.begin(),
                       [](auto& arg) { return arg.data(); });
        m_fd[1] = memfd_create("child-out", MFD_CLOEXEC);
        m_fd[2] = memfd_create("child-err", MFD_CLOEXEC);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(m_fd[1], STDOUT_FILENO);
            dup2(m_fd[2], STDERR_FILENO);
            ::signal(SIGINT, SIG_DFL); // the test runner may ignore it; a terminal's must count
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~ChildProcess()
    {
        finish({});
        for (const int fd : m_fd)
            close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether stdout (fd 1) or stderr (2) holds the text before the child ends or time is up.
    bool waitFor(int fd, const std::string& text, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            // What the child wrote before it ended is read after it ended.
            if (m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == m_pid)
                m_pid = -1;
            char buf[4096];
            for (const int i : {1, 2})
                for (ssize_t n; (n = pread(m_fd[i], buf, sizeof buf, std::ssize(m_text[i]))) > 0;)
                    m_text[i].append(buf, n);
            if (fd > 0 && m_text[fd].find(text) != std::string::npos)
                return true;
            if (m_pid < 0 || std::chrono::steady_clock::now() >= deadline)
                return false;
            usleep(5000);
        }
    }
    void signal(int number)
    {
        if (m_pid > 0) // -1 would be every process we may signal
            kill(m_pid, number);
    }
    // The exit code (128 + signal if one ended it), the child killed when the limit passes.
    int finish(std::chrono::milliseconds limit)
    {
        waitFor(0, {}, limit);
        signal(SIGKILL); // one that ended meanwhile keeps its status
        waitFor(0, {}, std::chrono::seconds(10));
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }
    const std::string& out() const { return m_text[1]; }
    const std::string& err() const { return m_text[2]; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;           // -1 once reaped
    int m_status = -1;          // read as 255 when the child never ran
    int m_fd[3] = {-1, -1, -1}; // by the child's descriptor
    std::string m_text[3];      // what each held when last read
};

} // namespace hopwise::test
