#pragma once

// A window for tests: copies what the records carry while they live, and writes the whole run
// down as one text: "Dest IP: 10.9.9.9 | 10.0.0.1 r1.test | - | finished" ("-": no answer).
// Every message is handled on one thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/probe_messages.h"

namespace hopwise::test {

struct RecordedMessage {
    std::uint32_t message = 0;
    std::optional<std::string> address; // WM_PROBE_RESULT: the responder
    EchoReply reply{};                  // WM_PROBE_RESULT: copy of the record
};

class RecordingTarget final : public ProbeMessageTarget {
public:
    // Runs on the receiving thread after each message was recorded, while the sender waits.
    std::function<void(const RecordedMessage&)> m_hook;

    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t) override
    {
        RecordedMessage record{message, std::nullopt};
        std::string line = message == WM_PROBE_FINISHED     ? "finished"
                           : message == WM_PROBE_UNRESOLVED ? "unresolved"
                                                            : "not permitted";
        if (message == WM_PROBE_DESTINATION) {
            const std::u16string text = DestinationTextOf(wParam);
            line.assign(text.begin(), text.end());
        } else if (message == WM_PROBE_RESULT) {
            const ProbeResult& result = ProbeResultOf(wParam);
            if (result.m_address != nullptr) {
                record.address = result.m_address;
            }
            line = record.address.value_or("-");
            line += result.m_name != nullptr ? std::string(" ") + result.m_name : "";
            record.reply = *result.m_reply;
            m_results.push_back(record);
        }
        m_transcript += (m_transcript.empty() ? "" : " | ") + line;
        if (m_hook) {
            m_hook(record);
        }
        return 1;
    }

    // Read once the run is over.
    std::vector<RecordedMessage> results() const { return m_results; }
    std::string transcript() const { return m_transcript; }

private:
    std::vector<RecordedMessage> m_results;
    std::string m_transcript;
};

} // namespace hopwise::test
