#pragma once

// Helpers for tests that send real echoes: one SendEcho with everything it produced gathered
// up, and a child process that runs part of a test as another user inside a namespace.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probe/echo_service.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {

struct EchoOutcome {
    std::uint32_t count = 0;
    std::uint32_t lastError = 0;
    EchoReply record{};
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> options;
    std::int64_t elapsedMs = 0;
};

// One SendEcho through whatever stack is installed; options may be null.
EchoOutcome Echo(const char* destination, const EchoOptions* options, std::uint32_t timeoutMs,
                 const std::vector<std::uint8_t>& data = {'h', 'o', 'p', 'w', 'i', 's', 'e'});

// Runs body in a forked child that joined ns (when given) and became uid/gid. Yields body's text
// (empty means it passed) or how the child failed; the child is killed after timeoutMs.
std::string RunAsUser(const NetNamespace* ns, unsigned uid, unsigned gid,
                      const std::function<std::string()>& body, int timeoutMs = 10000);

} // namespace hopwise::test
