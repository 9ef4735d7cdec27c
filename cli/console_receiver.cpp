#include "cli/console_receiver.h"

#include <utility>

#include "cli/exit_codes.h"
#include "res/texts.h"

namespace hopwise::cli {

namespace {

const char* outcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Done:
        return "done";
    case RunOutcome::Cancelled:
        return "cancelled";
    case RunOutcome::Unresolved:
        return "unresolved";
    case RunOutcome::NotPermitted:
        return "not_permitted";
    case RunOutcome::Running:
        break;
    }
    return "running";
}

} // namespace

int ExitCodeFor(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Done:
        return kExitDone;
    case RunOutcome::Cancelled:
        return kExitCancelled;
    case RunOutcome::Unresolved:
        return kExitUnresolved;
    case RunOutcome::NotPermitted:
        return kExitNotPermitted;
    case RunOutcome::Running:
        break;
    }
    // A loop that ended without WM_PROBE_FINISHED was cut short from outside.
    return kExitCancelled;
}

ConsoleReceiver::ConsoleReceiver(ProbeKind kind, bool json, std::ostream& out, std::ostream& err,
                                 const std::atomic<bool>& cancel, std::function<void()> onFinished)
    : m_kind(kind), m_json(json), m_out(out), m_err(err), m_cancel(cancel),
      m_onFinished(std::move(onFinished))
{
}

void ConsoleReceiver::line(const std::string& text)
{
    m_out << text << '\n' << std::flush;
}

std::intptr_t ConsoleReceiver::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                           std::intptr_t)
{
    switch (message) {
    case WM_PROBE_DESTINATION:
        destination(wParam);
        break;
    case WM_PROBE_RESULT:
        result(wParam);
        break;
    case WM_PROBE_UNRESOLVED:
        m_unresolved = true;
        m_err << res::kCantResolveName << '\n' << std::flush;
        if (m_json) {
            line(UnresolvedEvent().dump());
        }
        break;
    case WM_PROBE_NOT_PERMITTED:
        m_notPermitted = true;
        m_err << NotPermittedHintOf(wParam) << '\n' << std::flush;
        if (m_json) {
            line(NotPermittedEvent(NotPermittedHintOf(wParam)).dump());
        }
        break;
    case WM_PROBE_FINISHED:
        finished();
        break;
    default:
        break;
    }
    return 0;
}

void ConsoleReceiver::destination(std::intptr_t wParam)
{
    const char16_t* text = DestinationTextOf(wParam);
    if (m_json) {
        line(DestinationEvent(text).dump());
        return;
    }
    line(DestinationLine(text));
    if (m_kind == ProbeKind::Ping) {
        line(PingHeader());
    }
}

void ConsoleReceiver::result(std::intptr_t wParam)
{
    const ProbeResult& probe = ProbeResultOf(wParam);
    ++m_results;
    if (m_json) {
        line(ResultEvent(m_kind, m_results, probe).dump());
    } else if (m_kind == ProbeKind::Ping) {
        line(PingRow(probe));
    } else {
        line(HopLine(probe));
        if (probe.m_name != nullptr) {
            line(HopNameLine(probe.m_name));
        }
    }
}

void ConsoleReceiver::finished()
{
    if (m_unresolved) {
        m_outcome = RunOutcome::Unresolved;
    } else if (m_notPermitted) {
        m_outcome = RunOutcome::NotPermitted;
    } else {
        m_outcome = m_cancel.load() ? RunOutcome::Cancelled : RunOutcome::Done;
    }
    // The status line reads as the page's would, also after a host that can't be resolved or a
    // run that may not probe; the exit code tells those apart.
    if (m_json) {
        line(FinishedEvent(outcomeName(m_outcome)).dump());
    } else {
        line(std::string(m_cancel.load() ? res::kStatusCancelled : res::kStatusDone));
    }
    if (m_onFinished) {
        m_onFinished();
    }
}

} // namespace hopwise::cli
