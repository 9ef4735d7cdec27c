#pragma once

// How the workers' notifications read on a console: text lines in the manner of ping and
// traceroute, with the pages' own words, and JSON objects for scripts.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "monitor/report_json.h"
#include "run/probe_messages.h"
#include "run/round_trip_tally.h"

namespace hopwise::cli {

enum class ProbeKind { Trace, Ping, Report };

using hopwise::DestinationEvent;
using hopwise::JsonEvent;
using hopwise::kJsonSchemaVersion;
using hopwise::MplsJson;
using hopwise::Rfc3339;
using hopwise::WallTime;

// A round trip in milliseconds with three decimals: "0.042 ms".
std::string RoundTripText(std::uint32_t micros);

// One hop: "  1  10.77.1.1  0.051 ms", the name after the time when there is one, and
// "  4  No Response" for a hop that got no answer; a router's labels follow (MplsLines).
std::string HopLine(std::int64_t hop, const ProbeResult& result);
// One of a hop's probes, copied out of its notice (whose texts live only until the next).
struct HopProbe {
    std::optional<std::string> address; // none: no answer
    std::uint32_t roundTripMicros = 0;
    std::optional<std::string> name;
    std::uint32_t mtu = 0; // trace --mtu: the path's MTU past the hop, shown at the line's end
    MplsLabels mpls{};
};
HopProbe HopProbeOf(const ProbeResult& result);
// An entry of a router's label stack: "     [MPLS: Lbl 24001 TC 0 S 1 TTL 1]".
std::string MplsLine(const MplsLabelEntry& entry);
// Each entry's line after a line break, to go under its hop; empty without labels.
std::string MplsLines(const MplsLabels& labels);

// A hop probed more than once, as traceroute shows it: "  3  10.0.0.3  0.412 ms  0.390 ms  *".
// A responder is written before the first time it gave, its name (when there is one) after that
// time, as on a hop's line; "*" stands for a probe without an answer. Under it come the labels
// of each probe whose differ from those written before.
std::string HopProbesLine(std::int64_t hop, const std::vector<HopProbe>& probes);

// A hop of a trace of several flows, its probes flow after flow (perFlow each). Flows that all
// saw the same responders read as the first flow's alone would; else each distinct set of
// responders is written once, as HopProbesLine writes a hop's probes, followed by the flows that
// saw it: "  2  10.1.1.2  0.412 ms  (flows 1,3)  10.1.2.2  0.390 ms  (flows 2,4)".
std::string HopFlowsLine(std::int64_t hop, const std::vector<HopProbe>& probes,
                         std::size_t perFlow);

// The trace's last line.
std::string TraceEndLine(std::optional<std::int64_t> reachedAt);

// How wide a column of responders' addresses is in a run to this destination (its text form):
// as wide as IPv4 output has always been for an IPv4 destination, so that every run has one
// width from its first line to its last; for an IPv6 one wide enough for any IPv6 address
// without a zone, and for the destination's own (a responder is mostly the destination itself or
// a router of its family, and a zone is the destination's interface).
int AddressColumnWidth(std::string_view destination, int ipv4Width);

// The ping list's IP column for an IPv4 destination; AddressColumnWidth gives it for the others.
inline constexpr int kPingAddressWidth = 16;

// How a ping run's list reads: the IP column's width, and what hopwise-cli's options add.
struct PingColumns {
    int addressWidth = kPingAddressWidth;
    bool bytes = false;       // -s: a last column with the bytes each reply brought
    bool noAnswerYet = false; // -O: an unanswered request reads as ping's "no answer yet" line
};

// The ping list's columns, and one row per trial: "1     10.9.9.9         0.042 ms    61", or
// "No Response" after the sequence number. A router's report or a local error about the request
// reads as ping's line: "From 10.0.0.1 icmp_seq=1 Time to live exceeded".
std::string PingHeader(const PingColumns& columns);
std::string PingRow(std::int64_t seq, const ProbeResult& result, const PingColumns& columns);

// What a router's report or a local error about a request says, in ping's words ("Time to live
// exceeded", "local error: message too long, mtu=1500"); empty for a reply and for silence.
std::string PingErrorText(const ProbeResult& result);

// A local error: the request was too large to leave (no responder, status kIpPacketTooBig).
bool IsLocalError(const ProbeResult& result);

// The ping run's counts and round trips so far, as iputils ping's summary reports them: an echo
// reply is received, any other answer (a router's report) and a local error are errors, and only
// echo replies' round trips count.
class PingStatistics {
public:
    void add(const ProbeResult& result);

    std::int64_t transmitted() const { return m_transmitted; }
    std::int64_t received() const { return m_replies.count; }
    std::int64_t errors() const { return m_errors; }
    double lossPercent() const;
    // Round trips in microseconds; meaningful only when received() > 0.
    std::uint32_t minMicros() const { return m_replies.best; }
    std::uint32_t maxMicros() const { return m_replies.worst; }
    double avgMicros() const { return m_replies.mean(); }
    double mdevMicros() const { return m_replies.populationDeviation(); }

private:
    std::int64_t m_transmitted = 0;
    std::int64_t m_errors = 0;
    RoundTripTally m_replies;
};

// "--- HOST ping statistics ---", the counts line and, after a reply, the rtt line.
std::string PingSummaryText(std::string_view host, const PingStatistics& statistics,
                            std::int64_t elapsedMs);

// ping -D's prefix: "[1733600000.123456] ", seconds and microseconds since 1970.
std::string UnixTimePrefix(WallTime time);

// One JSON object per line, each begun by JsonEvent (monitor/report_json.h).
// probe: the probe's place among its hop's (from 1) when a hop has more than one; 0 leaves it out.
// A router's labels come as "mpls" (MplsJson) last, only when there are any.
nlohmann::ordered_json HopEvent(WallTime time, std::int64_t hop, const ProbeResult& result,
                                std::int64_t probe = 0);
// With bytes (-s), a reply's "bytes"; a report or a local error adds "error" (PingErrorText) and,
// where it names one, "mtu".
nlohmann::ordered_json EchoEvent(WallTime time, std::int64_t seq, const ProbeResult& result,
                                 bool bytes = false);
nlohmann::ordered_json ErrorEvent(WallTime time, std::string_view code, std::string_view message,
                                  int exitCode);
// The counts and round trips of a ping summary object (rtt fields null before any reply).
nlohmann::ordered_json PingSummaryFields(const PingStatistics& statistics, std::int64_t elapsedMs);

} // namespace hopwise::cli
