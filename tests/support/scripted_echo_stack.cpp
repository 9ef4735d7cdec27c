#include "tests/support/scripted_echo_stack.h"

#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "probe/echo_status.h"
#include "probe/linux/probe_interrupt.h"

namespace hopwise::test {
namespace {

// Waits out a silent request like the real stack would, but returns early on an interrupt.
bool waitForInterrupt(std::uint32_t timeoutMs)
{
    ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (interrupt && interrupt->raised())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{interrupt ? interrupt->pollDescriptor() : -1, POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left.count()));
    }
}

} // namespace

void ScriptedEchoStack::answerTtl(std::uint8_t ttl, const EchoReplyInfo& reply)
{
    std::lock_guard lock(m_mutex);
    m_byTtl[ttl] = reply;
}

void ScriptedEchoStack::answerAll(const EchoReplyInfo& reply)
{
    std::lock_guard lock(m_mutex);
    m_default = reply;
}

void ScriptedEchoStack::answerNext(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_next.push_back(std::move(responder));
}

void ScriptedEchoStack::waitOutTimeouts(bool wait)
{
    std::lock_guard lock(m_mutex);
    m_waitOutTimeouts = wait;
}

void ScriptedEchoStack::permit(IcmpSocketKind kind)
{
    std::lock_guard lock(m_mutex);
    m_permitted = kind;
}

IcmpSocketKind ScriptedEchoStack::permittedKind()
{
    std::lock_guard lock(m_mutex);
    return m_permitted;
}

std::uint32_t ScriptedEchoStack::control(std::uint32_t protocol, std::uint32_t action,
                                         const void* request, std::uint32_t* requestLength,
                                         void* reply, std::uint32_t* replyLength)
{
    ScriptedCall call;
    call.protocol = protocol;
    call.action = action;
    call.blockLength = *requestLength;
    call.replyLength = *replyLength;
    const auto* bytes = static_cast<const std::uint8_t*>(request);
    call.block.assign(bytes, bytes + *requestLength);
    const std::optional<EchoRequest> parsed = ParseEchoRequest(call.block.data(), call.blockLength);
    if (!parsed)
        throw std::logic_error("SendEcho handed the stack a malformed request block");
    call.request = *parsed;

    Responder responder;
    std::optional<EchoReplyInfo> answer;
    bool waitOut = false;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        // The copy in m_calls owns its own bytes; re-point its spans there.
        ScriptedCall& kept = m_calls.back();
        kept.request = *ParseEchoRequest(kept.block.data(), kept.blockLength);
        if (!m_next.empty()) {
            responder = std::move(m_next.front());
            m_next.erase(m_next.begin());
        } else if (auto it = m_byTtl.find(call.request.ttl); it != m_byTtl.end()) {
            answer = it->second;
        } else {
            answer = m_default;
        }
        waitOut = m_waitOutTimeouts;
    }

    if (responder)
        return responder(call.request, reply, *replyLength);
    if (answer) {
        WriteEchoReply(reply, *replyLength, *answer);
        return 0;
    }
    const bool interrupted = waitOut && waitForInterrupt(call.request.timeout);
    WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
    return interrupted ? kErrorOperationAborted : 0;
}

std::vector<ScriptedCall> ScriptedEchoStack::calls() const
{
    std::lock_guard lock(m_mutex);
    std::vector<ScriptedCall> copy = m_calls;
    for (ScriptedCall& call : copy)
        call.request = *ParseEchoRequest(call.block.data(), call.blockLength);
    return copy;
}

std::size_t ScriptedEchoStack::callCount() const
{
    std::lock_guard lock(m_mutex);
    return m_calls.size();
}

IpAddress Ip(const char* dotted)
{
    in_addr in{};
    if (inet_pton(AF_INET, dotted, &in) != 1)
        throw std::invalid_argument(dotted);
    return in.s_addr;
}

} // namespace hopwise::test
