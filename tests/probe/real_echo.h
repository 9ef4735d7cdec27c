#pragma once

// One SendEcho of "hopwise" (7 bytes: the checksum covers an odd length) through whatever stack
// is installed, with everything it produced gathered up, for tests that send real echoes.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "probe/echo_service.h"
#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {

struct EchoOutcome {
    std::uint32_t count = 0;
    std::uint32_t lastError = 0;
    std::int64_t elapsedMs = 0;
    std::uint32_t micros = 0; // GetLastEchoRoundTripMicros
    HostAddress responder;    // GetLastEchoResponder
    EchoReply record{};
    std::string data;    // the echoed bytes
    std::string options; // the reply's IP option bytes
};

inline EchoOutcome Echo(const HostAddress& destination, std::uint32_t timeoutMs,
                        const EchoOptions* options = nullptr)
{
    using namespace std::chrono;
    std::vector<EchoReply> buffer(4); // a record, the data and up to 40 option bytes
    EchoOutcome got;
    SetLastEchoError(0);
    const auto start = steady_clock::now();
    got.count = SendEchoTo(OpenEchoHandle(), destination, "hopwise", 7, options, buffer.data(),
                           buffer.size() * sizeof(EchoReply), timeoutMs);
    got.elapsedMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
    got.lastError = GetLastEchoError();
    got.micros = GetLastEchoRoundTripMicros();
    got.responder = GetLastEchoResponder();
    got.record = buffer[0];
    const auto text = [&got](const std::uint8_t* at, std::size_t size) {
        return got.count > 0 && at ? std::string(reinterpret_cast<const char*>(at), size) : "";
    };
    got.data = text(buffer[0].data(), buffer[0].dataSize);
    got.options = text(buffer[0].optionBytes(), buffer[0].options.optionsSize);
    return got;
}

inline EchoOutcome Echo(const char* destination, std::uint32_t timeoutMs,
                        const EchoOptions* options = nullptr)
{
    return Echo(HostAddress::ipv4(Ip(destination)), timeoutMs, options);
}

} // namespace hopwise::test
