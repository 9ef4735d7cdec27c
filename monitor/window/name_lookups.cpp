#include "monitor/window/name_lookups.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "probe/resolver.h"

namespace hopwise {

struct NameLookups::State {
    std::mutex mutex;
    std::deque<HostAddress> asked;
    std::vector<std::pair<HostAddress, std::string>> names;
    bool working = false;
    std::uint64_t resolveTicket = 0;
    std::optional<HostAddress> resolved;
    bool resolvedReady = false;
};

namespace {

void LookUpNames(const std::shared_ptr<NameLookups::State>& state)
{
    for (;;) {
        HostAddress address;
        {
            const std::lock_guard lock(state->mutex);
            if (state->asked.empty()) {
                state->working = false;
                return;
            }
            address = state->asked.front();
            state->asked.pop_front();
        }
        const char* name = ResolveHostAddress(address);
        std::string text = name != nullptr ? name : "";
        const std::lock_guard lock(state->mutex);
        state->names.emplace_back(address, std::move(text));
    }
}

} // namespace

NameLookups::NameLookups() : m_state(std::make_shared<State>()) {}

NameLookups::~NameLookups() = default;

void NameLookups::ask(const HostAddress& address)
{
    if (!address || !m_asked.emplace(address, true).second) {
        return;
    }
    const std::lock_guard lock(m_state->mutex);
    m_state->asked.push_back(address);
    if (!m_state->working) {
        m_state->working = true;
        std::thread([state = m_state] { LookUpNames(state); }).detach();
    }
}

void NameLookups::resolve(const std::string& host)
{
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(m_state->mutex);
        ticket = ++m_state->resolveTicket;
        m_state->resolvedReady = false;
    }
    std::thread([state = m_state, host, ticket] {
        const HostAddress address = ResolveHost(host.c_str(), FamilyChoice::Any);
        const std::lock_guard lock(state->mutex);
        if (state->resolveTicket == ticket) {
            state->resolved = address ? std::optional(address) : std::nullopt;
            state->resolvedReady = true;
        }
    }).detach();
}

std::vector<std::pair<HostAddress, std::string>> NameLookups::takeNames()
{
    const std::lock_guard lock(m_state->mutex);
    return std::exchange(m_state->names, {});
}

std::optional<HostAddress> NameLookups::takeResolved()
{
    const std::lock_guard lock(m_state->mutex);
    if (!m_state->resolvedReady) {
        return std::nullopt;
    }
    m_state->resolvedReady = false;
    return m_state->resolved ? m_state->resolved : std::optional(HostAddress());
}

} // namespace hopwise
