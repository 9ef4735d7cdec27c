#pragma once

// A receiver that copies out everything a notification carries while the message is being
// handled (the records die with the send), so tests can compare whole runs afterwards.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "probe/echo_service.h"
#include "run/probe_messages.h"

namespace hopwise::test {

struct RecordedMessage {
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::thread::id thread;
    std::u16string destination;         // WM_PROBE_DESTINATION
    std::optional<std::string> address; // WM_PROBE_RESULT
    std::optional<std::string> name;    // WM_PROBE_RESULT
    bool hasReply = false;              // WM_PROBE_RESULT: the reply pointer was set
    EchoReply reply{};                  // WM_PROBE_RESULT: copy of the record
    std::string hint;                   // WM_PROBE_NOT_PERMITTED
};

class RecordingTarget final : public ProbeMessageTarget {
public:
    // Runs after each message was recorded, on the receiving thread, while the sender waits.
    using Hook = std::function<void(const RecordedMessage&, std::size_t index)>;

    explicit RecordingTarget(Hook hook = {}) : m_hook(std::move(hook)) {}

    // Before the run starts.
    void setHook(Hook hook) { m_hook = std::move(hook); }

    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override
    {
        RecordedMessage record;
        record.message = message;
        record.wParam = wParam;
        record.lParam = lParam;
        record.thread = std::this_thread::get_id();
        if (message == WM_PROBE_DESTINATION) {
            record.destination = DestinationTextOf(wParam);
        } else if (message == WM_PROBE_RESULT) {
            const ProbeResult& result = ProbeResultOf(wParam);
            if (result.m_address != nullptr) {
                record.address = result.m_address;
            }
            if (result.m_name != nullptr) {
                record.name = result.m_name;
            }
            record.hasReply = result.m_reply != nullptr;
            if (record.hasReply) {
                record.reply = *result.m_reply;
            }
        } else if (message == WM_PROBE_NOT_PERMITTED) {
            record.hint = NotPermittedHintOf(wParam);
        }
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(record);
            index = m_messages.size() - 1;
        }
        m_changed.notify_all();
        if (m_hook) {
            m_hook(record, index);
        }
        return 1;
    }

    std::vector<RecordedMessage> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    std::vector<std::uint32_t> kinds() const
    {
        std::vector<std::uint32_t> kinds;
        for (const RecordedMessage& record : messages()) {
            kinds.push_back(record.message);
        }
        return kinds;
    }

    std::vector<RecordedMessage> results() const
    {
        std::vector<RecordedMessage> results;
        for (const RecordedMessage& record : messages()) {
            if (record.message == WM_PROBE_RESULT) {
                results.push_back(record);
            }
        }
        return results;
    }

    // Waits (bounded) until `count` messages of this kind arrived; yields whether they did.
    bool waitFor(std::uint32_t message, std::chrono::milliseconds limit, std::size_t count = 1)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] {
            std::size_t seen = 0;
            for (const RecordedMessage& record : m_messages) {
                seen += record.message == message ? 1 : 0;
            }
            return seen >= count;
        });
    }

private:
    Hook m_hook;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<RecordedMessage> m_messages;
};

} // namespace hopwise::test
