#pragma once

// Runs hopwise-cli (optionally inside a namespace) as a child process with its stdout and stderr
// captured apart, every wait bounded.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace hopwise::test {

struct CliOutcome {
    int exitCode = -1; // 128 + signal when killed by one
    std::string out;
    std::string err;
    bool timedOut = false;
};

class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& argv);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads output until stdout holds the text or the limit passes; yields whether it does.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit);
    // The same for stderr.
    bool waitForError(const std::string& text, std::chrono::milliseconds limit);
    void signal(int number);
    // Reads to the end and reaps the child; kills it when the limit passes first.
    CliOutcome finish(std::chrono::milliseconds limit);
    const std::string& out() const { return m_out; }
    pid_t pid() const { return m_pid; }

private:
    bool pump(int timeoutMs);
    bool waitFor(const std::string& buffer, const std::string& text,
                 std::chrono::milliseconds limit); // false once both pipes are at their end

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
};

// The built hopwise-cli with these arguments; `prefix` runs it through another command first
// (e.g. ip netns exec NAME).
CliOutcome RunCli(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {},
                  std::chrono::milliseconds limit = std::chrono::seconds(20));

std::vector<std::string> CliCommand(const std::vector<std::string>& args,
                                    const std::vector<std::string>& prefix = {});

// Round-trip times vary from run to run: "[3 ms]" reads "[N ms]", a ping row's padded "3 ms"
// column reads "N ms " (its width is checked in-process, with fixed times).
std::string WithoutTimes(const std::string& text);

} // namespace hopwise::test
