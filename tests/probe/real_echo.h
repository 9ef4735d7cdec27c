#pragma once

// One SendEcho of "hopwise" through whatever stack is installed, with everything it produced
// gathered up, for tests that send real echoes.

#include <cstdint>
#include <string>

#include "probe/echo_service.h"

namespace hopwise::test {

struct EchoOutcome {
    std::uint32_t count = 0;
    std::uint32_t lastError = 0;
    std::int64_t elapsedMs = 0;
    EchoReply record{};
    std::string data;    // the echoed bytes
    std::string options; // the reply's IP option bytes
};

EchoOutcome Echo(const char* destination, std::uint32_t timeoutMs,
                 const EchoOptions* options = nullptr);

} // namespace hopwise::test
