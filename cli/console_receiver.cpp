#include "cli/console_receiver.h"

#include <utility>

#include "cli/exit_codes.h"
#include "res/texts.h"
#include "text/utf_text.h"

namespace hopwise::cli {

ConsoleReceiver::ConsoleReceiver(ConsoleView view, std::ostream& out, std::ostream& err,
                                 const std::atomic<bool>& cancel, std::function<WallTime()> now,
                                 std::function<void()> onFinished)
    : m_view(std::move(view)), m_out(out), m_err(err), m_cancel(cancel), m_now(std::move(now)),
      m_onFinished(std::move(onFinished))
{
}

int ConsoleReceiver::exitCode() const
{
    if (m_errorExit) {
        return *m_errorExit;
    }
    const bool answered =
        m_view.kind == ProbeKind::Trace ? m_reachedAt.has_value() : m_statistics.received() > 0;
    return answered ? kExitAnswered : kExitUnanswered;
}

void ConsoleReceiver::line(const std::string& text)
{
    m_out << text << '\n' << std::flush;
}

std::intptr_t ConsoleReceiver::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                           std::intptr_t)
{
    const std::lock_guard lock(m_mutex);
    switch (message) {
    case WM_PROBE_DESTINATION:
        destination(wParam);
        break;
    case WM_PROBE_RESULT:
        result(wParam);
        break;
    case WM_PROBE_UNRESOLVED:
        error("unresolved", std::string(res::kCantResolveName) + ": " + m_view.host,
              kExitUnresolved);
        break;
    case WM_PROBE_NOT_PERMITTED:
        error("not_permitted", NotPermittedHintOf(wParam), kExitNotPermitted);
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
    const std::string text = Utf16ToUtf8(DestinationTextOf(wParam)).value_or(std::string());
    m_address =
        text.starts_with(res::kDestIpPrefix) ? text.substr(res::kDestIpPrefix.size()) : text;
    m_started = m_now();
    m_columns = {AddressColumnWidth(m_address, kPingAddressWidth), m_view.bytes,
                 m_view.noAnswerYet};
    if (m_view.json) {
        line(DestinationEvent(m_started, m_view.host, m_address, m_view.method).dump());
        return;
    }
    line(text);
    if (m_view.kind == ProbeKind::Ping && !m_view.quiet) {
        line(PingHeader(m_columns));
    }
}

void ConsoleReceiver::result(std::intptr_t wParam)
{
    const ProbeResult& probe = ProbeResultOf(wParam);
    ++m_results;
    if (m_view.kind == ProbeKind::Ping) {
        m_statistics.add(probe);
        if (m_view.quiet) {
            return;
        }
        if (m_view.json) {
            line(EchoEvent(m_now(), m_results, probe, m_view.bytes).dump());
        } else {
            line((m_view.unixTimes ? UnixTimePrefix(m_now()) : std::string()) +
                 PingRow(m_results, probe, m_columns));
        }
        return;
    }
    // Results come hop by hop from the first hop probed, each hop's together.
    const std::int64_t perHop = m_view.probesPerHop * m_view.flows;
    const std::int64_t hop = m_view.firstHop + (m_results - 1) / perHop;
    // The worker stops at the destination; its dotted text is the one the destination had.
    if (probe.m_address != nullptr && m_address == probe.m_address) {
        m_reachedAt = hop;
    }
    if (m_view.json) {
        const std::int64_t slot = (m_results - 1) % perHop;
        const std::int64_t place = m_view.probesPerHop > 1 ? slot % m_view.probesPerHop + 1 : 0;
        auto event = HopEvent(m_now(), hop, probe, place);
        if (m_view.flows > 1) {
            event["flow"] = slot / m_view.probesPerHop + 1;
        }
        line(event.dump());
    } else if (perHop == 1) {
        line(HopLine(hop, probe));
    } else {
        m_hopProbes.push_back(HopProbeOf(probe));
        if (static_cast<std::int64_t>(m_hopProbes.size()) == perHop) {
            line(m_view.flows > 1
                     ? HopFlowsLine(hop, m_hopProbes, static_cast<std::size_t>(m_view.probesPerHop))
                     : HopProbesLine(hop, m_hopProbes));
            m_hopProbes.clear();
        }
    }
}

void ConsoleReceiver::error(std::string_view code, const std::string& message, int exitCode)
{
    m_errorExit = exitCode;
    m_err << message << '\n' << std::flush;
    if (m_view.json) {
        line(ErrorEvent(m_now(), code, message, exitCode).dump());
    }
}

std::int64_t ConsoleReceiver::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - m_started).count();
}

void ConsoleReceiver::summary(bool final)
{
    const bool cancelled = m_cancel.load();
    if (!m_view.json) {
        if (m_view.kind == ProbeKind::Ping) {
            (final ? m_out : m_err)
                << (final ? "\n" : "") << PingSummaryText(m_view.host, m_statistics, elapsedMs())
                << std::flush;
        } else {
            line(TraceEndLine(m_reachedAt));
        }
        return;
    }
    const WallTime now = m_now();
    nlohmann::ordered_json event = JsonEvent("summary", now);
    event["final"] = final;
    event["outcome"] = final ? (cancelled ? "cancelled" : "done") : "running";
    event["host"] = m_view.host;
    event["address"] = m_address;
    if (m_view.kind == ProbeKind::Ping) {
        event.update(PingSummaryFields(m_statistics, elapsedMs()));
    } else {
        const std::int64_t perHop = m_view.probesPerHop * m_view.flows;
        event["hops"] = (m_results + perHop - 1) / perHop;
        event["reached"] = m_reachedAt.has_value();
    }
    if (final) {
        event["exit_code"] = exitCode();
    }
    line(event.dump());
}

void ConsoleReceiver::runningSummary()
{
    const std::lock_guard lock(m_mutex);
    if (m_view.kind == ProbeKind::Ping && !m_address.empty()) {
        summary(false);
    }
}

void ConsoleReceiver::finished()
{
    // The status line reads as the page's would; after an error it is the only line that
    // follows in text, and JSON ends with the error object.
    if (!m_view.json && !(m_view.quiet && !m_errorExit)) {
        line(std::string(m_cancel.load() ? res::kStatusCancelled : res::kStatusDone));
    }
    if (!m_errorExit) {
        summary(true);
    }
    if (m_onFinished) {
        m_onFinished();
    }
}

} // namespace hopwise::cli
