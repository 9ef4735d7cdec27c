#pragma once

// A stack that sends nothing: it records every request block it is handed and answers from a
// script, so the echo service and the workers can be tested message by message.

#include <arpa/inet.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "probe/echo_stack.h"

namespace hopwise::test {

// One request as the stack saw it: a copy of the whole block, which the spans of request (and
// of every copy of this call) point into.
struct ScriptedCall {
    std::shared_ptr<const std::vector<std::uint8_t>> block;
    EchoRequest request;
};

class ScriptedEchoStack final : public EchoStack {
public:
    // Full control over one answer: write into the reply buffer, yield the control result.
    using Responder = std::function<std::uint32_t(const EchoRequest& request, void* reply,
                                                  std::uint32_t replySize)>;

    void answerTtl(std::uint8_t ttl, const EchoReplyInfo& reply);
    // The same for requests to destinations of one family only, taken before the rule above.
    void answerTtl(AddressFamily family, std::uint8_t ttl, const EchoReplyInfo& reply);
    // Every request not otherwise scripted gets this reply (default: silence).
    void answerAll(const EchoReplyInfo& reply);
    // The next request in call order goes to this responder, before any other rule.
    void answerNext(Responder responder);
    // Silence is answered at once unless this is set: then each unanswered request waits out its
    // timeout, or until the thread's probe interrupt is raised (then it yields 995).
    void waitOutTimeouts(bool wait) { m_waitOutTimeouts = wait; }
    // What the permission check hears (default: datagram sockets are permitted).
    void permit(IcmpSocketKind kind) { m_permitted = kind; }

    std::uint32_t control(std::uint32_t protocol, std::uint32_t action, const void* request,
                          std::uint32_t* requestLength, void* reply,
                          std::uint32_t* replyLength) override;
    IcmpSocketKind permittedKind() override { return m_permitted; }
    std::vector<ScriptedCall> calls() const;
    std::size_t callCount() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::pair<AddressFamily, std::uint8_t>, EchoReplyInfo> m_byTtl; // None: any family
    std::optional<EchoReplyInfo> m_default;
    std::deque<Responder> m_next;
    std::vector<ScriptedCall> m_calls;
    std::atomic<bool> m_waitOutTimeouts{false};
    std::atomic<IcmpSocketKind> m_permitted{IcmpSocketKind::Datagram};
};

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
inline IpAddress Ip(const char* dotted)
{
    return inet_addr(dotted);
}

// An IPv6 address from its text (test data only; a text that is none is a mistake in the test).
inline HostAddress Ip6(const char* text)
{
    return ParseIpv6Literal(text).value();
}

} // namespace hopwise::test
