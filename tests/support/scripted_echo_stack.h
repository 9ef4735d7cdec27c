#pragma once

// A stack that sends nothing: it records every request block it is handed and answers from a
// script, so the echo service and the workers can be tested message by message.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "probe/echo_stack.h"

namespace hopwise::test {

// One request as the stack saw it.
struct ScriptedCall {
    std::vector<std::uint8_t> block; // the whole request block, blockLength bytes
    std::uint32_t blockLength = 0;
    std::uint32_t replyLength = 0;
    std::uint32_t protocol = 0;
    std::uint32_t action = 0;
    EchoRequest request; // spans point into block
};

class ScriptedEchoStack final : public EchoStack {
public:
    // Full control over one answer: write into the reply buffer, yield the control result.
    using Responder = std::function<std::uint32_t(const EchoRequest& request, void* reply,
                                                  std::uint32_t replySize)>;

    // Requests with this time to live get this reply.
    void answerTtl(std::uint8_t ttl, const EchoReplyInfo& reply);
    // Every request not otherwise scripted gets this reply (default: silence).
    void answerAll(const EchoReplyInfo& reply);
    // The next request (in call order) is handled by this responder, before any other rule.
    void answerNext(Responder responder);
    // Silence is answered at once unless this is set: then each unanswered request waits out its
    // timeout, or until the thread's probe interrupt is raised (then it yields 995).
    void waitOutTimeouts(bool wait);
    // What the permission check hears (default: the datagram socket is permitted).
    void permit(IcmpSocketKind kind);

    std::uint32_t control(std::uint32_t protocol, std::uint32_t action, const void* request,
                          std::uint32_t* requestLength, void* reply,
                          std::uint32_t* replyLength) override;
    IcmpSocketKind permittedKind() override;

    std::vector<ScriptedCall> calls() const;
    std::size_t callCount() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::uint8_t, EchoReplyInfo> m_byTtl;
    std::optional<EchoReplyInfo> m_default;
    std::vector<Responder> m_next;
    bool m_waitOutTimeouts = false;
    IcmpSocketKind m_permitted = IcmpSocketKind::Datagram;
    std::vector<ScriptedCall> m_calls;
};

// Installs a stack for the scope of a test.
class ScopedEchoStack {
public:
    explicit ScopedEchoStack(EchoStack& stack) : m_previous(InstallEchoStack(&stack)) {}
    ~ScopedEchoStack() { InstallEchoStack(m_previous); }
    ScopedEchoStack(const ScopedEchoStack&) = delete;
    ScopedEchoStack& operator=(const ScopedEchoStack&) = delete;

private:
    EchoStack* m_previous;
};

// An address from its dotted text (test data only).
IpAddress Ip(const char* dotted);

} // namespace hopwise::test
