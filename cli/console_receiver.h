#pragma once

// The console's stand-in for a page's window: it takes the worker's notifications (on the
// worker's own thread) and writes what the console shows, in text or as JSON. Ping's running
// summary may be asked for from another thread: a mutex keeps it between two notices.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/console_format.h"
#include "run/probe_messages.h"

namespace hopwise::cli {

struct ConsoleView {
    ProbeKind kind = ProbeKind::Trace;
    std::string host; // as typed, for the summary
    bool json = false;
    bool quiet = false;            // ping: the summary only
    std::int64_t firstHop = 1;     // trace: the number of the first result's hop
    std::int64_t probesPerHop = 1; // trace: results per hop, shown on the hop's line
    // ping's -s, -O and -D: a bytes column, "no answer yet" lines, and each row prefixed with the
    // time in seconds since 1970.
    bool bytes = false;
    bool noAnswerYet = false;
    bool unixTimes = false;
    std::string method; // trace: a UDP or TCP probe method, named in the JSON destination event
    // trace --flows: each hop's results come flow after flow, each flow's probesPerHop together;
    // the JSON hop event names the flow (from 1) when there is more than one.
    std::int64_t flows = 1;
};

class ConsoleReceiver final : public ProbeMessageTarget {
public:
    // cancel is the page's flag: a run that finishes with it set reads "Cancelled". onFinished
    // runs after WM_PROBE_FINISHED was written (the console quits its loop there). now is the
    // clock of the JSON times and of ping's run time.
    ConsoleReceiver(ConsoleView view, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& cancel, std::function<WallTime()> now,
                    std::function<void()> onFinished = {});

    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;

    // Ping's summary of the run so far, while it goes on (Ctrl-\): on stderr as ping prints it,
    // or as a JSON summary object that is not final.
    void runningSummary();

    // What the run came to; until WM_PROBE_FINISHED, as if it ended now. On the worker's thread.
    int exitCode() const;

private:
    void line(const std::string& text);
    void destination(std::intptr_t wParam);
    void result(std::intptr_t wParam);
    void error(std::string_view code, const std::string& message, int exitCode);
    void finished();
    void summary(bool final);
    std::int64_t elapsedMs() const;

    std::mutex m_mutex; // the notices against the running summary
    ConsoleView m_view;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>& m_cancel;
    std::function<WallTime()> m_now;
    std::function<void()> m_onFinished;
    std::string m_address; // the destination's text, dotted or IPv6
    PingColumns m_columns; // the ping list's
    WallTime m_started{};
    std::int64_t m_results = 0;
    std::vector<HopProbe> m_hopProbes;       // trace: the current hop's results, with more than one
    std::optional<std::int64_t> m_reachedAt; // trace
    PingStatistics m_statistics;
    std::optional<int> m_errorExit; // an error ended the run
};

} // namespace hopwise::cli
