#include "cli/console_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "probe/echo_status.h"
#include "probe/icmp_reply_decoder.h"
#include "res/texts.h"
#include "text/utf_text.h"

namespace hopwise::cli {

namespace {

nlohmann::ordered_json textOrNull(const char* text)
{
    return text != nullptr ? nlohmann::ordered_json(text) : nlohmann::ordered_json(nullptr);
}

std::string trimRight(std::string text)
{
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string pingColumns(const PingColumns& columns, std::string_view seq, std::string_view ip,
                        std::string_view time, std::string_view ttl, std::string_view bytes = {})
{
    char row[192];
    std::snprintf(row, sizeof row, "%-5.*s %-*.*s %-11.*s %-5.*s %.*s",
                  static_cast<int>(seq.size()), seq.data(), columns.addressWidth,
                  static_cast<int>(ip.size()), ip.data(), static_cast<int>(time.size()),
                  time.data(), static_cast<int>(ttl.size()), ttl.data(),
                  static_cast<int>(bytes.size()), bytes.data());
    return trimRight(row);
}

// A printf format from res/texts.h with its arguments.
template <class... Args> std::string formatted(std::string_view format, Args... args)
{
    char text[160];
    std::snprintf(text, sizeof text, std::string(format).c_str(), args...);
    return text;
}

// The words of ping for a router's report, by the record's status.
std::string reportText(const ProbeResult& result)
{
    const bool ipv6 = std::string_view(result.m_address).find(':') != std::string_view::npos;
    switch (result.m_reply->status) {
    case kIpTtlExpiredTransit:
        return std::string(res::kPingTimeToLiveExceeded);
    case kIpTtlExpiredReassem:
        return std::string(res::kPingReassemblyTimeExceeded);
    case kIpDestNetUnreachable:
        return std::string(res::kPingNetUnreachable);
    case kIpDestHostUnreachable:
        return std::string(res::kPingHostUnreachable);
    case kIpDestProtUnreachable:
        return std::string(res::kPingProtocolUnreachable);
    case kIpDestPortUnreachable:
        return std::string(res::kPingPortUnreachable);
    case kIpBadRoute:
        return std::string(res::kPingSourceRouteFailed);
    case kIpParamProblem:
        return std::string(res::kPingParameterProblem);
    case kIpSourceQuench:
        return std::string(res::kPingSourceQuench);
    case kIpPacketTooBig:
        return formatted(ipv6 ? res::kPingPacketTooBigFormat : res::kPingFragmentationNeededFormat,
                         result.m_mtu);
    default:
        return std::string(res::kPingUnreachable);
    }
}

// Milliseconds with three decimals, from microseconds that may carry a fraction.
std::string millis(double micros)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", micros / 1000.0);
    return text;
}

} // namespace

std::string RoundTripText(std::uint32_t micros)
{
    return millis(micros) + " ms";
}

std::string HopLine(std::int64_t hop, const ProbeResult& result)
{
    char number[24];
    std::snprintf(number, sizeof number, "%3lld  ", static_cast<long long>(hop));
    std::string line = number + std::string(res::kNoResponse);
    if (result.m_address != nullptr) {
        line =
            number + std::string(result.m_address) + "  " + RoundTripText(result.m_roundTripMicros);
    }
    if (result.m_name != nullptr) {
        line += "  " + std::string(result.m_name);
    }
    if (result.m_mtu != 0) {
        line += "  " + formatted(res::kHopPathMtuFormat, result.m_mtu);
    }
    return line + MplsLines(result.m_mpls);
}

std::string MplsLine(const MplsLabelEntry& entry)
{
    return formatted(res::kMplsLabelFormat, static_cast<unsigned>(entry.label),
                     static_cast<unsigned>(entry.trafficClass),
                     static_cast<unsigned>(entry.bottom ? 1 : 0), static_cast<unsigned>(entry.ttl));
}

std::string MplsLines(const MplsLabels& labels)
{
    std::string lines;
    for (const MplsLabelEntry& entry : labels) {
        lines += "\n" + MplsLine(entry);
    }
    return lines;
}

HopProbe HopProbeOf(const ProbeResult& result)
{
    HopProbe probe;
    if (result.m_address != nullptr) {
        probe.address = result.m_address;
        probe.roundTripMicros = result.m_roundTripMicros;
        probe.mpls = result.m_mpls;
    }
    if (result.m_name != nullptr) {
        probe.name = result.m_name;
    }
    probe.mtu = result.m_mtu;
    return probe;
}

std::string HopProbesLine(std::int64_t hop, const std::vector<HopProbe>& probes)
{
    char number[24];
    std::snprintf(number, sizeof number, "%3lld", static_cast<long long>(hop));
    std::string line = number;
    const std::string* shown = nullptr; // the responder written last
    for (const HopProbe& probe : probes) {
        line += "  ";
        if (!probe.address) {
            line += res::kNoAnswerMark;
            continue;
        }
        const bool another = shown == nullptr || *shown != *probe.address;
        if (another) {
            line += *probe.address + "  ";
        }
        line += RoundTripText(probe.roundTripMicros);
        if (another && probe.name) {
            line += "  " + *probe.name;
        }
        shown = &*probe.address;
    }
    if (!probes.empty() && probes.front().mtu != 0) {
        line += "  " + formatted(res::kHopPathMtuFormat, probes.front().mtu);
    }
    const MplsLabels* labels = nullptr; // the stack written last
    for (const HopProbe& probe : probes) {
        if (!probe.mpls.empty() && (labels == nullptr || !(*labels == probe.mpls))) {
            line += MplsLines(probe.mpls);
            labels = &probe.mpls;
        }
    }
    return line;
}

std::string HopFlowsLine(std::int64_t hop, const std::vector<HopProbe>& probes, std::size_t perFlow)
{
    const std::size_t flows = perFlow == 0 ? 0 : probes.size() / perFlow;
    const auto flowAt = [&probes, perFlow](std::size_t flow) {
        const auto first = probes.begin() + static_cast<std::ptrdiff_t>(flow * perFlow);
        return std::vector<HopProbe>(first, first + static_cast<std::ptrdiff_t>(perFlow));
    };
    const auto responders = [&probes, perFlow](std::size_t flow) {
        std::vector<std::optional<std::string>> seen;
        for (std::size_t i = flow * perFlow; i < (flow + 1) * perFlow; ++i) {
            seen.push_back(probes[i].address);
        }
        return seen;
    };
    // Each distinct set of responders, in the order of the first flow that saw it.
    std::vector<std::pair<std::size_t, std::vector<std::size_t>>> groups;
    for (std::size_t flow = 0; flow < flows; ++flow) {
        const auto same = std::find_if(groups.begin(), groups.end(), [&](const auto& group) {
            return responders(group.first) == responders(flow);
        });
        if (same == groups.end()) {
            groups.push_back({flow, {flow}});
        } else {
            same->second.push_back(flow);
        }
    }
    if (groups.size() <= 1) {
        const std::vector<HopProbe> first = flowAt(0);
        if (perFlow != 1 || first.front().address) {
            return HopProbesLine(hop, first);
        }
        char number[24];
        std::snprintf(number, sizeof number, "%3lld  ", static_cast<long long>(hop));
        return number + std::string(res::kNoResponse);
    }
    std::string line;
    std::string labels;
    for (const auto& [firstFlow, members] : groups) {
        std::vector<HopProbe> shown = flowAt(firstFlow);
        std::vector<HopProbe> bare = shown;
        for (HopProbe& probe : bare) {
            probe.mpls = {};
        }
        const std::string written = HopProbesLine(hop, bare);
        // After the first, without the hop's number ("%3lld" is three wide for any hop).
        line += line.empty() ? written : written.substr(3);
        std::string numbers;
        for (const std::size_t flow : members) {
            numbers += (numbers.empty() ? "" : ",") + std::to_string(flow + 1);
        }
        line += "  " + formatted(members.size() == 1 ? res::kHopFlowFormat : res::kHopFlowsFormat,
                                 numbers.c_str());
        labels += HopProbesLine(hop, shown).substr(written.size());
    }
    return line + labels;
}

std::string TraceEndLine(std::optional<std::int64_t> reachedAt)
{
    return reachedAt ? "Destination reached at hop " + std::to_string(*reachedAt)
                     : std::string("Destination not reached");
}

int AddressColumnWidth(std::string_view destination, int ipv4Width)
{
    // "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff" and the blank after it.
    constexpr int kIpv6Width = 40;
    if (destination.find(':') == std::string_view::npos) {
        return ipv4Width;
    }
    return std::max({ipv4Width, kIpv6Width, static_cast<int>(destination.size()) + 1});
}

std::string PingHeader(const PingColumns& columns)
{
    return pingColumns(columns, "Seq", res::kReplyColumnIp, res::kReplyColumnTime,
                       res::kReplyColumnTtl, columns.bytes ? res::kReplyColumnBytes : "");
}

bool IsLocalError(const ProbeResult& result)
{
    return result.m_address == nullptr && result.m_reply->status == kIpPacketTooBig;
}

std::string PingErrorText(const ProbeResult& result)
{
    if (IsLocalError(result)) {
        return formatted(res::kPingLocalTooBigFormat, result.m_mtu);
    }
    if (result.m_address == nullptr || result.m_reply->status == kIpSuccess) {
        return {};
    }
    return reportText(result);
}

std::string PingRow(std::int64_t seq, const ProbeResult& result, const PingColumns& columns)
{
    const std::string number = std::to_string(seq);
    if (IsLocalError(result)) {
        return PingErrorText(result);
    }
    if (result.m_address == nullptr) {
        return columns.noAnswerYet
                   ? formatted(res::kPingNoAnswerYetFormat, static_cast<long long>(seq))
                   : pingColumns(columns, number, res::kNoResponse, "", "");
    }
    if (result.m_reply->status != kIpSuccess) {
        return formatted(res::kPingReportFormat, result.m_address, static_cast<long long>(seq),
                         PingErrorText(result).c_str());
    }
    // As ping counts them: the ICMP header and the data that came back.
    const std::string bytes =
        columns.bytes ? std::to_string(kIcmpHeaderSize + result.m_reply->dataSize) : "";
    return pingColumns(columns, number, result.m_address, RoundTripText(result.m_roundTripMicros),
                       std::to_string(result.m_reply->options.ttl), bytes);
}

void PingStatistics::add(const ProbeResult& result)
{
    ++m_transmitted;
    if (IsLocalError(result)) {
        ++m_errors;
        return;
    }
    if (result.m_address == nullptr) {
        return;
    }
    if (result.m_reply->status != kIpSuccess) {
        ++m_errors;
        return;
    }
    m_replies.add(result.m_roundTripMicros);
}

double PingStatistics::lossPercent() const
{
    if (m_transmitted == 0) {
        return 0;
    }
    return static_cast<double>(m_transmitted - m_replies.count) * 100.0 /
           static_cast<double>(m_transmitted);
}

std::string PingSummaryText(std::string_view host, const PingStatistics& statistics,
                            std::int64_t elapsedMs)
{
    char counts[160];
    std::string errors;
    if (statistics.errors() != 0) {
        errors = ", +" + std::to_string(statistics.errors()) + " errors";
    }
    std::snprintf(counts, sizeof counts,
                  "%lld packets transmitted, %lld received%s, %g%% packet loss, time %lldms\n",
                  static_cast<long long>(statistics.transmitted()),
                  static_cast<long long>(statistics.received()), errors.c_str(),
                  statistics.lossPercent(), static_cast<long long>(elapsedMs));
    std::string text = "--- " + std::string(host) + " ping statistics ---\n" + counts;
    if (statistics.received() != 0) {
        text += "rtt min/avg/max/mdev = " + millis(statistics.minMicros()) + "/" +
                millis(statistics.avgMicros()) + "/" + millis(statistics.maxMicros()) + "/" +
                millis(statistics.mdevMicros()) + " ms\n";
    }
    return text;
}

std::string UnixTimePrefix(WallTime time)
{
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    char text[48];
    std::snprintf(text, sizeof text, "[%lld.%06lld] ", static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    return text;
}

namespace {

// What a hop and a ping trial have in common: the responder and its reply, nulls without one.
void addReply(nlohmann::ordered_json& event, const ProbeResult& result)
{
    const bool answered = result.m_address != nullptr;
    event["address"] = textOrNull(result.m_address);
    event["rtt_us"] = answered ? nlohmann::ordered_json(result.m_roundTripMicros) : nullptr;
    event["ttl"] = answered ? nlohmann::ordered_json(result.m_reply->options.ttl) : nullptr;
    event["status"] = result.m_reply->status;
}

} // namespace

nlohmann::ordered_json HopEvent(WallTime time, std::int64_t hop, const ProbeResult& result,
                                std::int64_t probe)
{
    nlohmann::ordered_json event = JsonEvent("hop", time);
    event["hop"] = hop;
    if (probe != 0) {
        event["probe"] = probe;
    }
    addReply(event, result);
    event["name"] = textOrNull(result.m_name);
    if (result.m_mtu != 0) {
        event["mtu"] = result.m_mtu;
    }
    if (!result.m_mpls.empty()) {
        event["mpls"] = MplsJson(result.m_mpls);
    }
    return event;
}

nlohmann::ordered_json EchoEvent(WallTime time, std::int64_t seq, const ProbeResult& result,
                                 bool bytes)
{
    nlohmann::ordered_json event = JsonEvent("echo", time);
    event["seq"] = seq;
    addReply(event, result);
    if (const std::string error = PingErrorText(result); !error.empty()) {
        event["error"] = error;
    } else if (bytes && result.m_address != nullptr) {
        event["bytes"] = kIcmpHeaderSize + result.m_reply->dataSize;
    }
    if (result.m_mtu != 0) {
        event["mtu"] = result.m_mtu;
    }
    return event;
}

nlohmann::ordered_json ErrorEvent(WallTime time, std::string_view code, std::string_view message,
                                  int exitCode)
{
    nlohmann::ordered_json event = JsonEvent("error", time);
    event["code"] = code;
    // The message may quote what was typed, which need not be UTF-8; JSON must be.
    std::string valid;
    for (std::size_t pos = 0; pos < message.size();) {
        const std::size_t from = pos;
        char32_t point = 0;
        if (DecodeUtf8(message, pos, point)) {
            valid.append(message.substr(from, pos - from));
        } else {
            valid += "\uFFFD";
            ++pos;
        }
    }
    event["message"] = valid;
    event["exit_code"] = exitCode;
    return event;
}

nlohmann::ordered_json PingSummaryFields(const PingStatistics& statistics, std::int64_t elapsedMs)
{
    const bool any = statistics.received() != 0;
    const auto micros = [any](double value) {
        return any ? nlohmann::ordered_json(std::llround(value)) : nlohmann::ordered_json(nullptr);
    };
    return {{"transmitted", statistics.transmitted()},
            {"received", statistics.received()},
            {"errors", statistics.errors()},
            {"loss_percent", statistics.lossPercent()},
            {"time_ms", elapsedMs},
            {"rtt_min_us", micros(statistics.minMicros())},
            {"rtt_avg_us", micros(statistics.avgMicros())},
            {"rtt_max_us", micros(statistics.maxMicros())},
            {"rtt_mdev_us", micros(statistics.mdevMicros())}};
}

} // namespace hopwise::cli
