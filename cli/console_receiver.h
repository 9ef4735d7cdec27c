#pragma once

// The console's stand-in for a page's window: it takes the worker's notifications (on the
// thread that runs the message loop) and writes what the page would show.

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>

#include "cli/console_format.h"
#include "run/probe_messages.h"

namespace hopwise::cli {

enum class RunOutcome { Running, Done, Cancelled, Unresolved, NotPermitted };

int ExitCodeFor(RunOutcome outcome);

class ConsoleReceiver final : public ProbeMessageTarget {
public:
    // cancel is the page's flag: a run that finishes with it set reads "Cancelled". onFinished
    // runs after WM_PROBE_FINISHED was written (the console quits its loop there).
    ConsoleReceiver(ProbeKind kind, bool json, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& cancel, std::function<void()> onFinished = {});

    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;

    RunOutcome outcome() const { return m_outcome; }

private:
    void line(const std::string& text);
    void destination(std::intptr_t wParam);
    void result(std::intptr_t wParam);
    void finished();

    ProbeKind m_kind;
    bool m_json;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>& m_cancel;
    std::function<void()> m_onFinished;
    std::int64_t m_results = 0;
    bool m_unresolved = false;
    bool m_notPermitted = false;
    RunOutcome m_outcome = RunOutcome::Running;
};

} // namespace hopwise::cli
