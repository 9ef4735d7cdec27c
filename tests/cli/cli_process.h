#pragma once

// Runs hopwise-cli (optionally inside a namespace) as a child process with its stdout and stderr
// captured apart, every wait bounded. Both go to memory files, so a child that writes a lot never
// blocks on a reader.

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

    using Ms = std::chrono::milliseconds;

    // Waits until stdout (stderr) holds the text, the child ends or the limit passes; yields
    // whether it does.
    bool waitForOutput(const std::string& text, Ms limit) { return waitFor(0, text, limit); }
    bool waitForError(const std::string& text, Ms limit) { return waitFor(1, text, limit); }
    void signal(int number);
    // Waits for the child to end and reaps it; kills it when the limit passes first.
    CliOutcome finish(Ms limit);
    const std::string& out() const { return m_text[0]; }
    pid_t pid() const { return m_pid; }

private:
    bool waitFor(int stream, const std::string& text, Ms limit);
    bool exited(int timeoutMs); // also reads what the child wrote meanwhile

    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_fd[2] = {-1, -1}; // stdout, stderr
    std::string m_text[2];  // what each held when last read
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
