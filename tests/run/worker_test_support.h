#pragma once

// Shorthands shared by the worker tests.

#include <cstdint>
#include <string>
#include <vector>

#include "probe/echo_stack.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/run/recording_target.h"

namespace hopwise::test {

// A reply from the given address; round trip and reply TTL derived from the probe's TTL so a
// test can see that the record it got is the one the stack wrote for that probe.
inline EchoReplyInfo AnswerFrom(const char* from, std::uint32_t status, std::uint8_t probeTtl)
{
    EchoReplyInfo info;
    info.address = Ip(from);
    info.status = status;
    info.roundTripTime = 10u + probeTtl;
    info.ttl = static_cast<std::uint8_t>(60 + probeTtl);
    return info;
}

// A responder that answers nothing (like a timeout, but at once), optionally doing something
// first while the probe is "in flight".
inline ScriptedEchoStack::Responder Silence(std::function<void()> during = {})
{
    return [during](const EchoRequest&, void* reply, std::uint32_t size) -> std::uint32_t {
        if (during) {
            during();
        }
        WriteNoEchoReply(reply, size, kIpReqTimedOut);
        return 0;
    };
}

// A responder whose stack call itself fails with the given code.
inline ScriptedEchoStack::Responder StackError(std::uint32_t code)
{
    return [code](const EchoRequest&, void*, std::uint32_t) -> std::uint32_t { return code; };
}

inline std::vector<std::uint32_t> Kinds(std::initializer_list<std::uint32_t> head,
                                        std::size_t results,
                                        std::initializer_list<std::uint32_t> tail)
{
    std::vector<std::uint32_t> kinds(head);
    kinds.insert(kinds.end(), results, WM_PROBE_RESULT);
    kinds.insert(kinds.end(), tail);
    return kinds;
}

inline std::vector<std::uint8_t> SentTtls(const ScriptedEchoStack& stack)
{
    std::vector<std::uint8_t> ttls;
    for (const ScriptedCall& call : stack.calls()) {
        ttls.push_back(call.request.ttl);
    }
    return ttls;
}

inline std::vector<std::optional<std::string>>
Addresses(const std::vector<RecordedMessage>& results)
{
    std::vector<std::optional<std::string>> addresses;
    for (const RecordedMessage& record : results) {
        addresses.push_back(record.address);
    }
    return addresses;
}

inline std::vector<std::optional<std::string>> Names(const std::vector<RecordedMessage>& results)
{
    std::vector<std::optional<std::string>> names;
    for (const RecordedMessage& record : results) {
        names.push_back(record.name);
    }
    return names;
}

} // namespace hopwise::test
