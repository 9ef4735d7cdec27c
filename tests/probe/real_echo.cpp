#include "tests/probe/real_echo.h"

#include <chrono>
#include <vector>

#include "tests/support/scripted_echo_stack.h"

namespace hopwise::test {

EchoOutcome Echo(const char* destination, std::uint32_t timeoutMs, const EchoOptions* options)
{
    using namespace std::chrono;
    std::vector<EchoReply> buffer(4); // a record, 7 bytes of data and up to 40 option bytes
    EchoOutcome got;
    SetLastEchoError(0);
    const auto start = steady_clock::now();
    got.count = SendEcho(OpenEchoHandle(), Ip(destination), "hopwise", 7, options, buffer.data(),
                         buffer.size() * sizeof(EchoReply), timeoutMs);
    got.elapsedMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
    got.lastError = GetLastEchoError();
    got.record = buffer[0];
    const auto text = [&got](const std::uint8_t* at, std::size_t size) {
        return got.count > 0 && at ? std::string(reinterpret_cast<const char*>(at), size) : "";
    };
    got.data = text(buffer[0].data(), buffer[0].dataSize);
    got.options = text(buffer[0].optionBytes(), buffer[0].options.optionsSize);
    return got;
}

} // namespace hopwise::test
