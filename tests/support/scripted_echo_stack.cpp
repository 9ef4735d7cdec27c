#include "tests/support/scripted_echo_stack.h"

#include <poll.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "probe/echo_status.h"
#include "probe/linux/probe_interrupt.h"

namespace hopwise::test {

void ScriptedEchoStack::answerTtl(std::uint8_t ttl, const EchoReplyInfo& reply)
{
    answerTtl(AddressFamily::None, ttl, reply);
}

void ScriptedEchoStack::answerTtl(AddressFamily family, std::uint8_t ttl,
                                  const EchoReplyInfo& reply)
{
    std::lock_guard lock(m_mutex);
    m_byTtl[{family, ttl}] = reply;
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

std::uint32_t ScriptedEchoStack::control(std::uint32_t protocol, std::uint32_t action,
                                         const void* request, std::uint32_t* requestLength,
                                         void* reply, std::uint32_t* replyLength)
{
    const std::optional<EchoRequest> parsed = ParseEchoRequest(request, *requestLength, action);
    if (protocol != kEchoProtocol || (action != kEchoAction && action != kEchoAction6) || !parsed)
        throw std::logic_error("SendEcho called the stack entry with a malformed request");
    const auto* bytes = static_cast<const std::uint8_t*>(request);
    auto block = std::make_shared<const std::vector<std::uint8_t>>(bytes, bytes + *requestLength);
    Responder responder;
    std::optional<EchoReplyInfo> answer;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({block, *ParseEchoRequest(block->data(), *requestLength, action)});
        if (!m_next.empty()) {
            responder = std::move(m_next.front());
            m_next.pop_front();
        } else {
            auto it = m_byTtl.find({parsed->destination.family(), parsed->ttl});
            if (it == m_byTtl.end()) {
                it = m_byTtl.find({AddressFamily::None, parsed->ttl});
            }
            answer = it != m_byTtl.end() ? it->second : m_default;
        }
    }
    if (responder)
        return responder(*parsed, reply, *replyLength);
    if (answer) {
        WriteEchoReply(reply, *replyLength, *answer);
        return 0;
    }
    // Silence: wait like the real stack, unless the thread's interrupt cuts the wait short.
    const ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    if (m_waitOutTimeouts) {
        pollfd fd{interrupt ? interrupt->pollDescriptor() : -1, POLLIN, 0};
        poll(&fd, 1, static_cast<int>(std::min<std::uint32_t>(parsed->timeout, INT_MAX)));
    }
    WriteNoEchoReply(reply, *replyLength, kIpReqTimedOut);
    return m_waitOutTimeouts && interrupt && interrupt->raised() ? kErrorOperationAborted : 0;
}

std::vector<ScriptedCall> ScriptedEchoStack::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::size_t ScriptedEchoStack::callCount() const
{
    std::lock_guard lock(m_mutex);
    return m_calls.size();
}

} // namespace hopwise::test
